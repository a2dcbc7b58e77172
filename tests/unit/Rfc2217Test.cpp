// The network port through ser2net: its own side in front of a pseudo-terminal, and korvex-cli
// in front of a simulated board.
#include "BoardTestKit.h"
#include "Comm.h"
#include "ImageFileTestKit.h"
#include "PseudoTerminal.h"
#include "Ser2net.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

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
        int Speed, StopBits; // as the far line has them (a pseudo-terminal keeps no parity)
        std::string Error;   // %s: the port
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
        int dataBits = 0, stopBits = 0;
        char parity = 0;
        if (error.empty() && far.Line.LineFormat(dataBits, parity, stopBits)) {
            EXPECT_EQ(far.Line.LineSpeed(), test.Speed);
            EXPECT_EQ(stopBits, test.StopBits);
        }
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

    // What came unasked is gone before the next frame.
    ASSERT_TRUE(far.Line.Write("xyz", 3));
    QThread::msleep(200);
    EXPECT_EQ(port.Purge(), 3);
    EXPECT_EQ(port.ReadAvailable(got, 8, 100), 0);

    // A dropped connection ends the wait at once and names the port.
    server.Kill();
    EXPECT_EQ(port.ReadAvailable(got, 8, 5000), -1);
    EXPECT_TRUE(port.LineLost());
    EXPECT_EQ(port.LastError().toStdString(),
              server.Url() + ": the connection to the server was lost.");
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
enum class TFar { Board, Only19200, Loaded, DroppedWhileProgramming };

TBoardConfig Eb40a(TFar far) {
    TBoardConfig config;
    EXPECT_TRUE(BuiltInBoardType("EB40A", config.Type));
    if (far == TFar::Only19200)
        config.AcceptedSpeeds = {19200};
    config.LineRate = far == TFar::DroppedWhileProgramming; // so that there is time to drop it
    return config;
}

} // namespace

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
        {TFar::Board, {"program", file, "-a", free, "--readback", "--json"}, 0, "\"port\":\"%s\""},
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
            EXPECT_TRUE(board.WaitForFrames(20, 20000));
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
        if (test.Arguments[0] == "read") {
            EXPECT_EQ(TScratch::ReadBytes(out.toStdString()), image);
        }
        if (test.Arguments[0] == "program" && test.ExitCode == 0) {
            EXPECT_EQ(board.ReadMemory(Free, static_cast<uint32_t>(image.size())), image);
        }
    }
}
