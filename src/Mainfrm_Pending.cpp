// Commands and start-up steps whose concerns have not been built yet. Each concern moves its
// functions from here into its own Mainfrm_<Concern>.cpp when it is built; until then the
// commands do nothing and the start-up steps leave the window as it is.

#include "Mainfrm.h"

#include <QKeyEvent>
#include <QTimer>

// File image and history.
void TMainForm::ReadFileHistory(TSettingsKey&) {}
void TMainForm::WriteFileHistory(TSettingsKey&) {}
void TMainForm::LoadImageFile(const TString&) {}
void TMainForm::OpenTBClick() {}
void TMainForm::RefreshTBClick() {}
void TMainForm::HistoryItemClick(QAction*) {}
void TMainForm::FormKeyDown(QKeyEvent* event) {
    event->ignore();
}

// Boot-monitor commands.
void TMainForm::SramTBClick() {}
void TMainForm::SynchTBClick() {}
void TMainForm::ReadTBClick() {}
void TMainForm::FlashTBClick() {}
void TMainForm::VerifyTBClick() {}
void TMainForm::EraseSectorTBClick() {}
void TMainForm::CancelMenuClick() {}
