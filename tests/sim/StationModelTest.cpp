#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "StationModel.h"

using namespace sim;

TEST(StationModel, DefaultStationIsReadyToBeMoved) {
    const StationModel m = makeDefaultStation();
    EXPECT_EQ(m.rom[0xC004], 0x9E);
    EXPECT_EQ(m.rom[0xC007], 1);
    EXPECT_EQ(m.rom[0xC008], 2);
    EXPECT_EQ(m.rom16(0xC002), 0x0123);
    EXPECT_EQ(m.rom16(0xC00C), 500);
    for (std::uint32_t k = 1; k < 8; ++k) EXPECT_EQ(m.rom16(0xC00C + 2 * k), 500 + k);
    for (std::uint32_t k = 0; k < 6; ++k) EXPECT_EQ(m.rom[0xC08F + 16 * k], 0);
    EXPECT_EQ(m.ram[0x0B00], 0x81);
    EXPECT_EQ(m.ram[0x0B01], 4);
    EXPECT_EQ(m.restarts, 0);

    // Diagnostics: attached, with a parent whose route row has a quality.
    EXPECT_TRUE(m.ram[0x00B7] & 0x10);
    const std::uint16_t parent = m.ram16(0x0274);
    const std::uint32_t row = (parent + 256u) * 16u;
    EXPECT_NE((m.ram[row + 14] & 0x30) >> 4, 0);
    EXPECT_NE(m.ram[0x0B04], 0);
    // Sniffer ring: slot s holds a packet whose sequence number is s modulo 4.
    for (std::uint32_t s = 0; s < 4; ++s) EXPECT_EQ(m.ram[0x0CA6 + 2 + 8 * s] & 3u, s);

    DefaultStationOptions o;
    o.system = 0x3A;
    o.channel0 = 1902;
    o.address = 0x0777;
    o.version = 0;
    const StationModel moved = makeDefaultStation(o);
    EXPECT_EQ(moved.rom[0xC004], 0x3A);
    EXPECT_EQ(moved.rom16(0xC00C), 1902);
    EXPECT_EQ(moved.rom16(0xC002), 0x0777);
    EXPECT_EQ(moved.ram[0x0B00], 0);
}

TEST(StationModel, DiagnosticsHelpersWriteTheirLayout) {
    StationModel m;
    m.ram[0x1000 + 16 * 5 + 14] = 0xCF;   // other bits of byte 14 stay
    m.setRouteRow(5, 2, 200);
    EXPECT_EQ(m.ram[0x1000 + 16 * 5 + 14], 0xEF);
    EXPECT_EQ(m.ram[0x1000 + 16 * 5 + 15], 200);
    m.setRouteRow(8191, 3, 1);
    EXPECT_EQ(m.ram[0x20FF0 + 14] & 0x30, 0x30);
    const StationModel before = m;
    m.setRouteRow(8192, 3, 1);   // past the table: ignored
    m.setRouteRow(-1, 3, 1);
    EXPECT_EQ(m.ram, before.ram);

    m.pushSnifferPacket({13, 0x9E, 0x1234, 0xABCD, 33, 0xB, 0x3});
    const std::uint8_t* slot = m.ram.data() + 0x0CA6 + 2 + 8 * 1;
    EXPECT_EQ(std::vector<std::uint8_t>(slot, slot + 8),
              (std::vector<std::uint8_t>{13, 0x9E, 0x34, 0x12, 0xCD, 0xAB, 33, 0x3B}));
    m.setRom16(0xFFFF, 0x1234);   // would run past ROM: ignored
    EXPECT_EQ(m.rom[0xFFFF], 0);
    EXPECT_EQ(m.rom16(0xFFFF), 0);
}

TEST(StationModel, StateFileRoundTripsAndRejectsDamage) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("rc-sim-state-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "station.state").string();

    StationModel m = makeDefaultStation();
    m.rom[0xC004] = 0x3A;
    m.ram[0x20FFF] = 0x77;
    m.restarts = 3;
    ASSERT_TRUE(saveStationState(m, path));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    StationModel back;
    ASSERT_TRUE(loadStationState(back, path));
    EXPECT_EQ(back.rom, m.rom);
    EXPECT_EQ(back.ram, m.ram);
    EXPECT_EQ(back.restarts, 3);

    // Cut short, lengthened or foreign files leave the model as it was.
    const auto size = std::filesystem::file_size(path);
    StationModel untouched = makeDefaultStation();
    std::filesystem::resize_file(path, size - 1);
    EXPECT_FALSE(loadStationState(untouched, path));
    std::filesystem::resize_file(path, size + 1);
    EXPECT_FALSE(loadStationState(untouched, path));
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a station";
    }
    EXPECT_FALSE(loadStationState(untouched, path));
    EXPECT_FALSE(loadStationState(untouched, (dir / "missing").string()));
    EXPECT_EQ(untouched.rom[0xC004], 0x9E);
    EXPECT_FALSE(saveStationState(m, (dir / "no" / "such" / "dir").string()));
    std::filesystem::remove_all(dir);
}
