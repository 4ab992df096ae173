#pragma once
// Where a station keeps what a move reads and rewrites: its parameter block,
// 256 bytes of ROM (MemoryKind::Rom16) from 0xC000, numbers low byte first.
// Its first 16 bytes, the head, are what the station record and file keep.
#include <array>
#include <cstddef>
#include <cstdint>

constexpr std::uint16_t kParamBlockAddress = 0xC000;
constexpr int kParamBlockSize = 256;
constexpr int kParamHeadSize = 16;

// Offsets in the block (and in its head).
constexpr int kVersionOffset = 0x00;        // u16
constexpr int kAddressOffset = 0x02;        // u16, the station's network address
constexpr int kSystemCodeOffset = 0x04;
constexpr int kDeviceOffset = 0x05;
constexpr int kCpsOffset = 0x06;
constexpr int kRangeCodeOffset = 0x07;      // 0..4, mapped to the frequency range
constexpr int kChannelCountOffset = 0x08;   // channel positions in use
constexpr int kTimeoutsOffset = 0x09;
constexpr int kChannelTableOffset = 0x0C;   // a u16 per position; word 0 is channel 0
constexpr int kChannelTableWords = 8;
constexpr int kChannelBlocksOffset = 0x80;  // the synthesiser block of each position
constexpr int kChannelBlockSize = 16;
constexpr int kFineOffsetInBlock = 15;      // in 6.25 kHz steps
constexpr int kFineOffsetPositions = 6;
// Identification reads the 32 bytes from the address on.
constexpr int kSettingsOffset = kAddressOffset;
constexpr int kSettingsSize = 32;

constexpr std::uint16_t paramAddress(int offset) { return static_cast<std::uint16_t>(kParamBlockAddress + offset); }
constexpr std::uint16_t channelBlockAddress(int position) {
    return paramAddress(kChannelBlocksOffset + kChannelBlockSize * position);
}
// The two bytes that end in position k's fine offset, read in one request.
constexpr std::uint16_t fineOffsetPairAddress(int position) {
    return static_cast<std::uint16_t>(channelBlockAddress(position) + kFineOffsetInBlock - 1);
}

struct ParamRegion {
    std::uint16_t address;
    int count;
    constexpr int offset() const { return address - kParamBlockAddress; }
};

// Decoding a block or its head.
inline std::uint16_t paramWordAt(const std::uint8_t* bytes, int offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}
inline std::uint16_t blockAddress(const std::uint8_t* block) { return paramWordAt(block, kAddressOffset); }
inline std::uint8_t blockSystemCode(const std::uint8_t* block) { return block[kSystemCodeOffset]; }
inline std::uint16_t blockChannel0(const std::uint8_t* block) { return paramWordAt(block, kChannelTableOffset); }

// The channel table as it is written.
inline void packChannelTable(const std::array<std::uint16_t, kChannelTableWords>& channels, std::uint8_t* table) {
    for (std::size_t i = 0; i < channels.size(); ++i) {
        table[2 * i] = static_cast<std::uint8_t>(channels[i] & 0xFF);
        table[2 * i + 1] = static_cast<std::uint8_t>(channels[i] >> 8);
    }
}
