// A station's address, system code and channel 0 as everything reads them
// from its parameter block, and the channel table as a move writes it.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "StationMemory.h"

TEST(StationMemoryTest, DecodesTheHeadLowByteFirstAndPacksChannel0Back) {
    const struct {
        const char* what;
        std::uint8_t bytes[5];   // at offsets 2, 3, 4, 12, 13
        std::uint16_t address;
        std::uint8_t system;
        std::uint16_t channel0;
    } cases[] = {
        {"unmoved", {0x23, 0x01, 0x9E, 0xF4, 0x01}, 0x0123, 0x9E, 500},
        {"moved", {0x01, 0x23, 0x3A, 0x6E, 0x07}, 0x2301, 0x3A, 1902},
        {"highest", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFF, 0xFFFF},
    };
    const int offsets[] = {2, 3, 4, 12, 13};
    for (const auto& c : cases) {
        std::array<std::uint8_t, 16> head;
        head.fill(0x55);   // the neighbours must not leak in
        for (int i = 0; i < 5; ++i) head[offsets[i]] = c.bytes[i];
        EXPECT_EQ(blockAddress(head.data()), c.address) << c.what;
        EXPECT_EQ(blockSystemCode(head.data()), c.system) << c.what;
        EXPECT_EQ(blockChannel0(head.data()), c.channel0) << c.what;

        std::array<std::uint16_t, 8> channels{c.channel0, 0x0102, 0, 0xFFFF, 7, 8, 9, 10};
        std::uint8_t table[16] = {};
        packChannelTable(channels, table);
        const std::vector<std::uint8_t> packed(table, table + 16);
        const std::vector<std::uint8_t> expected{c.bytes[3], c.bytes[4], 0x02, 0x01, 0, 0, 0xFF, 0xFF,
                                                 7,          0,          8,    0,    9, 0, 10,   0};
        EXPECT_EQ(packed, expected) << c.what;
    }
}
