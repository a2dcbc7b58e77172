// The simulated board against the frames the host sends, spoken through the serial port.
#include "BoardSim.h"
#include "Comm.h"
#include "Eventually.h"
#include "PortAnnouncement.h"
#include "PortList.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

constexpr uint32_t FlashStart = 0x01000000;
// How long to wait for an answer that must come: generous, for a loaded machine; reads end as
// soon as the bytes are there.
constexpr int AnswerMs = 5000;
// How long to listen for an answer that must not come.
constexpr int QuietMs = 300;
// How long to wait for a reply cut short: all of its time-out, as long as a complete one may take.
constexpr int CutShortMs = 1500;

void PutLe(TBytes& frame, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

TBytes ReadFrame(uint32_t address, uint8_t count) {
    TBytes frame{'R'};
    PutLe(frame, address);
    frame.push_back(count);
    return frame;
}

TBytes EraseFrame(uint32_t address) {
    TBytes frame{'E'};
    PutLe(frame, address);
    return frame;
}

TBytes WriteStartFrame(uint32_t address, uint8_t length) {
    TBytes frame{'W'};
    PutLe(frame, address);
    frame.push_back(length);
    return frame;
}

TBytes DataFrame(const TBytes& data) {
    TBytes frame{'D'};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(static_cast<uint8_t>(std::accumulate(data.begin(), data.end(), 0u)));
    return frame;
}

TBytes VerifyFrame(uint32_t address, const TBytes& data) {
    TBytes frame{'V'};
    PutLe(frame, address);
    PutLe(frame, static_cast<uint32_t>(data.size()));
    PutLe(frame, std::accumulate(data.begin(), data.end(), 0u));
    return frame;
}

TBytes Pattern(size_t size, uint8_t seed) {
    TBytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 3);
    return bytes;
}

TBoardConfig Eb40a() {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    return config;
}

// The host side: a serial port on the simulated board.
class THost {
public:
    // beforeStart: what the board is given before it starts, such as a program.
    explicit THost(const TBoardConfig& config,
                   const std::function<void(TBoardSim&)>& beforeStart = {})
        : Board(config) {
        if (beforeStart)
            beforeStart(Board);
        std::string error;
        Started = Board.Start(&error);
        EXPECT_TRUE(Started) << error;
    }

    bool Open(int speed) {
        const std::string settings = Board.PortPath() + ":" + std::to_string(speed) + ",N,8,1";
        return Port.Open(settings.c_str());
    }

    // What the board answers within the time-out, at most size bytes.
    TBytes Send(const TBytes& frame, int size, int timeoutMs = AnswerMs) {
        Port.Write(frame.data(), static_cast<unsigned>(frame.size()));
        TBytes reply(static_cast<size_t>(size));
        Port.Read(reply.data(), size, timeoutMs);
        return reply;
    }

    bool Synchronise(int speed) {
        if (!Open(speed))
            return false;
        const TBytes identity = Send({0x80}, 14);
        return identity[0] == 'B' && Send({'A'}, 1) == TBytes{'A'};
    }

    // The board takes the line speed from the port when it reads the bytes: before the host
    // changes speed, the board must have read everything sent at the old one.
    bool WaitUntilIgnored(size_t bytes) const {
        const auto ignored = [this] {
            size_t count = 0;
            for (const TFrameRecord& frame : Board.Frames())
                count += frame.Ignored ? frame.Bytes.size() : 0;
            return count;
        };
        QElapsedTimer clock;
        clock.start();
        while (ignored() < bytes && clock.elapsed() < AnswerMs)
            QThread::msleep(10);
        return ignored() >= bytes;
    }

    TBoardSim Board;
    TComms Port;
    bool Started = false;
};

} // namespace

TEST(BoardLayout, ReadsSectorTextsAndFactoryTypes) {
    std::vector<TBoardSector> sectors;
    ASSERT_TRUE(ParseSectorLayout("8x32K, 2x32k,30x64K", FlashStart, sectors));
    ASSERT_EQ(sectors.size(), 40u);
    EXPECT_EQ(sectors[0].Start, FlashStart);
    EXPECT_EQ(sectors[8].Start, FlashStart + 8 * 32768);
    EXPECT_EQ(sectors[10].Start, FlashStart + 10 * 32768);
    EXPECT_EQ(sectors[10].Length, 65536u);
    EXPECT_EQ(sectors.back().Start + sectors.back().Length, FlashStart + 2240u * 1024);
    ASSERT_TRUE(ParseSectorLayout("2x100B", 0, sectors));
    EXPECT_EQ(sectors[1].Start, 100u);

    for (const char* bad :
         {"", "8x", "x8K", "8x8", "8x8M", "0x8K", "8x0K", "8x8K,", "8x8Kx2", "4096x1048576K"})
        EXPECT_FALSE(ParseSectorLayout(bad, FlashStart, sectors)) << bad;

    uint32_t value = 0;
    EXPECT_TRUE(ParseHexValue("0003 FF00", value));
    EXPECT_EQ(value, 0x0003FF00u);
    EXPECT_TRUE(ParseHexValue("00-03.ff 00", value));
    EXPECT_EQ(value, 0x0003FF00u);
    EXPECT_FALSE(ParseHexValue("0x100", value));
    EXPECT_FALSE(ParseHexValue(" ", value));
    EXPECT_FALSE(ParseHexValue("123456789", value));

    TBoardType type;
    for (const char* name : {"EB40", "eb40a", "EB42", "EB55", "EB63"})
        EXPECT_TRUE(BuiltInBoardType(name, type)) << name;
    EXPECT_FALSE(BuiltInBoardType("EB99", type));
    ASSERT_TRUE(BuiltInBoardType("EB40", type));
    EXPECT_TRUE(type.Sectors.empty());
    EXPECT_EQ(type.SramSize, 0x80000u);
    ASSERT_TRUE(BuiltInBoardType("EB40A", type));
    EXPECT_EQ(type.SramSize, 0x3FF00u);

    std::string error;
    EXPECT_FALSE(ParseBoardRow("Demo=8x8K;;0003 FF00", type, error));
    EXPECT_FALSE(ParseBoardRow("Demo=8x8K;;;0100 0000", type, error));
    ASSERT_TRUE(ParseBoardRow("Demo=8x8K;;0003 FF00;", type, error));
    EXPECT_EQ(type.Sectors.size(), 8u);
}

TEST(BoardMemoryModel, FlashOnlyClearsBitsAndErasesWholeSectors) {
    TBoardType type;
    ASSERT_TRUE(BuiltInBoardType("EB40A", type));
    TBoardMemory memory(type);
    EXPECT_EQ(memory.Get(FlashStart), 0xFF);
    EXPECT_EQ(memory.Get(0x00300000), 0x00) << "plain memory outside the flash";

    const uint8_t high = 0xF0, low = 0x0F;
    EXPECT_EQ(memory.Program(FlashStart + 5, &high, 1), TBoardMemory::TProgramResult::Ok);
    EXPECT_EQ(memory.Program(FlashStart + 5, &low, 1), TBoardMemory::TProgramResult::NeedsErase);
    EXPECT_EQ(memory.Get(FlashStart + 5), 0x00);

    // Sector 8 starts at 256 KiB; erasing it inside leaves sector 7 alone.
    const uint32_t sector8 = FlashStart + 8 * 32768;
    const uint8_t zeros[2] = {0, 0};
    memory.Program(sector8 - 1, zeros, 2);
    EXPECT_TRUE(memory.EraseSectorAt(sector8 + 1000));
    EXPECT_EQ(memory.Get(sector8 - 1), 0x00);
    EXPECT_EQ(memory.Get(sector8), 0xFF);
    EXPECT_FALSE(memory.EraseSectorAt(FlashStart - 1));
    EXPECT_FALSE(memory.EraseSectorAt(FlashStart + 2240 * 1024));

    const uint8_t data[3] = {1, 2, 250};
    memory.Program(0x300000, data, 3);
    EXPECT_EQ(memory.Read(0x300000, 3), TBytes(data, data + 3));
    EXPECT_EQ(memory.Sum(0x300000, 3), 253u);
}

TEST(BoardFaultText, ReadsRulesAndRefusesNonsense) {
    TFaultPlan plan;
    std::string error;
    ASSERT_TRUE(ParseFault("D#3@1-2=byte:4E", plan, error)) << error;
    ASSERT_TRUE(ParseFault("sync=silent", plan, error)) << error;
    ASSERT_TRUE(ParseFault("E@2=flash:02", plan, error)) << error;
    ASSERT_TRUE(ParseFault("R=short:10", plan, error)) << error;
    ASSERT_TRUE(ParseFault("hangup-after:7", plan, error)) << error;
    ASSERT_EQ(plan.Rules.size(), 4u);
    EXPECT_EQ(plan.HangUpAfter, 7);

    const TFaultRule& data = plan.Rules[0];
    EXPECT_EQ(data.Kind, TFrameKind::Data);
    EXPECT_TRUE(data.Matches(TFrameKind::Data, 3, 2));
    EXPECT_FALSE(data.Matches(TFrameKind::Data, 3, 3));
    EXPECT_FALSE(data.Matches(TFrameKind::Data, 2, 1));
    EXPECT_EQ(data.Value, 0x4E);
    EXPECT_TRUE(plan.Rules[1].Matches(TFrameKind::Sync, 9, 9));
    EXPECT_TRUE(plan.Rules[2].Matches(TFrameKind::Erase, 0, 2));
    EXPECT_FALSE(plan.Rules[2].Matches(TFrameKind::Erase, 0, 3));

    for (const char* bad :
         {"", "D", "Q=silent", "D=loud", "D=byte:100", "D=byte:", "D#x=silent", "D@0=silent",
          "D@3-2=silent", "silent-after:", "hangup-after:-1", "D=short", "R=silent:1",
          "D=late:", "D=late:1s", "D=extra:", "D=extra:4", "D=extra:4G", "E=flood:"})
        EXPECT_FALSE(ParseFault(bad, plan, error)) << bad;
    EXPECT_FALSE(ParseFault("D=lost:1", plan, error));
}

TEST(BoardSync, AnswersTheIdentityOnlyAtAcceptedSpeeds) {
    TBoardConfig config = Eb40a();
    config.AcceptedSpeeds = {19200};
    config.Identity.ChipType = 0x01;
    config.Identity.FlashCode = 0x0020;
    config.Identity.Version = 0x0101;
    config.Identity.BaseAddress = 0x01100000;
    THost host(config);
    size_t ignored = 0;
    for (int speed : {115200, 57600, 38400}) {
        ASSERT_TRUE(host.Open(speed));
        EXPECT_EQ(host.Send({0x80}, 14, QuietMs), TBytes(14, 0)) << speed;
        ASSERT_TRUE(host.WaitUntilIgnored(++ignored));
    }
    ASSERT_TRUE(host.Open(19200));
    EXPECT_EQ(host.Send({0x80}, 14), (TBytes{0x42, 0x01, 0x00, 0x1F, 0x20, 0x00, 0x01, 0x01, 156,
                                             0x00, 0x00, 0x00, 0x10, 0x01}));
    EXPECT_EQ(host.Board.SyncedSpeed(), 0) << "not before the acknowledge";
    EXPECT_EQ(host.Send({'A'}, 1), TBytes{'A'});
    EXPECT_EQ(host.Board.SyncedSpeed(), 19200);

    const std::vector<TFrameRecord> frames = host.Board.Frames();
    ASSERT_EQ(frames.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i].Kind, TFrameKind::Sync);
        EXPECT_TRUE(frames[i].Ignored);
    }
    EXPECT_EQ(frames[3].Speed, 19200);
    EXPECT_FALSE(frames[3].Ignored);
    EXPECT_EQ(frames[4].Kind, TFrameKind::Ack);
}

TEST(BoardSync, TheClockDivisorFollowsTheSpeed) {
    TBoardConfig config = Eb40a();
    THost host(config);
    ASSERT_TRUE(host.Open(115200));
    EXPECT_EQ(host.Send({0x80}, 14)[8], 26);
    ASSERT_TRUE(host.Open(9600));
    const TBytes identity = host.Send({0x80}, 14);
    EXPECT_EQ(identity[8] | identity[9] << 8, 313);
    EXPECT_EQ(identity[10] | identity[11] << 8 | identity[12] << 16 | identity[13] << 24,
              static_cast<int>(FlashStart));
}

TEST(BoardCommands, ReadEraseWriteAndVerifyOnTheFlashModel) {
    THost host(Eb40a());
    ASSERT_TRUE(host.Synchronise(115200));

    // Erased flash: 80 bytes of 0xFF carry the checksum 0xB0.
    TBytes expected{'D'};
    expected.insert(expected.end(), 80, 0xFF);
    expected.push_back(0xB0);
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 80), 82), expected);

    const TBytes image = Pattern(200, 9);
    EXPECT_EQ(host.Send(EraseFrame(FlashStart + 100), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 80), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame(TBytes(image.begin(), image.begin() + 80)), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame(TBytes(image.begin() + 80, image.begin() + 160)), 1),
              TBytes{'A'});
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart + 160, 40), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame(TBytes(image.begin() + 160, image.end())), 1), TBytes{'A'});
    EXPECT_EQ(host.Board.ReadMemory(FlashStart, 200), image);
    EXPECT_EQ(host.Send(VerifyFrame(FlashStart, image), 1), TBytes{'A'});

    const TBytes readBack = host.Send(ReadFrame(FlashStart + 160, 40), 42);
    EXPECT_EQ(TBytes(readBack.begin() + 1, readBack.end() - 1),
              TBytes(image.begin() + 160, image.end()));

    // Programming over written flash needs an erase first; a changed image no longer verifies.
    TBytes other = image;
    other[0] = static_cast<uint8_t>(~image[0]);
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 1), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame({other[0]}), 2), (TBytes{'F', 0x01}));
    EXPECT_EQ(host.Send(VerifyFrame(FlashStart, other), 1), TBytes{'N'});

    // A damaged block is refused and changes nothing.
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 2), 1), TBytes{'A'});
    EXPECT_EQ(host.Send({'D', 1, 2, 4}, 1), TBytes{'N'});
    EXPECT_EQ(host.Board.ReadMemory(FlashStart, 2), (TBytes{0xFF, 0xFF}));

    // Outside the flash: no sector to erase, plain memory to write.
    EXPECT_EQ(host.Send(EraseFrame(FlashStart - 4), 1), TBytes{'N'});
    EXPECT_EQ(host.Send(WriteStartFrame(0x300000, 3), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame({7, 8, 9}), 1), TBytes{'A'});
    EXPECT_EQ(host.Board.ReadMemory(0x300000, 3), (TBytes{7, 8, 9}));

    const std::vector<TFrameRecord> frames = host.Board.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().Kind, TFrameKind::Data);
    EXPECT_EQ(frames.back().Bytes, DataFrame({7, 8, 9}));
    EXPECT_EQ(frames.back().Speed, 115200);
}

// The board's own program starts when a host opens the port and only listens, never on a timer,
// and keeps silent once a synchronisation brought the boot monitor back.
TEST(BoardProgram, StartsForAListeningHostAndKeepsSilentAfterASynchronisation) {
    const struct {
        const char* Name;
        bool RunNow;   // the board starts in its program; else in its boot monitor
        bool Programs; // after synchronising, the host erases and writes with pauses between
        bool Listens;  // then opens the port anew and sends nothing
        bool Running;
    } rows[] = {
        {"started in its program, then programmed", true, true, false, false},
        {"programmed, never listened to", false, true, false, false},
        {"programmed, then listened to", false, true, true, true},
        {"never programmed, listened to", false, false, true, false},
        {"started in its program, listened to after a synchronisation", true, false, true, true},
    };
    TProgramConfig program;
    program.TickMs = 20;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        THost host(Eb40a(), [&](TBoardSim& board) { board.SetProgram(program, row.RunNow, 0); });
        ASSERT_TRUE(host.Synchronise(115200));
        if (row.Programs) {
            EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1), TBytes{'A'});
            QThread::msleep(QuietMs);
            EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 2), 1), TBytes{'A'});
            EXPECT_EQ(host.Send(DataFrame({1, 2}), 1), TBytes{'A'});
        }
        if (row.Listens) {
            host.Port.Close();
            ASSERT_TRUE(host.Open(115200));
        }
        if (row.Running) {
            EXPECT_EVENTUALLY(host.Board.ProgramRunning());
        } else {
            QThread::msleep(3 * QuietMs); // well past the board's restart
            EXPECT_FALSE(host.Board.ProgramRunning());
        }
    }
}

TEST(BoardCommands, ADataBlockWithoutAWriteStartIsRefused) {
    THost host(Eb40a());
    ASSERT_TRUE(host.Synchronise(57600));
    EXPECT_EQ(host.Send({'D'}, 1), TBytes{'N'});
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 1), 3), (TBytes{'D', 0xFF, 0xFF}));
}

// The monitor on its own, fed bytes at chosen times.
class TMonitorHost {
public:
    TMonitorHost() : Monitor(Eb40a()) {}

    TBytes Send(const TBytes& frame, int64_t atMs) {
        TBytes reply;
        for (const uint8_t byte : frame)
            Monitor.Receive(byte, Speed, atMs, reply);
        return reply;
    }
    bool Synchronise(int64_t atMs) {
        return Send({0x80}, atMs).size() == 14 && Send({'A'}, atMs) == TBytes{'A'};
    }

    static constexpr int Speed = 115200;
    TBoardMonitor Monitor;
};

// A write start for a block the board cannot take is refused at once and opens no write: the
// bytes after it are read as frames of their own, so a new synchronisation gets through.
TEST(BoardCommands, AWriteStartForAnImpossibleBlockIsRefused) {
    // In this order, so that every refusal follows a write that was open.
    const struct {
        uint8_t Length;
        bool Accepted;
    } cases[] = {{80, true}, {0, false}, {1, true}, {81, false}, {80, true}, {255, false}};
    TMonitorHost host;
    ASSERT_TRUE(host.Synchronise(0));
    for (const auto& c : cases) {
        const int length = c.Length;
        EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, c.Length), 0),
                  TBytes{c.Accepted ? uint8_t('A') : uint8_t('N')})
            << length;
        if (c.Accepted)
            continue;
        EXPECT_EQ(host.Send({'D'}, 0), TBytes{'N'}) << length;
        EXPECT_TRUE(host.Synchronise(0)) << length;
    }
}

// A frame that never completes is dropped a second after it began, even while bytes keep
// coming: a host synchronising again every half second is heard.
TEST(BoardCommands, AnUnfinishedFrameIsDroppedFromItsFirstByte) {
    TMonitorHost host;
    ASSERT_TRUE(host.Synchronise(0));
    EXPECT_TRUE(host.Send({'W', 0x00, 0x00}, 0).empty());
    EXPECT_TRUE(host.Send({0x01}, 600).empty()); // still part of the write start
    EXPECT_EQ(host.Monitor.PendingFrameBytes(), 4u);
    EXPECT_EQ(host.Send({0x80}, 1200).size(), 14u);
    const std::vector<TFrameRecord>& frames = host.Monitor.Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_FALSE(frames[frames.size() - 2].Complete);
}

TEST(BoardCommands, CommandsAtAnotherSpeedAreNoise) {
    THost host(Eb40a());
    ASSERT_TRUE(host.Synchronise(115200));
    ASSERT_TRUE(host.Open(9600));
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 4), 6, QuietMs), TBytes(6, 0));
    ASSERT_TRUE(host.WaitUntilIgnored(6));
    ASSERT_TRUE(host.Open(115200));
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 1), 3), (TBytes{'D', 0xFF, 0xFF}));
}

TEST(BoardFaults, SynchronisationFaults) {
    TBoardConfig config = Eb40a();
    std::string error;
    ASSERT_TRUE(ParseFault("sync#0@1=silent", config.Faults, error));
    ASSERT_TRUE(ParseFault("sync#0@2=byte:41", config.Faults, error));
    ASSERT_TRUE(ParseFault("sync#0@3=short:10", config.Faults, error));
    ASSERT_TRUE(ParseFault("ack#0@1=silent", config.Faults, error));
    ASSERT_TRUE(ParseFault("ack#0@2=byte:15", config.Faults, error));
    THost host(config);
    ASSERT_TRUE(host.Open(115200));
    EXPECT_EQ(host.Send({0x80}, 14, QuietMs), TBytes(14, 0));
    EXPECT_EQ(host.Send({0x80}, 14)[0], 0x41);
    const TBytes cut = host.Send({0x80}, 14, CutShortMs);
    EXPECT_EQ(cut[9], 0x00) << "only ten bytes arrive";
    EXPECT_EQ(cut[0], 'B');
    EXPECT_EQ(host.Send({0x80}, 14)[0], 'B');
    EXPECT_EQ(host.Send({'A'}, 1, QuietMs), TBytes{0});
    EXPECT_EQ(host.Send({0x80}, 14)[0], 'B');
    EXPECT_EQ(host.Send({'A'}, 1), TBytes{0x15});
    EXPECT_EQ(host.Board.SyncedSpeed(), 0);
    EXPECT_TRUE(host.Synchronise(115200));
}

TEST(BoardFaults, RetriedBlocksAndErasesCountAsAttempts) {
    TBoardConfig config = Eb40a();
    std::string error;
    ASSERT_TRUE(ParseFault("D#1@1-2=byte:4E", config.Faults, error));
    ASSERT_TRUE(ParseFault("D#2=flash:02", config.Faults, error));
    ASSERT_TRUE(ParseFault("E@1-2=silent", config.Faults, error));
    ASSERT_TRUE(ParseFault("W#1=byte:15", config.Faults, error));
    ASSERT_TRUE(ParseFault("V=byte:4E", config.Faults, error));
    THost host(config);
    ASSERT_TRUE(host.Synchronise(115200));

    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1, QuietMs), TBytes{0});
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1, QuietMs), TBytes{0});
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1), TBytes{'A'});

    const TBytes block = Pattern(4, 1);
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 4), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame(block), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame(block), 1), TBytes{'N'});
    EXPECT_EQ(host.Send(DataFrame(block), 1), TBytes{'N'});
    EXPECT_EQ(host.Send(DataFrame(block), 1), TBytes{'A'}) << "the third attempt succeeds";
    EXPECT_EQ(host.Send(DataFrame(block), 2), (TBytes{'F', 0x02}));
    EXPECT_EQ(host.Send(DataFrame(block), 2), (TBytes{'F', 0x02}));
    EXPECT_EQ(host.Board.ReadMemory(FlashStart, 12), [&] {
        TBytes written = block;
        written.insert(written.end(), block.begin(), block.end());
        written.insert(written.end(), 4, 0xFF);
        return written;
    }()) << "refused blocks are not programmed";

    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 4), 1), TBytes{0x15});
    EXPECT_EQ(host.Send(VerifyFrame(FlashStart, block), 1), TBytes{'N'});
}

TEST(BoardFaults, BrokenReadReplies) {
    TBoardConfig config = Eb40a();
    std::string error;
    ASSERT_TRUE(ParseFault("R#0=badsum", config.Faults, error));
    ASSERT_TRUE(ParseFault("R#1=short:10", config.Faults, error));
    ASSERT_TRUE(ParseFault("R#2=byte:45", config.Faults, error));
    THost host(config);
    ASSERT_TRUE(host.Synchronise(115200));
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 80), 82).back(), 0xB1);
    const TBytes shortReply = host.Send(ReadFrame(FlashStart, 80), 82, CutShortMs);
    EXPECT_EQ(shortReply[9], 0xFF);
    EXPECT_EQ(shortReply[10], 0x00);
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 2), 4), (TBytes{0x45, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 2), 4), (TBytes{'D', 0xFF, 0xFF, 0xFE}));
}

TEST(BoardFaults, AnswersLateFollowedByMoreOrFlooding) {
    TBoardConfig config = Eb40a();
    config.Faults = [] {
        TFaultPlan plan;
        std::string error;
        for (const char* text :
             {"sync=extra:5A4E", "E#0=late:600", "E#1=flood:41", "D#0@1=lost", "D#1=flash"})
            EXPECT_TRUE(ParseFault(text, plan, error)) << error;
        return plan;
    }();
    THost host(config);
    ASSERT_TRUE(host.Open(115200));
    const TBytes identity = host.Send({0x80}, 16);
    EXPECT_EQ(identity[0], 'B');
    EXPECT_EQ(TBytes(identity.begin() + 14, identity.end()), (TBytes{0x5A, 0x4E}));
    EXPECT_EQ(host.Send({'A'}, 1), TBytes{'A'});

    // The late erase is carried out at once; only its answer waits.
    host.Board.LoadMemory(FlashStart, TBytes(4, 0));
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1, 100), TBytes{0});
    EXPECT_EQ(host.Board.ReadMemory(FlashStart, 4), TBytes(4, 0xFF));
    TBytes late(1);
    EXPECT_TRUE(host.Port.Read(late.data(), 1, AnswerMs));
    EXPECT_EQ(late, TBytes{'A'});

    // A lost answer: the block is written and the pointer moves on, so the block sent again
    // lands further on, as on the board.
    EXPECT_EQ(host.Send(WriteStartFrame(FlashStart, 2), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(DataFrame({1, 2}), 1, QuietMs), TBytes{0});
    EXPECT_EQ(host.Send(DataFrame({1, 2}), 1), TBytes{'A'}) << "the resend is a further attempt";
    EXPECT_EQ(host.Board.ReadMemory(FlashStart, 4), (TBytes{1, 2, 1, 2}));
    EXPECT_EQ(host.Send(DataFrame({1, 2}), 2, QuietMs), (TBytes{'F', 0})) << "no code follows";

    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 40), TBytes(40, 'A')) << "the flood goes on";
}

TEST(BoardFaults, SilenceAfterSomeFrames) {
    TBoardConfig config = Eb40a();
    std::string error;
    ASSERT_TRUE(ParseFault("silent-after:3", config.Faults, error));
    THost host(config);
    ASSERT_TRUE(host.Synchronise(115200));
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1), TBytes{'A'});
    EXPECT_EQ(host.Send(EraseFrame(FlashStart), 1, QuietMs), TBytes{0});
    EXPECT_EQ(host.Send({0x80}, 14, QuietMs), TBytes(14, 0));
    EXPECT_TRUE(host.Board.WaitForFrames(5, AnswerMs))
        << "what it no longer answers is still logged";
    EXPECT_EQ(host.Board.Frames().size(), 5u);
}

TEST(BoardFaults, HangUpClosesTheLine) {
    TBoardConfig config = Eb40a();
    std::string error;
    ASSERT_TRUE(ParseFault("hangup-after:2", config.Faults, error));
    THost host(config);
    ASSERT_TRUE(host.Synchronise(115200));
    EXPECT_EQ(host.Send(ReadFrame(FlashStart, 1), 3, QuietMs), TBytes(3, 0));
    QElapsedTimer clock;
    clock.start();
    while (!host.Board.HungUp() && clock.elapsed() < 5000)
        QThread::msleep(10);
    EXPECT_TRUE(host.Board.HungUp());
    host.Port.Close();
    EXPECT_FALSE(TComms::PortExists(host.Board.PortPath().c_str()));
}

TEST(BoardSram, StoresWhatArrivesAtAcceptedSpeeds) {
    TBoardConfig config = Eb40a();
    config.Mode = TBoardMode::Sram;
    config.AcceptedSpeeds = {115200};
    THost host(config);
    ASSERT_TRUE(host.Open(9600));
    const TBytes ignored = Pattern(10, 99);
    ASSERT_TRUE(host.Port.Write(ignored.data(), 10));
    host.Port.WaitTransmitted(2000);
    ASSERT_TRUE(host.WaitUntilIgnored(ignored.size()));
    ASSERT_TRUE(host.Open(115200));
    const TBytes image = Pattern(250, 5);
    for (size_t offset = 0; offset < image.size(); offset += 80) {
        const size_t chunk = std::min<size_t>(80, image.size() - offset);
        ASSERT_TRUE(host.Port.Write(&image[offset], static_cast<unsigned>(chunk)));
        host.Port.WaitTransmitted(2000);
    }
    QElapsedTimer clock;
    clock.start();
    while (host.Board.SramData().size() < image.size() && clock.elapsed() < 5000)
        QThread::msleep(10);
    EXPECT_EQ(host.Board.SramData(), image);
    uint8_t answer = 0;
    EXPECT_FALSE(host.Port.Read(&answer, 1, QuietMs)) << "the SRAM loader answers nothing";
}

TEST(BoardLog, StaysBoundedWhileTheBoardRunsOn) {
    // Hours of a host knocking at a speed the board does not accept.
    TBoardConfig config = Eb40a();
    config.AcceptedSpeeds = {19200};
    TBoardMonitor monitor(config);
    std::vector<uint8_t> reply;
    const size_t knocks = 3 * TBoardMonitor::MaxLoggedFrames + 7;
    for (size_t i = 0; i < knocks; ++i)
        monitor.Receive(0x80, 115200, 0, reply);
    EXPECT_TRUE(reply.empty());
    EXPECT_LE(monitor.Frames().size(), TBoardMonitor::MaxLoggedFrames);
    EXPECT_EQ(monitor.LoggedSinceClear(), knocks);
    monitor.Receive(0x80, 19200, 0, reply);
    EXPECT_EQ(reply.size(), 14u);
    EXPECT_EQ(monitor.Frames().back().Speed, 19200) << "the newest frames stay";
    monitor.ClearFrames();
    EXPECT_EQ(monitor.LoggedSinceClear(), 0u);

    // A long upload is stored whole; its log comes in records of bounded size.
    config.Mode = TBoardMode::Sram;
    config.AcceptedSpeeds.clear();
    TBoardMonitor sram(config);
    const TBytes image = Pattern(5 * TBoardMonitor::MaxRecordBytes + 11, 3);
    for (uint8_t byte : image)
        sram.Receive(byte, 115200, 0, reply);
    EXPECT_EQ(sram.SramData(), image);
    TBytes logged;
    for (const TFrameRecord& frame : sram.Frames()) {
        EXPECT_LE(frame.Bytes.size(), TBoardMonitor::MaxRecordBytes);
        logged.insert(logged.end(), frame.Bytes.begin(), frame.Bytes.end());
    }
    EXPECT_EQ(logged, image);
}

TEST(BoardLineRate, AnswersTakeTheTimeOfARealLine) {
    TBoardConfig config = Eb40a();
    config.LineRate = true;
    THost host(config);
    ASSERT_TRUE(host.Synchronise(9600));
    QElapsedTimer clock;
    clock.start();
    const TBytes reply = host.Send(ReadFrame(FlashStart, 80), 82);
    // 6 bytes out and 82 back at 960 bytes a second.
    EXPECT_GE(clock.elapsed(), 85);
    EXPECT_EQ(reply[0], 'D');
}

TEST(BoardAnnouncement, ListsTheRunningBoardAndIgnoresStaleLinks) {
    TPseudoTerminal line;
    ASSERT_TRUE(line.Open());
    {
        TPortAnnouncement announcement;
        std::string error;
        ASSERT_TRUE(announcement.Announce("EB40A-boardsim", line.SlavePath(), &error)) << error;

        // A link left by a simulator that has ended.
        const pid_t ended = fork();
        if (ended == 0)
            _exit(0);
        waitpid(ended, nullptr, 0);
        const std::string stale =
            AnnouncedPortsFolder().toStdString() + "/EB42-boardsim-" + std::to_string(ended);
        ASSERT_EQ(symlink(line.SlavePath().c_str(), stale.c_str()), 0);
        // A link left by a killed simulator whose process id now belongs to another program,
        // one that does not hold the port.
        QProcess other;
        other.start("sleep", {"60"});
        ASSERT_TRUE(other.waitForStarted(10000));
        const std::string reused = AnnouncedPortsFolder().toStdString() + "/EB55-boardsim-" +
                                   std::to_string(other.processId());
        ASSERT_EQ(symlink(line.SlavePath().c_str(), reused.c_str()), 0);
        // A link of a running process to something it holds open that is no terminal.
        const int null = ::open("/dev/null", O_RDONLY);
        const std::string notTerminal =
            AnnouncedPortsFolder().toStdString() + "/EB63-boardsim-" + std::to_string(getpid());
        ASSERT_EQ(symlink("/dev/null", notTerminal.c_str()), 0);

        const std::vector<TPortCandidate> ports = AnnouncedPorts();
        ::unlink(notTerminal.c_str());
        ::close(null);
        ASSERT_EQ(ports.size(), 1u);
        EXPECT_EQ(ports[0].Name.toStdString(), line.SlavePath());
        EXPECT_TRUE(ports[0].Simulated);
        EXPECT_TRUE(ports[0].Description.contains("EB40A-boardsim"));
        const std::vector<TPortCandidate> system = SystemPortCandidates();
        ASSERT_FALSE(system.empty());
        EXPECT_EQ(system.back().Name.toStdString(), line.SlavePath()) << "after the real ports";

        // The next simulator to start clears both away.
        TPortAnnouncement next;
        ASSERT_TRUE(next.Announce("EB63-boardsim", line.SlavePath(), &error)) << error;
        struct stat info {};
        EXPECT_NE(lstat(stale.c_str(), &info), 0);
        EXPECT_NE(lstat(reused.c_str(), &info), 0);
        EXPECT_EQ(AnnouncedPorts().size(), 2u);
        other.kill();
        other.waitForFinished(10000);
    }
    EXPECT_TRUE(AnnouncedPorts().empty()) << "withdrawn when the announcement ends";
}
