#pragma once
// TMainForm: the program's one main window. It owns everything that lives for the whole run
// (the loaded image, the current board type, the console, the status bar) and every user
// command is one of its handlers. Its implementation is split by concern over Mainfrm*.cpp.

#include "BootMonitor.h"
#include "ImageFile.h"
#include "TString.h"

#include <QElapsedTimer>
#include <QFont>
#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QByteArray;
class QCloseEvent;
class QDockWidget;
class QColor;
class QComboBox;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QMargins;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QRect;
class QShowEvent;
class QStatusBar;
class QTimer;
class QToolBar;
class QToolButton;
class TBoardOutputPane;
class TEBData;
class TComms;
class TFlashMap;
class TFlashSession;
struct TProgramPlan;
struct TReadBack;
class TSettingsKey;
struct TFlashPlan;
struct TMonitorMessage;
struct TPortCandidate;

// Console colours are kept as Windows colour values (red in the low byte) so that stored
// settings carry over between platforms.
QColor ColorFromValue(int value);
int ColorToValue(const QColor& color);

// The console's font with the text colour that goes with it.
struct TConsoleFont {
    QFont Font;
    int Color = 0;
};

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* owner = nullptr);
    ~TMainForm() override;

    // Status-bar panels, left to right.
    enum { ProgressPanel = 0, TypePanel = 1, FilePanel = 2 };

    // --- controls -------------------------------------------------------------------------
    QToolBar* ToolBar = nullptr;
    QToolButton* OpenTB = nullptr; // its drop-down arrow shows OpenPopup
    QToolButton* RefreshTB = nullptr;
    QToolButton* ClearTB = nullptr;
    QToolButton* PrefTB = nullptr;
    QLabel* PortL = nullptr;
    QComboBox* PortCB = nullptr;
    QToolButton* SramTB = nullptr;
    QToolButton* SynchTB = nullptr;
    QToolButton* ReadTB = nullptr;
    QToolButton* FlashTB = nullptr;
    QToolButton* VerifyTB = nullptr;
    QToolButton* EraseSectorTB = nullptr;
    QToolButton* EraseAllTB = nullptr; // never shown; only its enabled state is kept
    QToolButton* AboutTB = nullptr;
    QToolButton* ExitTB = nullptr;
    QMenu* OpenPopup = nullptr; // file history: every item reaches HistoryItemClick

    QMenu* FileMenu = nullptr;
    QAction* OpenMenu = nullptr;
    QAction* RefreshMenu = nullptr;
    QAction* PreferencesMenu = nullptr;
    QAction* ClearConsoleMenu = nullptr;
    QAction* ExitMenu = nullptr;
    QMenu* SramMenu = nullptr;
    QAction* SramUploadMenu = nullptr;
    QMenu* FlashMenu = nullptr;
    QAction* LinkSynchronizeMenu = nullptr;
    QAction* ReadMenu = nullptr;
    QAction* FlashWriteMenu = nullptr;
    QAction* VerifyMenu = nullptr;
    QAction* VerifyReadBackMenu = nullptr;
    QAction* EraseSectorMenu = nullptr;
    QAction* CancelMenu = nullptr; // a command in the menu bar itself, shown only while busy
    QMenu* MonitorMenu = nullptr;
    QAction* BoardOutputMenu = nullptr;
    QAction* MonitorConnectMenu = nullptr;
    TBoardOutputPane* BoardOutput = nullptr; // the board's own output, in a dock below the console
    QDockWidget* BoardOutputDock = nullptr;
    TFlashMap* FlashMap = nullptr; // the sectors of a programming, in a dock beside the console
    QDockWidget* FlashMapDock = nullptr;
    QAction* FlashMapMenu = nullptr; // shows and hides the flash map

    QPlainTextEdit* Memo = nullptr; // the console
    // In the console's context menu: its text to a file; the bytes of the last read to a file.
    QAction* SaveConsoleAction = nullptr;
    QAction* SaveReadAction = nullptr;
    QStatusBar* StatusBar = nullptr;
    QProgressBar* ProgressBar = nullptr; // lies over the first status panel
    QLabel* TransferL = nullptr;         // beside it: throughput and time left of a transfer
    QTimer* Timer = nullptr;             // one-shot port check, 500 ms after start

    // --- state that lives for the whole run ----------------------------------------------
    TFileImage FileImage;    // Length() == 0: no image loaded
    int FileStart = -1;      // lowest address of a loaded hex file; -1 for none or binary
    bool Refreshing = false; // the next load is a refresh
    TString LoadedPath;      // the file panel's path as the file system spells it, for Refresh
    bool UserBreak = false;  // the user confirmed an abort of the running operation
    int LinkBaud = 0;        // speed found by the last successful synchronisation
    std::shared_ptr<TEBData> CurrentType; // the selected board type, or null
    TString RememberedPort; // SerialPort as read at start-up, selected once the list is filled
    bool SlowAdapterHinted = false; // the console told once that the answers come late
    // Answer time-outs and pauses of the board commands. The program keeps the defaults; tests
    // shorten them so that a case that waits out every retry stays quick.
    TMonitorTiming MonitorTiming;
    // Who opened the board's port since the last synchronisation, which may have restarted the
    // board into its program: the next flash command synchronises first. Null: nobody.
    const char* SyncAgainReason = nullptr;
    // The bytes of the last whole read, for Save Data Read.
    uint32_t ReadAddress = 0;
    std::vector<uint8_t> ReadData;

    // --- window ---------------------------------------------------------------------------
    void EnableFlashCommands(bool on);
    void SetBusy(bool busy);
    bool IsBusy() const { return Busy; }
    // A board command runs (from its first question to its last message). Its waits keep the
    // window painting; nothing else may start meanwhile.
    bool IsOperating() const { return Operating; }
    // The board output pane gives up the port meanwhile and shows `what` took it; a close
    // request that came while a command ran is acted on once it ends.
    void SetOperating(bool operating, const char* what = "");
    // What the running command turned out to do, for the board output's line marking the gap.
    void DescribeOperation(const std::string& what);

    // --- console --------------------------------------------------------------------------
    void ConsoleAdd(const TString& line);
    void ConsoleAdd(const char* line);
    void ConsolePrintf(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void ConsoleAddLines(const std::vector<TString>& lines);
    // A text of one or more lines, each its own console line.
    void ConsoleAddText(const std::string& text);
    // Whether the console's view shows its last line.
    bool ConsoleAtEnd() const;
    int ConsoleLineCount() const;
    TString ConsoleLine(int index) const;
    void ScrollConsoleToEnd();
    void ApplyConsoleLook(); // font and colours from the settings
    static int ReadConsoleBackground();
    static void ReadConsoleFont(TConsoleFont& font);

    // --- status bar and progress ---------------------------------------------------------
    void SetStatusPanel(int panel, const TString& text);
    TString StatusPanel(int panel) const;
    void ProgressStart(int total); // range 0..total, position 0, shown
    // The rate counts from now: a phase before the transfer does not lower it.
    void ProgressRestartClock();
    void ProgressSetPosition(int position);
    void ProgressEnd(); // hidden, whatever the outcome
    // Throughput and time left beside the bar, from the time since ProgressStart.
    void ProgressShowRate(int64_t doneBytes, int64_t totalBytes);

    // --- start-up and shut-down steps of the other concerns ------------------------------
    void ReadFileHistory(TSettingsKey& key);
    void WriteFileHistory(TSettingsKey& key);
    void ReadPortSetting(TSettingsKey& key);
    void FillPortList(); // at start-up, selecting the remembered port
    // Lists the ports anew, selecting `wanted` (a device) when it is still there, else the first.
    void FillPortList(const QString& wanted);
    // The device of the chosen port, as settings texts and SerialPort take it.
    QString ChosenPort() const;
    void WritePortSetting(TSettingsKey& key);
    void ImportTypesIfMissing(TSettingsKey& key);
    void SelectType(const TString& name);
    void LoadImageFile(const TString& path);
    // Loads a file the user chose (Open, or dropped on the window): remembered as the last
    // location and in the history.
    void OpenChosenFile(const QString& path);

    // --- board commands -------------------------------------------------------------------
    // The port's settings text: the SRAM upload (SramSpeedSetting) at its stored speed, every
    // other command at LinkBaud.
    TString BuildPortSettings(int mode);
    // ReadRange, EraseSector, WriteBlock and VerifyRange are the protocol's own (TBootMonitor),
    // shared with korvex-cli; the window shows what they come to.

    // --- handlers -------------------------------------------------------------------------
    void OpenTBClick();
    void RefreshTBClick();
    void HistoryItemClick(QAction* item);
    void ClearTBClick();
    void PrefTBClick();
    void PortCBChange();
    void SramTBClick();
    void SynchTBClick();
    void ReadTBClick();
    void FlashTBClick();
    void VerifyTBClick();
    void VerifyReadBackClick();
    void EraseSectorTBClick();
    void AboutTBClick();
    void ExitTBClick();
    void ExitMenuClick();
    void CancelMenuClick();
    void SaveConsoleClick();
    void SaveReadClick();
    void TimerTimer();
    // Sees the key presses that no control and no short-cut took. While busy the menus'
    // short-cut keys are off, so their keys arrive here too.
    void FormKeyDown(QKeyEvent* event);
    void FormClose();
    // The board output pane (Mainfrm_Monitor.cpp).
    void CreateBoardOutput();
    void BoardOutputMenuClick();
    // The flash map's dock and its item in the Flash menu (Mainfrm_Flash.cpp).
    void CreateFlashMap();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateToolBar();
    void CreateMenus();
    void CreateConsole();
    void CreateStatusBar();
    void CreatePortBox();
    void ConsoleAppend(const QString& text);
    void CreateConsoleMenu();
    void KeepReadData(uint32_t address, std::vector<uint8_t> data);
    // Writes bytes to path, replacing a file there only once all are written; tells why not.
    bool SaveFile(const QString& path, const QByteArray& bytes);
    QToolButton* AddToolButton(const char* icon, const char* hint, void (TMainForm::*click)());
    void ReadFormSize(TSettingsKey& key);
    void WriteFormSize(TSettingsKey& key);
    QMargins FrameMargins() const; // of the window's frame around its inside
    void KeepRestoredPlaceOnScreen();

    bool HasSectors() const;
    // Runs Open when no image is loaded; whether there is one now.
    bool HaveImage();
    // Opens the port for a board command; tells the user why not when it cannot. A flash
    // command synchronises first when someone else had the port (SyncAgainReason).
    bool OpenBoardPort(TComms& port, int mode);
    // Synchronises at the link's speed, saying why in the console; false after its failure box.
    bool SynchroniseAgain(TComms& port);
    // The protocol over port, with the window's timing and a wait hook that keeps it painting.
    TBootMonitor Monitor(TComms& port);
    // Asks for the programming address, checks the image against the flash there and plans
    // each sector (shown in the flash map); false when the user gave up or the image does not
    // fit.
    bool AskProgramTarget(int& address, TProgramPlan& sectors);
    // The plan in the flash map, whose dock is shown.
    void ShowFlashMap(const TProgramPlan& plan);
    // Erases and writes what the plan names (skipping sectors the ledger and the board vouch
    // for when the preference asks) and has the board verify the loaded image from start.
    void ProgramImage(TComms& port, uint32_t start, TProgramPlan& sectors);
    // The window's face of a flash session: the console's lines, the progress bar, the
    // hourglass and the sector being written in the flash map.
    class TFlashView;
    // The session's programming with the window busy, then its outcome in the console.
    void RunProgramming(TFlashSession& session, TFlashView& view, uint32_t start,
                        const TProgramPlan& sectors);
    void ShowProgrammed(const TBootMonitor::TProgramResult& program, uint32_t start,
                        const TProgramPlan& sectors);
    // Asks for the range to compare with the loaded image's first bytes and opens the board's
    // port; false when the user gave up, the length is more than the image holds or the port
    // did not open (each said).
    bool AskVerifyRange(const char* title, uint32_t& address, int64_t& length, TComms& port);
    // The differing bytes of a read-back, or why it could not read, in the console and a box.
    void ShowReadBackFailure(const TReadBack& readBack);
    // Shows a failure's box and then keeps its text in the console, below the earlier results:
    // as a report of its own, or at the end of the running command's report.
    void ShowFailure(const TMonitorMessage& message, bool ownReport = true);
    // Lets the window handle everything pending, Cancel included, between two blocks of a
    // transfer; false when the user confirmed an abort.
    bool PumpMessages();

    QAction* EraseAllTBAction = nullptr; // the tool-bar slot of EraseAllTB, kept hidden
    QLabel* StatusLabels[3] = {nullptr, nullptr, nullptr};
    bool Busy = false;              // a transfer runs: only Cancel is offered
    bool PlacementRestored = false; // the window took its place from FormSize
    bool PlacementChecked = false;  // against the screen, with the frame that showing revealed
    bool Operating = false;         // any board command runs
    bool CloseRequested = false;    // the window was asked to close while a command ran
    bool ConsoleFollowing = true;   // the console's view shows its end and follows new lines
    QElapsedTimer TransferClock;
    static constexpr double RateIntervalMs = 250; // between two updates of the rate text
    double RateShownAt = 0;                       // on TransferClock
};

// What the port list shows for a port: its name, or for a simulated board what it is.
QString PortDisplayName(const TPortCandidate& port);

// The status bar's text while a synchronisation tries a speed.
QString SyncSpeedText(int speed);

// Shows a boot-monitor message with its flags; the answer.
int ShowMessage(const TMonitorMessage& message);

// Shows the progress bar for one transfer and hides it again on every way out of the operation.
class TProgressScope {
public:
    TProgressScope(TMainForm& form, int total) : FForm(form) { FForm.ProgressStart(total); }
    ~TProgressScope() { FForm.ProgressEnd(); }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;
    void SetPosition(int position) { FForm.ProgressSetPosition(position); }
    void ShowRate(int64_t doneBytes, int64_t totalBytes) {
        FForm.ProgressShowRate(doneBytes, totalBytes);
    }
    void RestartClock() { FForm.ProgressRestartClock(); }

private:
    TMainForm& FForm;
};

// Holds the window busy (only Cancel available) for one operation, on every way out of it.
class TBusyScope {
public:
    explicit TBusyScope(TMainForm& form) : FForm(form) { FForm.SetBusy(true); }
    ~TBusyScope() { FForm.SetBusy(false); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    TMainForm& FForm;
};

// Marks a board command as running, from its first question to its last message.
class TOperationScope {
public:
    explicit TOperationScope(TMainForm& form, const char* what = "") : FForm(form) {
        FForm.SetOperating(true, what);
    }
    ~TOperationScope() { FForm.SetOperating(false); }
    TOperationScope(const TOperationScope&) = delete;
    TOperationScope& operator=(const TOperationScope&) = delete;

private:
    TMainForm& FForm;
};

// The port list probes every port, the board output pane's own among them: the pane lets go of
// its port meanwhile.
class TPortProbeScope {
public:
    explicit TPortProbeScope(TMainForm& form);
    ~TPortProbeScope();
    TPortProbeScope(const TPortProbeScope&) = delete;
    TPortProbeScope& operator=(const TPortProbeScope&) = delete;

private:
    TMainForm& FForm;
};

// The hourglass cursor for one phase of an operation; back to normal on every way out.
class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor() { Restore(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
    void Restore();

private:
    bool FSet;
};
