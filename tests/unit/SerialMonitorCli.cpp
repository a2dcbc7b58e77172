// korvex-cli monitor against korvex-boardsim running its program, as a person runs them.
#include "Eventually.h"
#include "MonitorMessages.h"
#include "ScratchDir.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

namespace {

const QString SimPath = QStringLiteral(KORVEX_BINARY_DIR "/tools/boardsim/korvex-boardsim");
const QString CliPath = QStringLiteral(KORVEX_BINARY_DIR "/cli/korvex-cli");

// korvex-boardsim in app mode; its port is the first line it prints.
struct TAppBoard {
    explicit TAppBoard(const QString& banner = "Hello") {
        Process.start(SimPath, {"--mode", "app", "--quiet", "--no-announce", "--banner", banner});
        if (Process.waitForStarted(10000) && Process.waitForReadyRead(10000))
            Port = QString::fromLocal8Bit(Process.readLine().trimmed());
    }
    ~TAppBoard() {
        Process.kill();
        Process.waitForFinished(10000);
    }
    QProcess Process;
    QString Port;
};

} // namespace

// Stamped, so that a log of what the board sent rather than of what was shown would differ.
TEST(SerialMonitorCli, TheLogHoldsExactlyWhatWasShownAndCtrlCEndsWell) {
    TAppBoard board;
    ASSERT_FALSE(board.Port.isEmpty());
    TScratchDir scratch;
    const QString log = QString::fromStdString(scratch.Path()) + "/board.log";
    QProcess monitor;
    monitor.start(CliPath, {"monitor", "-p", board.Port, "--log", log, "--timestamps"});
    QByteArray shown;
    EXPECT_EVENTUALLY((shown += monitor.readAllStandardOutput()).contains("tick 1\n"));
    ::kill(static_cast<pid_t>(monitor.processId()), SIGINT);
    EXPECT_TRUE(monitor.waitForFinished(10000));
    shown += monitor.readAllStandardOutput();
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0);

    const QRegularExpression expected(
        QString("^%1Hello\n%1Simulated by korvex-boardsim; lines typed here are echoed.\n"
                "(%1tick \\d+\n)+$")
            .arg("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "));
    EXPECT_TRUE(expected.match(QString::fromUtf8(shown)).hasMatch()) << shown.toStdString();
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), shown);
}

TEST(SerialMonitorCli, AHangUpEndsTheMonitorWithItsReason) {
    TAppBoard board;
    ASSERT_FALSE(board.Port.isEmpty());
    QProcess monitor;
    monitor.start(CliPath, {"monitor", "--port", board.Port});
    QByteArray shown;
    // Without --timestamps the board's text comes as it is.
    EXPECT_EVENTUALLY((shown += monitor.readAllStandardOutput()).startsWith("Hello\n"));
    board.Process.kill(); // the line goes as an unplugged adapter's would
    ASSERT_TRUE(monitor.waitForFinished(10000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 1);
    const QString error = QString::fromLocal8Bit(monitor.readAllStandardError());
    const QString lostLine = QString::fromStdString(LineLostText(board.Port.toStdString(), ""));
    EXPECT_TRUE(error.contains(lostLine)) << error.toStdString();
}

TEST(SerialMonitorCli, EndsWithItsPipeAndWithSignalsAsOtherCommands) {
    TAppBoard board;
    ASSERT_FALSE(board.Port.isEmpty());
    // The reader of the pipe goes after one line while the board talks on.
    QProcess piped;
    piped.start("bash",
                {"-c", "set -o pipefail; \"$0\" monitor -p \"$1\" | head -1", CliPath, board.Port});
    ASSERT_TRUE(piped.waitForFinished(10000)) << "the monitor outlived its pipe";
    EXPECT_EQ(piped.exitCode(), 0);
    EXPECT_EQ(piped.readAllStandardOutput(), "Hello\n");
    for (const auto& [signal, code] : {std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
        QProcess monitor;
        monitor.start(CliPath, {"monitor", "-p", board.Port});
        EXPECT_EVENTUALLY(!monitor.readAllStandardOutput().isEmpty());
        ::kill(static_cast<pid_t>(monitor.processId()), signal);
        ASSERT_TRUE(monitor.waitForFinished(10000));
        EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(monitor.exitCode(), code);
    }
}

// Control characters stand in for the bytes a line at another speed brings.
TEST(SerialMonitorCli, SuggestsAnotherSpeedOnceWhenMostOfWhatCameIsNotText) {
    TAppBoard board(QString(100, QChar(1)));
    ASSERT_FALSE(board.Port.isEmpty());
    QProcess monitor;
    monitor.start(CliPath, {"monitor", "-p", board.Port, "--baud", "57600"});
    QByteArray error;
    const QByteArray hint = QByteArray::fromStdString(NotTextHint(57600) + "\n");
    EXPECT_EVENTUALLY((error += monitor.readAllStandardError()).contains(hint));
    QThread::msleep(1200); // a tick or two more
    ::kill(static_cast<pid_t>(monitor.processId()), SIGINT);
    EXPECT_TRUE(monitor.waitForFinished(10000));
    error += monitor.readAllStandardError();
    EXPECT_EQ(error.count(hint), 1) << error.toStdString();
}

TEST(SerialMonitorCli, RefusesWhatItCannotMonitor) {
    TScratchDir scratch;
    const QString fifo = QString::fromStdString(scratch.Path() + "/unread");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0); // a log nothing reads
    const QList<QStringList> wrong = {
        {"monitor", "-p", "/dev/null", "--baud", "14400"},
        {"monitor", "-p", "/dev/null", "--eol", "lfcr"},
        {"monitor", "-p", "/dev/null", "--log", fifo},
        {"program", "image.bin", "--address", "0x01000000", "-p", "a", "-p", "b", "--monitor"},
    };
    for (const QStringList& arguments : wrong) {
        QProcess cli;
        cli.start(CliPath, arguments);
        ASSERT_TRUE(cli.waitForFinished(10000));
        EXPECT_EQ(cli.exitCode(), 2) << arguments.join(' ').toStdString();
    }
}
