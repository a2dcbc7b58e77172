// The main window's flash commands: read, sector erase, programming, verify by the board's sum
// or by reading back, and Cancel for the long transfers.

#include "Addressfrm.h"
#include "Comm.h"
#include "Ebdata.h"
#include "FlashCheck.h"
#include "FlashMap.h"
#include "FlashPlan.h"
#include "FlashSession.h"
#include "HexText.h"
#include "LinkSpeed.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "MonitorMessages.h"
#include "SilentBoard.h"

#include <QDockWidget>
#include <QElapsedTimer>
#include <QMenu>

#include <optional>
#include <vector>

namespace {

// Between two batches of dump lines during a read.
constexpr int DumpIntervalMs = 250;

// The ledger of the board last synchronised on port; none when it was not.
std::optional<TLedgerKey> SynchronisedLedgerKey(const std::string& port, const TEBData& type) {
    TMonitorIdentity identity;
    const bool known = RememberedBoardIdentity(port, identity);
    return BoardLedgerKey(port, known ? &identity : nullptr, type);
}

} // namespace

// ---- Flash map --------------------------------------------------------------------------------

void TMainForm::CreateFlashMap() {
    FlashMap = new TFlashMap(this);
    FlashMapDock = new QDockWidget("Flash map", this);
    FlashMapDock->setObjectName("FlashMapDock");
    FlashMapDock->setWidget(FlashMap);
    // Part of the window: it moves between its edges but never floats away from it.
    FlashMapDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    addDockWidget(Qt::RightDockWidgetArea, FlashMapDock);
    FlashMapDock->hide();
    FlashMapMenu = FlashMapDock->toggleViewAction();
    FlashMapMenu->setText("Flash &Map");
    FlashMenu->addSeparator();
    FlashMenu->addAction(FlashMapMenu);
}

void TMainForm::ShowFlashMap(const TProgramPlan& plan) {
    FlashMap->SetPlan(plan);
    FlashMapDock->show();
    FlashMapDock->raise();
}

// ---- Read -------------------------------------------------------------------------------------

void TMainForm::ReadTBClick() {
    TOperationScope operation(*this, "reading");
    TAddressForm form(this);
    form.setWindowTitle("Read Data Block");
    form.ProposedLength = FileImage.Length();
    if (form.exec() != QDialog::Accepted)
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    ConsoleAdd(" ");
    ConsoleAdd(ReadTitle);
    const int64_t length = form.DataLength;
    TBootMonitor monitor = Monitor(port);
    TProgressScope progress(*this, form.DataLength / BlockSize);
    TBusyScope busy(*this);
    UserBreak = false;
    // The dump reaches the console in batches: one append per block would lay the console out
    // more often than the eye can follow, and slow the transfer down.
    std::vector<TString> pending;
    QElapsedTimer sinceShown;
    sinceShown.start();
    const auto showPending = [&] {
        ConsoleAddLines(pending);
        pending.clear();
        sinceShown.restart();
    };
    const auto dumpBlock = [&pending](uint32_t address, const uint8_t* data, int count) {
        const std::vector<TString> lines = HexDumpLines(data, address, static_cast<size_t>(count));
        pending.insert(pending.end(), lines.begin(), lines.end());
    };
    // After each whole block the window takes its messages, Cancel among them.
    const auto afterBlock = [&](int64_t done, int64_t total) {
        if (sinceShown.elapsed() >= DumpIntervalMs)
            showPending();
        progress.SetPosition(static_cast<int>(done / BlockSize));
        progress.ShowRate(done, total);
        return PumpMessages();
    };
    std::vector<uint8_t> data;
    const TMonitorResult result = monitor.ReadRange(static_cast<uint32_t>(form.StartAddress),
                                                    length, data, dumpBlock, afterBlock);
    showPending();
    // Only a whole read can be saved; a part would pass for what is on the board.
    KeepReadData(static_cast<uint32_t>(form.StartAddress),
                 result.Ok() ? std::move(data) : std::vector<uint8_t>());
    if (result.Status == TMonitorStatus::Cancelled) {
        ConsoleAdd(UserBreakLine);
        return;
    }
    if (!result.Ok())
        ShowFailure(WithServerLine(ReadFailure(result), result), false);
}

// ---- Sector erase -----------------------------------------------------------------------------

void TMainForm::EraseSectorTBClick() {
    TOperationScope operation(*this, "erasing");
    if (!HasSectors())
        return;
    TAddressForm form(this);
    form.AddressOnly = true;
    if (form.exec() != QDialog::Accepted)
        return;
    const int address = form.StartAddress;
    if (!InFlashArea(*CurrentType, address)) {
        ShowFailure(EraseAddressOutside(CurrentType->GetFlashStart(), CurrentType->FlashEnd()));
        return;
    }
    const int sector = CurrentType->ProtectedSectorAt(address);
    if (sector != -1 && ShowMessage(EraseProtectedQuestion(sector)) != IDYES)
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    TBootMonitor monitor = Monitor(port);
    const TMonitorResult erased = monitor.EraseSector(static_cast<uint32_t>(address));
    FlashMap->ShowSectorsOf(*CurrentType);
    const int mapped = FlashMap->Plan().SectorAt(static_cast<uint32_t>(address));
    if (!erased.Ok()) {
        FlashMap->MarkEraseFailed(mapped);
        ShowFailure(WithAnswerLines(EraseFailure(erased), erased));
        return;
    }
    ConsoleAdd(" ");
    ConsoleAdd(SectorErasedLine(static_cast<uint32_t>(address)).c_str());
    FlashMap->MarkErased(mapped);
}

// ---- Programming ------------------------------------------------------------------------------

void TMainForm::FlashTBClick() {
    TOperationScope operation(*this, "programming");
    TFlashMapPlanScope planShown(*FlashMap);
    if (!HasSectors() || !HaveImage())
        return;
    int address = 0;
    TProgramPlan sectors;
    if (!AskProgramTarget(address, sectors))
        return;
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;
    ProgramImage(port, static_cast<uint32_t>(address), sectors);
}

bool TMainForm::AskProgramTarget(int& address, TProgramPlan& sectors) {
    TAddressForm form(this);
    form.setWindowTitle("Program Flash");
    form.AddressOnly = true;
    // An image that carries its addresses is proposed at its own start every time; a binary
    // image at the address last entered.
    form.StartAddress = FileStart;
    if (form.exec() != QDialog::Accepted)
        return false;
    address = form.StartAddress;
    if (FileStart >= 0 && address != FileStart &&
        ShowMessage(ProgramElsewhereQuestion(static_cast<uint32_t>(FileStart),
                                             static_cast<uint32_t>(address))) != IDYES)
        return false;
    const TFlashPlan plan = PlanFlashProgramming(*CurrentType, address, FileImage.Length());
    if (!plan.Ok()) {
        ShowFailure(ProgramCheckFailure(plan, address));
        return false;
    }
    sectors = BuildProgramPlan(*CurrentType, static_cast<uint32_t>(address), FileImage.Data(),
                               FileImage.Length());
    // The map shows what will happen before the protection question asks about it.
    ShowFlashMap(sectors);
    return !plan.TouchesProtected() || ShowMessage(ProgramProtectedQuestion()) == IDYES;
}

class TMainForm::TFlashView : public TFlashObserver {
public:
    TFlashView(TMainForm& form, TFlashMap& map) : Form(form), Map(map) {}

    void Phase(TBootMonitor::TPhase phase) override {
        if (phase == TBootMonitor::TPhase::Programming) {
            Cursor->Restore();
            // The rate is the write's: the erase before it would show hours left at first.
            Bar->RestartClock();
        }
        Form.ConsoleAdd(ProgramPhaseLine(phase));
    }
    bool KeepErasing() override {
        Map.MarkNextErased();
        return true;
    }
    void SectorStarted(int sector) override { Map.SetCurrent(sector); }
    void SectorDone(int sector) override {
        Map.SetCurrent(-1);
        Map.MarkWritten(sector);
    }
    bool Progress(int64_t done, int64_t total) override {
        Bar->SetPosition(static_cast<int>(done));
        Bar->ShowRate(done, total);
        return Form.PumpMessages();
    }
    void Warning(const std::string& text) override { Form.ConsoleAdd(text.c_str()); }

    // The bar and the hourglass of the erasing and writing, then none and no sector marked.
    void Start(TProgressScope& bar, TWaitCursor& cursor) {
        Bar = &bar;
        Cursor = &cursor;
    }
    void Stop() {
        Cursor->Restore();
        Map.SetCurrent(-1);
        Bar = nullptr;
        Cursor = nullptr;
    }

private:
    TMainForm& Form;
    TFlashMap& Map;
    TProgressScope* Bar = nullptr;
    TWaitCursor* Cursor = nullptr;
};

void TMainForm::ProgramImage(TComms& port, uint32_t start, TProgramPlan& sectors) {
    const int64_t length = FileImage.Length();
    DescribeOperation("programming, " + std::to_string(length) + " bytes at " + AddrToHex(start)());
    ShowFlashMap(sectors);
    TBootMonitor monitor = Monitor(port);
    TFlashView view(*this, *FlashMap);
    const std::string portName = ChosenPort().toLocal8Bit().toStdString();
    TFlashSession session(monitor, view, sectors, FileImage.Data(), portName,
                          SynchronisedLedgerKey(portName, *CurrentType));
    if (session.Keyed() && ReadSkipUnchanged()) {
        const TMonitorResult checked = session.SkipUnchanged();
        if (!checked.Ok()) {
            ShowFailure(WithAnswerLines(VerifyFailure(checked), checked));
            return;
        }
        FlashMap->SetPlan(sectors);
    }
    RunProgramming(session, view, start, sectors);
}

void TMainForm::RunProgramming(TFlashSession& session, TFlashView& view, uint32_t start,
                               const TProgramPlan& sectors) {
    const int64_t toWrite = sectors.DataBytes();
    TProgressScope progress(*this, static_cast<int>(std::max<int64_t>(toWrite, 1)));
    TBusyScope busy(*this);
    UserBreak = false;
    ConsoleAdd(" ");
    // The hourglass shows while the sectors are erased: the window takes no input then.
    TWaitCursor cursor;
    view.Start(progress, cursor);
    const TBootMonitor::TProgramResult program = session.Program();
    view.Stop();
    FlashMap->FinishProgramming(program);
    ShowProgrammed(program, start, sectors);
}

void TMainForm::ShowProgrammed(const TBootMonitor::TProgramResult& program, uint32_t start,
                               const TProgramPlan& sectors) {
    const TProgramOutcome outcome = ProgramOutcome(program, sectors, start, FileImage.Length());
    for (const std::string& line : outcome.Before)
        ConsoleAdd(line.c_str());
    if (!outcome.Done.empty())
        ConsoleAdd(outcome.Done.c_str());
    if (outcome.Failure)
        ShowFailure(*outcome.Failure, false);
    if (outcome.Cancelled)
        ConsoleAdd(UserBreakLine);
    for (const std::string& line : outcome.After)
        ConsoleAdd(line.c_str());
}

// ---- Verify and cancel ------------------------------------------------------------------------

bool TMainForm::AskVerifyRange(const char* title, uint32_t& address, int64_t& length,
                               TComms& port) {
    if (!HaveImage())
        return false;
    TAddressForm form(this);
    form.setWindowTitle(title);
    form.ProposedLength = FileImage.Length();
    if (form.exec() != QDialog::Accepted)
        return false;
    address = static_cast<uint32_t>(form.StartAddress);
    // A length typed as eight digits may be above the signed range: it is still a length.
    length = static_cast<uint32_t>(form.DataLength);
    if (length > FileImage.Length()) {
        ShowFailure(VerifyLengthTooLong(length, FileImage.Length()));
        return false;
    }
    return OpenBoardPort(port, FlashSpeedSetting);
}

void TMainForm::VerifyTBClick() {
    TOperationScope operation(*this, "verifying");
    uint32_t address = 0;
    int64_t length = 0;
    TComms port;
    if (!AskVerifyRange("Verify Data Block", address, length, port))
        return;

    TBootMonitor monitor = Monitor(port);
    std::string warning;
    const TMonitorResult verified =
        VerifyAndForget(monitor, ChosenPort().toLocal8Bit().toStdString(), address,
                        FileImage.Data(), length, false, &warning);
    if (!warning.empty())
        ConsoleAdd(warning.c_str());
    if (!verified.Ok()) {
        ShowFailure(WithAnswerLines(VerifyFailure(verified), verified));
        return;
    }
    ConsoleAdd(" ");
    ConsoleAdd(VerifiedLine(length, address).c_str());
}

void TMainForm::VerifyReadBackClick() {
    TOperationScope operation(*this, "verifying by reading back");
    uint32_t address = 0;
    int64_t length = 0;
    TComms port;
    if (!AskVerifyRange("Verify by Reading Back", address, length, port))
        return;

    ConsoleAdd(" ");
    TBootMonitor monitor = Monitor(port);
    TReadBack readBack;
    {
        TProgressScope progress(*this, static_cast<int>(length / BlockSize));
        TBusyScope busy(*this);
        UserBreak = false;
        const auto afterBlock = [&](int64_t done, int64_t total) {
            progress.SetPosition(static_cast<int>(done / BlockSize));
            progress.ShowRate(done, total);
            return PumpMessages();
        };
        readBack = ReadBackAndForget(monitor, ChosenPort().toLocal8Bit().toStdString(), address,
                                     FileImage.Data(), length, afterBlock);
    }
    if (!readBack.Warning.empty())
        ConsoleAdd(readBack.Warning.c_str());
    if (readBack.Read.Status == TMonitorStatus::Cancelled)
        ConsoleAdd(UserBreakLine);
    else if (readBack.Same())
        ConsoleAdd(ReadBackSameLine(length, address).c_str());
    else
        ShowReadBackFailure(readBack);
}

void TMainForm::ShowReadBackFailure(const TReadBack& readBack) {
    if (readBack.Read.Ok())
        for (const std::string& line : ReadBackDifferenceLines(readBack))
            ConsoleAdd(line.c_str());
    ShowFailure(ReadBackFailure(readBack), false);
}

void TMainForm::CancelMenuClick() {
    // Each answer replaces the last: the running transfer acts on the one it finds at its next
    // block.
    UserBreak = MsgBox(MB_YESNO | MB_ICONQUESTION, "Abort current operation?") == IDYES;
}
