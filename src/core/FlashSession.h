#pragma once
// The programming of one image on one board, whole: the ledger read and the board's sums that
// confirm its skips, the note of the sectors about to be rewritten, the runs of writing, the
// final verify of the whole image and the record of what the sectors now hold. GUI-free: the
// window and korvex-cli each watch it through a TFlashObserver and decide what the user sees.

#include "BootMonitor.h"
#include "FlashLedger.h"
#include "MonitorMessages.h"
#include "ProgramPlan.h"

#include <optional>
#include <string>
#include <vector>

class TEBData;

// The ledger of the board on port when it identified itself (identity given); none otherwise,
// as for a board taken as already linked.
std::optional<TLedgerKey> BoardLedgerKey(const std::string& port, const TMonitorIdentity* identity,
                                         const TEBData& type);

class TFlashSession {
public:
    // plan covers data (see BuildProgramPlan) and stays the caller's: the session marks its
    // skips there. Without a key the board on port is unknown: no ledger is read or recorded,
    // and every ledger of the port stops vouching for the sectors written.
    TFlashSession(TBootMonitor& monitor, TFlashObserver& observer, TProgramPlan& plan,
                  const uint8_t* data, std::string port, std::optional<TLedgerKey> key);

    bool Keyed() const { return Key.has_value(); }
    // Skips the sectors that both the ledger and the board's sums vouch for. A result other
    // than Ok is a line failure: the plan is then left unskipped.
    TMonitorResult SkipUnchanged();
    // Erases and writes what the plan writes and has the board verify the whole image (a plan
    // that writes no sector has only the verify, and the observer hears of no other phase); the
    // ledger stops vouching for the written sectors first and, after a verified programming,
    // records what all covered sectors hold. A verify the board refuses leaves no sector of
    // the image vouched for, skipped ones included.
    TBootMonitor::TProgramResult Program();

private:
    TBootMonitor& Monitor;
    TFlashObserver& Observer;
    TProgramPlan& Plan;
    const uint8_t* Data;
    std::string Port;
    std::optional<TLedgerKey> Key;
};

// What a programming came to, as both faces word it.
struct TProgramOutcome {
    bool Cancelled = false;
    std::vector<std::string> Before;        // a verified programming: the sectors it skipped
    std::string Done;                       // a verified programming: its result line
    std::optional<TMonitorMessage> Failure; // a failure, not a cancel: the step's message
    std::vector<std::string> After;         // not verified: what the flash holds now
};
// start and length are the image's; plan is the one the session programmed.
TProgramOutcome ProgramOutcome(const TBootMonitor::TProgramResult& program,
                               const TProgramPlan& plan, uint32_t start, int64_t length);
