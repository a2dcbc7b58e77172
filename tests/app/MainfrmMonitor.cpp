// The board output pane: the port handed to the board commands and back, a lost line, a board
// that never pauses, and the stored choices.
#include "BoardOutputPane.h"
#include "BoardWindow.h"
#include "Eventually.h"
#include "Mainfrm.h"
#include "MonitorMessages.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

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
    EXPECT_LE(pane.Output->blockCount(), TBoardOutputPane::ScrollbackLines + 1);
    EXPECT_EQ(pane.DroppedL->text(), QString("%1 older lines dropped").arg(pane.DroppedLines()));
    // What is kept is the newest, whole and in order.
    const QStringList lines = pane.Output->toPlainText().split('\n');
    const QStringList flood = lines.filter(QRegularExpression("^flood \\d{8} [a-z]{26}$"));
    ASSERT_GT(flood.size(), 100);
    EXPECT_GE(flood.size(), lines.size() - 3) << "only the notes and the last line are others";
    for (int i = 1; i < flood.size(); ++i)
        ASSERT_EQ(flood[i].mid(6, 8).toInt(), flood[i - 1].mid(6, 8).toInt() + 1) << i;
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
