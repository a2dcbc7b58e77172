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
    const TBytes image = Pattern(0x2000 + 100); // sector 2 whole, sector 3 in part
    const struct {
        const char* Name;
        bool Known;       // the first programming knows the board
        bool StopErasing; // and is cancelled after its first erased sector
        TMonitorStatus First;
        const char* FirstEvents;
        const char* SecondEvents; // the same image again, skipping what is unchanged
    } cases[] = {
        {"known", true, false, TMonitorStatus::Ok, "+2 erase write -2 +3 -3 verify",
         "check 2 erase write verify"},
        {"unknown", false, false, TMonitorStatus::Ok, "+2 erase write -2 +3 -3 verify",
         "+2 erase write -2 +3 -3 verify"},
        {"cancelled", true, true, TMonitorStatus::Cancelled, "+2 erase",
         "+2 erase write -2 +3 -3 verify"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        ASSERT_TRUE(QDir(LedgerFolder()).removeRecursively());
        TBoardSim board(KitBoard());
        ASSERT_TRUE(board.Start());
        TComms port;
        TBootMonitor monitor(port, ShortPauses());
        const TSyncResult sync = monitor.Synchronize({board.PortPath(), false, 115200});
        ASSERT_TRUE(sync.Ok());
        const TLedgerKey key = MakeLedgerKey(board.PortPath(), sync.Identity, type);

        const auto program = [&](bool known, bool stop, const char* events) {
            TProgramPlan plan = BuildProgramPlan(type, Sector2, image.data(), image.size());
            TRecorder recorder;
            recorder.StopErasing = stop;
            TFlashSession session(monitor, recorder, plan, image.data(), board.PortPath(),
                                  known ? std::optional<TLedgerKey>(key) : std::nullopt);
            EXPECT_TRUE(session.SkipUnchanged().Ok());
            const TMonitorStatus status = session.Program().Result.Status;
            EXPECT_EQ(recorder.Events, events);
            return status;
        };
        EXPECT_EQ(program(test.Known, test.StopErasing, test.FirstEvents), test.First);
        EXPECT_EQ(program(true, false, test.SecondEvents), TMonitorStatus::Ok);
        EXPECT_EQ(board.ReadMemory(Sector2, image.size()), image);
    }
}
