#pragma once
// What the program knows of the connected station between operations: the
// head of its parameter block, its network status and its neighbours.

#include <QMap>
#include <QString>
#include <array>
#include <cstdint>

#include "StationMemory.h"

struct StationStatus {
    std::uint8_t vec = 0;
    bool isConnect = false;
    std::uint16_t parent_addr = 0;
    std::int32_t quality = 0;
    std::int32_t snr = 0;

    bool operator==(const StationStatus& o) const {
        return vec == o.vec && isConnect == o.isConnect && parent_addr == o.parent_addr &&
               quality == o.quality && snr == o.snr;
    }
    bool operator!=(const StationStatus& o) const { return !(*this == o); }
};

struct RouteEntry {
    std::int32_t quality = 0;
    std::int32_t snr = 0;
    std::int32_t count = 0;
    std::int32_t noise = 0;
    double average_snr = 0.0;
    QString time;   // "dd.MM.yy hh:mm:ss"
};

// The 16-byte head of the parameter block, little-endian fields.
using ParamHead = std::array<std::uint8_t, kParamHeadSize>;

// The head's fields by the names the station file gives them.
namespace param_offset {
constexpr int version = kVersionOffset;          // u16
constexpr int address = kAddressOffset;          // u16
constexpr int system = kSystemCodeOffset;
constexpr int device = kDeviceOffset;
constexpr int cps = kCpsOffset;
constexpr int frange = kRangeCodeOffset;
constexpr int chCount = kChannelCountOffset;
constexpr int timeouts = kTimeoutsOffset;
constexpr int freq_channe = kChannelTableOffset; // u16, channel 0
}

std::uint16_t paramWord(const ParamHead& head, int offset);
void setParamWord(ParamHead& head, int offset, std::uint16_t value);

class StationRecord {
public:
    static void create();
    static StationRecord* instance();
    static void destroy();

    QMap<std::int32_t, RouteEntry> routeTable;   // ascending node address

    ParamHead& params() { return params_; }
    const ParamHead& params() const { return params_; }
    StationStatus& status() { return status_; }

    void setParams(const std::uint8_t* head16);
    // Takes what a station file carries of the head: address, device, cps,
    // frange, freq_channe and the bytes at 8, 10, 11, 14 and 15.
    void applyLoadedParams(const std::uint8_t* head16);
    void setStatus(const StationStatus& status) { status_ = status; }

    std::uint16_t address() const { return paramWord(params_, param_offset::address); }
    std::uint8_t system() const { return params_[param_offset::system]; }

private:
    StationRecord() = default;
    ParamHead params_{};
    StationStatus status_{};
    static StationRecord* instance_;
};
