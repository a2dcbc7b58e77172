#include "Mainfrm_Application.h"

#include "Mainfrm.h"
#include "Misc.h"

#include <QFileInfo>
#include <QTimer>

#include <exception>
#include <new>

void ShowEscapedError() {
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

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowEscapedError();
        return false;
    }
}

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine command;
    QStringList files;
    bool options = true;
    for (const QString& argument : arguments) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options &&
                   (argument == QLatin1String("-h") || argument == QLatin1String("--help"))) {
            command.Action = TCommandLine::Help;
            return command;
        } else if (options &&
                   (argument == QLatin1String("-V") || argument == QLatin1String("--version"))) {
            command.Action = TCommandLine::Version;
            return command;
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            if (command.Problem.isEmpty())
                command.Problem = QStringLiteral("unknown option '%1'").arg(argument);
        } else {
            files << argument;
        }
    }
    if (command.Problem.isEmpty() && files.size() > 1)
        command.Problem = QStringLiteral("one file at a time, not %1").arg(files.size());
    if (!command.Problem.isEmpty()) {
        command.Action = TCommandLine::Wrong;
        return command;
    }
    // Relative to the folder the program was started in, whatever the window does later.
    if (!files.isEmpty())
        command.File = QFileInfo(files.first()).absoluteFilePath();
    return command;
}

std::string CommandLineHelp() {
    return "Usage: korvex [FILE]\n"
           "Loads program images into ARM7 evaluation boards through their boot monitor on a\n"
           "serial port.\n"
           "\n"
           "  FILE           an image (raw binary, Intel HEX, Motorola S-record or ELF) to load once\n"
           "                 the window is up, as Open loads it\n"
           "  -h, --help     show this help and exit\n"
           "  -V, --version  show the version and exit\n";
}

void LoadAfterStartUp(TMainForm& form, const QString& file) {
    QTimer::singleShot(0, &form, [&form, file] { form.OpenChosenFile(file); });
}

QIcon ApplicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/korvex-48.png"));
    icon.addFile(QStringLiteral(":/korvex-256.png"));
    return icon;
}
