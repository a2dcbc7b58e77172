// The programming of one image against the simulated board: what its observer is told, and
// what the ledger it keeps lets the next programming skip.
#include "FlashSession.h"
#include "BoardTestKit.h"
#include "Comm.h"
#include "Ebdata.h"

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

} // namespace

TEST(FlashSession, ReportsEachStepAndLetsTheNextProgrammingSkipOnlyWhatItRecorded) {
    TEBData type("Kit");
    ASSERT_TRUE(type.SetSectors("4x8K,2x32K") && type.SetProtected("") &&
                type.SetFlashStart("01000000") && type.SetSramSize("1000"));
    const TBytes image = Pattern(0x4000 + 100); // sectors 2 and 3 whole, sector 4 in part
    TBytes ends = image;                        // sectors 2 and 4 changed, 3 between them not
    ends[5] ^= 0xFF;
    ends[0x4000 + 5] ^= 0xFF;
    const std::vector<uint32_t> whole = {Sector2, 0x01008060}, none = {};
    const std::vector<uint32_t> twoRuns = {Sector2, 0x01005FE0, 0x01008000, 0x01008050};
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
        {"known", true, false, ok, "+2 erase write -2 +3 -3 +4 -4 verify", image, nullptr, ok,
         "check 3 erase write verify", none},
        {"unknown", false, false, ok, "+2 erase write -2 +3 -3 +4 -4 verify", image, nullptr, ok,
         "+2 erase write -2 +3 -3 +4 -4 verify", whole},
        {"cancelled", true, true, TMonitorStatus::Cancelled, "+2 erase", image, nullptr, ok,
         "+2 erase write -2 +3 -3 +4 -4 verify", whole},
        {"two runs", true, false, ok, "+2 erase write -2 +3 -3 +4 -4 verify", ends, nullptr, ok,
         "check 1 +2 erase write -2 +4 -4 verify", twoRuns},
        // The board falls silent at the second sum, after a first skip: nothing stays skipped.
        {"silent check", true, false, ok, "+2 erase write -2 +3 -3 +4 -4 verify", image,
         "V#2=silent", TMonitorStatus::Refused, "check 3", none},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        ASSERT_TRUE(QDir(LedgerFolder()).removeRecursively());
        TBoardSim board(KitBoard());
        ASSERT_TRUE(board.Start());
        TComms port;
        TBootMonitor monitor(port, test.Fault ? ShortWaits() : ShortPauses());
        const TSyncResult sync = monitor.Synchronize({board.PortPath(), false, 115200});
        ASSERT_TRUE(sync.Ok());
        const TLedgerKey key = MakeLedgerKey(board.PortPath(), sync.Identity, type);

        const auto program = [&](const TBytes& bytes, bool known, bool stop, const char* events,
                                 TMonitorStatus checked) {
            TProgramPlan plan = BuildProgramPlan(type, Sector2, bytes.data(), bytes.size());
            TRecorder recorder;
            recorder.StopErasing = stop;
            TFlashSession session(monitor, recorder, plan, bytes.data(), board.PortPath(),
                                  known ? std::optional<TLedgerKey>(key) : std::nullopt);
            EXPECT_EQ(session.SkipUnchanged().Status, checked);
            // After a failed check the callers stop: by then the plan must skip nothing.
            const TMonitorStatus status =
                checked == TMonitorStatus::Ok ? session.Program().Result.Status : checked;
            if (checked != TMonitorStatus::Ok) {
                EXPECT_EQ(plan.Count(TSectorAction::Skip), 0);
            }
            EXPECT_EQ(recorder.Events, events);
            return status;
        };
        EXPECT_EQ(program(image, test.Known, test.StopErasing, test.FirstEvents, ok), test.First);
        board.SetFaults(test.Fault ? Faults({test.Fault}) : TFaultPlan());
        board.ClearFrames();
        EXPECT_EQ(program(test.Second, true, false, test.SecondEvents, test.Checked), test.Checked);
        std::vector<uint32_t> writeStarts;
        for (const TFrameRecord& frame : FramesOf(board.Frames(), TFrameKind::WriteStart))
            writeStarts.push_back(FrameAddress(frame));
        EXPECT_EQ(writeStarts, test.WriteStarts);
        EXPECT_EQ(board.ReadMemory(Sector2, image.size()), test.Second);
    }
}
