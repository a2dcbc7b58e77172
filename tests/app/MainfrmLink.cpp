// Link synchronisation against the simulated board, and what every board command shares: a port
// that will not open, and a window that keeps painting but lets nothing else run while a command
// waits for the board.
#include "BoardWindow.h"
#include "Ebdata.h"
#include "Eventually.h"
#include "MonitorMessages.h"
#include "Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace boardtest;

namespace {

std::vector<int> SyncSpeeds(const TBoardWindow& w) {
    std::vector<int> speeds;
    for (const TFrameRecord& frame : FramesOf(w.SyncFrames, TFrameKind::Sync))
        speeds.push_back(frame.Speed);
    return speeds;
}

QString WithPort(QString text, const TBoardSim& board) {
    return text.replace("$PORT", QString::fromStdString(board.PortPath()));
}

} // namespace

TEST(MainfrmLink, SynchronisesAtTheFirstSpeedTheBoardAnswersOrSaysWhyNot) {
    const char* noResponse = "No response from target or unable to synchronize on:\n$PORT:%1,N,8,1";
    const QString check = "\n" + QString(SyncCheckText).replace("%s", "$PORT");
    struct TCase {
        const char* Name;
        std::vector<int> Accepted;
        const char* AutoSpeed; // stored FlashAutoSpeed, FlashMaxSpeed; null: none
        const char* MaxSpeed;
        const char* Fault;
        std::vector<int> Tried;
        int LinkBaud; // 0: the synchronisation fails with Message
        QString Message;
    } cases[] = {
        {"19200 only",
         {19200},
         nullptr,
         nullptr,
         nullptr,
         {115200, 57600, 38400, 19200},
         19200,
         ""},
        {"fixed index 4", {}, "0", "4", nullptr, {9600}, 9600, ""},
        {"fixed speed unanswered",
         {19200},
         "off",
         "9",
         nullptr,
         {115200},
         0,
         QString(noResponse).arg(115200) + check},
        {"identity not starting with B",
         {},
         "0",
         "1",
         "sync=byte:41",
         {57600},
         0,
         QString(noResponse).arg(57600) + check},
        {"no acknowledge",
         {},
         "",
         nullptr,
         "ack=byte:4E",
         {115200},
         0,
         "Unable synchronize with target.\nNo ACK." + check},
        {"silent at every speed",
         {},
         nullptr,
         nullptr,
         "sync=silent",
         {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200},
         0,
         "Unable to auto synchronize on $PORT with any baud rate." + check},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardConfig config = KitBoard();
        config.AcceptedSpeeds = c.Accepted;
        std::string error;
        if (c.Fault) {
            ASSERT_TRUE(ParseFault(c.Fault, config.Faults, error)) << error;
        }
        TBoardWindow w(config, c.LinkBaud ? TMonitorTiming() : ShortWaits());
        TSettingsKey key;
        if (c.AutoSpeed)
            key.WriteString("FlashAutoSpeed", c.AutoSpeed);
        if (c.MaxSpeed)
            key.WriteString("FlashMaxSpeed", c.MaxSpeed);

        // The status bar names each speed while it is tried.
        QStringList shown;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString text = w.Form().TransferL->text();
            if (!w.Form().TransferL->isHidden() && (shown.isEmpty() || shown.last() != text))
                shown << text;
        });
        watch.start(10);
        EXPECT_EQ(w.Synchronise(), c.LinkBaud != 0);
        watch.stop();
        EXPECT_EQ(SyncSpeeds(w), c.Tried);
        EXPECT_TRUE(w.Form().TransferL->isHidden());
        if (c.Tried.size() > 1 && !c.LinkBaud) { // each try waits out the time-out
            QStringList expected;
            for (int speed : c.Tried)
                expected << SyncSpeedText(speed);
            EXPECT_EQ(shown, expected);
        }
        EXPECT_EQ(w.Form().LinkBaud, c.LinkBaud);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        ASSERT_EQ(w.Boxes().Count(), c.LinkBaud ? 1 : 2) << w.Boxes().AllTexts();
        if (c.LinkBaud) {
            EXPECT_EQ(w.Report().mid(0, 2), QStringList({" ", "Synchronization link response:"}));
            EXPECT_TRUE(w.Report().last().startsWith("Base address: "));
            EXPECT_TRUE(
                w.Report().contains(QString("CD:           %1 (%2 baud)")
                                        .arg((48000000 + 8 * c.LinkBaud) / (16 * c.LinkBaud))
                                        .arg(c.LinkBaud)));
        } else {
            EXPECT_EQ(QString::fromStdString(w.Boxes().Last().Text), WithPort(c.Message, w.Board));
            EXPECT_EQ(w.Boxes().Last().Flags, MB_ICONEXCLAMATION);
        }
    }
}

TEST(MainfrmLink, ShowsTheIdentityAndUnlocksTheFlashCommandsUntilTheNextAttempt) {
    TBoardConfig config = KitBoard();
    config.MasterClock = 26 * 16 * 115200; // CD 26 at 115200
    config.Identity.BaseAddress = 0x01100000;
    TBoardWindow w(config);
    EXPECT_FALSE(w.Form().FlashTB->isEnabled());
    ASSERT_TRUE(w.Synchronise());
    EXPECT_EQ(w.Boxes().Boxes().front().Text,
              "Make sure the eval. board is connected to port " + w.Board.PortPath() +
                  ".\nPower-up (or reset) the eval. board in the Flash programming mode.\n\n"
                  "Click OK to start uploading the selected file.");
    EXPECT_EQ(w.Boxes().Boxes().front().Flags, MB_OKCANCEL | MB_ICONINFORMATION);
    EXPECT_EQ(w.Report(),
              QStringList({" ", "Synchronization link response:", "Chip type:    0x0001",
                           "Manufacturer: 0x001F", "Flash code:   0x0020", "Version:      0x0101",
                           "CD:           26 (115200 baud)", "Base address: 0x01100000"}));

    // Cancelling the confirmation leaves everything as it was.
    const int lines = w.Form().ConsoleLineCount();
    w.Boxes().QueueAnswer(IDCANCEL);
    w.Form().SynchTBClick();
    EXPECT_TRUE(w.Form().FlashTB->isEnabled());
    EXPECT_EQ(w.Form().ConsoleLineCount(), lines);
    EXPECT_TRUE(w.Board.Frames().empty());

    // A failed attempt locks them again.
    TFaultPlan silent;
    silent.Rules.push_back({TFrameKind::Sync, -1, 1, 0, TFaultAction::Silent, 0});
    w.Board.SetFaults(silent);
    w.Form().MonitorTiming = ShortWaits();
    EXPECT_FALSE(w.Synchronise());
    EXPECT_EQ(w.Form().LinkBaud, 115200) << "the last successful speed";
}

TEST(MainfrmLink, EveryBoardCommandNamesAPortThatWillNotOpenWithTheReason) {
    struct TCase {
        const char* Name;
        void (TMainForm::*Command)();
        bool Dialog;
        int Speed;
    } cases[] = {
        {"synchronise", &TMainForm::SynchTBClick, false, 115200},
        {"read", &TMainForm::ReadTBClick, true, 57600},
        {"erase", &TMainForm::EraseSectorTBClick, true, 57600},
        {"program", &TMainForm::FlashTBClick, true, 57600},
        {"verify", &TMainForm::VerifyTBClick, true, 57600},
        {"SRAM upload", &TMainForm::SramTBClick, false, 19200},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardWindow w;
        w.Load(Pattern(16));
        w.Form().LinkBaud = 57600;
        TSettingsKey().WriteString("SramMaxSpeed", "3");
        w.Form().PortCB->addItem("/dev/korvex-missing");
        w.Form().PortCB->setCurrentIndex(1);
        const int lines = w.Form().ConsoleLineCount();
        if (c.Dialog) {
            w.RunWithDialog(c.Command, {"0100 4000", "10"});
        } else {
            w.Boxes().QueueAnswer(IDOK);
            (w.Form().*c.Command)();
        }
        const QStringList text = QString::fromStdString(w.Boxes().Last().Text).split('\n');
        ASSERT_EQ(text.size(), 3) << w.Boxes().AllTexts();
        EXPECT_EQ(text[0], "Unable to intialize serial port:");
        EXPECT_EQ(text[1], QString("/dev/korvex-missing:%1,N,8,1").arg(c.Speed));
        EXPECT_TRUE(text[2].contains("/dev/korvex-missing")) << text[2].toStdString();
        EXPECT_EQ(w.Boxes().Last().Flags, MB_ICONEXCLAMATION);
        // The box's text stays in the console as the command's report.
        EXPECT_EQ(w.Form().ConsoleLineCount(), lines + 1 + text.size());
        EXPECT_EQ(w.Report(), QStringList(" ") + text);
        EXPECT_FALSE(w.Form().IsOperating());
    }
}

TEST(MainfrmLink, WhileACommandWaitsTheWindowPaintsButNothingElseRuns) {
    TBoardConfig config = KitBoard();
    config.Faults.Rules.push_back({TFrameKind::Sync, -1, 1, 0, TFaultAction::Silent, 0});
    TBoardWindow w(config, ShortWaits());
    int ticks = 0;
    bool operating = false, hourglass = false, closed = true;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (ticks++ == 0)
            closed = w.Form().close();
        operating = w.Form().IsOperating();
        hourglass = QApplication::overrideCursor() &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    });
    ticker.start(20);
    EXPECT_FALSE(w.Synchronise());
    ticker.stop();
    EXPECT_GE(ticks, 5);
    EXPECT_TRUE(operating);
    EXPECT_TRUE(hourglass);
    EXPECT_FALSE(closed) << "the window closed under a running command";
    EXPECT_FALSE(w.Form().IsOperating());
    // The close request was kept: the window closes once the command is over.
    EXPECT_EVENTUALLY(!w.Form().isVisible());

    // The port check waits until the command is over, then warns.
    w.Form().PortCB->clear();
    w.Boxes().Clear();
    w.Form().SetOperating(true);
    w.Form().Timer->setInterval(10);
    w.Form().Timer->start();
    QTest::qWait(100);
    EXPECT_EQ(w.Boxes().Count(), 0);
    w.Form().SetOperating(false);
    EXPECT_EVENTUALLY(w.Boxes().Count() == 1);
    EXPECT_EQ(w.Boxes().Last().Text, "No serial ports found on this computer.");
}

TEST(MainfrmLink, AnAdapterThatHoldsAnswersBackIsNamedOnceInTheConsole) {
    TBoardConfig config = KitBoard();
    config.TurnaroundMs = 16;
    TBoardWindow w(config);
    ASSERT_TRUE(w.Synchronise());
    for (int read = 0; read < 2; ++read) // 13 blocks each
        w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "1000"});
    EXPECT_EQ(w.Form().Memo->toPlainText().count("See README: Slow USB adapters."), 1);
}
