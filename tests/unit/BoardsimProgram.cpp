// korvex-boardsim as a person runs it, and korvex-cli finding it.
#include "Comm.h"
#include "PortList.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <string>

namespace {

const QString SimPath = QStringLiteral(KORVEX_BINARY_DIR "/tools/boardsim/korvex-boardsim");
const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");

// A running korvex-boardsim; stopped with SIGTERM as a service manager would.
class TSimProcess {
public:
    explicit TSimProcess(const QStringList& arguments) {
        Process.start(SimPath, arguments);
        if (Process.waitForStarted(10000) && Process.waitForReadyRead(10000))
            Port = Process.readLine().trimmed().toStdString();
    }
    ~TSimProcess() { Stop(); }

    void Stop(int signal = SIGTERM) {
        if (Process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(Process.processId()), signal);
        Process.waitForFinished(10000);
    }

    // Whether the board completes a synchronisation at the speed. The identity is awaited
    // long enough for a loaded machine, and for the board to have read the byte before the
    // port is reopened at another speed: the board takes the speed from the port as it reads.
    bool Answers(int speed, uint8_t* identityOut = nullptr) {
        TComms port((Port + ":" + std::to_string(speed) + ",N,8,1").c_str());
        uint8_t identity[14];
        if (!port.WriteByte(0x80) || !port.Read(identity, 14, 2000) || identity[0] != 'B')
            return false;
        if (identityOut)
            std::copy(identity, identity + 14, identityOut);
        return port.WriteByte('A') && port.ReadByte(5000) == 'A';
    }

    QProcess Process;
    std::string Port;
};

struct TRun {
    int ExitCode = -1;
    QString Out, Err;
};

TRun RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << arguments.join(' ').toStdString();
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

QString RunCli(const QStringList& arguments, int* exitCode = nullptr) {
    const TRun run = RunProgram(CliPath, arguments);
    if (exitCode)
        *exitCode = run.ExitCode;
    return run.Out;
}

} // namespace

TEST(BoardsimProgram, SynchronisesAtTheSpeedsItIsToldToAccept) {
    TSimProcess all({"--type", "EB40A", "--quiet"});
    ASSERT_FALSE(all.Port.empty()) << "the first line is the port";
    EXPECT_TRUE(all.Answers(115200));

    TSimProcess only19200({"--speeds", "19200", "--quiet"});
    ASSERT_FALSE(only19200.Port.empty());
    EXPECT_FALSE(only19200.Answers(115200));
    EXPECT_FALSE(only19200.Answers(9600));
    EXPECT_TRUE(only19200.Answers(19200));

    // The slowest link speed is as good as the fastest.
    TSimProcess slowest({"--speeds", "1200,115200", "--quiet", "--no-announce"});
    ASSERT_FALSE(slowest.Port.empty());
    EXPECT_TRUE(slowest.Answers(1200));
}

TEST(BoardsimProgram, ReportsItsOwnVersionAndTakesTheMonitorsSeparately) {
    // Both programs carry the one project version.
    const TRun cli = RunProgram(CliPath, {"--version"});
    const TRun sim = RunProgram(SimPath, {"--version"});
    EXPECT_EQ(sim.ExitCode, 0);
    ASSERT_TRUE(cli.Out.startsWith("korvex-cli ")) << cli.Out.toStdString();
    EXPECT_EQ(sim.Out, QString(cli.Out).replace("korvex-cli", "korvex-boardsim"));

    TSimProcess board({"--monitor-version", "0203", "--quiet", "--no-announce"});
    ASSERT_FALSE(board.Port.empty());
    uint8_t identity[14] = {};
    ASSERT_TRUE(board.Answers(115200, identity));
    EXPECT_EQ(identity[6], 0x03) << "version, low byte first";
    EXPECT_EQ(identity[7], 0x02);
}

TEST(BoardsimProgram, AnnouncesItsPortWhileItRuns) {
    TSimProcess board({"--type", "EB42", "--quiet"});
    ASSERT_FALSE(board.Port.empty());
    std::vector<TPortCandidate> announced = AnnouncedPorts();
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].Name.toStdString(), board.Port);
    EXPECT_TRUE(announced[0].Description.contains("EB42"));

    int exitCode = -1;
    const QString listed = RunCli({"ports"}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(listed.contains(QString::fromStdString(board.Port))) << listed.toStdString();
    {
        // Held by another program: listed and marked, not left out.
        TComms holder((board.Port + ":115200,N,8,1").c_str());
        ASSERT_TRUE(holder.IsOpen());
        const QString held = RunCli({"ports"});
        const QStringList lines = held.split('\n').filter(QString::fromStdString(board.Port));
        ASSERT_EQ(lines.size(), 1) << held.toStdString();
        EXPECT_TRUE(lines[0].endsWith(" (busy)")) << held.toStdString();
    }

    EXPECT_EQ(announced[0].Board.toStdString(), "EB42-flash-boardsim");
    board.Stop();
    EXPECT_EQ(board.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(AnnouncedPorts().empty()) << "the link goes when the board stops";

    // The name tells the mode, so that the window picks a flash board first.
    for (const char* mode : {"sram", "app"}) {
        TSimProcess other({"--mode", mode, "--quiet"});
        announced = AnnouncedPorts();
        ASSERT_EQ(announced.size(), 1u) << mode;
        EXPECT_EQ(announced[0].Board.toStdString(), std::string("EB40A-") + mode + "-boardsim");
    }

    // Ctrl+C and a closed terminal withdraw it as well.
    for (int signal : {SIGINT, SIGHUP}) {
        TSimProcess other({"--quiet"});
        ASSERT_FALSE(other.Port.empty());
        ASSERT_EQ(AnnouncedPorts().size(), 1u) << signal;
        other.Stop(signal);
        EXPECT_EQ(other.Process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(other.Process.exitCode(), 0) << signal;
        EXPECT_TRUE(AnnouncedPorts().empty()) << signal;
    }
}

TEST(BoardsimProgram, RefusesWrongOptionsAndDocumentsTheRightOnes) {
    QProcess help;
    help.start(SimPath, {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char* option : {"--type", "--mode", "--speeds", "--clock", "--fault", "--line-rate",
                               "--monitor-version", "--version"})
        EXPECT_TRUE(text.contains(option)) << option;

    const QList<QStringList> wrongOptions = {{"--type", "EB99"},
                                             {"--speeds", "fast"},
                                             {"--speeds", "19201"},
                                             {"--speeds", "115200,300"},
                                             {"--speeds", "115200,"},
                                             {"--speeds", "0"},
                                             {"--monitor-version"},
                                             {"--monitor-version", "1G"},
                                             {"--monitor-version", "10000"},
                                             {"--fault", "D=loud"},
                                             {"--bogus"}};
    for (const QStringList& wrong : wrongOptions) {
        const TRun run = RunProgram(SimPath, wrong);
        EXPECT_EQ(run.ExitCode, 2) << wrong.join(' ').toStdString();
        EXPECT_TRUE(run.Out.isEmpty()) << "no port on a refused start";
    }

    // A refused speed is answered with the speeds a board can take.
    const QString refusal = RunProgram(SimPath, {"--speeds", "9600,14400"}).Err;
    for (int speed : {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200})
        EXPECT_TRUE(refusal.contains(QString::number(speed))) << refusal.toStdString();
}
