// The boot-monitor protocol against the simulated board over a pseudo-terminal: the frames it
// sends, what it makes of every answer, and the texts the user is shown.
#include "BootMonitor.h"
#include "BoardSim.h"
#include "BoardTestKit.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashPlan.h"
#include "Misc.h"
#include "MonitorMessages.h"
#include "ProgramPlan.h"
#include "ProgrammedSectors.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace {

using boardtest::Pattern;
using boardtest::TBytes;
constexpr uint32_t FlashStart = 0x01000000;
constexpr uint32_t SectorSize = 0x8000;

// Every pause short; the answers that must come keep their real time-outs, so a loaded machine
// cannot fail those cases.
TMonitorTiming AnswersTiming() {
    return boardtest::ShortPauses();
}

// For cases that wait out a board that does not answer: short enough that five unanswered
// attempts take a few seconds, long enough for a loaded machine to answer the rest.
TMonitorTiming SilenceTiming() {
    TMonitorTiming timing = boardtest::ShortPauses();
    timing.IdentityTimeoutMs = 300;
    timing.AnswerTimeoutMs = 500;
    return timing;
}

uint32_t Le32(const TBytes& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
}

TBoardConfig Board(const std::vector<std::string>& faults = {},
                   TBoardMode mode = TBoardMode::Flash) {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    config.Mode = mode;
    for (const std::string& fault : faults) {
        std::string error;
        EXPECT_TRUE(ParseFault(fault, config.Faults, error)) << error;
    }
    return config;
}

// A simulated board and a monitor on its port; synchronised at 115200 unless told otherwise.
class TLink {
public:
    explicit TLink(const TBoardConfig& config, bool synchronise = true,
                   const TMonitorTiming& timing = AnswersTiming())
        : Sim(config), Monitor(Port, timing, [this] { ++HookCalls; }) {
        std::string error;
        EXPECT_TRUE(Sim.Start(&error)) << error;
        if (synchronise) {
            const TSyncResult sync = Monitor.Synchronize({Sim.PortPath(), false, 115200});
            EXPECT_TRUE(sync.Ok()) << SyncFailure(sync).Text;
            Sim.ClearFrames();
        }
    }

    // The frames of one kind the board received, each as sent.
    std::vector<TBytes> FramesOf(TFrameKind kind) const {
        std::vector<TBytes> frames;
        for (const TFrameRecord& frame : Sim.Frames())
            if (frame.Kind == kind)
                frames.push_back(frame.Bytes);
        return frames;
    }

    std::string Kinds() const {
        std::string kinds;
        for (const TFrameRecord& frame : Sim.Frames())
            kinds += FrameKindName(frame.Kind) + std::string(" ");
        return kinds;
    }

    TBoardSim Sim;
    TComms Port;
    int HookCalls = 0;
    TBootMonitor Monitor;
};

// A port whose line reports trouble of its own when told to: a network port's far line.
class TTroubledPort : public TComms {
public:
    bool TakeDisturbed() override { return std::exchange(Troubled, false); }
    bool Troubled = false;
};

std::vector<uint32_t> SectorsFrom(uint32_t address, int count) {
    std::vector<uint32_t> sectors;
    for (int i = 0; i < count; ++i)
        sectors.push_back(address + i * SectorSize);
    return sectors;
}

} // namespace

TEST(MonitorSync, FindsTheSpeedOrSaysWhyNot) {
    struct TCase {
        const char* Name;
        std::vector<int> Accepted;
        std::vector<std::string> Faults;
        TSyncRequest Request; // Port filled in below
        TSyncStatus Status;
        std::vector<int> Tried; // speeds of the sync bytes sent, in order
        std::string Message;    // "%s": the settings text of the last attempt, "%p": the port
    };
    const std::string check = "\nCheck that the board is powered and in its boot-monitor mode, "
                              "that the cable is plugged in at both ends, and that %p is the port "
                              "the board is on.";
    const std::vector<TCase> cases = {
        {"answers only at 19200",
         {19200},
         {},
         {"", true, 0},
         TSyncStatus::Ok,
         {115200, 57600, 38400, 19200},
         ""},
        {"fixed speed", {}, {}, {"", false, 9600}, TSyncStatus::Ok, {9600}, ""},
        {"fixed speed not answered",
         {19200},
         {},
         {"", false, 9600},
         TSyncStatus::NoResponse,
         {9600},
         "No response from target or unable to synchronize on:\n%s" + check},
        {"no ack ends at once",
         {},
         {"ack=byte:4E"},
         {"", true, 0},
         TSyncStatus::NoAck,
         {115200},
         "Unable synchronize with target.\nNo ACK." + check},
        {"identity not starting with B",
         {},
         {"sync=byte:41"},
         {"", true, 0},
         TSyncStatus::NoSpeed,
         {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200},
         "Unable to auto synchronize on %p with any baud rate." + check},
        {"identity cut short",
         {},
         {"sync=short:13"},
         {"", false, 115200},
         TSyncStatus::NoResponse,
         {115200},
         "No response from target or unable to synchronize on:\n%s" + check},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardConfig config = Board(c.Faults);
        config.AcceptedSpeeds = c.Accepted;
        TLink link(config, false, SilenceTiming());
        TSyncRequest request = c.Request;
        request.Port = link.Sim.PortPath();
        const TSyncResult sync = link.Monitor.Synchronize(request);
        EXPECT_EQ(sync.Status, c.Status);
        std::vector<int> tried;
        ASSERT_TRUE(link.Sim.WaitForFrames(c.Tried.size(), 5000));
        for (const TFrameRecord& frame : link.Sim.Frames())
            if (frame.Kind == TFrameKind::Sync)
                tried.push_back(frame.Speed);
        EXPECT_EQ(tried, c.Tried);
        if (sync.Ok()) {
            EXPECT_EQ(sync.Speed, c.Tried.back());
            EXPECT_EQ(link.Sim.SyncedSpeed(), sync.Speed);
            continue;
        }
        std::string expected = c.Message;
        const std::string settings = request.Port + ":" + std::to_string(tried.back()) + ",N,8,1";
        if (expected.find("%s") != std::string::npos)
            expected.replace(expected.find("%s"), 2, settings);
        for (size_t at = expected.find("%p"); at != std::string::npos; at = expected.find("%p"))
            expected.replace(at, 2, request.Port);
        EXPECT_EQ(SyncFailure(sync).Text, expected);
        EXPECT_EQ(SyncFailure(sync).Flags, MB_ICONEXCLAMATION);
    }
}

TEST(MonitorSync, PrintsTheIdentityOfTheReply) {
    const uint8_t reply[IdentityReplyLength] = {'B',  0x01, 0x00, 0x1F, 0x20, 0x00, 0x01,
                                                0x01, 0x1A, 0x00, 0x00, 0x00, 0x10, 0x01};
    TMonitorIdentity identity;
    ASSERT_TRUE(ParseIdentity(reply, identity));
    EXPECT_EQ(
        IdentityLines(identity, 115200),
        (std::vector<std::string>{"Chip type:    0x0001", "Manufacturer: 0x001F",
                                  "Flash code:   0x0020", "Version:      0x0101",
                                  "CD:           26 (115200 baud)", "Base address: 0x01100000"}));
    // The simulated board sends the same fields; the divisor follows from its clock.
    TBoardConfig config = Board();
    config.Identity.BaseAddress = 0x01100000;
    TLink link(config, false);
    const TSyncResult sync = link.Monitor.Synchronize({link.Sim.PortPath(), false, 115200});
    ASSERT_TRUE(sync.Ok());
    EXPECT_EQ(IdentityLines(sync.Identity, sync.Speed), IdentityLines(identity, 115200));

    const uint8_t notIdentity[IdentityReplyLength] = {'A'};
    EXPECT_FALSE(ParseIdentity(notIdentity, identity));
}

TEST(MonitorRead, ReadsInBlocksOf80AndChecksEachSum) {
    for (int length : {0, 1, 79, 80, 81, 200}) {
        SCOPED_TRACE(length);
        TLink link(Board());
        const TBytes memory = Pattern(256, 3);
        link.Sim.LoadMemory(0x2000, memory);
        std::vector<uint8_t> data;
        std::vector<int> blocks;
        std::vector<int64_t> progress;
        const TMonitorResult result = link.Monitor.ReadRange(
            0x2000, length, data, [&](uint32_t, const uint8_t*, int n) { blocks.push_back(n); },
            [&](int64_t done, int64_t total) {
                EXPECT_EQ(total, length);
                progress.push_back(done);
                return true;
            });
        ASSERT_TRUE(result.Ok()) << ReadFailure(result).Text;
        EXPECT_EQ(data, TBytes(memory.begin(), memory.begin() + length));
        // Whole blocks first, then the rest; progress only after the whole ones.
        std::vector<int> expectedBlocks(length / 80, 80);
        if (length % 80)
            expectedBlocks.push_back(length % 80);
        EXPECT_EQ(blocks, expectedBlocks);
        EXPECT_EQ(progress.size(), size_t(length / 80));
        const std::vector<TBytes> frames = link.FramesOf(TFrameKind::Read);
        ASSERT_EQ(frames.size(), expectedBlocks.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(Le32(frames[i], 1), 0x2000 + 80 * i);
            EXPECT_EQ(frames[i][5], expectedBlocks[i]);
        }
    }
}

TEST(MonitorRead, ReportsBadSumsMissingRepliesAndCancel) {
    {
        TLink link(Board({"R#1=badsum"}));
        link.Sim.LoadMemory(0x2000, TBytes(200, 0x11));
        std::vector<uint8_t> data;
        const TMonitorResult result = link.Monitor.ReadRange(0x2000, 200, data, {}, {});
        EXPECT_EQ(result.Status, TMonitorStatus::BadChecksum);
        EXPECT_EQ(result.BytesDone, 80);
        EXPECT_EQ(result.CalculatedSum, uint8_t(80 * 0x11));
        const TMonitorMessage message = ReadFailure(result);
        // The board's sum is one more than the right one (0x50).
        EXPECT_EQ(message.Text, "Checksum fail at: 0x00002050\nReceived: 0x51, Calculated: 0x50");
        EXPECT_EQ(message.Flags, MB_ICONINFORMATION);
        EXPECT_EQ(link.FramesOf(TFrameKind::Read).size(), 2u) << "no read after the failure";
    }
    for (const char* fault : {"R#0=silent", "R#0=short:40", "R#0=byte:41"}) {
        SCOPED_TRACE(fault);
        TLink link(Board({fault}), true, SilenceTiming());
        std::vector<uint8_t> data;
        const TMonitorResult result = link.Monitor.ReadRange(FlashStart, 800, data, {}, {});
        EXPECT_EQ(result.Status, TMonitorStatus::NoAnswer);
        EXPECT_EQ(ReadFailure(result).Text, "Timeout waiting for data.");
        EXPECT_EQ(ReadFailure(result).Flags, MB_ICONEXCLAMATION);
        EXPECT_EQ(link.FramesOf(TFrameKind::Read).size(), 1u);
    }
    {
        // Erased flash reads as 0xFF: 80 of them sum to 0xB0.
        TLink link(Board());
        int calls = 0;
        std::vector<uint8_t> data;
        const TMonitorResult result = link.Monitor.ReadRange(
            FlashStart, 800, data, {}, [&](int64_t, int64_t) { return ++calls < 3; });
        EXPECT_EQ(result.Status, TMonitorStatus::Cancelled);
        EXPECT_EQ(result.BytesDone, 240);
        EXPECT_EQ(data, TBytes(240, 0xFF));
        EXPECT_EQ(link.FramesOf(TFrameKind::Read).size(), 3u);
        // Memory grows with the data that came, not with the length asked for.
        const TMonitorResult huge = link.Monitor.ReadRange(FlashStart, int64_t{1} << 32, data, {},
                                                           [](int64_t, int64_t) { return false; });
        EXPECT_EQ(huge.Status, TMonitorStatus::Cancelled);
        EXPECT_LT(data.capacity(), size_t{1} << 20);
    }
}

TEST(MonitorErase, RetriesUpToFiveTimes) {
    struct TCase {
        std::vector<std::string> Faults;
        TMonitorStatus Status;
        size_t Attempts;
    };
    const std::vector<TCase> cases = {
        {{}, TMonitorStatus::Ok, 1},
        {{"E@1-2=silent"}, TMonitorStatus::Ok, 3},
        {{"E=byte:4E"}, TMonitorStatus::Refused, 5},
        {{"E=silent"}, TMonitorStatus::Refused, 5},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Faults.empty() ? "no fault" : c.Faults[0]);
        TLink link(Board(c.Faults), true, SilenceTiming());
        // An address inside a sector goes out as it is.
        const uint32_t address = FlashStart + SectorSize + 0x123;
        link.Sim.LoadMemory(FlashStart + SectorSize, TBytes(SectorSize, 0));
        const TMonitorResult result = link.Monitor.EraseSector(address);
        EXPECT_EQ(result.Status, c.Status);
        const std::vector<TBytes> frames = link.FramesOf(TFrameKind::Erase);
        ASSERT_EQ(frames.size(), c.Attempts);
        EXPECT_EQ(Le32(frames[0], 1), address);
        if (result.Ok()) {
            EXPECT_EQ(link.Sim.ReadMemory(FlashStart + SectorSize, 16), TBytes(16, 0xFF));
        } else {
            EXPECT_EQ(EraseFailure(result).Text, "Sector erase at 0x01008123 failed.");
        }
        if (c.Attempts > 1) {
            EXPECT_GT(link.HookCalls, 0) << "the window must be kept alive during the waits";
        }
    }
}

TEST(MonitorProgram, SendsWriteStartsBlocksAndTheVerify) {
    struct TCase {
        int Length;
        std::vector<std::string> Faults;
        std::vector<std::pair<uint32_t, int>> WriteStarts; // offset, block length
        std::vector<int> Blocks;
        std::vector<int64_t> Progress;
    };
    // A block whose answer is lost was written all the same: it goes again to its own address.
    const std::vector<TCase> cases = {
        {200, {}, {{0, 80}, {160, 40}}, {80, 80, 40}, {80, 160}},
        {50, {}, {{0, 80}, {0, 50}}, {50}, {}},
        {160, {}, {{0, 80}}, {80, 80}, {80, 160}},
        {200, {"D#1@1=lost"}, {{0, 80}, {80, 80}, {160, 40}}, {80, 80, 80, 40}, {80, 160}},
        {200, {"D#2@1=lost"}, {{0, 80}, {160, 40}, {160, 40}}, {80, 80, 40, 40}, {80, 160}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Faults.empty() ? std::to_string(c.Length) : c.Faults[0]);
        TLink link(Board(c.Faults), true, c.Faults.empty() ? AnswersTiming() : SilenceTiming());
        const TBytes image = Pattern(c.Length, 9);
        std::vector<TBootMonitor::TPhase> phases;
        std::vector<int64_t> progress;
        const auto program = link.Monitor.ProgramFlash(
            FlashStart, image.data(), c.Length, {FlashStart},
            [&](TBootMonitor::TPhase phase) { phases.push_back(phase); },
            [&](int64_t done, int64_t) {
                progress.push_back(done);
                return true;
            });
        ASSERT_TRUE(program.Result.Ok()) << ProgramFailure(program, FlashStart).Text;
        EXPECT_EQ(program.Step, TBootMonitor::TStep::Done);
        EXPECT_EQ(ProgramClosingLine(program), "");
        EXPECT_EQ(link.Sim.ReadMemory(FlashStart, c.Length), image);
        EXPECT_EQ(link.Sim.ReadMemory(FlashStart + c.Length, 80), TBytes(80, 0xFF));
        EXPECT_EQ(progress, c.Progress);
        EXPECT_EQ(phases, (std::vector<TBootMonitor::TPhase>{TBootMonitor::TPhase::Erasing,
                                                             TBootMonitor::TPhase::Programming,
                                                             TBootMonitor::TPhase::Verifying}));
        std::vector<std::pair<uint32_t, int>> starts;
        for (const TBytes& frame : link.FramesOf(TFrameKind::WriteStart))
            starts.push_back({Le32(frame, 1) - FlashStart, frame[5]});
        EXPECT_EQ(starts, c.WriteStarts);
        std::vector<int> blocks;
        for (const TBytes& frame : link.FramesOf(TFrameKind::Data))
            blocks.push_back(static_cast<int>(frame.size()) - 2);
        EXPECT_EQ(blocks, c.Blocks);
        const std::vector<TBytes> verify = link.FramesOf(TFrameKind::Verify);
        ASSERT_EQ(verify.size(), 2u) << "the board confirms its 'A', on a clean line too";
        EXPECT_EQ(Le32(verify[0], 1), FlashStart);
        EXPECT_EQ(Le32(verify[0], 5), uint32_t(c.Length));
        EXPECT_EQ(Le32(verify[0], 9), std::accumulate(image.begin(), image.end(), 0u));
        EXPECT_EQ(ProgrammedLine(c.Length, FlashStart),
                  std::to_string(c.Length) + " bytes at 0x01000000 programmed OK.");
    }
}

TEST(MonitorProgram, TheTurnaroundLeavesOutAnswersThatWaitForTheBoardsWork) {
    // Four erases and the verify answer late, more than the slowest quarter the average drops:
    // counted, they would put the figure far above any line's.
    TLink link(Board({"E=late:300", "V=late:300"}));
    const TBytes image = Pattern(80, 8);
    const auto program =
        link.Monitor.ProgramFlash(FlashStart, image.data(), 80, SectorsFrom(FlashStart, 4), {}, {});
    ASSERT_TRUE(program.Result.Ok()) << ProgramFailure(program, FlashStart).Text;
    // The identity, the acknowledge, the write start and the block.
    const TTurnaroundFigures figures = link.Port.Turnaround().Figures();
    EXPECT_EQ(figures.Samples, 4);
    EXPECT_LT(figures.AverageMs, 50);
}

TEST(MonitorProgram, EndsWhereTheBoardRefuses) {
    struct TCase {
        std::vector<std::string> Faults;
        TBootMonitor::TStep Step; // Done: succeeds
        std::string Message;
        std::string ClosingLine;
    };
    const std::string eraseFailed =
        "Sector erase at 0x01008000 failed.\n\nIt may help now to restart the eval. board in the "
        "flash programming mode\nand then try again.";
    const std::string flashError = "\nFlash error 0x02 at 0x01008000.";
    const std::vector<TCase> cases = {
        {{"D#1@1=byte:4E"}, TBootMonitor::TStep::Done, "", ""},
        {{"D#1=flash:02"},
         TBootMonitor::TStep::Write,
         "Flash write error at: 0x01000050.\nError: 0x02",
         "Failed"},
        {{"D#1=flash"},
         TBootMonitor::TStep::Write,
         "Flash write error at: 0x01000050.\nNo error code came.",
         "Failed"},
        {{"D#0=byte:4E"},
         TBootMonitor::TStep::Write,
         "Unable to write data block at: 0x01000000.\nResponse code: 0x4E (NACK)",
         "Failed"},
        {{"D#2=byte:15"},
         TBootMonitor::TStep::Write,
         "Unable to write data block at: 0x010000A0.\nResponse code: 0x15 ",
         "Failed"},
        // The last try unanswered: no response code, for none came.
        {{"D#1@1-4=byte:4E", "D#1@5=silent"},
         TBootMonitor::TStep::Write,
         "Unable to write data block at: 0x01000050.",
         "Failed"},
        {{"E#1=silent"}, TBootMonitor::TStep::Erase, eraseFailed, "Failed"},
        {{"W#0=byte:4E"},
         TBootMonitor::TStep::FirstWriteStart,
         "Unable to initiate write operation at address: 0x01000000.",
         ""},
        {{"W#1=silent"},
         TBootMonitor::TStep::RemainderWriteStart,
         "Unable to initiate write operation at address: 0x01000000.",
         "Failed"},
        {{"V=byte:4E"}, TBootMonitor::TStep::Verify, "Program verification failed.", ""},
        {{"E#1=flash:02"}, TBootMonitor::TStep::Erase, eraseFailed + flashError, "Failed"},
        {{"E#1=flash"},
         TBootMonitor::TStep::Erase,
         eraseFailed + "\nFlash error at 0x01008000; no error code came.",
         "Failed"},
        {{"W#0=flash:05"},
         TBootMonitor::TStep::FirstWriteStart,
         "Unable to initiate write operation at address: 0x01000000.\nFlash error 0x05 at "
         "0x01000000.",
         ""},
        {{"V#1=flash:03"},
         TBootMonitor::TStep::Verify,
         "Program verification failed.\nFlash error 0x03 at 0x01000000.",
         ""},
    };
    const TBytes image = Pattern(200, 1);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Faults[0]);
        TLink link(Board(c.Faults), true, SilenceTiming());
        const auto program = link.Monitor.ProgramFlash(FlashStart, image.data(), 200,
                                                       SectorsFrom(FlashStart, 2), {}, {});
        EXPECT_EQ(program.Step, c.Step);
        if (c.Step == TBootMonitor::TStep::Done) {
            EXPECT_TRUE(program.Result.Ok());
            EXPECT_EQ(link.FramesOf(TFrameKind::Data).size(), 4u) << "one block sent twice";
            continue;
        }
        EXPECT_EQ(ProgramFailure(program, FlashStart).Text, c.Message);
        EXPECT_EQ(ProgramFailure(program, FlashStart).Flags, MB_ICONEXCLAMATION);
        EXPECT_EQ(ProgramClosingLine(program), c.ClosingLine);
    }
    {
        // A refused block is sent five times, each retry after a write start of its own, and
        // nothing follows it.
        TLink link(Board({"D#1=byte:4E"}));
        link.Monitor.ProgramFlash(FlashStart, image.data(), 200, {FlashStart}, {}, {});
        EXPECT_EQ(link.Kinds(), "E W D D W D W D W D W D ");
    }
    {
        TLink link(Board());
        const auto program = link.Monitor.ProgramFlash(FlashStart, image.data(), 200, {FlashStart},
                                                       {}, [](int64_t, int64_t) { return false; });
        EXPECT_EQ(program.Result.Status, TMonitorStatus::Cancelled);
        EXPECT_EQ(ProgramClosingLine(program), "User break.");
        EXPECT_EQ(PartlyProgrammedLine(program), "The flash now holds only part of the image: "
                                                 "from 0x01000050 on it is erased, not written.");
        EXPECT_EQ(link.FramesOf(TFrameKind::Data).size(), 1u);
    }
}

TEST(MonitorMessages, NameTheSectorsLeftUnchanged) {
    const std::pair<std::vector<int>, const char*> cases[] = {
        {{}, ""},
        {{4}, "sector 4 unchanged, not written again."},
        {{8, 9}, "sectors 8 and 9 unchanged, not written again."},
        {{0, 1, 2, 3, 5, 7, 8}, "sectors 0 to 3, 5, 7 and 8 unchanged, not written again."},
    };
    for (const auto& [skipped, line] : cases)
        EXPECT_EQ(UnchangedSectorsLine(skipped), line);
}

TEST(MonitorStaleAnswers, NeverPassForTheAnswerToALaterFrame) {
    const std::string outOfStep =
        "\nThe board's answers are out of step with the frames sent (a "
        "late, repeated or longer answer). Synchronise again if the board "
        "was reset or runs its program.";
    // Late answers come well after the time-out; with the pause of 600 after the retry's wait
    // (twice the time-out) has passed, with one of 10 while the retry still waits for them.
    TMonitorTiming timing = AnswersTiming();
    struct TCase {
        const char* Name;
        std::vector<std::string> Faults;
        std::string SyncMessage; // empty: the board synchronises
        TBootMonitor::TStep Step;
        std::string Message;
        int PauseMs = 600;
        int TimeoutMs = 300;
    };
    const std::vector<TCase> cases = {
        // The board took the block the first time; the resend goes to the same address.
        {"block answered after the wait", {"D#1=late:600"}, "", TBootMonitor::TStep::Done, ""},
        // Half a time-out either side of the answer: after the block's wait, before the retry's.
        {"block answered while the retry waits",
         {"D#1=late:1500"},
         "",
         TBootMonitor::TStep::Write,
         "Unable to write data block at: 0x01000050." + outOfStep,
         10,
         1000},
        {"first erase answered late",
         {"E#0=late:600", "V=byte:4E"},
         "",
         TBootMonitor::TStep::Verify,
         "Program verification failed."},
        {"acknowledges flooding in",
         {"E#0=flood:41"},
         "",
         TBootMonitor::TStep::FirstWriteStart,
         "Unable to initiate write operation at address: 0x01000000." + outOfStep},
        {"identity a byte too long",
         {"sync=extra:41"},
         "Unable synchronize with target." + outOfStep,
         TBootMonitor::TStep::Done,
         ""},
        {"block acknowledged twice",
         {"D#1=extra:41"},
         "",
         TBootMonitor::TStep::Write,
         "Unable to write data block at: 0x010000A0." + outOfStep},
        {"verify answered twice",
         {"V=extra:41"},
         "",
         TBootMonitor::TStep::Verify,
         "Program verification failed." + outOfStep},
    };
    const TBytes image = Pattern(240, 6);
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        timing.ErasePauseMs = timing.WritePauseMs = c.PauseMs;
        timing.AnswerTimeoutMs = c.TimeoutMs;
        TLink link(Board(c.Faults), false, timing);
        const TSyncResult sync = link.Monitor.Synchronize({link.Sim.PortPath(), false, 115200});
        if (!c.SyncMessage.empty()) {
            EXPECT_FALSE(sync.Ok());
            EXPECT_EQ(SyncFailure(sync).Text, c.SyncMessage);
            continue;
        }
        ASSERT_TRUE(sync.Ok()) << SyncFailure(sync).Text;
        const auto program =
            link.Monitor.ProgramFlash(FlashStart, image.data(), 240, {FlashStart}, {}, {});
        EXPECT_EQ(program.Step, c.Step);
        if (program.Result.Ok()) {
            EXPECT_EQ(link.Sim.ReadMemory(FlashStart, 240), image);
            EXPECT_EQ(link.Sim.ReadMemory(FlashStart + 240, 80), TBytes(80, 0xFF));
        } else {
            EXPECT_EQ(ProgramFailure(program, FlashStart).Text, c.Message);
        }
    }
    // A read reply followed by a stray byte, in the middle and at the end of a read.
    for (const char* fault : {"R#0=extra:00", "R#9=extra:00"}) {
        SCOPED_TRACE(fault);
        TLink link(Board({fault}));
        std::vector<uint8_t> data;
        const TMonitorResult result = link.Monitor.ReadRange(FlashStart, 800, data, {}, {});
        EXPECT_FALSE(result.Ok());
        const uint32_t stoppedAt = fault[2] == '0' ? FlashStart + 80 : FlashStart + 720;
        EXPECT_EQ(ReadFailure(result).Text,
                  FormatText("Reading stopped at: 0x%08X.", stoppedAt) + outOfStep);
    }
}

TEST(MonitorVerify, ComparesTheBoardsSum) {
    TLink link(Board());
    const TBytes image = Pattern(200, 4);
    link.Sim.LoadMemory(FlashStart, image);
    EXPECT_TRUE(link.Monitor.VerifyRange(FlashStart, image.data(), 200).Ok());
    EXPECT_TRUE(link.Monitor.VerifyRange(FlashStart, image.data(), 50).Ok());
    const TMonitorResult moved = link.Monitor.VerifyRange(FlashStart + 0x100, image.data(), 200);
    EXPECT_EQ(moved.Status, TMonitorStatus::Refused);
    EXPECT_EQ(VerifyFailure(moved).Text, "Data verification failed.");
    EXPECT_EQ(VerifiedLine(200, FlashStart), "200 bytes at 0x01000000 verified OK.");

    // An erase answered far too late (after its retry went through) leaves a stray 'A' just
    // before the board's slow 'N': the line must go quiet and the board answer for itself.
    TMonitorTiming timing = AnswersTiming();
    timing.AnswerTimeoutMs = 400;
    timing.ErasePauseMs = 600;
    TLink late(Board({"E#0@1=late:1150", "V=late:300"}), true, timing);
    ASSERT_TRUE(late.Monitor.EraseSector(FlashStart + SectorSize).Ok());
    EXPECT_EQ(late.Monitor.VerifyRange(FlashStart, image.data(), 200).Status,
              TMonitorStatus::Refused);

    // A read reply so late that the verify after it stopped waiting for it: its bytes come
    // once the verify could have been sent, before the board could answer it. The verify is
    // sent only once they came and the line went quiet.
    timing.AnswerTimeoutMs = 800;
    timing.QuietMs = 1000;
    TLink stale(Board({"R#0=late:1900", "V#0=late:550"}), true, timing);
    stale.Sim.LoadMemory(FlashStart, image);
    std::vector<uint8_t> data;
    ASSERT_EQ(stale.Monitor.ReadRange(FlashStart, 80, data, {}, {}).Status,
              TMonitorStatus::NoAnswer);
    const TMonitorResult verified = stale.Monitor.VerifyRange(FlashStart, image.data(), 200);
    EXPECT_TRUE(verified.Ok()) << VerifyFailure(verified).Text;

    // The same stray 'A' at the final verify of a programming on a link clean until then.
    TLink stray(Board({"V#0=stray:41:300"}), true, timing);
    stray.Sim.LoadMemory(FlashStart + 0x100, image);
    EXPECT_EQ(stray.Monitor.VerifyImage(FlashStart, image.data(), 200).Step,
              TBootMonitor::TStep::Verify);

    // Trouble the line itself reports counts as much: the board must confirm its sum.
    TBoardSim board(Board());
    ASSERT_TRUE(board.Start());
    board.LoadMemory(FlashStart, image);
    TTroubledPort port;
    TBootMonitor monitor(port, AnswersTiming());
    ASSERT_TRUE(monitor.Synchronize({board.PortPath(), false, 115200}).Ok());
    for (const bool troubled : {false, true}) {
        board.ClearFrames();
        port.Troubled = troubled;
        EXPECT_TRUE(monitor.VerifyRange(FlashStart, image.data(), 200).Ok());
        int verifies = 0;
        for (const TFrameRecord& frame : board.Frames())
            verifies += frame.Kind == TFrameKind::Verify;
        EXPECT_EQ(verifies, troubled ? 2 : 1) << "troubled: " << troubled;
    }
}

TEST(MonitorSram, SendsTheImageRawInChunks) {
    struct TCase {
        int Length;
        int Speed;
        int LineMs; // what the bytes take on the line at 10 bits each
        std::vector<int64_t> Progress;
    };
    // A pseudo-terminal says at once that its output left: the end still waits for the line.
    for (const TCase& c : std::vector<TCase>{{160, 115200, 13, {0, 80, 160}},
                                             {100, 115200, 8, {0, 80, 100}},
                                             {30, 115200, 2, {0, 30}},
                                             {300, 9600, 312, {0, 80, 160, 240, 300}}}) {
        SCOPED_TRACE(c.Length);
        TLink link(Board({}, TBoardMode::Sram), false);
        ASSERT_TRUE(link.Port.Open(PortSettingsText(link.Sim.PortPath(), c.Speed).c_str()));
        const TBytes image = Pattern(c.Length, 2);
        std::vector<int64_t> progress;
        QElapsedTimer clock;
        clock.start();
        const TMonitorResult result =
            link.Monitor.SendSram(image.data(), c.Length, [&](int64_t done, int64_t) {
                progress.push_back(done);
                return true;
            });
        EXPECT_GE(clock.elapsed(), c.LineMs);
        ASSERT_TRUE(result.Ok());
        EXPECT_EQ(result.BytesDone, c.Length);
        EXPECT_EQ(progress, c.Progress);
        ASSERT_TRUE(link.Sim.WaitForFrames(1, 5000));
        for (int i = 0; i < 100 && link.Sim.SramData().size() < image.size(); ++i)
            QThread::msleep(20);
        EXPECT_EQ(link.Sim.SramData(), image);
    }
}

TEST(MonitorLine, AHungUpLineEndsTheOperationAtOnce) {
    // Default timing: were the hang-up not noticed, each case would wait out every retry.
    const TBytes image = Pattern(800, 5);
    // The line takes a small upload whole before the board can hang up; a large one cannot.
    const TBytes large = Pattern(256 * 1024, 5);
    struct TCase {
        const char* Name;
        std::vector<std::string> Faults;
        TBoardMode Mode;
        std::function<TMonitorResult(TBootMonitor&)> Run;
    };
    const std::vector<TCase> cases = {
        {"read",
         {"hangup-after:3"},
         TBoardMode::Flash,
         [](TBootMonitor& monitor) {
             std::vector<uint8_t> data;
             return monitor.ReadRange(FlashStart, 800, data, {}, {});
         }},
        {"program",
         {"hangup-after:5"},
         TBoardMode::Flash,
         [&image](TBootMonitor& monitor) {
             return monitor.ProgramFlash(FlashStart, image.data(), 800, {FlashStart}, {}, {})
                 .Result;
         }},
        {"sram",
         {"hangup-after:200"},
         TBoardMode::Sram,
         [&large](TBootMonitor& monitor) {
             return monitor.SendSram(large.data(), int64_t(large.size()), {});
         }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardConfig config = Board(c.Faults, c.Mode);
        TBoardSim sim(config);
        ASSERT_TRUE(sim.Start());
        TComms port;
        TBootMonitor monitor(port);
        if (c.Mode == TBoardMode::Flash)
            ASSERT_TRUE(monitor.Synchronize({sim.PortPath(), false, 115200}).Ok());
        else
            ASSERT_TRUE(port.Open(PortSettingsText(sim.PortPath(), 115200).c_str()));
        const TMonitorResult result = c.Run(monitor);
        EXPECT_EQ(result.Status, TMonitorStatus::LineLost);
        EXPECT_FALSE(result.LineError.empty());
        EXPECT_TRUE(port.LineLost());
        if (std::string(c.Name) == "program") {
            // Lost in the middle of a data block: no response code, which never came.
            TBootMonitor::TProgramResult program;
            program.Result = result;
            program.Step = TBootMonitor::TStep::Write;
            EXPECT_EQ(ProgramFailure(program, FlashStart).Text,
                      "Unable to write data block at: 0x01000050.\n" + result.LineError);
        }
    }
}

TEST(FlashPlanning, ChecksTheRangeAndFindsEverySectorTouched) {
    TEBData type("EB40A");
    ASSERT_TRUE(type.SetSectors("8x32K,2x32K,30x64K"));
    ASSERT_TRUE(type.SetProtected("0-1"));
    ASSERT_TRUE(type.SetFlashStart("0100 0000"));
    const int start = type.GetFlashStart();
    const int end = type.FlashEnd();
    struct TCase {
        int Address;
        int64_t Length;
        TFlashPlan::TCheck Check;
        std::vector<uint32_t> Erase;
        int Protected;
    };
    const std::vector<TCase> cases = {
        {start, 200, TFlashPlan::Fits, {0x01000000}, 0},
        {start - 1, 1, TFlashPlan::AddressOutside, {}, -1},
        {end + 1, 1, TFlashPlan::AddressOutside, {}, -1},
        {end, 1, TFlashPlan::Fits, {uint32_t(end)}, -1},
        {end - 9, 11, TFlashPlan::DoesNotFit, {}, -1},
        // Starting inside sector 2, 0x8000 bytes reach into sector 3 only. Ending on the last
        // byte of sector 3 leaves sector 4 alone; ending on its first byte erases it too.
        {start + 0x10100, 0x8000, TFlashPlan::Fits, {0x01010100, 0x01018000}, -1},
        {start + 0x10100, 0xFF00, TFlashPlan::Fits, {0x01010100, 0x01018000}, -1},
        {start + 0x10100, 0xFF01, TFlashPlan::Fits, {0x01010100, 0x01018000, 0x01020000}, -1},
        {start + 0x10100, 0x10000, TFlashPlan::Fits, {0x01010100, 0x01018000, 0x01020000}, -1},
        {start + 0x4000, 0x8000, TFlashPlan::Fits, {0x01004000, 0x01008000}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Address);
        const TFlashPlan plan = PlanFlashProgramming(type, c.Address, c.Length);
        EXPECT_EQ(plan.Check, c.Check);
        EXPECT_EQ(plan.EraseAddresses, c.Erase);
        EXPECT_EQ(plan.FirstProtectedSector, c.Protected);
    }
    EXPECT_EQ(ProgramCheckFailure(PlanFlashProgramming(type, end - 9, 11), end - 9).Text,
              "Program data doesn't fit into selected flash area.\n\nFlash start: 0x01000000, "
              "Flash end: 0x0122FFFF\nData start: 0x0122FFF6, Data end: 0x01230000");
    EXPECT_EQ(ProgramCheckFailure(PlanFlashProgramming(type, 0, 1), 0).Text,
              "Programming address must be within 0x01000000 and 0x0122FFFF");
}

// A programming of 64000 bytes at 0x01040000 (sectors 8 and 9 of 32 KiB) that ended at a step:
// what the record may claim of it.
TEST(FlashPlanning, ARecordClaimsOnlyTheSectorsErasedAndWrittenInFull) {
    TEBData type("EB40A");
    ASSERT_TRUE(type.SetSectors("8x32K,2x32K,30x64K"));
    ASSERT_TRUE(type.SetFlashStart("0100 0000"));
    const TBytes image = Pattern(64000, 3);
    using S = TBootMonitor::TStep;
    using M = TMonitorStatus;
    struct TCase {
        const char* Name;
        bool SkipFirst; // sector 8 held the content already
        S Step;
        M Status;
        uint32_t Address;
        int64_t Bytes;
        std::vector<int> Erased, Written;
        uint32_t StoppedAt; // 0: none
    };
    const std::vector<TCase> cases = {
        {"first erase failed", false, S::Erase, M::Refused, 0x01040000, 0, {}, {}, 0},
        {"after the first erase", false, S::Erase, M::Cancelled, 0x01040000, 0, {8}, {}, 0},
        {"in sector 9", false, S::Write, M::Cancelled, 0x0104F410, 62560, {8, 9}, {8}, 0x0104F460},
        {"stopped between sectors", false, S::Write, M::Refused, 0x01048000, 32768, {8, 9}, {8}, 0},
        {"start refused", false, S::FirstWriteStart, M::Refused, 0x01040000, 0, {8, 9}, {}, 0},
        {"verify refused", false, S::Verify, M::Refused, 0x01040000, 64000, {8, 9}, {8, 9}, 0},
        {"after a skip", true, S::Write, M::Refused, 0x01048050, 100, {9}, {}, 0x01048064},
        {"done after a skip", true, S::Done, M::Ok, 0x01040000, 31232, {9}, {9}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TProgramPlan plan = BuildProgramPlan(type, 0x01040000, image.data(), 64000);
        if (c.SkipFirst)
            plan.Sectors[8].Action = TSectorAction::Skip;
        TBootMonitor::TProgramResult program;
        program.Step = c.Step;
        program.Result.Status = c.Status;
        program.Result.Address = c.Address;
        program.Result.BytesDone = c.Bytes;
        const TProgrammedSectors done = ProgrammedSectors(plan, program);
        EXPECT_EQ(done.Erased, c.Erased);
        EXPECT_EQ(done.Written, c.Written);
        EXPECT_EQ(done.StoppedAt.value_or(0), c.StoppedAt);
    }
}
