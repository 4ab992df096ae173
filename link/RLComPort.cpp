#include "RLComPort.h"

#include <cstring>

#include "LineFacts.h"

namespace {

constexpr std::uint16_t kNoCursor = 0xFFFF;

struct RecordForm {
    std::uint8_t command;
    int recordBytes;   // what the caller gets
    int fullReply;     // four leading bytes, the record, two trailing
    int argBytes;      // cursor high, cursor low [, 0x00]
};

// The station keeps its records in a ring of 256 positions that the caller's
// cursor walks. With no position yet (0xFFFF) the station is asked for one.
// `exchange` sends one request and returns the reply's data length.
template <typename Exchange>
int readRecord(Exchange exchange, const RecordForm& form, std::uint16_t& cursor, std::uint8_t* dest) {
    std::uint8_t data[link_limits::kMaxLen];
    if (cursor == kNoCursor) {
        const int len = exchange(form.command, nullptr, 0, data);
        // A single byte would leave the low half of the position off the line.
        if (len >= 2) cursor = static_cast<std::uint16_t>(data[0] * 256 + data[1]);
        return 0;
    }

    const std::uint8_t args[3] = {static_cast<std::uint8_t>(cursor >> 8), static_cast<std::uint8_t>(cursor), 0x00};
    const int len = exchange(form.command, args, form.argBytes, data);
    if (len == form.fullReply) {
        std::memcpy(dest, data + 4, static_cast<std::size_t>(form.recordBytes));
        cursor = static_cast<std::uint16_t>(cursor + 1 == 256 ? 0 : cursor + 1);
        return form.recordBytes;
    }
    // Four bytes: the station moved us to another position.
    if (len == 4) cursor = static_cast<std::uint16_t>(data[2] * 256 + data[3]);
    return 0;
}

}  // namespace

int RLComPort::readRecord20(std::uint16_t& cursor, std::uint8_t* dest20) {
    auto exchange = [this](std::uint8_t command, const std::uint8_t* args, int argCount, std::uint8_t* data) {
        sendFrame(command, args, argCount);
        return receiveReply(data, link_limits::kMaxLen);
    };
    return readRecord(exchange, RecordForm{line::command::kRecord20, 20, 26, 2}, cursor, dest20);
}

int RLComPort::readRecord32(std::uint16_t& cursor, std::uint8_t* dest32) {
    auto exchange = [this](std::uint8_t command, const std::uint8_t* args, int argCount, std::uint8_t* data) {
        sendFrame(command, args, argCount);
        return receiveReply(data, link_limits::kMaxLen);
    };
    return readRecord(exchange, RecordForm{line::command::kRecord32, 32, 38, 3}, cursor, dest32);
}

bool RLComPort::sendData(const std::uint8_t* src, int count) {
    // The request frame is sized for 95 data bytes.
    if (count < 0 || count > link_limits::kMaxSendData) throw link_codes::kNoReply;
    exchangeDropping(line::command::kSendData, src, count);
    return true;
}
