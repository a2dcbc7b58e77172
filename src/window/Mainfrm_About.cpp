// The About command.
#include "Aboutfrm.h"
#include "Mainfrm.h"

void TMainForm::AboutTBClick() {
    TAboutForm aboutForm(this);
    aboutForm.exec();
}
