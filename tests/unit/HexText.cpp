#include "HexText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Parses with `parse` and reports the value and how far the cursor moved.
template <typename TParse> std::pair<uint32_t, long> Parse(const char* text, TParse parse) {
    const char* cursor = text;
    const uint32_t value = parse(cursor);
    return {value, static_cast<long>(cursor - text)};
}

std::string Str(const TString& text) {
    return std::string(text());
}

} // namespace

TEST(HexParsers, ReadHighDigitsFirstAndAdvance) {
    EXPECT_EQ(Parse("3F", HexByte), std::make_pair(63u, 2L));
    EXPECT_EQ(Parse("3f", HexByte), std::make_pair(63u, 2L));
    EXPECT_EQ(Parse("aB", HexByte), std::make_pair(0xABu, 2L));
    EXPECT_EQ(Parse("0100", HexWord), std::make_pair(256u, 4L));
    EXPECT_EQ(Parse("ffFF", HexWord), std::make_pair(0xFFFFu, 4L));
    EXPECT_EQ(Parse("010000", Hex24), std::make_pair(65536u, 6L));
    EXPECT_EQ(Parse("01000000", Hex32), std::make_pair(16777216u, 8L));
    EXPECT_EQ(Parse("FFFFFFFF", Hex32), std::make_pair(0xFFFFFFFFu, 8L));
    EXPECT_EQ(Parse("12345678", Hex32), std::make_pair(0x12345678u, 8L));

    // A record is read field after field from one cursor.
    const char* cursor = "10010000FE";
    EXPECT_EQ(HexByte(cursor), 0x10);
    EXPECT_EQ(HexWord(cursor), 0x0100);
    EXPECT_EQ(HexByte(cursor), 0x00);
    EXPECT_EQ(HexByte(cursor), 0xFE);
    EXPECT_EQ(*cursor, '\0');
}

TEST(HexParsers, NeverReadPastTheEndOfTheText) {
    EXPECT_EQ(Parse("", HexByte), std::make_pair(0u, 0L));
    EXPECT_EQ(Parse("A", HexByte), std::make_pair(0xA0u, 1L));
    EXPECT_EQ(Parse("123", Hex32), std::make_pair(0x12300000u, 3L));
    // The bytes after the terminator must stay untouched.
    const char text[] = {'F', '\0', 'F', 'F', '\0'};
    EXPECT_EQ(Parse(text, HexWord), std::make_pair(0xF000u, 1L));
}

TEST(HexFormatters, UpperCaseFixedWidth) {
    EXPECT_EQ(Str(ByteToHex(0x0A)), "0A");
    EXPECT_EQ(Str(ByteToHex(0xFF)), "FF");
    EXPECT_EQ(Str(WordToHex(0x1F)), "001F");
    EXPECT_EQ(Str(WordToHex(0xABCD)), "ABCD");
    EXPECT_EQ(Str(AddrToHex(16777216)), "0x01000000");
    EXPECT_EQ(Str(AddrToHex(0xFFFFFFFF)), "0xFFFFFFFF");
    EXPECT_EQ(Str(AddrToHex(0)), "0x00000000");
    EXPECT_EQ(Str(AddrToHexDec(256)), "0x00000100 (256)");
    EXPECT_EQ(Str(AddrToHexDec(0xFFFFFFFF)), "0xFFFFFFFF (-1)");
    EXPECT_EQ(Str(AddrToHexDec(0x80000000)), "0x80000000 (-2147483648)");
}

TEST(IsHexString, OnlyUpperCaseDigits) {
    EXPECT_TRUE(IsHexString("0100FF00"));
    EXPECT_TRUE(IsHexString("0123456789ABCDEF"));
    EXPECT_TRUE(IsHexString(""));
    EXPECT_FALSE(IsHexString("0100ff00"));
    EXPECT_FALSE(IsHexString("01 00"));
    EXPECT_FALSE(IsHexString("0x0100"));
    EXPECT_FALSE(IsHexString("G"));
    EXPECT_FALSE(IsHexString("12,34"));
}

TEST(HexDump, FullLineLayout) {
    uint8_t bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<uint8_t>(0x41 + i);
    const std::string line = Str(HexDumpLine(bytes, 0x01000000, 16));
    EXPECT_EQ(line,
              "0x01000000  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50     ABCDEFGHIJKLMNOP");
    EXPECT_EQ(line.size(), 80u);
}

TEST(HexDump, ShortLineIsNotPadded) {
    const uint8_t bytes[] = {0x00, 0x1F, 0x20, 0x7F, 0x80, 0xFF, 0x7E};
    EXPECT_EQ(Str(HexDumpLine(bytes, 0x10, 7)), "0x00000010  00 1F 20 7F 80 FF 7E     .. \x7F..~");
    EXPECT_EQ(Str(HexDumpLine(bytes, 0xFFFFFFF0, 1)), "0xFFFFFFF0  00     .");
}

TEST(HexDump, LinesOfSixteenWithAShortLast) {
    uint8_t bytes[40];
    for (int i = 0; i < 40; ++i)
        bytes[i] = static_cast<uint8_t>(i);

    EXPECT_TRUE(HexDumpLines(bytes, 0x100, 0).empty());

    const auto twenty = HexDumpLines(bytes, 0x01000000, 20);
    ASSERT_EQ(twenty.size(), 2u);
    EXPECT_EQ(Str(twenty[0]), Str(HexDumpLine(bytes, 0x01000000, 16)));
    EXPECT_EQ(Str(twenty[1]), "0x01000010  10 11 12 13     ....");

    const auto exact = HexDumpLines(bytes, 0x200, 32);
    ASSERT_EQ(exact.size(), 2u);
    EXPECT_EQ(Str(exact[1]), Str(HexDumpLine(bytes + 16, 0x210, 16)));

    const auto forty = HexDumpLines(bytes, 0x300, 40);
    ASSERT_EQ(forty.size(), 3u);
    EXPECT_EQ(Str(forty[2]).substr(0, 16), "0x00000320  20 2");
    EXPECT_EQ(Str(forty[2]).size(), 12u + 8 * 3 + 4 + 8);
}
