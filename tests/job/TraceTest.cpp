#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "TraceCapture.h"

namespace {
std::vector<std::uint8_t> sequence(int count, int first = 0) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    std::iota(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(first));
    return bytes;
}
}  // namespace

TEST(DumpHex, WritesTwoUpperCaseDigitsAndTheSeparatorAfterEveryByte) {
    TraceCapture trace;
    const std::uint8_t bytes[] = {0x00, 0x0A, 0xAB, 0xFF};
    dumpHex(bytes, 4, ' ');
    EXPECT_EQ(trace.text(), "00 0A AB FF \n");

    trace.clear();
    dumpHex(bytes, 3, ';');
    EXPECT_EQ(trace.text(), "00;0A;AB;\n");
}

TEST(DumpHex, BreaksLinesAfterEverySixteenthByteAndAfterAPartialLast) {
    TraceCapture trace;
    const auto bytes = sequence(33, 0xF0);
    dumpHex(bytes.data(), 16, ' ');
    EXPECT_EQ(trace.text(), "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF \n");

    trace.clear();
    dumpHex(bytes.data(), 17, ' ');
    EXPECT_EQ(trace.text(),
              "F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF \n"
              "00 \n");

    trace.clear();
    dumpHex(bytes.data(), 32, ' ');
    EXPECT_EQ(trace.lines().size(), 2u);
    EXPECT_EQ(trace.text().back(), '\n');
    EXPECT_EQ(trace.text().find("\n\n"), std::string::npos);
}

TEST(DumpHex, ZeroBytesWriteNothingAtAll) {
    TraceCapture trace;
    const std::uint8_t byte = 0x55;
    dumpHex(&byte, 0, ' ');
    dumpHexWithAddress(&byte, 0, 0xC000);
    EXPECT_EQ(trace.text(), "");
}

TEST(DumpHexWithAddress, LeadsEachLineWithTheAddressOfItsFirstByte) {
    TraceCapture trace;
    const auto bytes = sequence(20);
    dumpHexWithAddress(bytes.data(), 20, 0x100);
    EXPECT_EQ(trace.text(),
              "00000100: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
              "00000110: 10 11 12 13 \n");

    trace.clear();
    const auto block = sequence(32, 0xA0);
    dumpHexWithAddress(block.data(), 32, 0xC000);
    EXPECT_EQ(trace.text(),
              "0000C000: A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF \n"
              "0000C010: B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB BC BD BE BF \n");

    trace.clear();
    dumpHexWithAddress(block.data(), 1, 0xDEADBEEF);
    EXPECT_EQ(trace.text(), "DEADBEEF: A0 \n");
}

TEST(TraceStream, RedirectionEndsWithNullptr) {
    std::ostringstream first;
    setTraceStream(&first);
    EXPECT_EQ(&traceStream(), &first);
    setTraceStream(nullptr);
    EXPECT_EQ(&traceStream(), &std::cout);
}
