// The main window's link to the board: the port settings of the board commands, opening the port,
// the protocol with a wait hook that keeps the window painting, and the link synchronisation.

#include "Comm.h"
#include "Ebdata.h"
#include "FlashLedger.h"
#include "LinkSpeed.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <memory>

namespace {

// Between two rounds of event handling while the board is awaited.
constexpr int WaitEventsIntervalMs = 20;

// A port that waits for its server as it opens (a network port), seconds long when the server
// does not answer: the window then paints and takes its messages with only Cancel offered, and
// Cancel gives the opening up. A port that opens at once changes nothing.
class TServedOpening {
public:
    TServedOpening(TMainForm& form, TComms& port) : Form(form), Port(port) {
        Form.UserBreak = false;
        Port.OpenWait.Hook = [this] { Wait(); };
        Port.OpenWait.GiveUp = [this] { return Form.UserBreak; };
    }
    ~TServedOpening() {
        Port.OpenWait = TOpenWait();
        if (MadeBusy)
            Form.SetBusy(false);
    }
    TServedOpening(const TServedOpening&) = delete;
    TServedOpening& operator=(const TServedOpening&) = delete;

private:
    void Wait() {
        if (!Form.IsBusy()) {
            Form.SetBusy(true);
            MadeBusy = true;
        }
        QCoreApplication::processEvents();
    }

    TMainForm& Form;
    TComms& Port;
    bool MadeBusy = false;
};

} // namespace

int ShowMessage(const TMonitorMessage& message) {
    return MsgBox(message.Flags, "%s", message.Text.c_str());
}

QString SyncSpeedText(int speed) {
    return QString("Synchronizing at %1 baud...").arg(speed);
}

void TMainForm::ShowFailure(const TMonitorMessage& message, bool ownReport) {
    ShowMessage(message);
    if (ownReport)
        ConsoleAdd(" ");
    ConsoleAddText(message.Text);
}

TWaitCursor::TWaitCursor() : FSet(true) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TWaitCursor::Restore() {
    if (!FSet)
        return;
    FSet = false;
    QApplication::restoreOverrideCursor();
}

TString TMainForm::BuildPortSettings(int mode) {
    const int speed = mode == SramSpeedSetting ? ReadMaxSpeed(SramSpeedSetting) : LinkBaud;
    return TString(PortSettingsText(ChosenPort().toLocal8Bit().toStdString(), speed).c_str());
}

bool TMainForm::OpenBoardPort(TComms& port, int mode) {
    TServedOpening served(*this, port);
    if (mode == FlashSpeedSetting && SyncAgainReason)
        return SynchroniseAgain(port);
    const TString settings = BuildPortSettings(mode);
    if (port.Open(settings))
        return true;
    ShowFailure(PortOpenFailure(settings(), port.LastError().toLocal8Bit().toStdString()));
    return false;
}

bool TMainForm::SynchroniseAgain(TComms& port) {
    ConsoleAdd(" ");
    ConsoleAdd(SyncAgainLine(SyncAgainReason).c_str());
    TBootMonitor monitor = Monitor(port);
    TSyncRequest request;
    request.Port = ChosenPort().toLocal8Bit().toStdString();
    request.AutoSpeed = false;
    request.FixedSpeed = LinkBaud;
    const TSyncResult sync = monitor.Synchronize(request);
    if (!sync.Ok()) {
        ShowFailure(WithServerLine(SyncFailure(sync), sync), false);
        return false;
    }
    SyncAgainReason = nullptr;
    return true;
}

TBootMonitor TMainForm::Monitor(TComms& port) {
    // The window repaints while an answer is awaited; clicks and keys wait for the next point at
    // which the command lets them in, and the commands' own guards keep timers and a close
    // request from acting meanwhile.
    // The hook also comes after each piece of an answer; taking the events more often than a
    // repaint shows would cost every block of a transfer its share.
    auto sinceEvents = std::make_shared<QElapsedTimer>();
    sinceEvents->start();
    port.Turnaround().Measured = [this](const TTurnaroundFigures& figures) {
        if (figures.Slow() && !SlowAdapterHinted) {
            SlowAdapterHinted = true;
            ConsoleAdd(SlowAnswersHint(figures).c_str());
        }
    };
    return TBootMonitor(port, MonitorTiming, [sinceEvents] {
        if (sinceEvents->elapsed() < WaitEventsIntervalMs)
            return;
        sinceEvents->restart();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
}

bool TMainForm::PumpMessages() {
    QCoreApplication::processEvents();
    return !UserBreak;
}

bool TMainForm::HasSectors() const {
    return CurrentType && CurrentType->GetSectorCount() > 0;
}

bool TMainForm::HaveImage() {
    if (FileImage.Length() == 0)
        OpenTBClick();
    return FileImage.Length() != 0;
}

void TMainForm::SynchTBClick() {
    TOperationScope operation(*this, "synchronising");
    if (!HasSectors())
        return;
    const std::string port = ChosenPort().toLocal8Bit().toStdString();
    if (ShowMessage(SyncConfirmation(port)) != IDOK)
        return;

    // A failed synchronisation leaves the flash commands locked.
    EnableFlashCommands(false);
    TComms comms;
    TBootMonitor monitor = Monitor(comms);
    TSyncRequest request;
    request.Port = port;
    request.AutoSpeed = ReadAutoSpeed();
    request.FixedSpeed = ReadMaxSpeed(FlashSpeedSetting);
    // Trying every speed takes seconds: the status bar tells which one is on the line.
    monitor.TryingSpeed = [this](int speed) {
        TransferL->setText(SyncSpeedText(speed));
        TransferL->show();
    };
    TWaitCursor cursor;
    TSyncResult sync;
    {
        TServedOpening served(*this, comms);
        sync = monitor.Synchronize(request);
    }
    cursor.Restore();
    TransferL->hide();
    if (!sync.Ok()) {
        ShowFailure(WithServerLine(SyncFailure(sync), sync));
        return;
    }

    ConsoleAdd(" ");
    ConsoleAdd(SyncTitle);
    for (const std::string& line : IdentityLines(sync.Identity, sync.Speed))
        ConsoleAdd(line.c_str());
    EnableFlashCommands(true);
    LinkBaud = sync.Speed;
    SyncAgainReason = nullptr;
    RememberBoardIdentity(port, sync.Identity);
}
