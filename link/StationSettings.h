#pragma once
#include <array>
#include <cstdint>

// What identifyStation reads of a station's parameter block.
struct StationSettings {
    std::uint8_t system_cod = 0;
    std::uint8_t freq_range = 0;      // 0, 1 or 2
    std::uint8_t ch_count = 0;
    std::array<std::uint16_t, 8> channel{};
    std::array<std::uint8_t, 6> ch_delta{};
    std::uint8_t freq_subrange = 0;   // range 1 only: 0 (band 3) or 1 (band 4)
    std::uint8_t band_type = 0;       // RAM 0x0B01 as last read; must fit freq_range
};
