// The Preferences command.

#include "Mainfrm.h"

#include <QComboBox>

#include "Setupfrm.h"

void TMainForm::PrefTBClick() {
    TString typeName;
    {
        TSetupForm form(this);
        form.exec();
        // Whatever closed the dialog, the window follows the type the dialog last showed.
        typeName = TString(form.DescCB->currentText().toUtf8().constData());
    }
    ApplyConsoleLook();
    SelectType(typeName);
}
