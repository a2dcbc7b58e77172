// The main window's board types: the factory import on a first start and the
// current type.

#include "Ebdata.h"
#include "FlashMap.h"
#include "Mainfrm.h"
#include "Misc.h"
#include "Settings.h"

#include <QAction>
#include <QToolButton>

#include <exception>

void TMainForm::ImportTypesIfMissing(TSettingsKey& key) {
    // Only a missing value means a first start: an empty list is the user's own
    // choice.
    if (key.ValueExists("TypeDefs"))
        return;
    try {
        ImportFactoryDefaults();
    } catch (const std::exception& error) {
        // Start-up goes on without definitions; the user can import them from the
        // preferences.
        MsgBox(MB_ICONERROR, "%s", error.what());
    }
}

void TMainForm::SelectType(const TString& name) {
    CurrentType.reset();
    TSettingsKey key;
    if (key.IsOpen()) {
        TString wanted(name);
        if (wanted.IsBlank())
            wanted = key.ReadString("LastType");
        TTypeDef entry;
        if (FindTypeDef(key.ReadString("TypeDefs"), wanted, &entry))
            CurrentType = BuildTypeDef(entry);
    }

    EnableFlashCommands(false);
    if (FlashMap)
        FlashMap->Clear(); // its sectors were another type's
    const bool hasSram = CurrentType && CurrentType->GetSramSize() != 0;
    const bool hasSectors = CurrentType && CurrentType->GetSectorCount() != 0;
    SramTB->setEnabled(hasSram);
    SramUploadMenu->setEnabled(hasSram);
    SynchTB->setEnabled(hasSectors);
    LinkSynchronizeMenu->setEnabled(hasSectors);
    SetStatusPanel(TypePanel, CurrentType ? CurrentType->GetName() : TString());
}
