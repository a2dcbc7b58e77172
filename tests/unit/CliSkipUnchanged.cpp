// korvex-cli program --skip-unchanged, --dry-run and --log against simulated boards: what is
// skipped needs both the ledger and the board's sum, what a failure leaves of the ledger, and
// what a dry run sends.
#include "BoardTestKit.h"
#include "HexText.h"
#include "ImageFileTestKit.h"
#include "Settings.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <memory>
#include <set>

using namespace imagetest;
using boardtest::FrameAddress;
using boardtest::FramesOf;

namespace {

const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");
// EB40A: the first free sectors are 32 KiB each, then 64 KiB ones.
constexpr uint32_t Sector8 = 0x01040000;
constexpr uint32_t Sector9 = 0x01048000;
constexpr uint32_t ImageLength = 40 * 1024; // sector 8 whole, sector 9 in part

struct TRun {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

std::unique_ptr<TBoardSim> Eb40a() {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    auto board = std::make_unique<TBoardSim>(config);
    EXPECT_TRUE(board->Start());
    return board;
}

QStringList Args(const char* command, const std::string& file, const TBoardSim& board,
                 uint32_t address = Sector8) {
    return {command, Q(file), "--address", QString::number(address), "-p", Q(board.PortPath())};
}

std::vector<uint32_t> Addresses(const TBoardSim& board, TFrameKind kind) {
    std::vector<uint32_t> addresses;
    for (const TFrameRecord& frame : FramesOf(board.Frames(), kind))
        addresses.push_back(FrameAddress(frame));
    return addresses;
}

QJsonObject Json(const std::string& text) {
    QJsonParseError error;
    const QJsonObject json = QJsonDocument::fromJson(Q(text).toUtf8(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    return json;
}

class CliSkipUnchanged : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(CliPath)) << "build korvex-cli first";
        TSettingsKey::ClearAll();
        ASSERT_TRUE(QDir(Q(Scratch.Path("data"))).removeRecursively());
    }

    QProcess* Start(const QStringList& arguments) {
        Processes.push_back(std::make_unique<QProcess>());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME",
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        environment.insert("XDG_DATA_HOME", Q(Scratch.Path("data"))); // these runs' ledgers only
        Processes.back()->setProcessEnvironment(environment);
        Processes.back()->start(CliPath, arguments);
        return Processes.back().get();
    }
    TRun Run(const QStringList& arguments) {
        QProcess* process = Start(arguments);
        EXPECT_TRUE(process->waitForFinished(60000)) << "korvex-cli did not finish";
        return {process->exitCode(), process->readAllStandardOutput().toStdString(),
                process->readAllStandardError().toStdString()};
    }
    TRun Program(TBoardSim& board, const std::string& file, const QStringList& more = {},
                 uint32_t address = Sector8) {
        return Run(Args("program", file, board, address) + QStringList{"--json"} + more);
    }
    QByteArray Ledgers() const {
        const QDir folder(Q(Scratch.Path("data/Korvex/ledger")));
        QByteArray all;
        for (const QString& name : folder.entryList({"*.json"}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            all += file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable " + name.toUtf8();
        }
        return all;
    }

    TScratch Scratch;
    std::vector<std::unique_ptr<QProcess>> Processes;
};

} // namespace

TEST_F(CliSkipUnchanged, SkipsOnlyWhatTheLedgerAndTheBoardsSumBothVouchFor) {
    const TBytes first = RandomBytes(ImageLength, 3);
    TBytes changed = first;
    changed[36000] ^= 0x5A; // one 80-byte block of sector 9
    // The first of two neighbouring bytes from at on that differ: swapped, they keep the sum.
    const auto differing = [&first](uint32_t at) {
        while (first[at] == first[at + 1])
            ++at;
        return at;
    };
    const uint32_t at = differing(100);
    const TBytes flipped = {uint8_t(~first[5])}, erased(8192, 0xFF);
    const TBytes swapped = {first[at + 1], first[at]};
    // An image 256 bytes into sector 8, and the same with two bytes swapped among that
    // sector's last 256: the ledger tells them apart by the whole sector's content.
    constexpr uint32_t Inside = 0x01040100;
    const uint32_t end = differing(0x8000 - 0x100 - 20);
    TBytes atEnd = first;
    ASSERT_LT(end + 1, 0x8000 - 0x100);
    std::swap(atEnd[end], atEnd[end + 1]);
    struct TCase {
        const char* Name;
        uint32_t Address; // of both images
        TBytes Second;
        uint32_t At; // where another tool puts Poke behind Korvex's back, between the two runs
        TBytes Poke;
        std::vector<uint32_t> WriteStarts; // the first one's sector erased, the others skipped
        std::vector<uint32_t> Verifies;    // the sums asked for the skip, then the image's twice
        bool Hidden;                       // the board keeps a difference only a read-back finds
        bool ReadBack;                     // a read-back found it before the second run
    };
    const std::vector<uint32_t> ninth = {Sector9, Sector9 + 8160};
    const std::vector<uint32_t> both = {Sector8, Sector9, Sector8, Sector8};
    const std::vector<uint32_t> nine = {Sector9, Sector8, Sector8};
    const std::vector<uint32_t> eight = {Sector8, Sector8, Sector8},
                                rewritten = {Sector8, Sector8 + 32720};
    const std::vector<uint32_t> fromInside = {Inside, 0x01047FE0};
    const std::vector<uint32_t> nineInside = {Sector9, Inside, Inside};
    const std::vector<TCase> cases = {
        {"same image", Sector8, first, 0, {}, {}, both, false, false},
        {"one block changed", Sector8, changed, 0, {}, ninth, eight, false, false},
        {"a byte changed", Sector8, first, Sector8 + 5, flipped, rewritten, both, false, false},
        {"sector 9 erased", Sector8, first, Sector9, erased, ninth, both, false, false},
        {"two bytes swapped", Sector8, first, Sector8 + at, swapped, {}, both, true, false},
        {"swapped, read back", Sector8, first, Sector8 + at, swapped, rewritten, nine, false, true},
        {"swapped at the end", Inside, atEnd, 0, {}, fromInside, nineInside, false, false},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        SetUp();
        const auto board = Eb40a();
        const std::string two = Scratch.Write("two.bin", test.Second);
        ASSERT_EQ(Program(*board, Scratch.Write("one.bin", first), {}, test.Address).ExitCode, 0);
        if (!test.Poke.empty())
            board->LoadMemory(test.At, test.Poke);
        if (test.ReadBack) {
            ASSERT_EQ(Run(Args("verify", two, *board, test.Address) << "--readback").ExitCode, 1);
        }
        board->ClearFrames();

        const TRun run = Program(*board, two, {"--skip-unchanged"}, test.Address);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        const int written = test.WriteStarts.empty() ? 0 : 1;
        EXPECT_EQ(Json(run.Out)["sectors_skipped"].toInt(), 2 - written);
        EXPECT_EQ(Json(run.Out)["sectors_written"].toInt(), written);
        EXPECT_EQ(Addresses(*board, TFrameKind::Erase), // the one sector rewritten, if any
                  std::vector<uint32_t>(written, written ? test.WriteStarts[0] : 0));
        EXPECT_EQ(Addresses(*board, TFrameKind::WriteStart), test.WriteStarts);
        EXPECT_EQ(Addresses(*board, TFrameKind::Verify), test.Verifies);
        EXPECT_EQ(board->ReadMemory(test.Address, ImageLength) == test.Second, !test.Hidden);
        if (test.WriteStarts.empty()) { // nothing erased or written: no such phase is shown
            const TRun said = Run(Args("program", two, *board) << "--skip-unchanged");
            EXPECT_EQ(said.Out, "Verifying...\nsectors 8 and 9 unchanged, not written again.\n"
                                "40960 bytes at 0x01040000 programmed OK.\n");
        }
        if (test.Hidden) {
            const TRun check = Run(Args("verify", two, *board, test.Address) << "--readback");
            EXPECT_EQ(check.ExitCode, 1);
            EXPECT_NE(check.Out.find(std::string(AddrToHex(test.At)()) + ": board"),
                      std::string::npos)
                << check.Out;
        }
    }
}

TEST_F(CliSkipUnchanged, AProgrammingTheLedgerCannotVouchForLeavesItAsItWas) {
    const TBytes first = RandomBytes(ImageLength, 5);
    // A flash error midway, the final verify refused, the line gone; a board not identified;
    // the same image again, both sectors skipped and then the final verify refused.
    const struct {
        const char* Fault;
        QStringList More;
        int ExitCode;
    } cases[] = {{"D#100=flash:02", {}, 1},
                 {"V=byte:4E", {}, 1},
                 {"hangup-after:200", {}, 1},
                 {"V=byte:41", {"--linked", "115200"}, 0},
                 {"V#2=byte:4E", {"--skip-unchanged"}, 1}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Fault);
        SetUp();
        const auto board = Eb40a();
        ASSERT_EQ(Program(*board, Scratch.Write("one.bin", first)).ExitCode, 0);
        const QByteArray before = Ledgers();
        ASSERT_FALSE(before.isEmpty());

        board->SetFaults(boardtest::Faults({test.Fault}));
        const bool same = test.More.contains("--skip-unchanged");
        const std::string two =
            Scratch.Write("two.bin", same ? first : RandomBytes(ImageLength, 6));
        EXPECT_EQ(Program(*board, two, test.More).ExitCode, test.ExitCode);
        EXPECT_EQ(Ledgers(), before);
        if (board->HungUp())
            continue;
        // Nor does the ledger vouch for the sectors that programming began on: a board whose
        // sums all agree (as a colliding sum would) still gets them written again.
        board->SetFaults(boardtest::Faults({"V=byte:41"}));
        const TRun again = Program(*board, Scratch.Path("one.bin"), {"--skip-unchanged"});
        ASSERT_EQ(again.ExitCode, 0) << again.Err;
        EXPECT_EQ(Json(again.Out)["sectors_written"].toInt(), 2);
        EXPECT_EQ(board->ReadMemory(Sector8, ImageLength), first);
    }
}

TEST_F(CliSkipUnchanged, DryRunSendsNothingThatChangesTheBoard) {
    const std::string file = Scratch.Write("image.bin", RandomBytes(ImageLength, 8));
    const std::string header = "Sector  Range                  Protected  Action                  "
                               "Data bytes";
    const char* const written8 = "     8  0x01040000-0x01047FFF  no         erase and write ";
    const char* const written9 = "     9  0x01048000-0x0104FFFF  no         erase and write ";
    const struct {
        bool LedgerFirst;
        uint32_t Address;
        const char* FirstSector;
        const char* SecondSector;
        const char* Total;
    } cases[] = {
        // clang-format off
        {false, Sector8, written8, written9, "2 sectors to erase and write, 0 to skip; 40960 data"},
        {true, Sector8, "     8  0x01040000-0x01047FFF  no         skip (unchanged)", written9, "1 sector to erase and write, 1 to skip; 8192 data"},
        // without --yes a protected sector is marked, not refused
        {false, Sector8 - 0x8000, "     7  0x01038000-0x0103FFFF  yes        protected: needs --yes", written8, "2 sectors to erase and write, 0 to skip; 40960 data"},
        // clang-format on
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.LedgerFirst);
        SetUp();
        const auto board = Eb40a();
        if (test.LedgerFirst) {
            ASSERT_EQ(Program(*board, file).ExitCode, 0);
            board->LoadMemory(Sector9, TBytes(16, 0)); // sector 9 no longer what was written
        }
        const TBytes held = board->ReadMemory(Sector8, 0x10000);
        board->ClearFrames();
        QStringList arguments = Args("program", file, *board) << "--dry-run"
                                                              << "--skip-unchanged";
        arguments[3] = QString::number(test.Address);
        const TRun run = Run(arguments);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        for (const TFrameKind kind : {TFrameKind::Erase, TFrameKind::WriteStart, TFrameKind::Data})
            EXPECT_TRUE(FramesOf(board->Frames(), kind).empty()) << FrameKindName(kind);
        EXPECT_EQ(board->ReadMemory(Sector8, 0x10000), held);
        for (const std::string& line : {header + "\n", std::string(test.FirstSector),
                                        std::string(test.SecondSector), std::string(test.Total)})
            EXPECT_NE(run.Out.find(line), std::string::npos) << line << "\n" << run.Out;
    }
}

TEST_F(CliSkipUnchanged, LogLinesOfBoardsAndProcessesAtOnceStayWhole) {
    const std::string file = Scratch.Write("image.bin", RandomBytes(4000, 9));
    const std::string log = Scratch.Path("bench.log");
    std::vector<std::unique_ptr<TBoardSim>> boards;
    std::vector<QProcess*> running;
    std::set<std::string> ports;
    for (const QStringList& command : {QStringList{"program", "--skip-unchanged"}, {"verify"}}) {
        QStringList arguments =
            command + QStringList{Q(file), "--address", QString::number(Sector8), "--log", Q(log)};
        for (int i = 0; i < 3; ++i) {
            boards.push_back(Eb40a());
            arguments << "-p" << Q(boards.back()->PortPath());
            ports.insert(boards.back()->PortPath());
        }
        running.push_back(Start(arguments));
    }
    for (QProcess* process : running)
        EXPECT_TRUE(process->waitForFinished(60000)) << "korvex-cli did not finish";

    QFile written(Q(log));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    ASSERT_EQ(lines.size(), 7) << "six lines and the end";
    std::set<std::string> logged;
    for (int i = 0; i < 6; ++i) {
        const QJsonObject line = Json(lines[i].toStdString());
        logged.insert(line["port"].toString().toStdString());
        EXPECT_FALSE(line["time"].toString().isEmpty());
        EXPECT_EQ(line["file_sha256"].toString().size(), 64);
        EXPECT_TRUE(line.contains("identity"));
        // The verify boards were never programmed: their failures are logged as such.
        EXPECT_EQ(line["result"].toString(),
                  line["operation"].toString() == "program" ? "ok" : "failed");
    }
    EXPECT_EQ(logged, ports);
}
