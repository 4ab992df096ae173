#pragma once
// What a move does to a station: the values it writes and the parts of the
// parameter block it rewrites (a restore rewrites the same parts).
#include <cstdint>

#include "StationMemory.h"

// A move takes a station of the source system to the target channel and fine
// offset in position 0, then marks it as one of the target system.
constexpr std::uint8_t kSourceSystemCode = 0x9E;
constexpr std::uint8_t kTargetSystemCode = 0x3A;
constexpr std::uint16_t kTargetChannel = 1902;
constexpr std::uint8_t kTargetFineOffset = 2;

// The three parts a move (and a restore) rewrites, in the order they are
// written: the system code goes last, so a station reads as moved only once
// its channel table and block 0 are in place.
constexpr ParamRegion kChannelTableRegion{paramAddress(kChannelTableOffset), 2 * kChannelTableWords};
constexpr ParamRegion kChannelBlock0Region{channelBlockAddress(0), kChannelBlockSize};
constexpr ParamRegion kSystemCodeRegion{paramAddress(kSystemCodeOffset), 1};
constexpr ParamRegion kChangedRegions[] = {kChannelTableRegion, kChannelBlock0Region, kSystemCodeRegion};

