// Program entry: the command line, the program-wide texts, the application and its main window.
// An error that escapes a command is shown in a message box and the program goes on.

#include "AppGlobals.h"
#include "Mainfrm.h"
#include "Mainfrm_Application.h"
#include "Misc.h"

#include <QDir>

#include <cstdio>

#ifndef KORVEX_BUILD_DATE
#define KORVEX_BUILD_DATE __DATE__
#endif
#ifndef KORVEX_VERSION
#define KORVEX_VERSION "unknown"
#endif

namespace {

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Help and version need no window, nor a display to put one on.
bool AnsweredWithoutWindow(const TCommandLine& command) {
    if (command.Action == TCommandLine::Help) {
        std::fputs(CommandLineHelp().c_str(), stdout);
        return true;
    }
    if (command.Action == TCommandLine::Version) {
        std::printf("korvex %s (Build: %s)\n", KORVEX_VERSION, KORVEX_BUILD_DATE);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (AnsweredWithoutWindow(ParseCommandLine(ArgumentsOf(argc, argv))))
        return 0;

    StartDir = QDir::toNativeSeparators(QDir::currentPath())
                   .append(QDir::separator())
                   .toLocal8Bit()
                   .constData();
    BuildDate = KORVEX_BUILD_DATE;

    TApplication application(argc, argv);
    // The toolkit has taken its own options out of the arguments by now.
    const TCommandLine command = ParseCommandLine(ArgumentsOf(argc, argv));
    if (command.Action == TCommandLine::Wrong) {
        std::fprintf(stderr, "korvex: %s\nTry 'korvex --help'.\n",
                     command.Problem.toLocal8Bit().constData());
        return 2;
    }
    // Only the name: a display name would be appended to every window caption.
    QApplication::setApplicationName(MsgBoxCaption);
    QApplication::setWindowIcon(ApplicationIcon());
    // Lets the desktop match the window to its installed entry (icon, name in the task list).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.korvex.Korvex"));
    SetMsgBoxPresenter(QMessageBoxPresenter);

    try {
        TMainForm mainForm;
        mainForm.show();
        if (!command.File.isEmpty())
            LoadAfterStartUp(mainForm, command.File);
        return application.exec();
    } catch (...) {
        ShowEscapedError();
    }
    return 1;
}
