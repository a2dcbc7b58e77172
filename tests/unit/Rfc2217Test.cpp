// The network port through ser2net: its own side in front of a pseudo-terminal, and korvex-cli
// in front of a simulated board.
#include "BoardTestKit.h"
#include "BootMonitor.h"
#include "Comm.h"
#include "Eventually.h"
#include "ImageFileTestKit.h"
#include "MonitorMessages.h"
#include "PseudoTerminal.h"
#include "ScriptedServer.h"
#include "Ser2net.h"
#include "SilentBoard.h"
#include "TelnetDecoder.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QtEndian>

using namespace boardtest;
using imagetest::Q;
using imagetest::TScratch;

namespace {

// The far port as ser2net serves it: a pseudo-terminal whose line settings can be read back.
struct TFarPort {
    TFarPort() { EXPECT_TRUE(Line.Open()); }
    TPseudoTerminal Line;
};

std::string Open(TComms& port, const std::string& url, const char* line) {
    const std::string settings = url + ":" + line;
    return port.Open(settings.c_str()) ? "" : port.LastError().toStdString();
}

std::string Started(TSer2net& server) {
    std::string error;
    EXPECT_TRUE(server.Start(&error)) << error;
    return server.Url();
}

} // namespace

TEST(Rfc2217, OpeningSetsTheFarLineOrSaysWhyNot) {
    TFarPort far;
    TSer2net server(far.Line.SlavePath()), withoutOption(far.Line.SlavePath(), false, false),
        held(far.Line.SlavePath());
    const std::string url = Started(server), plainTelnet = Started(withoutOption);
    TComms holder;
    ASSERT_EQ(Open(holder, Started(held), "115200"), "");
    QTcpServer silent, closed;
    silent.listen(QHostAddress::LocalHost);
    closed.listen(QHostAddress::LocalHost);
    const std::string nobody = std::to_string(closed.serverPort());
    closed.close();
    struct TCase {
        std::string Url;
        const char* Line;
        // As the far line has them. Linux keeps a pseudo-terminal at 8 bits without parity
        // whatever it is told: data bits and parity are checked on the scripted server.
        int Speed, StopBits;
        std::string Error; // %s: the port
    } cases[] = {
        {url, "57600,E,7,2", 57600, 2, ""},
        {url, "9600,O,8,1", 9600, 1, ""},
        {url, "1200", 1200, 1, ""},
        {plainTelnet, "115200", 0, 0,
         "%s: the server refuses serial port control (RFC 2217): it serves the port without it."},
        {"rfc2217://127.0.0.1:" + std::to_string(silent.serverPort()), "115200", 0, 0,
         "%s: the server did not agree to serial port control (RFC 2217) within 3 s: is it an "
         "RFC 2217 port?"},
        {held.Url(), "115200", 0, 0,
         "%s: the server closed the connection, saying \"Port already in use\"."},
        {"rfc2217://127.0.0.1:" + nobody, "115200", 0, 0,
         "%s: the connection was refused: nothing serves port " + nobody + " on 127.0.0.1."},
        {"rfc2217://127.0.0.1", "115200", 0, 0,
         "%s is not a network port: expected rfc2217://HOST:PORT."},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Url + ":" + test.Line);
        TComms port;
        std::string error = test.Error;
        if (!error.empty())
            error.replace(error.find("%s"), 2, test.Url);
        EXPECT_EQ(Open(port, test.Url, test.Line), error);
        if (!error.empty())
            continue;
        int dataBits = 0, stopBits = 0;
        char parity = 0;
        ASSERT_TRUE(far.Line.LineFormat(dataBits, parity, stopBits));
        EXPECT_EQ(far.Line.LineSpeed(), test.Speed);
        EXPECT_EQ(stopBits, test.StopBits);
    }
}

TEST(Rfc2217, DataPassWholeUntilTheConnectionDrops) {
    TFarPort far;
    TSer2net server(far.Line.SlavePath());
    TComms port;
    ASSERT_EQ(Open(port, Started(server), "115200"), "");
    char got[8] = {};

    // 0xFF is Telnet's escape: doubled on the way and single again at either end.
    ASSERT_TRUE(port.Write("\x01\xFF\xFF\x02", 4));
    int count = 0;
    for (int round = 0; round < 20 && count < 4; ++round)
        count += std::max(far.Line.Read(got + count, 8 - count, 100), 0);
    EXPECT_EQ(std::string(got, count), "\x01\xFF\xFF\x02");
    ASSERT_TRUE(far.Line.Write("\x03\xFF\x04", 3));
    ASSERT_TRUE(port.Read(got, 3, 2000));
    EXPECT_EQ(std::string(got, 3), "\x03\xFF\x04");

    // What came unasked is gone before the next frame, whether it had reached this side yet
    // or was still on its way.
    ASSERT_TRUE(far.Line.Write("xyz", 3));
    port.Purge();
    ASSERT_TRUE(port.Write("q", 1));
    EXPECT_EQ(far.Line.Read(got, 1, 2000), 1);
    ASSERT_TRUE(far.Line.Write("ok", 2));
    ASSERT_TRUE(port.Read(got, 2, 2000));
    EXPECT_EQ(std::string(got, 2), "ok");

    // A dropped connection ends the wait at once and names the port.
    server.Kill();
    EXPECT_EQ(port.ReadAvailable(got, 8, 5000), -1);
    EXPECT_TRUE(port.LineLost());
    EXPECT_EQ(port.LastError().toStdString(),
              server.Url() + ": the connection to the server was lost.");
}

namespace {

TServerScript Script(const std::function<void(TServerScript&)>& change) {
    TServerScript script;
    change(script);
    return script;
}

QByteArray ComPortAnswer(uint8_t command, const QByteArray& value = {}) {
    return telnet::Subnegotiation(telnet::ComPortOption, command + 100, value);
}

std::string WithPort(std::string text, const std::string& port) {
    for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s"))
        text.replace(at, 2, port);
    return text;
}

} // namespace

TEST(Rfc2217, HoldsAServerToTheRulesOfALocalPort) {
    const char* notBinary =
        "%s: the server will not pass 8-bit data (it does not agree to Telnet's "
        "binary mode both ways). ser2net always does; on another server, turn "
        "its binary option on.";
    const char* otherSpeed =
        "%s does not accept these line settings: the server kept its port at other ones.";
    struct TCase {
        const char* Name;
        TServerScript Server;
        std::string Error; // on opening; %s: the port
    } cases[] = {
        {"binary refused", Script([](TServerScript& s) { s.Binary = false; }), notBinary},
        {"another speed confirmed",
         Script([](TServerScript& s) { s.AnswerWith[1] = QByteArray("\0\0\xE1\0", 4); }),
         otherSpeed},
        {"a stale byte ahead of each purge answer",
         Script([](TServerScript& s) { s.Before[12] = "Z"; }), ""},
        {"purges never answered", Script([](TServerScript& s) { s.Unanswered = {12}; }), ""},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TScriptedServer server(test.Server);
        ASSERT_TRUE(server.Start());
        TComms port;
        const std::string error = Open(port, server.Url(), "115200,E,7,2");
        EXPECT_EQ(error, WithPort(test.Error, server.Url()));
        if (!error.empty())
            continue;
        const auto requests = server.Requests();
        const auto asked = [&](uint8_t command, char value) {
            return std::any_of(requests.begin(), requests.end(), [&](const auto& request) {
                return request.Command == command && request.Value == QByteArray(1, value);
            });
        };
        EXPECT_TRUE(asked(2, 7) && asked(3, 3) && asked(4, 2)) << "7 bits, even parity, 2 stop";
        EXPECT_TRUE(asked(5, 1)) << "no flow control";
        EXPECT_TRUE(asked(10, 0x1E)) << "line errors reported";
        // A frame after a purge brings back its own answer and nothing older.
        port.Purge();
        ASSERT_TRUE(port.Write("ping", 4));
        char got[4] = {};
        EXPECT_TRUE(port.Read(got, 4, 2000));
        EXPECT_EQ(std::string(got, 4), "ping");
        EXPECT_EQ(server.Requested(12), 3) << "purged on opening, once open and before the frame";
    }
}

TEST(Rfc2217, SendsNothingWhileTheServerSaysToWait) {
    TScriptedServer server({});
    ASSERT_TRUE(server.Start());
    TComms port;
    ASSERT_EQ(Open(port, server.Url(), "115200"), "");
    char got[1] = {};
    server.Say(ComPortAnswer(8) + "s");
    ASSERT_TRUE(port.Read(got, 1, 2000)); // the request to wait came before it
    EXPECT_FALSE(port.Write("ping", 4));
    EXPECT_FALSE(server.DataReceived().contains("ping"));
    server.Say(ComPortAnswer(9) + "r");
    ASSERT_TRUE(port.Read(got, 1, 2000));
    EXPECT_TRUE(port.Write("ping", 4));
    EXPECT_EVENTUALLY(server.DataReceived().contains("ping"));
}

TEST(Rfc2217, NamesTheServerThatStoppedAnswering) {
    TScriptedServer server({});
    ASSERT_TRUE(server.Start());
    TComms port;
    ASSERT_EQ(Open(port, server.Url(), "115200"), "");
    char got[1] = {};
    EXPECT_EQ(port.ReadAvailable(got, 1, 500), 0) << "a quiet board behind a server that answers";
    EXPECT_FALSE(port.LineLost());
    server.GoSilent();
    EXPECT_EQ(port.ReadAvailable(got, 1, 500), -1);
    EXPECT_EQ(port.LastError().toStdString(),
              server.Url() + ": the server stopped answering: the connection is half-open (the "
                             "server's machine or the network between went away).");
}

TEST(Rfc2217, CountsTheFarLinesTroubleAsADisturbedLine) {
    const QByteArray brokenOff("\xFF\xFA\x2C\x6A\x02\xFF\xF1", 7);
    struct TCase {
        const char* Name;
        TServerScript Server;
        QByteArray Said; // by the server, before a data byte
        bool Disturbed;
    } cases[] = {
        {"a clean line", {}, "", false},
        {"an overrun", {}, ComPortAnswer(6, "\x02"), true},
        {"a line state without errors", {}, ComPortAnswer(6, "\x60"), false},
        {"a subnegotiation broken off", {}, brokenOff, true},
        {"stale data before a purge's answer", Script([](TServerScript& s) { s.Before[12] = "Z"; }),
         "", true},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TScriptedServer server(test.Server);
        ASSERT_TRUE(server.Start());
        TComms port;
        ASSERT_EQ(Open(port, server.Url(), "115200"), "");
        char got[2] = {};
        // An answered frame first: the purges of opening are settled, and what they dropped
        // is not asked about.
        ASSERT_TRUE(port.Write("o", 1));
        ASSERT_TRUE(port.Read(got, 1, 2000));
        port.TakeDisturbed();
        server.Say(test.Said + "d");
        ASSERT_TRUE(port.Read(got, 1, 2000));
        EXPECT_EQ(got[0], 'd') << "data resumes";
        port.Purge();
        ASSERT_TRUE(port.Write("p", 1));
        ASSERT_TRUE(port.Read(got, 1, 2000));
        EXPECT_EQ(got[0], 'p');
        EXPECT_EQ(port.TakeDisturbed(), test.Disturbed);
    }
}

TEST(Rfc2217, WalksTheSpeedsOnOneConnection) {
    TScriptedServer server(Script([](TServerScript& s) { s.Echo = false; }));
    ASSERT_TRUE(server.Start());
    TComms port;
    TBootMonitor monitor(port);
    EXPECT_EQ(monitor.Synchronize({server.Url(), true, 0}).Status, TSyncStatus::NoSpeed);
    EXPECT_EQ(server.Connections(), 1);
    std::vector<int> speeds;
    for (const auto& request : server.Requests())
        if (request.Command == 1 && request.Value.size() == 4 && request.Value != QByteArray(4, 0))
            speeds.push_back(qFromBigEndian<qint32>(request.Value.constData()));
    EXPECT_EQ(speeds, std::vector<int>({115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200}));
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

// How the board behind ser2net is set up for a case.
enum class TFar { Slow, Only19200, Loaded, DroppedWhileProgramming };

TBoardConfig Eb40a(TFar far) {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    if (far == TFar::Only19200)
        config.AcceptedSpeeds = {19200};
    // Answers held back 50 ms: the programming still has a second and a half to go when the
    // server is killed a few blocks in.
    if (far == TFar::DroppedWhileProgramming)
        config.TurnaroundMs = 50;
    if (far == TFar::Slow) // as a USB adapter's default latency timer at the far end
        config.TurnaroundMs = 16;
    return config;
}

} // namespace

TEST(Rfc2217, FailedAnswersNameTheNetworkPort) {
    // Answers repeated or withheld look the same whether the board or the server did it: through
    // a server the message says so and names the port; a board on this computer's port does not.
    const std::string check = "\nCheck that the board is powered and in its boot-monitor mode, "
                              "that the cable is plugged in at both ends, and that %s is the port "
                              "the board is on.";
    const std::string server = "\nThe answers came through the network port %s, whose server may "
                               "have lost, held back or repeated bytes: check the server and the "
                               "settings of its serial port on that machine (see README: Boards "
                               "on another machine).";
    const std::string verifyFailed = "Data verification failed.\n";
    struct TCase {
        const char* Name;
        bool ThroughServer;
        const char* Fault;
        std::string Message; // %s: the port
    } cases[] = {
        {"the verify answered twice", true, "V=extra:41", verifyFailed + OutOfStepLine + server},
        {"a far side that stays silent", true, "V=silent", verifyFailed + NoAnswerText + server},
        {"no identity", true, "sync=silent",
         "No response from target or unable to synchronize on:\n%s:115200,N,8,1" + check + server},
        {"a local board answering twice", false, "V=extra:41", verifyFailed + OutOfStepLine},
    };
    TMonitorTiming timing = ShortPauses();
    timing.IdentityTimeoutMs = timing.AnswerTimeoutMs = 500;
    const TBytes image = Pattern(200, 3);
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TBoardConfig config = Eb40a(TFar::Loaded);
        std::string error;
        ASSERT_TRUE(ParseFault(test.Fault, config.Faults, error)) << error;
        TBoardSim board(config);
        ASSERT_TRUE(board.Start());
        board.LoadMemory(Free, image);
        TSer2net ser2net(board.PortPath());
        std::string port = board.PortPath();
        if (test.ThroughServer) {
            ASSERT_TRUE(ser2net.Start(&error)) << error;
            port = ser2net.Url();
        }
        TComms comms;
        TBootMonitor monitor(comms, timing);
        const TSyncResult sync = monitor.Synchronize({port, false, 115200});
        std::string shown = WithServerLine(SyncFailure(sync), sync).Text;
        if (sync.Ok()) {
            const TMonitorResult verified = monitor.VerifyRange(Free, image.data(), 200);
            shown = WithAnswerLines(VerifyFailure(verified), verified).Text;
        }
        EXPECT_EQ(shown, WithPort(test.Message, port));
    }
}

TEST(Rfc2217, KorvexCliWorksThroughSer2net) {
    TScratch scratch;
    // Every byte value, 0xFF (Telnet's escape) among them, and runs of it.
    TBytes image = imagetest::RandomBytes(3000, 7);
    std::fill(image.begin() + 500, image.begin() + 700, uint8_t{0xFF});
    const QString file = Q(scratch.Write("image.bin", image));
    const QString out = Q(scratch.Path("read.bin"));
    const QString free = "0x01040000";
    struct TCase {
        TFar Far;
        QStringList Arguments;
        int ExitCode;
        std::string Output; // stdout, or with a failure the end of stderr; %s: the port
    } cases[] = {
        {TFar::Only19200,
         {"sync"},
         0,
         "(19200 baud)\nBase address: 0x01000000\nLink speed: 19200\n"},
        {TFar::Slow, {"program", file, "-a", free, "--readback", "--json"}, 0, "\"port\":\"%s\""},
        {TFar::Loaded,
         {"verify", file, "-a", free, "--readback"},
         0,
         "3000 bytes at 0x01040000 read back OK.\n"},
        {TFar::Loaded,
         {"read", free, "3000", "-o", out},
         0,
         "3000 bytes at 0x01040000 written to "},
        {TFar::DroppedWhileProgramming,
         {"program", file, "-a", free},
         1,
         "%s: the connection to the server was lost.\n"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Arguments[0].toStdString());
        TBoardSim board(Eb40a(test.Far));
        ASSERT_TRUE(board.Start());
        if (test.Far == TFar::Loaded)
            board.LoadMemory(Free, image);
        TSer2net server(board.PortPath());
        std::string error;
        ASSERT_TRUE(server.Start(&error)) << error;
        const std::function<void()> drop = [&] {
            EXPECT_TRUE(board.WaitForFrames(8, 20000));
            server.Kill();
        };
        const TRun run =
            RunCli(QStringList(test.Arguments) << "-p" << Q(server.Url()),
                   test.Far == TFar::DroppedWhileProgramming ? drop : std::function<void()>());
        EXPECT_EQ(run.ExitCode, test.ExitCode) << run.Err;
        std::string expected = test.Output;
        if (expected.find("%s") != std::string::npos)
            expected.replace(expected.find("%s"), 2, server.Url());
        const std::string& shown = test.ExitCode == 0 ? run.Out : run.Err;
        EXPECT_NE(shown.find(expected), std::string::npos) << shown;
        if (test.Far == TFar::Only19200) {
            EXPECT_EQ(board.SyncedSpeed(), 19200);
        }
        if (test.Far == TFar::Slow) {
            EXPECT_NE(run.Err.find("ms late through the server"), std::string::npos) << run.Err;
            EXPECT_NE(run.Out.find("\"turnaround_ms\":"), std::string::npos);
            EXPECT_EQ(run.Out.find("\"turnaround_ms\":null"), std::string::npos);
        }
        if (test.Arguments[0] == "read") {
            EXPECT_EQ(TScratch::ReadBytes(out.toStdString()), image);
        }
        if (test.Arguments[0] == "program" && test.ExitCode == 0) {
            EXPECT_EQ(board.ReadMemory(Free, static_cast<uint32_t>(image.size())), image);
        }
    }
}
