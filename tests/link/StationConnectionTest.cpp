// The station connection: opening and closing, and identification with its
// codes 6 and 7, against the simulated station.

#include <array>

#include "SimStation.h"

using sim::Fault;

namespace {

void setStation(sim::PtyStationHost& host, std::uint8_t rangeCode, std::uint8_t version, std::uint8_t band) {
    host.withModel([=](sim::StationModel& m) {
        m.rom[0xC007] = rangeCode;
        m.ram[0x0B00] = version;
        m.ram[0x0B01] = band;
    });
}

}  // namespace

TEST(StationConnectionOpen, OpenRules) {
    StationConnection conn;
    EXPECT_FALSE(conn.open());   // no path yet
    EXPECT_FALSE(conn.isOpen());
    EXPECT_FALSE(conn.open(L"/dev/rechannel-no-such-port"));
    EXPECT_FALSE(conn.isOpen());
    EXPECT_FALSE(conn.serialPort().isOpen());

    sim::PtyStationHost host;
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(conn.open(host.slavePathW()));
    EXPECT_TRUE(conn.isOpen());
    // Already open: the open port stays, whatever the path says.
    EXPECT_TRUE(conn.open(L"/dev/rechannel-no-such-port"));
    EXPECT_TRUE(conn.serialPort().isOpen());
    std::array<std::uint8_t, 2> buf{};
    EXPECT_EQ(conn.readRam16(0x0B00, 2, buf.data(), 1), 2);

    conn.close();
    EXPECT_FALSE(conn.isOpen());
    EXPECT_FALSE(conn.serialPort().isOpen());
    // A closed connection fails every exchange with -1 and sends nothing.
    const int before = host.exchangeCount();
    int code = 0;
    try {
        conn.readRam16(0x0B00, 2, buf.data(), 2);
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, -1);
    EXPECT_EQ(host.exchangeCount(), before);

    // And it opens again on the same port.
    EXPECT_TRUE(conn.open(host.slavePathW()));
    EXPECT_EQ(conn.readRam16(0x0B00, 2, buf.data(), 1), 2);
}

TEST_F(SimStation, IdentifiesTheDefaultStation) {
    host.withModel([](sim::StationModel& m) {
        for (int k = 0; k < 6; ++k) m.rom[0xC08F + 16 * k] = static_cast<std::uint8_t>(0x10 + k);
    });
    EXPECT_EQ(conn.identifyStation(), 0x81);
    const StationSettings& s = conn.settings();
    EXPECT_EQ(s.system_cod, 0x9E);
    EXPECT_EQ(s.freq_range, 1);
    EXPECT_EQ(s.freq_subrange, 1);   // range 1, band 4
    EXPECT_EQ(s.ch_count, 2);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(s.channel[i], 500 + i);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(s.ch_delta[k], 0x10 + k);

    // One 32-byte settings read, six fine-offset pairs, the version pair.
    const std::vector<Bytes> sent = requests();
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 6), (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x02, 0x20}));
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(Bytes(sent[1 + k].begin(), sent[1 + k].begin() + 6),
                  (Bytes{0xDA, 0x03, 0x05, 0xC0, static_cast<std::uint8_t>(0x8E + 16 * k), 0x02}));
    EXPECT_EQ(sent[7], (Bytes{0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82, 0x31, 0x1A}));
}

TEST_F(SimStation, RefusesUnsuitableStations) {
    // `preset` is what freq_subrange holds before identification. For range 1
    // it is the opposite of what the band type must set; for ranges 0 and 2
    // identification has no sub-range to give and must leave it as it was.
    struct Case {
        std::uint8_t range, version, band;
        int code;            // 0: accepted
        std::uint8_t freqRange, subrange, preset;
    };
    const Case cases[] = {
        {1, 0x81, 4, 0, 1, 1, 0},
        {1, 0x81, 3, 0, 1, 0, 1},
        {3, 0x81, 4, 0, 1, 1, 0},
        {4, 0x81, 3, 0, 1, 0, 1},
        {2, 0x81, 2, 0, 2, 1, 1},
        {0, 0x81, 0, 0, 0, 1, 1},
        {2, 0x81, 2, 0, 2, 0, 0},
        {1, 0x81, 2, 7, 0, 0, 0},
        {1, 0x81, 5, 7, 0, 0, 0},
        {2, 0x81, 3, 7, 0, 0, 0},
        {0, 0x81, 4, 7, 0, 0, 0},
        {5, 0x81, 5, 7, 0, 0, 0},     // range code outside the map
        {0xFF, 0x81, 1, 7, 0, 0, 0},
        {1, 0x00, 4, 6, 0, 0, 0},     // version 0 ...
        {1, 0x00, 9, 6, 0, 0, 0},     // ... before the band is looked at
        {7, 0x00, 9, 6, 0, 0, 0},
    };
    for (const Case& c : cases) {
        setStation(host, c.range, c.version, c.band);
        conn.settings().freq_subrange = c.preset;
        int code = 0;
        int version = -1;
        try {
            version = conn.identifyStation();
        } catch (int e) {
            code = e;
        }
        SCOPED_TRACE(testing::Message() << "range " << int(c.range) << " version " << int(c.version) << " band "
                                        << int(c.band) << " preset " << int(c.preset));
        EXPECT_EQ(code, c.code);
        if (c.code == 0) {
            EXPECT_EQ(version, c.version);
            EXPECT_EQ(conn.settings().freq_range, c.freqRange);
            EXPECT_EQ(conn.settings().freq_subrange, c.subrange);
        }
    }
}

TEST_F(SimStation, IdentificationRetriesEachReadAsItsOwn) {
    // Settings: one attempt only.
    faults([](sim::FaultScript& s) { s.at(0, Fault::badCrc()); });
    EXPECT_EQ(codeOf([&] { conn.identifyStation(); }), -1);
    EXPECT_EQ(host.exchangeCount(), 1);   // nothing after the failing read

    // Fine offsets: four attempts each; version: two.
    host.clearFrames();
    faults([](sim::FaultScript& s) {
        for (int i = 2; i <= 4; ++i) s.at(i, Fault::badCrc());   // k = 0 on its 4th attempt
        s.at(11, Fault::withStatus(1));                          // version, 1st attempt
    });
    EXPECT_EQ(conn.identifyStation(), 0x81);
    EXPECT_EQ(host.exchangeCount(), 1 + 1 + 3 + 6 + 2);

    faults([](sim::FaultScript& s) {
        for (int i = 14; i <= 17; ++i) s.at(i, Fault::withStatus(1));   // k = 0 fails four times
    });
    EXPECT_EQ(codeOf([&] { conn.identifyStation(); }), -2);
    EXPECT_EQ(host.exchangeCount(), 18);

    faults([](sim::FaultScript& s) {
        s.at(25, Fault::badCrc());
        s.at(26, Fault::badCrc());   // the version read, both attempts
    });
    EXPECT_EQ(codeOf([&] { conn.identifyStation(); }), -1);
    EXPECT_EQ(host.exchangeCount(), 27);
}
