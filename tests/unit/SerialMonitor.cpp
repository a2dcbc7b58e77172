// The serial monitor's text and port, against the simulated board's own program.
#include "SerialMonitor.h"
#include "BoardSim.h"
#include "BoardTestKit.h"
#include "Comm.h"
#include "Eventually.h"
#include "PseudoTerminal.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace boardtest;

namespace {

// What the monitor shows within the time, once at least `lines` lines arrived.
std::string ShownLines(TSerialMonitor& monitor, size_t lines) {
    std::string shown, error;
    (void)QTest::qWaitFor(
        [&] {
            EXPECT_TRUE(monitor.Poll(20, 4096, shown, error)) << error;
            return static_cast<size_t>(std::count(shown.begin(), shown.end(), '\n')) >= lines;
        },
        3000);
    return shown;
}

// A board whose program prints its banner, then a tick every tickMs (0: none).
bool StartWithProgram(TBoardSim& board, const char* banner, int tickMs, bool running, int bootMs) {
    TProgramConfig program;
    program.Banner = {banner};
    program.TickMs = tickMs;
    board.SetProgram(program, running, bootMs);
    return board.Start();
}

} // namespace

TEST(SerialMonitorText, LineEndsControlCharactersAndSplitReadsShowAsText) {
    const std::string longLine(TMonitorText::MaxLineBytes + 3, 'x');
    const std::string x4000(4000, 'x'), y90(90, 'y'); // 4096 with six more
    struct TCase {
        std::vector<std::string> Chunks;
        std::string Shown;
    } cases[] = {
        {{"one\ntwo\n"}, "one\ntwo\n"},
        {{"one\rtwo\r"}, "one\ntwo\n"},
        {{"one\r\ntwo\r\n"}, "one\ntwo\n"},
        {{"one\r", "\ntwo\r", "\n"}, "one\ntwo\n"},   // CR+LF split between reads
        {{"a\n\nb\r\rc\r\n\r\n"}, "a\n\nb\n\nc\n\n"}, // empty lines stay
        {{"ready> "}, "ready> "},                     // a prompt shows before its line ends
        {{std::string("x\x1b[1m\x7f\0y\tz\n", 11)}, "x^[[1m^?^@y\tz\n"},
        {{"caf\xc3", "\xa9\n"}, "caf\xc3\xa9\n"}, // a character split between reads
        {{"\xff\xc3(\n"}, "<FF><C3>(\n"},         // not UTF-8
        {{"\xe2\x82\n"}, "<E2><82>\n"},           // cut off by the line end
        {{longLine + "\n"}, std::string(TMonitorText::MaxLineBytes, 'x') + "\nxxx\n"},
        {{x4000, y90, "zzzzzzzzzz\n"}, x4000 + y90 + "zzzzzz\nzzzz\n"}, // cut in the third read
    };
    for (const TCase& c : cases) {
        TMonitorText text;
        std::string shown;
        for (const std::string& chunk : c.Chunks)
            shown += text.Feed(chunk.data(), chunk.size(), 0);
        EXPECT_EQ(shown, c.Shown) << c.Shown;
    }
}

TEST(SerialMonitorText, MostlyNotTextOnlyWhenMostBytesOfEnoughAreNeitherPrintableNorLineEnds) {
    const std::string noise("\xff\x80\x00\xfe\x1b\x92\xe0\x00", 8); // a line at the wrong speed
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"Hello, board\r\n", "\tready> with a little more text"}, false},
        {{noise + noise + noise}, false},                            // too little to tell
        {{noise + noise, noise + noise}, true},                      // across reads
        {{noise + noise, "mostly text after all, tick 1\n"}, false}, // half or more is text
        {{"caf\xc3\xa9 " + noise + noise + noise + noise}, true},
    };
    for (const auto& [chunks, garbled] : cases) {
        TMonitorText text;
        for (const std::string& chunk : chunks)
            text.Feed(chunk.data(), chunk.size(), 0);
        EXPECT_EQ(text.MostlyNotText(), garbled) << chunks.front();
    }
}

TEST(SerialMonitorText, TimeStampsMarkWhenEachLineStartedAndNotesTakeLinesOfTheirOwn) {
    TMonitorText text;
    text.SetTimestamps(true);
    const int64_t base = 1700000000000; // whole seconds: the milliseconds below are exact
    std::string shown = text.Feed("ab", 2, base + 123);
    shown += text.Feed("c\nd", 3, base + 456);
    shown += text.Note("-- programming --", base + 789);
    shown += text.Feed("e\n", 2, base + 999);
    const QRegularExpression expected(
        "^\\d\\d:\\d\\d:\\d\\d\\.123 abc\n\\d\\d:\\d\\d:\\d\\d\\.456 d\n"
        "\\d\\d:\\d\\d:\\d\\d\\.789 -- programming --\n\\d\\d:\\d\\d:\\d\\d\\.999 e\n$");
    EXPECT_TRUE(expected.match(QString::fromStdString(shown)).hasMatch()) << shown;
    EXPECT_EQ(text.LinesShown(), 4u);
}

TEST(SerialMonitorText, ABatchLongerThanTheScrollbackKeepsItsLastLines) {
    struct TCase {
        std::string Text;
        size_t Max;
        std::string Kept;
        uint64_t Dropped;
    } cases[] = {
        {"a\nb\nc\n", 3, "a\nb\nc\n", 0}, {"a\nb\nc\n", 2, "b\nc\n", 1},
        {"a\nb\nc", 2, "b\nc", 1}, // the unended line counts
        {"a\nb\nc\n", 1, "c\n", 2},       {"", 1, "", 0},
    };
    for (const TCase& c : cases) {
        uint64_t dropped = 5;
        EXPECT_EQ(KeepLastLines(c.Text, c.Max, dropped), c.Kept) << c.Text;
        EXPECT_EQ(dropped, 5 + c.Dropped) << c.Text;
    }
}

// Each line end passes through the port at a slow and a fast speed; the text above owns the
// rest of what line ends do. At a speed other than the board's the line carries something else.
TEST(SerialMonitorBoard, TheBannerArrivesWholeAtEachSpeedAndEachLineEndOfTheBoard) {
    const struct {
        int Board, Monitor;
        const char* End;
    } cases[] = {{1200, 1200, "\r\n"},     {9600, 9600, "\r"},     {115200, 115200, "\n"},
                 {230400, 230400, "\r\n"}, {921600, 921600, "\r"}, {1200, 1200, "\n"},
                 {921600, 921600, "\n"},   {115200, 9600, "\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(
            testing::PrintToString(std::make_tuple(c.Board, c.Monitor, std::string(c.End))));
        TProgramConfig program;
        program.Speed = c.Board;
        program.Banner = {"Demo board v1.2", "", "ready>"};
        program.LineEnd = c.End;
        program.TickMs = 0;
        TBoardSim board(KitBoard());
        board.SetProgram(program, true);
        ASSERT_TRUE(board.Start());
        TComms port;
        TSerialMonitor monitor(port);
        std::string error;
        ASSERT_TRUE(monitor.Open(board.PortPath(), c.Monitor, error)) << error;
        const std::string shown = ShownLines(monitor, 3);
        if (c.Board == c.Monitor)
            EXPECT_EQ(shown, "Demo board v1.2\n\nready>\n");
        else // garbled, yet shown: 'D' and 'e' arrive as 0xE1 and 0xC0, no UTF-8
            EXPECT_EQ(shown.substr(0, 8), "<E1><C0>") << shown;
    }
}

TEST(SerialMonitorBoard, TypedLinesLeaveWithTheChosenLineEnd) {
    TPseudoTerminal line;
    ASSERT_TRUE(line.Open());
    TComms port;
    TSerialMonitor monitor(port);
    std::string error;
    EXPECT_FALSE(monitor.Open(line.SlavePath(), 14400, error)) << "not a monitor speed";
    ASSERT_TRUE(monitor.Open(line.SlavePath(), 115200, error)) << error;
    const std::pair<TLineEnd, std::string> cases[] = {
        {TLineEnd::Lf, "help me\n"}, {TLineEnd::Cr, "help me\r"}, {TLineEnd::CrLf, "help me\r\n"}};
    for (const auto& [end, sent] : cases) {
        ASSERT_TRUE(monitor.Send("help me", end, error)) << error;
        std::string received;
        char buffer[64];
        EXPECT_EVENTUALLY(received.append(buffer, std::max(0, line.Read(buffer, 64, 20))).size() >=
                          sent.size());
        EXPECT_EQ(received, sent) << LineEndName(end);
    }
}

// A board restarts when a host opens its port: what it printed before stays out of the monitor.
TEST(SerialMonitorBoard, OpeningShowsTheRestartedProgramFromItsBanner) {
    TBoardSim board(KitBoard());
    ASSERT_TRUE(StartWithProgram(board, "Started", 50, true, 0));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TComms port;
        TSerialMonitor monitor(port);
        std::string error, shown;
        ASSERT_TRUE(monitor.Open(board.PortPath(), 115200, error)) << error;
        EXPECT_EVENTUALLY(
            (monitor.Poll(20, 4096, shown, error), shown.find("tick") != std::string::npos));
        EXPECT_EQ(shown.rfind("Started", 0), 0u) << shown;
    }
}

// The loop a user goes through: program, read the program's output, program again.
TEST(SerialMonitorBoard, AProgrammedBoardRunsItsProgramUntilTheNextSynchronisation) {
    TBoardSim board(KitBoard());
    ASSERT_TRUE(StartWithProgram(board, "New firmware", 0, false, 1000));
    const TBytes image = Pattern(160, 7);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TComms port;
        TBootMonitor boot(port);
        ASSERT_TRUE(boot.Synchronize({board.PortPath(), false, 115200}).Ok());
        ASSERT_TRUE(boot.ProgramFlash(Sector2, image.data(), 160, {Sector2}, {}, {}).Result.Ok());
        port.Close(); // the loader is done with the port
        EXPECT_FALSE(board.ProgramRunning());
        TSerialMonitor monitor(port);
        std::string error;
        ASSERT_TRUE(monitor.Open(board.PortPath(), 115200, error)) << error;
        EXPECT_EQ(ShownLines(monitor, 1), "New firmware\n");
        EXPECT_TRUE(board.ProgramRunning());
    }
    EXPECT_EQ(board.ReadMemory(Sector2, 160), image) << "the flash outlives the resets";
}
