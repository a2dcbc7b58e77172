// The main window's port list with pseudo-terminals standing in for the computer's ports.
#include "BoardWindow.h"
#include "Comm.h"
#include "Eventually.h"
#include "LinkSpeed.h"
#include "MainFormHarness.h"
#include "MonitorMessages.h"
#include "PortList.h"
#include "PseudoTerminal.h"
#include "Rfc2217Port.h"
#include "Ser2net.h"
#include "Settings.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

QString Name(const TPseudoTerminal& line) {
    return QString::fromStdString(line.SlavePath());
}

// "pts/3" for /dev/pts/3.
QString Line(const TPseudoTerminal& line) {
    return Name(line).section('/', -2);
}

class MainfrmPorts : public ::testing::Test {
protected:
    void SetUp() override {
        TSettingsKey::ClearAll();
        // One stored type: no factory import report at start, and a type that offers both
        // synchronisation and SRAM upload.
        ASSERT_TRUE(TSettingsKey().WriteString("TypeDefs",
                                               "EB40A;8x32K,2x32K,30x64K;0-8;0003 FF00;0100 0000"));
        for (auto& line : Lines)
            ASSERT_TRUE(line.Open());
    }
    void TearDown() override { SetPortCandidateSource({}); }

    // The computer's ports as the window will find them.
    void Offer(std::vector<TPortCandidate> candidates) {
        SetPortCandidateSource([candidates] { return candidates; });
    }

    static void Remember(const char* port) {
        TSettingsKey key;
        ASSERT_TRUE(key.WriteString("SerialPort", port));
    }

    static TString Stored() { return TSettingsKey().ReadString("SerialPort", "<none>"); }

    static QStringList Listed(TMainForm& form) {
        QStringList names;
        for (int i = 0; i < form.PortCB->count(); ++i)
            names << form.PortCB->itemText(i);
        return names;
    }

    // Lets the one-shot port check run.
    static void PassStartUp(TMainForm& form) { EXPECT_EVENTUALLY(!form.Timer->isActive()); }

    TPseudoTerminal Lines[3];
};

} // namespace

TEST_F(MainfrmPorts, ListsThePortsThatOpenAndSelectsTheRememberedOne) {
    TComms holder((Lines[2].SlavePath() + ":9600,N,8,1").c_str());
    ASSERT_TRUE(holder.IsOpen()) << "another program holds the third port";
    Offer({{Name(Lines[0]), "USB serial adapter, FTDI, USB 0403:6001", false},
           {"/dev/korvex-missing-port", "", false},
           {Name(Lines[1]), "Simulated board EB40A-boardsim (process 1)", true, "EB40A-boardsim"},
           {Name(Lines[2]), "", false}});
    Remember(Lines[1].SlavePath().c_str());

    TMainFormHarness window(false, true);
    // A simulated board by what it is; its device only tells two of them apart.
    EXPECT_EQ(Listed(window.Form()),
              (QStringList{Name(Lines[0]), "Simulated EB40A (" + Line(Lines[1]) + ")"}));
    EXPECT_EQ(window->PortCB->currentIndex(), 1);
    EXPECT_EQ(window->ChosenPort(), Name(Lines[1]));
    EXPECT_EQ(std::string(window->BuildPortSettings(SramSpeedSetting)()),
              Lines[1].SlavePath() + ":115200,N,8,1");
    EXPECT_EQ(window->PortCB->itemData(0, Qt::ToolTipRole).toString(),
              "USB serial adapter, FTDI, USB 0403:6001");
    EXPECT_EQ(window->PortCB->toolTip(), "Simulated board EB40A-boardsim (process 1)");
    QTest::keyClick(window->PortCB, Qt::Key_Up); // the user chooses the first
    EXPECT_EQ(window->PortCB->toolTip(), "USB serial adapter, FTDI, USB 0403:6001");
    EXPECT_EQ(std::string(Stored()), Lines[0].SlavePath()) << "stored when chosen";

    PassStartUp(window.Form());
    EXPECT_EQ(window.Boxes().Count(), 0) << window.Boxes().AllTexts();

    // The probe left every listed port free for the commands.
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(TComms((Lines[i].SlavePath() + ":9600,N,8,1").c_str()).IsOpen()) << i;

    window.CloseForm();
    EXPECT_EQ(std::string(Stored()), Lines[0].SlavePath()) << "the port chosen last is stored";
}

TEST_F(MainfrmPorts, ARememberedPortThatIsGoneSelectsTheFirst) {
    Offer({{Name(Lines[0]), "", false}, {Name(Lines[1]), "", false}});
    Remember("/dev/ttyUSB7");
    TMainFormHarness window(false, true);
    EXPECT_EQ(window->PortCB->count(), 2);
    EXPECT_EQ(window->PortCB->currentIndex(), 0);

    // Names compare exactly, letter case included.
    window.CloseForm();
    Remember(Lines[1].SlavePath().c_str());
    Offer({{Name(Lines[0]), "", false}, {Name(Lines[1]).toUpper(), "", false}});
    TMainFormHarness again(false, true);
    EXPECT_EQ(again->PortCB->count(), 1);
    EXPECT_EQ(again->PortCB->currentIndex(), 0);
}

TEST_F(MainfrmPorts, AStoredUsbSelectorFindsItsAdapterAndStaysStored) {
    Offer({{Name(Lines[0]), "", false, "", "", 0x0403, 0x6001, "A1"},
           {Name(Lines[1]), "", false, "", "", 0x0403, 0x6001, "B2"}});
    Remember("usb:B2");
    TMainFormHarness window(false, true);
    EXPECT_EQ(window->ChosenPort(), Name(Lines[1]));
    window.CloseForm();
    EXPECT_EQ(std::string(Stored()), "usb:B2");
}

TEST_F(MainfrmPorts, AFirstStartPreselectsASimulatedFlashBoard) {
    const std::vector<TPortCandidate> ports = {{Name(Lines[0]), "", false},
                                               {Name(Lines[1]), "", true, "EB40A-sram-boardsim"},
                                               {Name(Lines[2]), "", true, "EB40A-flash-boardsim"}};
    Offer(ports);
    {
        TMainFormHarness window(false, true);
        EXPECT_EQ(window->ChosenPort(), Name(Lines[2]));
    }
    // A stored port, even one that is gone, is no first start.
    Remember("/dev/ttyUSB7");
    TMainFormHarness window(false, true);
    EXPECT_EQ(window->ChosenPort(), Name(Lines[0]));
}

TEST_F(MainfrmPorts, WithoutPortsWarnsOnceAndDisablesTheBoardCommands) {
    Offer({{"/dev/korvex-missing-port", "", false}});
    Remember("COM3");
    TMainFormHarness window(false, true);
    EXPECT_EQ(window->PortCB->count(), 0);
    EXPECT_EQ(window.Boxes().Count(), 0) << "the warning waits until the window is up";

    PassStartUp(window.Form());
    ASSERT_EQ(window.Boxes().Count(), 1);
    EXPECT_EQ(window.Boxes().Last().Text, "No serial ports found on this computer.");
    EXPECT_EQ(window.Boxes().Last().Flags, MB_ICONWARNING);
    EXPECT_FALSE(window->SynchTB->isEnabled());
    EXPECT_FALSE(window->SramTB->isEnabled());

    QTest::qWait(700);
    EXPECT_EQ(window.Boxes().Count(), 1) << "the check runs once";

    window.CloseForm();
    EXPECT_EQ(Stored(), "COM3") << "an empty list stores nothing";
}

TEST_F(MainfrmPorts, WithPortsTheCheckLeavesTheButtonsAlone) {
    Offer({{Name(Lines[0]), "", false}});
    TMainFormHarness window(false, true);
    window->SynchTB->setEnabled(true);
    window->SramTB->setEnabled(true);
    PassStartUp(window.Form());
    EXPECT_TRUE(window->SynchTB->isEnabled());
    EXPECT_TRUE(window->SramTB->isEnabled());
    EXPECT_EQ(window.Boxes().Count(), 0);
}

TEST_F(MainfrmPorts, TheListIsFilledAnewEachTimeItOpens) {
    const TPortCandidate first{Name(Lines[0]), "", false};
    const TPortCandidate second{Name(Lines[1]), "", false};
    const TPortCandidate simulated{Name(Lines[2]), "Simulated board EB42-sram-boardsim (process 7)",
                                   true, "EB42-sram-boardsim"};
    Offer({first, second});
    Remember(Lines[1].SlavePath().c_str());
    TMainFormHarness window(false, true);
    TMainForm& form = window.Form();
    ASSERT_TRUE(window.ShowForm());
    PassStartUp(form);
    ASSERT_EQ(form.ChosenPort(), Name(Lines[1]));

    const auto open = [&form] {
        form.PortCB->showPopup();
        form.PortCB->hidePopup();
    };
    const QString simulatedName = "Simulated EB42 sram (" + Line(Lines[2]) + ")";

    // One port gone and one added: the chosen one stays, and the link stays synchronised.
    form.EnableFlashCommands(true);
    Offer({second, simulated});
    open();
    EXPECT_EQ(Listed(form), (QStringList{Name(Lines[1]), simulatedName}));
    EXPECT_EQ(form.ChosenPort(), Name(Lines[1]));
    EXPECT_TRUE(form.ReadTB->isEnabled());

    // The chosen port gone: the first one left is chosen, and it must be synchronised first.
    Offer({simulated});
    open();
    EXPECT_EQ(Listed(form), QStringList{simulatedName});
    EXPECT_EQ(form.ChosenPort(), Name(Lines[2]));
    EXPECT_EQ(form.PortCB->toolTip(), simulated.Description);
    EXPECT_FALSE(form.ReadTB->isEnabled());

    // Every port gone, then one back.
    Offer({});
    open();
    EXPECT_EQ(form.PortCB->count(), 0);
    Offer({first});
    open();
    EXPECT_EQ(Listed(form), QStringList{Name(Lines[0])});

    EXPECT_EQ(window.Boxes().Count(), 0) << window.Boxes().AllTexts();
    window.CloseForm();
    EXPECT_EQ(std::string(Stored()), Lines[0].SlavePath());
}

// A port on another machine is typed into the box: it synchronises and programs as a local one,
// stays listed when the list is filled anew, and is the port stored.
TEST(MainfrmNetworkPort, ATypedNetworkPortIsUsedAndKept) {
    boardtest::TBoardWindow w;
    TSer2net server(w.Board.PortPath());
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    const QString url = QString::fromStdString(server.Url());
    TMainForm& form = w.Form();
    form.PortCB->lineEdit()->selectAll();
    QTest::keyClicks(form.PortCB->lineEdit(), url);
    ASSERT_TRUE(w.Synchronise());
    EXPECT_NE(w.Boxes().AllTexts().find(server.Url()), std::string::npos) << "the port confirmed";
    const boardtest::TBytes image = boardtest::Pattern(300, 0xF0);
    w.Load(image);
    w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 4000", ""});
    EXPECT_EQ(w.Board.ReadMemory(boardtest::Sector2, 300), image);
    EXPECT_EQ(w.Report().last(), "300 bytes at 0x01004000 programmed OK.");

    form.PortCB->showPopup();
    form.PortCB->hidePopup();
    EXPECT_EQ(form.PortCB->count(), 2);
    EXPECT_EQ(form.PortCB->itemText(1), url);
    EXPECT_EQ(form.ChosenPort(), url);
    EXPECT_TRUE(form.ReadTB->isEnabled()) << "the same port again is no change of port";
    w.Window->CloseForm();
    EXPECT_EQ(std::string(TSettingsKey().ReadString("SerialPort")()), server.Url());
}

// A server that takes the connection and never answers keeps the opening waiting for seconds:
// meanwhile the window paints and takes its messages, offers only Cancel, and Cancel ends the
// opening with a message that names the port.
TEST(MainfrmNetworkPort, AServerThatNeverAnswersKeepsTheWindowAliveUntilCancel) {
    const struct {
        const char* Name;
        void (TMainForm::*Command)();
    } rows[] = {
        {"synchronise", &TMainForm::SynchTBClick},
        {"SRAM upload", &TMainForm::SramTBClick},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        QTcpServer silent; // the system takes the connection; nobody ever reads or answers
        ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
        boardtest::TBoardWindow w;
        TMainForm& form = w.Form();
        w.Load(boardtest::Pattern(100));
        const QString url = QString("rfc2217://127.0.0.1:%1").arg(silent.serverPort());
        form.PortCB->setEditText(url);
        // A timer of the window's: its third tick comes while the port opens and chooses Cancel.
        int ticks = 0;
        bool onlyCancelOffered = false;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (++ticks != 3)
                return;
            onlyCancelOffered = form.CancelMenu->isVisible() && !form.ToolBar->isEnabled();
            form.CancelMenu->trigger();
        });
        tick.start(10);
        w.Boxes().QueueAnswers({IDOK, IDYES}); // go ahead; abort the running operation
        (form.*row.Command)();
        tick.stop();
        EXPECT_TRUE(onlyCancelOffered);
        const std::string settings = PortSettingsText(url.toStdString(), 115200);
        boardtest::ExpectLastBox(
            w, PortOpenFailure(settings, OpeningGivenUpText(url).toStdString()).Text,
            MB_ICONEXCLAMATION);
        boardtest::ExpectIdle(form);
    }
}
