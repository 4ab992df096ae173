#include "FrequencyPlan.h"

#include <cstring>
#include <iomanip>

#include "StationMemory.h"
#include "Trace.h"

// Every expression below is evaluated exactly as written: one double
// operation at a time, each rounded. The station vendor's tool computed the
// plan this way, and channels near a zone edge land on one side or the other
// depending on it; reordering or fusing (FMA) would move them.

namespace {

constexpr double kChannelStep = 0.025;
constexpr double kFineStep = 0.00625;
constexpr double kBaseRange0 = 149.975;
constexpr double kBaseRange1 = 403.025;
constexpr double kBaseRange2 = 146.025;
constexpr double kRange1Segment2 = 406.15;
constexpr double kRange1Segment3 = 417.025;
constexpr double kRange1Segment4 = 434.025;
constexpr double kFractionScale = 32768.0;
constexpr double kDividerModeThreshold = 431.0;
constexpr int kVersionZoneTableThreshold = 130;

constexpr double kCrystals[] = {11.0592, 12.288, 14.7456};
constexpr int kCrystalFlagChoice = 1;   // 12.288 MHz

struct Zone {
    double low, high;
};

// Range 2: frequencies where the 11.0592 MHz crystal would put a spur on the
// carrier; 12.288 MHz is used there.
constexpr Zone kRange2Zones[] = {
    {146.3, 146.8},   {149.0, 149.7},   {151.8, 152.3},     {154.5, 155.2},
    {157.3, 157.9},   {160.15, 160.7},  {162.975, 163.4},   {165.6, 166.25},
    {168.4, 168.775}, {171.1, 171.7},   {173.8, 174.975},
};
// Range 1, versions up to 130: 12.288 MHz inside, 11.0592 MHz outside.
constexpr Zone kRange1ZonesEarly[] = {
    {403.025, 404.3}, {408.3, 409.975}, {419.0, 421.975}, {434.025, 434.5},
    {436.55, 437.3},  {438.5, 439.45},  {442.15, 442.8},  {444.9, 445.3},
    {447.5, 448.2},   {450.4, 451.2},   {453.0, 454.0},   {456.0, 457.0},
    {458.5, 459.5},   {461.5, 462.5},   {467.125, 468.0}, {469.75, 469.975},
};
// Range 1, later versions: 12.288 MHz inside, 14.7456 MHz outside.
constexpr Zone kRange1ZonesLate[] = {
    {418.725, 421.975}, {434.025, 435.6},   {438.025, 439.0},
    {445.775, 447.8},   {449.125, 451.0},   {453.025, 454.1},
    {456.425, 457.475}, {464.125, 466.0},   {467.625, 469.0},
};

template <std::size_t N>
bool inAnyZone(const Zone (&zones)[N], double value) {
    for (const Zone& zone : zones)
        if (zone.low <= value && value <= zone.high) return true;
    return false;
}

bool laterHardware(std::uint8_t version) { return (version & 0x80) != 0; }

std::uint16_t channelAt(const StationSettings& settings, int k) {
    return (k >= 0 && k < static_cast<int>(settings.channel.size())) ? settings.channel[k] : 0;
}

std::uint8_t deltaAt(const StationSettings& settings, int k) {
    return (k >= 0 && k < static_cast<int>(settings.ch_delta.size())) ? settings.ch_delta[k] : 0;
}

// Bytes 5..7 of a range 2 block on early hardware: the VCO band and the two
// loop-filter settings by output frequency.
struct Range2Setting {
    double below;
    std::uint8_t band, filterA, filterB;
};
constexpr Range2Setting kRange2Early[] = {
    {150.0, 0, 0, 0}, {153.0, 0, 3, 1}, {155.0, 1, 3, 1}, {158.0, 1, 3, 2}, {160.0, 2, 3, 2},
    {163.0, 2, 0, 2}, {165.0, 3, 0, 2}, {170.0, 3, 3, 3}, {176.0, 4, 3, 4},
};
constexpr Range2Setting kRange2EarlyTop = {0.0, 4, 0, 0};

// Bytes 4..8 of a range 1 block at output frequency `f`: the divider mode,
// the VCO and loop-filter settings and, on later hardware, the crystal flag.
void putRange1Settings(std::uint8_t* block, double f, bool later, int choice) {
    block[4] = (f < kDividerModeThreshold && !later) ? 0x21 : 0x11;
    block[5] = 0x70;
    if (f < 431.0) {
        block[6] = 0x1B;
        block[7] = 0x02;
    } else if (f < 450.0) {
        block[6] = 0x47;
        block[7] = 0x00;
    } else {
        block[6] = 0xC7;
        block[7] = 0x01;
    }
    if (later) block[8] = choice == kCrystalFlagChoice ? 1 : 0;
}

// Bytes 4..7 of a range 2 block: the VCO band and, on later hardware, the
// crystal flag; on early hardware the band and filters by frequency.
void putRange2Settings(std::uint8_t* block, double f, bool later, int choice) {
    block[4] = 0x13;
    if (later) {
        block[5] = f < 153.0 ? 0 : f < 160.0 ? 1 : f < 167.0 ? 2 : 3;
        block[6] = choice == kCrystalFlagChoice ? 1 : 0;
        block[7] = 0;
        return;
    }
    const Range2Setting* setting = &kRange2EarlyTop;
    for (const Range2Setting& row : kRange2Early) {
        if (f < row.below) {
            setting = &row;
            break;
        }
    }
    block[5] = setting->band;
    block[6] = setting->filterA;
    block[7] = setting->filterB;
}

}  // namespace

double channelFrequency(const StationSettings& settings, int k) {
    const int c = channelAt(settings, k);
    switch (settings.freq_range) {
    case 1:
        if (c <= 117) return static_cast<double>(c) * kChannelStep + kBaseRange1;
        if (c <= 271) return static_cast<double>(c - 118) * kChannelStep + kRange1Segment2;
        if (c <= 470) return static_cast<double>(c - 272) * kChannelStep + kRange1Segment3;
        return static_cast<double>(c - 471) * kChannelStep + kRange1Segment4;
    case 2:
        return static_cast<double>(c) * kChannelStep + kBaseRange2;
    default:
        // identifyStation yields only 0, 1 and 2; anything else is computed as
        // range 0 rather than left undefined.
        return static_cast<double>(c) * kChannelStep + kBaseRange0;
    }
}

double outputFrequency(const StationSettings& settings, int k) {
    const double channel = channelFrequency(settings, k);
    const double fine = static_cast<double>(deltaAt(settings, k)) * kFineStep;
    return channel + fine;
}

int selectCrystal(const StationSettings& settings, int k, int range, std::uint8_t version) {
    if (!laterHardware(version) || range == 0) return 0;
    if (range == 2) return inAnyZone(kRange2Zones, channelFrequency(settings, k)) ? 1 : 0;
    if (range == 1) {
        const double f = outputFrequency(settings, k);
        if (version <= kVersionZoneTableThreshold) return inAnyZone(kRange1ZonesEarly, f) ? 1 : 0;
        return inAnyZone(kRange1ZonesLate, f) ? 1 : 2;
    }
    return 0;
}

double crystalFrequency(int choice) {
    return (choice >= 0 && choice <= 2) ? kCrystals[choice] : kCrystals[0];
}

int computeChannelBlock(const StationSettings& settings, int k, std::uint8_t version, std::uint8_t* block) {
    // The station keeps six fine offsets, so no position beyond them has a block.
    if (k < 0 || k >= settings.ch_count || k >= static_cast<int>(settings.ch_delta.size())) return 0;

    const int range = settings.freq_range;
    const bool later = laterHardware(version);
    const int choice = selectCrystal(settings, k, range, version);
    const double crystal = crystalFrequency(choice);
    std::ostream& trace = traceStream();
    trace << "XTAL: " << crystal << std::endl;

    const double f = outputFrequency(settings, k);
    trace << std::fixed << std::setprecision(6);
    trace << "Fout: " << f << std::endl;

    // Range 1 stations with version bit 7 set run the synthesiser at the
    // carrier below 431 MHz; early hardware and every other case divide
    // twice the carrier.
    const bool directDivider = range == 1 && f < kDividerModeThreshold && later;
    const double ratio = directDivider ? f / crystal : (f + f) / crystal;
    const int n = static_cast<int>(ratio);
    const int frac = static_cast<int>((ratio - static_cast<double>(n)) * kFractionScale);

    std::memset(block, 0, kChannelBlockSize);
    block[0] = static_cast<std::uint8_t>((frac << 4) & 0xFF);
    block[1] = static_cast<std::uint8_t>((frac >> 4) & 0xFF);
    block[2] = static_cast<std::uint8_t>(((n << 3) | (frac >> 12)) & 0xFF);
    block[3] = static_cast<std::uint8_t>((n >> 5) & 0x07);

    if (range == 1) putRange1Settings(block, f, later, choice);
    else if (range == 2) putRange2Settings(block, f, later, choice);
    else block[4] = 0x13;

    block[kFineOffsetInBlock] = deltaAt(settings, k);
    return kChannelBlockSize;
}
