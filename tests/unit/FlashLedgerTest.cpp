// The ledger of written sectors: which board an entry belongs to, and what an unreadable ledger
// is worth.
#include "FlashLedger.h"
#include "Ebdata.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace {

std::unique_ptr<TEBData> Type(const char* sectors) {
    auto type = std::make_unique<TEBData>("Kit");
    EXPECT_TRUE(type->SetSectors(sectors));
    EXPECT_TRUE(type->SetProtected(""));
    EXPECT_TRUE(type->SetFlashStart("01000000"));
    EXPECT_TRUE(type->SetSramSize("1000"));
    return type;
}

TMonitorIdentity Identity() {
    TMonitorIdentity identity;
    identity.ChipType = 1;
    identity.FlashCode = 0x20;
    identity.Version = 0x101;
    identity.ClockDivisor = 26;
    identity.BaseAddress = 0x01000000;
    return identity;
}

const std::vector<TLedgerEntry> Written = {
    {0x01000000, 0x2000, std::string(64, 'a')},
    {0x01002000, 0x2000, std::string(64, 'b')},
};

class FlashLedger : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir(LedgerFolder()).removeRecursively()); }
};

} // namespace

TEST_F(FlashLedger, AnEntryServesOnlyTheBoardItWasWrittenFor) {
    const auto kit = Type("4x8K,2x32K");
    const TLedgerKey written = MakeLedgerKey("/dev/pts/7", Identity(), *kit);
    ASSERT_TRUE(RecordLedger(written, Written, nullptr));

    const auto otherLayout = Type("2x16K,2x32K");
    struct TCase {
        const char* Name;
        std::function<void(TMonitorIdentity&)> Change;
        std::string Port;
        const TEBData* Type;
        bool Found;
    };
    const std::vector<TCase> cases = {
        {"same board", {}, "/dev/pts/7", kit.get(), true},
        {"another link speed", [](TMonitorIdentity& i) { i.ClockDivisor = 52; }, "/dev/pts/7",
         kit.get(), true},
        {"another port", {}, "/dev/pts/8", kit.get(), false},
        {"another chip", [](TMonitorIdentity& i) { i.ChipType = 2; }, "/dev/pts/7", kit.get(),
         false},
        {"another flash", [](TMonitorIdentity& i) { i.FlashCode = 0x21; }, "/dev/pts/7", kit.get(),
         false},
        {"another monitor", [](TMonitorIdentity& i) { i.Version = 0x102; }, "/dev/pts/7", kit.get(),
         false},
        {"another base", [](TMonitorIdentity& i) { i.BaseAddress = 0; }, "/dev/pts/7", kit.get(),
         false},
        {"another layout", {}, "/dev/pts/7", otherLayout.get(), false},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TMonitorIdentity identity = Identity();
        if (test.Change)
            test.Change(identity);
        const TLedgerRead read = ReadLedger(MakeLedgerKey(test.Port, identity, *test.Type));
        EXPECT_EQ(read.Warning, "");
        EXPECT_EQ(read.Entries, test.Found ? Written : std::vector<TLedgerEntry>{});
    }

    // A later programming replaces its sectors and keeps the rest.
    const std::vector<TLedgerEntry> later = {{0x01002000, 0x2000, std::string(64, 'c')}};
    ASSERT_TRUE(RecordLedger(written, later, nullptr));
    EXPECT_EQ(ReadLedger(written).Entries, (std::vector<TLedgerEntry>{Written[0], later[0]}));
}

TEST_F(FlashLedger, AnUnreadableLedgerIsIgnoredWithAWarningAndReplaced) {
    const auto kit = Type("4x8K,2x32K");
    const TLedgerKey key = MakeLedgerKey("/dev/pts/7", Identity(), *kit);
    ASSERT_TRUE(RecordLedger(key, Written, nullptr));
    QFile file(LedgerPath(key));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();

    QByteArray shortSha = good;
    shortSha.replace(QByteArray(64, 'a'), QByteArray(63, 'a'));
    QByteArray negative = good;
    negative.replace("\"length\": 8192", "\"length\": -8192");
    for (const QByteArray& text : {good.left(good.size() / 2), QByteArray("\xff\xfe garbage"),
                                   shortSha, negative, QByteArray("{\"format\": 9}")}) {
        SCOPED_TRACE(text.left(40).toStdString());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        const TLedgerRead read = ReadLedger(key);
        EXPECT_TRUE(read.Entries.empty());
        EXPECT_NE(read.Warning.find("is ignored"), std::string::npos) << read.Warning;
        // Nothing of it survives the next record either.
        ASSERT_TRUE(RecordLedger(key, {Written[1]}, nullptr));
        EXPECT_EQ(ReadLedger(key).Entries, std::vector<TLedgerEntry>{Written[1]});
    }
}
