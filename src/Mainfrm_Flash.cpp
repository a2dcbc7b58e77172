// The main window's flash commands: read, sector erase, programming, verify, and Cancel for the
// long transfers.

#include "Addressfrm.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashPlan.h"
#include "HexText.h"
#include "LinkSpeed.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "MonitorMessages.h"

#include <vector>

namespace {

using TStep = TBootMonitor::TStep;

const char* const FailedLine = "Failed";

// The message of a programming step that failed; start is where the programming began.
void ShowStepFailure(TStep step, const TMonitorResult& result, uint32_t start) {
    TBootMonitor::TProgramResult program;
    program.Step = step;
    program.Result = result;
    ShowMessage(ProgramFailure(program, start));
}

} // namespace

// ---- Read -------------------------------------------------------------------------------------

void TMainForm::ReadTBClick() {
    TOperationScope operation(*this);
    TAddressForm form(this);
    form.setWindowTitle("Read Data Block");
    if (form.exec() != QDialog::Accepted)
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    ConsoleAdd(" ");
    ConsoleAdd(ReadTitle);
    const int blocks = form.DataLength / BlockSize;
    const int remainder = form.DataLength % BlockSize;
    const int64_t length = form.DataLength;
    uint32_t address = static_cast<uint32_t>(form.StartAddress);
    TBootMonitor monitor = Monitor(port);
    {
        TProgressScope progress(*this, blocks);
        TConsoleFreeze freeze(*this);
        TBusyScope busy(*this);
        UserBreak = false;
        for (int block = 1; block <= blocks; ++block) {
            if (!ReadBlock(monitor, address, BlockSize))
                return;
            progress.SetPosition(block);
            progress.ShowRate(int64_t{block} * BlockSize, length);
            if (!PumpMessages()) {
                ConsoleAdd(UserBreakLine);
                return;
            }
            address += BlockSize;
        }
        if (remainder > 0 && !ReadBlock(monitor, address, remainder))
            return;
    }
    ScrollConsoleToEnd();
}

bool TMainForm::ReadBlock(TBootMonitor& monitor, uint32_t address, int count) {
    uint8_t data[BlockSize];
    const TMonitorResult result = monitor.ReadBlock(address, count, data);
    if (!result.Ok()) {
        ShowMessage(ReadFailure(result));
        return false;
    }
    ConsoleAddLines(HexDumpLines(data, address, static_cast<size_t>(count)));
    return true;
}

// ---- Sector erase -----------------------------------------------------------------------------

void TMainForm::EraseSectorTBClick() {
    TOperationScope operation(*this);
    if (!HasSectors())
        return;
    TAddressForm form(this);
    form.AddressOnly = true;
    if (form.exec() != QDialog::Accepted)
        return;
    const int address = form.StartAddress;
    if (!InFlashArea(*CurrentType, address)) {
        ShowMessage(EraseAddressOutside(CurrentType->GetFlashStart(), CurrentType->FlashEnd()));
        return;
    }
    const int sector = CurrentType->ProtectedSectorAt(address);
    if (sector != -1 && ShowMessage(EraseProtectedQuestion(sector)) != IDYES)
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    TBootMonitor monitor = Monitor(port);
    TMonitorResult outcome;
    if (!EraseSector(monitor, static_cast<uint32_t>(address), outcome)) {
        ShowMessage(EraseFailure(outcome));
        return;
    }
    ConsoleAdd(" ");
    ConsoleAdd(SectorErasedLine(static_cast<uint32_t>(address)).c_str());
    ScrollConsoleToEnd();
}

bool TMainForm::EraseSector(TBootMonitor& monitor, uint32_t address, TMonitorResult& outcome) {
    outcome = monitor.EraseSector(address);
    return outcome.Ok();
}

// ---- Programming ------------------------------------------------------------------------------

void TMainForm::FlashTBClick() {
    TOperationScope operation(*this);
    if (!HasSectors() || !HaveImage())
        return;
    TAddressForm form(this);
    form.setWindowTitle("Program Flash");
    form.AddressOnly = true;
    form.StartAddress = FileStart;
    if (form.exec() != QDialog::Accepted)
        return;
    // The image's own address is proposed once; afterwards the address last entered.
    FileStart = -1;

    const int address = form.StartAddress;
    const int64_t length = FileImage.Length();
    const TFlashPlan plan = PlanFlashProgramming(*CurrentType, address, length);
    if (!plan.Ok()) {
        ShowMessage(ProgramCheckFailure(plan, address));
        return;
    }
    if (plan.TouchesProtected() && ShowMessage(ProgramProtectedQuestion()) != IDYES)
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    const uint32_t start = static_cast<uint32_t>(address);
    TBootMonitor monitor = Monitor(port);
    TProgressScope progress(*this, static_cast<int>(length));
    TBusyScope busy(*this);
    UserBreak = false;
    ConsoleAdd(" ");
    ConsoleAdd("Flash erasing...");

    // Every sector the image overlaps, from its first byte to its last.
    TWaitCursor cursor;
    for (uint32_t sector : plan.EraseAddresses) {
        TMonitorResult erased;
        if (!EraseSector(monitor, sector, erased)) {
            cursor.Restore();
            ShowStepFailure(TStep::Erase, erased, start);
            ConsoleAdd(FailedLine);
            return;
        }
    }
    cursor.Restore();

    ConsoleAdd("Programming...");
    // The run of whole blocks is announced even when the image is shorter than one block.
    const TMonitorResult started = monitor.StartWrite(start, BlockSize);
    if (!started.Ok()) {
        ShowStepFailure(TStep::FirstWriteStart, started, start);
        return;
    }
    const int64_t wholeBytes = length / BlockSize * BlockSize;
    int64_t written = 0;
    while (written < wholeBytes) {
        if (!WriteBlock(monitor, start, written, BlockSize)) {
            ConsoleAdd(FailedLine);
            return;
        }
        progress.SetPosition(static_cast<int>(written));
        progress.ShowRate(written, length);
        if (!PumpMessages()) {
            ConsoleAdd(UserBreakLine);
            return;
        }
    }
    const int remainder = static_cast<int>(length - wholeBytes);
    if (remainder > 0) {
        const TMonitorResult rest =
            monitor.StartWrite(start + static_cast<uint32_t>(written), remainder);
        if (!rest.Ok()) {
            ShowStepFailure(TStep::RemainderWriteStart, rest, start);
            ConsoleAdd(FailedLine);
            return;
        }
        if (!WriteBlock(monitor, start, written, remainder)) {
            ConsoleAdd(FailedLine);
            return;
        }
    }

    ConsoleAdd("Verifying...");
    TMonitorResult verified;
    if (!VerifyRange(monitor, FileImage.Data(), length, start, verified)) {
        ShowStepFailure(TStep::Verify, verified, start);
        return;
    }
    ConsoleAdd(ProgrammedLine(length, start).c_str());
}

bool TMainForm::WriteBlock(TBootMonitor& monitor, uint32_t start, int64_t& written, int count) {
    const TMonitorResult result = monitor.WriteBlock(start + static_cast<uint32_t>(written),
                                                     FileImage.Data() + written, count);
    if (!result.Ok()) {
        ShowStepFailure(TStep::Write, result, start);
        return false;
    }
    written += count;
    return true;
}

bool TMainForm::VerifyRange(TBootMonitor& monitor, const uint8_t* data, int64_t length,
                            uint32_t address, TMonitorResult& outcome) {
    outcome = monitor.VerifyRange(address, data, length);
    return outcome.Ok();
}

// ---- Verify and cancel ------------------------------------------------------------------------

void TMainForm::VerifyTBClick() {
    TOperationScope operation(*this);
    if (!HaveImage())
        return;
    TAddressForm form(this);
    form.setWindowTitle("Verify Data Block");
    if (form.exec() != QDialog::Accepted)
        return;
    // A length typed as eight digits may be above the signed range: it is still a length.
    const int64_t length = static_cast<uint32_t>(form.DataLength);
    if (length > FileImage.Length()) {
        ShowMessage(VerifyLengthTooLong(length, FileImage.Length()));
        return;
    }
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    const uint32_t address = static_cast<uint32_t>(form.StartAddress);
    TBootMonitor monitor = Monitor(port);
    TMonitorResult outcome;
    if (!VerifyRange(monitor, FileImage.Data(), length, address, outcome)) {
        ShowMessage(VerifyFailure(outcome));
        return;
    }
    ConsoleAdd(" ");
    ConsoleAdd(VerifiedLine(length, address).c_str());
}

void TMainForm::CancelMenuClick() {
    // Each answer replaces the last: the running transfer acts on the one it finds at its next
    // block.
    UserBreak = MsgBox(MB_YESNO | MB_ICONQUESTION, "Abort current operation?") == IDYES;
}
