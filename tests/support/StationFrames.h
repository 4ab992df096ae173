#pragma once
// What a simulated station was sent, picked out of its wire frames.
#include <cstdint>
#include <vector>

#include "PtyStationHost.h"

// The requests of one kind the station saw, in order.
struct SeenWrite {
    std::uint16_t address;
    std::vector<std::uint8_t> data;
};

inline std::vector<SeenWrite> romWrites(const std::vector<sim::WireFrame>& frames) {
    std::vector<SeenWrite> writes;
    for (const auto& f : frames) {
        if (f.direction != sim::WireFrame::Direction::ToStation || f.bytes.size() < 8 || f.bytes[2] != 0x06) continue;
        writes.push_back({static_cast<std::uint16_t>((f.bytes[3] << 8) | f.bytes[4]),
                          std::vector<std::uint8_t>(f.bytes.begin() + 6, f.bytes.end() - 2)});
    }
    return writes;
}

inline int restartsSent(const std::vector<sim::WireFrame>& frames) {
    int n = 0;
    for (const auto& f : frames)
        if (f.direction == sim::WireFrame::Direction::ToStation && f.bytes.size() >= 3 && f.bytes[2] == 0xDD) ++n;
    return n;
}
