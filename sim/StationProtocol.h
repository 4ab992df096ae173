#pragma once
// The simulated station's own copy of the line protocol: frame start bytes,
// the RAM mark and each command byte, as the station firmware knows them.
// Kept apart from link/LineFacts.h on purpose: were the simulator to share
// the link's names, a wrong byte there would be answered here just the same
// and no test would notice. LineFactsTest pins both copies to the bytes.
#include <cstdint>

namespace sim::protocol {

constexpr std::uint8_t kRequestStart = 0xDA;
constexpr std::uint8_t kReplyStart = 0xAD;
constexpr std::uint8_t kRamMark = 0x80;

constexpr std::uint8_t kRead16 = 0x05;
constexpr std::uint8_t kWrite16 = 0x06;
constexpr std::uint8_t kQuery07 = 0x07;
constexpr std::uint8_t kRead24 = 0x08;
constexpr std::uint8_t kWriteRom24 = 0x0B;
constexpr std::uint8_t kSetClock = 0x0E;
constexpr std::uint8_t kSendData = 0x20;
constexpr std::uint8_t kRecord32 = 0x21;
constexpr std::uint8_t kRecord20 = 0x24;
constexpr std::uint8_t kCommand30 = 0x30;
constexpr std::uint8_t kRestart = 0xDD;
constexpr std::uint8_t kCommandF1 = 0xF1;
constexpr std::uint8_t kCommandF2 = 0xF2;

}  // namespace sim::protocol
