// The Preferences command of the main window: the dialog it opens and what the window does
// once the dialog is closed.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <string>

#include "Ebdata.h"
#include "MainFormHarness.h"
#include "Settings.h"
#include "Setupfrm.h"

namespace {

const char* const TwoTypes = "EB42;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
                             "EB63;8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000|";

void Store(const char* name, const char* value) {
    TSettingsKey key;
    ASSERT_TRUE(key.WriteString(name, value));
}

std::string Stored(const char* name) {
    TSettingsKey key;
    return key.ReadString(name)();
}

TSetupForm* AsSetupForm(QWidget* dialog) {
    auto* form = qobject_cast<TSetupForm*>(dialog);
    EXPECT_NE(form, nullptr);
    return form;
}

class MainfrmPrefsTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSettingsKey::ClearAll();
        Store("TypeDefs", TwoTypes);
        Store("LastType", "EB42");
        Window = std::make_unique<TMainFormHarness>(false);
        ASSERT_TRUE(Window->ShowForm());
    }
    void TearDown() override {
        Window.reset();
        TSettingsKey::ClearAll();
    }

    std::unique_ptr<TMainFormHarness> Window;
};

TEST_F(MainfrmPrefsTest, CancelKeepsANewTypeAndTheWindowSelectsTheNameShown) {
    bool opened = false;
    WhenModalShown([&](QWidget* dialog) {
        TSetupForm* form = AsSetupForm(dialog);
        if (!form)
            return;
        opened = true;
        form->AutoSpeedCB->setChecked(false);
        QTest::mouseClick(form->NewSB, Qt::LeftButton);
        QTest::keyClicks(form->DescCB->lineEdit(), "Bench");
        QTest::keyClicks(form->SectorsE, "4x64K");
        QTest::keyClicks(form->FlashStartE, "01000000");
        QTest::keyClicks(form->SramSizeE, "8000");
        QTest::mouseClick(form->SaveSB, Qt::LeftButton);
        QTest::mouseClick(form->CancelButton, Qt::LeftButton);
    });
    QTest::mouseClick(Window->Form().PrefTB, Qt::LeftButton);

    ASSERT_TRUE(opened);
    EXPECT_EQ(Window->Boxes().Count(), 0) << Window->Boxes().AllTexts();
    EXPECT_NE(Stored("TypeDefs").find("Bench;4x64K;;8000;01000000"), std::string::npos);
    // Cancel stored none of the dialog's own settings...
    EXPECT_EQ(Stored("LastType"), "EB42");
    EXPECT_FALSE(TSettingsKey().ValueExists("FlashAutoSpeed"));
    // ...but the window follows the type the dialog showed when it closed.
    EXPECT_EQ(Window->Form().StatusPanel(TMainForm::TypePanel)(), std::string("Bench"));
    ASSERT_NE(Window->Form().CurrentType, nullptr);
    EXPECT_EQ(Window->Form().CurrentType->GetSectorCount(), 4);
}

TEST_F(MainfrmPrefsTest, OkStoresTheSettingsAndTheConsoleTakesTheNewLook) {
    WhenModalShown([](QWidget* dialog) {
        TSetupForm* form = AsSetupForm(dialog);
        if (!form)
            return;
        WhenModalShown([](QWidget* picker) {
            auto* colors = qobject_cast<QColorDialog*>(picker);
            ASSERT_NE(colors, nullptr);
            colors->setCurrentColor(QColor(0x00, 0x00, 0x80));
            colors->accept();
        });
        QTest::mouseClick(form->BkgColSB, Qt::LeftButton);
        form->DescCB->setCurrentIndex(1);
        QTest::mouseClick(form->OkButton, Qt::LeftButton);
    });
    Window->Form().PrefTBClick();

    EXPECT_EQ(Stored("LastType"), "EB63");
    EXPECT_EQ(Stored("FlashAutoSpeed"), "1");
    EXPECT_EQ(Window->Form().Memo->palette().color(QPalette::Base), QColor(0x00, 0x00, 0x80));
    EXPECT_EQ(Window->Form().StatusPanel(TMainForm::TypePanel)(), std::string("EB63"));
}

} // namespace
