// The main window's board types: the import on a first start and the current type.
#include "AppGlobals.h"
#include "Ebdata.h"
#include "MainFormHarness.h"
#include "Settings.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <string>

namespace {

// The row earlier versions shipped for the EB40: a flash start without sectors.
const char* const OldEb40Row = "EB40=;;0008 0000;0100 0000";

// A start folder without a factory file, so the built-in rows are the defaults.
class MainFormTypesTest : public ::testing::Test {
protected:
    void SetUp() override {
        FSavedStartDir = StartDir;
        StartDir = (FFolder.path() + QDir::separator()).toLatin1().constData();
        TSettingsKey::ClearAll();
    }
    void TearDown() override {
        StartDir = FSavedStartDir;
        TSettingsKey::ClearAll();
    }

    static void Store(const char* typeDefs, const char* lastType) {
        TSettingsKey key;
        key.WriteString("TypeDefs", typeDefs);
        if (lastType)
            key.WriteString("LastType", lastType);
    }
    static std::string TypePanel(TMainForm& form) {
        return form.StatusPanel(TMainForm::TypePanel)();
    }
    // SRAM upload and link synchronisation as the user sees them.
    static void ExpectOffered(TMainForm& form, bool sram, bool synch) {
        EXPECT_EQ(form.SramTB->isEnabled(), sram);
        EXPECT_EQ(form.SramUploadMenu->isEnabled(), sram);
        EXPECT_EQ(form.SynchTB->isEnabled(), synch);
        EXPECT_EQ(form.LinkSynchronizeMenu->isEnabled(), synch);
        EXPECT_FALSE(form.ReadTB->isEnabled());
        EXPECT_FALSE(form.FlashTB->isEnabled());
        EXPECT_FALSE(form.EraseSectorMenu->isEnabled());
    }

    QTemporaryDir FFolder;
    TString FSavedStartDir;
};

} // namespace

TEST_F(MainFormTypesTest, AFirstStartImportsTheDefaultsAndSelectsTheFirstType) {
    TMainFormHarness window;
    TMainForm& form = window.Form();

    EXPECT_EQ(window.Boxes().Count(), 0) << window.Boxes().AllTexts();
    EXPECT_EQ(std::string(TSettingsKey().ReadString("TypeDefs")()),
              "EB40A;8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000|"
              "EB42;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
              "EB55;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
              "EB63;8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000|"
              "EB40;;;0008 0000;|");

    EXPECT_EQ(TypePanel(form), "EB40A");
    ASSERT_TRUE(form.CurrentType);
    EXPECT_EQ(form.CurrentType->GetSectorCount(), 40);
    EXPECT_EQ(form.CurrentType->GetFlashStart(), 0x01000000);
    EXPECT_EQ(form.CurrentType->GetSramSize(), 0x0003FF00);
    EXPECT_EQ(form.CurrentType->ProtectedSectorAt(0x01038000), 7);
    ExpectOffered(form, true, true);

    // The EB40 can be chosen: an SRAM-only board.
    form.SelectType("EB40");
    EXPECT_EQ(TypePanel(form), "EB40");
    EXPECT_EQ(form.CurrentType->GetSramSize(), 0x00080000);
    ExpectOffered(form, true, false);

    // The next start finds the list and imports nothing.
    window.Restart();
    EXPECT_EQ(window.Boxes().Count(), 0);
    EXPECT_EQ(TypePanel(window.Form()), "EB40A");
}

TEST_F(MainFormTypesTest, AFactoryFileWithTheOldEb40RowStillReportsIt) {
    QFile file(FFolder.filePath("FactoryDefaults.ini"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("[TYPES]\n") + OldEb40Row +
               "\nEB42=8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000\n");
    file.close();

    TMainFormHarness window;
    ASSERT_EQ(window.Boxes().Count(), 1);
    EXPECT_EQ(window.Boxes().Last().Flags, MB_ICONINFORMATION);
    EXPECT_EQ(window.Boxes().Last().Text,
              std::string("Default settings that failed to import:\n\n") + OldEb40Row +
                  " - protected sectors and flash start must be blank if no sectors are "
                  "specified.\n");
    EXPECT_EQ(std::string(TSettingsKey().ReadString("TypeDefs")()),
              "EB42;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|");
    EXPECT_EQ(TypePanel(window.Form()), "EB42");
}

TEST_F(MainFormTypesTest, AnEmptyListIsKeptAndOffersNothing) {
    Store("", nullptr);
    TMainFormHarness window(false);
    EXPECT_EQ(window.Boxes().Count(), 0);
    EXPECT_EQ(std::string(TSettingsKey().ReadString("TypeDefs", "<missing>")()), "");
    EXPECT_FALSE(window->CurrentType);
    EXPECT_EQ(TypePanel(window.Form()), "");
    ExpectOffered(window.Form(), false, false);
}

TEST_F(MainFormTypesTest, SelectTypeFindsTheStoredEntry) {
    Store("", nullptr);
    TMainFormHarness window(false);
    TMainForm& form = window.Form();

    // LastType in another letter case; a four-field entry of that name is skipped.
    Store("Other;1x8K;;1;0100|EB40A;8x8K;;0200|Junk|eb40a;2x8K;0;0;0100 0000|"
          "EB40A;4x8K;;1;0100",
          "Eb40A");
    form.EnableFlashCommands(true);
    form.SelectType("");
    ASSERT_TRUE(form.CurrentType);
    EXPECT_EQ(TypePanel(form), "eb40a");
    EXPECT_EQ(form.CurrentType->GetSectorCount(), 2);
    EXPECT_EQ(form.CurrentType->GetSector(0).Start, 0x01000000);
    EXPECT_TRUE(form.CurrentType->GetSector(0).Protected);
    ExpectOffered(form, false, true); // SRAM size 0: no upload

    // A name given wins over LastType.
    form.SelectType("other");
    EXPECT_EQ(TypePanel(form), "Other");
    ExpectOffered(form, true, true);

    // Without LastType the first entry is taken.
    Store("EB40;;;0008 0000;|EB40A;8x8K;;1;0100", nullptr);
    TSettingsKey().DeleteValue("LastType");
    form.SelectType("");
    EXPECT_EQ(TypePanel(form), "EB40");
    EXPECT_EQ(form.CurrentType->GetSectorCount(), 0);
    ExpectOffered(form, true, false); // no sectors: no synchronisation

    // A name that matches nothing leaves no current type.
    form.SelectType("EB99");
    EXPECT_FALSE(form.CurrentType);
    EXPECT_EQ(TypePanel(form), "");
    ExpectOffered(form, false, false);
    EXPECT_EQ(window.Boxes().Count(), 0);
}
