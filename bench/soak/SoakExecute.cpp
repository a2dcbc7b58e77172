// Running one operation the way the window and korvex-cli do (a port opened for it, one call
// of the protocol, the texts MonitorMessages gives), and holding the result against the
// prediction.
#include "Comm.h"
#include "Ebdata.h"
#include "FlashPlan.h"
#include "MonitorMessages.h"
#include "SoakOps.h"

#include <memory>

namespace {

const TEBData& SoakTypeDefinition() {
    static const std::unique_ptr<TEBData> type = [] {
        auto definition = std::make_unique<TEBData>("Soak");
        definition->SetSectors(SoakSectors);
        definition->SetFlashStart(
            FormatText("%04X %04X", SoakFlashStart >> 16, SoakFlashStart & 0xFFFF).c_str());
        return definition;
    }();
    return *type;
}

const char* StatusName(TMonitorStatus status) {
    switch (status) {
    case TMonitorStatus::Ok:
        return "Ok";
    case TMonitorStatus::NoAnswer:
        return "NoAnswer";
    case TMonitorStatus::Refused:
        return "Refused";
    case TMonitorStatus::FlashError:
        return "FlashError";
    case TMonitorStatus::BadChecksum:
        return "BadChecksum";
    case TMonitorStatus::Cancelled:
        return "Cancelled";
    case TMonitorStatus::OutOfStep:
        return "OutOfStep";
    case TMonitorStatus::LineLost:
        break;
    }
    return "LineLost";
}

const char* SyncStatusName(TSyncStatus status) {
    switch (status) {
    case TSyncStatus::Ok:
        return "Ok";
    case TSyncStatus::PortFailed:
        return "PortFailed";
    case TSyncStatus::NoAck:
        return "NoAck";
    case TSyncStatus::NoResponse:
        return "NoResponse";
    case TSyncStatus::NoSpeed:
        return "NoSpeed";
    case TSyncStatus::OutOfStep:
        return "OutOfStep";
    case TSyncStatus::LineLost:
        break;
    }
    return "LineLost";
}

const char* StepName(TBootMonitor::TStep step) {
    switch (step) {
    case TBootMonitor::TStep::Erase:
        return "Erase";
    case TBootMonitor::TStep::FirstWriteStart:
        return "FirstWriteStart";
    case TBootMonitor::TStep::Write:
        return "Write";
    case TBootMonitor::TStep::RemainderWriteStart:
        return "RemainderWriteStart";
    case TBootMonitor::TStep::Verify:
        return "Verify";
    case TBootMonitor::TStep::Done:
        break;
    }
    return "Done";
}

// Called after each whole block (SRAM: before each chunk): false once the user broke off.
TProgressHook BreakAfter(int units) {
    auto calls = std::make_shared<int>(0);
    return [calls, units](int64_t, int64_t) { return units < 0 || (*calls)++ < units; };
}

TProgressHook BreakAfterBlocks(int blocks) {
    return [blocks](int64_t done, int64_t) { return blocks < 0 || done / BlockSize < blocks; };
}

void Synchronize(const TSoakOp& op, const std::string& path, TBootMonitor& monitor,
                 TActual& actual) {
    const TSyncResult sync = monitor.Synchronize({path, op.AutoSpeed, op.Speed});
    actual.Status = SyncStatusName(sync.Status);
    actual.Speed = sync.Speed;
    if (!sync.Ok()) {
        actual.Message = SyncFailure(sync).Text;
        return;
    }
    for (const std::string& line : IdentityLines(sync.Identity, sync.Speed))
        actual.Message += (actual.Message.empty() ? "" : "\n") + line;
}

void Read(const TSoakOp& op, TBootMonitor& monitor, TActual& actual) {
    const TMonitorResult result = monitor.ReadRange(op.Address, op.Length, actual.ReadData, {},
                                                    BreakAfterBlocks(op.CancelAfter));
    actual.Status = StatusName(result.Status);
    actual.BytesDone = result.BytesDone;
    if (!result.Ok())
        actual.Message = ReadFailure(result).Text;
}

void Program(const TSoakOp& op, TBootMonitor& monitor, TActual& actual) {
    const int address = static_cast<int>(op.Address);
    const TFlashPlan plan = PlanFlashProgramming(SoakTypeDefinition(), address, op.Length);
    if (!plan.Ok()) {
        actual.Status =
            plan.Check == TFlashPlan::AddressOutside ? "Check/AddressOutside" : "Check/DoesNotFit";
        actual.Message = ProgramCheckFailure(plan, address).Text;
        return;
    }
    actual.EraseAddresses = plan.EraseAddresses;
    const TBootMonitor::TProgramResult program =
        monitor.ProgramFlash(op.Address, op.Data.data(), op.Length, plan.EraseAddresses, {},
                             BreakAfterBlocks(op.CancelAfter));
    actual.Status = std::string(StepName(program.Step)) + "/" + StatusName(program.Result.Status);
    actual.BytesDone = program.Result.BytesDone;
    actual.ClosingLine = ProgramClosingLine(program);
    actual.Message = program.Result.Ok() ? ProgrammedLine(op.Length, op.Address)
                                         : ProgramFailure(program, op.Address).Text;
}

} // namespace

TActual Execute(const TSoakOp& op, const std::string& path, const TMonitorTiming& timing,
                const TLinkState& link) {
    TActual actual;
    TComms port;
    TBootMonitor monitor(port, timing);
    if (op.Kind == TOpKind::Sync) {
        Synchronize(op, path, monitor, actual);
        return actual;
    }
    const std::string settings =
        PortSettingsText(path, op.Kind == TOpKind::Sram ? op.Speed : link.Speed);
    if (!port.Open(settings.c_str())) {
        actual.Status = "PortFailed";
        actual.Message = PortOpenFailure(settings, port.LastError().toStdString()).Text;
        return actual;
    }
    TMonitorResult result;
    switch (op.Kind) {
    case TOpKind::Read:
        Read(op, monitor, actual);
        return actual;
    case TOpKind::Program:
        Program(op, monitor, actual);
        return actual;
    case TOpKind::Erase:
        result = monitor.EraseSector(op.Address);
        actual.Message = result.Ok() ? SectorErasedLine(op.Address) : EraseFailure(result).Text;
        break;
    case TOpKind::Verify:
        result = monitor.VerifyRange(op.Address, op.Data.data(), op.Length);
        actual.Message =
            result.Ok() ? VerifiedLine(op.Length, op.Address) : VerifyFailure(result).Text;
        break;
    default:
        result = monitor.SendSram(op.Data.data(), op.Length, BreakAfter(op.CancelAfter));
        actual.BytesDone = result.BytesDone;
        actual.Message = result.Ok() ? SramDoneLine : SramFailure(result, op.Length).Text;
        break;
    }
    actual.Status = StatusName(result.Status);
    return actual;
}

const char* WrongKindName(TWrongKind kind) {
    static const char* const names[WrongKindCount] = {
        "success for a failure", "failure for a success", "other failure", "message",
        "memory contents",       "named values",          "setup"};
    return names[static_cast<int>(kind)];
}

std::vector<TDifference> Compare(const TExpected& expected, const TActual& actual) {
    std::vector<TDifference> differences;
    auto differ = [&differences](TWrongKind kind, const char* what, const std::string& wanted,
                                 const std::string& got) {
        differences.push_back({kind, FormatText("%s: expected \"%s\", got \"%s\"", what,
                                                wanted.c_str(), got.c_str())});
    };
    if (expected.Status != actual.Status) {
        auto success = [](const std::string& status) {
            return status == "Ok" || status == "Done/Ok";
        };
        const TWrongKind kind = success(actual.Status)     ? TWrongKind::FalseSuccess
                                : success(expected.Status) ? TWrongKind::FalseFailure
                                                           : TWrongKind::Status;
        differ(kind, "status", expected.Status, actual.Status);
    }

    std::string message = expected.Message;
    if (expected.BytesDoneMin >= 0) {
        if (actual.BytesDone < expected.BytesDoneMin || actual.BytesDone > expected.BytesDoneMax ||
            actual.BytesDone % BlockSize != 0)
            differ(TWrongKind::Values, "bytes done",
                   FormatText("%lld..%lld in whole chunks",
                              static_cast<long long>(expected.BytesDoneMin),
                              static_cast<long long>(expected.BytesDoneMax)),
                   std::to_string(actual.BytesDone));
        message.replace(message.find("{done}"), 6, std::to_string(actual.BytesDone));
    } else if (expected.BytesDone >= 0 && expected.BytesDone != actual.BytesDone) {
        differ(TWrongKind::Values, "bytes done", std::to_string(expected.BytesDone),
               std::to_string(actual.BytesDone));
    }
    // A lost line: the system's reason, whatever its words, on a line after the message.
    const bool messageMatches =
        expected.ReasonFollows
            ? actual.Message.size() > message.size() + 1 &&
                  actual.Message.compare(0, message.size() + 1, message + "\n") == 0
            : actual.Message == message;
    if (!messageMatches)
        differ(TWrongKind::Message, "message",
               message + (expected.ReasonFollows ? "\n<reason>" : ""), actual.Message);
    if (expected.ClosingLine != actual.ClosingLine)
        differ(TWrongKind::Values, "closing line", expected.ClosingLine, actual.ClosingLine);
    if (expected.Speed != actual.Speed)
        differ(TWrongKind::Values, "speed", std::to_string(expected.Speed),
               std::to_string(actual.Speed));
    if (expected.ReadData != actual.ReadData)
        differences.push_back(
            {TWrongKind::Contents,
             FormatText("read data: %zu bytes, expected %zu of the board's memory",
                        actual.ReadData.size(), expected.ReadData.size())});
    if (expected.EraseAddresses != actual.EraseAddresses)
        differences.push_back(
            {TWrongKind::Values,
             FormatText("sectors to erase: expected %zu, planned %zu",
                        expected.EraseAddresses.size(), actual.EraseAddresses.size())});
    return differences;
}
