// The stored link speed choices as the boot-monitor operations read them.
#include <gtest/gtest.h>

#include "LinkSpeed.h"
#include "Settings.h"

namespace {

class LinkSpeedTest : public ::testing::Test {
protected:
    void SetUp() override { TSettingsKey::ClearAll(); }
    void TearDown() override { TSettingsKey::ClearAll(); }

    static void Store(const char* name, const char* value) {
        TSettingsKey key;
        ASSERT_TRUE(key.IsOpen());
        ASSERT_TRUE(key.WriteString(name, value));
    }
};

TEST_F(LinkSpeedTest, MissingValuesMeanAutomaticSpeedAndTheFastestRate) {
    EXPECT_TRUE(ReadAutoSpeed());
    EXPECT_EQ(ReadMaxSpeed(FlashSpeedSetting), 115200);
    EXPECT_EQ(ReadMaxSpeed(SramSpeedSetting), 115200);

    Store("FlashAutoSpeed", "");
    Store("FlashMaxSpeed", "");
    EXPECT_TRUE(ReadAutoSpeed());
    EXPECT_EQ(ReadMaxSpeed(FlashSpeedSetting), 115200);
}

TEST_F(LinkSpeedTest, AutomaticSpeedIsOffOnlyForTextThatConvertsToZero) {
    const struct {
        const char* Stored;
        bool Expected;
    } cases[] = {{"0", false}, {"word", false}, {" 0", false},
                 {"1", true},  {"2", true},     {"-1", true}};
    for (const auto& c : cases) {
        Store("FlashAutoSpeed", c.Stored);
        EXPECT_EQ(ReadAutoSpeed(), c.Expected) << "FlashAutoSpeed '" << c.Stored << "'";
    }
}

TEST_F(LinkSpeedTest, StoredIndexesPickTheirRateAndEachSettingIsReadSeparately) {
    Store("FlashMaxSpeed", "4");
    Store("SramMaxSpeed", "7");
    EXPECT_EQ(ReadMaxSpeed(FlashSpeedSetting), 9600);
    EXPECT_EQ(ReadMaxSpeed(SramSpeedSetting), 1200);
    // Any selector other than the SRAM one means the flash link.
    EXPECT_EQ(ReadMaxSpeed(0), 9600);
    EXPECT_EQ(ReadMaxSpeed(3), 9600);

    Store("FlashMaxSpeed", "3");
    EXPECT_EQ(ReadMaxSpeed(FlashSpeedSetting), 19200);
}

TEST_F(LinkSpeedTest, IndexesOutsideTheTableFallBackToTheFastestRate) {
    for (const char* stored : {"8", "-1", "abc", "4294967300", "99999999999999999999"}) {
        Store("FlashMaxSpeed", stored);
        Store("SramMaxSpeed", stored);
        EXPECT_EQ(ReadMaxSpeed(FlashSpeedSetting), 115200) << "index '" << stored << "'";
        EXPECT_EQ(ReadMaxSpeed(SramSpeedSetting), 115200) << "index '" << stored << "'";
    }
}

TEST_F(LinkSpeedTest, SpeedTextsOfTheDialogFollowTheSameRules) {
    EXPECT_EQ(SpeedIndexFromText("5"), 5);
    EXPECT_EQ(BaudRates[SpeedIndexFromText("5")], 4800);
    EXPECT_EQ(SpeedIndexFromText("9"), 0);
    EXPECT_EQ(SpeedIndexFromText(""), 0);
    EXPECT_TRUE(AutoSpeedFromText(""));
    EXPECT_FALSE(AutoSpeedFromText("off"));
}

} // namespace
