#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "XmlNumbers.h"

using namespace station_xml;

TEST(XmlNumbers, MeanIsWrittenLikePrintfG) {
    EXPECT_EQ(formatMean(12.3456789), "12.3457");
    EXPECT_EQ(formatMean(23.5), "23.5");
    EXPECT_EQ(formatMean(0.0), "0");
    EXPECT_EQ(formatMean(-2.5), "-2.5");
    EXPECT_EQ(formatMean(1e6), "1e+06");
    EXPECT_EQ(formatMean(123456.0), "123456");
    EXPECT_EQ(formatMean(1234567.0), "1.23457e+06");
    EXPECT_EQ(formatMean(0.0001), "0.0001");
    EXPECT_EQ(formatMean(0.00001), "1e-05");
    // Against the C library itself, in the C locale this test runs under.
    const double samples[] = {1.0 / 3, 2.0 / 3, 999999.5, 9999995.0, 1e300, 5e-324, 22.5, 100.0, -0.000123456};
    for (double v : samples) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%g", v);
        EXPECT_EQ(formatMean(v), QByteArray(expected)) << v;
    }
}

TEST(XmlNumbers, IntegersFollowAtoi) {
    EXPECT_EQ(parseInt("42"), 42);
    EXPECT_EQ(parseInt("  \t-12abc"), -12);
    EXPECT_EQ(parseInt("+7"), 7);
    EXPECT_EQ(parseInt("abc"), 0);
    EXPECT_EQ(parseInt(""), 0);
    EXPECT_EQ(parseInt(nullptr), 0);
    EXPECT_EQ(parseInt("- 5"), 0);
    EXPECT_EQ(parseInt("12.9"), 12);
    EXPECT_EQ(parseInt("0x1F"), 0);
    EXPECT_EQ(parseInt("-2147483648"), -2147483647 - 1);
    // More than 32 bits: the low-order bits survive, no overflow.
    EXPECT_EQ(parseInt("4294967297"), 1);
    EXPECT_EQ(parseInt("99999999999999999999999999"), static_cast<std::int32_t>(0xE3FFFFFFu));
}

TEST(XmlNumbers, MeansFollowAtofAndBooleansTheFirstCharacter) {
    EXPECT_DOUBLE_EQ(parseMean("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(parseMean("  -3.25xyz"), -3.25);
    EXPECT_DOUBLE_EQ(parseMean("1e3"), 1000.0);
    EXPECT_DOUBLE_EQ(parseMean("12,5"), 12.0);
    EXPECT_DOUBLE_EQ(parseMean("junk"), 0.0);
    EXPECT_DOUBLE_EQ(parseMean(""), 0.0);

    for (const char* yes : {"1", "true", "True", "t", "T", "yes", "Y", "y-not"}) EXPECT_TRUE(parseBool(yes)) << yes;
    for (const char* no : {"0", "2", "false", "False", "no", "", " true"}) EXPECT_FALSE(parseBool(no)) << no;
    EXPECT_FALSE(parseBool(nullptr));

    EXPECT_EQ(formatBool(true), "true");
    EXPECT_EQ(formatBool(false), "false");
    EXPECT_EQ(formatInt(-130), "-130");
}
