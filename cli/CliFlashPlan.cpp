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

bool PlanForBoard(TBoard& board, TBootMonitor& monitor, const TEBData& type, uint32_t address,
                  const uint8_t* data, int64_t length, bool skipUnchanged, TBoardPlan& planned) {
    planned.Plan = BuildProgramPlan(type, address, data, length);
    if (const TMonitorIdentity* identity = board.Identity()) {
        planned.Keyed = true;
        planned.Key = MakeLedgerKey(board.Port(), *identity, type);
    }
    if (!skipUnchanged)
        return true;
    if (!planned.Keyed) {
        Warn(board, "without a synchronisation the board is unknown; every sector is written.");
        return true;
    }
    const TLedgerRead ledger = ReadLedger(planned.Key);
    if (!ledger.Warning.empty())
        Warn(board, ledger.Warning);
    ApplyLedger(planned.Plan, ledger.Entries);
    if (planned.Plan.Checks() == 0)
        return true;
    board.Phase("Checking");
    const TMonitorResult checked = ConfirmSkips(monitor, planned.Plan, data);
    if (!checked.Ok()) {
        board.Fail(WithNoAnswerLine(VerifyFailure(checked), checked).Text);
        return false;
    }
    return true;
}

void ShowPlan(TBoard& board, const TBoardPlan& planned) {
    board.Separator();
    for (const std::string& line : PlanLines(planned.Plan, board.Speed()))
        board.Line(line);
    board.Json().AddNumber("sectors_written", planned.Plan.Count(TSectorAction::Write));
    board.Json().AddNumber("sectors_skipped", planned.Plan.Count(TSectorAction::Skip));
    board.Json().AddNumber("line_bytes", planned.Plan.LineBytes());
    board.Json().AddNumber("line_seconds", planned.Plan.LineSeconds(board.Speed()), 1);
    board.SetResult("Dry run: nothing was changed.", 0);
}

TBootMonitor::TProgramResult RunPlan(TBoard& board, TBootMonitor& monitor,
                                     const TBoardPlan& planned, const uint8_t* data,
                                     const std::function<void(TBootMonitor::TPhase)>& phase,
                                     const TProgressHook& progress,
                                     const std::function<bool()>& keepErasing) {
    const TProgramPlan& plan = planned.Plan;
    board.Json().AddNumber("sectors_written", plan.Count(TSectorAction::Write));
    board.Json().AddNumber("sectors_skipped", plan.Count(TSectorAction::Skip));
    std::string error;
    if (planned.Keyed && !MarkLedgerPending(planned.Key, plan.WrittenSectors(), &error))
        Warn(board, error);
    return monitor.ProgramFlashRuns(plan.Address, data, plan.Length, plan.WriteRuns(),
                                    plan.EraseAddresses(), phase, progress, keepErasing);
}

void RecordPlan(TBoard& board, const TBoardPlan& planned) {
    if (planned.Plan.Count(TSectorAction::Skip) > 0)
        board.Line(FormatText("%d of %d sectors unchanged, not written again.",
                              planned.Plan.Count(TSectorAction::Skip),
                              planned.Plan.Count(TSectorAction::Skip) +
                                  planned.Plan.Count(TSectorAction::Write)));
    if (!planned.Keyed)
        return;
    std::string error;
    if (!RecordLedger(planned.Key, planned.Plan.LedgerEntries(), &error))
        Warn(board, error);
}

void AddLogOption(CLI::App* command, std::string& path) {
    command->add_option("--log", path, "append one JSON line per board to FILE")
        ->option_text("FILE");
}

TBoardWork LoggedWork(const std::string& path, const char* operation, const uint8_t* image,
                      int64_t imageLength, TBoardWork work) {
    if (path.empty())
        return work;
    const std::string sha = image ? Sha256Hex(image, imageLength) : std::string();
    return [path, operation, sha, work](TBoard& board) {
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
        if (!AppendLogLine(QString::fromStdString(path), entry, &error))
            Warn(board, error);
    };
}
