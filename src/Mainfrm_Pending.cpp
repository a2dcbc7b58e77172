// Commands whose concerns have not been built yet. Each concern moves its functions from here
// into its own Mainfrm_<Concern>.cpp when it is built; until then the commands do nothing.

#include "Mainfrm.h"

// Boot-monitor commands.
void TMainForm::SramTBClick() {}
void TMainForm::SynchTBClick() {}
void TMainForm::ReadTBClick() {}
void TMainForm::FlashTBClick() {}
void TMainForm::VerifyTBClick() {}
void TMainForm::EraseSectorTBClick() {}
void TMainForm::CancelMenuClick() {}
