#include "TString.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// Every changing operation must leave a copy that shared the body untouched.
template <class TChange> void ExpectCopyUnchanged(const char* text, TChange change) {
    TString original(text);
    TString copy(original);
    ASSERT_EQ(original(), copy()); // shared body
    change(copy);
    EXPECT_STREQ(text, original()) << "changed through a copy: now \"" << copy() << "\"";
}

} // namespace

TEST(TStringConstruction, BuildsTextFromEachSource) {
    EXPECT_STREQ("", TString()());
    EXPECT_STREQ("xxxxx", TString(5, 'x')());
    EXPECT_STREQ("-12", TString(-12)());
    EXPECT_STREQ("3.14", TString(3.14159)());
    EXPECT_STREQ("1.50", TString(1.5)());
    EXPECT_STREQ("abc", TString("abc", 10)());
    EXPECT_STREQ("ab", TString("abc", 2)());
    EXPECT_EQ(3, TString("abc").Length());
    EXPECT_FALSE(TString(" ").IsBlank());
    EXPECT_TRUE(TString("").IsBlank());
}

TEST(TStringConstruction, HugeDoubleIsFormattedWhole) {
    TString big(1e70);
    EXPECT_EQ(74, big.Length()); // 71 digits, point, two decimals
    EXPECT_EQ(".00", std::string(big()).substr(71));
}

TEST(TStringCopyOnWrite, CopiesShareUntilChanged) {
    TString a("shared");
    TString b(a);
    TString c;
    c = a;
    EXPECT_EQ(a(), b());
    EXPECT_EQ(a(), c());
    b += "!";
    EXPECT_NE(a(), b());
    EXPECT_STREQ("shared", a());
    EXPECT_STREQ("shared", c());
    EXPECT_STREQ("shared!", b());
}

TEST(TStringCopyOnWrite, EveryChangeLeavesTheOtherHandleAlone) {
    ExpectCopyUnchanged("abc", [](TString& s) { s += "d"; });
    ExpectCopyUnchanged("abc", [](TString& s) { s += 'd'; });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Insert("x", 1); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Replace("x", 1); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Replace('b', 'x'); });
    ExpectCopyUnchanged("abc", [](TString& s) { s(0) = 'x'; });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Remove(0, 1); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Remove('a'); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Remove("ab"); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Keep("a"); });
    ExpectCopyUnchanged("a1b", [](TString& s) { s.IntegerOnly(); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.LimitLength(1); });
    ExpectCopyUnchanged(" a ", [](TString& s) { s.RLTrim(); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.RJust(9); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.Centre(9); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.ToUpper(); });
    ExpectCopyUnchanged("ABC", [](TString& s) { s.ToLower(); });
    ExpectCopyUnchanged("a b", [](TString& s) { s.ToUpperFirstChrs(); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.PreAllocate(2); });
    ExpectCopyUnchanged("abc", [](TString& s) { s.sprintf("%d", 7); });
    ExpectCopyUnchanged("a9", [](TString& s) { ++s; });
    ExpectCopyUnchanged("abc", [](TString& s) { s = "other"; });
}

TEST(TStringCopyOnWrite, ExchangeSwapsBodiesWithoutCopying) {
    TString a("first");
    TString b("second");
    const char* textA = a();
    const char* textB = b();
    a.Exchange(&b);
    EXPECT_EQ(textB, a());
    EXPECT_EQ(textA, b());
}

TEST(TStringAssignment, SelfAssignmentKeepsText) {
    TString s("self");
    TString& alias = s;
    s = alias;
    EXPECT_STREQ("self", s());
    s = s();
    EXPECT_STREQ("self", s());
    s = 42;
    EXPECT_STREQ("42", s());
    s = 2.0;
    EXPECT_STREQ("2.00", s());
}

TEST(TStringAssignment, OwnTextAsArgumentIsSafe) {
    TString s("abcdefg"); // 8-byte buffer, the append below must reallocate
    s += s();
    EXPECT_STREQ("abcdefgabcdefg", s());
    s.Insert(s, 2);
    EXPECT_STREQ("ababcdefgabcdefgcdefgabcdefg", s());
    TString t("0123456");
    t.Replace(t() + 1, 6, 3);
    EXPECT_STREQ("012123456", t());
    TString u("value");
    u.sprintf("[%s]", u());
    EXPECT_STREQ("[value]", u());
}

TEST(TStringAccess, IndexingChecksPosition) {
    TString s("ab");
    EXPECT_EQ('b', s[1]);
    EXPECT_EQ('\0', s[2]);
    EXPECT_THROW(s[3], TAssertionFailure);
    EXPECT_THROW(s(3), TAssertionFailure);
    try {
        s[5];
    } catch (const TAssertionFailure& failure) {
        EXPECT_STREQ("Position <= Length()", failure.Condition());
        EXPECT_STREQ("CommonLib/TString", failure.Unit());
    }
}

TEST(TStringSearch, FindsCharactersAndSubstrings) {
    TString s("Hello World");
    EXPECT_EQ(4, s.Find('o'));
    EXPECT_EQ(s.Length(), s.Find(0));
    EXPECT_EQ(-1, s.Find('z'));
    EXPECT_EQ(6, s.Find("World"));
    EXPECT_EQ(0, s.Find(""));
    EXPECT_EQ(-1, s.Find("world"));
    EXPECT_EQ(6, s.FindI("wORLD"));
    EXPECT_EQ(6, s.Find("world", true));
    EXPECT_EQ(-1, s.Find("world", false));
    EXPECT_EQ(0, s.FindI('h'));
    EXPECT_EQ(3, s.Count('l'));
    EXPECT_EQ(-1, TString("abc").Find("zz"));
    EXPECT_EQ('a' + 'b', TString("ab").HashValue());
    EXPECT_EQ(TString("ba").HashValue(), TString("ab").HashValue());
    EXPECT_EQ(0xFF, TString("\xFF").HashValue()); // bytes count unsigned
}

TEST(TStringCompare, OrdersBytesUnsignedAndIgnoresCaseOnRequest) {
    EXPECT_LT(TString("abc").Compare("abd", false), 0);
    EXPECT_GT(TString("abd").Compare("abc", false), 0);
    EXPECT_LT(TString("ab").Compare("abc", false), 0);
    EXPECT_GT(TString("\xE9").Compare("z", false), 0); // above 127 sorts after ASCII
    EXPECT_NE(0, TString("EB40A").Compare("eb40a", false));
    EXPECT_EQ(0, TString("EB40A").Compare("eb40a", true));
    EXPECT_TRUE(TString("Flash").Equals("FLASH", true));
    EXPECT_FALSE(TString("Flash").Equals("FLASH", false));
    TString a("x");
    TString b("x");
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == "x");
    EXPECT_TRUE("x" == a);
    EXPECT_FALSE(a != b);
    EXPECT_TRUE(a != "y");
    EXPECT_TRUE("y" != a);
}

TEST(TStringConvert, ReadsLeadingDecimalNumber) {
    EXPECT_EQ(42, TString("  42abc").ToInt());
    EXPECT_EQ(-7, TString("-7").ToInt());
    EXPECT_EQ(5, TString("+5").ToInt());
    EXPECT_EQ(0, TString("abc").ToInt());
    EXPECT_EQ(0, TString("").ToInt());
}

TEST(TStringParts, LeftRightMidClampToText) {
    TString s("abcdef");
    EXPECT_STREQ("abc", s.Left(3)());
    EXPECT_STREQ("abcdef", s.Left(99)());
    EXPECT_STREQ("", s.Left(-1)());
    EXPECT_STREQ("def", s.Right(3)());
    EXPECT_STREQ("abcdef", s.Right(99)());
    EXPECT_STREQ("", s.Right(0)());
    EXPECT_STREQ("cd", s.Mid(2, 2)());
    EXPECT_STREQ("ef", s.Mid(4, 99)());
    EXPECT_STREQ("", s.Mid(99, 2)());
    EXPECT_STREQ("abcdef!", (s + "!")());
}

TEST(TStringEdit, InsertReplaceRemoveFillAndClamp) {
    TString s("abc");
    s.Insert("xy", 2, 10);
    EXPECT_STREQ("abc       xy", s());
    TString r("abc");
    r.Replace("Z", 1, 5);
    EXPECT_STREQ("abc  Z", r());
    TString o("abcdef");
    o.Replace("XY", 1);
    EXPECT_STREQ("aXYdef", o());
    o.Replace("1234567", 4);
    EXPECT_STREQ("aXYd1234567", o());
    TString m("abc");
    m.Remove(5, 3);
    EXPECT_STREQ("abc", m());
    m.Remove(1, 100);
    EXPECT_STREQ("a", m());
    TString ins("ac");
    ins.Insert("b", 1);
    EXPECT_STREQ("abc", ins());
    ins += 'd';
    EXPECT_STREQ("abcd", ins());
    ins += 65;
    EXPECT_STREQ("abcdA", ins());
}

TEST(TStringEdit, FiltersRemoveAndKeepCharacters) {
    TString s("a-b-c");
    s.Remove('-');
    EXPECT_STREQ("abc", s());
    TString set("0x1F:2E");
    set.Remove("x:");
    EXPECT_STREQ("01F2E", set());
    TString keep("A1-B2");
    keep.Keep("0123456789");
    EXPECT_STREQ("12", keep());
    TString digits("-12.5e3");
    digits.IntegerOnly();
    EXPECT_STREQ("1253", digits());
    TString limit("abcdef");
    limit.LimitLength(2);
    EXPECT_STREQ("ab", limit());
    limit.LimitLength(10);
    EXPECT_STREQ("ab", limit());
}

TEST(TStringEdit, TrimsOnlySpacesAndJustifies) {
    TString s("  a b \t ");
    s.RTrim();
    EXPECT_STREQ("  a b \t", s());
    s.LTrim();
    EXPECT_STREQ("a b \t", s());
    TString both("   x   ");
    both.RLTrim();
    EXPECT_STREQ("x", both());
    TString blank("    ");
    blank.RLTrim();
    EXPECT_TRUE(blank.IsBlank());
    TString r("ab");
    r.RJust(6);
    EXPECT_STREQ("    ab", r());
    TString c("ab");
    c.Centre(7);
    EXPECT_STREQ("  ab", c());
    TString wide("abc");
    wide.RJust(1);
    wide.Centre(2);
    EXPECT_STREQ("abc", wide());
}

TEST(TStringEdit, ChangesCase) {
    TString s("flash Sector one");
    s.ToUpperFirstChrs();
    EXPECT_STREQ("Flash Sector One", s());
    s.ToUpper();
    EXPECT_STREQ("FLASH SECTOR ONE", s());
    s.ToLower();
    EXPECT_STREQ("flash sector one", s());
    TString empty;
    empty.ToUpperFirstChrs();
    EXPECT_TRUE(empty.IsBlank());
}

TEST(TStringFormat, SprintfAssignsAndRefusesOverlongResults) {
    TString s("old");
    EXPECT_EQ(10, s.sprintf("0x%04X%04X", 0x10, 0xABCD));
    EXPECT_STREQ("0x0010ABCD", s());
    const std::string fits(511, 'a');
    EXPECT_EQ(511, s.sprintf("%s", fits.c_str()));
    const std::string tooLong(512, 'b');
    try {
        s.sprintf("%s", tooLong.c_str());
        FAIL() << "an over-long result was accepted";
    } catch (const TAssertionFailure& failure) {
        EXPECT_STREQ("strlen(Temp) < 512", failure.Condition());
    }
    EXPECT_EQ(511, s.Length()); // unchanged by the refused call
}

TEST(TStringIncrement, CountsUpTrailingNumber) {
    const char* cases[][2] = {{"File9", "File10"}, {"A009", "A010"}, {"A99", "A100"},
                              {"Copy", "Copy1"},   {"", "1"},        {"9", "10"},
                              {"x099", "x100"},    {"7a", "7a1"}};
    for (auto& c : cases) {
        TString s(c[0]);
        ++s;
        EXPECT_STREQ(c[1], s()) << "from \"" << c[0] << "\"";
    }
}

TEST(TStringEdit, NullTextCountsAsEmpty) {
    const char* none = nullptr;
    TString s(none);
    EXPECT_TRUE(s.IsBlank());
    s = "abc";
    s += none;
    s.Insert(none, 5, 1);
    s.Replace(none, 2);
    s.Remove(none);
    EXPECT_STREQ("abc", s());
    EXPECT_FALSE(s == none);
    EXPECT_EQ(0, s.Find(none));
}

TEST(TStringBlank, BlankStringIsEmptyAndShared) {
    EXPECT_TRUE(BlankString.IsBlank());
    TString copy(BlankString);
    copy += "x";
    EXPECT_TRUE(BlankString.IsBlank());
}

TEST(TStringBuffer, BlockLengthRoundsUpToNextMultipleOfEight) {
    const int cases[][2] = {{0, 8}, {7, 8}, {8, 16}, {15, 16}, {16, 24}};
    for (auto& c : cases)
        EXPECT_EQ(c[1], TRealString::BlockLength(c[0])) << c[0];
    EXPECT_EQ(8, TString().Allocated());
    EXPECT_EQ(16, TString("12345678").Allocated());
}

TEST(TStringBuffer, AppendingGrowsAtTheBlockBoundariesByDoubling) {
    TString s;
    std::vector<int> growth; // lengths after which the buffer had grown
    int allocated = s.Allocated();
    for (int i = 1; i <= 40; i++) {
        s += 'a';
        if (s.Allocated() != allocated) {
            growth.push_back(i);
            allocated = s.Allocated();
        }
        ASSERT_GT(s.Allocated(), s.Length());
    }
    EXPECT_EQ((std::vector<int>{8, 16, 32}), growth);
    EXPECT_EQ(64, s.Allocated());
    EXPECT_EQ(std::string(40, 'a'), s());
}

TEST(TStringBuffer, InsertGrowsToTheLargerOfFitAndDouble) {
    TString s("abc"); // 8 bytes
    s.Insert(std::string(20, 'x').c_str(), 0);
    EXPECT_EQ(24, s.Allocated()); // BlockLength(23) beats doubling
    s.Insert("y", 23);
    EXPECT_EQ(48, s.Allocated()); // doubling beats BlockLength(24)
}

TEST(TStringBuffer, RemovingShrinksOnceLessThanHalfUsed) {
    TString s(std::string(40, 'a').c_str()); // 48 bytes
    EXPECT_EQ(48, s.Allocated());
    s.Remove(0, 20); // 20 is not below 48/2 - 4
    EXPECT_EQ(48, s.Allocated());
    s.Remove(0, 1); // 19 is
    EXPECT_EQ(TRealString::BlockLength(19), s.Allocated());
    EXPECT_EQ(std::string(19, 'a'), s());
    TString big(std::string(63, 'b').c_str()); // 64 bytes
    big.LimitLength(28);
    EXPECT_EQ(64, big.Allocated());
    big.LimitLength(27);
    EXPECT_EQ(32, big.Allocated());
    TString filtered(std::string(60, '-').c_str());
    filtered.Remove('-');
    EXPECT_EQ(8, filtered.Allocated());
}

TEST(TStringBuffer, TextBeyondTheLengthRangeIsOutOfMemory) {
    TString s("abc");
    try {
        s.Replace("x", 1, 0x7FFFFFFF - 4);
        FAIL() << "a text longer than a length can hold was accepted";
    } catch (const TException& error) {
        EXPECT_STREQ("Out of memory", error.Message());
    }
    EXPECT_THROW(s.Insert("x", 0x7FFFFFFF, 0), TException);
    EXPECT_STREQ("abc", s()); // the old text is kept
    EXPECT_EQ(8, s.Allocated());
}

TEST(TStringBuffer, PreAllocateDiscardsTextForSpaces) {
    TString s("old text");
    s.PreAllocate(20);
    EXPECT_EQ(std::string(20, ' '), s());
    EXPECT_EQ(24, s.Allocated());
}

TEST(TStringWords, CountsAndPicksSpaceSeparatedWords) {
    TString s("  one  two ");
    EXPECT_EQ(2, s.Words());
    EXPECT_STREQ("one", s.Word(0)());
    EXPECT_STREQ("two", s.Word(1)());
    EXPECT_STREQ("", s.Word(2)());
    EXPECT_EQ(2, s.WordPos(0));
    EXPECT_EQ(7, s.WordPos(1));
    EXPECT_EQ(-1, TString("one two").WordPos(2));
    EXPECT_EQ(8, TString("one two ").WordPos(2));
    EXPECT_EQ(0, TString("   ").Words());
    EXPECT_EQ(3, TString("   ").WordPos(1));
    EXPECT_EQ(0, TString("").WordPos(3));
    EXPECT_STREQ("", TString("one two").Word(5)());
    EXPECT_EQ(1, TString("a\tb").Words()); // only spaces separate
}

TEST(TStringFields, SplitsOnSeparatorWithQuoteGrouping) {
    EXPECT_EQ(3, TString("a;b;c").AsciiWords(';', false));
    EXPECT_EQ(2, TString("a;").AsciiWords(';', false));
    EXPECT_EQ(2, TString(";").AsciiWords(';', false));
    EXPECT_EQ(2, TString("\"a;b\";c").AsciiWords(';', false));
    EXPECT_EQ(3, TString("\"a;b\";c").AsciiWords(';', true));
    EXPECT_EQ(0, TString("   ").AsciiWords(';', false));
    EXPECT_EQ(0, TString("").AsciiWords('|', false));

    TString quoted("a; \"b;c\" ;d");
    EXPECT_EQ(3, quoted.AsciiWords(';', false));
    EXPECT_STREQ("a", quoted.AsciiWord(0, ';', false)());
    EXPECT_STREQ("b;c", quoted.AsciiWord(1, ';', false)());
    EXPECT_STREQ("d", quoted.AsciiWord(2, ';', false)());
    EXPECT_STREQ("", quoted.AsciiWord(5, ';', false)());
    EXPECT_STREQ("\"b", quoted.AsciiWord(1, ';', true)());

    TString types("EB40A | 8x8K;2x32K | \"0;1\" | 0x01000000");
    EXPECT_EQ(4, types.AsciiWords('|', false));
    EXPECT_STREQ("8x8K;2x32K", types.AsciiWord(1, '|', false)());
    EXPECT_STREQ("0;1", types.AsciiWord(2, '|', false)());
    EXPECT_STREQ("", TString("a;;b").AsciiWord(1, ';', false)());
}

TEST(TStringWrap, BreaksAtSpacesAndCutsLongWords) {
    auto lines = [](const TString& text, int width, bool keepSpaces) {
        std::vector<std::string> result;
        TString line("stale");
        for (int part = 0; text.WordWrapPart(line, part, width, keepSpaces); part++) {
            result.push_back(line());
            if (part > 100)
                break;
        }
        EXPECT_TRUE(line.IsBlank()) << "a line beyond the last must be empty";
        return result;
    };
    using Lines = std::vector<std::string>;
    EXPECT_EQ((Lines{"the quick", "brown fox", "jumps"}),
              lines("the quick brown fox jumps", 10, false));
    EXPECT_EQ((Lines{"abcdefghij", "klmnopqrst", "uvwxy"}),
              lines("abcdefghijklmnopqrstuvwxy", 10, false));
    EXPECT_EQ((Lines{"aaaa", " bbbb", " cc"}), lines("aaaa bbbb cc", 5, true));
    EXPECT_EQ((Lines{"12345", "67"}), lines("12345     67", 5, false));
    EXPECT_EQ((Lines{}), lines("", 10, false));
    EXPECT_EQ((Lines{"fits exactly"}), lines("fits exactly", 12, false));

    TString text("one two three");
    EXPECT_EQ(7, text.WordWrapLength(0, 8)); // a space at the width still fits
    EXPECT_EQ(7, text.WordWrapLength(0, 7));
    EXPECT_EQ(3, text.WordWrapLength(0, 6));
    EXPECT_EQ(5, text.WordWrapLength(8, 10));
    EXPECT_EQ(1, text.WordWrapNext(3));
    EXPECT_EQ(0, text.WordWrapNext(0));
}

// Requests for no line or no word: each answers at once with nothing, and never walks the
// text without end (a negative part once counted down past INT_MIN).
TEST(TStringWrap, NegativePartsAndNarrowLinesGiveNothing) {
    const TString text("the quick brown fox");
    const struct {
        int Part;
        int Width;
    } cases[] = {{-1, 10}, {INT_MIN, 10}, {-1, 0},      {-5, -3},     {0, 0},
                 {3, 0},   {0, -1},       {INT_MAX, 0}, {INT_MAX, 10}};
    for (const auto& c : cases) {
        for (const bool keepSpaces : {false, true}) {
            TString line("stale");
            EXPECT_FALSE(text.WordWrapPart(line, c.Part, c.Width, keepSpaces))
                << c.Part << " at width " << c.Width;
            EXPECT_TRUE(line.IsBlank()) << c.Part << " at width " << c.Width;
        }
    }
    EXPECT_EQ(0, text.WordWrapLength(0, -4));

    for (const int n : {-1, INT_MIN}) {
        EXPECT_STREQ("", text.Word(n)()) << n;
        EXPECT_EQ(-1, text.WordPos(n)) << n;
        EXPECT_STREQ("", text.AsciiWord(n, ' ', false)()) << n;
    }
}
