// The main window's SRAM upload: the image as raw bytes to a board started in its SRAM uploading
// mode.

#include "Comm.h"
#include "Ebdata.h"
#include "LinkSpeed.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "MonitorMessages.h"

void TMainForm::SramTBClick() {
    TOperationScope operation(*this, "SRAM upload");
    if (!CurrentType || CurrentType->GetSramSize() == 0 || !HaveImage())
        return;
    const int64_t length = FileImage.Length();
    if (length > CurrentType->GetSramSize()) {
        ShowFailure(SramTooLarge(CurrentType->GetSramSize()));
        return;
    }
    if (ShowMessage(SramConfirmation(ChosenPort().toLocal8Bit().toStdString())) != IDOK)
        return;
    TComms port;
    if (!OpenBoardPort(port, SramSpeedSetting))
        return;

    ConsoleAdd(" ");
    ConsoleAdd(SramTitle);
    TMonitorResult result;
    {
        TProgressScope progress(*this, static_cast<int>(length));
        // Busy like the other transfers: no second command can reach the port while this one
        // lets the window work between chunks, and Cancel can stop it.
        TBusyScope busy(*this);
        UserBreak = false;
        TWaitCursor cursor;
        TBootMonitor monitor = Monitor(port);
        result = monitor.SendSram(FileImage.Data(), length, [&](int64_t done, int64_t total) {
            progress.SetPosition(static_cast<int>(done));
            progress.ShowRate(done, total);
            return PumpMessages();
        });
    }
    if (result.Status == TMonitorStatus::Cancelled) {
        ConsoleAdd(UserBreakLine);
    } else if (!result.Ok()) {
        ShowFailure(SramFailure(result, length), false);
        ConsoleAdd(FailedLine);
    } else {
        ConsoleAdd(SramDoneLine);
    }
}
