// The ledger of written sectors: which board an entry belongs to, and what an unreadable ledger
// is worth.
#include "FlashLedger.h"
#include "Ebdata.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TEBData> Type(const char* sectors) {
    auto type = std::make_unique<TEBData>("Kit");
    EXPECT_TRUE(type->SetSectors(sectors) && type->SetProtected("") &&
                type->SetFlashStart("01000000") && type->SetSramSize("1000"));
    return type;
}

// Chip, flash code, monitor version, clock divisor, base address.
const TMonitorIdentity Board = {1, 0x20, 0x101, 26, 0x01000000};
const std::vector<TLedgerEntry> Written = {{0x01000000, 0x2000, std::string(64, 'a')},
                                           {0x01002000, 0x2000, std::string(64, 'b')}};

class FlashLedger : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir(LedgerFolder()).removeRecursively()); }

    const std::unique_ptr<TEBData> Kit = Type("4x8K,2x32K");
    const TLedgerKey Key = MakeLedgerKey("/dev/pts/7", Board, *Kit);
};

} // namespace

TEST_F(FlashLedger, AnEntryServesOnlyTheBoardItWasWrittenFor) {
    ASSERT_TRUE(RecordLedger(Key, Written, nullptr));
    const auto otherLayout = Type("2x16K,2x32K");
    struct TCase {
        const char* Name;
        std::string Port;
        TMonitorIdentity Identity;
        const TEBData* Type;
        bool Found;
    };
    const std::vector<TCase> cases = {
        {"same board", "/dev/pts/7", Board, Kit.get(), true},
        {"another link speed", "/dev/pts/7", {1, 0x20, 0x101, 52, 0x01000000}, Kit.get(), true},
        {"another port", "/dev/pts/8", Board, Kit.get(), false},
        {"another chip", "/dev/pts/7", {2, 0x20, 0x101, 26, 0x01000000}, Kit.get(), false},
        {"another flash", "/dev/pts/7", {1, 0x21, 0x101, 26, 0x01000000}, Kit.get(), false},
        {"another monitor", "/dev/pts/7", {1, 0x20, 0x102, 26, 0x01000000}, Kit.get(), false},
        {"another base", "/dev/pts/7", {1, 0x20, 0x101, 26, 0}, Kit.get(), false},
        {"another layout", "/dev/pts/7", Board, otherLayout.get(), false},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        const TLedgerRead read = ReadLedger(MakeLedgerKey(test.Port, test.Identity, *test.Type));
        EXPECT_EQ(read.Warning, "");
        EXPECT_EQ(read.Entries, test.Found ? Written : std::vector<TLedgerEntry>{});
    }

    // A later programming replaces its sectors and keeps the rest.
    const TLedgerEntry later = {0x01002000, 0x2000, std::string(64, 'c')};
    ASSERT_TRUE(RecordLedger(Key, {later}, nullptr));
    EXPECT_EQ(ReadLedger(Key).Entries, (std::vector<TLedgerEntry>{Written[0], later}));
}

TEST_F(FlashLedger, AnUnreadableLedgerOrNoteIsIgnoredAndReplaced) {
    ASSERT_TRUE(RecordLedger(Key, Written, nullptr));
    QFile file(LedgerPath(Key));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    const QString ledger = file.fileName(), note = ledger + ".pending";
    const QByteArray shortSha = QByteArray(good).replace(QByteArray(64, 'a'), QByteArray(63, 'a'));
    const QByteArray negative = QByteArray(good).replace("\"length\": 8192", "\"length\": -8192");
    // A good ledger padded past 1 MiB; a link to a good ledger elsewhere, left as it was.
    const QByteArray huge = good + QByteArray(1024 * 1024, ' ');
    const QString elsewhere = LedgerFolder() + "/elsewhere";
    // The note of the sectors a programming began on, beside a good ledger: cut short, too
    // large, a link to a note that names none. Each may stand for every sector.
    const QByteArray cutNote = "[16785408, 167", hugeNote = QByteArray(1024 * 1024, ' ') + "[]";
    const struct {
        QByteArray Text;
        bool Linked;
        bool Note;   // the text is the note's, not the ledger's
        bool Warned; // the reader is told why the ledger is not used
    } cases[] = {{good.left(good.size() / 2), false, false, true},
                 {"\xff\xfe garbage", false, false, true},
                 {shortSha, false, false, true},
                 {negative, false, false, true},
                 {"{\"format\": 9}", false, false, true},
                 {huge, false, false, true},
                 {good, true, false, true},
                 {cutNote, false, true, false},
                 {hugeNote, false, true, true},
                 {"[]", true, true, true}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Text.left(40).toStdString());
        QFile::remove(ledger);
        if (test.Note) {
            ASSERT_TRUE(RecordLedger(Key, Written, nullptr));
        }
        const QString path = test.Note ? note : ledger;
        QFile target(test.Linked ? elsewhere : path);
        ASSERT_TRUE(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
        target.write(test.Text);
        target.close();
        ASSERT_TRUE(!test.Linked || QFile::link(elsewhere, path));
        const TLedgerRead read = ReadLedger(Key);
        EXPECT_TRUE(read.Entries.empty());
        EXPECT_EQ(read.Warning.find("is ignored") != std::string::npos, test.Warned)
            << read.Warning;
        // A programming that begins on one sector meanwhile brings none of the others back.
        ASSERT_TRUE(MarkLedgerPending(Key, {Written[1].Start}, nullptr));
        EXPECT_TRUE(ReadLedger(Key).Entries.empty());
        // Nothing of it survives the next record either.
        ASSERT_TRUE(RecordLedger(Key, {Written[1]}, nullptr));
        EXPECT_EQ(ReadLedger(Key).Entries, std::vector<TLedgerEntry>{Written[1]});
        EXPECT_FALSE(QFileInfo(path).isSymLink());
        ASSERT_TRUE(!test.Linked || target.open(QIODevice::ReadOnly));
        EXPECT_TRUE(!test.Linked || target.readAll() == test.Text);
    }
}
