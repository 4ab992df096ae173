// The UTF-8 codec behind device paths: each form at the edges of its length,
// and the sequences a path from the file system may hold but must not pass.
#include <gtest/gtest.h>

#include "Utf8.h"

TEST(Utf8, EachLengthEncodesAndDecodesAtItsEdges) {
    const struct {
        std::uint32_t cp;
        const char* bytes;
    } cases[] = {
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x41F, "\xD0\x9F"},   // Cyrillic capital Pe
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFD, "\xEF\xBF\xBD"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        std::string encoded;
        utf8::append(encoded, c.cp);
        EXPECT_EQ(encoded, c.bytes) << std::hex << c.cp;
        std::size_t i = 0;
        std::uint32_t decoded = 0;
        ASSERT_TRUE(utf8::decode(encoded, i, decoded)) << std::hex << c.cp;
        EXPECT_EQ(decoded, c.cp);
        EXPECT_EQ(i, encoded.size());
    }
}

TEST(Utf8, MalformedSequencesAreRefusedWithoutMoving) {
    const char* cases[] = {
        "\x80",               // a continuation byte first
        "\xFF",               // no lead byte at all
        "\xD0",               // cut short
        "\xE0\xA0",           // cut short
        "\xD0\x41",           // no continuation
        "\xC0\xAF",           // overlong '/'
        "\xE0\x80\xAF",       // overlong '/'
        "\xED\xA0\x80",       // a surrogate
        "\xF4\x90\x80\x80",   // beyond Unicode
    };
    for (const char* bytes : cases) {
        std::size_t i = 0;
        std::uint32_t cp = 0;
        EXPECT_FALSE(utf8::decode(bytes, i, cp)) << bytes;
        EXPECT_EQ(i, 0u);
    }
}

TEST(Utf8, BeyondTheBasicPlaneAWideStringHoldsOneCharacterOrAPair) {
    std::wstring wide;
    utf8::appendWide(wide, 0x1F4E1);
    if (sizeof(wchar_t) == 2) {
        EXPECT_EQ(wide, std::wstring({static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDCE1)}));
    } else {
        EXPECT_EQ(wide, std::wstring(1, static_cast<wchar_t>(0x1F4E1)));
    }
}
