// The board output pane: the port handed to the board commands and back, a lost line, a board
// that never pauses, the count of dropped lines, and the stored choices.
#include "BoardOutputPane.h"
#include "BoardWindow.h"
#include "Eventually.h"
#include "Mainfrm.h"
#include "MonitorMessages.h"
#include "PseudoTerminal.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <cstdio>

using namespace boardtest;

namespace {

// The pane's own lines ("-- ... --"), in order.
QStringList Notes(const TBoardOutputPane& pane) {
    return pane.Output->toPlainText().split('\n').filter(QRegularExpression("^-- .* --$"));
}

std::unique_ptr<TBoardSim> ProgramBoard(bool flood) {
    TProgramConfig program;
    program.Banner = {"Hello"};
    program.Flood = flood;
    auto board = std::make_unique<TBoardSim>(KitBoard());
    board->SetProgram(program, true);
    EXPECT_TRUE(board->Start());
    return board;
}

} // namespace

TEST(MainfrmMonitor, BoardCommandsTakeThePortFromTheMonitorAndGiveItBack) {
    TBoardWindow w;
    TBoardOutputPane& pane = *w.Form().BoardOutput;
    w.Form().MonitorConnectMenu->trigger();
    ASSERT_TRUE(pane.IsOpen());
    const TBytes image = Pattern(200, 3);
    w.Load(image);
    ASSERT_TRUE(w.Synchronise());
    bool heldWhileProgramming = true;
    AtProgress(
        w.Form(), [](int at) { return at == 80; }, [&] { heldWhileProgramming = pane.IsOpen(); });
    w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 4000", ""});

    EXPECT_FALSE(heldWhileProgramming);
    EXPECT_EQ(w.Board.ReadMemory(Sector2, 200), image);
    // The pane had the port after the synchronisation: the board may run its program.
    const QString syncAgain = QString::fromStdString(SyncAgainLine(SyncAgainPaneReason));
    EXPECT_TRUE(w.Form().Memo->toPlainText().contains(syncAgain));
    ASSERT_FALSE(w.Board.Frames().empty());
    EXPECT_EQ(w.Board.Frames().front().Kind, TFrameKind::Sync);
    EXPECT_TRUE(pane.IsOpen());
    const QString connected = QString("-- connected to %1 at 115200 baud --")
                                  .arg(QString::fromStdString(w.Board.PortPath()));
    EXPECT_EQ(Notes(pane), QStringList({connected, "-- synchronising --", connected,
                                        "-- programming, 200 bytes at 0x01004000 --", connected}));
    ExpectIdle(w.Form());

    // Disconnected, it stays away from the port after the next command too.
    w.Form().MonitorConnectMenu->trigger();
    EXPECT_FALSE(pane.IsOpen());
    ASSERT_TRUE(w.Synchronise());
    EXPECT_FALSE(pane.IsOpen());
    EXPECT_EQ(Notes(pane).last(), "-- disconnected --");
    w.RunWithDialog(&TMainForm::VerifyTBClick, {"0100 4000", "C8"});
    EXPECT_TRUE(w.Report().last().endsWith("verified OK.")) << w.Report().join('\n').toStdString();
    EXPECT_TRUE(FramesOf(w.Board.Frames(), TFrameKind::Sync).empty()) << "nobody had the port";
}

TEST(MainfrmMonitor, ALostLineShowsItsReasonAndTheMonitorComesBackWithThePort) {
    auto board = ProgramBoard(false);
    QString port = QString::fromStdString(board->PortPath());
    TBoardOutputPane pane(nullptr, [&port] { return port; });
    pane.SetConnected(true);
    EXPECT_EVENTUALLY(pane.Output->toPlainText().contains("Hello\n"));

    board.reset(); // the adapter is unplugged
    EXPECT_EVENTUALLY(!pane.IsOpen());
    const QString lost = Notes(pane).last();
    const QString lostLine = QString::fromStdString(LineLostText(port.toStdString(), ""));
    EXPECT_TRUE(lost.startsWith("-- " + lostLine)) << lost.toStdString();
    EXPECT_TRUE(lost.endsWith("; waiting for it to come back --")) << lost.toStdString();

    board = ProgramBoard(false); // back, perhaps under another name
    port = QString::fromStdString(board->PortPath());
    EXPECT_EVENTUALLY(pane.IsOpen());
    EXPECT_EVENTUALLY(pane.Output->toPlainText().endsWith("Hello\n"));
}

TEST(MainfrmMonitor, ABoardThatNeverPausesKeepsTheScrollbackCappedAndSaysWhatWasDropped) {
    auto board = ProgramBoard(true);
    TBoardOutputPane pane(nullptr, [&board] { return QString::fromStdString(board->PortPath()); });
    pane.SetConnected(true);
    EXPECT_EVENTUALLY_TIMEOUT(pane.DroppedLines() > 1000, 30000);
    pane.SetConnected(false);
    // What is kept is the newest, whole and in order.
    const QStringList lines = pane.Output->toPlainText().split('\n');
    const QStringList flood = lines.filter(QRegularExpression("^flood \\d{8} [a-z]{26}$"));
    ASSERT_GT(flood.size(), 100);
    EXPECT_GE(flood.size(), lines.size() - 3) << "only the notes and the last line are others";
    for (int i = 1; i < flood.size(); ++i)
        ASSERT_EQ(flood[i].mid(6, 8).toInt(), flood[i - 1].mid(6, 8).toInt() + 1) << i;
}

// Lines of known number: the connection's note, 20005 numbered lines and the disconnection's
// note leave the last 20000 in the pane; the first 7 went.
TEST(MainfrmMonitor, TheDroppedCountIsTheLinesThatLeftTheTop) {
    TPseudoTerminal line;
    ASSERT_TRUE(line.Open());
    TBoardOutputPane pane(nullptr, [&line] { return QString::fromStdString(line.SlavePath()); });
    pane.SetTimestamps(false);
    pane.SetConnected(true);
    ASSERT_TRUE(pane.IsOpen());
    char number[8];
    for (int first = 1; first <= 20005; first += 500) {
        std::string chunk;
        for (int n = first; n < first + 500 && n <= 20005; ++n)
            chunk += (std::snprintf(number, sizeof number, "%05d\n", n), number);
        ASSERT_TRUE(line.Write(chunk.data(), static_cast<int>(chunk.size())));
        const QString last = QString::fromStdString(chunk.substr(chunk.size() - 6, 5));
        EXPECT_EVENTUALLY(pane.Output->document()->lastBlock().previous().text() == last);
    }
    pane.SetConnected(false);
    EXPECT_EQ(pane.DroppedLines(), 7u);
    EXPECT_EQ(pane.DroppedL->text().toStdString(), "7 older lines dropped");
    EXPECT_EQ(pane.Output->blockCount(), 20001) << "20000 lines and the empty one after them";
    EXPECT_EQ(pane.Output->document()->firstBlock().text().toStdString(), "00007");
}

TEST(MainfrmMonitor, TheChoicesAreStoredWithTheOtherSettings) {
    {
        TBoardOutputPane pane(nullptr, [] { return QString(); });
        EXPECT_EQ(pane.Speed(), 115200);
        EXPECT_EQ(pane.LineEnd(), TLineEnd::Lf);
        pane.SetSpeed(921600);
        pane.SetTimestamps(true);
        pane.SetLineEnd(TLineEnd::CrLf);
    }
    TBoardOutputPane again(nullptr, [] { return QString(); });
    EXPECT_EQ(again.Speed(), 921600);
    EXPECT_TRUE(again.StampsCB->isChecked());
    EXPECT_EQ(again.LineEnd(), TLineEnd::CrLf);
}
