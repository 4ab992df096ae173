#pragma once
// The facts of the serial line to a station, named once for the link, both
// transports, the port probe, the job and the diagnostics: its rate, the
// frame start bytes, each command byte, the read timing and how often an
// exchange is tried. (The simulated station in sim/ keeps its own copy on
// purpose, so that a slip here shows up as a station that does not answer.)
#include <cstdint>

namespace line {

// 8N1, no flow control: 10 bits a byte on the line.
constexpr std::uint16_t kBaud = 57600;

// A request starts with 0xDA, a reply with 0xAD.
constexpr std::uint8_t kRequestStart = 0xDA;
constexpr std::uint8_t kReplyStart = 0xAD;
// Bit 7 of a read's (and a RAM write's) count byte marks RAM.
constexpr std::uint8_t kRamMark = 0x80;

// The command byte of each request.
namespace command {
constexpr std::uint8_t kRead16 = 0x05;       // 16-bit address, high byte first
constexpr std::uint8_t kWrite16 = 0x06;      // 16-bit address; 0x00 marks ROM, count | 0x80 RAM
constexpr std::uint8_t kQuery07 = 0x07;      // identity: version, band type, address
constexpr std::uint8_t kRead24 = 0x08;       // 24-bit address, low byte first
constexpr std::uint8_t kWriteRom24 = 0x0B;   // 24-bit address, then the count
constexpr std::uint8_t kSetClock = 0x0E;     // year-2010, month-1, day-1, hour, minute, second
constexpr std::uint8_t kSendData = 0x20;     // raw data for the radio side
constexpr std::uint8_t kRecord32 = 0x21;     // 32-byte records of the ring
constexpr std::uint8_t kRecord20 = 0x24;     // 20-byte records of the ring
constexpr std::uint8_t kCommand30 = 0x30;
constexpr std::uint8_t kRestart = 0xDD;      // never answered
constexpr std::uint8_t kCommandF1 = 0xF1;    // four parameter bytes, sent back
constexpr std::uint8_t kCommandF2 = 0xF2;    // state query
}  // namespace command

// A read returns when all bytes asked for have come; once one byte has come,
// when no other follows within kInterByteGapMs; else after the time-out's
// constant part plus kReadMsPerByte for each byte asked for.
constexpr std::uint32_t kReadMsPerByte = 100;
constexpr std::uint32_t kInterByteGapMs = 2;
// The constant part of the read time-out while talking to a station.
constexpr std::uint32_t kReadTimeoutMs = 1000;

// A write is given 2 s plus 20 ms a byte. That is more than twice a byte's
// wire time from 1200 baud up; at 300 baud (33 ms a byte) it still covers a
// frame of up to 150 bytes, and our requests are far shorter. A driver that
// takes longer is stuck (flow control held, a wedged adapter): without a
// bound the write would hold the run forever.
constexpr std::uint32_t kWriteConstantMs = 2000;
constexpr std::uint32_t kWriteMsPerByte = 20;

// How often the job and the diagnostics try an exchange before its failure
// stands: once more after a failed attempt.
constexpr int kAttempts = 2;

}  // namespace line
