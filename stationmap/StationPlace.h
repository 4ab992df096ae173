#pragma once
// A station's place in the mesh network as its RAM tells it: its status
// byte, whether it is attached, its parent node, the quality of the link to
// that parent and its own signal level. Read by the status diagnostic and,
// before anything is written, by every command-line programming run (the
// ledger keeps it, the migration report draws the network from it).
#include <cstdint>

#include "StationRam.h"

struct StationPlace {
    std::uint8_t statusByte = 0;
    bool attached = false;
    std::uint16_t parent = 0;
    int link = 0;     // 0..3, from the parent's route-table row
    int signal = 0;   // dB, kSignalMin..kSignalMax

    bool operator==(const StationPlace& o) const {
        return statusByte == o.statusByte && attached == o.attached && parent == o.parent && link == o.link &&
               signal == o.signal;
    }
    bool operator!=(const StationPlace& o) const { return !(*this == o); }
};

namespace station_place {

// The raw level byte halved, less 130: 0 reads -130 dB, 255 reads -3 dB.
constexpr int kSignalMin = -130;
constexpr int kSignalMax = (255 >> 1) - 130;
constexpr int kLinkMax = 3;

constexpr int signalFromLevel(std::uint8_t level) { return (level >> 1) + kSignalMin; }
// The level byte a station reports for `signal` dB (the lower of the two
// bytes that read so); for a simulated station.
constexpr std::uint8_t levelForSignal(int signal) {
    return static_cast<std::uint8_t>((signal < kSignalMin ? 0 : signal > kSignalMax ? kSignalMax - kSignalMin : signal - kSignalMin) * 2);
}
constexpr int linkFromRouteRow(const std::uint8_t* row) {
    return (row[station_ram::kRouteQualityByte] & station_ram::kQualityMask) >> 4;
}
constexpr bool attachedFromFlags(std::uint8_t flags) { return (flags & station_ram::kAttachedBit) != 0; }

}  // namespace station_place
