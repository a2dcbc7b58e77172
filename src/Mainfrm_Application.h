#pragma once
// The application object of the program: it delivers every event inside a guard, so that an
// error raised and not handled by a command handler ends that handler only, is shown to the user
// in a message box, and the program goes on.

#include <QApplication>

class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error being handled in a message box with its text ("Out of memory" when memory ran
// out). Call it only from inside a catch block.
void ShowEscapedError();
