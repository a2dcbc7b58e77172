#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

class SettingsKey : public ::testing::Test {
protected:
    void SetUp() override { TSettingsKey::ClearAll(); }
};

QString StoreFile() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quillmark", "eb40a")
        .fileName();
}

} // namespace

TEST_F(SettingsKey, MissingValuesGiveTheirDefaults) {
    TSettingsKey key;
    ASSERT_TRUE(key.IsOpen());
    EXPECT_FALSE(key.ValueExists("FormSize"));
    EXPECT_STREQ(key.ReadString("FormSize", "126;216;788;550")(), "126;216;788;550");
    EXPECT_EQ(key.ReadInteger("Background", 7), 7);
}

TEST_F(SettingsKey, ValuesPersistAcrossOpenings) {
    {
        TSettingsKey key;
        EXPECT_TRUE(key.WriteString("TypeDefs", "EB40A;64K,8K;0-4;256K;0x01000000|"));
        EXPECT_TRUE(key.WriteInteger("Background", 0x00FF8000));
        EXPECT_TRUE(key.WriteString("LastType", ""));
    }
    TSettingsKey key;
    EXPECT_STREQ(key.ReadString("TypeDefs")(), "EB40A;64K,8K;0-4;256K;0x01000000|");
    EXPECT_EQ(key.ReadInteger("Background"), 0x00FF8000);
    // An empty value still exists: the start-up import relies on the difference.
    EXPECT_TRUE(key.ValueExists("LastType"));
    key.DeleteValue("LastType");
    EXPECT_FALSE(key.ValueExists("LastType"));
}

TEST_F(SettingsKey, NonNumericIntegerFallsBackToDefault) {
    TSettingsKey key;
    key.WriteString("Background", "blue");
    EXPECT_EQ(key.ReadInteger("Background", 3), 3);
}

TEST_F(SettingsKey, BytesAboveAsciiSurviveTheRoundTrip) {
    TSettingsKey key;
    key.WriteString("LastFileLocation", "/tmp/caf\xE9.hex");
    EXPECT_STREQ(TSettingsKey().ReadString("LastFileLocation")(), "/tmp/caf\xE9.hex");
}

TEST_F(SettingsKey, StoreThatCannotBeCreatedIsNotOpenAndStoresNothing) {
    // A plain file where the store's folder belongs: nothing can be created there, even by root.
    const QString folder = QFileInfo(StoreFile()).absolutePath();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    TSettingsKey key;
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.WriteString("SerialPort", "COM2"));
    EXPECT_FALSE(key.WriteInteger("Background", 1));
    EXPECT_STREQ(key.ReadString("SerialPort", "none")(), "none");
    EXPECT_EQ(key.ReadInteger("Background", 5), 5);

    QFile::remove(folder);
}
