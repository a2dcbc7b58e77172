#pragma once
// The programming of one image on one board, whole: the ledger read and the board's sums that
// confirm its skips, the note of the sectors about to be rewritten, the runs of writing, the
// final verify of the whole image and the record of what the sectors now hold. GUI-free: the
// window and korvex-cli each watch it through a TFlashObserver and decide what the user sees.

#include "BootMonitor.h"
#include "FlashLedger.h"
#include "ProgramPlan.h"

#include <optional>

class TFlashSession {
public:
    // plan covers data (see BuildProgramPlan) and stays the caller's: the session marks its
    // skips there. Without a key the board is unknown: no ledger is read, noted or recorded.
    TFlashSession(TBootMonitor& monitor, TFlashObserver& observer, TProgramPlan& plan,
                  const uint8_t* data, std::optional<TLedgerKey> key);

    bool Keyed() const { return Key.has_value(); }
    // Skips the sectors that both the ledger and the board's sums vouch for. A result other
    // than Ok is a line failure: the plan is then left unskipped.
    TMonitorResult SkipUnchanged();
    // Erases and writes what the plan writes and has the board verify the whole image; the
    // ledger stops vouching for the written sectors first and, after a verified programming,
    // records what all covered sectors hold.
    TBootMonitor::TProgramResult Program();

private:
    TBootMonitor& Monitor;
    TFlashObserver& Observer;
    TProgramPlan& Plan;
    const uint8_t* Data;
    std::optional<TLedgerKey> Key;
};
