#include "MonitorMessages.h"

#include "FlashPlan.h"
#include "HexText.h"
#include "Misc.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

std::string FormatText(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

namespace {

std::string Hex(uint32_t address) {
    return AddrToHex(address)();
}

// A step's message, with the system's reason on a line after it when the line failed.
TMonitorMessage Exclamation(std::string text, const std::string& reason = std::string()) {
    if (!reason.empty())
        text += "\n" + reason;
    return {text, MB_ICONEXCLAMATION};
}

// What goes on the line after a failed step's message: the system's reason for a lost line,
// why the answers cannot be trusted, or the flash error the board named.
std::string Reason(const TMonitorResult& result) {
    if (result.Status == TMonitorStatus::FlashError)
        return FlashErrorLine(result);
    return result.Status == TMonitorStatus::OutOfStep ? OutOfStepLine : result.LineError;
}

} // namespace

std::string FlashErrorLine(const TMonitorResult& result) {
    if (result.NoErrorCode)
        return FormatText("Flash error at %s; no error code came.", Hex(result.Address).c_str());
    return FormatText("Flash error 0x%02X at %s.", result.ErrorCode, Hex(result.Address).c_str());
}

namespace {

TMonitorMessage Confirmation(const std::string& port, const char* mode) {
    return {
        FormatText("Make sure the eval. board is connected to port %s.\nPower-up (or reset) the "
                   "eval. board in the %s mode.\n\nClick OK to start uploading the selected file.",
                   port.c_str(), mode),
        MB_OKCANCEL | MB_ICONINFORMATION};
}

} // namespace

TMonitorMessage SyncConfirmation(const std::string& port) {
    return Confirmation(port, "Flash programming");
}

TMonitorMessage SramConfirmation(const std::string& port) {
    return Confirmation(port, "SRAM uploading");
}

TMonitorMessage PortOpenFailure(const std::string& settings, const std::string& reason) {
    return Exclamation(FormatText("Unable to intialize serial port:\n%s", settings.c_str()),
                       reason);
}

std::string ServerAnswersLine(const std::string& port) {
    return FormatText("The answers came through the network port %s, whose server may have "
                      "lost, held back or repeated bytes: check the server and the settings of "
                      "its serial port on that machine (see README: Boards on another machine).",
                      port.c_str());
}

std::vector<std::string> IdentityLines(const TMonitorIdentity& identity, int speed) {
    return {
        FormatText("Chip type:    0x%s", WordToHex(identity.ChipType)()),
        "Manufacturer: 0x001F",
        FormatText("Flash code:   0x%s", WordToHex(identity.FlashCode)()),
        FormatText("Version:      0x%s", WordToHex(identity.Version)()),
        FormatText("CD:           %u (%d baud)", static_cast<unsigned>(identity.ClockDivisor),
                   speed),
        FormatText("Base address: %s", Hex(identity.BaseAddress).c_str()),
    };
}

TMonitorMessage SyncFailure(const TSyncResult& result) {
    const char* noResponse = "No response from target or unable to synchronize on:\n%s";
    // Where the board said nothing useful, what the user can look at.
    const std::string check = FormatText(SyncCheckText, result.Port.c_str());
    switch (result.Status) {
    case TSyncStatus::PortFailed:
        return PortOpenFailure(result.Settings, result.LineError);
    case TSyncStatus::NoAck:
        return Exclamation("Unable synchronize with target.\nNo ACK.", check);
    case TSyncStatus::OutOfStep:
        return Exclamation("Unable synchronize with target.", OutOfStepLine);
    case TSyncStatus::NoResponse:
        return Exclamation(FormatText(noResponse, result.Settings.c_str()), check);
    case TSyncStatus::LineLost:
        return Exclamation(FormatText(noResponse, result.Settings.c_str()), result.LineError);
    case TSyncStatus::NoSpeed:
    case TSyncStatus::Ok:
        break;
    }
    return Exclamation(
        FormatText("Unable to auto synchronize on %s with any baud rate.", result.Port.c_str()),
        check);
}

TMonitorMessage ReadFailure(const TMonitorResult& result) {
    switch (result.Status) {
    case TMonitorStatus::BadChecksum:
        return {FormatText("Checksum fail at: %s\nReceived: 0x%02X, Calculated: 0x%02X",
                           Hex(result.Address).c_str(), result.ReceivedSum, result.CalculatedSum),
                MB_ICONINFORMATION};
    case TMonitorStatus::Cancelled:
        return {UserBreakLine, MB_OK};
    case TMonitorStatus::OutOfStep:
        return Exclamation(FormatText("Reading stopped at: %s.", Hex(result.Address).c_str()),
                           OutOfStepLine);
    default:
        return Exclamation("Timeout waiting for data.", result.LineError);
    }
}

TMonitorMessage EraseAddressOutside(int flashStart, int flashEnd) {
    return {FormatText("Sector erase address must be within %s and %s",
                       Hex(static_cast<uint32_t>(flashStart)).c_str(),
                       Hex(static_cast<uint32_t>(flashEnd)).c_str()),
            MB_OK};
}

TMonitorMessage EraseProtectedQuestion(int sector) {
    return {FormatText("Selected address lies in sector #%d which is protected.\nAre you sure you "
                       "wish to erase this sector?",
                       sector),
            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2};
}

TMonitorMessage EraseFailure(const TMonitorResult& result) {
    return Exclamation(FormatText("Sector erase at %s failed.", Hex(result.Address).c_str()),
                       Reason(result));
}

std::string SectorErasedLine(uint32_t address) {
    return FormatText("Sector at %s erased.", Hex(address).c_str());
}

const char* ProgramPhaseLine(TBootMonitor::TPhase phase) {
    switch (phase) {
    case TBootMonitor::TPhase::Erasing:
        return "Flash erasing...";
    case TBootMonitor::TPhase::Programming:
        return "Programming...";
    case TBootMonitor::TPhase::Verifying:
        break;
    }
    return "Verifying...";
}

TMonitorMessage ProgramCheckFailure(const TFlashPlan& plan, int address) {
    const std::string start = Hex(static_cast<uint32_t>(plan.FlashStart));
    const std::string end = Hex(static_cast<uint32_t>(plan.FlashEnd));
    if (plan.Check == TFlashPlan::AddressOutside)
        return {
            FormatText("Programming address must be within %s and %s", start.c_str(), end.c_str()),
            MB_ICONINFORMATION};
    return {
        FormatText("Program data doesn't fit into selected flash area.\n\nFlash start: %s, Flash "
                   "end: %s\nData start: %s, Data end: %s",
                   start.c_str(), end.c_str(), Hex(static_cast<uint32_t>(address)).c_str(),
                   Hex(static_cast<uint32_t>(plan.DataEnd)).c_str()),
        MB_ICONINFORMATION};
}

TMonitorMessage ProgramProtectedQuestion() {
    return {"Programming address spans over one or more protected sectors.\nAre you sure you wish "
            "to erase these sectors?",
            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2};
}

std::string SyncAgainLine(const char* opener) {
    return FormatText("%s opened the port, which restarts a board into its program: "
                      "synchronising again first.",
                      opener);
}

TMonitorMessage ProgramElsewhereQuestion(uint32_t linked, uint32_t address) {
    return {FormatText("The image is linked for %s. Program it at %s?", Hex(linked).c_str(),
                       Hex(address).c_str()),
            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2};
}

TMonitorMessage ProgramFailure(const TBootMonitor::TProgramResult& program, uint32_t address) {
    const TMonitorResult& result = program.Result;
    if (result.Status == TMonitorStatus::Cancelled)
        return {UserBreakLine, MB_OK};
    switch (program.Step) {
    case TBootMonitor::TStep::Erase:
        return Exclamation(
            FormatText("Sector erase at %s failed.\n\nIt may help now to restart the "
                       "eval. board in the flash programming mode\nand then try again.",
                       Hex(result.Address).c_str()),
            Reason(result));
    case TBootMonitor::TStep::FirstWriteStart:
    case TBootMonitor::TStep::RemainderWriteStart:
        return Exclamation(
            FormatText("Unable to initiate write operation at address: %s.", Hex(address).c_str()),
            Reason(result));
    case TBootMonitor::TStep::Write:
        if (result.Status == TMonitorStatus::FlashError && result.NoErrorCode)
            return Exclamation(FormatText("Flash write error at: %s.\nNo error code came.",
                                          Hex(result.Address).c_str()));
        if (result.Status == TMonitorStatus::FlashError)
            return Exclamation(FormatText("Flash write error at: %s.\nError: 0x%02X",
                                          Hex(result.Address).c_str(), result.ErrorCode));
        // No response came: the reason alone says what happened.
        if (result.Status != TMonitorStatus::Refused || result.Response == 0)
            return Exclamation(
                FormatText("Unable to write data block at: %s.", Hex(result.Address).c_str()),
                Reason(result));
        return Exclamation(
            FormatText("Unable to write data block at: %s.\nResponse code: 0x%02X %s",
                       Hex(result.Address).c_str(), result.Response,
                       result.Response == 'N' ? "(NACK)" : ""),
            result.LineError);
    case TBootMonitor::TStep::Verify:
    case TBootMonitor::TStep::Done:
        break;
    }
    return Exclamation("Program verification failed.", Reason(result));
}

std::string ProgramClosingLine(const TBootMonitor::TProgramResult& program) {
    if (program.Result.Status == TMonitorStatus::Cancelled)
        return UserBreakLine;
    switch (program.Step) {
    case TBootMonitor::TStep::Erase:
    case TBootMonitor::TStep::Write:
    case TBootMonitor::TStep::RemainderWriteStart:
        return FailedLine;
    default:
        return std::string();
    }
}

std::string PartlyProgrammedLine(const TBootMonitor::TProgramResult& program) {
    if (program.Result.Status != TMonitorStatus::Cancelled)
        return std::string();
    const TMonitorResult& result = program.Result;
    if (program.Step == TBootMonitor::TStep::Erase)
        return FormatText("Nothing of the image was written; the sectors up to the one at %s "
                          "are erased.",
                          Hex(result.Address).c_str());
    if (program.Step != TBootMonitor::TStep::Write)
        return std::string();
    // The stop comes after a whole block: the next one is the first left unwritten.
    return FormatText("The flash now holds only part of the image: from %s on it is erased, "
                      "not written.",
                      Hex(result.Address + static_cast<uint32_t>(BlockSize)).c_str());
}

std::string ProgrammedLine(int64_t length, uint32_t address) {
    return FormatText("%lld bytes at %s programmed OK.", static_cast<long long>(length),
                      Hex(address).c_str());
}

std::string SectorListText(const std::vector<int>& sectors) {
    // Runs of three or more read as "4 to 9": a large flash may skip dozens.
    std::vector<std::string> parts;
    for (size_t i = 0; i < sectors.size();) {
        size_t last = i;
        while (last + 1 < sectors.size() && sectors[last + 1] == sectors[last] + 1)
            ++last;
        if (last >= i + 2) {
            parts.push_back(FormatText("%d to %d", sectors[i], sectors[last]));
        } else {
            for (size_t each = i; each <= last; ++each)
                parts.push_back(std::to_string(sectors[each]));
        }
        i = last + 1;
    }
    std::string text = parts.size() == 1 && sectors.size() == 1 ? "sector " : "sectors ";
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

std::string UnchangedSectorsLine(const std::vector<int>& skipped) {
    if (skipped.empty())
        return std::string();
    return SectorListText(skipped) + " unchanged, not written again.";
}

TMonitorMessage VerifyLengthTooLong(int64_t length, int64_t imageLength) {
    // Lengths are unsigned: one from 0x80000000 up must not read as a negative number.
    const auto hexDec = [](int64_t value) {
        const unsigned number = static_cast<uint32_t>(value);
        return FormatText("0x%08X (%u)", number, number);
    };
    return {FormatText("Data length %s is greater than currently loaded file size %s.",
                       hexDec(length).c_str(), hexDec(imageLength).c_str()),
            MB_ICONINFORMATION};
}

TMonitorMessage VerifyFailure(const TMonitorResult& result) {
    return Exclamation("Data verification failed.", Reason(result));
}

std::string VerifiedLine(int64_t length, uint32_t address) {
    return FormatText("%lld bytes at %s verified OK.", static_cast<long long>(length),
                      Hex(address).c_str());
}

TMonitorMessage SramTooLarge(int sramSize) {
    return {FormatText("Currently loaded file size is greater than SRAM size (%s).",
                       Hex(static_cast<uint32_t>(sramSize)).c_str()),
            MB_ICONINFORMATION};
}

TMonitorMessage SramFailure(const TMonitorResult& result, int64_t length) {
    if (result.Status == TMonitorStatus::Cancelled)
        return {UserBreakLine, MB_OK};
    const std::string text =
        FormatText("SRAM upload failed at byte %lld of %lld.",
                   static_cast<long long>(result.BytesDone), static_cast<long long>(length));
    if (result.Status == TMonitorStatus::LineLost)
        return Exclamation(text, result.LineError);
    return Exclamation(text, "The serial port did not send the data in time.");
}

std::string NotTextHint(int speed) {
    return FormatText("Most of what came at %d baud is not text: the board's program may send at "
                      "another speed. Give that speed with --baud.",
                      speed);
}

std::string LineLostText(const std::string& port, const std::string& reason) {
    return "The line to " + port + " failed: " + reason;
}

namespace {

// How many times longer a programming takes than the line needs: a data block and its answer
// on the line, against the same with the answer's delay.
double SlowFactor(double turnaroundMs, int speed) {
    const double blockMs = (BlockSize + 2 + 1) * 10.0 * 1000.0 / std::max(speed, 1);
    return (blockMs + turnaroundMs) / blockMs;
}

} // namespace

std::string SlowAdapterHint(double turnaroundMs, int speed) {
    const double factor = SlowFactor(turnaroundMs, speed);
    return FormatText("Answers arrive %.0f ms late (the USB adapter's latency timer): "
                      "programming will take about %.*f\u00D7 longer than the line needs. "
                      "See README: Slow USB adapters.",
                      turnaroundMs, factor < 2 ? 1 : 0, factor);
}

std::string SlowServerHint(double turnaroundMs, int speed) {
    const double factor = SlowFactor(turnaroundMs, speed);
    return FormatText("Answers arrive %.*f ms late through the server: programming will take "
                      "about %.*f\u00D7 longer than the line needs. On ser2net, set "
                      "\"chardelay: false\" in the connection's options and accept with "
                      "tcp(nodelay). See README: Boards on another machine.",
                      turnaroundMs < 10 ? 1 : 0, turnaroundMs, factor < 2 ? 1 : 0, factor);
}

std::string SlowAnswersHint(const TTurnaroundFigures& figures) {
    return figures.ThroughServer ? SlowServerHint(figures.AverageMs, figures.Speed)
                                 : SlowAdapterHint(figures.AverageMs, figures.Speed);
}
