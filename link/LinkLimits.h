#pragma once
// Frame sizes of the station link.
namespace link_limits {
constexpr int kHeaderBytes = 3;                 // start, LEN, command/status
constexpr int kCrcBytes = 2;
constexpr int kMaxLen = 255;
constexpr int kMaxFrame = kHeaderBytes + kMaxLen + kCrcBytes;   // 260
constexpr int kMaxWrite16 = 120;                // writeMemory, 16-bit forms
constexpr int kMaxWriteRom24 = 119;
constexpr int kMaxSendData = 95;
constexpr int kMaxRamRead = 127;                // bit 7 of the count marks RAM
// The station reads bit 7 of the count byte as the RAM mark in every read,
// so a ROM read of 128 bytes or more would silently become a RAM read.
constexpr int kMaxRomRead = 127;
}
