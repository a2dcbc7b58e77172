#include "Asciidoc.h"

#include <QPlainTextEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class AsciiDocTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FTemp.isValid()); }

    std::string Path(const std::string& name) const {
        return FTemp.path().toStdString() + "/" + name;
    }
    std::string Put(const std::string& name, const std::string& content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static TAsciiDoc Doc(std::initializer_list<const char*> lines) {
        TAsciiDoc doc;
        for (const char* line : lines)
            doc.Add(TString(line));
        return doc;
    }
    static std::vector<std::string> Lines(const TAsciiDoc& doc) {
        std::vector<std::string> lines;
        for (int i = 0; i < doc.Count(); ++i)
            lines.emplace_back(doc[i](), doc[i].Length());
        return lines;
    }
    static TAsciiDoc Parse(const std::string& text) {
        TAsciiDoc doc;
        doc.LoadFromString(TString(text.c_str(), static_cast<int>(text.size())));
        return doc;
    }
    using TLines = std::vector<std::string>;

    QTemporaryDir FTemp;
};

TEST_F(AsciiDocTest, ReadsLinesFromText) {
    EXPECT_EQ(Lines(Parse("a\r\nb\nc")), (TLines{"a", "b", "c"}));
    EXPECT_EQ(Lines(Parse("a\n\nb\n")), (TLines{"a", "", "b"}));
    EXPECT_EQ(Lines(Parse("")), TLines{});
    EXPECT_EQ(Lines(Parse("a\n\x1A"
                          "b\n")),
              (TLines{"a", ""}));
    EXPECT_EQ(Lines(Parse("one\r\n  two \r\n")), (TLines{"one", "  two "}));
}

TEST_F(AsciiDocTest, WritesLinesWithCrLf) {
    TString text;
    Doc({"x", "y"}).SaveToString(text);
    EXPECT_STREQ(text(), "x\r\ny\r\n");

    TString used("an older and longer text");
    Doc({"a"}).SaveToString(used);
    EXPECT_STREQ(used(), "a\r\n");

    TString none("left");
    TAsciiDoc().SaveToString(none);
    EXPECT_TRUE(none.IsBlank());
}

TEST_F(AsciiDocTest, SavesAndLoadsDiskFiles) {
    const std::string path = Put("doc.txt", "stale content that is much longer than the new one");
    TAsciiDoc doc = Doc({"first", "", "third line"});
    for (int i = 0; i < 1000; ++i) // past the file buffer
        doc.Add(TString("filler line"));
    doc.Save(path.c_str());
    EXPECT_EQ(Contents(path).substr(0, 21), "first\r\n\r\nthird line\r\n");

    TAsciiDoc back;
    back.Load(path.c_str());
    EXPECT_TRUE(back == doc);

    // A Ctrl-Z or NUL ends the text even with more bytes already in the file buffer.
    back.Load(Put("ctrlz.txt", "a\r\n\x1A"
                               "junk\r\n")
                  .c_str());
    EXPECT_EQ(Lines(back), (TLines{"a", ""}));
    back.Load(Put("nul.txt", std::string("a\nb\0junk\n", 10)).c_str());
    EXPECT_EQ(Lines(back), (TLines{"a", "b"}));

    const std::string missing = Path("missing.txt");
    try {
        back.Load(missing.c_str());
        ADD_FAILURE() << "loading a missing file succeeded";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open: " + missing);
    }
}

TEST_F(AsciiDocTest, FindersAndComparison) {
    TAsciiDoc doc = Doc({"cab", "ABC", "abc", "x"});
    const TString ab("ab");
    EXPECT_EQ(doc.FindAtStart(ab, false), 2);
    EXPECT_EQ(doc.FindAtStart(ab, true), 1);
    EXPECT_EQ(doc.FindSubString(ab, false), 0);
    EXPECT_EQ(doc.FindFromPosition(ab, 1, false), 2);
    EXPECT_EQ(doc.FindFromPosition(ab, doc.Count(), false), -1);
    EXPECT_EQ(doc.FindFromPosition(ab, -3, false), 0);
    EXPECT_EQ(doc.FindString(TString("abc"), true), 1);
    EXPECT_EQ(doc.FindString(TString("ab"), true), -1);
    EXPECT_TRUE(doc.Contains(TString("x"), false));
    EXPECT_FALSE(doc.ContainsAtStart(TString("b"), false));
    EXPECT_TRUE(doc.ContainsSubString(TString("B"), true));

    EXPECT_TRUE(Doc({"a", "b"}) == Doc({"a", "b"}));
    EXPECT_FALSE(Doc({"a", "b"}) == Doc({"a", "B"}));
    EXPECT_FALSE(Doc({"a", "b"}) == Doc({"a", "b", ""}));
}

TEST_F(AsciiDocTest, SortCopyAndStrip) {
    TAsciiDoc doc = Doc({"b", "C", "a", "B"});
    doc.Sort(false);
    EXPECT_EQ(Lines(doc), (TLines{"B", "C", "a", "b"}));
    doc.Sort(true);
    EXPECT_EQ(Lines(doc)[0], "a");
    EXPECT_EQ(Lines(doc)[3], "C");

    TAsciiDoc copy(doc);
    copy[0] += "!";
    EXPECT_EQ(Lines(doc)[0], "a"); // lines are copies, not shared changes
    copy = copy;
    EXPECT_EQ(copy.Count(), 4);
    copy.Add(TString("first"), 0);
    EXPECT_EQ(Lines(copy)[0], "first");

    TAsciiDoc padded = Doc({"a", "", " ", "", ""});
    padded.StripTrailingBlankLines();
    EXPECT_EQ(Lines(padded), (TLines{"a", "", " "}));
}

TEST_F(AsciiDocTest, PrintsWithMarginsAndPages) {
    const std::string out = Put("printer.out", "");
    Doc({"a", "b"}).Print(out.c_str(), 2, 1, true);
    EXPECT_EQ(Contents(out), "\r\r\n  a\r\n  b\f");

    // A line ending in a form feed starts a new page with its top margin; an existing longer
    // file keeps nothing of its old content.
    Put("printer.out", std::string(200, '#'));
    Doc({"p1\f", "p2"}).Print(out.c_str(), 0, 2, false);
    EXPECT_EQ(Contents(out), "\r\r\n\r\np1\f\r\r\n\r\np2");

    const std::string missing = Path("no-device");
    EXPECT_THROW(Doc({"a"}).Print(missing.c_str(), 0, 0, false), TException);
}

TEST_F(AsciiDocTest, ExchangesLinesWithMemoAndStringList) {
    QPlainTextEdit memo;
    memo.setPlainText("old");
    Doc({"", "second", "third"}).SaveToMemo(&memo, true);
    EXPECT_EQ(memo.toPlainText(), QString("\nsecond\nthird"));
    Doc({"more"}).SaveToMemo(&memo, false);
    EXPECT_EQ(memo.toPlainText(), QString("\nsecond\nthird\nmore"));
    EXPECT_TRUE(memo.updatesEnabled());

    TAsciiDoc fromMemo;
    fromMemo.LoadFromMemo(&memo);
    EXPECT_EQ(Lines(fromMemo), (TLines{"", "second", "third", "more"}));

    QStringList list{"stale"};
    fromMemo.SaveToStringList(list);
    EXPECT_EQ(list, (QStringList{"", "second", "third", "more"}));
    TAsciiDoc fromList;
    fromList.LoadFromStringList(QStringList{"x", "y"});
    EXPECT_EQ(Lines(fromList), (TLines{"x", "y"}));
}

TEST_F(AsciiDocTest, StringFileReadsWithinItsText) {
    TString text("abc");
    TStringFile file(text);
    EXPECT_FALSE(file.AtEof());
    char buffer[4];
    EXPECT_THROW(file.Read(buffer, 4), TException);
    EXPECT_EQ(file.Tell(), 0);
    file.Seek(2);
    EXPECT_EQ(file.ReadByte(), 'c');
    EXPECT_TRUE(file.AtEof());
    EXPECT_THROW(file.ReadByte(), TException);
    file.Write("de", 2);
    EXPECT_STREQ(text(), "abcde");
    EXPECT_EQ(file.Size(), 5);

    TString high("\xE9");
    TStringFile highFile(high);
    EXPECT_EQ(highFile.ReadByte(), -23); // bytes above 127 come back as signed characters
}

} // namespace
