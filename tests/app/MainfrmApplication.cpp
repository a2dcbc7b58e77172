// The application object's guard: an error escaping a command handler is shown in a message box
// and the program goes on. And the program's command line. The guard lives in the application
// object itself, so this program brings its own main() and creates that object instead of the plain
// one the other tests use.

#include "Eventually.h"
#include "MainFormHarness.h"
#include "Mainfrm_Application.h"
#include "Settings.h"
#include "TestEnvironment.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <tuple>

namespace {

struct TEscapedError {
    const char* Name;
    std::function<void()> Raise;
    const char* Shown;
};

} // namespace

TEST(ApplicationGuard, ErrorFromCommandIsShownAndTheCommandsGoOn) {
    TMainFormHarness harness;
    ASSERT_TRUE(harness.ShowForm());
    harness->Timer->stop(); // the port check would add a box of its own
    TMainForm& form = harness.Form();

    const std::vector<TEscapedError> errors = {
        {"error with a text", [] { throw std::runtime_error("Unable to open registry key"); },
         "Unable to open registry key"},
        {"exhausted memory", [] { throw std::bad_alloc(); }, "Out of memory"},
        {"anything else", [] { throw 42; }, "Unknown error"},
    };
    for (const TEscapedError& error : errors) {
        harness.Boxes().Clear();
        form.ConsoleAdd("before");
        bool handlerGotPastTheError = false;
        // A second handler on the Clear command, run after the window's own.
        QMetaObject::Connection failing =
            QObject::connect(form.ClearTB, &QToolButton::clicked, [&] {
                error.Raise();
                handlerGotPastTheError = true;
            });
        QTest::mouseClick(form.ClearTB, Qt::LeftButton);
        QObject::disconnect(failing);

        ASSERT_EQ(harness.Boxes().Count(), 1) << error.Name;
        EXPECT_EQ(harness.Boxes().Last().Text, error.Shown) << error.Name;
        EXPECT_EQ(harness.Boxes().Last().Flags, MB_ICONERROR) << error.Name;
        EXPECT_FALSE(handlerGotPastTheError) << error.Name;
        EXPECT_EQ(form.ConsoleLineCount(), 3) << error.Name; // the window's own handler ran

        // The same command works again afterwards.
        form.ConsoleAdd("after");
        QTest::mouseClick(form.ClearTB, Qt::LeftButton);
        EXPECT_EQ(form.ConsoleLineCount(), 3) << error.Name;
        EXPECT_EQ(harness.Boxes().Count(), 1) << error.Name;
    }
}

TEST(ApplicationGuard, MessageLoopKeepsRunningAfterAnError) {
    TScriptedMsgBox boxes;
    QEventLoop loop;
    bool laterEventDelivered = false;
    QTimer::singleShot(0, [] { throw std::bad_alloc(); });
    QTimer::singleShot(20, [&] {
        laterEventDelivered = true;
        loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit); // loose bound against a hang
    loop.exec();
    EXPECT_TRUE(laterEventDelivered);
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Last().Text, "Out of memory");
}

TEST(CommandLine, WhatTheArgumentsAskFor) {
    const QString here = QDir::currentPath();
    const struct {
        QStringList Arguments;
        TCommandLine::TAction Action;
        QString File;
        QString Problem;
    } cases[] = {
        {{}, TCommandLine::Run, "", ""},
        {{"image.hex"}, TCommandLine::Run, here + "/image.hex", ""},
        {{"/tmp/image.bin"}, TCommandLine::Run, "/tmp/image.bin", ""},
        {{"--", "-image.bin"}, TCommandLine::Run, here + "/-image.bin", ""},
        {{"--help"}, TCommandLine::Help, "", ""},
        {{"image.hex", "-h"}, TCommandLine::Help, "", ""},
        {{"--version"}, TCommandLine::Version, "", ""},
        {{"-V", "--help"}, TCommandLine::Version, "", ""},
        {{"--", "--help"}, TCommandLine::Run, here + "/--help", ""},
        {{"--bogus", "image.hex"}, TCommandLine::Wrong, "", "unknown option '--bogus'"},
        {{"a.hex", "b.hex"}, TCommandLine::Wrong, "", "one file at a time, not 2"},
    };
    for (const auto& c : cases) {
        const TCommandLine command = ParseCommandLine(c.Arguments);
        const std::string name = c.Arguments.join(' ').toStdString();
        EXPECT_EQ(command.Action, c.Action) << name;
        EXPECT_EQ(command.File, c.File) << name;
        EXPECT_EQ(command.Problem, c.Problem) << name;
    }
}

TEST(CommandLine, AFileGivenIsLoadedAsOpenLoadsIt) {
    QTemporaryDir folder;
    const QString path = folder.filePath("blink.bin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, '\x5A'));
    file.close();

    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    LoadAfterStartUp(form, path);
    EXPECT_EQ(form.FileImage.Length(), 0) << "not before the window is up";
    EXPECT_EVENTUALLY(form.FileImage.Length() == 300);
    EXPECT_EQ(form.StatusPanel(TMainForm::FilePanel)(), path.toStdString());
    ASSERT_EQ(form.OpenPopup->actions().size(), 1);
    EXPECT_EQ(form.OpenPopup->actions().first()->text(), path);
    EXPECT_EQ(std::string(TSettingsKey().ReadString("LastFileLocation")()), path.toStdString());
    EXPECT_EQ(harness.Boxes().Count(), 0) << harness.Boxes().AllTexts();
}

TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
    const QString program = QStringLiteral(KORVEX_BINARY_DIR "/src/window/korvex");
    ASSERT_TRUE(QFile::exists(program)) << "build korvex first";
    const auto run = [&](const QStringList& arguments, const char* platform) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", platform);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(20000)) << arguments.join(' ').toStdString();
        return std::make_tuple(process.exitCode(), QString(process.readAllStandardOutput()),
                               QString(process.readAllStandardError()));
    };

    auto [code, out, err] = run({"--help"}, "xcb");
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("Usage: korvex [FILE]\n")) << out.toStdString();
    std::tie(code, out, err) = run({"image.hex", "--version"}, "xcb");
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("korvex ")) << out.toStdString();

    // A wrong command line is told once the toolkit has taken its own options.
    std::tie(code, out, err) = run({"-style", "fusion", "--bogus"}, "offscreen");
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err, "korvex: unknown option '--bogus'\nTry 'korvex --help'.\n");
}

int main(int argc, char** argv) {
    TTestEnvironment environment;
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
