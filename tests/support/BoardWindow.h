// The main window beside a simulated board: the board's pseudo-terminal is the one port the
// window lists, its board type is the current one, and the test can answer the dialogs and boxes
// of the board commands and read what the board received.
#pragma once

#include "BoardTestKit.h"
#include "MainFormHarness.h"

#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class TAddressForm;

namespace boardtest {

// What the user does in the address dialog.
struct TDialogAnswer {
    std::string Start;  // typed into the start field; empty: keep what the dialog proposes
    std::string Length; // typed into the length field (full mode)
    bool Cancel = false;
};

// What the dialog showed.
struct TDialogSeen {
    QString Title;
    QString Start;
    bool AddressOnly = false;
    bool Shown = false;
};

class TBoardWindow {
public:
    explicit TBoardWindow(const TBoardConfig& config = KitBoard(),
                          const TMonitorTiming& timing = TMonitorTiming());
    ~TBoardWindow();
    TBoardWindow(const TBoardWindow&) = delete;
    TBoardWindow& operator=(const TBoardWindow&) = delete;

    TMainForm& Form() { return Window->Form(); }
    TScriptedMsgBox& Boxes() { return Window->Boxes(); }
    const TScriptedMsgBox& Boxes() const { return Window->Boxes(); }

    // Synchronises the link, answering the confirmation with OK; whether the flash commands are
    // unlocked afterwards. The frames it caused are moved from the board's log to SyncFrames.
    bool Synchronise();
    std::vector<TFrameRecord> SyncFrames;
    // Makes the bytes the loaded image (a binary file), or an Intel HEX file at address.
    void Load(const TBytes& bytes);
    void LoadHex(const TBytes& bytes, uint32_t address);

    // Runs a command whose address dialog gets the answer; what the dialog showed.
    TDialogSeen RunWithDialog(void (TMainForm::*command)(), const TDialogAnswer& answer);
    TDialogSeen RunWithDialog(const std::function<void()>& run, const TDialogAnswer& answer);

    // The console lines from the last line holding a single space on (the running report),
    // without the slow-adapter hint a busy machine may bring about.
    QStringList Report() const;
    // Every position the progress bar took since the window was created.
    const std::vector<int>& Positions() const { return *FPositions; }

    TBoardSim Board;
    std::unique_ptr<TMainFormHarness> Window;

private:
    QTemporaryDir FFiles;
    std::shared_ptr<std::vector<int>> FPositions;
};

// Expects the last box to show text with flags. A text ending in "$REASON" stands for a step's
// message followed by the system's reason, which names the board's port.
void ExpectLastBox(const TBoardWindow& w, const std::string& text, int flags);
// Every window state that must be back to normal once a command has ended, whichever way.
void ExpectIdle(TMainForm& form);

// Runs action once, from inside the next progress pump of a transfer at which pred holds.
void AtProgress(TMainForm& form, std::function<bool(int position)> pred,
                std::function<void()> action);

} // namespace boardtest
