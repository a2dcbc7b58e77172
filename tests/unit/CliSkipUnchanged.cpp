// korvex-cli program --skip-unchanged, --dry-run and --log against simulated boards: what is
// skipped needs both the ledger and the board's sum, what a failure leaves of the ledger, and
// what a dry run sends.
#include "BoardSim.h"
#include "BoardTestKit.h"
#include "HexText.h"
#include "ImageFileTestKit.h"
#include "Settings.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <functional>
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

class CliSkipUnchanged : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(CliPath)) << "build korvex-cli first";
        TSettingsKey::ClearAll();
        ASSERT_TRUE(QDir(Q(Scratch.Path("data"))).removeRecursively());
    }

    QProcess* Start(const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME",
                           QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        // The ledgers of these runs, never the user's.
        environment.insert("XDG_DATA_HOME", Q(Scratch.Path("data")));
        process->setProcessEnvironment(environment);
        process->start(CliPath, arguments);
        Processes.push_back(std::move(process));
        return Processes.back().get();
    }
    TRun Finish(QProcess* process) {
        EXPECT_TRUE(process->waitForFinished(60000)) << "korvex-cli did not finish";
        return {process->exitCode(), process->readAllStandardOutput().toStdString(),
                process->readAllStandardError().toStdString()};
    }
    TRun Run(const QStringList& arguments) { return Finish(Start(arguments)); }
    TRun Program(TBoardSim& board, const std::string& file, const QStringList& more = {}) {
        return Run(QStringList{"program", Q(file), "--address", QString::number(Sector8), "-p",
                               Q(board.PortPath()), "--json"} +
                   more);
    }
    QByteArray Ledgers() const {
        QByteArray all;
        QDir folder(Q(Scratch.Path("data/Korvex/ledger")));
        for (const QString& name : folder.entryList({"*.json"}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly));
            all += file.readAll();
        }
        return all;
    }

    TScratch Scratch;
    std::vector<std::unique_ptr<QProcess>> Processes;
};

TBoardConfig Eb40a() {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    return config;
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

} // namespace

TEST_F(CliSkipUnchanged, SkipsOnlyWhatTheLedgerAndTheBoardsSumBothVouchFor) {
    const TBytes first = RandomBytes(ImageLength, 3);
    TBytes changedBlock = first;
    changedBlock[36000] ^= 0x5A; // one 80-byte block of sector 9
    const auto poke = [](uint32_t address, TBytes bytes) {
        return [address, bytes](TBoardSim& board) { board.LoadMemory(address, bytes); };
    };
    // Two differing bytes of sector 8 swapped: its sum stays what the ledger's content gives.
    uint32_t at = 100;
    while (first[at] == first[at + 1])
        ++at;
    struct TCase {
        const char* Name;
        TBytes Second;
        std::function<void(TBoardSim&)> Behind; // done to the board between the two runs
        std::vector<uint32_t> Erased;
        std::vector<uint32_t> WriteStarts;
        int Skipped;
        bool HoldsImage;
    };
    const std::vector<TCase> cases = {
        {"same image", first, {}, {}, {}, 2, true},
        {"one block changed", changedBlock, {}, {Sector9}, {Sector9, Sector9 + 8160}, 1, true},
        {"byte changed behind Korvex's back",
         first,
         poke(Sector8 + 5, {uint8_t(~first[5])}),
         {Sector8},
         {Sector8, Sector8 + 32720},
         1,
         true},
        {"other tool erased a sector",
         first,
         poke(Sector9, TBytes(8192, 0xFF)),
         {Sector9},
         {Sector9, Sector9 + 8160},
         1,
         true},
        // The sum hides this one; only a read-back finds it (below).
        {"two bytes swapped behind Korvex's back",
         first,
         poke(Sector8 + at, {first[at + 1], first[at]}),
         {},
         {},
         2,
         false},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        SetUp();
        TBoardSim board(Eb40a());
        ASSERT_TRUE(board.Start());
        const std::string one = Scratch.Write("one.bin", first);
        const std::string two = Scratch.Write("two.bin", test.Second);
        ASSERT_EQ(Program(board, one).ExitCode, 0);
        if (test.Behind)
            test.Behind(board);
        board.ClearFrames();

        const TRun run = Program(board, two, {"--skip-unchanged"});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        const QJsonObject json = Json(run.Out);
        EXPECT_EQ(json["sectors_skipped"].toInt(), test.Skipped);
        EXPECT_EQ(json["sectors_written"].toInt(), 2 - test.Skipped);
        EXPECT_EQ(Addresses(board, TFrameKind::Erase), test.Erased);
        EXPECT_EQ(Addresses(board, TFrameKind::WriteStart), test.WriteStarts);
        // A sum per sector the ledger vouches for, then the whole image's as always.
        const std::vector<uint32_t> sums = test.Second == first
                                               ? std::vector<uint32_t>{Sector8, Sector9, Sector8}
                                               : std::vector<uint32_t>{Sector8, Sector8};
        EXPECT_EQ(Addresses(board, TFrameKind::Verify), sums);
        EXPECT_EQ(board.ReadMemory(Sector8, ImageLength) == test.Second, test.HoldsImage);
        if (!test.HoldsImage) {
            const TRun check = Run({"verify", Q(two), "--address", QString::number(Sector8), "-p",
                                    Q(board.PortPath()), "--readback"});
            EXPECT_EQ(check.ExitCode, 1);
            EXPECT_NE(check.Out.find(std::string(AddrToHex(Sector8 + at)()) + ": board"),
                      std::string::npos)
                << check.Out;
        }
    }
}

TEST_F(CliSkipUnchanged, AFailedOrInterruptedProgrammingLeavesTheLedgerAsItWas) {
    const TBytes first = RandomBytes(ImageLength, 5);
    const TBytes second = RandomBytes(ImageLength, 6);
    // A flash error midway, the final verify refused, the line gone.
    for (const char* fault : {"D#100=flash:02", "V=byte:4E", "hangup-after:200"}) {
        SCOPED_TRACE(fault);
        SetUp();
        TBoardSim board(Eb40a());
        ASSERT_TRUE(board.Start());
        ASSERT_EQ(Program(board, Scratch.Write("one.bin", first)).ExitCode, 0);
        const QByteArray before = Ledgers();
        ASSERT_FALSE(before.isEmpty());

        board.SetFaults(boardtest::Faults({fault}));
        EXPECT_NE(Program(board, Scratch.Write("two.bin", second)).ExitCode, 0);
        EXPECT_EQ(Ledgers(), before);

        if (board.HungUp())
            continue;
        // Nor does the ledger vouch for the sectors that programming began on: a board whose
        // sums all agree (as a colliding sum would) still gets them written again.
        board.SetFaults(boardtest::Faults({"V=byte:41"}));
        const TRun again = Program(board, Scratch.Path("one.bin"), {"--skip-unchanged"});
        ASSERT_EQ(again.ExitCode, 0) << again.Err;
        EXPECT_EQ(Json(again.Out)["sectors_written"].toInt(), 2);
        EXPECT_EQ(board.ReadMemory(Sector8, ImageLength), first);
    }
}

TEST_F(CliSkipUnchanged, DryRunSendsNothingThatChangesTheBoard) {
    const TBytes image = RandomBytes(ImageLength, 8);
    const std::string file = Scratch.Write("image.bin", image);
    for (const bool ledgerFirst : {false, true}) {
        SCOPED_TRACE(ledgerFirst);
        SetUp();
        TBoardSim board(Eb40a());
        ASSERT_TRUE(board.Start());
        if (ledgerFirst) {
            ASSERT_EQ(Program(board, file).ExitCode, 0);
            board.LoadMemory(Sector9, TBytes(16, 0)); // sector 9 no longer what was written
        }
        const TBytes held = board.ReadMemory(Sector8, 0x10000);
        board.ClearFrames();
        const TRun run = Run({"program", Q(file), "--address", QString::number(Sector8), "-p",
                              Q(board.PortPath()), "--dry-run", "--skip-unchanged"});
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        for (const TFrameKind kind : {TFrameKind::Erase, TFrameKind::WriteStart, TFrameKind::Data})
            EXPECT_TRUE(FramesOf(board.Frames(), kind).empty()) << FrameKindName(kind);
        EXPECT_EQ(board.ReadMemory(Sector8, 0x10000), held);
        const std::string sector8 = ledgerFirst ? "skip (unchanged)" : "erase and write ";
        EXPECT_NE(run.Out.find("     8  0x01040000-0x01047FFF  no         " + sector8),
                  std::string::npos)
            << run.Out;
        EXPECT_NE(run.Out.find("     9  0x01048000-0x0104FFFF  no         erase and write "),
                  std::string::npos)
            << run.Out;
        EXPECT_NE(run.Out.find(ledgerFirst ? "1 sectors to erase and write, 1 to skip; 8192 data"
                                           : "2 sectors to erase and write, 0 to skip; 40960 data"),
                  std::string::npos)
            << run.Out;
    }
}

TEST_F(CliSkipUnchanged, LogLinesOfBoardsAndProcessesAtOnceStayWhole) {
    const std::string file = Scratch.Write("image.bin", RandomBytes(4000, 9));
    const std::string log = Scratch.Path("bench.log");
    std::vector<std::unique_ptr<TBoardSim>> boards;
    std::vector<QStringList> commands = {{"program", "--skip-unchanged"}, {"verify"}};
    std::vector<QProcess*> running;
    std::set<std::string> ports;
    for (const QStringList& command : commands) {
        QStringList arguments =
            command + QStringList{Q(file), "--address", QString::number(Sector8), "--log", Q(log)};
        for (int i = 0; i < 3; ++i) {
            boards.push_back(std::make_unique<TBoardSim>(Eb40a()));
            ASSERT_TRUE(boards.back()->Start());
            arguments << "-p" << Q(boards.back()->PortPath());
            ports.insert(boards.back()->PortPath());
        }
        running.push_back(Start(arguments));
    }
    for (QProcess* process : running)
        Finish(process);

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
