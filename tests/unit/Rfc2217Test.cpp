// The network port: its Telnet side against a small server in this process, and korvex-cli
// through ser2net in front of a simulated board.
#include "BoardTestKit.h"
#include "Comm.h"
#include "Eventually.h"
#include "ImageFileTestKit.h"
#include "Ser2net.h"

#include <QHostAddress>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <memory>

using namespace boardtest;
using imagetest::Q;
using imagetest::TScratch;

namespace {

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (int value : values)
        bytes.append(static_cast<char>(value));
    return bytes;
}

// What this side sends first: WILL COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD, DO BINARY and
// SUPPRESS-GO-AHEAD; then DONT ECHO, in answer to the greeting's WILL ECHO.
const QByteArray Hello = Bytes({255, 251, 44, 255, 251, 0, 255, 251, 3, 255, 253, 0, 255, 253, 3});
const QByteArray DontEcho = Bytes({255, 254, 1});
const QByteArray PurgeReceived = Bytes({255, 250, 44, 12, 1, 255, 240});

enum class TPeerMode { Agree, RefuseOption, Silent, Busy, OtherSpeed };

// A COM-PORT-OPTION server on its own thread: greets as ser2net does, confirms each SET-...
// (unless told otherwise), records what it receives and sends what the test gives it.
class TPeer {
public:
    explicit TPeer(TPeerMode mode) : Mode(mode) {
        Thread.reset(QThread::create([this] { Run(); }));
        Thread->start();
        EXPECT_EVENTUALLY(Port != 0);
    }
    ~TPeer() {
        Stopping = true;
        Thread->wait();
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(Port); }
    QByteArray Received() const {
        QMutexLocker hold(&Lock);
        return Log;
    }
    void Send(const QByteArray& bytes) {
        QMutexLocker hold(&Lock);
        Outgoing += bytes;
    }
    std::atomic<bool> Drop{false};

private:
    void Run() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        Port = server.serverPort();
        while (!Stopping && !server.waitForNewConnection(20)) {
        }
        std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
        if (!client)
            return;
        Greet(*client);
        while (!Stopping && !Drop && client->state() == QAbstractSocket::ConnectedState) {
            client->waitForReadyRead(10);
            QMutexLocker hold(&Lock);
            Log += client->readAll();
            client->write(Outgoing + Confirmations());
            Outgoing.clear();
            if (client->bytesToWrite() > 0)
                client->waitForBytesWritten(10);
        }
    }
    void Greet(QTcpSocket& client) {
        if (Mode == TPeerMode::Busy)
            client.write("Port already in use\r\n");
        if (Mode == TPeerMode::RefuseOption)
            client.write(Bytes({255, 254, 44}));
        if (Mode == TPeerMode::Agree || Mode == TPeerMode::OtherSpeed)
            client.write(Bytes({255, 253, 44, 255, 251, 1, 255, 251, 0, 255, 253, 0}));
        client.waitForBytesWritten(100);
        if (Mode == TPeerMode::Busy)
            client.disconnectFromHost();
    }
    // Answers every SET-... in the log not yet answered with the value asked for (a speed of
    // 9600 instead for OtherSpeed), its 0xFF doubled again.
    QByteArray Confirmations() {
        QByteArray answers;
        const QByteArray start = Bytes({255, 250, 44}), end = Bytes({255, 240});
        for (qsizetype at = Log.indexOf(start, Answered); at >= 0; at = Log.indexOf(start, at)) {
            const qsizetype stop = Log.indexOf(end, at);
            if (stop < 0)
                break;
            const int command = static_cast<uint8_t>(Log[at + 3]);
            QByteArray value = Log.mid(at + 4, stop - at - 4);
            if (command == 1 && Mode == TPeerMode::OtherSpeed)
                value = Bytes({0, 0, 0x25, 0x80});
            if (command >= 1 && command <= 4)
                answers += start + char(command + 100) + value + end;
            at = Answered = stop + 2;
        }
        return answers;
    }

    TPeerMode Mode;
    std::unique_ptr<QThread> Thread;
    std::atomic<int> Port{0};
    std::atomic<bool> Stopping{false};
    mutable QMutex Lock;
    QByteArray Log, Outgoing;
    qsizetype Answered = 0;
};

std::string Open(TComms& port, const std::string& url, const char* line) {
    const std::string settings = url + ":" + line;
    return port.Open(settings.c_str()) ? "" : port.LastError().toStdString();
}

std::string FreeUrl() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return "rfc2217://127.0.0.1:" + std::to_string(probe.serverPort());
}

} // namespace

TEST(Rfc2217, OpeningAgreesOnTheOptionAndSetsTheLineOrSaysWhyNot) {
    const QByteArray line57600E72 = Bytes({255, 250, 44, 1, 0, 0,   0xE1, 0, 255, 240, // baud
                                           255, 250, 44, 2, 7, 255, 240,               // data
                                           255, 250, 44, 3, 3, 255, 240,               // even
                                           255, 250, 44, 4, 2, 255, 240});             // stop
    const QByteArray line255N81 =
        Bytes({255, 250, 44,  1,   0,   0,   0,   255, 255, 255, 240, // 255
               255, 250, 44,  2,   8,   255, 240, 255, 250, 44,  3,
               1,   255, 240, 255, 250, 44,  4,   1,   255, 240});
    struct TCase {
        const char* Name;
        TPeerMode Mode;
        const char* Line;
        QByteArray Sent;   // after the greeting's answers; the purge of the opening follows
        std::string Error; // %s: the port's name
    } cases[] = {
        {"line settings", TPeerMode::Agree, "57600,E,7,2", line57600E72, ""},
        {"a speed holding 0xFF", TPeerMode::Agree, "255,N,8,1", line255N81, ""},
        {"option refused",
         TPeerMode::RefuseOption,
         "115200",
         {},
         "%s: the server refuses serial port control (RFC 2217): it serves the port without it."},
        {"server silent",
         TPeerMode::Silent,
         "115200",
         {},
         "%s: the server did not agree to serial port control (RFC 2217) within 3 s: is it an "
         "RFC 2217 port?"},
        {"port busy",
         TPeerMode::Busy,
         "115200",
         {},
         "%s: the server closed the connection, saying \"Port already in use\"."},
        {"speed not taken",
         TPeerMode::OtherSpeed,
         "115200",
         {},
         "%s does not accept these line settings: the server kept its port at other ones."},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TPeer peer(test.Mode);
        TComms port;
        std::string error = test.Error;
        if (!error.empty())
            error.replace(error.find("%s"), 2, peer.Url());
        EXPECT_EQ(Open(port, peer.Url(), test.Line), error);
        EXPECT_EQ(port.IsOpen(), error.empty());
        if (error.empty()) {
            EXPECT_EVENTUALLY(peer.Received() == Hello + DontEcho + test.Sent + PurgeReceived);
        }
    }
    TComms port;
    const std::string nobody = FreeUrl();
    EXPECT_EQ(Open(port, nobody, "115200"),
              nobody + ": the connection was refused: nothing serves port " +
                  nobody.substr(nobody.rfind(':') + 1) + " on 127.0.0.1.");
    EXPECT_EQ(Open(port, "rfc2217://127.0.0.1", "115200"),
              "rfc2217://127.0.0.1 is not a network port: expected rfc2217://HOST:PORT.");
}

TEST(Rfc2217, DataPassWithTelnetTakenOutAndTheServerPurgedBeforeEachFrame) {
    TPeer peer(TPeerMode::Agree);
    TComms port;
    ASSERT_EQ(Open(port, peer.Url(), "115200"), "");
    const qsizetype opened = Hello.size() + DontEcho.size() + 31 + PurgeReceived.size();
    EXPECT_EVENTUALLY(peer.Received().size() == opened);

    // 0xFF doubled both ways; a NOP and a modem-state notification in the middle never arrive.
    ASSERT_TRUE(port.Write("\x01\xFF\x02", 3));
    peer.Send(Bytes({3, 255, 255, 255, 241, 255, 250, 44, 107, 0, 255, 240, 4, 255, 255}));
    char got[8] = {};
    int count = 0;
    for (int round = 0; round < 20 && count < 4; ++round)
        count += port.ReadAvailable(got + count, 8 - count, 100);
    EXPECT_EQ(QByteArray(got, count), Bytes({3, 255, 4, 255}));
    EXPECT_EVENTUALLY(peer.Received().mid(opened) == Bytes({1, 255, 255, 2}));

    // What came unasked is discarded here, and the server purges its side before the frame.
    peer.Send("xyz");
    QThread::msleep(100);
    EXPECT_EQ(port.Purge(), 3);
    ASSERT_TRUE(port.Write("A", 1));
    EXPECT_EVENTUALLY(peer.Received().mid(opened + 4) == PurgeReceived + "A");
    EXPECT_EQ(port.ReadAvailable(got, 8, 50), 0);

    // A dropped connection ends the wait at once and says which port it was.
    peer.Drop = true;
    EXPECT_EQ(port.ReadAvailable(got, 8, 5000), -1);
    EXPECT_TRUE(port.LineLost());
    EXPECT_EQ(port.LastError().toStdString(),
              peer.Url() + ": the connection to the server was lost (The remote host closed the "
                           "connection).");
}

namespace {

const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");
// EB40A's first unprotected sector.
constexpr uint32_t Free = 0x01040000;

struct TRun {
    int ExitCode = -1;
    std::string Out, Err;
};

// korvex-cli; meanwhile runs while it does.
TRun RunCli(const QStringList& arguments, const std::function<void()>& meanwhile) {
    QProcess process;
    process.start(CliPath, arguments);
    EXPECT_TRUE(process.waitForStarted());
    if (meanwhile)
        meanwhile();
    EXPECT_TRUE(process.waitForFinished(60000)) << "korvex-cli did not finish";
    return {process.exitCode(), process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

TBoardConfig Eb40a(const std::vector<int>& speeds, bool lineRate) {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    config.AcceptedSpeeds = speeds;
    config.LineRate = lineRate;
    return config;
}

} // namespace

TEST(Rfc2217, KorvexCliWorksThroughSer2net) {
    ASSERT_TRUE(TSer2net::Installed()) << "ser2net is missing: run scripts/install-deps.sh";
    TScratch scratch;
    // Every byte value, 0xFF (Telnet's escape) among them, and runs of it.
    TBytes image = imagetest::RandomBytes(3000, 7);
    std::fill(image.begin() + 500, image.begin() + 700, uint8_t{0xFF});
    const QString file = Q(scratch.Write("image.bin", image));
    const QString out = Q(scratch.Path("read.bin"));
    const QString free = "0x01040000";
    struct TCase {
        const char* Name;
        std::vector<int> Speeds; // the board's; empty: every speed
        bool Loaded;             // the board's flash holds the image already
        bool DropAfterFrames;    // ser2net is killed while the board is being programmed
        QStringList Arguments;
        int ExitCode;
        std::string Output; // stdout, or with a failure the end of stderr; %s: the port
    } cases[] = {
        {"sync, the far side down to 19200",
         {19200},
         false,
         false,
         {"sync"},
         0,
         "CD:           156 (19200 baud)\nBase address: 0x01000000\nLink speed: 19200\n"},
        {"program, flash checked",
         {},
         false,
         false,
         {"program", file, "-a", free, "--readback", "--json"},
         0,
         "\"port\":\"%s\""},
        {"verify with read-back",
         {},
         true,
         false,
         {"verify", file, "-a", free, "--readback"},
         0,
         "3000 bytes at 0x01040000 read back OK.\n"},
        {"read",
         {},
         true,
         false,
         {"read", free, "3000", "-o", out},
         0,
         "3000 bytes at 0x01040000 written to " + out.toStdString() + ".\n"},
        {"connection dropped while programming",
         {},
         false,
         true,
         {"program", file, "-a", free},
         1,
         "%s: the connection to the server was lost (The remote host closed the connection).\n"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TBoardSim board(Eb40a(test.Speeds, test.DropAfterFrames));
        ASSERT_TRUE(board.Start());
        if (test.Loaded)
            board.LoadMemory(Free, image);
        TSer2net server(board.PortPath());
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        const std::function<void()> drop = [&] {
            EXPECT_TRUE(board.WaitForFrames(20, 20000));
            server.Kill();
        };
        const TRun run = RunCli(QStringList(test.Arguments) << "-p" << Q(server.Url()),
                                test.DropAfterFrames ? drop : std::function<void()>());
        EXPECT_EQ(run.ExitCode, test.ExitCode) << run.Err;
        std::string expected = test.Output;
        if (expected.find("%s") != std::string::npos)
            expected.replace(expected.find("%s"), 2, server.Url());
        const std::string& shown = test.ExitCode == 0 ? run.Out : run.Err;
        EXPECT_NE(shown.find(expected), std::string::npos) << shown;
        if (!test.Speeds.empty()) {
            EXPECT_EQ(board.SyncedSpeed(), 19200);
        }
        if (test.Arguments[0] == "read") {
            EXPECT_EQ(TScratch::ReadBytes(out.toStdString()), image);
        }
        if (test.Arguments[0] == "program" && test.ExitCode == 0) {
            EXPECT_EQ(board.ReadMemory(Free, static_cast<uint32_t>(image.size())), image);
        }
    }
}
