// The preferences dialog driven as a user drives it: typing, clicking and answering questions.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Ebdata.h"
#include "MainFormHarness.h"
#include "ProtectText.h"
#include "ScriptedMsgBox.h"
#include "Settings.h"
#include "Setupfrm.h"

namespace {

const char* const TwoTypes = "EB42;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
                             "EB63;8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000|";

std::string Stored(const char* name) {
    TSettingsKey key;
    return key.ReadString(name)();
}

void Store(const char* name, const char* value) {
    TSettingsKey key;
    ASSERT_TRUE(key.WriteString(name, value));
}

std::string Text(const QString& text) {
    return text.toStdString();
}

// Whether a field has the colour of an editable field rather than the button face.
bool LooksEditable(const QWidget* field) {
    const QColor base = field->palette().color(QPalette::Active, QPalette::Base);
    const QPalette standard = QApplication::palette(field);
    EXPECT_NE(standard.color(QPalette::Base), standard.color(QPalette::Button));
    return base == standard.color(QPalette::Active, QPalette::Base);
}

class SetupfrmTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSettingsKey::ClearAll();
        Store("TypeDefs", TwoTypes);
    }
    void TearDown() override {
        Form.reset();
        TSettingsKey::ClearAll();
    }

    TSetupForm& Open() {
        Form = std::make_unique<TSetupForm>(nullptr);
        Form->show();
        Form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        return *Form;
    }

    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    static void Type(QLineEdit* field, const char* text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    void FillEntry(const char* name, const char* sectors, const char* protect,
                   const char* flashStart, const char* sramSize) {
        Type(Form->DescCB->lineEdit(), name);
        Type(Form->SectorsE, sectors);
        Type(Form->ProtectE, protect);
        Type(Form->FlashStartE, flashStart);
        Type(Form->SramSizeE, sramSize);
    }

    TScriptedMsgBox Boxes;
    std::unique_ptr<TSetupForm> Form;
};

TEST_F(SetupfrmTest, OpensInBrowseOnTheStoredTypesWithTheirSections) {
    Store("LastType", "eb63");
    TSetupForm& form = Open();
    EXPECT_EQ(Text(form.windowTitle()), "Serial Port Preferences");
    ASSERT_EQ(form.DescCB->count(), 2);
    EXPECT_EQ(Text(form.DescCB->currentText()), "EB63");
    EXPECT_EQ(Text(form.SectorsE->text()), "8x32K,2x32K,30x64K");
    EXPECT_EQ(Text(form.ProtectE->text()), "0-7");
    EXPECT_EQ(Text(form.SramSizeE->text()), "0004 0000");
    EXPECT_EQ(Text(form.FlashStartE->text()), "0100 0000");
    EXPECT_FALSE(form.SectorsE->isEnabled());
    EXPECT_FALSE(form.DescCB->isEditable());
    EXPECT_FALSE(form.SaveSB->isEnabled());
    EXPECT_EQ(Text(form.DeleteSB->toolTip()), "Remove");

    // Picking the other name shows its sections.
    form.DescCB->setCurrentIndex(0);
    EXPECT_EQ(Text(form.ProtectE->text()), "0-8");
}

TEST_F(SetupfrmTest, SizeLabelFollowsTheSectorsFieldWhileTyping) {
    TSetupForm& form = Open();
    Click(form.NewSB);
    EXPECT_EQ(Text(form.SizeL->text()), "0K");
    QTest::keyClicks(form.SectorsE, "8x8K,2x32K,30x64K");
    EXPECT_EQ(Text(form.SizeL->text()), "2M");
    QTest::keyClick(form.SectorsE, Qt::Key_Backspace);
    EXPECT_EQ(Text(form.SizeL->text()), "0K");
    QTest::keyClick(form.SectorsE, Qt::Key_K);
    EXPECT_EQ(Text(form.SizeL->text()), "2M");
}

TEST_F(SetupfrmTest, ProtectedRangesFollowTheFieldsTheyDependOn) {
    TSetupForm& form = Open();
    const auto shown = [&form] {
        return ProtectedRangesText(Text(form.SectorsE->text()).c_str(),
                                   Text(form.ProtectE->text()).c_str(),
                                   Text(form.FlashStartE->text()).c_str());
    };
    // The stored type is shown with what it protects.
    EXPECT_FALSE(shown().empty());
    EXPECT_EQ(Text(form.ProtectedL->text()), shown());
    Click(form.NewSB);
    FillEntry("Demo", "8x32K", "0-4", "0100 0000", "");
    EXPECT_EQ(Text(form.ProtectedL->text()), ProtectedRangesText("8x32K", "0-4", "01000000"));
    QTest::keyClick(form.ProtectE, Qt::Key_Backspace);
    EXPECT_EQ(Text(form.ProtectedL->text()), ProtectedRangesText("8x32K", "0-", "01000000"));
    Type(form.FlashStartE, "0200 0000");
    Type(form.ProtectE, "1");
    EXPECT_EQ(Text(form.ProtectedL->text()), ProtectedRangesText("8x32K", "1", "02000000"));
}

TEST_F(SetupfrmTest, NewTypeIsStoredCleanedUpperCasedWithABlankSramSizeAndSelected) {
    TSetupForm& form = Open();
    Click(form.NewSB);
    EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::New);
    EXPECT_EQ(Text(form.DeleteSB->toolTip()), "Cancel new");
    EXPECT_TRUE(form.DescCB->isEditable());
    EXPECT_TRUE(form.DescCB->currentText().isEmpty());
    EXPECT_EQ(Text(form.SectorsE->toolTip()),
              "Valid format: <number>x<size><B|K>\nExample: 8x8K,2x32K,30x64K");
    for (const QWidget* field : {form.SectorsE, form.ProtectE, form.FlashStartE, form.SramSizeE})
        EXPECT_TRUE(LooksEditable(field)) << Text(field->objectName());

    FillEntry(" My Board ", "8 x 8K", "0;", "0100 0a00", "");
    Click(form.SaveSB);

    EXPECT_EQ(Boxes.Count(), 0) << Boxes.AllTexts();
    EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::Browse);
    const std::string typeDefs = Stored("TypeDefs");
    EXPECT_EQ(typeDefs.rfind(TwoTypes, 0), 0u) << typeDefs;
    EXPECT_EQ(typeDefs.substr(typeDefs.size() - 25), "|MyBoard;8x8K;0;;01000A00") << typeDefs;
    ASSERT_EQ(form.DescCB->count(), 3);
    EXPECT_EQ(Text(form.DescCB->currentText()), "MyBoard");
    EXPECT_EQ(Text(form.SectorsE->text()), "8x8K");
    EXPECT_EQ(Text(form.SramSizeE->text()), "");
    EXPECT_FALSE(form.SaveSB->isEnabled());
    EXPECT_TRUE(form.OkButton->isEnabled());
    EXPECT_FALSE(LooksEditable(form.SectorsE));
    EXPECT_TRUE(form.SectorsE->toolTip().isEmpty());
}

TEST_F(SetupfrmTest, QuotesInTypedTextCannotHideStoredTypes) {
    TSetupForm& form = Open();
    Click(form.NewSB);
    FillEntry("Rev \"B", "8x8K", "0", "0100 0000", "8000");
    Click(form.SaveSB);
    Click(form.NewSB);
    FillEntry("Next", "1x8K", "", "0200 0000", "");
    Click(form.SaveSB);
    EXPECT_EQ(Boxes.Count(), 0) << Boxes.AllTexts();

    // Every type saved is there for the next reader of the list, with its sections.
    TSettingsKey key;
    std::vector<TString> names;
    ListTypeNames(key, &names);
    std::string listed;
    for (const TString& name : names)
        listed += std::string(name()) + ",";
    EXPECT_EQ(listed, "EB42,EB63,RevB,Next,");
    EXPECT_EQ(std::string(ReadTypeSections(key, "RevB").SramSize()), "8000");
}

TEST_F(SetupfrmTest, EachRefusalNamesTheProblemAndFocusesItsField) {
    const struct {
        const char* Name;
        const char* Sectors;
        const char* Protect;
        const char* FlashStart;
        const char* SramSize;
        const char* Message;
        const char* Focus;
    } cases[] = {
        {" ; ", "8x8K", "", "0100 0000", "", "Description can't be blank.", "DescCB"},
        {"eb63", "8x8K", "", "0100 0000", "", "Description with this name already exists.",
         "DescCB"},
        {"Demo", "", "", "0100 0000", "",
         "If Flash sectors is blank, then Protect sectors and Flash start must be blank.",
         "FlashStartE"},
        {"Demo", "", "0", "0100 0000", "",
         "If Flash sectors is blank, then Protect sectors and Flash start must be blank.",
         "ProtectE"},
        {"Demo", "8x8K", "", "", "", "Flash start address must not be blank.", "FlashStartE"},
        {"Demo", "8X8K", "", "0100 0000", "", "Invalid data in sector description.", "SectorsE"},
        {"Demo", "8x8K", "8", "0100 0000", "", "Invalid protected sector numbers.", "ProtectE"},
        {"Demo", "8x8K", "", "0X100", "", "Invalid hex format: flash start address.",
         "FlashStartE"},
        {"Demo", "8x8K", "", "0100 0000", "3G", "Invalid hex format: SRAM size.", "SramSizeE"},
        {"Demo", "8x8K", "", "0100 0000", "FFFF FFFF", "SRAM size must be below 8000 0000.",
         "SramSizeE"},
        {"Demo", "8x8K", "", "7FFF 8000", "",
         "The flash area must not reach across 8000 0000 or past FFFF FFFF.", "FlashStartE"},
    };
    TSetupForm& form = Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Message);
        Click(form.NewSB);
        FillEntry(c.Name, c.Sectors, c.Protect, c.FlashStart, c.SramSize);
        Boxes.Clear();
        Click(form.SaveSB);
        ASSERT_EQ(Boxes.Count(), 1);
        EXPECT_EQ(Boxes.Last().Flags, 0);
        EXPECT_EQ(Boxes.Last().Text.rfind(c.Message, 0), 0u) << Boxes.Last().Text;
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        const QWidget* expected = form.findChild<QWidget*>(c.Focus);
        EXPECT_TRUE(focus == expected || expected->isAncestorOf(focus))
            << "focus on " << Text(focus->objectName());
        // Nothing changes: the mode, the typed texts and the store stay.
        EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::New);
        EXPECT_EQ(Text(form.SectorsE->text()), c.Sectors);
        EXPECT_EQ(Stored("TypeDefs"), TwoTypes);
        Click(form.DeleteSB);
        EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::Browse);
    }
}

TEST_F(SetupfrmTest, EditingReplacesTheEntryItBeganWithEvenWhenRenamed) {
    TSetupForm& form = Open();
    form.DescCB->setCurrentIndex(0);
    Click(form.EditSB);
    EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::Edit);
    EXPECT_EQ(Text(form.DeleteSB->toolTip()), "Cancel edit");
    EXPECT_EQ(Text(form.DescCB->currentText()), "EB42");
    EXPECT_TRUE(form.SectorsE->hasFocus());

    // Renaming onto another stored type would hide one of them.
    Type(form.DescCB->lineEdit(), "eb63");
    Click(form.SaveSB);
    ASSERT_EQ(Boxes.Count(), 1);
    EXPECT_EQ(Boxes.Last().Text, "Description with this name already exists.");

    Type(form.DescCB->lineEdit(), "EB42 rev B");
    Type(form.ProtectE, "0-4");
    Click(form.SaveSB);
    EXPECT_EQ(Boxes.Count(), 1) << Boxes.AllTexts();
    EXPECT_EQ(Stored("TypeDefs"), "EB42revB;8x32K,2x32K,30x64K;0-4;00040000;01000000|"
                                  "EB63;8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000");
    ASSERT_EQ(form.DescCB->count(), 2);
    EXPECT_EQ(Text(form.DescCB->itemText(0)), "EB42revB");
    EXPECT_EQ(Text(form.DescCB->currentText()), "EB42revB");
    EXPECT_EQ(Text(form.ProtectE->text()), "0-4");
}

TEST_F(SetupfrmTest, CancellingAnEditRestoresTheStoredSections) {
    TSetupForm& form = Open();
    const QString shown = form.DescCB->currentText();
    Click(form.EditSB);
    Type(form.DescCB->lineEdit(), "Other");
    Type(form.SectorsE, "1x8K");
    Click(form.DeleteSB);
    EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::Browse);
    EXPECT_EQ(form.DescCB->currentText(), shown);
    EXPECT_EQ(Text(form.SectorsE->text()), "8x32K,2x32K,30x64K");
    EXPECT_EQ(Stored("TypeDefs"), TwoTypes);
    EXPECT_TRUE(form.NewSB->isEnabled());
    EXPECT_TRUE(form.EditSB->isEnabled());
}

TEST_F(SetupfrmTest, RemovingAsksAndRemovingTheLastTypeLeavesOnlyNew) {
    Store("TypeDefs", "A;1x8K;;;0100|a;2x8K;;;0100|B;2x8K;;0100;0100|");
    TSetupForm& form = Open();
    ASSERT_EQ(form.DescCB->count(), 3);

    Boxes.QueueAnswer(IDNO);
    Click(form.DeleteSB);
    ASSERT_EQ(Boxes.Count(), 1);
    EXPECT_EQ(Boxes.Last().Text, "Remove A from the list?");
    EXPECT_EQ(Boxes.Last().Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(form.DescCB->count(), 3);

    Boxes.QueueAnswers({IDYES, IDYES});
    Click(form.DeleteSB);
    EXPECT_EQ(Stored("TypeDefs"), "B;2x8K;;0100;0100");
    ASSERT_EQ(form.DescCB->count(), 1);
    Click(form.DeleteSB);
    EXPECT_EQ(Stored("TypeDefs"), "");
    EXPECT_EQ(form.DescCB->count(), 0);
    EXPECT_FALSE(form.EditSB->isEnabled());
    EXPECT_FALSE(form.DeleteSB->isEnabled());
    EXPECT_TRUE(form.NewSB->isEnabled());
    EXPECT_TRUE(form.SectorsE->text().isEmpty());
}

TEST_F(SetupfrmTest, AStoreThatCannotBeWrittenIsReportedAndTheEditorKeepsItsWork) {
    TSetupForm& form = Open();
    // A plain file where the store's folder belongs: nothing can be written there, even by root.
    const QString folder =
        QFileInfo(QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillmark", "eb40a")
                      .fileName())
            .absolutePath();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::unique_ptr<QFile, bool (*)(QFile*)> unblock(
        &blocker, [](QFile* file) { return file->remove(); });

    Click(form.NewSB);
    FillEntry("Demo", "8x8K", "", "0100 0000", "");
    Click(form.SaveSB);
    ASSERT_EQ(Boxes.Count(), 1);
    EXPECT_EQ(Boxes.Last().Text, "Unable to open registry key for writing.");
    EXPECT_EQ(Boxes.Last().Flags, MB_ICONEXCLAMATION);
    EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::New);
    EXPECT_EQ(Text(form.DescCB->currentText()), "Demo");
    EXPECT_EQ(form.DescCB->count(), 2);
    Click(form.DeleteSB);

    Boxes.QueueAnswer(IDYES);
    Click(form.DeleteSB);
    EXPECT_EQ(Boxes.Last().Text, "Unable to open registry key for update.");
    EXPECT_EQ(form.DescCB->count(), 2);

    // OK closes all the same, without a word.
    Boxes.Clear();
    Click(form.OkButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Boxes.Count(), 0) << Boxes.AllTexts();
}

TEST_F(SetupfrmTest, LoadDefaultsAsksFirstThenReplacesTheList) {
    TSetupForm& form = Open();
    Boxes.QueueAnswer(IDNO);
    Click(form.LoadDefSB);
    ASSERT_EQ(Boxes.Count(), 1);
    EXPECT_EQ(Boxes.Last().Text, "Overwrite existing settings with default values?");
    EXPECT_EQ(Boxes.Last().Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(Stored("TypeDefs"), TwoTypes);

    Boxes.QueueAnswer(IDYES);
    Click(form.LoadDefSB);
    EXPECT_NE(Stored("TypeDefs"), TwoTypes);
    QStringList names;
    for (int index = 0; index < form.DescCB->count(); ++index)
        names << form.DescCB->itemText(index);
    EXPECT_TRUE(names.contains("EB40A")) << Text(names.join(","));
}

TEST_F(SetupfrmTest, EditorLocksOkAndCancelAndClosingAsksBeforeDiscarding) {
    TSetupForm& form = Open();
    Click(form.NewSB);
    EXPECT_FALSE(form.OkButton->isEnabled());
    EXPECT_FALSE(form.CancelButton->isEnabled());
    EXPECT_FALSE(form.NewSB->isEnabled());
    FillEntry("Demo", "8x8K", "", "0100 0000", "");

    // Escape and the close box ask the same question; No keeps the entry being edited.
    const std::function<void()> closeWays[] = {[&form] { QTest::keyClick(&form, Qt::Key_Escape); },
                                               [&form] { form.close(); }};
    for (const auto& closeWay : closeWays) {
        Boxes.Clear();
        Boxes.QueueAnswer(IDNO);
        closeWay();
        ASSERT_EQ(Boxes.Count(), 1);
        EXPECT_EQ(Boxes.Last().Text, "Flash data not saved. Discard changes?");
        EXPECT_EQ(Boxes.Last().Flags, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(form.Mode(), TSetupForm::TEditMode::New);
        EXPECT_EQ(Text(form.DescCB->currentText()), "Demo");
    }

    Boxes.QueueAnswer(IDYES);
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Stored("TypeDefs"), TwoTypes);
    EXPECT_EQ(Stored("LastType"), "");
}

TEST_F(SetupfrmTest, StoredSpeedsOutOfRangeShowTheFastestSpeed) {
    Store("FlashAutoSpeed", "0");
    Store("FlashMaxSpeed", "9");
    Store("SramMaxSpeed", "3");
    TSetupForm& form = Open();
    EXPECT_FALSE(form.AutoSpeedCB->isChecked());
    EXPECT_TRUE(form.FlashSpeedCB->isEnabled());
    EXPECT_EQ(Text(form.FlashSpeedCB->currentText()), "115200");
    EXPECT_EQ(Text(form.SramSpeedCB->currentText()), "19200");
    ASSERT_EQ(form.FlashSpeedCB->count(), 8);
    EXPECT_EQ(Text(form.FlashSpeedCB->itemText(7)), "1200");

    EXPECT_TRUE(LooksEditable(form.FlashSpeedCB));
    Click(form.AutoSpeedCB);
    EXPECT_FALSE(LooksEditable(form.FlashSpeedCB));
    EXPECT_FALSE(form.FlashSpeedCB->isEnabled());
    EXPECT_FALSE(form.SpeedL1->isEnabled());
    EXPECT_TRUE(form.SramSpeedCB->isEnabled());
}

TEST_F(SetupfrmTest, OkStoresSpeedsLookAndTypeWhileCancelStoresNothing) {
    Store("Font", "Lucida Console;10");
    Store("LastType", "EB42");
    {
        TSetupForm& form = Open();
        EXPECT_EQ(Text(form.PanelFont().family()), "Lucida Console");
        EXPECT_EQ(form.PanelFont().pointSize(), 10);
        Click(form.AutoSpeedCB);
        form.FlashSpeedCB->setCurrentIndex(4);
        form.SramSpeedCB->setCurrentIndex(2);
        form.DescCB->setCurrentIndex(1);
        Click(form.CancelButton);
        EXPECT_EQ(form.result(), QDialog::Rejected);
    }
    EXPECT_EQ(Stored("FlashMaxSpeed"), "");
    EXPECT_EQ(Stored("Font"), "Lucida Console;10");
    EXPECT_EQ(Stored("LastType"), "EB42");

    TSetupForm& form = Open();
    Click(form.AutoSpeedCB);
    form.FlashSpeedCB->setCurrentIndex(4);
    form.SramSpeedCB->setCurrentIndex(2);
    form.DescCB->setCurrentIndex(1);
    Click(form.OkButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Stored("FlashAutoSpeed"), "0");
    EXPECT_EQ(Stored("FlashMaxSpeed"), "4");
    EXPECT_EQ(Stored("SramMaxSpeed"), "2");
    EXPECT_EQ(Stored("LastType"), "EB63");
    // Only name and size came from the stored value; the rest is a new font's own.
    const std::string font = Stored("Font");
    EXPECT_EQ(font.rfind("Lucida Console;10;", 0), 0u) << font;
    EXPECT_EQ(font.substr(font.size() - 5), ";;;;;") << font;
    TSettingsKey key;
    EXPECT_EQ(key.ReadInteger("Background", -1), 0);
}

// As some platforms do, gives a label the application's colours when it is first shown.
class TPaletteOnShow : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            static_cast<QWidget*>(watched)->setPalette(QApplication::palette());
        return false;
    }
};

TEST_F(SetupfrmTest, TheFontPickerDrawsItsSampleOnTheConsoleColourFromTheStart) {
    // The defaults: white text on black.
    TSetupForm& form = Open();
    TPaletteOnShow platform;
    form.FontDialog->SampleL->installEventFilter(&platform);
    QColor background;
    QColor text;
    WhenModalShown([&](QWidget* modal) {
        auto* picker = qobject_cast<TFontPicker*>(modal);
        ASSERT_NE(picker, nullptr);
        const QImage sample = picker->SampleL->grab().toImage();
        background = sample.pixelColor(6, 6); // inside the frame, away from the text
        // The brightest pixel is the text's.
        for (int y = 0; y < sample.height(); ++y)
            for (int x = 4; x < sample.width() - 4; ++x)
                if (!text.isValid() || sample.pixelColor(x, y).lightness() > text.lightness())
                    text = sample.pixelColor(x, y);
        picker->reject();
    });
    Click(form.FontSB);
    form.FontDialog->SampleL->removeEventFilter(&platform);
    EXPECT_EQ(background, QColor(Qt::black));
    EXPECT_EQ(text, QColor(Qt::white));
}

TEST_F(SetupfrmTest, PickedColourAndFontArePreviewedAndStoredOnOk) {
    Store("Font", "Courier New;30;16777215;;Italic;;;");
    TSetupForm& form = Open();
    WhenModalShown([](QWidget* modal) {
        auto* picker = qobject_cast<QColorDialog*>(modal);
        ASSERT_NE(picker, nullptr);
        picker->setCurrentColor(QColor(0x12, 0x34, 0x56));
        picker->accept();
    });
    Click(form.BkgColSB);
    EXPECT_EQ(form.PanelBackground(), QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(form.FontPanel->palette().color(QPalette::Window), QColor(0x12, 0x34, 0x56));

    // The picker offers sizes 6 to 24 only; confirming it unchanged keeps the style and colour
    // and brings the size within the limits.
    WhenModalShown([](QWidget* modal) {
        auto* picker = qobject_cast<TFontPicker*>(modal);
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(Text(picker->SizeCB->itemText(0)), "6");
        EXPECT_EQ(Text(picker->SizeCB->itemText(picker->SizeCB->count() - 1)), "24");
        picker->accept();
    });
    Click(form.FontSB);
    EXPECT_TRUE(form.PanelFont().italic());
    EXPECT_FALSE(form.PanelFont().bold());
    EXPECT_EQ(form.PanelFont().pointSize(), 24);
    EXPECT_EQ(form.PanelTextColor(), QColor(Qt::white));

    WhenModalShown([](QWidget* modal) {
        auto* picker = qobject_cast<TFontPicker*>(modal);
        ASSERT_NE(picker, nullptr);
        picker->StyleCB->setCurrentIndex(picker->StyleCB->findText("Bold"));
        picker->SizeCB->setCurrentIndex(picker->SizeCB->findText("9"));
        picker->StrikeOutCB->setChecked(true);
        picker->ColorCB->setCurrentIndex(picker->ColorCB->findText("Yellow"));
        picker->accept();
    });
    Click(form.FontSB);
    EXPECT_EQ(form.PanelFont().pointSize(), 9);
    EXPECT_EQ(form.PanelTextColor(), QColor(0xFF, 0xFF, 0x00));
    EXPECT_FALSE(TSettingsKey().ValueExists("Background"));

    Click(form.OkButton);
    TSettingsKey key;
    EXPECT_EQ(key.ReadInteger("Background", -1), 0x563412);
    const std::string font = Stored("Font");
    EXPECT_NE(font.find(";9;65535;Bold;;;StrikeOut;"), std::string::npos) << font;
}

} // namespace
