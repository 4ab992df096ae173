// The frame CRC: the table, the worked frames byte for byte, and that every
// single-bit error is caught.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Crc16Table.h"

namespace {

std::vector<std::uint8_t> withCrc(std::vector<std::uint8_t> bytes) {
    Crc16Table crc;
    bytes.resize(bytes.size() + 2);
    crc.appendCrc(bytes.data(), bytes.size() - 2);
    return bytes;
}

using Bytes = std::vector<std::uint8_t>;

}  // namespace

TEST(Crc16Table, TableIsTheMsbFirstTableOf0x1021) {
    Crc16Table crc;
    EXPECT_EQ(crc.entry(0), 0x0000);
    EXPECT_EQ(crc.entry(1), 0x1021);
    EXPECT_EQ(crc.entry(2), 0x2042);
    EXPECT_EQ(crc.entry(0x80), 0x9188);
    EXPECT_EQ(crc.entry(0xFF), 0x1EF0);
}

TEST(Crc16Table, WorkedFramesByteForByte) {
    EXPECT_EQ(withCrc({0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10}), (Bytes{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10, 0x44, 0xE7}));
    EXPECT_EQ(withCrc({0xDA, 0x00, 0xDD}), (Bytes{0xDA, 0x00, 0xDD, 0xB8, 0x85}));
    EXPECT_EQ(withCrc({0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82}), (Bytes{0xDA, 0x03, 0x05, 0x0B, 0x00, 0x82, 0x31, 0x1A}));
    EXPECT_EQ(withCrc({0xAD, 0x00, 0x00}), (Bytes{0xAD, 0x00, 0x00, 0xFF, 0xCD}));
    EXPECT_EQ(withCrc({0xDA, 0x04, 0x06, 0xC0, 0x04, 0x00, 0x3A}),
              (Bytes{0xDA, 0x04, 0x06, 0xC0, 0x04, 0x00, 0x3A, 0x81, 0x79}));
}

TEST(Crc16Table, IsCrc16Xmodem) {
    const Bytes abc = withCrc({'a', 'b', 'c'});
    EXPECT_EQ(abc[3], 0x9D);
    EXPECT_EQ(abc[4], 0xD6);

    const char* check = "123456789";
    const Bytes nine = withCrc(Bytes(check, check + std::strlen(check)));
    EXPECT_EQ((nine[9] << 8) | nine[10], 0x31C3);
}

TEST(Crc16Table, CheckAcceptsIntactFramesAndCatchesEverySingleBitFlip) {
    Crc16Table crc;
    for (const Bytes& frame : {withCrc({0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10}), withCrc({0xAD, 0x00, 0x00}),
                               withCrc({0xAD, 0x02, 0x00, 0x81, 0x04})}) {
        ASSERT_TRUE(crc.checkCrc(frame.data(), frame.size()));
        for (std::size_t byte = 0; byte < frame.size(); ++byte) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes bad = frame;
                bad[byte] ^= static_cast<std::uint8_t>(1u << bit);
                EXPECT_FALSE(crc.checkCrc(bad.data(), bad.size())) << "byte " << byte << " bit " << bit;
            }
        }
    }
}

TEST(Crc16Table, ZeroCrcBytesGetNoSpecialTreatment) {
    Crc16Table crc;
    // All-zero bytes have CRC 0x0000, so 00 00 00 00 00 is intact ...
    const Bytes zeros(5, 0x00);
    EXPECT_TRUE(crc.checkCrc(zeros.data(), zeros.size()));
    // ... but zero CRC bytes behind a frame whose CRC is not zero are not.
    const Bytes reply{0xAD, 0x00, 0x00, 0x00, 0x00};
    EXPECT_FALSE(crc.checkCrc(reply.data(), reply.size()));
    // The check is the register ending at zero, whatever the length.
    EXPECT_TRUE(crc.checkCrc(zeros.data(), 1));
    const Bytes one{0x01};
    EXPECT_FALSE(crc.checkCrc(one.data(), one.size()));
}

TEST(Crc16Table, AGeneratorWrittenWithoutItsX16TermBuildsTheSameTable) {
    const Crc16Table full(0x11021), shortForm(0x1021);
    const Bytes frame{0xDA, 0x03, 0x05, 0xC0, 0x00, 0x10};
    Bytes a = frame, b = frame;
    a.resize(8);
    b.resize(8);
    full.appendCrc(a.data(), frame.size());
    shortForm.appendCrc(b.data(), frame.size());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[6], 0x44);
    EXPECT_EQ(a[7], 0xE7);
}
