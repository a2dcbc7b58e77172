#include "CliFlashObserver.h"

#include "CliConsole.h"
#include "FlashCheck.h"
#include "HexText.h"
#include "MonitorMessages.h"
#include "ProgrammedSectors.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>
#include <QJsonArray>
#include <QJsonObject>

void WarnOnBoard(TBoard& board, const std::string& text) {
    TCliConsole::Instance().Err(board.Port() + ": ", "warning: " + text);
}

void AddPlanOptions(CLI::App* command, bool& skipUnchanged, bool& dryRun) {
    command->add_flag("--skip-unchanged", skipUnchanged,
                      "leave sectors that already hold the image's content as they are");
    command->add_flag("-n,--dry-run", dryRun,
                      "print what would be erased, written and skipped; change nothing");
}

void TCliFlashObserver::Checking(int) {
    Board.Phase("Checking");
}

void TCliFlashObserver::Phase(TBootMonitor::TPhase phase) {
    if (!Shown)
        Board.Separator();
    Shown = true;
    Board.Line(ProgramPhaseLine(phase));
    Board.Phase(phase == TBootMonitor::TPhase::Erasing       ? "Erasing"
                : phase == TBootMonitor::TPhase::Programming ? "Programming"
                                                             : "Verifying");
}

bool TCliFlashObserver::Progress(int64_t done, int64_t total) {
    return Board.Progress(done, total);
}

bool TCliFlashObserver::KeepErasing() {
    return !InterruptRequested();
}

void TCliFlashObserver::Warning(const std::string& text) {
    WarnOnBoard(Board, text);
}

bool SkipUnchanged(TBoard& board, TFlashSession& session) {
    if (!session.Keyed()) {
        WarnOnBoard(board,
                    "without a synchronisation the board is unknown; every sector is written.");
        return true;
    }
    const TMonitorResult checked = session.SkipUnchanged();
    if (!checked.Ok()) {
        board.Fail(WithAnswerLines(VerifyFailure(checked), checked).Text);
        return false;
    }
    return true;
}

void ShowPlan(TBoard& board, const TProgramPlan& plan, bool protectedAllowed) {
    board.Separator();
    for (const std::string& line : PlanLines(plan, board.Speed(), protectedAllowed))
        board.Line(line);
    board.Json().AddNumber("sectors_written", plan.Count(TSectorAction::Write));
    board.Json().AddNumber("sectors_skipped", plan.Count(TSectorAction::Skip));
    board.Json().AddNumber("line_bytes", plan.LineBytes());
    board.Json().AddNumber("line_seconds", plan.LineSeconds(board.Speed()), 1);
    board.SetResult("Dry run: nothing was changed.", 0);
}

bool RunPlan(TBoard& board, TFlashSession& session, const TProgramPlan& plan, uint32_t start,
             int64_t length) {
    const TBootMonitor::TProgramResult program = session.Program();
    board.SetBytes(program.Result.BytesDone);
    // The record claims what happened, not what was planned.
    const TProgrammedSectors done = ProgrammedSectors(plan, program);
    board.Json().AddNumber("sectors_written", static_cast<int64_t>(done.Written.size()));
    board.Json().AddNumber("sectors_erased", static_cast<int64_t>(done.Erased.size()));
    board.Json().AddNumber("sectors_skipped", plan.Count(TSectorAction::Skip));
    if (done.StoppedAt)
        board.Json().AddString("stopped_at", AddrToHex(*done.StoppedAt)());
    const TProgramOutcome outcome = ProgramOutcome(program, plan, start, length);
    for (const std::string& line : outcome.Before)
        board.Line(line);
    if (outcome.Cancelled)
        board.Interrupted();
    if (outcome.Failure)
        board.Fail(outcome.Failure->Text);
    for (const std::string& line : outcome.After)
        board.Line(line);
    if (outcome.Done.empty())
        return false;
    board.SetResult(outcome.Done, length);
    return true;
}

namespace {

// The differing bytes in the board's JSON object, as many as are listed.
QJsonArray DifferencesJson(const TReadBack& readBack) {
    QJsonArray listed;
    for (const TByteDifference& byte : readBack.FirstShown)
        listed.append(QJsonObject{{"address", QString::fromStdString(AddrToHex(byte.Address)())},
                                  {"board", byte.Board},
                                  {"file", byte.File}});
    return listed;
}

std::string JoinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += text.empty() ? line : "\n" + line;
    return text;
}

} // namespace

void ReadBackOnBoard(TBoard& board, TBootMonitor& monitor, uint32_t address, const uint8_t* data,
                     int64_t length, const std::string& failureText) {
    board.Phase("Reading back");
    const TReadBack readBack = ReadBackAndForget(
        monitor, board.Port(), address, data, length,
        [&board](int64_t done, int64_t total) { return board.Progress(done, total); });
    if (!readBack.Warning.empty())
        WarnOnBoard(board, readBack.Warning);
    if (readBack.Read.Status == TMonitorStatus::Cancelled) {
        board.Interrupted();
        return;
    }
    if (!readBack.Read.Ok()) {
        board.Fail(WithServerLine(ReadFailure(readBack.Read), readBack.Read).Text);
        return;
    }
    board.Separator();
    board.Json().AddNumber("differences", readBack.Differing);
    if (readBack.Same()) {
        board.Line(ReadBackSameLine(length, address));
        return;
    }
    board.Json().Add("first_differences", DifferencesJson(readBack));
    board.Line(JoinedLines(ReadBackDifferenceLines(readBack)));
    const std::string counted = ReadBackDifferLine(readBack);
    board.Fail(failureText.empty() ? counted : failureText + "\n" + counted);
}
