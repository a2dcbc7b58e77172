#pragma once
// korvex-cli's face of the flash session and of the checks after it: --skip-unchanged (sectors
// the ledger and the board's sums both vouch for are not written again), --dry-run (the plan
// printed, nothing changed on the board), what the session reports, and the read-back.

#include "CliBoards.h"
#include "FlashSession.h"

#include <string>

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
// progress, Ctrl+C between erased sectors, and warnings on stderr.
class TCliFlashObserver : public TFlashObserver {
public:
    explicit TCliFlashObserver(TBoard& board) : Board(board) {}
    void Checking(int sectors) override;
    void Phase(TBootMonitor::TPhase phase) override;
    bool Progress(int64_t done, int64_t total) override;
    bool KeepErasing() override;
    void Warning(const std::string& text) override;

private:
    TBoard& Board;
    bool Shown = false; // a phase was shown: the first one opens the board's block of lines
};

// --skip-unchanged, after the board's link was synchronised: the ledger is read and the board
// asked the sums of the sectors it vouches for. False when the board did not answer (already
// reported as the board's failure).
bool SkipUnchanged(TBoard& board, TFlashSession& session);
// Prints the plan (or adds it to the JSON object) for --dry-run; without protectedAllowed the
// protected sectors it would write are marked as needing --yes.
void ShowPlan(TBoard& board, const TProgramPlan& plan, bool protectedAllowed);
// Programs the sectors the plan writes; the final verify covers the whole image. The JSON
// object gets the counts, the board its outcome (start and length are the image's). True
// when the board verified the programming.
bool RunPlan(TBoard& board, TFlashSession& session, const TProgramPlan& plan, uint32_t start,
             int64_t length);
// Something the user should know that does not stop the board's work, on stderr.
void WarnOnBoard(TBoard& board, const std::string& text);
// Reads the range back and compares it (see ReadBackAndForget); the differences are listed,
// and a board with any fails with failureText (none when it already failed the range).
void ReadBackOnBoard(TBoard& board, TBootMonitor& monitor, uint32_t address, const uint8_t* data,
                     int64_t length, const std::string& failureText);
