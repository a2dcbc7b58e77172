// The programming of one image against the simulated board: what its observer is told, and
// what the ledger it keeps lets the next programming skip; and what the checks after it leave
// the ledger vouching for.
#include "FlashSession.h"
#include "BoardTestKit.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashCheck.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace boardtest;

namespace {

// Every report as a word: "+3" a sector started, "-3" done, "check 2", a phase, "warn".
class TRecorder : public TFlashObserver {
public:
    void Checking(int sectors) override { Add("check " + std::to_string(sectors)); }
    void Phase(TBootMonitor::TPhase phase) override {
        Add(phase == TBootMonitor::TPhase::Erasing       ? "erase"
            : phase == TBootMonitor::TPhase::Programming ? "write"
                                                         : "verify");
    }
    void SectorStarted(int sector) override { Add("+" + std::to_string(sector)); }
    void SectorDone(int sector) override { Add("-" + std::to_string(sector)); }
    bool KeepErasing() override { return !StopErasing; }
    void Warning(const std::string&) override { Add("warn"); }

    std::string Events;
    bool StopErasing = false;

private:
    void Add(const std::string& event) { Events += Events.empty() ? event : " " + event; }
};

bool SetUpKitType(TEBData& type) {
    return type.SetSectors("4x8K,2x32K") && type.SetProtected("") &&
           type.SetFlashStart("01000000") && type.SetSramSize("1000");
}

// An empty ledger and a started board with a monitor synchronised to it; a fault shortens waits.
struct TSyncedKit {
    explicit TSyncedKit(const char* fault) : Monitor(Port, fault ? ShortWaits() : ShortPauses()) {}
    bool Start() {
        if (!QDir(LedgerFolder()).removeRecursively() || !Board.Start())
            return false;
        Sync = Monitor.Synchronize({Board.PortPath(), false, 115200});
        return Sync.Ok();
    }
    TBoardSim Board{KitBoard()};
    TComms Port;
    TBootMonitor Monitor;
    TSyncResult Sync;
};

} // namespace

TEST(FlashSession, ReportsEachStepAndLetsTheNextProgrammingSkipOnlyWhatItRecorded) {
    TEBData type("Kit");
    ASSERT_TRUE(SetUpKitType(type));
    // Sectors 2 and 3 whole, sector 4 in part: less than a block, which no progress report covers.
    const TBytes image = Pattern(0x4000 + 60);
    TBytes ends = image; // sectors 2 and 4 changed, 3 between them not
    ends[5] ^= 0xFF;
    ends[0x4000 + 5] ^= 0xFF;
    const std::vector<uint32_t> whole = {Sector2, 0x01008010}, none = {};
    const std::vector<uint32_t> twoRuns = {Sector2, 0x01005FE0, 0x01008000, 0x01008000};
    const TMonitorStatus ok = TMonitorStatus::Ok;
    const struct {
        const char* Name;
        bool Known;       // the first programming knows the board
        bool StopErasing; // and is cancelled after its first erased sector
        TMonitorStatus First;
        const char* FirstEvents;
        // Then the same image, or ends, again skipping what is unchanged, with the board's
        // faults: what the sum checks give, the reports and where each write starts.
        const TBytes& Second;
        const char* Fault;
        TMonitorStatus Checked;
        const char* SecondEvents;
        const std::vector<uint32_t>& WriteStarts;
    } cases[] = {
        {"known", true, false, ok, "erase write +2 -2 +3 -3 +4 -4 verify", image, nullptr, ok,
         "check 3 verify", none},
        {"unknown", false, false, ok, "erase write +2 -2 +3 -3 +4 -4 verify", image, nullptr, ok,
         "erase write +2 -2 +3 -3 +4 -4 verify", whole},
        {"cancelled", true, true, TMonitorStatus::Cancelled, "erase", image, nullptr, ok,
         "erase write +2 -2 +3 -3 +4 -4 verify", whole},
        {"two runs", true, false, ok, "erase write +2 -2 +3 -3 +4 -4 verify", ends, nullptr, ok,
         "check 1 erase write +2 -2 +4 -4 verify", twoRuns},
        // The board falls silent at the second sum, after a first skip: nothing stays skipped.
        {"silent check", true, false, ok, "erase write +2 -2 +3 -3 +4 -4 verify", image,
         "V#2=silent", TMonitorStatus::Refused, "check 3", none},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        TSyncedKit kit(test.Fault);
        ASSERT_TRUE(kit.Start());
        TBoardSim& board = kit.Board;
        TBootMonitor& monitor = kit.Monitor;
        const TSyncResult& sync = kit.Sync;

        // The status of the check when it failed, else the programming's.
        const auto program = [&](const TBytes& bytes, bool known, bool stop, const char* events) {
            TProgramPlan plan = BuildProgramPlan(type, Sector2, bytes.data(), bytes.size());
            TRecorder recorder;
            recorder.StopErasing = stop;
            TFlashSession session(
                monitor, recorder, plan, bytes.data(), board.PortPath(),
                BoardLedgerKey(board.PortPath(), known ? &sync.Identity : nullptr, type));
            TMonitorStatus status = session.SkipUnchanged().Status;
            // After a failed check the callers stop: by then the plan must skip nothing.
            if (status != TMonitorStatus::Ok) {
                EXPECT_EQ(plan.Count(TSectorAction::Skip), 0);
            } else {
                status = session.Program().Result.Status;
            }
            EXPECT_EQ(recorder.Events, events);
            return status;
        };
        EXPECT_EQ(program(image, test.Known, test.StopErasing, test.FirstEvents), test.First);
        board.SetFaults(test.Fault ? Faults({test.Fault}) : TFaultPlan());
        board.ClearFrames();
        EXPECT_EQ(program(test.Second, true, false, test.SecondEvents), test.Checked);
        std::vector<uint32_t> writeStarts;
        for (const TFrameRecord& frame : FramesOf(board.Frames(), TFrameKind::WriteStart))
            writeStarts.push_back(FrameAddress(frame));
        EXPECT_EQ(writeStarts, test.WriteStarts);
        EXPECT_EQ(board.ReadMemory(Sector2, image.size()), test.Second);
    }
}

TEST(FlashSession, ChecksLeaveTheLedgerVouchingOnlyForWhatTheyConfirmed) {
    TEBData type("Kit");
    ASSERT_TRUE(SetUpKitType(type));
    const TBytes image = Pattern(0x4000 + 100); // sectors 2 and 3 whole, sector 4 in part
    constexpr uint32_t S2 = Sector2, S3 = S2 + 0x2000, S4 = S2 + 0x4000;
    enum class TCheck { Sum, SumThenReadBack, ReadBack };
    using C = TCheck;
    using M = TMonitorStatus;
    const int64_t all = static_cast<int64_t>(image.size());
    const struct {
        const char* Name;
        TCheck Check;
        std::vector<uint32_t> Changed; // bytes the board holds other than the image
        const char* Fault;
        TMonitorStatus Result; // the sum's, or the read's
        int64_t Differing;
        TFlashRange Forgotten; // by the read-back
        std::vector<uint32_t> Vouched;
    } cases[] = {
        {"sum agrees", C::Sum, {}, nullptr, M::Ok, 0, {}, {S2, S3, S4}},
        {"sum refused", C::Sum, {S4 + 7}, nullptr, M::Refused, 0, {}, {}},
        {"narrowed", C::SumThenReadBack, {S4 + 7}, nullptr, M::Ok, 1, {S4 + 7, 1}, {S2, S3}},
        {"read back the same", C::ReadBack, {}, nullptr, M::Ok, 0, {}, {S2, S3, S4}},
        {"one byte", C::ReadBack, {S3 + 5}, nullptr, M::Ok, 1, {S3 + 5, 1}, {S2, S4}},
        // A differing span that ends on the first byte of sector 3.
        {"onto S3", C::ReadBack, {S3 - 16, S3}, nullptr, M::Ok, 2, {S3 - 16, 17}, {S4}},
        {"read fails", C::ReadBack, {}, "R#3=silent", M::NoAnswer, 0, {S2, all}, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        TSyncedKit kit(test.Fault);
        ASSERT_TRUE(kit.Start());
        TBoardSim& board = kit.Board;
        TBootMonitor& monitor = kit.Monitor;
        const TSyncResult& sync = kit.Sync;
        const TLedgerKey key = MakeLedgerKey(board.PortPath(), sync.Identity, type);
        TBytes onBoard = image;
        for (uint32_t at : test.Changed)
            onBoard[at - Sector2] ^= 0x5A;
        board.LoadMemory(Sector2, onBoard);
        const TProgramPlan plan = BuildProgramPlan(type, Sector2, image.data(), image.size());
        ASSERT_TRUE(RecordLedger(key, plan.LedgerEntries(), nullptr));
        board.SetFaults(test.Fault ? Faults({test.Fault}) : TFaultPlan());

        std::string warning;
        TReadBack readBack;
        if (test.Check != TCheck::ReadBack) {
            const TMonitorResult sum =
                VerifyAndForget(monitor, board.PortPath(), Sector2, image.data(), image.size(),
                                test.Check == TCheck::SumThenReadBack, &warning);
            EXPECT_EQ(sum.Status,
                      test.Check == TCheck::Sum ? test.Result : TMonitorStatus::Refused);
        }
        if (test.Check != TCheck::Sum) {
            readBack = ReadBackAndForget(monitor, board.PortPath(), Sector2, image.data(),
                                         image.size(), nullptr);
            EXPECT_EQ(readBack.Read.Status, test.Result);
            warning += readBack.Warning;
        }
        EXPECT_EQ(warning, "");
        EXPECT_EQ(readBack.Differing, test.Differing);
        EXPECT_EQ(readBack.Forgotten.Start, test.Forgotten.Start);
        EXPECT_EQ(readBack.Forgotten.Length, test.Forgotten.Length);
        std::vector<uint32_t> vouched;
        for (const TLedgerEntry& entry : ReadLedger(key).Entries)
            vouched.push_back(entry.Start);
        EXPECT_EQ(vouched, test.Vouched);
    }
}
