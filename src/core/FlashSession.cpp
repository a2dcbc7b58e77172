#include "FlashSession.h"

namespace {

// Passes the programming's reports on, and tells the sector being written as the bytes go out.
class TSectorWatch : public TFlashObserver {
public:
    TSectorWatch(TFlashObserver& observer, const TProgramPlan& plan)
        : Observer(observer), Plan(plan), Current(plan.SectorWrittenAt(0)) {
        if (Current >= 0)
            Observer.SectorStarted(Current);
    }
    void Phase(TBootMonitor::TPhase phase) override {
        // The shorter last block is not counted in the progress: the verify says it went.
        if (phase == TBootMonitor::TPhase::Verifying)
            MoveTo(-1);
        Observer.Phase(phase);
    }
    bool KeepErasing() override { return Observer.KeepErasing(); }
    bool Progress(int64_t done, int64_t total) override {
        MoveTo(Plan.SectorWrittenAt(done));
        return Observer.Progress(done, total);
    }

private:
    void MoveTo(int sector) {
        if (sector == Current)
            return;
        if (Current >= 0)
            Observer.SectorDone(Current);
        Current = sector;
        if (Current >= 0)
            Observer.SectorStarted(Current);
    }

    TFlashObserver& Observer;
    const TProgramPlan& Plan;
    int Current;
};

} // namespace

TFlashSession::TFlashSession(TBootMonitor& monitor, TFlashObserver& observer, TProgramPlan& plan,
                             const uint8_t* data, std::optional<TLedgerKey> key)
    : Monitor(monitor), Observer(observer), Plan(plan), Data(data), Key(std::move(key)) {}

TMonitorResult TFlashSession::SkipUnchanged() {
    if (!Key)
        return TMonitorResult();
    const TLedgerRead ledger = ReadLedger(*Key);
    if (!ledger.Warning.empty())
        Observer.Warning(ledger.Warning);
    ApplyLedger(Plan, ledger.Entries);
    if (Plan.Checks() == 0)
        return TMonitorResult();
    Observer.Checking(Plan.Checks());
    return ConfirmSkips(Monitor, Plan, Data);
}

TBootMonitor::TProgramResult TFlashSession::Program() {
    std::string error;
    // Every sector the image overlaps is erased, from its first byte to its last, unless it is
    // skipped as unchanged.
    if (Key && !MarkLedgerPending(*Key, Plan.WrittenSectors(), &error))
        Observer.Warning(error);
    TSectorWatch watch(Observer, Plan);
    const TBootMonitor::TProgramResult program = Monitor.ProgramFlashRuns(
        Plan.Address, Data, Plan.Length, Plan.WriteRuns(), Plan.EraseAddresses(), watch);
    if (program.Result.Ok() && Key && !RecordLedger(*Key, Plan.LedgerEntries(), &error))
        Observer.Warning(error);
    return program;
}
