// The stored list of board types (TypeDefs) and the factory import.
#include "AppGlobals.h"
#include "Ebdata.h"
#include "LibError.h"
#include "ScriptedMsgBox.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Names(const std::vector<TTypeDef>& entries) {
    std::vector<std::string> names;
    for (const TTypeDef& entry : entries)
        names.push_back(entry.Name());
    return names;
}

std::vector<std::string> Strings(const std::vector<TString>& texts) {
    std::vector<std::string> strings;
    for (const TString& text : texts)
        strings.push_back(text());
    return strings;
}

TTypeDef Entry(const char* name, const char* sectors, const char* protect, const char* sram,
               const char* flash) {
    return TTypeDef{name, sectors, protect, sram, flash};
}

const char* const BuiltInTypeDefs = "EB40A;8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000|"
                                    "EB42;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
                                    "EB55;8x32K,2x32K,30x64K;0-8;0004 0000;0100 0000|"
                                    "EB63;8x32K,2x32K,30x64K;0-7;0004 0000;0100 0000|"
                                    "EB40;;;0008 0000;|";

// A private start folder with an optional factory file; the settings start empty.
class ImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        TSettingsKey::ClearAll();
        FSavedStartDir = StartDir;
        StartDir = (FFolder.path() + QDir::separator()).toLatin1().constData();
    }
    void TearDown() override {
        StartDir = FSavedStartDir;
        TSettingsKey::ClearAll();
    }
    void WriteFactoryFile(const std::string& content) {
        QFile file(FFolder.filePath("FactoryDefaults.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), static_cast<qint64>(content.size()));
    }
    std::string StoredTypeDefs() { return TSettingsKey().ReadString("TypeDefs")(); }

    QTemporaryDir FFolder;
    TString FSavedStartDir;
    TScriptedMsgBox FBoxes;
};

} // namespace

TEST(TypeDefsList, OnlyFiveFieldEntriesCount) {
    const TString value = "A;1x8K;;0100;0100||B;2x8K;;0100;0100|"
                          "Four;1x8K;;0100|Six;1x8K;;0100;0100;x| C ; 3x8K ;0; 0100 ;0100 |";
    const std::vector<TTypeDef> entries = SplitTypeDefs(value);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(std::string(entries[2].Sectors()), "3x8K"); // fields are trimmed
    EXPECT_EQ(std::string(entries[2].SramSize()), "0100");

    std::vector<TString> names;
    EXPECT_EQ(ListTypeNames(value, "b", &names), 1);
    EXPECT_EQ(Strings(names), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(ListTypeNames(value, "missing", nullptr), 0);
    EXPECT_EQ(ListTypeNames("|Four;1;2;3|", "", &names), -1);

    EXPECT_EQ(std::string(RemoveTypeDefs("A;1x8K;;0100;0100||B;2x8K;;0100;0100|", "A")()),
              "B;2x8K;;0100;0100");
    EXPECT_EQ(std::string(RemoveTypeDefs(value, "nothing")()),
              "A;1x8K;;0100;0100|B;2x8K;;0100;0100|C ; 3x8K ;0; 0100 ;0100");
}

TEST(TypeDefsList, DuplicateNamesInEveryOperation) {
    const TString value = "eb40a;1x8K;;1;0100|Four;x;y;z|EB40A;2x8K;;2;0100|EB42;3x8K;;3;0100";

    TTypeDef found;
    ASSERT_TRUE(FindTypeDef(value, "Eb40A", &found));
    EXPECT_EQ(std::string(found.Sectors()), "1x8K");
    ASSERT_TRUE(FindTypeDef(value, "", &found)); // no name: the first entry
    EXPECT_EQ(std::string(found.Name()), "eb40a");
    EXPECT_FALSE(FindTypeDef(value, "EB4", &found));

    EXPECT_EQ(ListTypeNames(value, "Eb40A", nullptr), 1); // the last of the two

    EXPECT_EQ(std::string(RemoveTypeDefs(value, "EB40A")()), "EB42;3x8K;;3;0100");
    EXPECT_EQ(
        std::string(ReplaceTypeDefs(value, "eB40a", Entry("EB40A", "4x8K", "0", "4", "0100"))()),
        "EB40A;4x8K;0;4;0100|EB40A;4x8K;0;4;0100|EB42;3x8K;;3;0100");
    EXPECT_EQ(std::string(AddTypeDef(value, Entry("eb40a", "", "", "", ""))()),
              std::string(value()) + "|eb40a;;;;");
}

TEST(TypeDefsList, AddingKeepsTheSeparatorsTidy) {
    const TTypeDef entry = Entry("New", "2x8K", "", "0100", "0100");
    EXPECT_EQ(std::string(AddTypeDef("", entry)()), "New;2x8K;;0100;0100");
    // After an import the value ends with '|': readers skip the empty piece.
    const TString added = AddTypeDef("A;1x8K;;1;2|", entry);
    EXPECT_EQ(Names(SplitTypeDefs(added)), (std::vector<std::string>{"A", "New"}));
}

TEST(TypeDefsList, AStrayQuoteDoesNotHideTheEntriesBehindIt) {
    const TString added = AddTypeDef("A;1x8K;;1;0100", Entry("My\"Board", "2x8K", "", "1", ""));
    const TString value = AddTypeDef(added, Entry("B", "3x8K", "", "1", ""));
    EXPECT_EQ(Names(SplitTypeDefs(value)), (std::vector<std::string>{"A", "MyBoard", "B"}));
    EXPECT_EQ(Names(SplitTypeDefs(ReplaceTypeDefs(value, "A", Entry("\"A", "1x8K", "", "1", "")))),
              (std::vector<std::string>{"A", "MyBoard", "B"}));
}

// A quote typed into the stored value by hand: every change leaves the other entries as they
// read before, and keeps the text that the quote has joined for the user to mend.
TEST(TypeDefsList, HandEditedQuotesNeverChangeOtherEntries) {
    const struct {
        const char* Value;
        const char* KeptText; // must survive every change of A verbatim
    } values[] = {
        // A quoted '|' inside a name: the entry reads as "B|x".
        {"A;1x8K;;1;0100|\"B|x\";2x8K;;2;0100|C;3x8K;;3;0100", "\"B|x\";2x8K;;2;0100"},
        // A quoted ';': this entry reads as five fields only with the quotes taken away.
        {"\"D;4x8K\";;4;0100|A;1x8K;;1;0100|C;3x8K;;3;0100", "\"D;4x8K\";;4;0100"},
        // One stray quote joins everything behind it into one piece that no reader takes.
        {"A;1x8K;;1;0100|B\"x;2x8K;;2;0100|C;3x8K;;3;0100", "B\"x;2x8K;;2;0100|C;3x8K;;3;0100"},
        {"B\"x;2x8K;;2;0100|A;1x8K;;1;0100|", "B\"x;2x8K;;2;0100|A;1x8K;;1;0100|"},
    };
    const TTypeDef newEntry = Entry("N", "5x8K", "", "5", "0100");
    const auto others = [](const TString& typeDefs, const char* name) {
        std::vector<std::string> texts;
        for (const TTypeDef& entry : SplitTypeDefs(typeDefs))
            if (!entry.Name.Equals(name, true))
                texts.push_back(TypeDefText(entry)());
        return texts;
    };
    for (const auto& c : values) {
        const std::vector<std::string> before = others(c.Value, "A");
        const TString removed = RemoveTypeDefs(c.Value, "A");
        const TString replaced = ReplaceTypeDefs(c.Value, "a", Entry("A", "9x8K", "", "9", ""));
        EXPECT_EQ(others(removed, "A"), before) << c.Value;
        EXPECT_EQ(others(replaced, "A"), before) << c.Value;

        // An entry added behind the quote reads as itself, and so does one added after that.
        const TString added =
            AddTypeDef(AddTypeDef(removed, newEntry), Entry("M", "", "", "1", ""));
        std::vector<std::string> expected = before;
        expected.push_back(TypeDefText(newEntry)());
        expected.push_back("M;;;1;");
        EXPECT_EQ(others(added, "A"), expected) << c.Value;

        for (const TString& changed : {removed, replaced, added})
            EXPECT_NE(std::string(changed()).find(c.KeptText), std::string::npos)
                << c.Value << " became " << changed();
    }
}

TEST(TypeDefsList, SettingsOperationsReadAndWriteTheStore) {
    TSettingsKey::ClearAll();
    TSettingsKey key;
    ASSERT_TRUE(key.IsOpen());
    ASSERT_TRUE(key.WriteString("TypeDefs", "A;1x8K;;1;0100|bad|B;2x8K;0;2;0200|b;9x8K;;9;0"));
    ASSERT_TRUE(key.WriteString("LastType", "b"));

    std::vector<TString> names;
    EXPECT_EQ(ListTypeNames(key, &names), 2);
    EXPECT_EQ(Strings(names), (std::vector<std::string>{"A", "B", "b"}));

    const TTypeDef sections = ReadTypeSections(key, "b"); // the first of two
    EXPECT_EQ(std::string(sections.Sectors()), "2x8K");
    EXPECT_EQ(std::string(sections.Protect()), "0");
    EXPECT_EQ(std::string(sections.SramSize()), "2");
    EXPECT_EQ(std::string(sections.FlashStart()), "0200");
    const TTypeDef none = ReadTypeSections(key, "");
    EXPECT_TRUE(none.Sectors.IsBlank() && none.Protect.IsBlank() && none.SramSize.IsBlank() &&
                none.FlashStart.IsBlank());

    EXPECT_TRUE(ReplaceTypeDefs(key, "a", Entry("A2", "4x8K", "", "1", "0100")));
    EXPECT_TRUE(AddTypeDef(key, Entry("C", "", "", "1", "")));
    EXPECT_TRUE(RemoveTypeDefs(key, "B"));
    EXPECT_EQ(std::string(key.ReadString("TypeDefs")()), "A2;4x8K;;1;0100|C;;;1;");
    TSettingsKey::ClearAll();
}

TEST(FactoryRows, EveryRefusalInItsOrder) {
    const struct {
        const char* Row;
        const char* Reason;
    } refused[] = {
        {"Demo 8x8K;0;0003 FF00;0100 0000", " - missing type name"},
        {"Demo=8x8K;0;0003 FF00", " - expecting 4 sections separated by ';'"},
        {"Demo=8x8K;0;0003 FF00;0100 0000;x", " - expecting 4 sections separated by ';'"},
        {"Demo=", " - expecting 4 sections separated by ';'"},
        {"Demo=8x8K;0;0003=FF00;0100", " - expecting 4 sections separated by ';'"},
        {"Demo=8X8K;0;0003 FF00;0100 0000", " - invalid sectors format."},
        {"Demo=99999x99999K;;1;0100", " - invalid sectors format."},
        {"Demo=8x8K;8;0003 FF00;0100 0000", " - invalid protected sectors numbers."},
        {"Demo=;0;0003 FF00;", " - protected sectors and flash start must be blank if no sectors "
                               "are specified."},
        {"EB40=;;0008 0000;0100 0000", " - protected sectors and flash start must be blank if "
                                       "no sectors are specified."},
        {"Demo=8x8K;;;0100 0000", " - invalid SRAM size or Flash addr. format."},
        {"Demo=8x8K;;0003 FF00;0x100", " - invalid SRAM size or Flash addr. format."},
        {"Demo=;;SRAM;", " - invalid SRAM size or Flash addr. format."},
        {"Demo=8x8K;;1 0000 0000;0100", " - invalid SRAM size or Flash addr. format."},
        {"Demo=8x8K;;FFFF FFFF;0100", " - SRAM size must be below 8000 0000."},
        {"Demo=2x64K;;1;7FFF 0000", " - the flash area must not reach across 8000 0000 or "
                                    "past FFFF FFFF."},
        {"Demo=2x64K;;1;FFFF 0000", " - the flash area must not reach across 8000 0000 or "
                                    "past FFFF FFFF."},
        // Names the stored list would lose, split or rename.
        {"=;;0003 FF00;", " - missing type name"},
        {"   =8x8K;;1;", " - missing type name"},
        {"A;B=8x8K;;1;", " - type name must not contain ';', '|' or '\"'."},
        {"X|Y=8x8K;;1;", " - type name must not contain ';', '|' or '\"'."},
        {"Q\"uote=8x8K;;1;", " - type name must not contain ';', '|' or '\"'."},
    };
    for (const auto& c : refused) {
        TString name("unset");
        TString sections("unset");
        TString reason;
        EXPECT_FALSE(CheckFactoryRow(c.Row, &name, &sections, &reason)) << c.Row;
        EXPECT_EQ(std::string(reason()), c.Reason) << c.Row;
    }

    const struct {
        const char* Row;
        const char* Name;
        const char* Sections;
    } accepted[] = {
        {"Demo=8x8K;;0003 FF00;", "Demo", "8x8K;;0003 FF00;"},
        {"Demo=;;0003 FF00;", "Demo", ";;0003 FF00;"},
        {" Demo = 8x8K ; 0-7 ; 0003 FF00 ; 0100 0000 ", "Demo",
         "8x8K ; 0-7 ; 0003 FF00 ; 0100 0000"},
        {"Demo=8x8K;0;1;0100=ignored;;", "Demo", "8x8K;0;1;0100"},
        {"Demo=2x64K;;7FFF FFFF;7FFE 0000", "Demo", "2x64K;;7FFF FFFF;7FFE 0000"},
        {"Demo=2x64K;;1;FFFE 0000", "Demo", "2x64K;;1;FFFE 0000"},
    };
    for (const auto& c : accepted) {
        TString name;
        TString sections;
        TString reason;
        EXPECT_TRUE(CheckFactoryRow(c.Row, &name, &sections, &reason)) << c.Row << reason();
        EXPECT_EQ(std::string(name()), c.Name);
        EXPECT_EQ(std::string(sections()), c.Sections);
    }
}

TEST(FactoryRows, BuiltInRowsAllImport) {
    TString typeDefs;
    TString report;
    BuildFactoryTypeDefs(BuiltInFactoryRows(), &typeDefs, &report);
    EXPECT_EQ(std::string(typeDefs()), BuiltInTypeDefs);
    EXPECT_TRUE(report.IsBlank()) << report();

    // A refused row leaves no trace between its neighbours.
    BuildFactoryTypeDefs({"A=1x8K;;1;", "Bad=1x8K;;;", "B=;;2;"}, &typeDefs, &report);
    EXPECT_EQ(std::string(typeDefs()), "A;1x8K;;1;|B;;;2;|");
    BuildFactoryTypeDefs({"A=1x8K;;1;"}, &typeDefs, &report);
    EXPECT_TRUE(report.IsBlank());
}

TEST_F(ImportTest, WithoutAFileTheBuiltInRowsAreImported) {
    TSettingsKey().WriteString("LastType", "EB63");
    TSettingsKey().WriteString("TypeDefs", "Old;1x8K;;1;0100");
    ImportFactoryDefaults();
    EXPECT_EQ(StoredTypeDefs(), BuiltInTypeDefs);
    EXPECT_EQ(std::string(TSettingsKey().ReadString("LastType")()), "EB63");
    EXPECT_EQ(FBoxes.Count(), 0) << FBoxes.AllTexts();
}

TEST_F(ImportTest, RowsOfTheTypesSectionInFileOrder) {
    WriteFactoryFile("; factory rows\n"
                     "[OTHER]\nX=1x8K;;1;\n"
                     "[TYPES]\n"
                     "Zeta = 2x8K;0;0001 0000;0200 0000\r\n"
                     "# a comment\n"
                     "Alpha=4x8K;;0002 0000;0100 0000\n"
                     "Broken=4x8K;9;%s%d;0100\n"
                     "[MORE]\nY=1x8K;;1;\n");
    ImportFactoryDefaults();
    EXPECT_EQ(StoredTypeDefs(), "Zeta;2x8K;0;0001 0000;0200 0000|Alpha;4x8K;;0002 0000;0100 0000|");
    ASSERT_EQ(FBoxes.Count(), 1);
    // Shown literally: the row's own % signs are not taken as a format.
    EXPECT_EQ(FBoxes.Last().Text, "Default settings that failed to import:\n\n"
                                  "Broken=4x8K;9;%s%d;0100 - invalid protected sectors numbers.\n");
}

TEST_F(ImportTest, EveryLineOfTheTypesSectionIsARowOfItsOwn) {
    WriteFactoryFile("[TYPES]\n"
                     "EB40A=1x8K;;1;\n"
                     "  EB42=2x8K;;2;\n"      // indented: not a continuation of EB40A
                     "EB55 3x8K;;3; ; note\n" // no '=': reported, not passed over
                     "\t[OTHER]\n"
                     "X=1x8K;;1;\n");
    ImportFactoryDefaults();
    EXPECT_EQ(StoredTypeDefs(), "EB40A;1x8K;;1;|EB42;2x8K;;2;|");
    ASSERT_EQ(FBoxes.Count(), 1);
    EXPECT_EQ(FBoxes.Last().Text, "Default settings that failed to import:\n\n"
                                  "EB55 3x8K;;3; - missing type name\n");
}

TEST_F(ImportTest, AFileWithoutTypesEmptiesTheListSilently) {
    TSettingsKey().WriteString("TypeDefs", "Old;1x8K;;1;0100");
    WriteFactoryFile("[OTHER]\nEB40A=8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000\n");
    ImportFactoryDefaults();
    TSettingsKey key;
    EXPECT_TRUE(key.ValueExists("TypeDefs"));
    EXPECT_EQ(StoredTypeDefs(), "");
    EXPECT_EQ(FBoxes.Count(), 0);
}

TEST_F(ImportTest, LongRowsAreReadWhole) {
    std::string sectors;
    for (int i = 0; i < 40; ++i)
        sectors += "1x8K,";
    sectors += "1x64K";
    WriteFactoryFile("[TYPES]\nLong=" + sectors + ";0-39;0003 FF00;0100 0000\nShort=1x8K;;1;\n");
    ImportFactoryDefaults();
    EXPECT_EQ(StoredTypeDefs(), "Long;" + sectors + ";0-39;0003 FF00;0100 0000|Short;1x8K;;1;|");
    EXPECT_EQ(FBoxes.Count(), 0);
}

TEST_F(ImportTest, ALongReportReachesTheUserWhole) {
    std::string content = "[TYPES]\n";
    std::string expected = "Default settings that failed to import:\n\n";
    for (int i = 0; i < 40; ++i) {
        const std::string row = "Type" + std::to_string(i) + "=8x8K;;;0100 0000";
        content += row + "\n";
        expected += row + " - invalid SRAM size or Flash addr. format.\n";
    }
    WriteFactoryFile(content);
    ImportFactoryDefaults();
    EXPECT_EQ(StoredTypeDefs(), "");

    ASSERT_GT(FBoxes.Count(), 1);
    std::string shown;
    const std::string continued = "Default settings that failed to import (continued):\n\n";
    for (int i = 0; i < FBoxes.Count(); ++i) {
        std::string text = FBoxes.Boxes()[i].Text;
        EXPECT_LE(text.size(), 1023u);
        EXPECT_EQ(text.back(), '\n'); // boxes break between rows
        if (i > 0) {
            ASSERT_EQ(text.compare(0, continued.size(), continued), 0);
            text.erase(0, continued.size());
        }
        shown += text;
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(ImportTest, AnUnusableStoreRaisesAndChangesNothing) {
    // A folder where the settings file belongs makes the store unusable.
    const QString file =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillmark", "eb40a").fileName();
    QFile::remove(file);
    ASSERT_TRUE(QDir().mkpath(file));
    ASSERT_FALSE(TSettingsKey().IsOpen());
    try {
        ImportFactoryDefaults();
        ADD_FAILURE() << "no error raised";
    } catch (const TException& error) {
        EXPECT_STREQ(error.what(), "Unable to open registry key");
    }
    EXPECT_EQ(FBoxes.Count(), 0);
    ASSERT_TRUE(QDir(file).removeRecursively());
    EXPECT_TRUE(TSettingsKey().IsOpen());
}
