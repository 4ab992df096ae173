#include "Responder.h"

#include <algorithm>

#include "StationProtocol.h"
#include "StationRam.h"

namespace sim {

namespace {

using namespace protocol;
using station_ram::kBandType;
using station_ram::kVersion;
constexpr std::size_t kMaxData = 255;

// What one command did, before faults shape the frame.
struct Answer {
    std::uint8_t status = kStatusDone;
    std::vector<std::uint8_t> data;
    bool wrote = false;
    bool restart = false;
    bool silent = false;
};

// How faults reach into the command itself.
struct Execution {
    bool storeWrites = true;
    int readLength = -1;   // >= 0: a read answers with this many bytes instead
    std::uint32_t readShift = 0;   // a read answers with the bytes this much further on
};

bool inside(const std::vector<std::uint8_t>& space, std::uint32_t address, std::uint32_t count) {
    return address <= space.size() && count <= space.size() - address;
}

Answer refuse(std::uint8_t status) {
    Answer a;
    a.status = status;
    return a;
}

Answer readFrom(const std::vector<std::uint8_t>& space, std::uint32_t address, std::uint32_t count,
                const Execution& how) {
    if (!inside(space, address, count)) return refuse(kStatusOutOfRange);
    Answer a;
    const std::uint32_t length = how.readLength >= 0 ? static_cast<std::uint32_t>(how.readLength) : count;
    a.data.assign(length, 0);
    // A fault may ask for more than the range holds: what lies beyond reads as zero.
    const std::uint32_t from = address + how.readShift;
    for (std::uint32_t i = 0; i < length && inside(space, from, i + 1); ++i) a.data[i] = space[from + i];
    return a;
}

Answer writeTo(std::vector<std::uint8_t>& space, std::uint32_t address, const std::uint8_t* data,
               std::uint32_t count, const Execution& how) {
    if (!inside(space, address, count)) return refuse(kStatusOutOfRange);
    Answer a;
    if (how.storeWrites && count > 0) {
        std::copy(data, data + count, space.begin() + address);
        a.wrote = true;
    }
    return a;
}

// Record readers (0x24: 20-byte records, 0x21: 32-byte records). Without
// arguments the station names its current position; with a position it
// sends the record there, framed by a 4-byte head and 2 trailing bytes, or
// only the 4-byte head with its own position when that record does not exist.
Answer readRecord(const std::uint8_t* args, std::size_t len, std::size_t cursorArgs, std::size_t recordSize,
                  const StationModel& m) {
    Answer a;
    if (len == 0) {
        a.data = {static_cast<std::uint8_t>(m.recordCursor >> 8), static_cast<std::uint8_t>(m.recordCursor & 0xFF)};
        return a;
    }
    if (len != cursorArgs) return refuse(kStatusBadArguments);
    const int cursor = (args[0] << 8) | args[1];
    if (cursor > 255 || cursor >= m.recordCount) {
        a.data = {0, 0, static_cast<std::uint8_t>(m.recordCursor >> 8),
                  static_cast<std::uint8_t>(m.recordCursor & 0xFF)};
        return a;
    }
    a.data.assign(4 + recordSize + 2, 0);
    a.data[0] = args[0];
    a.data[1] = args[1];
    for (std::size_t j = 0; j < recordSize; ++j) a.data[4 + j] = static_cast<std::uint8_t>(cursor + j);
    return a;
}

// Reads: 16-bit address high byte first, 24-bit low byte first; bit 7 of
// the count marks RAM.
Answer executeRead(std::uint8_t command, const std::uint8_t* args, std::size_t len, StationModel& m,
                   const Execution& how) {
    switch (command) {
    case kRead16: {   // read, 16-bit address high byte first; count bit 7 marks RAM
        if (len != 3) return refuse(kStatusBadArguments);
        const std::uint32_t address = (static_cast<std::uint32_t>(args[0]) << 8) | args[1];
        if (args[2] & kRamMark) return readFrom(m.ram, address, args[2] & 0x7Fu, how);
        return readFrom(m.rom, address, args[2], how);
    }
    case kRead24: {   // read, 24-bit address low byte first
        if (len != 4) return refuse(kStatusBadArguments);
        const std::uint32_t address = args[0] | (static_cast<std::uint32_t>(args[1]) << 8) |
                                      (static_cast<std::uint32_t>(args[2]) << 16);
        if (args[3] & kRamMark) return readFrom(m.ram, address, args[3] & 0x7Fu, how);
        return readFrom(m.rom, address, args[3], how);
    }
    default:
        return refuse(kStatusUnknownCommand);
    }
}

// Writes: 16-bit (ROM or RAM) and 24-bit ROM.
Answer executeWrite(std::uint8_t command, const std::uint8_t* args, std::size_t len, StationModel& m,
                    const Execution& how) {
    switch (command) {
    case kWrite16: {   // write, 16-bit address; 0x00 marks ROM, count | 0x80 marks RAM
        if (len < 3) return refuse(kStatusBadArguments);
        const std::uint32_t address = (static_cast<std::uint32_t>(args[0]) << 8) | args[1];
        const auto count = static_cast<std::uint32_t>(len - 3);
        if (args[2] == 0x00) return writeTo(m.rom, address, args + 3, count, how);
        if ((args[2] & kRamMark) && (args[2] & 0x7Fu) == count) return writeTo(m.ram, address, args + 3, count, how);
        return refuse(kStatusBadArguments);
    }
    case kWriteRom24: {   // write ROM, 24-bit address low byte first, then the count
        if (len < 4 || args[3] != len - 4) return refuse(kStatusBadArguments);
        const std::uint32_t address = args[0] | (static_cast<std::uint32_t>(args[1]) << 8) |
                                      (static_cast<std::uint32_t>(args[2]) << 16);
        return writeTo(m.rom, address, args + 4, args[3], how);
    }
    default:
        return refuse(kStatusUnknownCommand);
    }
}

// Everything but the memory commands.
Answer executeControl(std::uint8_t command, const std::uint8_t* args, std::size_t len, StationModel& m) {
    switch (command) {
    case kRestart: {   // restart: the station goes away without a word
        Answer a;
        a.restart = true;
        a.silent = true;
        return a;
    }
    case kSetClock: {   // set clock: year-2010, month-1, day-1, hour, minute, second
        if (len != 6) return refuse(kStatusBadArguments);
        std::copy(args, args + 6, m.clock.begin());
        m.clockSet = true;
        return {};
    }
    case kCommand30:
        return {};
    case kQuery07: {   // identity query: version, band type, own address
        Answer a;
        const std::uint16_t address = m.rom16(paramAddress(kAddressOffset));
        a.data = {m.ram.size() > kBandType ? m.ram[kVersion] : std::uint8_t{0},
                  m.ram.size() > kBandType ? m.ram[kBandType] : std::uint8_t{0},
                  static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)};
        return a;
    }
    case kCommandF1: {   // four parameter bytes, acknowledged by sending them back
        if (len != 4) return refuse(kStatusBadArguments);
        Answer a;
        a.data.assign(args, args + 4);
        return a;
    }
    case kCommandF2: {   // state query: version byte and restart count
        Answer a;
        a.data = {m.ram.size() > kVersion ? m.ram[kVersion] : std::uint8_t{0},
                  static_cast<std::uint8_t>(m.restarts & 0xFF)};
        return a;
    }
    case kSendData:    // raw data for the radio side; the station keeps the last payload
        m.lastData.assign(args, args + len);
        return {};
    case kRecord20:
        return readRecord(args, len, 2, 20, m);
    case kRecord32:
        if (len == 3 && args[2] != 0x00) return refuse(kStatusBadArguments);
        return readRecord(args, len, 3, 32, m);
    default:
        return refuse(kStatusUnknownCommand);
    }
}

Answer execute(std::uint8_t command, const std::uint8_t* args, std::size_t len, StationModel& m,
               const Execution& how) {
    switch (command) {
    case kRead16:
    case kRead24:
        return executeRead(command, args, len, m, how);
    case kWrite16:
    case kWriteRom24:
        return executeWrite(command, args, len, m, how);
    default:
        return executeControl(command, args, len, m);
    }
}

bool isRead(std::uint8_t command) { return command == kRead16 || command == kRead24; }

std::vector<std::uint8_t> frameOf(const Answer& a, const Fault& fault) {
    std::vector<std::uint8_t> data = a.data;
    if (fault.kind == Fault::Kind::WrongDataLength && a.status == kStatusDone)
        data.resize(static_cast<std::size_t>(std::clamp(fault.dataLength, 0, 255)), 0);
    if (data.size() > kMaxData) data.resize(kMaxData);
    std::size_t lengthByte = data.size();
    if (fault.kind == Fault::Kind::OversizedLength) {
        // The length byte promises more than follows.
        lengthByte = fault.dataLength > 0 ? static_cast<std::size_t>(std::min(fault.dataLength, 255)) : kMaxData;
        if (lengthByte <= data.size()) lengthByte = std::min(data.size() + 1, kMaxData);
        if (lengthByte <= data.size()) data.resize(lengthByte - 1);
    }
    std::vector<std::uint8_t> frame;
    frame.reserve(data.size() + 5);
    frame.push_back(kReplyStart);
    frame.push_back(static_cast<std::uint8_t>(lengthByte));
    frame.push_back(a.status);
    frame.insert(frame.end(), data.begin(), data.end());
    const std::uint16_t crc = frameCrc(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    if (fault.kind == Fault::Kind::BadCrc) frame.back() ^= 0x01;
    return frame;
}

}  // namespace

std::vector<std::uint8_t> Response::allBytes() const {
    std::vector<std::uint8_t> all;
    for (const auto& s : segments) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
}

std::uint16_t frameCrc(const std::uint8_t* bytes, std::size_t length) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<std::uint8_t> makeRequest(std::uint8_t command, const std::vector<std::uint8_t>& args) {
    std::vector<std::uint8_t> frame{kRequestStart, static_cast<std::uint8_t>(std::min<std::size_t>(args.size(), 255)),
                                    command};
    frame.insert(frame.end(), args.begin(), args.begin() + frame[1]);
    const std::uint16_t crc = frameCrc(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return frame;
}

std::vector<std::uint8_t> makeReply(std::uint8_t status, const std::vector<std::uint8_t>& data) {
    Answer a;
    a.status = status;
    a.data = data;
    return frameOf(a, Fault{});
}

bool isValidRequest(const std::uint8_t* frame, std::size_t length) {
    if (!frame || length < 5 || frame[0] != kRequestStart || length != frame[1] + 5u) return false;
    const std::uint16_t crc = frameCrc(frame, length - 2);
    return frame[length - 2] == (crc >> 8) && frame[length - 1] == (crc & 0xFF);
}

namespace {

// What the station does with a request under `fault`, before the fault
// shapes the reply on the line.
Answer answerTo(const std::uint8_t* frame, StationModel& model, const Fault& fault) {
    const std::uint8_t command = frame[2];
    const std::uint8_t* args = frame + 3;
    const std::size_t len = frame[1];
    if (fault.kind == Fault::Kind::Status && command != kRestart)
        return refuse(fault.status == kStatusDone ? std::uint8_t{1} : fault.status);   // refused: nothing done
    Execution how;
    how.storeWrites = fault.kind != Fault::Kind::IgnoreWrite;
    if (fault.kind == Fault::Kind::WrongDataLength && isRead(command)) how.readLength = std::clamp(fault.dataLength, 0, 255);
    if (fault.kind == Fault::Kind::StaleRead) how.readShift = static_cast<std::uint32_t>(fault.addressShift);
    return execute(command, args, len, model, how);
}

// The reply frame, after any line noise the fault puts before it.
std::vector<std::uint8_t> lineBytes(const Answer& a, const Fault& fault) {
    std::vector<std::uint8_t> bytes;
    if (fault.kind == Fault::Kind::GarbageBefore) {
        // Line noise: anything but the two start bytes.
        static constexpr std::uint8_t kNoise[] = {0x55, 0x00, 0xFF, 0x13, 0xA5, 0x7E, 0x80};
        for (int i = 0; i < std::clamp(fault.garbageBytes, 0, 255); ++i)
            bytes.push_back(kNoise[static_cast<std::size_t>(i) % sizeof kNoise]);
    }
    const std::vector<std::uint8_t> reply = frameOf(a, fault);
    bytes.insert(bytes.end(), reply.begin(), reply.end());
    return bytes;
}

// `bytes` as the line delivers them: in pieces, late, or at once.
void appendSegments(Response& r, std::vector<std::uint8_t> bytes, const Fault& fault) {
    if (fault.kind == Fault::Kind::Pieces) {
        const std::size_t piece = static_cast<std::size_t>(std::max(1, fault.pieceBytes));
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            ReplySegment s;
            s.delayMs = at == 0 ? 0 : std::max(0, fault.gapMs);
            s.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + piece)));
            r.segments.push_back(std::move(s));
        }
        return;
    }
    ReplySegment s;
    s.delayMs = fault.kind == Fault::Kind::Delay  ? std::max(0, fault.delayMs)
                : fault.kind == Fault::Kind::Echo ? std::max(0, fault.gapMs)
                                                  : 0;
    s.bytes = std::move(bytes);
    r.segments.push_back(std::move(s));
}

}  // namespace

Response respond(const std::uint8_t* frame, std::size_t length, StationModel& model, const Fault& fault) {
    Response r;
    if (!isValidRequest(frame, length)) return r;   // a damaged request is never answered
    // Swallowed: nothing happens (a line that hangs up answers nothing either).
    if (fault.kind == Fault::Kind::NoReply || fault.kind == Fault::Kind::HangUp) return r;

    const Answer a = answerTo(frame, model, fault);
    r.wroteMemory = a.wrote;
    if (a.restart) {
        ++model.restarts;
        r.restarted = true;
    }
    if (a.silent) return r;

    if (fault.kind == Fault::Kind::Echo) {
        // A line that echoes hands the request back at once; the station's
        // reply follows once it has worked on it, so the two arrive apart.
        ReplySegment echo;
        echo.bytes.assign(frame, frame + length);
        r.segments.push_back(std::move(echo));
    }
    appendSegments(r, lineBytes(a, fault), fault);
    return r;
}

}  // namespace sim
