// korvex-cli program --serial-next against simulated boards: each board is programmed, verified,
// read back and skipped against its own numbered image; a number taken stays taken; what is
// refused is refused before any board is touched; two processes on one counter never share one.
#include "BoardTestKit.h"
#include "CliRunner.h"
#include "Eventually.h"
#include "ImageFileTestKit.h"
#include "OperationLog.h"
#include "Settings.h"

#include <csignal>
#include <set>

using namespace imagetest;
using boardtest::FramesOf;

namespace {

// EB40A's first two free sectors, 32 KiB each; the image covers the first and part of the second.
constexpr uint32_t Sector8 = 0x01040000;
constexpr uint32_t At = Sector8 + 0x10;
constexpr size_t ImageLength = 40 * 1024;

std::unique_ptr<TBoardSim> Eb40a(bool lineRate = false) {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    config.LineRate = lineRate;
    auto board = std::make_unique<TBoardSim>(config);
    EXPECT_TRUE(board->Start());
    return board;
}

uint32_t LittleEndianAt(const TBoardSim& board) {
    const TBytes bytes = board.ReadMemory(At, 4);
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24;
}

// Every ledger in a data folder, as one text.
std::string Ledgers(const QString& dataHome) {
    const QDir folder(dataHome + "/Korvex/ledger");
    std::string all;
    for (const QString& name : folder.entryList({"*.json"}, QDir::Files))
        all += TScratch::ReadText(folder.filePath(name).toStdString());
    return all;
}

class CliSerialNumbers : public ::testing::Test {
protected:
    void SetUp() override {
        TSettingsKey::ClearAll();
        Image = RandomBytes(ImageLength, 11);
        File = Q(Scratch.Write("image.bin", Image));
        Counter = Scratch.Write("next", std::string("41\n"));
    }
    QStringList Program(const std::vector<const TBoardSim*>& boards, const QStringList& more,
                        uint32_t at = At) {
        QStringList arguments = {
            "program",  File,          "--address",        QString::number(Sector8),
            "--type",   "EB40A",       "--json",           "--serial-next",
            Q(Counter), "--serial-at", QString::number(at)};
        for (const TBoardSim* board : boards)
            arguments << "-p" << Q(board->PortPath());
        return arguments + more;
    }

    TScratch Scratch;
    TBytes Image;
    QString File;
    std::string Counter;
};

} // namespace

TEST_F(CliSerialNumbers, EachBoardIsProgrammedCheckedAndSkippedAgainstItsOwnNumber) {
    const TBytes be41 = {0, 0, 0, 41}, le42 = {42, 0, 0, 0};
    const struct {
        const char* Name;
        QStringList More;
        const char* Fault;
        bool First; // the board was programmed with number 41 before, taking it
        int ExitCode;
        int Serial;         // "serial"; -1 none
        int Next;           // "serial_next" of a dry run; -1 none
        int Written;        // sectors written: 1 when the sector without the number is skipped
        const TBytes* Held; // at At afterwards; null: the board as it was
        const char* CounterAfter;
    } cases[] = {
        // clang-format off
        {"verified and read back", {"--readback", "--serial-format", "u32be"}, nullptr, false, 0, 41, -1, 2, &be41, "42\n"},
        {"the number's sector again", {"--skip-unchanged", "--readback"}, nullptr, true, 0, 42, -1, 1, &le42, "43\n"},
        {"failed, keeps its number", {}, "D#3=flash:02", false, 1, 41, -1, 2, nullptr, "42\n"},
        {"dry run takes none", {"--dry-run"}, nullptr, false, 0, -1, 41, 2, nullptr, "41\n"},
        // clang-format on
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Name);
        SetUp();
        const QString data = Q(Scratch.Path(test.Name));
        const auto board = Eb40a();
        if (test.First) {
            ASSERT_EQ(RunCli(Program({board.get()}, {}), data).ExitCode, 0);
        }
        const TBytes before = board->ReadMemory(Sector8, ImageLength);
        board->ClearFrames();
        if (test.Fault)
            board->SetFaults(boardtest::Faults({test.Fault}));

        const TCliRun run = RunCli(Program({board.get()}, test.More), data);
        ASSERT_EQ(run.ExitCode, test.ExitCode) << run.Err;
        const QJsonObject json = JsonLines(run.Out).at(0);
        EXPECT_EQ(json.value("serial").toInt(-1), test.Serial);
        EXPECT_EQ(json.value("serial_next").toInt(-1), test.Next);
        EXPECT_EQ(TScratch::ReadText(Counter), test.CounterAfter);
        if (test.ExitCode != 0)
            continue;
        EXPECT_EQ(json["sectors_written"].toInt(), test.Written);
        EXPECT_EQ(json.value("differences").toInt(0), 0);
        TBytes expected = test.Held ? Image : before;
        if (test.Held)
            std::copy(test.Held->begin(), test.Held->end(), expected.begin() + (At - Sector8));
        EXPECT_EQ(board->ReadMemory(Sector8, ImageLength), expected);
        // The ledger vouches for what the board holds, its number included.
        const TBytes sector = board->ReadMemory(Sector8, 0x8000);
        EXPECT_EQ(Ledgers(data).find(Sha256Hex(sector.data(), sector.size())) != std::string::npos,
                  test.Next < 0);
    }
}

TEST_F(CliSerialNumbers, AWrongCounterPlaceOrFormatIsRefusedBeforeAnyBoardWork) {
    const struct {
        const char* Content; // of the counter file; null: none
        QStringList More;
        uint32_t Place;
        const char* Reason;
    } cases[] = {
        // clang-format off
        {nullptr, {}, At, "No such file or directory"},
        {"100\n", {"--serial-format", "ascii:2"}, At, "serial number 100 does not fit ascii:2"},
        {"1\n", {"--serial-format", "u16"}, At, "'u16' is no serial number format"},
        {"1\n", {}, 0x01049FFD, "at 0x01049FFD do not lie inside the image"},
        // clang-format on
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.Reason);
        SetUp();
        if (test.Content)
            Scratch.Write("next", std::string(test.Content));
        else
            QFile::remove(Q(Counter));
        const auto board = Eb40a();
        const TCliRun run = RunCli(Program({board.get()}, test.More, test.Place));
        EXPECT_EQ(run.ExitCode, 2);
        EXPECT_NE(run.Err.find(test.Reason), std::string::npos) << run.Err;
        EXPECT_TRUE(board->Frames().empty());
        EXPECT_EQ(QFile::exists(Q(Counter)), test.Content != nullptr);
        if (test.Content) {
            EXPECT_EQ(TScratch::ReadText(Counter), test.Content);
        }
    }
}

// Two runs of two boards each on one counter file, and a third killed while its board is being
// written: that board's number was taken before, so no other board gets it.
TEST_F(CliSerialNumbers, ProcessesOnOneCounterNeverShareANumberNotEvenAfterAKill) {
    std::vector<std::unique_ptr<TBoardSim>> boards;
    for (int i = 0; i < 4; ++i)
        boards.push_back(Eb40a());
    boards.push_back(Eb40a(true)); // at the line's pace: caught while being written
    const QString log = Q(Scratch.Path("bench.log"));
    auto first = StartCli(Program({boards[0].get(), boards[1].get()}, {"--log", log}));
    auto second = StartCli(Program({boards[2].get(), boards[3].get()}, {"--log", log}));
    auto killed = StartCli(Program({boards[4].get()}, {}));
    EXPECT_EVENTUALLY_TIMEOUT(!FramesOf(boards[4]->Frames(), TFrameKind::Data).empty(), 30000);
    ::kill(static_cast<pid_t>(killed->processId()), SIGKILL);
    killed->waitForFinished(10000);

    std::multiset<int> numbers = {static_cast<int>(LittleEndianAt(*boards[4]))};
    std::multiset<int> logged;
    for (QProcess* process : {first.get(), second.get()}) {
        const TCliRun run = FinishCli(*process);
        ASSERT_EQ(run.ExitCode, 0) << run.Err;
        for (const QJsonObject& json : JsonLines(run.Out)) {
            numbers.insert(json["serial"].toInt());
            for (const auto& board : boards)
                if (board->PortPath() == json["port"].toString().toStdString()) {
                    EXPECT_EQ(LittleEndianAt(*board), json["serial"].toInt());
                }
        }
    }
    for (const QJsonObject& json : JsonLines(TScratch::ReadText(log.toStdString())))
        logged.insert(json["serial"].toInt());
    EXPECT_EQ(numbers, (std::multiset<int>{41, 42, 43, 44, 45}));
    numbers.erase(numbers.find(static_cast<int>(LittleEndianAt(*boards[4]))));
    EXPECT_EQ(logged, numbers);
    EXPECT_EQ(TScratch::ReadText(Counter), "46\n");
}
