#pragma once
// korvex-cli program's face of the flash session: --skip-unchanged (sectors the ledger and the
// board's sums both vouch for are not written again), --dry-run (the plan printed, nothing
// changed on the board), and what the session reports. Also --log FILE of the board commands.

#include "CliBoards.h"
#include "FlashSession.h"

#include <optional>

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

// A board's view of its flash session: the phases as lines and in the board's state, the
// progress, Ctrl+C between erased sectors, and warnings on stderr. A plan that writes no
// sector (every one skipped) shows only its verify.
class TCliFlashObserver : public TFlashObserver {
public:
    TCliFlashObserver(TBoard& board, const TProgramPlan& plan) : Board(board), Plan(plan) {}
    void Checking(int sectors) override;
    void Phase(TBootMonitor::TPhase phase) override;
    bool Progress(int64_t done, int64_t total) override;
    bool KeepErasing() override;
    void Warning(const std::string& text) override;

private:
    TBoard& Board;
    const TProgramPlan& Plan;
};

// The ledger of a board that identified itself; none for a board taken as --linked.
std::optional<TLedgerKey> BoardLedgerKey(TBoard& board, const TEBData& type);
// --skip-unchanged, after the board's link was synchronised: the ledger is read and the board
// asked the sums of the sectors it vouches for. False when the board did not answer (already
// reported as the board's failure).
bool SkipUnchanged(TBoard& board, TFlashSession& session);
// Prints the plan (or adds it to the JSON object) for --dry-run; without protectedAllowed the
// protected sectors it would write are marked as needing --yes.
void ShowPlan(TBoard& board, const TProgramPlan& plan, bool protectedAllowed);
// Programs the sectors the plan writes; the final verify covers the whole image. The JSON
// object gets the counts; a verified programming names the sectors it skipped.
TBootMonitor::TProgramResult RunPlan(TBoard& board, TFlashSession& session,
                                     const TProgramPlan& plan);
// After a verify that found the board's content other than the image's in a range: no ledger
// of the port vouches for it any longer.
void ForgetOnBoard(TBoard& board, uint32_t address, int64_t length);
// The read-back of TBoard::ReadBackAndCompare; the ledgers of the port stop vouching for the
// stretch from the first differing byte to the last, or for the whole range when the read
// failed.
void ReadBackAndForget(TBoard& board, TBootMonitor& monitor, uint32_t address, const uint8_t* data,
                       int64_t length, const std::string& failureText);

// Adds --log FILE.
void AddLogOption(CLI::App* command, std::string& path);
// The work, followed by one line appended to the log for the board (when path is not empty):
// the time, the board's JSON object, the image's SHA-256 when there is an image. The log is
// opened here, before any board work; one that cannot be opened throws TCliUsageError.
TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work);
