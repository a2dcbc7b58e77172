// The address / length dialog driven as a user drives it: typing, OK, Enter and Escape.
#include "Addressfrm.h"
#include "ScriptedMsgBox.h"
#include "Settings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const char* const HexRequired = "A valid hexadecimal value is required.";
const char* const EndNotAfterStart = "End address must be greater than start address.";

class AddressFormTest : public ::testing::Test {
protected:
    void SetUp() override { TSettingsKey::ClearAll(); }
    void TearDown() override { TSettingsKey::ClearAll(); }

    static void Store(const char* start, const char* end, const char* length) {
        TSettingsKey key;
        key.WriteString("ProgReadStartAddr", start);
        key.WriteString("ProgReadEndAddr", end);
        key.WriteString("ProgReadLength", length);
    }
    static std::string Stored(const char* name) {
        return TSettingsKey().ReadString(name, "<missing>")();
    }

    // Creates the dialog and shows it (not modally, so the test can type into it).
    std::unique_ptr<TAddressForm> Open(bool addressOnly = false, int proposed = -1) {
        auto form = std::make_unique<TAddressForm>(nullptr);
        form->AddressOnly = addressOnly;
        form->StartAddress = proposed;
        form->show();
        QApplication::setActiveWindow(form.get());
        return form;
    }
    static void Type(QLineEdit* field, const char* text) {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
    static bool Accepted(const TAddressForm& form) {
        return !form.isVisible() && form.result() == QDialog::Accepted;
    }

    TScriptedMsgBox FBoxes;
};

} // namespace

TEST_F(AddressFormTest, StartAndEndAddressGiveTheLength) {
    auto form = Open();
    EXPECT_EQ(form->windowTitle(), "Address / Length Selection");
    EXPECT_EQ(form->height(), 250);
    Type(form->StartE, "0100 0000");
    Type(form->EndE, "0100 1000");
    EXPECT_FALSE(form->LenE->isEnabled());
    QTest::mouseClick(form->OkButton, Qt::LeftButton);

    ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
    EXPECT_EQ(form->StartAddress, 0x01000000);
    EXPECT_EQ(form->DataLength, 0x1000);
    EXPECT_EQ(FBoxes.Count(), 0);
    EXPECT_EQ(Stored("ProgReadStartAddr"), "0100 0000");
    EXPECT_EQ(Stored("ProgReadEndAddr"), "0100 1000");
    EXPECT_EQ(Stored("ProgReadLength"), "");
}

TEST_F(AddressFormTest, ALengthInsteadOfAnEndAddress) {
    auto form = Open();
    Type(form->StartE, "011e 0000"); // the fields upper-case what is typed
    EXPECT_EQ(form->StartE->text(), "011E 0000");
    Type(form->LenE, "80");
    EXPECT_FALSE(form->EndE->isEnabled());
    Type(form->LenE, "");
    EXPECT_TRUE(form->EndE->isEnabled());
    Type(form->LenE, "8 0");
    QTest::mouseClick(form->OkButton, Qt::LeftButton);

    ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
    EXPECT_EQ(form->StartAddress, 0x011E0000);
    EXPECT_EQ(form->DataLength, 128);
    EXPECT_EQ(Stored("ProgReadStartAddr"), "011E 0000");
    EXPECT_EQ(Stored("ProgReadEndAddr"), "");
    EXPECT_EQ(Stored("ProgReadLength"), "8 0");
}

TEST_F(AddressFormTest, ALengthOfZeroIsAccepted) {
    auto form = Open();
    Type(form->StartE, "00 0000 0400"); // leading zeros are no significant digits
    Type(form->LenE, "0");
    QTest::mouseClick(form->OkButton, Qt::LeftButton);
    ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
    EXPECT_EQ(form->StartAddress, 0x400);
    EXPECT_EQ(form->DataLength, 0);
}

TEST_F(AddressFormTest, InvalidInputKeepsTheDialogOpenOnTheOffendingField) {
    struct TCase {
        const char* Start;
        const char* End;
        const char* Length;
        const char* Message;
        int Field; // 0 start, 1 end, 2 length
    };
    const TCase cases[] = {
        {"0x100", "", "10", HexRequired, 0},
        {"01.00", "", "10", HexRequired, 0},
        {"", "200", "", HexRequired, 0},
        {"   ", "200", "", HexRequired, 0},
        {"100", "", "", HexRequired, 1}, // neither end nor length: the end field is in use
        {"100", "2-00", "", HexRequired, 1},
        {"100", "100", "", EndNotAfterStart, 1},
        {"200", "1FF", "", EndNotAfterStart, 1},
        {"100", "", "G", HexRequired, 2},
        // below the start once the addresses are read as the unsigned ones the user typed
        {"8000 0000", "10", "", EndNotAfterStart, 1},
        // more than eight significant digits would otherwise be cut to another address
        {"1 0104 8000", "", "10", HexRequired, 0},
        {"100", "1 0000 0000", "", HexRequired, 1},
        {"100", "", "10 0001 0000", HexRequired, 2},
    };
    for (const TCase& c : cases) {
        Store("stored", "", "");
        FBoxes.Clear();
        auto form = Open();
        Type(form->StartE, c.Start);
        Type(form->EndE, c.End);
        Type(form->LenE, c.Length);
        QTest::mouseClick(form->OkButton, Qt::LeftButton);

        QLineEdit* fields[] = {form->StartE, form->EndE, form->LenE};
        EXPECT_TRUE(form->isVisible()) << c.Start << "/" << c.End << "/" << c.Length;
        ASSERT_EQ(FBoxes.Count(), 1) << c.Start << "/" << c.End << "/" << c.Length;
        EXPECT_EQ(FBoxes.Last().Text, c.Message) << c.Start << "/" << c.End;
        EXPECT_EQ(FBoxes.Last().Flags, MB_OK);
        EXPECT_EQ(form->focusWidget(), fields[c.Field]) << c.Start << "/" << c.End;
        EXPECT_EQ(Stored("ProgReadStartAddr"), "stored");
        form->reject();
    }
}

TEST_F(AddressFormTest, TheLoadedImagesLengthIsProposedOnlyForEmptyFields) {
    struct TCase {
        const char* End; // stored texts
        const char* Length;
        int64_t Proposed;
        bool AddressOnly;
        const char* ShownLength;
    } cases[] = {
        {"", "", 0x1234, false, "00001234"},  {"", "80", 0x1234, false, "80"},
        {"0100 1000", "", 0x1234, false, ""}, {"", "", 0, false, ""},
        {"", "", 0x1234, true, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.End) + "/" + c.Length);
        Store("0100 0000", c.End, c.Length);
        auto form = std::make_unique<TAddressForm>(nullptr);
        form->AddressOnly = c.AddressOnly;
        form->ProposedLength = c.Proposed;
        form->show();
        EXPECT_EQ(form->LenE->text(), c.ShownLength);
        EXPECT_EQ(form->EndE->isEnabled(), QString(c.ShownLength).isEmpty());
        if (!c.AddressOnly && c.Proposed && !*c.End && !*c.Length) {
            QTest::mouseClick(form->OkButton, Qt::LeftButton);
            ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
            EXPECT_EQ(form->DataLength, c.Proposed);
        }
    }
}

TEST_F(AddressFormTest, StoredTextsAreProposed) {
    Store("0100 0000", "0100 1000", "");
    {
        auto form = Open();
        EXPECT_EQ(form->StartE->text(), "0100 0000");
        EXPECT_EQ(form->EndE->text(), "0100 1000");
        EXPECT_TRUE(form->EndE->isEnabled());
        EXPECT_FALSE(form->LenE->isEnabled());
    }
    // A stored length wins over a stored end address.
    Store("0100 0000", "0100 1000", "80");
    auto form = Open();
    EXPECT_EQ(form->EndE->text(), "");
    EXPECT_FALSE(form->EndE->isEnabled());
    EXPECT_EQ(form->LenE->text(), "80");
    EXPECT_TRUE(form->LenE->isEnabled());
    QTest::mouseClick(form->OkButton, Qt::LeftButton);
    ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
    EXPECT_EQ(form->DataLength, 0x80);
    EXPECT_EQ(Stored("ProgReadEndAddr"), "");
}

TEST_F(AddressFormTest, AddressOnlyModeProposesTheStartAndStoresOnlyIt) {
    Store("1234", "0100 1000", "80");
    auto form = Open(true, 0x00000400);
    EXPECT_EQ(form->height(), 188);
    EXPECT_EQ(form->StartE->text(), "00000400");
    EXPECT_EQ(form->StartAddress, 0);
    for (QWidget* hidden :
         {static_cast<QWidget*>(form->Label2), static_cast<QWidget*>(form->Label3),
          static_cast<QWidget*>(form->Label4), static_cast<QWidget*>(form->EndE),
          static_cast<QWidget*>(form->LenE)})
        EXPECT_FALSE(hidden->isVisible());
    EXPECT_TRUE(form->Label1->isVisible());

    QTest::mouseClick(form->OkButton, Qt::LeftButton);
    ASSERT_TRUE(Accepted(*form)) << FBoxes.AllTexts();
    EXPECT_EQ(form->StartAddress, 0x400);
    EXPECT_EQ(Stored("ProgReadStartAddr"), "00000400");
    EXPECT_EQ(Stored("ProgReadEndAddr"), "0100 1000");
    EXPECT_EQ(Stored("ProgReadLength"), "80");

    auto high = Open(true, static_cast<int>(0x8000F000u));
    EXPECT_EQ(high->StartE->text(), "8000F000");
}

TEST_F(AddressFormTest, ModalEnterAcceptsAndEscapeStoresNothing) {
    {
        TAddressForm form(nullptr);
        form.setWindowTitle("Read Data Block");
        QTimer::singleShot(0, [] {
            auto* shown = qobject_cast<TAddressForm*>(QApplication::activeModalWidget());
            ASSERT_NE(shown, nullptr);
            QTest::keyClicks(shown->StartE, "1000");
            QTest::keyClicks(shown->EndE, "1100");
            QTest::keyClick(shown->EndE, Qt::Key_Return);
        });
        EXPECT_EQ(form.exec(), 1);
        EXPECT_EQ(form.windowTitle(), "Read Data Block");
        EXPECT_EQ(form.DataLength, 0x100);
    }
    TSettingsKey::ClearAll();
    TAddressForm form(nullptr);
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<TAddressForm*>(QApplication::activeModalWidget());
        ASSERT_NE(shown, nullptr);
        QTest::keyClicks(shown->StartE, "1000");
        QTest::keyClick(shown, Qt::Key_Escape);
    });
    EXPECT_EQ(form.exec(), 0);
    EXPECT_EQ(Stored("ProgReadStartAddr"), "<missing>");
}
