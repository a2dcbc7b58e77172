// The main window's flash commands: read, sector erase, programming, verify, and Cancel for the
// long transfers.

#include "Addressfrm.h"
#include "Comm.h"
#include "Ebdata.h"
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

// The flash map shows the board type's sectors, whatever a programming planned before.
void ShowTypeInMap(TFlashMap& map, const TEBData& type) {
    const std::vector<TSectorPlan>& shown = map.Plan().Sectors;
    if (!shown.empty() && static_cast<int>(shown.size()) == type.GetSectorCount() &&
        shown.front().Start == static_cast<uint32_t>(type.GetSector(0).Start))
        return;
    map.SetPlan(BuildProgramPlan(type, static_cast<uint32_t>(type.GetFlashStart()), nullptr, 0));
}

// The ledger of the board last synchronised on port; none when it was not.
std::optional<TLedgerKey> KnownLedgerKey(const std::string& port, const TEBData& type) {
    TMonitorIdentity identity;
    if (!RememberedBoardIdentity(port, identity))
        return std::nullopt;
    return MakeLedgerKey(port, identity, type);
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
        ShowFailure(ReadFailure(result), false);
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
    if (!erased.Ok()) {
        ShowFailure(WithNoAnswerLine(EraseFailure(erased), erased));
        return;
    }
    ConsoleAdd(" ");
    ConsoleAdd(SectorErasedLine(static_cast<uint32_t>(address)).c_str());
    ShowTypeInMap(*FlashMap, *CurrentType);
    FlashMap->MarkErased(FlashMap->Plan().SectorAt(static_cast<uint32_t>(address)));
}

// ---- Programming ------------------------------------------------------------------------------

void TMainForm::FlashTBClick() {
    TOperationScope operation(*this, "programming");
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
    TFlashView(TMainForm& form, TFlashMap& map, const TProgramPlan& plan)
        : Form(form), Map(map), Plan(plan) {}

    void Phase(TBootMonitor::TPhase phase) override {
        if (phase == TBootMonitor::TPhase::Programming) {
            Cursor->Restore();
            // The rate is the write's: the erase before it would show hours left at first.
            Bar->RestartClock();
        }
        // With every sector skipped there is nothing erased or written to announce.
        if (Plan.Count(TSectorAction::Write) > 0 || phase == TBootMonitor::TPhase::Verifying)
            Form.ConsoleAdd(ProgramPhaseLine(phase));
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
    const TProgramPlan& Plan;
    TProgressScope* Bar = nullptr;
    TWaitCursor* Cursor = nullptr;
};

void TMainForm::ProgramImage(TComms& port, uint32_t start, TProgramPlan& sectors) {
    const int64_t length = FileImage.Length();
    DescribeOperation("programming, " + std::to_string(length) + " bytes at " + AddrToHex(start)());
    ShowFlashMap(sectors);
    TBootMonitor monitor = Monitor(port);
    TFlashView view(*this, *FlashMap, sectors);
    const std::string portName = ChosenPort().toLocal8Bit().toStdString();
    TFlashSession session(monitor, view, sectors, FileImage.Data(), portName,
                          KnownLedgerKey(portName, *CurrentType));
    if (session.Keyed() && ReadSkipUnchanged()) {
        const TMonitorResult checked = session.SkipUnchanged();
        if (!checked.Ok()) {
            ShowFailure(WithNoAnswerLine(VerifyFailure(checked), checked));
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
    FlashMap->FinishProgramming(program.Result.Ok());
    ShowProgrammed(program, start, sectors);
}

void TMainForm::ShowProgrammed(const TBootMonitor::TProgramResult& program, uint32_t start,
                               const TProgramPlan& sectors) {
    if (program.Result.Ok()) {
        const std::string unchanged = UnchangedSectorsLine(sectors.SectorsOf(TSectorAction::Skip));
        if (!unchanged.empty())
            ConsoleAdd(unchanged.c_str());
        ConsoleAdd(ProgrammedLine(FileImage.Length(), start).c_str());
        return;
    }
    if (program.Result.Status != TMonitorStatus::Cancelled)
        ShowFailure(WithNoAnswerLine(ProgramFailure(program, start), program.Result), false);
    const std::string closing = ProgramClosingLine(program);
    if (!closing.empty())
        ConsoleAdd(closing.c_str());
    const std::string partly = PartlyProgrammedLine(program);
    if (!partly.empty())
        ConsoleAdd(partly.c_str());
}

// ---- Verify and cancel ------------------------------------------------------------------------

void TMainForm::VerifyTBClick() {
    TOperationScope operation(*this, "verifying");
    if (!HaveImage())
        return;
    TAddressForm form(this);
    form.setWindowTitle("Verify Data Block");
    form.ProposedLength = FileImage.Length();
    if (form.exec() != QDialog::Accepted)
        return;
    // A length typed as eight digits may be above the signed range: it is still a length.
    const int64_t length = static_cast<uint32_t>(form.DataLength);
    if (length > FileImage.Length()) {
        ShowFailure(VerifyLengthTooLong(length, FileImage.Length()));
        return;
    }
    TComms port;
    if (!OpenBoardPort(port, FlashSpeedSetting))
        return;

    const uint32_t address = static_cast<uint32_t>(form.StartAddress);
    TBootMonitor monitor = Monitor(port);
    const TMonitorResult verified = monitor.VerifyRange(address, FileImage.Data(), length);
    std::string error;
    if (verified.Status == TMonitorStatus::Refused &&
        !ForgetRange(ChosenPort().toLocal8Bit().toStdString(), address, length, &error))
        ConsoleAdd(error.c_str());
    if (!verified.Ok()) {
        ShowFailure(WithNoAnswerLine(VerifyFailure(verified), verified));
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
