#include "StationConnection.h"

#include "StationMemory.h"
#include "StationRam.h"

namespace {

// Where a byte of the block lies in the settings read (0xC002..0xC021).
constexpr int settingsIndex(int offset) { return offset - kSettingsOffset; }

constexpr std::uint8_t kRangeCodes = 5;
constexpr std::uint8_t kRangeMap[kRangeCodes] = {0, 1, 2, 1, 1};

}  // namespace

StationConnection::StationConnection() = default;

bool StationConnection::open(const std::wstring& portPath) {
    portPath_ = portPath;
    return open();
}

bool StationConnection::open() {
    if (isOpen_) return true;   // the open port stays, whatever the path now says
    link_.setPort(&port_);
    if (portPath_.empty()) return false;
    if (!port_.open(portPath_, kBaudRate)) return false;
    port_.setReadTimeout(line::kReadTimeoutMs);
    isOpen_ = true;
    return true;
}

void StationConnection::close() {
    port_.close();
    isOpen_ = false;
}

namespace {

// Repeats `exchange` until it answers true, at most `attempts` times. The
// last attempt's failure (a thrown code) goes on to the caller; kNoReply when no
// attempt brought an intact answer.
template <class Exchange>
void untilAnswered(int attempts, Exchange exchange) {
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        try {
            if (exchange()) return;
            // An intact reply without data: try again.
        } catch (int code) {
            // A lost port answers no retry.
            if (attempt == attempts || code == link_codes::kPortLost) throw;
            // Retried at once; the link first drains what the failed
            // attempt may still bring.
        }
    }
    throw link_codes::kNoReply;
}

}  // namespace

int StationConnection::readWithRetry(std::uint32_t address, MemoryKind kind, int count, std::uint8_t* dest,
                                     int attempts) {
    untilAnswered(attempts, [&] { return link_.readMemory(address, kind, count, dest); });
    return count;
}

bool StationConnection::writeWithRetry(std::uint32_t address, MemoryKind kind, int count, const std::uint8_t* src,
                                       int attempts) {
    untilAnswered(attempts, [&] { return link_.writeMemory(address, kind, count, src); });
    return true;
}

int StationConnection::readRam16(std::uint32_t address, int count, std::uint8_t* dest, int attempts) {
    return readWithRetry(address, MemoryKind::Ram16, count, dest, attempts);
}
int StationConnection::readRam24(std::uint32_t address, int count, std::uint8_t* dest, int attempts) {
    return readWithRetry(address, MemoryKind::Ram24, count, dest, attempts);
}
int StationConnection::readRom16(std::uint32_t address, int count, std::uint8_t* dest, int attempts) {
    return readWithRetry(address, MemoryKind::Rom16, count, dest, attempts);
}
int StationConnection::readRom24(std::uint32_t address, int count, std::uint8_t* dest, int attempts) {
    return readWithRetry(address, MemoryKind::Rom24, count, dest, attempts);
}
bool StationConnection::writeRam16(std::uint32_t address, int count, const std::uint8_t* src, int attempts) {
    return writeWithRetry(address, MemoryKind::Ram16, count, src, attempts);
}
bool StationConnection::writeRom16(std::uint32_t address, int count, const std::uint8_t* src, int attempts) {
    return writeWithRetry(address, MemoryKind::Rom16, count, src, attempts);
}
bool StationConnection::writeRom24(std::uint32_t address, int count, const std::uint8_t* src, int attempts) {
    return writeWithRetry(address, MemoryKind::Rom24, count, src, attempts);
}

int StationConnection::readParamBlock(int offset, int count, std::uint8_t* dest) {
    return readRom16(paramAddress(offset), count, dest, 1);
}

StationPlace StationConnection::readPlace(int attempts) {
    using namespace station_ram;
    StationPlace place;
    std::uint8_t buf[kRouteRowBytes] = {};
    readRam16(kStatusByte, 2, buf, attempts);
    place.statusByte = buf[0];
    readRam16(kAttachFlags, 2, buf, attempts);
    place.attached = station_place::attachedFromFlags(buf[0]);
    readRam16(kParentAddress, 2, buf, attempts);
    place.parent = static_cast<std::uint16_t>(buf[0] | (buf[1] << 8));
    // The link quality is in the parent's row of the station's own route table.
    readRam24(routeRowAddress(place.parent), kRouteRowBytes, buf, attempts);
    place.link = station_place::linkFromRouteRow(buf);
    readRam16(kLevelBlock, 4, buf, attempts);
    place.signal = station_place::signalFromLevel(buf[2]);
    return place;
}

int StationConnection::identifyStation() {
    std::uint8_t head[kSettingsSize];
    readRom16(paramAddress(kSettingsOffset), kSettingsSize, head, 1);

    const std::uint8_t rangeCode = head[settingsIndex(kRangeCodeOffset)];
    settings_.system_cod = head[settingsIndex(kSystemCodeOffset)];
    settings_.freq_range = rangeCode < kRangeCodes ? kRangeMap[rangeCode] : rangeCode;
    settings_.ch_count = head[settingsIndex(kChannelCountOffset)];
    for (std::size_t i = 0; i < settings_.channel.size(); ++i)
        settings_.channel[i] = paramWordAt(head, settingsIndex(kChannelTableOffset) + 2 * static_cast<int>(i));

    for (std::size_t k = 0; k < settings_.ch_delta.size(); ++k) {
        std::uint8_t pair[2];
        readRom16(fineOffsetPairAddress(static_cast<int>(k)), 2, pair, 4);
        settings_.ch_delta[k] = pair[1];
    }

    std::uint8_t ram[2];
    readRam16(station_ram::kVersion, 2, ram, line::kAttempts);
    const std::uint8_t version = ram[0];
    const std::uint8_t bandType = ram[1];
    settings_.band_type = bandType;

    if (version == 0) throw link_codes::kVersionZero;
    // A range code outside the known five fits no band type.
    if (rangeCode >= kRangeCodes) throw link_codes::kBandMismatch;
    if (settings_.freq_range == 1) {
        if (bandType == 3)
            settings_.freq_subrange = 0;
        else if (bandType == 4)
            settings_.freq_subrange = 1;
        else
            throw link_codes::kBandMismatch;
    } else if (bandType != settings_.freq_range) {
        throw link_codes::kBandMismatch;
    }
    return version;
}

bool StationConnection::sendRestart() { return link_.sendRestart(); }
bool StationConnection::settleLine() { return link_.settleLine(); }
bool StationConnection::setClock() { return link_.setClock(); }
bool StationConnection::command30() { return link_.command30(); }
int StationConnection::commandF1(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return link_.commandF1(a, b, c, d);
}
int StationConnection::commandF2() { return link_.commandF2(); }
