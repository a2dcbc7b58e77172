// Serial numbers for production: how a number is written into a board's copy of the image, and
// the counter file that hands each number out once, to threads with files of their own as to
// other processes, and is never found half-written.
#include "ImageFileTestKit.h"
#include "SerialCounter.h"
#include "SerialPatch.h"

#include <QFileInfo>

#include <atomic>
#include <set>
#include <thread>

#include <unistd.h>

using namespace imagetest;

TEST(SerialPatch, WritesTheNumberInItsFormatOnlyInsideTheImageAndOnlyWhenItFits) {
    constexpr uint32_t Start = 0x1000;
    const TBytes image = RandomBytes(16, 4);
    const struct {
        const char* Format;
        uint64_t Number;
        uint32_t At;
        TBytes Bytes;        // at At in the copy; empty: refused
        const char* Refusal; // a part of the reason
    } cases[] = {
        {"u32le", 0x12345678, Start, {0x78, 0x56, 0x34, 0x12}, ""},
        {"u32be", 0x12345678, Start + 12, {0x12, 0x34, 0x56, 0x78}, ""},
        {"ascii:6", 4711, Start + 3, {'0', '0', '4', '7', '1', '1'}, ""},
        {"ascii:15", 999999999999999, Start + 1, TBytes(15, '9'), ""},
        {"u32le", 0x100000000, Start, {}, "does not fit u32le (at most 4294967295)"},
        {"ascii:3", 1000, Start, {}, "does not fit ascii:3 (at most 999)"},
        {"u32le", 1, Start + 13, {}, "do not lie inside the image (0x00001000-0x0000100F)"},
        {"u32be", 1, Start - 1, {}, "do not lie inside the image"},
        {"ascii:16", 1, Start, {}, "no serial number format"},
        {"ascii:0", 1, Start, {}, "no serial number format"},
        {"u16", 1, Start, {}, "no serial number format"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.Format) + " " + std::to_string(test.Number));
        TSerialPlace place;
        place.At = test.At;
        TBytes bytes;
        std::string error;
        const bool ok = ParseSerialFormat(test.Format, place.Format, error) &&
                        place.Inside(Start, static_cast<int64_t>(image.size()), error) &&
                        place.Encode(test.Number, bytes, error);
        EXPECT_EQ(ok, !test.Bytes.empty());
        EXPECT_NE(error.find(test.Refusal), std::string::npos) << error;
        if (!ok)
            continue;
        TBytes expected = image;
        std::copy(test.Bytes.begin(), test.Bytes.end(), expected.begin() + (test.At - Start));
        EXPECT_EQ(place.Patched(image.data(), Start, image.size(), bytes), expected);
    }
}

TEST(SerialCounter, TakesOnlyAWholeNumberWithinTheFormatAndLeavesARefusedFileAsItWas) {
    const std::string tooLong = std::string(64, ' ') + "1";
    const struct {
        const char* Name;
        const char* Content; // null: no file
        int64_t Next;        // what a peek finds; -1: the file is refused
        bool Taken;          // with 100 the largest number
    } cases[] = {
        {"a line", "41\n", 41, true},
        {"spaces and CRLF", " 7 \r\n", 7, true},
        {"no line end", "0", 0, true},
        {"the largest", "100\n", 100, true},
        {"beyond the largest", "101\n", 101, false},
        {"missing", nullptr, -1, false},
        {"empty", "", -1, false},
        {"not a number", "12x\n", -1, false},
        {"negative", "-1\n", -1, false},
        {"two lines", "1\n2\n", -1, false},
        {"too large", "184467440737095516160\n", -1, false},
        {"too long", tooLong.c_str(), -1, false},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        TScratch scratch;
        const std::string path =
            test.Content ? scratch.Write("next", std::string(test.Content)) : scratch.Path("next");
        TSerialCounter counter(path);
        uint64_t peeked = 0, taken = 0;
        std::string error;
        EXPECT_EQ(counter.Peek(peeked, &error), test.Next >= 0);
        EXPECT_EQ(counter.Take(100, taken, &error), test.Taken);
        if (!test.Taken) {
            EXPECT_NE(error.find(path), std::string::npos) << error;
            EXPECT_EQ(QFile::exists(Q(path)), test.Content != nullptr);
            if (test.Content) {
                EXPECT_EQ(TScratch::ReadText(path), test.Content);
            }
            continue;
        }
        EXPECT_EQ(peeked, static_cast<uint64_t>(test.Next));
        EXPECT_EQ(taken, static_cast<uint64_t>(test.Next));
        EXPECT_EQ(TScratch::ReadText(path), std::to_string(test.Next + 1) + "\n");
    }
}

// Each thread opens the file on its own, as another process would: only the file's lock keeps
// them apart. A reader that takes no lock, as a crash would find the file, sees whole numbers.
TEST(SerialCounter, HandsEachNumberOutOnceAndIsNeverSeenHalfWritten) {
    constexpr int Threads = 4, Takes = 60;
    TScratch scratch;
    const std::string real = scratch.Write("next", std::string("1000\n"));
    const std::string link = scratch.Path("link");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    std::atomic<bool> done{false};
    std::set<std::string> seen;
    std::thread reader([&] {
        while (!done)
            seen.insert(TScratch::ReadText(real));
    });
    std::vector<std::vector<uint64_t>> taken(Threads);
    std::vector<std::thread> takers;
    for (int t = 0; t < Threads; ++t)
        takers.emplace_back([&, t] {
            TSerialCounter counter(t % 2 ? link : real); // through a link, the file it leads to
            for (int i = 0; i < Takes; ++i) {
                uint64_t number = 0;
                std::string error;
                EXPECT_TRUE(counter.Take(UINT32_MAX, number, &error)) << error;
                taken[t].push_back(number);
            }
        });
    for (std::thread& taker : takers)
        taker.join();
    done = true;
    reader.join();

    std::set<uint64_t> all;
    for (const std::vector<uint64_t>& numbers : taken)
        all.insert(numbers.begin(), numbers.end());
    EXPECT_EQ(all.size(), size_t{Threads * Takes}) << "a number was handed out twice";
    EXPECT_EQ(*all.begin(), 1000u);
    EXPECT_EQ(*all.rbegin(), 1000u + Threads * Takes - 1);
    EXPECT_EQ(TScratch::ReadText(real), std::to_string(1000 + Threads * Takes) + "\n");
    EXPECT_EQ(QFileInfo(Q(link)).symLinkTarget(), Q(real));
    for (const std::string& text : seen) {
        uint64_t number = 0;
        std::string error;
        EXPECT_TRUE(TSerialCounter(scratch.Write("seen", text)).Peek(number, &error)) << text;
    }
}
