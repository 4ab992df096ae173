#pragma once
// Where a station keeps, in RAM, what identification and the diagnostics
// read: its version and band type, its place in the mesh network, its route
// table and the ring of the last radio packets it heard.
#include <cstdint>

namespace station_ram {

// The version byte, then the band type (identification reads both at once).
constexpr std::uint32_t kVersion = 0x0B00;
constexpr std::uint32_t kBandType = kVersion + 1;
// Byte 2 of the level block: the station's own signal level.
constexpr std::uint32_t kLevelBlock = 0x0B02;

constexpr std::uint32_t kStatusByte = 0x0862;
constexpr std::uint32_t kAttachFlags = 0x00B7;
constexpr std::uint8_t kAttachedBit = 0x10;   // in kAttachFlags: attached to the network
constexpr std::uint32_t kParentAddress = 0x0274;

// The route table: a 16-byte row per network address; byte 14 carries the
// link quality in bits 4..5. Read four rows (a block) at a time.
constexpr std::uint32_t kRouteTable = 0x1000;
constexpr int kRouteRowBytes = 16;
constexpr int kRouteRows = 8192;
constexpr int kRouteRowsPerBlock = 4;
constexpr int kRouteBlockBytes = kRouteRowsPerBlock * kRouteRowBytes;
constexpr int kRouteBlocks = kRouteRows / kRouteRowsPerBlock;   // 2048
constexpr int kRouteQualityByte = 14;
constexpr std::uint8_t kQualityMask = 0x30;

constexpr std::uint32_t routeRowAddress(std::uint16_t node) {
    return kRouteTable + static_cast<std::uint32_t>(node) * kRouteRowBytes;
}
constexpr std::uint32_t routeBlockAddress(int block) {
    return kRouteTable + static_cast<std::uint32_t>(block) * kRouteBlockBytes;
}

// The sniffer ring: two unused bytes, then four 8-byte slots, one per packet.
constexpr std::uint32_t kSnifferRing = 0x0CA6;
constexpr int kSnifferRingBytes = 34;
constexpr int kSnifferSlots = 4;
constexpr int kSnifferSlotBytes = 8;

}  // namespace station_ram
