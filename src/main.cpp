// Program entry: the program-wide texts, the application and its main window. An error that
// escapes a command is shown in a message box and the program goes on.

#include "AppGlobals.h"
#include "Mainfrm.h"
#include "Mainfrm_Application.h"
#include "Misc.h"

#include <QDir>

#ifndef KORVEX_BUILD_DATE
#define KORVEX_BUILD_DATE __DATE__
#endif

int main(int argc, char** argv) {
    StartDir = QDir::toNativeSeparators(QDir::currentPath())
                   .append(QDir::separator())
                   .toLocal8Bit()
                   .constData();
    BuildDate = KORVEX_BUILD_DATE;

    TApplication application(argc, argv);
    // Only the name: a display name would be appended to every window caption.
    QApplication::setApplicationName(MsgBoxCaption);
    SetMsgBoxPresenter(QMessageBoxPresenter);

    try {
        TMainForm mainForm;
        mainForm.show();
        return application.exec();
    } catch (...) {
        ShowEscapedError();
    }
    return 1;
}
