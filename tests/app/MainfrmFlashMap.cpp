// Programming in the window with the preference to skip unchanged sectors, and the flash map
// that shows the plan before and while it runs.
#include "BoardWindow.h"
#include "FlashLedger.h"
#include "FlashMap.h"
#include "Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QImage>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace boardtest;

namespace {

constexpr uint32_t Sector4 = 0x01008000;

std::vector<uint32_t> Erased(const TBoardSim& board) {
    std::vector<uint32_t> addresses;
    for (const TFrameRecord& frame : FramesOf(board.Frames(), TFrameKind::Erase))
        addresses.push_back(FrameAddress(frame));
    return addresses;
}

// The map's sectors as letters, in the order of TFlashMap::TState: '.' untouched, 't' to write,
// 's' skipped, 'W' written, 'e' erased, 'n' not written, 'F' erase failed.
std::string MapStates(const TFlashMap& map) {
    std::string letters;
    for (int i = 0; i < static_cast<int>(map.Plan().Sectors.size()); ++i)
        letters += ".tsWenF"[static_cast<int>(map.State(i))];
    return letters;
}

} // namespace

TEST(MainfrmFlashMap, SkipsUnchangedSectorsOnlyWhenThePreferenceSaysSo) {
    struct TCase {
        const char* Stored; // the preference as stored; null: never set
        std::vector<uint32_t> Erased;
        TSectorAction Sector3;
    };
    const TCase cases[] = {
        {nullptr, {Sector3, Sector4}, TSectorAction::Write},
        {"0", {Sector3, Sector4}, TSectorAction::Write},
        {"1", {}, TSectorAction::Skip},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Stored ? c.Stored : "unset");
        ASSERT_TRUE(QDir(LedgerFolder()).removeRecursively());
        TBoardWindow w;
        const TBytes image = Pattern(0x2000 + 100, 4); // sector 3 whole, sector 4 in part
        w.Load(image);
        ASSERT_TRUE(w.Synchronise());
        int marked = -2;
        AtProgress(
            w.Form(), [](int at) { return at == 80; },
            [&] { marked = w.Form().findChild<TFlashMap*>("FlashMap")->Current(); });
        w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 6000", ""});
        EXPECT_EQ(marked, 3) << "the sector being written is marked";
        if (c.Stored)
            ASSERT_TRUE(TSettingsKey().WriteString(SkipUnchangedSetting, c.Stored));

        w.Board.ClearFrames();
        w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 6000", ""});
        EXPECT_EQ(Erased(w.Board), c.Erased);
        // Nothing erased or written is announced when every sector is skipped.
        EXPECT_EQ(w.Report().contains("Flash erasing..."), !c.Erased.empty())
            << w.Report().join('|').toStdString();
        EXPECT_EQ(w.Board.ReadMemory(Sector3, image.size()), image);
        const TFlashMap* map = w.Form().findChild<TFlashMap*>("FlashMap");
        ASSERT_NE(map, nullptr);
        EXPECT_TRUE(w.Form().FlashMapDock->isVisibleTo(&w.Form()));
        EXPECT_EQ(map->Current(), -1);
        const std::vector<TSectorPlan>& sectors = map->Plan().Sectors;
        ASSERT_EQ(sectors.size(), 6u);
        EXPECT_EQ(sectors[3].Action, c.Sector3);
        EXPECT_EQ(sectors[4].Action, c.Sector3);
        EXPECT_EQ(sectors[5].Action, TSectorAction::Untouched);
        EXPECT_TRUE(sectors[0].Protected);
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlashMap, ADockOfTheWindowShowsWhatWasDoneOrNotDone) {
    void (TMainForm::*const flash)() = &TMainForm::FlashTBClick;
    void (TMainForm::*const erase)() = &TMainForm::EraseSectorTBClick;
    const std::string verifyFailed = TFlashMap::VerifyFailedNote;
    const std::string nothingChanged = TFlashMap::NothingChangedNote;
    const struct {
        const char* Name;
        const char* Fault; // on the board; null: none
        void (TMainForm::*Command)();
        const char* Typed;
        int Answer; // to the protected-sector question; 0: not asked
        const char* States;
        const std::string& Note;
    } rows[] = {
        {"programmed", nullptr, flash, "0100 6000", 0, "...WW.", ""},
        {"refused in sector 4", "D#103=flash:02", flash, "0100 6000", 0, "...Wn.", ""},
        {"first erase fails", "E#0=byte:4E", flash, "0100 6000", 0, "...F..", ""},
        {"second erase fails", "E#1=byte:4E", flash, "0100 6000", 0, "...nF.", ""},
        {"verify refused", "V=byte:4E", flash, "0100 6000", 0, "...WW.", verifyFailed},
        {"protected declined", nullptr, flash, "0100 2000", IDNO, "......", nothingChanged},
        {"sector 4 erased", nullptr, erase, "0100 8000", 0, "....e.", ""},
        {"sector 4 erase fails", "E#0=byte:4E", erase, "0100 8000", 0, "....F.", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TBoardConfig config = KitBoard();
        if (row.Fault)
            config.Faults = Faults({row.Fault});
        TBoardWindow w(config, ShortPauses());
        w.Load(Pattern(0x2000 + 100, 4)); // one sector whole, the next in part
        ASSERT_TRUE(w.Synchronise());
        if (row.Answer)
            w.Boxes().QueueAnswer(row.Answer);
        w.RunWithDialog(row.Command, {row.Typed, ""});
        const TFlashMap& map = *w.Form().FlashMap;
        EXPECT_EQ(MapStates(map), row.States) << w.Report().join('\n').toStdString();
        EXPECT_EQ(map.Note().toStdString(), row.Note);
        EXPECT_EQ(map.Current(), -1);
        EXPECT_EQ(map.CellText(0), "Sector 0: 0x01000000 to 0x01001FFF, untouched, protected");
        EXPECT_EQ(map.parentWidget(), w.Form().FlashMapDock);
        EXPECT_FALSE(w.Form().FlashMapDock->isFloating());
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlashMap, SaysThereIsNothingYetUntilAPlanAndAfterAChangeOfPortOrType) {
    const struct {
        const char* Name;
        std::function<void(TMainForm&)> Change;
    } rows[] = {
        {"another port",
         [](TMainForm& form) {
             form.PortCB->addItem("rfc2217://localhost:1", "rfc2217://localhost:1");
             form.PortCB->setCurrentIndex(form.PortCB->count() - 1);
         }},
        {"another type",
         [](TMainForm& form) {
             TSettingsKey key;
             const TString types = key.ReadString("TypeDefs");
             ASSERT_TRUE(
                 key.WriteString("TypeDefs", (types + "|Big;2x64K;0;0000 1000;0100 0000")()));
             form.SelectType("Big");
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TBoardWindow w;
        const TFlashMap& map = *w.Form().FlashMap;
        const auto expectNothingYet = [&] {
            EXPECT_TRUE(map.Plan().Sectors.empty());
            EXPECT_EQ(map.Note(), TFlashMap::NothingYetNote);
        };
        expectNothingYet();
        w.Load(Pattern(100));
        ASSERT_TRUE(w.Synchronise());
        w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 6000", ""});
        EXPECT_EQ(MapStates(map), "...W..");
        row.Change(w.Form());
        expectNothingYet();
    }
}

TEST(MainfrmFlashMap, TakesTheWidthOfItsLegendAndNeverMoreThanAThirdOfTheWindow) {
    for (const int width : {788, 600}) {
        SCOPED_TRACE(width);
        TBoardWindow w;
        TMainForm& form = w.Form();
        form.resize(width, 550);
        ASSERT_TRUE(w.Window->ShowForm());
        form.FlashMapMenu->trigger(); // before any plan
        QApplication::processEvents();
        ASSERT_TRUE(form.FlashMapDock->isVisible());
        const TFlashMap& map = *form.FlashMap;
        const int console = form.Memo->width();
        const auto expectModest = [&] {
            EXPECT_LE(form.FlashMapDock->width(), width / 3);
            // The legend's widest entry and all its rows are inside the map.
            EXPECT_GE(map.width(), map.minimumSizeHint().width());
            EXPECT_GE(map.height(), map.heightForWidth(map.width()));
            EXPECT_EQ(form.Memo->width(), console);
        };
        expectModest();
        w.Load(Pattern(0x2000 + 100));
        ASSERT_TRUE(w.Synchronise());
        w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 6000", ""});
        QApplication::processEvents();
        EXPECT_EQ(MapStates(map), "...WW.");
        expectModest();
    }
}

TEST(MainfrmFlashMap, DrawsWithThePalettesRolesAndScalesWithItsSize) {
    TFlashMap map(nullptr);
    TProgramPlan plan;
    plan.Sectors.resize(4);
    plan.Sectors[0].Action = TSectorAction::Write;
    plan.Sectors[1].Action = TSectorAction::Skip;
    map.SetPlan(plan);
    map.FinishProgramming(TBootMonitor::TProgramResult());
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark);
        QPalette palette;
        palette.setColor(QPalette::Base, dark ? QColor(30, 30, 30) : QColor(255, 255, 255));
        palette.setColor(QPalette::Highlight, dark ? QColor(40, 90, 200) : QColor(0, 120, 215));
        palette.setColor(QPalette::Mid, dark ? QColor(90, 90, 90) : QColor(160, 160, 160));
        map.setPalette(palette);
        for (const int width : {200, 400}) {
            map.resize(width, 80);
            const QImage picture = map.grab().toImage();
            // Cells share the width: the centre of each quarter lies in its sector's cell.
            const auto at = [&](int cell) {
                return picture.pixelColor(picture.width() * (2 * cell + 1) / 8, 10);
            };
            EXPECT_EQ(at(0), palette.color(QPalette::Highlight));
            EXPECT_EQ(at(1), palette.color(QPalette::Mid));
            EXPECT_EQ(at(2), palette.color(QPalette::Base));
        }
    }
}
