#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "FrequencyPlan.h"
#include "TraceCapture.h"

namespace {

using Block = std::array<std::uint8_t, 16>;

StationSettings station(int range, int channel, int delta, int count = 1) {
    StationSettings s;
    s.freq_range = static_cast<std::uint8_t>(range);
    s.ch_count = static_cast<std::uint8_t>(count);
    s.channel[0] = static_cast<std::uint16_t>(channel);
    s.ch_delta[0] = static_cast<std::uint8_t>(delta);
    return s;
}

Block parseBlock(const std::string& hex) {
    Block block{};
    std::istringstream in(hex);
    for (auto& byte : block) {
        unsigned value = 0;
        in >> std::hex >> value;
        byte = static_cast<std::uint8_t>(value);
    }
    return block;
}

std::string hex(const Block& block) {
    std::string text;
    char digits[4];
    for (std::uint8_t byte : block) {
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    text.pop_back();
    return text;
}

Block compute(const StationSettings& s, std::uint8_t version) {
    TraceCapture quiet;
    Block block{};
    EXPECT_EQ(computeChannelBlock(s, 0, version, block.data()), 16);
    return block;
}

struct Unpacked {
    int n, frac;
};
Unpacked unpack(const Block& b) {
    return {(b[2] >> 3) | (b[3] << 5), (b[0] >> 4) | (b[1] << 4) | ((b[2] & 0x07) << 12)};
}

}  // namespace

// Channel 1902 with fine offset 2, the channel every moved station gets.
TEST(FrequencyPlan, TargetChannelInEveryRangeAndVersionClass) {
    struct Row {
        int range;
        std::uint8_t version;
        double f, crystal;
        int n, frac;
        const char* block;
    };
    const Row rows[] = {
        {0, 0x00, 197.5375, 11.0592, 35, 23712, "00 CA 1D 01 13 00 00 00 00 00 00 00 00 00 00 02"},
        {0, 0x83, 197.5375, 11.0592, 35, 23712, "00 CA 1D 01 13 00 00 00 00 00 00 00 00 00 00 02"},
        {1, 0x00, 469.8125, 11.0592, 84, 31562, "A0 B4 A7 02 11 70 C7 01 00 00 00 00 00 00 00 02"},
        {1, 0x7F, 469.8125, 11.0592, 84, 31562, "A0 B4 A7 02 11 70 C7 01 00 00 00 00 00 00 00 02"},
        {1, 0x80, 469.8125, 12.288, 76, 15298, "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02"},
        {1, 0x82, 469.8125, 12.288, 76, 15298, "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02"},
        {1, 0x83, 469.8125, 14.7456, 63, 23671, "70 C7 FD 01 11 70 C7 01 00 00 00 00 00 00 00 02"},
        {1, 0xFF, 469.8125, 14.7456, 63, 23671, "70 C7 FD 01 11 70 C7 01 00 00 00 00 00 00 00 02"},
        {2, 0x00, 193.5875, 11.0592, 35, 305, "10 13 18 01 13 04 00 00 00 00 00 00 00 00 00 02"},
        {2, 0x81, 193.5875, 11.0592, 35, 305, "10 13 18 01 13 03 00 00 00 00 00 00 00 00 00 02"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "range " << row.range << " version " << int(row.version));
        const StationSettings s = station(row.range, 1902, 2);
        EXPECT_NEAR(outputFrequency(s, 0), row.f, 1e-9);
        EXPECT_EQ(crystalFrequency(selectCrystal(s, 0, row.range, row.version)), row.crystal);
        const Block block = compute(s, row.version);
        EXPECT_EQ(hex(block), row.block);
        EXPECT_EQ(unpack(block).n, row.n);
        EXPECT_EQ(unpack(block).frac, row.frac);
    }
}

TEST(FrequencyPlan, TraceSwitchesToFixedSixDecimalsOnceAndForAll) {
    TraceCapture trace;
    Block block{};
    const StationSettings s = station(1, 1902, 2);
    computeChannelBlock(s, 0, 0x81, block.data());
    computeChannelBlock(s, 0, 0x81, block.data());
    computeChannelBlock(station(0, 1902, 2), 0, 0x00, block.data());
    EXPECT_EQ(trace.text(),
              "XTAL: 12.288\n"
              "Fout: 469.812500\n"
              "XTAL: 12.288000\n"
              "Fout: 469.812500\n"
              "XTAL: 11.059200\n"
              "Fout: 197.537500\n");
}

TEST(FrequencyPlan, Range1SegmentEdges) {
    const std::pair<int, double> edges[] = {
        {0, 403.025}, {117, 405.95}, {118, 406.15}, {271, 409.975}, {272, 417.025}, {470, 421.975}, {471, 434.025},
    };
    for (const auto& [channel, f] : edges) {
        SCOPED_TRACE(channel);
        EXPECT_NEAR(channelFrequency(station(1, channel, 0), 0), f, 1e-9);
        EXPECT_NEAR(outputFrequency(station(1, channel, 0), 0), f, 1e-9);
    }
    // The gap between the third and fourth segment is skipped, not interpolated.
    EXPECT_GT(channelFrequency(station(1, 471, 0), 0) - channelFrequency(station(1, 470, 0), 0), 12.0);
    EXPECT_NEAR(outputFrequency(station(1, 470, 255), 0), 421.975 + 255 * 0.00625, 1e-9);
}

TEST(FrequencyPlan, ModeByteChangesAt431OnEarlyHardwareOnly) {
    // Version 0: 421.975 MHz runs the doubled divider with mode 0x21 ...
    Block below = compute(station(1, 470, 0), 0x00);
    EXPECT_EQ(hex(below).substr(12, 11), "21 70 1B 02");
    EXPECT_EQ(unpack(below).n, static_cast<int>((421.975 + 421.975) / 11.0592));
    // ... 434.025 MHz the same divider with mode 0x11 and the middle filter.
    Block above = compute(station(1, 471, 0), 0x00);
    EXPECT_EQ(hex(above).substr(12, 11), "11 70 47 00");
    EXPECT_EQ(unpack(above).n, 78);   // 2 * 434.025 / 11.0592 = 78.49

    // Later hardware below 431 divides the carrier itself and keeps 0x11.
    Block later = compute(station(1, 470, 0), 0x80);
    EXPECT_EQ(hex(later).substr(12, 11), "11 70 1B 02");
    EXPECT_EQ(unpack(later).n, 34);   // 421.975 / 12.288 = 34.34
}

TEST(FrequencyPlan, DoubleRoundingDecidesTheZoneEdges) {
    // 147 * 0.025 + 146.025 is 149.70000000000002: just outside 149..149.7.
    const StationSettings r2 = station(2, 147, 0);
    EXPECT_GT(channelFrequency(r2, 0), 149.7);
    EXPECT_EQ(selectCrystal(r2, 0, 2, 0x80), 0);
    EXPECT_EQ(hex(compute(r2, 0x80)), "70 94 D8 00 13 00 00 00 00 00 00 00 00 00 00 00");
    // One channel below is inside the zone.
    EXPECT_EQ(selectCrystal(station(2, 146, 0), 0, 2, 0x80), 1);

    // (204 - 118) * 0.025 + 406.15 is 408.29999999999995: just below 408.3.
    const StationSettings r1 = station(1, 204, 0);
    EXPECT_LT(channelFrequency(r1, 0), 408.3);
    EXPECT_EQ(selectCrystal(r1, 0, 1, 0x80), 0);
    EXPECT_EQ(crystalFrequency(selectCrystal(r1, 0, 1, 0x80)), 11.0592);
    EXPECT_EQ(compute(r1, 0x80)[8], 0);
}

TEST(FrequencyPlan, FineOffsetCountsForRange1ZonesButNotForRange2) {
    // Range 1: one fine step lifts channel 204 into 408.3..409.975.
    EXPECT_EQ(selectCrystal(station(1, 204, 1), 0, 1, 0x80), 1);
    EXPECT_EQ(compute(station(1, 204, 1), 0x80)[8], 1);
    // Later table: 418.725 is reached from channel 339 with four steps.
    EXPECT_EQ(selectCrystal(station(1, 339, 4), 0, 1, 0x83), 2);
    EXPECT_EQ(selectCrystal(station(1, 339, 5), 0, 1, 0x83), 1);
    // Range 2 tests the channel without its offset: channel 147 stays out of
    // the zone whatever the offset, channel 31 (146.8) stays in it.
    EXPECT_EQ(selectCrystal(station(2, 147, 255), 0, 2, 0x80), 0);
    EXPECT_EQ(selectCrystal(station(2, 31, 255), 0, 2, 0x80), 1);
}

TEST(FrequencyPlan, PositionBeyondTheChannelCountYieldsNothing) {
    TraceCapture trace;
    Block block;
    block.fill(0xAB);
    EXPECT_EQ(computeChannelBlock(station(1, 500, 0, 0), 0, 0x81, block.data()), 0);
    StationSettings two = station(1, 500, 0, 2);
    EXPECT_EQ(computeChannelBlock(two, 2, 0x81, block.data()), 0);
    EXPECT_EQ(computeChannelBlock(two, -1, 0x81, block.data()), 0);
    // ch_count may claim more positions than the six fine offsets the station keeps.
    StationSettings many = station(1, 500, 0, 8);
    EXPECT_EQ(computeChannelBlock(many, 6, 0x81, block.data()), 0);
    for (std::uint8_t byte : block) EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(trace.text(), "");

    // Position 1 of a two-position station uses its own channel and offset.
    two.channel[1] = 1902;
    two.ch_delta[1] = 2;
    EXPECT_EQ(computeChannelBlock(two, 1, 0x81, block.data()), 16);
    EXPECT_EQ(hex(block), "20 BC 63 02 11 70 C7 01 01 00 00 00 00 00 00 02");
}

// Rows computed by tests/job/data/frequency_plan_rows.py, which evaluates the
// plan independently with Python's IEEE doubles: chosen rows, and rows on and
// either side of every zone edge and threshold in every version class.
TEST(FrequencyPlan, MatchesIndependentlyComputedRows) {
    std::ifstream in(RC_JOB_TEST_DATA "/frequency_plan_rows.txt");
    ASSERT_TRUE(in) << "missing test data";
    int rows = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int range = 0, version = 0, channel = 0, delta = 0;
        std::string bar;
        double f = 0, crystal = 0;
        fields >> range >> version >> channel >> delta >> bar >> f >> crystal >> bar;
        ASSERT_FALSE(fields.fail()) << line;
        std::string rest;
        std::getline(fields, rest);
        SCOPED_TRACE(line);
        const StationSettings s = station(range, channel, delta);
        const auto v = static_cast<std::uint8_t>(version);
        EXPECT_EQ(outputFrequency(s, 0), f);   // bit for bit
        EXPECT_EQ(crystalFrequency(selectCrystal(s, 0, range, v)), crystal);
        EXPECT_EQ(compute(s, v), parseBlock(rest));
        ++rows;
    }
    EXPECT_GE(rows, 2500);
}

// Every channel and every fine offset (each offset with every eighth channel,
// so the sweep stays quick under the sanitizers), each version class and
// range: the block must always follow the packing and setting-byte rules.
TEST(FrequencyPlan, SweepKeepsTheBlockLayoutInvariants) {
    std::ostream silent(nullptr);   // formatting into a stream with no buffer is dropped
    setTraceStream(&silent);
    const std::uint8_t versions[] = {0x00, 0x81, 0x82, 0x83, 0xFF};
    constexpr int kChannelStride = 8;
    struct Early2 {
        double below;
        int band, b6, b7;
    };
    const Early2 early2[] = {{150, 0, 0, 0}, {153, 0, 3, 1}, {155, 1, 3, 1}, {158, 1, 3, 2}, {160, 2, 3, 2},
                             {163, 2, 0, 2}, {165, 3, 0, 2}, {170, 3, 3, 3}, {176, 4, 3, 4}, {1e9, 4, 0, 0}};
    long checked = 0;
    for (int range = 0; range <= 2; ++range) {
        for (std::uint8_t version : versions) {
            const bool later = (version & 0x80) != 0;
            for (int delta = 0; delta <= 255; ++delta) {
                for (int channel = delta % kChannelStride; channel <= 4095; channel += kChannelStride) {
                    const StationSettings s = station(range, channel, delta);
                    Block b{};
                    if (computeChannelBlock(s, 0, version, b.data()) != 16) {
                        ADD_FAILURE() << "no block for " << channel;
                        continue;
                    }
                    const double f = outputFrequency(s, 0);
                    const int choice = selectCrystal(s, 0, range, version);
                    const double crystal = crystalFrequency(choice);
                    const double ratio = (range == 1 && f < 431 && later) ? f / crystal : (f + f) / crystal;
                    const Unpacked u = unpack(b);
                    const bool ok =
                        (b[0] & 0x0F) == 0 && (b[3] & 0xF8) == 0 &&
                        u.n == (static_cast<int>(ratio) & 0xFF) &&
                        std::fabs(ratio - std::floor(ratio) - u.frac / 32768.0) < 1.0 / 32768 &&
                        b[9] == 0 && b[10] == 0 && b[11] == 0 && b[12] == 0 && b[13] == 0 && b[14] == 0 &&
                        b[15] == delta;
                    bool settings = false;
                    const bool flag = choice == 1;
                    if (range == 0) {
                        settings = choice == 0 && b[4] == 0x13 && b[5] == 0 && b[6] == 0 && b[7] == 0 && b[8] == 0;
                    } else if (range == 1) {
                        const int mode = (f < 431 && !later) ? 0x21 : 0x11;
                        const int b6 = f < 431 ? 0x1B : f < 450 ? 0x47 : 0xC7;
                        const int b7 = f < 431 ? 0x02 : f < 450 ? 0x00 : 0x01;
                        const bool choiceOk = !later ? choice == 0 : version <= 130 ? choice != 2 : choice != 0;
                        settings = choiceOk && b[4] == mode && b[5] == 0x70 && b[6] == b6 && b[7] == b7 &&
                                   b[8] == (later && flag ? 1 : 0);
                    } else if (later) {
                        const int band = f < 153 ? 0 : f < 160 ? 1 : f < 167 ? 2 : 3;
                        settings = choice != 2 && b[4] == 0x13 && b[5] == band && b[6] == (flag ? 1 : 0) &&
                                   b[7] == 0 && b[8] == 0;
                    } else {
                        const Early2* row = early2;
                        while (f >= row->below) ++row;
                        settings = choice == 0 && b[4] == 0x13 && b[5] == row->band && b[6] == row->b6 &&
                                   b[7] == row->b7 && b[8] == 0;
                    }
                    if (!ok || !settings) {
                        ADD_FAILURE() << "range " << range << " version " << int(version) << " channel " << channel
                                      << " delta " << delta << ": " << hex(b);
                        setTraceStream(nullptr);
                        return;
                    }
                    ++checked;
                }
            }
        }
    }
    setTraceStream(nullptr);
    EXPECT_EQ(checked, 3L * 5 * 4096 * 256 / kChannelStride);
}
