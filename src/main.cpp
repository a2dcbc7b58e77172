// Program entry: the program-wide texts, the application and its main window. An error that
// escapes a command is shown in a message box and the program goes on.

#include "AppGlobals.h"
#include "Mainfrm.h"
#include "Misc.h"

#include <QApplication>
#include <QDir>

#include <exception>
#include <new>

#ifndef KORVEX_BUILD_DATE
#define KORVEX_BUILD_DATE __DATE__
#endif

namespace {

// Shows the error being handled; called from a catch block.
void ShowCurrentError() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        MsgBox(MB_ICONERROR, "Out of memory");
    } catch (const std::exception& error) {
        MsgBox(MB_ICONERROR, "%s", error.what());
    } catch (...) {
        MsgBox(MB_ICONERROR, "Unknown error");
    }
}

// Delivers every event inside a guard, so that an error raised by a command handler ends that
// handler only.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            ShowCurrentError();
            return false;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    StartDir = QDir::toNativeSeparators(QDir::currentPath())
                   .append(QDir::separator())
                   .toLocal8Bit()
                   .constData();
    BuildDate = KORVEX_BUILD_DATE;

    TApplication application(argc, argv);
    QApplication::setApplicationName(MsgBoxCaption);
    QApplication::setApplicationDisplayName(MsgBoxCaption);
    SetMsgBoxPresenter(QMessageBoxPresenter);

    try {
        TMainForm mainForm;
        mainForm.show();
        return application.exec();
    } catch (...) {
        ShowCurrentError();
    }
    return 1;
}
