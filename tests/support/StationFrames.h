#pragma once
// What a simulated station holds and was sent, picked out of its memory and
// its wire frames.
#include <cstdint>
#include <vector>

#include "PtyStationHost.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes romBytes(const sim::StationModel& m, std::uint32_t address, std::size_t count) {
    return Bytes(m.rom.begin() + address, m.rom.begin() + address + count);
}

// The station's parameter block.
inline Bytes paramBlock(const sim::StationModel& model) { return romBytes(model, 0xC000, 0x100); }

// The frames one way, in order.
inline std::vector<Bytes> framesTo(const sim::PtyStationHost& host, sim::WireFrame::Direction d) {
    std::vector<Bytes> out;
    for (const sim::WireFrame& f : host.frames())
        if (f.direction == d) out.push_back(f.bytes);
    return out;
}

// How many memory writes the station was sent.
inline int writesSeen(const sim::PtyStationHost& host) {
    int writes = 0;
    for (const Bytes& f : framesTo(host, sim::WireFrame::Direction::ToStation))
        if (f.size() > 2 && f[2] == 0x06) ++writes;
    return writes;
}

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
