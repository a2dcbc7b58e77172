// The main window for tests: created offscreen with the scripted message box installed, and a
// way to answer the next modal dialog a command opens.
#pragma once

#include "Mainfrm.h"
#include "ScriptedMsgBox.h"

#include <functional>
#include <memory>

class QWidget;

class TMainFormHarness {
public:
    // Creates the window; with clearSettings the settings store is emptied first, so the
    // window starts as on a machine that never ran the program. The start-up port check is
    // stopped unless portCheck is set: on a machine without serial ports its warning would
    // otherwise appear at whatever point a slow test happens to be half a second in.
    explicit TMainFormHarness(bool clearSettings = true, bool portCheck = false);
    ~TMainFormHarness();
    TMainFormHarness(const TMainFormHarness&) = delete;
    TMainFormHarness& operator=(const TMainFormHarness&) = delete;

    TMainForm& Form() { return *FForm; }
    TMainForm* operator->() { return FForm.get(); }
    TScriptedMsgBox& Boxes() { return FBoxes; }

    // Shows the window and waits until it is exposed and active (for key presses and layout).
    bool ShowForm();
    // Closes the window through its close box (the close handler runs) and destroys it.
    void CloseForm();
    // Closes the window and creates a new one, as a restart of the program would.
    void Restart();

private:
    void CreateForm();

    TScriptedMsgBox FBoxes;
    std::unique_ptr<TMainForm> FForm;
    bool FPortCheck = false;
};

// Runs `action` on the next modal dialog as soon as it is shown, from a timer, so that a test can
// fill in the dialog that the command it calls next opens. If no dialog appears within
// `timeoutMs`, the test fails; so it does when the dialog is still open `timeoutMs` after the
// action ran, and the dialog is then rejected so that the test cannot hang.
void WhenModalShown(std::function<void(QWidget* dialog)> action, int timeoutMs = 5000);
