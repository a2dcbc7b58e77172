#include "ProgrammedSectors.h"

#include <algorithm>

namespace {

// How many of the sectors to write were erased when the programming ended.
size_t ErasedCount(const TProgramPlan& plan, const std::vector<int>& toWrite,
                   const TBootMonitor::TProgramResult& program) {
    if (program.Step != TBootMonitor::TStep::Erase)
        return toWrite.size();
    // The erase walk ended at the sector of the result: a stop asked for after its erase went
    // through counts it, a failed or unanswered erase does not.
    const int at = plan.SectorAt(program.Result.Address);
    const auto ended = std::find(toWrite.begin(), toWrite.end(), at);
    const size_t done = static_cast<size_t>(ended - toWrite.begin());
    const bool erasedToo = program.Result.Status == TMonitorStatus::Cancelled;
    return std::min(toWrite.size(), done + (erasedToo && ended != toWrite.end() ? 1 : 0));
}

// The image bytes acknowledged, counted along the runs as the programming sends them.
int64_t BytesWritten(const TProgramPlan& plan, const TBootMonitor::TProgramResult& program) {
    switch (program.Step) {
    case TBootMonitor::TStep::Erase:
        return 0;
    case TBootMonitor::TStep::Verify:
    case TBootMonitor::TStep::Done:
        return plan.DataBytes();
    default:
        return std::clamp<int64_t>(program.Result.BytesDone, 0, plan.DataBytes());
    }
}

} // namespace

TProgrammedSectors ProgrammedSectors(const TProgramPlan& plan,
                                     const TBootMonitor::TProgramResult& program) {
    const std::vector<int> toWrite = plan.SectorsOf(TSectorAction::Write);
    TProgrammedSectors done;
    done.Erased.assign(toWrite.begin(), toWrite.begin() + static_cast<std::ptrdiff_t>(
                                                              ErasedCount(plan, toWrite, program)));
    // The runs carry the sectors' data one after another, in sector order.
    int64_t left = BytesWritten(plan, program);
    for (int index : toWrite) {
        const TSectorPlan& sector = plan.Sectors[static_cast<size_t>(index)];
        if (left >= sector.DataLength) {
            done.Written.push_back(index);
            left -= sector.DataLength;
            continue;
        }
        if (left > 0)
            done.StoppedAt = sector.DataStart + static_cast<uint32_t>(left);
        break;
    }
    return done;
}
