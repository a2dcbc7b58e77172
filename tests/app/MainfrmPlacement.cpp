// Where the main window comes back: kept inside a screen, and as it was when it was closed
// maximised.
#include "Eventually.h"
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
    const QMargins none;
    const QMargins frame(4, 30, 4, 4);
    const std::vector<QRect> one{Wide};
    const std::vector<QRect> two{Wide, RightOfIt};
    const struct {
        const char* Name;
        QRect Stored;
        QMargins Frame;
        std::vector<QRect> Screens;
        QRect Expected;
    } cases[] = {
        // clang-format off
        {"fits: unchanged",                  {100, 80, 788, 550},    frame, one,        {100, 80, 788, 550}},
        {"stored at 1x, shown at 2x",        {100, 80, 1600, 1000},  none,  {Scaled},   {0, 0, 960, 520}},
        {"the frame counts",                 {0, 0, 1920, 1040},     frame, one,        {0, 0, 1912, 1006}},
        {"sticking out: moved in",           {1500, 900, 640, 480},  none,  one,        {1280, 560, 640, 480}},
        {"mostly on the second screen",      {1800, 100, 800, 600},  none,  two,        {1920, 100, 800, 600}},
        {"too large for the second screen",  {2000, 0, 1600, 1200},  none,  two,        {1920, 0, 1280, 984}},
        {"on no screen: design position",    {5000, 3000, 640, 480}, none,  {RightOfIt, Wide}, {126, 216, 640, 480}},
        {"a sliver is not enough to grab",   {1900, 1020, 640, 480}, none,  one,        {126, 216, 640, 480}},
        // clang-format on
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
    EXPECT_EVENTUALLY(screen.contains(window->frameGeometry()));
    EXPECT_TRUE(window->StatusBar->isVisible());
}

TEST(WindowPlacement, AWindowClosedMaximisedComesBackMaximisedOverItsNormalPlace) {
    TSettingsKey::ClearAll();
    Store("FormSize", "40;50;500;400");
    {
        TMainFormHarness window(false);
        ASSERT_TRUE(window.ShowForm());
        window->showMaximized();
        EXPECT_EVENTUALLY(window->isMaximized());
        window.CloseForm();
    }
    EXPECT_EQ(Stored("FormSize"), "40;50;500;400") << "the normal place, not the maximised one";
    EXPECT_EQ(Stored("FormMaximized"), "1");

    for (int restart = 0; restart < 2; ++restart) {
        TMainFormHarness window(false);
        EXPECT_TRUE(window->isMaximized()) << restart;
        ASSERT_TRUE(window.ShowForm());
        window->showNormal();
        EXPECT_EVENTUALLY(QRect(window->pos(), window->size()) == QRect(40, 50, 500, 400));
        window->showMaximized();
        EXPECT_EVENTUALLY(window->isMaximized());
        window.CloseForm();
        EXPECT_EQ(Stored("FormSize"), "40;50;500;400") << "restart " << restart;
    }

    // Closed normal again it starts normal; so do settings of older versions, without the value.
    {
        TMainFormHarness window(false);
        ASSERT_TRUE(window.ShowForm());
        window->showNormal();
        EXPECT_EVENTUALLY(QRect(window->pos(), window->size()) == QRect(40, 50, 500, 400));
        window.CloseForm();
    }
    EXPECT_EQ(Stored("FormMaximized"), "0");
    TSettingsKey().DeleteValue("FormMaximized");
    TMainFormHarness older(false);
    EXPECT_FALSE(older->isMaximized());
    EXPECT_EQ(QRect(older->pos(), older->size()), QRect(40, 50, 500, 400));
}
