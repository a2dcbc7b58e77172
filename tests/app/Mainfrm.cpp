// The main window: start-up and shut-down settings, the exit question, command availability and
// the console.

#include "AppGlobals.h"
#include "MainFormHarness.h"
#include "Settings.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

void StoreText(const char* name, const char* value) {
    TSettingsKey key;
    ASSERT_TRUE(key.WriteString(name, value));
}

TString StoredText(const char* name) {
    TSettingsKey key;
    return key.ValueExists(name) ? key.ReadString(name) : TString("<missing>");
}

std::vector<QToolButton*> ToolButtons(TMainForm& form) {
    return {form.OpenTB,   form.RefreshTB,     form.ClearTB, form.PrefTB,
            form.SramTB,   form.SynchTB,       form.ReadTB,  form.FlashTB,
            form.VerifyTB, form.EraseSectorTB, form.AboutTB, form.ExitTB};
}

std::vector<QAction*> FlashCommandItems(TMainForm& form) {
    return {form.ReadMenu, form.FlashWriteMenu, form.VerifyMenu, form.EraseSectorMenu};
}

std::vector<QToolButton*> FlashCommandButtons(TMainForm& form) {
    return {form.ReadTB, form.FlashTB, form.VerifyTB, form.EraseSectorTB, form.EraseAllTB};
}

} // namespace

TEST(MainFormStartUp, StoredFormSizeWithFourFieldsPlacesTheWindow) {
    TSettingsKey::ClearAll();
    StoreText("FormSize", "40;50;640;480");
    TMainFormHarness harness(false);
    EXPECT_EQ(harness->x(), 40);
    EXPECT_EQ(harness->y(), 50);
    EXPECT_EQ(harness->width(), 640);
    EXPECT_EQ(harness->height(), 480);
}

TEST(MainFormStartUp, StoredFormSizeWithOtherFieldCountsKeepsTheDesign) {
    for (const char* stored : {"10;20;300", "10;20;300;200;7", "", "garbage"}) {
        TSettingsKey::ClearAll();
        StoreText("FormSize", stored);
        TMainFormHarness harness(false);
        EXPECT_EQ(harness->geometry(), QRect(126, 216, 788, 550)) << "FormSize " << stored;
    }
}

TEST(MainFormStartUp, PositionOffEveryScreenKeepsTheDesignPositionButTheSize) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    char stored[64];
    snprintf(stored, sizeof stored, "%d;%d;640;480", screen.right() + 100, screen.top());
    TSettingsKey::ClearAll();
    StoreText("FormSize", stored);
    TMainFormHarness harness(false);
    EXPECT_EQ(harness->geometry(), QRect(126, 216, 640, 480)) << "FormSize " << stored;
}

TEST(MainFormStartUp, WindowStartsIdleWithNothingLoaded) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    EXPECT_EQ(form.windowTitle(), "EB40A SRAM/Flash Loader");
    EXPECT_EQ(form.FileImage.Length(), 0);
    EXPECT_FALSE(form.Refreshing);
    EXPECT_FALSE(form.CancelMenu->isVisible());
    EXPECT_TRUE(form.ProgressBar->isHidden());
    EXPECT_STREQ(form.StatusPanel(TMainForm::FilePanel)(), "File image not loaded");
    for (QAction* item : FlashCommandItems(form))
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    // Every built-in board type imports: a first start shows no box.
    EXPECT_EQ(harness.Boxes().Count(), 0) << harness.Boxes().AllTexts();
}

TEST(MainFormToolBar, EveryButtonHasItsHintAndEraseAllStaysHidden) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    const char* hints[] = {"Open file for upload",
                           "Refresh file image",
                           "Clear console window",
                           "Preferences",
                           "SRAM upload",
                           "Flash synchronize",
                           "Flash read",
                           "Flash program",
                           "Flash verify",
                           "Flash erase sector",
                           "About",
                           "Exit program"};
    std::vector<QToolButton*> buttons = ToolButtons(form);
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->toolTip().toStdString(), hints[i]);
        EXPECT_TRUE(buttons[i]->isVisible()) << hints[i];
        EXPECT_FALSE(buttons[i]->icon().pixmap(24).isNull()) << hints[i];
        // Drawn again at twice the size for screens with twice the pixel density.
        EXPECT_TRUE(buttons[i]->icon().availableSizes().contains(QSize(48, 48))) << hints[i];
    }
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(48, 48)));
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(256, 256)));
    EXPECT_EQ(form.OpenTB->popupMode(), QToolButton::MenuButtonPopup);
    EXPECT_EQ(form.OpenTB->menu(), form.OpenPopup);
    EXPECT_FALSE(form.EraseAllTB->isVisible());
    EXPECT_EQ(form.EraseAllTB->toolTip(), "Flash erase all");
}

TEST(MainFormCommands, FlashCommandsFollowEnableAndPortChange) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    form.PortCB->addItems({"COM1", "COM2"});
    form.PortCB->setCurrentIndex(0);

    form.EnableFlashCommands(true);
    for (QToolButton* button : FlashCommandButtons(form))
        EXPECT_TRUE(button->isEnabled());
    for (QAction* item : FlashCommandItems(form))
        EXPECT_TRUE(item->isEnabled());

    // Another port must be synchronised again first.
    form.PortCB->setCurrentIndex(1);
    for (QToolButton* button : FlashCommandButtons(form))
        EXPECT_FALSE(button->isEnabled()) << button->toolTip().toStdString();
    for (QAction* item : FlashCommandItems(form))
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
    EXPECT_FALSE(form.EraseAllTB->isVisible());
}

TEST(MainFormCommands, BusyLeavesOnlyCancelAndRestoresTheStateBefore) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    form.EnableFlashCommands(true);
    form.VerifyTB->setEnabled(false); // a state of its own that busy must not forget

    form.SetBusy(true);
    EXPECT_TRUE(form.CancelMenu->isVisible());
    EXPECT_TRUE(form.CancelMenu->isEnabled());
    for (QToolButton* button : ToolButtons(form))
        EXPECT_FALSE(button->isEnabled()) << button->toolTip().toStdString();
    EXPECT_FALSE(form.PortCB->isEnabled());
    for (QMenu* menu : {form.FileMenu, form.SramMenu, form.FlashMenu})
        EXPECT_FALSE(menu->menuAction()->isEnabled()) << menu->title().toStdString();

    // The short-cut keys of the disabled menus must not reach their commands either.
    QSignalSpy open(form.OpenMenu, &QAction::triggered);
    QSignalSpy upload(form.SramUploadMenu, &QAction::triggered);
    QSignalSpy read(form.ReadMenu, &QAction::triggered);
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClick(&form, Qt::Key_F2);
    QTest::keyClick(&form, Qt::Key_F4);
    EXPECT_EQ(open.count() + upload.count() + read.count(), 0);

    form.SetBusy(false);
    EXPECT_FALSE(form.CancelMenu->isVisible());
    EXPECT_TRUE(form.ReadTB->isEnabled());
    EXPECT_FALSE(form.VerifyTB->isEnabled());
    EXPECT_TRUE(form.PortCB->isEnabled());
    // F2 uploads, and without an image opens the Open dialog first, as Ctrl+O does: cancel both.
    WhenModalShown([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    QTest::keyClick(&form, Qt::Key_F2);
    ASSERT_TRUE(harness.ShowForm()); // active again after the dialog
    WhenModalShown([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(open.count(), 1);
    EXPECT_EQ(upload.count(), 1);
}

TEST(MainFormShutDown, CloseBoxAndExitButtonSaveWithoutAsking) {
    {
        TMainFormHarness harness;
        harness.CloseForm();
        EXPECT_EQ(harness.Boxes().Count(), 0);
        EXPECT_STREQ(StoredText("FormSize")(), "126;216;788;550");
    }
    {
        TMainFormHarness harness;
        harness.Boxes().Clear();
        harness->move(30, 40);
        harness->resize(700, 500);
        harness->ExitTB->click();
        EXPECT_EQ(harness.Boxes().Count(), 0);
        EXPECT_STREQ(StoredText("FormSize")(), "30;40;700;500");
    }
}

TEST(MainFormShutDown, ExitAsksAndSavesOnlyAfterYes) {
    TMainFormHarness harness;
    ASSERT_TRUE(harness.ShowForm());
    harness->Timer->stop(); // only the exit question is wanted here
    harness.Boxes().Clear();

    harness.Boxes().QueueAnswer(IDNO);
    harness->ExitMenuClick();
    ASSERT_EQ(harness.Boxes().Count(), 1);
    EXPECT_EQ(harness.Boxes().Last().Text, "Exit SRAM/Flash loader program?");
    EXPECT_EQ(harness.Boxes().Last().Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(harness->isVisible());
    EXPECT_STREQ(StoredText("FormSize")(), "<missing>");
}

TEST(MainFormShutDown, CtrlXExitsUnlessItCutsTextSelectedInThePortBox) {
    const struct {
        const char* Name;
        bool InPortBox;  // else the focus stays where the window put it at start
        bool Selected;   // the typed port name is selected
        const char* Cut; // what the port box keeps; null: Exit asked and was answered Yes
    } rows[] = {
        {"at start", false, false, nullptr},
        {"port box, nothing selected", true, false, nullptr},
        {"port box, text selected", true, true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TSettingsKey::ClearAll();
        TMainFormHarness harness;
        ASSERT_TRUE(harness.ShowForm());
        QLineEdit* edit = harness->PortCB->lineEdit();
        if (row.InPortBox) {
            edit->setFocus();
            QTest::keyClicks(edit, "rfc2217://host:4000");
            if (row.Selected)
                edit->selectAll();
        } else {
            EXPECT_EQ(QApplication::focusWidget(), harness->Memo);
        }
        harness.Boxes().QueueAnswer(IDYES);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::ControlModifier);
        EXPECT_EQ(harness.Boxes().Count(), row.Cut ? 0 : 1) << harness.Boxes().AllTexts();
        EXPECT_EQ(harness->isVisible(), row.Cut != nullptr);
        EXPECT_EQ(StoredText("FormSize") == TString("<missing>"), row.Cut != nullptr);
        if (row.Cut) {
            EXPECT_EQ(edit->text().toStdString(), row.Cut);
        }
    }
}

TEST(MainFormShutDown, CloseBoxWaitsWhileATransferRuns) {
    TMainFormHarness harness;
    ASSERT_TRUE(harness.ShowForm());
    harness->SetBusy(true);
    EXPECT_FALSE(harness->close());
    EXPECT_TRUE(harness->isVisible());
    EXPECT_STREQ(StoredText("FormSize")(), "<missing>");

    harness->SetBusy(false);
    EXPECT_TRUE(harness->close());
    EXPECT_STRNE(StoredText("FormSize")(), "<missing>");
}

TEST(MainFormShutDown, SavedSizeComesBackAfterRestart) {
    TMainFormHarness harness;
    harness->move(15, 25);
    harness->resize(610, 470);
    harness.Restart();
    EXPECT_EQ(harness->geometry(), QRect(15, 25, 610, 470));
}

TEST(MainFormConsole, ClearLeavesExactlyTheBanner) {
    BuildDate = "May 14 2002";
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    for (int i = 0; i < 20; ++i)
        form.ConsolePrintf("line %d", i);
    form.ClearTBClick();
    ASSERT_EQ(form.ConsoleLineCount(), 3);
    EXPECT_STREQ(form.ConsoleLine(0)(),
                 "Flash/SRAM loader for Atmel Eval. Boards, (Build: May 14 2002)");
    EXPECT_GE(form.ConsoleLine(1).Find("Quillmark"), 0);
    EXPECT_STREQ(form.ConsoleLine(2)(), std::string(62, '-').c_str());

    // The menu item does the same.
    form.ConsoleAdd("more");
    form.ClearConsoleMenu->trigger();
    EXPECT_EQ(form.ConsoleLineCount(), 3);
}

TEST(MainFormConsole, BatchOfLinesKeepsEachLineAndScrollsToTheEnd) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    std::vector<TString> dump;
    for (int i = 0; i < 400; ++i) {
        TString line;
        line.sprintf("0x%08X: %02X", i * 16, i & 0xFF);
        dump.push_back(line);
    }
    form.ConsoleAddLines(dump);
    form.ConsoleAdd(""); // an empty line stays a line of its own
    form.ScrollConsoleToEnd();
    ASSERT_EQ(form.ConsoleLineCount(), 3 + 400 + 1);
    EXPECT_STREQ(form.ConsoleLine(3 + 399)(), "0x000018F0: 8F");
    EXPECT_EQ(form.Memo->textCursor().position(), form.Memo->document()->characterCount() - 1);
    QScrollBar* scroll = form.Memo->verticalScrollBar();
    EXPECT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
}

TEST(MainFormConsole, LongTextsNeitherWidenTheWindowNorThePane) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    const int width = form.width();
    const std::string path = "/" + std::string(600, 'p') + "/image.hex";
    form.SetStatusPanel(TMainForm::FilePanel, path.c_str());
    form.ConsolePrintf("Loaded file %s", path.c_str());
    QTest::qWait(20);
    EXPECT_EQ(form.width(), width);
    EXPECT_LT(form.minimumSizeHint().width(), width);
    // Not wrapped, so that dumps keep their columns: the console scrolls sideways.
    EXPECT_GT(form.Memo->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(form.ConsoleLineCount(), 4);
}

TEST(MainFormConsole, ANewLineShowsAtTheLeftEdgeOfTheEnd) {
    const std::pair<const char*, std::function<void(TMainForm&)>> rows[] = {
        {"after a long line scrolled it sideways",
         [](TMainForm& form) {
             form.ConsoleAdd(std::string(2000, 'x').c_str());
             QScrollBar* sideways = form.Memo->horizontalScrollBar();
             sideways->setValue(sideways->maximum());
         }},
        {"after the board output pane opened below it",
         [](TMainForm& form) {
             form.BoardOutputMenuClick();
             QTest::qWait(50);
         }},
    };
    for (const auto& [name, before] : rows) {
        SCOPED_TRACE(name);
        TMainFormHarness harness;
        TMainForm& form = harness.Form();
        ASSERT_TRUE(harness.ShowForm());
        for (int i = 0; i < 300; ++i)
            form.ConsolePrintf("line %d", i);
        before(form);
        form.ConsoleAdd("next");
        QTest::qWait(20);
        EXPECT_TRUE(form.ConsoleAtEnd());
        EXPECT_EQ(form.Memo->horizontalScrollBar()->value(), 0);
    }
}

TEST(MainFormConsole, LookComesFromTheStoredValues) {
    TSettingsKey::ClearAll();
    {
        TMainFormHarness harness(false);
        const QPalette palette = harness->Memo->palette();
        EXPECT_EQ(palette.color(QPalette::Base), QColor(0, 0, 0));
        EXPECT_EQ(palette.color(QPalette::Text), QColor(255, 255, 255));
        EXPECT_EQ(harness->Memo->font().family(), "Courier New");
        EXPECT_EQ(harness->Memo->font().pointSize(), 11);
    }
    {
        TSettingsKey key;
        ASSERT_TRUE(key.WriteInteger("Background", 0x00FF8000)); // blue 0xFF, green 0x80
        ASSERT_TRUE(key.WriteString("Font", "DejaVu Sans Mono;14;255;bold;;UNDERLINE;;"));
    }
    TMainFormHarness harness(false);
    const QPalette palette = harness->Memo->palette();
    EXPECT_EQ(palette.color(QPalette::Base), QColor(0x00, 0x80, 0xFF));
    EXPECT_EQ(palette.color(QPalette::Text), QColor(255, 0, 0));
    const QFont font = harness->Memo->font();
    EXPECT_EQ(font.family(), "DejaVu Sans Mono");
    EXPECT_EQ(font.pointSize(), 14);
    EXPECT_TRUE(font.bold());
    EXPECT_FALSE(font.italic());
    EXPECT_TRUE(font.underline());
    EXPECT_FALSE(font.strikeOut());
}

TEST(MainFormConsole, ANewFontKeepsThePlaceInTheConsole) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    QScrollBar* bar = form.Memo->verticalScrollBar();
    const auto topLine = [&form] {
        return form.Memo->cursorForPosition(QPoint(0, 0)).blockNumber();
    };
    for (int i = 0; i < 300; ++i)
        form.ConsolePrintf("line %d", i);
    form.ScrollConsoleToEnd();
    ASSERT_GT(bar->maximum(), 0);

    // Following the end: it still does after the change, and goes on following.
    StoreText("Font", "DejaVu Sans Mono;16;16777215;;;;;");
    form.ApplyConsoleLook();
    EXPECT_EQ(bar->value(), bar->maximum());
    form.ConsoleAdd("one more");
    EXPECT_EQ(bar->value(), bar->maximum());

    // Reading further up: the same line stays at the top, and new lines do not move it.
    bar->setValue(bar->maximum() / 2);
    const int shown = topLine();
    ASSERT_GT(shown, 0);
    StoreText("Font", "DejaVu Sans Mono;9;16777215;;;;;");
    form.ApplyConsoleLook();
    EXPECT_EQ(topLine(), shown);
    form.ConsoleAdd("and another");
    EXPECT_EQ(topLine(), shown);
}

TEST(MainFormConsole, ShortFontValueKeepsToolkitDefaultsForTheRest) {
    TSettingsKey::ClearAll();
    StoreText("Font", "DejaVu Sans Mono");
    TConsoleFont font;
    TMainForm::ReadConsoleFont(font);
    EXPECT_EQ(font.Font.family(), "DejaVu Sans Mono");
    EXPECT_EQ(font.Font.pointSize(), QFont().pointSize());
    EXPECT_FALSE(font.Font.bold());

    // A size the toolkit cannot take is left at its default instead.
    StoreText("Font", "DejaVu Sans Mono;0;65280;Bold");
    TMainForm::ReadConsoleFont(font);
    EXPECT_EQ(font.Font.pointSize(), QFont().pointSize());
    EXPECT_EQ(font.Color, 65280);
    EXPECT_TRUE(font.Font.bold());
}

TEST(MainFormProgress, BarShowsTheTransferAndHidesAfterIt) {
    TMainFormHarness harness;
    TMainForm& form = harness.Form();
    ASSERT_TRUE(harness.ShowForm());
    form.ProgressStart(8000);
    EXPECT_TRUE(form.ProgressBar->isVisible());
    EXPECT_EQ(form.ProgressBar->maximum(), 8000);
    EXPECT_EQ(form.ProgressBar->value(), 0);
    form.ProgressSetPosition(4000);
    EXPECT_EQ(form.ProgressBar->value(), 4000);
    form.ProgressEnd();
    EXPECT_FALSE(form.ProgressBar->isVisible());

    // A second transfer starts from zero again, and an operation that fails half-way still
    // hides the bar and leaves the busy state.
    try {
        TBusyScope busy(form);
        TProgressScope progress(form, 80);
        EXPECT_EQ(form.ProgressBar->value(), 0);
        EXPECT_EQ(form.ProgressBar->maximum(), 80);
        progress.SetPosition(40);
        throw std::runtime_error("Out of memory");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(form.ProgressBar->isVisible());
    EXPECT_FALSE(form.CancelMenu->isVisible());
    EXPECT_TRUE(form.ToolBar->isEnabled());
}
