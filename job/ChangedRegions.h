#pragma once
// The three parts of the parameter block that moving a station rewrites, in
// the order they are written: the system code goes last, so a station reads
// as moved only once its channel table and block 0 are in place.
#include <cstdint>

constexpr std::uint16_t kParamBlockAddress = 0xC000;   // ROM, 256 bytes

struct ParamRegion {
    std::uint16_t address;
    int count;
    int offset() const { return address - kParamBlockAddress; }
};

constexpr ParamRegion kChannelTableRegion{0xC00C, 16};
constexpr ParamRegion kChannelBlock0Region{0xC080, 16};
constexpr ParamRegion kSystemCodeRegion{0xC004, 1};
constexpr ParamRegion kChangedRegions[] = {kChannelTableRegion, kChannelBlock0Region, kSystemCodeRegion};
constexpr int kWriteAttempts = 2;
// The station stores the new parameters in flash after the last write; a
// restart before that would lose them.
constexpr unsigned long kSettleBeforeRestartMs = 2000;
