#include "FlashSession.h"

#include "SilentBoard.h"

namespace {

// Passes the programming's reports on, and tells the sector being written as the bytes go out.
// With every sector skipped nothing is erased or written: only the verify is a phase then.
class TSectorWatch : public TFlashObserver {
public:
    TSectorWatch(TFlashObserver& observer, const TProgramPlan& plan)
        : Observer(observer), Plan(plan), Writes(plan.Count(TSectorAction::Write) > 0) {}
    void Phase(TBootMonitor::TPhase phase) override {
        const bool verifying = phase == TBootMonitor::TPhase::Verifying;
        // The shorter last block is not counted in the progress: the verify says it went.
        if (verifying)
            MoveTo(-1);
        if (Writes || verifying)
            Observer.Phase(phase);
    }
    bool KeepErasing() override {
        // Asked after each sector the board erased, in the plan's order.
        const std::vector<int> toErase = Plan.SectorsOf(TSectorAction::Write);
        if (Erased < toErase.size())
            Observer.SectorErased(toErase[Erased++]);
        return Observer.KeepErasing();
    }
    // A run shorter than a block reports no progress: its sector is marked as it starts.
    void RunStarting(int64_t done) override {
        MoveTo(Plan.SectorWrittenAt(done));
        Observer.RunStarting(done);
    }
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
    int Current = -1;
    const bool Writes;
    size_t Erased = 0; // sectors erased so far
};

// The whole sectors that the plan erases (written) or covers at all.
std::vector<TFlashRange> SectorRanges(const TProgramPlan& plan, bool writtenOnly) {
    std::vector<TFlashRange> ranges;
    for (const TSectorPlan& sector : plan.Sectors)
        if (sector.Action == TSectorAction::Write ||
            (!writtenOnly && sector.Action == TSectorAction::Skip))
            ranges.push_back({sector.Start, sector.Length});
    return ranges;
}

} // namespace

std::optional<TLedgerKey> BoardLedgerKey(const std::string& port, const TMonitorIdentity* identity,
                                         const TEBData& type) {
    if (!identity)
        return std::nullopt;
    return MakeLedgerKey(port, *identity, type);
}

TFlashSession::TFlashSession(TBootMonitor& monitor, TFlashObserver& observer, TProgramPlan& plan,
                             const uint8_t* data, std::string port, std::optional<TLedgerKey> key)
    : Monitor(monitor), Observer(observer), Plan(plan), Data(data), Port(std::move(port)),
      Key(std::move(key)) {}

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
    // A board of unknown identity may be the one any ledger of the port was written for.
    if (Key ? !MarkLedgerPending(*Key, Plan.WrittenSectors(), &error)
            : !MarkPortPending(Port, SectorRanges(Plan, true), &error))
        Observer.Warning(error);
    TSectorWatch watch(Observer, Plan);
    const TBootMonitor::TProgramResult program = Monitor.ProgramFlashRuns(
        Plan.Address, Data, Plan.Length, Plan.WriteRuns(), Plan.EraseAddresses(), watch);
    if (program.Result.Ok() && Key && !RecordLedger(*Key, Plan.LedgerEntries(), &error))
        Observer.Warning(error);
    // The board's sum says the image differs somewhere, perhaps in a skipped sector.
    const bool differs = program.Step == TBootMonitor::TStep::Verify &&
                         program.Result.Status == TMonitorStatus::Refused;
    if (differs && !MarkPortPending(Port, SectorRanges(Plan, false), &error))
        Observer.Warning(error);
    return program;
}

TProgramOutcome ProgramOutcome(const TBootMonitor::TProgramResult& program,
                               const TProgramPlan& plan, uint32_t start, int64_t length) {
    TProgramOutcome outcome;
    const auto add = [](std::vector<std::string>& lines, const std::string& line) {
        if (!line.empty())
            lines.push_back(line);
    };
    if (program.Result.Ok()) {
        add(outcome.Before, UnchangedSectorsLine(plan.SectorsOf(TSectorAction::Skip)));
        outcome.Done = ProgrammedLine(length, start);
        return outcome;
    }
    outcome.Cancelled = program.Result.Status == TMonitorStatus::Cancelled;
    // A cancel is shown as each face shows one; what follows is what the flash then holds.
    if (!outcome.Cancelled) {
        outcome.Failure = WithAnswerLines(ProgramFailure(program, start), program.Result);
        add(outcome.After, ProgramClosingLine(program));
    }
    add(outcome.After, PartlyProgrammedLine(program));
    return outcome;
}
