// The application object's guard: an error escaping a command handler is shown in a message box
// and the program goes on. The guard lives in the application object itself, so this program
// brings its own main() and creates that object instead of the plain one the other tests use.

#include "MainFormHarness.h"
#include "Mainfrm_Application.h"
#include "TestEnvironment.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

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

int main(int argc, char** argv) {
    TTestEnvironment environment;
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
