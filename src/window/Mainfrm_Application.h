#pragma once
// The application object of the program: it delivers every event inside a guard, so that an
// error raised and not handled by a command handler ends that handler only, is shown to the user
// in a message box, and the program goes on. Beside it, what the program's command line asks
// for, and the program's icon.

#include <QApplication>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <string>

class TMainForm;

class TApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error being handled in a message box with its text ("Out of memory" when memory ran
// out). Call it only from inside a catch block.
void ShowEscapedError();

// What the command line asks for: korvex [FILE], korvex --help, korvex --version.
struct TCommandLine {
    enum TAction { Run, Help, Version, Wrong };
    TAction Action = Run;
    QString File;    // the image to load once the window is up, as an absolute path; may be empty
    QString Problem; // what is wrong with the command line
};

// Reads the arguments that follow the program name. Help and version are found before the
// toolkit starts, so they need no display; the toolkit's own options (-style, -platform ...)
// are then still among the arguments and count as Wrong until the toolkit has taken them.
TCommandLine ParseCommandLine(const QStringList& arguments);
std::string CommandLineHelp();

// Loads the file as Open loads it, once the window has finished starting.
void LoadAfterStartUp(TMainForm& form, const QString& file);

// The program's icon, for the application and its windows.
QIcon ApplicationIcon();
