#include "CliFlashPlan.h"

#include "CliConsole.h"
#include "Ebdata.h"
#include "MonitorMessages.h"
#include "OperationLog.h"
#include "SilentBoard.h"

#include <CLI/CLI.hpp>
#include <QDateTime>
#include <QJsonDocument>

#include <exception>
#include <memory>

namespace {

void Warn(TBoard& board, const std::string& text) {
    TCliConsole::Instance().Err(board.Port() + ": ", "warning: " + text);
}

} // namespace

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
    const bool nothingWritten = Plan.Count(TSectorAction::Write) == 0;
    if (nothingWritten && phase != TBootMonitor::TPhase::Verifying)
        return;
    if (phase == TBootMonitor::TPhase::Erasing || nothingWritten)
        Board.Separator();
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
    Warn(Board, text);
}

std::optional<TLedgerKey> BoardLedgerKey(TBoard& board, const TEBData& type) {
    if (const TMonitorIdentity* identity = board.Identity())
        return MakeLedgerKey(board.Port(), *identity, type);
    return std::nullopt;
}

bool SkipUnchanged(TBoard& board, TFlashSession& session) {
    if (!session.Keyed()) {
        Warn(board, "without a synchronisation the board is unknown; every sector is written.");
        return true;
    }
    const TMonitorResult checked = session.SkipUnchanged();
    if (!checked.Ok()) {
        board.Fail(WithNoAnswerLine(VerifyFailure(checked), checked).Text);
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

TBootMonitor::TProgramResult RunPlan(TBoard& board, TFlashSession& session,
                                     const TProgramPlan& plan) {
    board.Json().AddNumber("sectors_written", plan.Count(TSectorAction::Write));
    board.Json().AddNumber("sectors_skipped", plan.Count(TSectorAction::Skip));
    const TBootMonitor::TProgramResult program = session.Program();
    const std::string unchanged = UnchangedSectorsLine(plan.SectorsOf(TSectorAction::Skip));
    if (program.Result.Ok() && !unchanged.empty())
        board.Line(unchanged);
    return program;
}

void ForgetOnBoard(TBoard& board, uint32_t address, int64_t length) {
    std::string error;
    if (!ForgetRange(board.Port(), address, length, &error))
        Warn(board, error);
}

void ReadBackAndForget(TBoard& board, TBootMonitor& monitor, uint32_t address, const uint8_t* data,
                       int64_t length, const std::string& failureText) {
    std::pair<uint32_t, uint32_t> span = {address, address + static_cast<uint32_t>(length - 1)};
    if (!board.ReadBackAndCompare(monitor, address, data, length, failureText, &span))
        ForgetOnBoard(board, span.first, int64_t{span.second} - span.first + 1);
}

void AddLogOption(CLI::App* command, std::string& path) {
    command->add_option("--log", path, "append one JSON line per board to FILE")
        ->option_text("FILE");
}

TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work) {
    if (path.empty())
        return work;
    // Opened before any board is touched: a log that cannot take lines is a mistake on the
    // command line, not something to find out after the flash was written.
    auto log = std::make_shared<TOperationLog>();
    std::string error;
    if (!log->Open(path, &error))
        throw TCliUsageError(error);
    const std::string sha = image ? Sha256Hex(image, imageLength) : std::string();
    return [log, operation, sha, work](TBoard& board) {
        const QDateTime started = QDateTime::currentDateTimeUtc();
        try {
            work(board);
        } catch (const std::exception& error) {
            board.Fail(error.what());
        }
        board.Finish();
        QJsonObject entry =
            QJsonDocument::fromJson(QByteArray::fromStdString(board.JsonText(operation))).object();
        entry["time"] = started.toString(Qt::ISODateWithMs);
        if (!sha.empty())
            entry["file_sha256"] = QString::fromStdString(sha);
        std::string error;
        if (!log->Append(
                entry, [] { return !InterruptRequested(); }, &error))
            Warn(board, error);
    };
}
