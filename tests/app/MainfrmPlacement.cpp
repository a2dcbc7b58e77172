// Where the main window comes back: kept inside a screen, and as it was when it was closed
// maximised.
#include "MainFormHarness.h"
#include "Mainfrm_Placement.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

const QPoint Design(126, 216);
const QRect Wide(0, 0, 1920, 1040);        // a full-HD screen less its task bar
const QRect Scaled(0, 0, 960, 520);        // the same screen at twice the scale
const QRect RightOfIt(1920, 0, 1280, 984); // a second screen beside the first

void Store(const char* name, const char* value) {
    ASSERT_TRUE(TSettingsKey().WriteString(name, value));
}

std::string Stored(const char* name) {
    return TSettingsKey().ReadString(name, "<missing>")();
}

} // namespace

TEST(WindowPlacement, KeptInsideTheScreenThatShowsMostOfIt) {
    const QMargins noFrame;
    const QMargins frame(4, 30, 4, 4);
    const struct {
        const char* Name;
        QRect Stored;
        QMargins Frame;
        std::vector<QRect> Screens;
        QRect Expected;
    } cases[] = {
        {"fits: unchanged", {100, 80, 788, 550}, frame, {Wide}, {100, 80, 788, 550}},
        {"stored at 1x, shown at 2x: shrunk to the screen",
         {100, 80, 1600, 1000},
         noFrame,
         {Scaled},
         {0, 0, 960, 520}},
        {"the frame counts: the status bar stays on the screen",
         {0, 0, 1920, 1040},
         frame,
         {Wide},
         {0, 0, 1912, 1006}},
        {"sticking out at the bottom right: moved in",
         {1500, 900, 640, 480},
         noFrame,
         {Wide},
         {1280, 560, 640, 480}},
        {"above and left of the screen: moved in",
         {-200, -100, 640, 480},
         frame,
         {Wide},
         {0, 0, 640, 480}},
        {"mostly on the second screen: kept there",
         {1800, 100, 800, 600},
         noFrame,
         {Wide, RightOfIt},
         {1920, 100, 800, 600}},
        {"too large for the second screen it lies on",
         {2000, 0, 1600, 1200},
         noFrame,
         {Wide, RightOfIt},
         {1920, 0, 1280, 984}},
        {"on no screen: the design position, on the screen there",
         {5000, 3000, 640, 480},
         noFrame,
         {RightOfIt, Wide},
         {126, 216, 640, 480}},
        {"a sliver on a screen is not enough to grab",
         {1900, 1020, 640, 480},
         noFrame,
         {Wide},
         {126, 216, 640, 480}},
        {"no screens known: unchanged",
         {5000, 3000, 640, 480},
         noFrame,
         {},
         {5000, 3000, 640, 480}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitWindowIntoScreens(c.Stored, c.Frame, c.Screens, Design), c.Expected) << c.Name;
}

TEST(WindowPlacement, AnOversizedStoredWindowFitsTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    TSettingsKey::ClearAll();
    const QByteArray stored =
        QByteArray::number(screen.x() + 10) + ";" + QByteArray::number(screen.y() + 20) + ";" +
        QByteArray::number(screen.width() * 2) + ";" + QByteArray::number(screen.height() * 2);
    Store("FormSize", stored.constData());
    TMainFormHarness window(false);
    ASSERT_TRUE(window.ShowForm());
    QTRY_VERIFY(screen.contains(window->frameGeometry()));
    EXPECT_TRUE(window->StatusBar->isVisible());
}

TEST(WindowPlacement, AWindowClosedMaximisedComesBackMaximisedOverItsNormalPlace) {
    TSettingsKey::ClearAll();
    Store("FormSize", "40;50;500;400");
    {
        TMainFormHarness window(false);
        ASSERT_TRUE(window.ShowForm());
        window->showMaximized();
        QTRY_VERIFY(window->isMaximized());
        window.CloseForm();
    }
    EXPECT_EQ(Stored("FormSize"), "40;50;500;400") << "the normal place, not the maximised one";
    EXPECT_EQ(Stored("FormMaximized"), "1");

    for (int restart = 0; restart < 2; ++restart) {
        TMainFormHarness window(false);
        EXPECT_TRUE(window->isMaximized()) << restart;
        ASSERT_TRUE(window.ShowForm());
        window->showNormal();
        QTRY_COMPARE(QRect(window->pos(), window->size()), QRect(40, 50, 500, 400));
        window->showMaximized();
        QTRY_VERIFY(window->isMaximized());
        window.CloseForm();
        EXPECT_EQ(Stored("FormSize"), "40;50;500;400") << "restart " << restart;
    }

    // Closed normal again: it starts normal, and older settings without the new value do too.
    {
        TMainFormHarness window(false);
        ASSERT_TRUE(window.ShowForm());
        window->showNormal();
        QTRY_COMPARE(QRect(window->pos(), window->size()), QRect(40, 50, 500, 400));
        window.CloseForm();
    }
    EXPECT_EQ(Stored("FormMaximized"), "0");
    EXPECT_FALSE(TMainFormHarness(false)->isMaximized());
    TSettingsKey().DeleteValue("FormMaximized");
    TMainFormHarness older(false);
    EXPECT_FALSE(older->isMaximized());
    EXPECT_EQ(QRect(older->pos(), older->size()), QRect(40, 50, 500, 400));
}
