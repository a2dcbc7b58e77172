// The serial port over real pseudo-terminals.
#include "Comm.h"
#include "LocalSerialPort.h"
#include "PortClaim.h"
#include "PseudoTerminal.h"
#include "Rfc2217Port.h"
#include "ScratchDir.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string Settings(const TPseudoTerminal& line, int speed) {
    return line.SlavePath() + ":" + std::to_string(speed) + ",N,8,1";
}

// Everything the pseudo-terminal has received within a short while.
std::string Drain(TPseudoTerminal& line, int quietMs = 200) {
    std::string received;
    char buffer[4096];
    int got;
    while ((got = line.Read(buffer, sizeof buffer, quietMs)) > 0)
        received.append(buffer, static_cast<size_t>(got));
    return received;
}

// What the pseudo-terminal receives: waits for the expected number of bytes however slowly
// they come (within a generous bound), then briefly for any surplus.
std::string Receive(TPseudoTerminal& line, size_t expected) {
    std::string received;
    char buffer[4096];
    QElapsedTimer clock;
    clock.start();
    while (received.size() < expected && clock.elapsed() < 5000) {
        const int got = line.Read(buffer, sizeof buffer, 100);
        if (got < 0)
            break;
        received.append(buffer, static_cast<size_t>(got));
    }
    return received + Drain(line, 100);
}

// A line in memory: it holds bytes from before it was opened and answers each frame at once.
class TMemoryLine final : public TByteLine {
public:
    TMemoryLine(std::string held, std::string answer, int latencyTimerMs)
        : Input(std::move(held)), Answer(std::move(answer)), TimerMs(latencyTimerMs) {}
    bool Open(const TPortSettings&, const TOpenWait&) override { return true; }
    int Receive(char* bytes, int count, int) override {
        const int got = static_cast<int>(Input.copy(bytes, static_cast<size_t>(count)));
        Input.erase(0, static_cast<size_t>(got));
        return got;
    }
    bool Drain(int, const THook&) override { return true; }
    bool Send(const char*, unsigned, int, const THook&) override {
        Input += Answer;
        return true;
    }
    bool WaitSent(int, const THook&) override { return true; }
    qint64 PendingOutput() const override { return 0; }
    int Purge() override { return static_cast<int>(std::exchange(Input, {}).size()); }
    bool CheckLost() override { return false; }
    QString Error() const override { return {}; }
    TLineAbilities Abilities() const override { return {false, TimerMs}; }

private:
    std::string Input, Answer;
    int TimerMs;
};

class TCommsInMemory : public TComms {
public:
    TCommsInMemory(std::string held, std::string answer, int latencyTimerMs)
        : Held(std::move(held)), Answer(std::move(answer)), TimerMs(latencyTimerMs) {}

protected:
    std::unique_ptr<TByteLine> NewLine(const QString&) override {
        return std::make_unique<TMemoryLine>(Held, Answer, TimerMs);
    }

private:
    std::string Held, Answer;
    int TimerMs;
};

class CommTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Line.Open()); }
    TPseudoTerminal Line;
};

} // namespace

TEST(PortSettingsText, ReadsEveryField) {
    TPortSettings s;
    ASSERT_TRUE(ParsePortSettings("COM1:9600,N,8,1", s));
    EXPECT_EQ(s.Device, "COM1");
    EXPECT_EQ(s.BaudRate, 9600);
    EXPECT_EQ(s.Parity, 'N');
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.StopBits, 10);

    ASSERT_TRUE(ParsePortSettings("/dev/ttyUSB0: 115200 , e , 7 , 1.5", s));
    EXPECT_EQ(s.Device, "/dev/ttyUSB0");
    EXPECT_EQ(s.BaudRate, 115200);
    EXPECT_EQ(s.Parity, 'E');
    EXPECT_EQ(s.DataBits, 7);
    EXPECT_EQ(s.StopBits, 15);

    ASSERT_TRUE(ParsePortSettings("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0:9600", s));
    EXPECT_EQ(s.Device, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0");
    EXPECT_EQ(s.BaudRate, 9600);

    ASSERT_TRUE(ParsePortSettings("ttyS0:1200,s,5,2", s));
    EXPECT_EQ(s.Parity, 'S');
    EXPECT_EQ(s.StopBits, 20);
}

TEST(PortSettingsText, RefusesMalformedTexts) {
    TPortSettings s;
    for (const char* text :
         {"", "COM1", ":9600,N,8,1", "COM1:", "COM1:,N,8,1", "COM1:96OO,N,8,1", "COM1:0,N,8,1",
          "COM1:9600,X,8,1", "COM1:9600,NE,8,1", "COM1:9600,N,9,1", "COM1:9600,N,4,1",
          "COM1:9600,N,8,3", "COM1:9600,N,8,1,X", "COM1:9600,N,8,", "COM1:99999999999,N,8,1"})
        EXPECT_FALSE(ParsePortSettings(text, s)) << text;
    EXPECT_FALSE(ParsePortSettings(nullptr, s));
}

TEST_F(CommTest, NoTextOrAnEmptyOneMeansTheDefault) {
    TComms port;
    EXPECT_FALSE(port.Open());
    EXPECT_STREQ(port.GetSettings(), "COM1:9600,N,8,1");
    EXPECT_FALSE(port.Open(""));
    EXPECT_STREQ(port.GetSettings(), "COM1:9600,N,8,1");
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.LastError().contains("does not exist")) << port.LastError().toStdString();
}

// Stable device names are long, and some hold colons; the whole text is kept and opens the
// port at the speed it names (a cut once opened such a port at 11 baud).
TEST_F(CommTest, LongDeviceNamesOpenAtTheirSpeed) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const struct {
        const char* Name;
        int Speed;
    } links[] = {{"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 57600},
                 {"pci-0000:00:14.0-usb-0:2:1.0-port0", 115200}};
    for (const auto& c : links) {
        const std::string link = folder.filePath(c.Name).toStdString();
        ASSERT_EQ(::symlink(Line.SlavePath().c_str(), link.c_str()), 0) << link;
        const std::string text = link + ":" + std::to_string(c.Speed) + ",N,8,1";
        TComms port(text.c_str());
        EXPECT_TRUE(port.IsOpen()) << port.LastError().toStdString();
        EXPECT_EQ(std::string(port.GetSettings()), text);
        EXPECT_EQ(Line.LineSpeed(), c.Speed) << c.Name;
    }
}

TEST_F(CommTest, SetsTheLineSpeedAndReopensWithNewSettings) {
    TComms port(Settings(Line, 115200).c_str());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(Line.LineSpeed(), 115200);
    ASSERT_TRUE(port.Open(Settings(Line, 19200).c_str()));
    EXPECT_EQ(Line.LineSpeed(), 19200);
    EXPECT_TRUE(port.LastError().isEmpty());
    int dataBits = 0, stopBits = 0;
    char parity = '?';
    ASSERT_TRUE(Line.LineFormat(dataBits, parity, stopBits));
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(parity, 'N');
    EXPECT_EQ(stopBits, 1);

    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told; speed and stop
    // bits show.
    ASSERT_TRUE(port.Open((Line.SlavePath() + ":4800,N,8,2").c_str()))
        << port.LastError().toStdString();
    ASSERT_TRUE(Line.LineFormat(dataBits, parity, stopBits));
    EXPECT_EQ(Line.LineSpeed(), 4800);
    EXPECT_EQ(stopBits, 2);

    // Serial ports here have no 1.5 stop bits; refusing beats sending one.
    EXPECT_FALSE(port.Open((Line.SlavePath() + ":4800,N,5,1.5").c_str()));
    EXPECT_TRUE(port.LastError().contains("1.5"));
    EXPECT_FALSE(port.Open("COM1:9600,Q,8,1"));
    EXPECT_FALSE(port.IsOpen()) << "a failed Open leaves the port closed";
}

TEST_F(CommTest, OpensExclusively) {
    TComms first(Settings(Line, 9600).c_str());
    ASSERT_TRUE(first.IsOpen());
    TComms second(Settings(Line, 9600).c_str());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(second.LastError().contains("busy")) << second.LastError().toStdString();
    EXPECT_FALSE(TComms::PortExists(Line.SlavePath().c_str()));

    first.Close();
    first.Close();
    EXPECT_FALSE(first.IsOpen());
    EXPECT_TRUE(second.Open(Settings(Line, 9600).c_str()));
}

TEST_F(CommTest, ADeniedPortSaysSoRatherThanBusy) {
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not hold for root";
    ASSERT_EQ(chmod(Line.SlavePath().c_str(), 0), 0);
    TComms port(Settings(Line, 9600).c_str());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.LastError().startsWith("Permission denied")) << port.LastError().toStdString();
    EXPECT_FALSE(TComms::PortExists(Line.SlavePath().c_str()));
}

TEST_F(CommTest, PortExistsLeavesThePortClosed) {
    EXPECT_TRUE(TComms::PortExists(Line.SlavePath().c_str()));
    TComms port(Settings(Line, 9600).c_str());
    EXPECT_TRUE(port.IsOpen()) << "the probe must not keep the port";
    EXPECT_FALSE(TComms::PortExists("/dev/korvex-no-such-port"));
    EXPECT_FALSE(TComms::PortExists(""));
}

TEST_F(CommTest, OpeningStartsWithNothingReceived) {
    // A late answer to an earlier operation is not taken for the answer to the next one.
    {
        TComms earlier(Settings(Line, 115200).c_str());
        ASSERT_TRUE(earlier.IsOpen());
    }
    ASSERT_TRUE(Line.Write("late", 4));
    TComms port(Settings(Line, 57600).c_str());
    ASSERT_TRUE(port.IsOpen());
    uint8_t stale[4];
    EXPECT_FALSE(port.Read(stale, 4, 300));
    ASSERT_TRUE(Line.Write("B", 1));
    EXPECT_EQ(port.ReadByte(2000), 'B');

    // So does a purge, before each frame: it says how much it found.
    ASSERT_TRUE(Line.Write("late", 4));
    uint8_t first = 0;
    ASSERT_EQ(port.ReadAvailable(&first, 1, 2000), 1);
    EXPECT_EQ(port.Purge(), 3);
    EXPECT_EQ(port.Purge(), 0);
    ASSERT_TRUE(Line.Write("C", 1));
    EXPECT_EQ(port.ReadByte(2000), 'C');
}

TEST_F(CommTest, ExchangesBytesBothWays) {
    TComms port(Settings(Line, 115200).c_str());
    ASSERT_TRUE(port.IsOpen());
    std::vector<uint8_t> frame(82);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(port.Write(frame.data(), static_cast<unsigned>(frame.size())));
    port.WaitTransmitted(2000);
    EXPECT_EQ(Receive(Line, frame.size()), std::string(frame.begin(), frame.end()));

    ASSERT_TRUE(Line.Write("\x00\x41xyz", 5));
    uint8_t reply[5];
    ASSERT_TRUE(port.Read(reply, 5, 2000));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 5), std::string("\x00\x41xyz", 5));

    ASSERT_TRUE(Line.Write("A", 1));
    EXPECT_EQ(port.ReadByte(2000), 'A');
    EXPECT_TRUE(port.WriteByte(0x80));
    EXPECT_EQ(Receive(Line, 1), "\x80");
}

TEST_F(CommTest, AShortReplyFailsWithWhatArrivedAndZerosAfterIt) {
    TComms port(Settings(Line, 115200).c_str());
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(Line.Write("0123456789", 10));
    uint8_t buffer[14];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(port.Read(buffer, 14, 300));
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
    for (int i = 10; i < 14; ++i)
        EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_GE(elapsed, 250) << "the read waits for its time-out";
    EXPECT_LT(elapsed, 3000);
}

TEST_F(CommTest, TheTimeOutCountsFromTheStartOfTheRead) {
    // Bytes keep trickling in until the read has ended: they must not extend the wait. A read
    // that restarted its time-out with every byte would only end when the trickle stops.
    TComms port(Settings(Line, 115200).c_str());
    ASSERT_TRUE(port.IsOpen());
    std::atomic<bool> readEnded{false};
    std::thread trickle([&] {
        for (int i = 0; i < 100 && !readEnded; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            Line.Write("x", 1);
        }
    });
    uint8_t buffer[200];
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(port.Read(buffer, 200, 400));
    const qint64 elapsed = clock.elapsed();
    readEnded = true;
    trickle.join();
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(buffer[0], 'x');
}

TEST_F(CommTest, AClosedPortFailsAtOnce) {
    TComms port;
    EXPECT_FALSE(port.IsOpen());
    uint8_t buffer[4] = {1, 2, 3, 4};
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(port.Read(buffer, 4, 2000));
    EXPECT_EQ(port.ReadByte(2000), 0);
    EXPECT_FALSE(port.Write(buffer, 4));
    EXPECT_FALSE(port.WriteByte(1));
    port.WaitTransmitted(2000);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(buffer[0] | buffer[1] | buffer[2] | buffer[3], 0) << "a failed read leaves zeros";
}

TEST_F(CommTest, AWriteThatCannotDrainSendsNothing) {
    // Nobody reads the other end: the line fills and stays full.
    TComms port(Settings(Line, 460800).c_str());
    ASSERT_TRUE(port.IsOpen());
    const std::string bulk(32768, 'x');
    int hookCalls = 0;
    const std::function<void()> hook = [&hookCalls] { ++hookCalls; };
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(port.Write(bulk.data(), static_cast<unsigned>(bulk.size()), hook));
    // Two seconds and more: the window keeps painting meanwhile.
    EXPECT_GT(hookCalls, 2);
    EXPECT_FALSE(port.WriteByte('Z'));
    EXPECT_LT(clock.elapsed(), 15000);

    // What the driver did not take is dropped, never sent into a later frame.
    const std::string received = Drain(Line);
    EXPECT_EQ(received.find('Z'), std::string::npos);
    EXPECT_LT(received.size(), bulk.size());
    EXPECT_EQ(port.PendingOutput(), 0);
    ASSERT_TRUE(port.WriteByte('Y'));
    EXPECT_EQ(Receive(Line, 1), "Y");
}

TEST(ByteLine, TheLineIsChosenByThePortsName) {
    const struct {
        const char* Device;
        bool Network;
    } cases[] = {{"rfc2217://board-host:4001", true},
                 {"RFC2217://10.0.0.7:2217", true},
                 {"/dev/ttyUSB0", false},
                 {"usb:0403:6001", false},
                 {"rfc2217.example", false}};
    for (const auto& c : cases) {
        const std::unique_ptr<TByteLine> line = MakeByteLine(QString::fromLatin1(c.Device));
        EXPECT_EQ(dynamic_cast<TRfc2217Port*>(line.get()) != nullptr, c.Network) << c.Device;
        EXPECT_EQ(dynamic_cast<TLocalSerialPort*>(line.get()) != nullptr, !c.Network) << c.Device;
    }
}

// Whatever the line, each frame starts on a clean line, the answers are timed and the line's
// abilities reach the caller.
TEST(ByteLine, TheTimingAndTheCleanStartHoldForAnyLine) {
    constexpr int Frames = 3;
    const struct {
        const char* Name;
        const char* Held; // at opening: a late answer to an earlier operation
        const char* Answer;
        int LatencyTimerMs;
    } cases[] = {{"a USB adapter", "", "A", 16},
                 {"a late answer from before", "NNN", "A", -1},
                 {"stray bytes after each answer", "", "Axy", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCommsInMemory port(c.Held, c.Answer, c.LatencyTimerMs);
        std::vector<TTurnaroundFigures> told;
        port.Turnaround().Measured = [&told](const TTurnaroundFigures& f) { told.push_back(f); };
        ASSERT_TRUE(port.Open("memory:9600,N,8,1"));
        EXPECT_EQ(port.LatencyTimerMs(), c.LatencyTimerMs);
        const int stray = static_cast<int>(std::strlen(c.Answer)) - 1;
        for (int frame = 0; frame < Frames; ++frame) {
            EXPECT_EQ(port.Purge(), frame == 0 ? 0 : stray) << "frame " << frame;
            ASSERT_TRUE(port.WriteByte('F'));
            EXPECT_EQ(port.ReadByte(0), 'A') << "frame " << frame;
        }
        port.Close();
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].Samples, Frames);
        EXPECT_EQ(told[0].Speed, 9600);
    }
}

// A name that is no UTF-8 opens the device all the same; one another program holds in exclusive
// mode does not, for root too, and the port list does not offer it.
TEST_F(CommTest, ADeviceOpensByItsBytesUnlessAnotherProgramHoldsIt) {
    TScratchDir folder;
    const std::string odd = folder.Path() + "/port-\xFF\xFE";
    ASSERT_EQ(::symlink(Line.SlavePath().c_str(), odd.c_str()), 0);
    {
        TComms port((odd + ":9600,N,8,1").c_str());
        ASSERT_TRUE(port.IsOpen()) << port.LastError().toStdString();
        ASSERT_TRUE(port.Write("X", 1));
        EXPECT_EQ(Receive(Line, 1), "X");
    }
    const int other = ::open(Line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
    TComms port(Settings(Line, 9600).c_str());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.LastError().contains("busy")) << port.LastError().toStdString();
    EXPECT_FALSE(TComms::PortExists(Line.SlavePath().c_str()));
    ::ioctl(other, TIOCNXCL);
    ::close(other);
}

// Another program's hold on the device, made here through a descriptor of its own or a lock file
// in the test's lock folder; the claim must keep out, for root too.
TEST_F(CommTest, AClaimKeepsOutOfAPortAnotherProgramHolds) {
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string device = Line.SlavePath();
    const std::string name = device.substr(device.rfind('/') + 1);
    const std::string qtName = "pts_" + name;
    struct TCase {
        const char* Name;
        int Hold;             // 0 none, 1 exclusive mode, 2 flock
        std::string LockFile; // name after "LCK.."
        std::string LockText; // its content
        const char* Refusal;  // the reason's start; empty: the claim is granted
    };
    const int32_t binaryPid = getppid();
    const std::vector<TCase> cases = {
        {"free", 0, "", "", ""},
        {"exclusive mode", 1, "", "", "another program has it open in exclusive mode"},
        {"advisory lock", 2, "", "", "another program holds a lock on it"},
        {"UUCP lock", 0, name, "      " + std::to_string(getppid()) + "\n", "process "},
        {"library's lock", 0, qtName, std::to_string(getppid()) + "\nterm\nhost\n", "process "},
        {"binary lock", 0, name, std::string(reinterpret_cast<const char*>(&binaryPid), 4),
         "process "},
        {"stale lock", 0, name, "      " + std::to_string(gone) + "\n", ""},
        {"own lock", 0, name, "      " + std::to_string(getpid()) + "\n", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScratchDir locks;
        if (!c.LockFile.empty())
            std::ofstream(locks.Path() + "/LCK.." + c.LockFile, std::ios::binary) << c.LockText;
        const int other = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(other, 0);
        if (c.Hold == 1) {
            ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
        } else if (c.Hold == 2) {
            ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        }
        TPortClaim claim;
        std::string reason;
        EXPECT_EQ(claim.Claim(device, reason, {locks.Path()}),
                  *c.Refusal ? TClaim::Held : TClaim::Granted)
            << reason;
        EXPECT_EQ(reason.rfind(c.Refusal, 0), 0u) << reason;
        if (!*c.Refusal) { // held now: a second claim, as of another Korvex, keeps out
            TPortClaim second;
            EXPECT_EQ(second.Claim(device, reason, {locks.Path()}), TClaim::Held);
        }
        ::ioctl(other, TIOCNXCL);
        ::close(other);
    }
}
