#include "RLComBase.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Deadline.h"
#include "LineFacts.h"
#include "Platform.h"
#include "SerialPort.h"

namespace {

using line::kRamMark;
using line::kReplyStart;
using line::kRequestStart;
constexpr std::uint32_t kEchoPauseMs = 50;

// The transport waits line::kReadMsPerByte (100 ms) per byte asked for beyond
// its constant, so a one-byte read with no constant ends after 100 ms of
// silence: more than the 45 ms the longest frame (260 bytes of 10 bits at
// line::kBaud) is on the line.
using line::kReadMsPerByte;
constexpr std::uint32_t kLongestFrameMs = 50;
// A line that never falls quiet (a babbling station) is given up on after this.
constexpr std::uint32_t kMostSettleMs = 2000;

// Longest the rest of one reply may take to trickle in, piece by piece: a
// station that drips single bytes just inside each read's time-out would
// otherwise hold the worker thread for minutes.
std::chrono::milliseconds bodyDeadline(int bytes) { return std::chrono::milliseconds(2000 + kReadMsPerByte * bytes); }

bool isSixteenBit(MemoryKind kind) { return kind == MemoryKind::Ram16 || kind == MemoryKind::Rom16; }
bool isRam(MemoryKind kind) { return kind == MemoryKind::Ram16 || kind == MemoryKind::Ram24; }
bool isKnownKind(MemoryKind kind) {
    return kind == MemoryKind::Ram16 || kind == MemoryKind::Ram24 || kind == MemoryKind::Rom16 ||
           kind == MemoryKind::Rom24;
}

// Address bytes as the station wants them: 16-bit high byte first, 24-bit
// low byte first. Returns the number of bytes written.
int putAddress(std::uint8_t* out, std::uint32_t address, bool sixteenBit) {
    if (sixteenBit) {
        out[0] = static_cast<std::uint8_t>(address >> 8);
        out[1] = static_cast<std::uint8_t>(address);
        return 2;
    }
    out[0] = static_cast<std::uint8_t>(address);
    out[1] = static_cast<std::uint8_t>(address >> 8);
    out[2] = static_cast<std::uint8_t>(address >> 16);
    return 3;
}

}  // namespace

RLComBase::RLComBase() : crc(0x11021) {}

bool RLComBase::setPort(SerialPort* p) {
    port = p;
    // A freshly opened port starts with both queues emptied.
    lineSuspect_ = false;
    afterFailure_ = false;
    lastRequestBytes_ = 0;
    return true;
}

bool RLComBase::sendFrame(std::uint8_t command, const std::uint8_t* args, int argCount) {
    if (!port || argCount < 0 || argCount > link_limits::kMaxLen) throw link_codes::kNoReply;
    if (lineSuspect_) settleLine();
    std::uint8_t frame[link_limits::kMaxFrame];
    frame[0] = kRequestStart;
    frame[1] = static_cast<std::uint8_t>(argCount);
    frame[2] = command;
    if (argCount > 0) std::memcpy(frame + link_limits::kHeaderBytes, args, static_cast<std::size_t>(argCount));
    const int length = link_limits::kHeaderBytes + argCount;
    crc.appendCrc(frame, static_cast<std::size_t>(length));
    // Callers that wait for a reply need not look at the result: a lost
    // request shows up as a missing reply.
    lastRequestBytes_ = length + link_limits::kCrcBytes;
    std::memcpy(lastRequest_, frame, static_cast<std::size_t>(lastRequestBytes_));
    const bool written = port->write(frame, lastRequestBytes_);
    lastSend_ = std::chrono::steady_clock::now();
    return written;
}

bool RLComBase::settleLine() {
    if (!port || !port->isOpen()) return false;
    using std::chrono::milliseconds;
    const std::uint32_t constant = port->readTimeout();
    // The station starts its reply within the header read's time-out of the
    // request and needs at most a whole frame's time to finish it.
    const Deadline windowEnds(milliseconds(constant + link_limits::kHeaderBytes * kReadMsPerByte + kLongestFrameMs),
                              lastSend_);
    const Deadline giveUp(milliseconds(kMostSettleMs), std::max(Deadline::Clock::now(), windowEnds.end()));
    lineSuspect_ = false;
    // The wire trace sees what is thrown away, but not every quiet read.
    const WireObserver observer = port->wireObserver();
    if (observer)
        port->setWireObserver([&observer](WireDirection d, const std::uint8_t* bytes, int count) {
            if (d != WireDirection::Timeout) observer(d, bytes, count);
        });
    port->setReadTimeout(0);
    bool quiet = false;
    std::uint8_t discarded = 0;
    while (!giveUp.expired()) {
        if (port->read(&discarded, 1) > 0) continue;   // still talking: drop it
        if (port->lost()) break;   // nothing will come, and a lost port answers at once: never spin
        if (windowEnds.expired()) {
            quiet = true;
            break;
        }
    }
    port->setReadTimeout(constant);
    port->setWireObserver(observer);
    return quiet;
}

int RLComBase::exchangeDropping(std::uint8_t command, const std::uint8_t* args, int argCount, int most) {
    std::uint8_t scratch[link_limits::kMaxLen];
    sendFrame(command, args, argCount);
    return receiveReply(scratch, most < 0 || most > link_limits::kMaxLen ? link_limits::kMaxLen : most);
}

void RLComBase::readRest(std::uint8_t* dest, int count) {
    const Deadline giveUp(bodyDeadline(count));
    int have = 0;
    while (have < count) {
        const int n = port->read(dest + have, count - have);
        throwIfLost();
        if (n <= 0) throw link_codes::kNoReply;   // the frame was cut short
        have += n;
        if (have < count && giveUp.expired()) throw link_codes::kNoReply;
    }
}

void RLComBase::throwIfLost() const {
    if (port && port->lost()) throw link_codes::kPortLost;
}

void RLComBase::readHeader(std::uint8_t* rx) {
    constexpr int kHeader = link_limits::kHeaderBytes;
    const int got = port->read(rx, shortReplyWindow_ ? 1 : kHeader);
    throwIfLost();
    if (got <= 0) throw link_codes::kNoReply;   // nothing on the line
    // A header that stops after one or two bytes (a pause of more than the
    // 2 ms inter-byte gap) is never taken as a header: its length or status
    // byte would not come from the line. Its missing bytes must follow.
    if (got < kHeader) readRest(rx + got, kHeader - got);
}

void RLComBase::skipEcho(std::uint8_t* rx) {
    constexpr int kHeader = link_limits::kHeaderBytes;
    const int rest = rx[1] + link_limits::kCrcBytes;
    // Only our own request comes back as an echo; another length is some
    // other frame, and waiting for its body would stall the attempt.
    if (lastRequestBytes_ > 0 && kHeader + rest != lastRequestBytes_) throw link_codes::kNoReply;
    int echoed = std::max(port->read(rx + kHeader, rest), 0);
    if (echoed < rest) echoed += std::max(port->read(rx + kHeader + echoed, rest - echoed), 0);
    throwIfLost();
    // An echo whose tail never came is no echo of ours: nothing would be
    // left to compare but bytes the line never sent.
    if (echoed < rest) throw link_codes::kNoReply;
    if (lastRequestBytes_ > 0 && std::memcmp(rx, lastRequest_, static_cast<std::size_t>(lastRequestBytes_)) != 0)
        throw link_codes::kNoReply;
    link_platform::sleepMs(kEchoPauseMs);
    readHeader(rx);
}

int RLComBase::receiveReply(std::uint8_t* dest, int capacity, int exactLen) {
    try {
        const int len = readReplyFrame(dest, capacity, exactLen);
        if (afterFailure_) lineSuspect_ = true;   // only on a path that failed before
        afterFailure_ = false;
        return len;
    } catch (int code) {
        // A refusal is a whole, intact reply; anything else leaves the line
        // in doubt until it has been drained.
        if (code != link_codes::kRefused) lineSuspect_ = afterFailure_ = true;
        throw;
    }
}

int RLComBase::readReplyFrame(std::uint8_t* dest, int capacity, int exactLen) {
    if (!port) throw link_codes::kNoReply;
    // Room for the largest frame the length byte can announce.
    std::uint8_t rx[link_limits::kMaxFrame];
    constexpr int kHeader = link_limits::kHeaderBytes;

    readHeader(rx);
    if (rx[0] == kRequestStart) skipEcho(rx);   // the line echoed our request: drop it, once
    if (rx[0] != kReplyStart) throw link_codes::kNoReply;

    // A length this request cannot get back is another request's reply (or
    // noise): fail now rather than wait for a body that will not come.
    const int len = rx[1];
    if (len > capacity || (exactLen >= 0 && len != 0 && len != exactLen)) throw link_codes::kNoReply;
    const int rest = len + link_limits::kCrcBytes;
    readRest(rx + kHeader, rest);

    // The CRC comes before the status: a corrupted refusal is no refusal.
    if (!crc.checkCrc(rx, static_cast<std::size_t>(kHeader + rest))) throw link_codes::kNoReply;
    if (rx[2] != 0) throw link_codes::kRefused;
    if (len > 0) std::memcpy(dest, rx + kHeader, static_cast<std::size_t>(len));
    return len;
}

bool RLComBase::readMemory(std::uint32_t address, MemoryKind kind, int count, std::uint8_t* dest) {
    // Refused before anything is sent: the count byte carries the RAM mark in
    // bit 7, so 128 or more bytes cannot be asked for in either space (a ROM
    // read of 128 would reach the station as a RAM read).
    if (!isKnownKind(kind) || count < 0) throw link_codes::kNoReply;
    if (count > (isRam(kind) ? link_limits::kMaxRamRead : link_limits::kMaxRomRead)) throw link_codes::kNoReply;

    std::uint8_t args[4];
    const bool sixteen = isSixteenBit(kind);
    int n = putAddress(args, address, sixteen);
    args[n++] = static_cast<std::uint8_t>(count | (isRam(kind) ? kRamMark : 0));
    sendFrame(sixteen ? line::command::kRead16 : line::command::kRead24, args, n);

    // Collected apart so that a short reply never leaves part of itself in
    // the caller's buffer.
    std::uint8_t data[link_limits::kMaxLen];
    const int len = receiveReply(data, count, count);
    if (len == 0) {
        // Intact and empty: no failure, but no answer to a read either (a
        // late write reply?), so the line is drained before the next request.
        lineSuspect_ = true;
        return false;
    }
    std::memcpy(dest, data, static_cast<std::size_t>(len));
    return true;
}

bool RLComBase::writeMemory(std::uint32_t address, MemoryKind kind, int count, const std::uint8_t* src) {
    std::uint8_t args[link_limits::kMaxLen];
    int n = 0;
    std::uint8_t command = 0;
    switch (kind) {
    case MemoryKind::Ram16:
    case MemoryKind::Rom16:
        if (count < 0 || count > link_limits::kMaxWrite16) throw link_codes::kNoReply;
        command = line::command::kWrite16;
        n = putAddress(args, address, true);
        // A ROM write carries zero where a RAM write carries its count.
        args[n++] = kind == MemoryKind::Ram16 ? static_cast<std::uint8_t>(count | kRamMark) : 0x00;
        break;
    case MemoryKind::Rom24:
        if (count < 0 || count > link_limits::kMaxWriteRom24) throw link_codes::kNoReply;
        command = line::command::kWriteRom24;
        n = putAddress(args, address, false);
        args[n++] = static_cast<std::uint8_t>(count);
        break;
    default:
        throw link_codes::kNoReply;   // Ram24 has no write form
    }
    if (count > 0) std::memcpy(args + n, src, static_cast<std::size_t>(count));
    // A write's reply carries nothing we use, and its length is the
    // station's affair: it may acknowledge with up to what the request
    // carried (address, count and data). More than that answers some other
    // request, such as a read's late reply.
    exchangeDropping(command, args, n + count, n + count);
    return true;
}

bool RLComBase::sendRestart() {
    // The station restarts at once and never answers, so the write is all
    // there is to tell whether the command left.
    return sendFrame(line::command::kRestart, nullptr, 0);
}

bool RLComBase::setClock() {
    const link_platform::LocalTime t = link_platform::localTime();
    const std::uint8_t args[6] = {
        static_cast<std::uint8_t>(t.year - 2010),   // modulo 256 by design
        static_cast<std::uint8_t>(t.month - 1),
        static_cast<std::uint8_t>(t.day - 1),
        static_cast<std::uint8_t>(t.hour),
        static_cast<std::uint8_t>(t.minute),
        static_cast<std::uint8_t>(t.second),
    };
    exchangeDropping(line::command::kSetClock, args, 6);
    return true;
}

bool RLComBase::command30() {
    exchangeDropping(line::command::kCommand30, nullptr, 0);
    return true;
}

bool RLComBase::query07(std::uint8_t* dest) {
    sendFrame(line::command::kQuery07, nullptr, 0);
    receiveReply(dest, link_limits::kMaxLen);
    return true;
}

int RLComBase::commandF1(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t args[4] = {a, b, c, d};
    return exchangeDropping(line::command::kCommandF1, args, 4);
}

int RLComBase::commandF2() { return exchangeDropping(line::command::kCommandF2, nullptr, 0); }
