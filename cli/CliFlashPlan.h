#pragma once
// korvex-cli program's plan: --skip-unchanged (sectors the ledger and the board's sums both
// vouch for are not written again), --dry-run (the plan printed, nothing changed on the board),
// and the ledger recorded after a verified programming. Also --log FILE of the board commands.

#include "CliBoards.h"
#include "ProgramPlan.h"

#include <string>

class TEBData;

// Adds --skip-unchanged and --dry-run.
void AddPlanOptions(CLI::App* command, bool& skipUnchanged, bool& dryRun);
// What --skip-unchanged trusts, for the command's help.
#define KORVEX_SKIP_UNCHANGED_HELP                                                                 \
    "With --skip-unchanged a sector is left as it is only when Korvex itself last wrote\n"         \
    "exactly that content to this board (the ledger in the per-user data folder, kept per\n"       \
    "port, board identity and sector layout) and the board's sum over the whole sector\n"          \
    "agrees. A sum cannot tell two swapped bytes apart: where boards are swapped on one\n"         \
    "adapter, two images differing only in byte order could pass. --readback remains the\n"        \
    "strong check. --dry-run prints the plan per sector and sends nothing that changes the\n"      \
    "board (with --skip-unchanged it asks the board's sums).\n"

// The plan for one board, after its link was synchronised: with skipUnchanged the ledger is read
// and the board asked the sums of the sectors it vouches for. False when the board did not answer
// (already reported as the board's failure).
struct TBoardPlan {
    TProgramPlan Plan;
    bool Keyed = false; // the board identified itself, so its ledger can be found
    TLedgerKey Key;
};
bool PlanForBoard(TBoard& board, TBootMonitor& monitor, const TEBData& type, uint32_t address,
                  const uint8_t* data, int64_t length, bool skipUnchanged, TBoardPlan& planned);
// Prints the plan (or adds it to the JSON object) for --dry-run.
void ShowPlan(TBoard& board, const TBoardPlan& planned);
// Programs the sectors the plan writes; the final verify covers the whole image. The ledger
// stops vouching for those sectors first; the JSON object gets the counts.
TBootMonitor::TProgramResult RunPlan(TBoard& board, TBootMonitor& monitor,
                                     const TBoardPlan& planned, const uint8_t* data,
                                     const std::function<void(TBootMonitor::TPhase)>& phase,
                                     const TProgressHook& progress,
                                     const std::function<bool()>& keepErasing);
// After a verified programming: records what the sectors now hold, and says how many were
// skipped. A ledger that cannot be written is a warning, not a failure of the programming.
void RecordPlan(TBoard& board, const TBoardPlan& planned);

// Adds --log FILE.
void AddLogOption(CLI::App* command, std::string& path);
// The work, followed by one line appended to the log for the board (when path is not empty):
// the time, the board's JSON object, the image's SHA-256 when there is an image.
TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work);
