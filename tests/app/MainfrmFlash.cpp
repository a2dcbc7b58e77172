// The flash commands against the simulated board: read, sector erase, programming, verify and
// Cancel, as the user sees them (dialogs, console, boxes, progress, busy state) and as the board
// receives them.
#include "BoardWindow.h"
#include "Ebdata.h"
#include "Eventually.h"
#include "HexText.h"
#include "ImageFile.h"
#include "MonitorMessages.h"
#include "ScratchDir.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace boardtest;

namespace {

using TFrames = std::vector<TFrameRecord>;

struct TFrameSummary {
    uint32_t Address;
    int Count; // the length byte of 'R' and 'W', the data bytes of 'D', the length of 'V'
    bool operator==(const TFrameSummary& o) const {
        return Address == o.Address && Count == o.Count;
    }
};

std::vector<TFrameSummary> Summary(const TFrames& frames) {
    std::vector<TFrameSummary> summary;
    for (const TFrameRecord& f : frames) {
        switch (f.Kind) {
        case TFrameKind::Read:
        case TFrameKind::WriteStart:
            summary.push_back({FrameAddress(f), f.Bytes.at(5)});
            break;
        case TFrameKind::Data:
            summary.push_back({0, static_cast<int>(f.Bytes.size()) - 2});
            break;
        case TFrameKind::Verify:
            summary.push_back(
                {FrameAddress(f), static_cast<int>(f.Bytes.at(5) | f.Bytes.at(6) << 8)});
            break;
        default:
            summary.push_back({FrameAddress(f), 0});
        }
    }
    return summary;
}

QStringList Dump(const TBytes& bytes, uint32_t address) {
    QStringList lines;
    for (const TString& line : HexDumpLines(bytes.data(), address, bytes.size()))
        lines << line();
    return lines;
}

QString Addr(uint32_t address) {
    return AddrToHex(address)();
}

} // namespace

TEST(MainfrmFlash, ReadsWholeBlocksAndTheRestIntoADump) {
    struct TCase {
        int Length;
        std::vector<int> Counts;
        std::vector<int> Positions;
    } cases[] = {
        {0, {}, {0}},
        {79, {79}, {0}},
        {80, {80}, {0, 1}},
        {81, {80, 1}, {0, 1}},
        {250, {80, 80, 80, 10}, {0, 1, 2, 3}},
    };
    const uint32_t start = Sector2 + 3;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Length);
        TBoardWindow w;
        w.Board.LoadMemory(start, Pattern(300));
        ASSERT_TRUE(w.Synchronise());
        const TDialogSeen seen = w.RunWithDialog(
            &TMainForm::ReadTBClick, {"0100 4003", QString::number(c.Length, 16).toStdString()});
        EXPECT_EQ(seen.Title, "Read Data Block");
        EXPECT_FALSE(seen.AddressOnly);

        std::vector<TFrameSummary> expected;
        uint32_t at = start;
        for (int count : c.Counts) {
            expected.push_back({at, count});
            at += count;
        }
        EXPECT_EQ(Summary(w.Board.Frames()), expected);
        EXPECT_EQ(w.Report(), QStringList({" ", "Read data response:"}) +
                                  Dump(w.Board.ReadMemory(start, c.Length), start));
        EXPECT_EQ(w.Positions(), c.Positions);
        EXPECT_TRUE(w.Form().ConsoleAtEnd());
        EXPECT_EQ(w.Boxes().Count(), 1) << w.Boxes().AllTexts();
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, AReadEndsAtTheFirstBlockThatDoesNotCome) {
    struct TCase {
        const char* Name;
        TFaultPlan Faults;
        std::string Message;
        int Flags;
    } cases[] = {
        // The board's sum of the second block is 0xB8; the damaged one arrives one higher.
        {"bad checksum", Faults({"R#1=badsum"}),
         "Checksum fail at: 0x01004050\nReceived: 0xB9, Calculated: 0xB8", MB_ICONINFORMATION},
        {"silent", Faults({"R#1=silent"}), "Timeout waiting for data.", MB_ICONEXCLAMATION},
        {"hang-up", Faults({"hangup-after:3"}), "Timeout waiting for data.\n$REASON",
         MB_ICONEXCLAMATION},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardWindow w(KitBoard(), ShortWaits());
        const TBytes memory = Pattern(400);
        w.Board.LoadMemory(Sector2, memory);
        w.Form().MonitorTiming = TMonitorTiming(); // the synchronisation needs the real waits
        ASSERT_TRUE(w.Synchronise());
        w.Form().MonitorTiming = ShortWaits();
        w.Board.SetFaults(c.Faults);
        w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "190"});

        ExpectLastBox(w, c.Message, c.Flags);
        EXPECT_EQ(FramesOf(w.Board.Frames(), TFrameKind::Read).size(), 2u) << "no later block";
        // The box's text stays in the console after the lines that came.
        EXPECT_EQ(w.Report(), QStringList({" ", "Read data response:"}) +
                                  Dump(TBytes(memory.begin(), memory.begin() + 80), Sector2) +
                                  QString::fromStdString(w.Boxes().Last().Text).split('\n'));
        EXPECT_TRUE(w.Form().ConsoleAtEnd()) << "the view follows the failure's text";
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, CancelYesStopsATransferAfterTheCurrentBlockNoLetsItGoOn) {
    // The last lines of a stopped transfer; a programming's also say what the flash holds.
    TBootMonitor::TProgramResult thirdBlock;
    thirdBlock.Step = TBootMonitor::TStep::Write;
    thirdBlock.Result.Status = TMonitorStatus::Cancelled;
    thirdBlock.Result.Address = Sector2 + 160;
    const QStringList userBreak = {UserBreakLine},
                      programStopped = {UserBreakLine,
                                        QString::fromStdString(PartlyProgrammedLine(thirdBlock))};
    struct TCase {
        const char* Name;
        void (TMainForm::*Command)();
        TBoardMode Mode;
        int ThirdBlockAt; // progress position once the third block is done
        TFrameKind Kind;
        QStringList StoppedTail;
        bool Escape = false; // the key instead of the menu's Cancel
    } cases[] = {
        {"read", &TMainForm::ReadTBClick, TBoardMode::Flash, 3, TFrameKind::Read, userBreak},
        {"program", &TMainForm::FlashTBClick, TBoardMode::Flash, 240, TFrameKind::Data,
         programStopped},
        {"SRAM upload", &TMainForm::SramTBClick, TBoardMode::Sram, 240, TFrameKind::Sram,
         userBreak},
        {"read, Esc", &TMainForm::ReadTBClick, TBoardMode::Flash, 3, TFrameKind::Read, userBreak,
         true},
        {"program, Esc", &TMainForm::FlashTBClick, TBoardMode::Flash, 240, TFrameKind::Data,
         programStopped, true},
    };
    for (const TCase& c : cases) {
        for (int answer : {IDYES, IDNO}) {
            SCOPED_TRACE(std::string(c.Name) + (answer == IDYES ? " yes" : " no"));
            TBoardWindow w(KitBoard(c.Mode));
            const TBytes image = Pattern(800);
            w.Load(image);
            if (c.Mode == TBoardMode::Flash) {
                ASSERT_TRUE(w.Synchronise());
            }
            bool cancelOffered = false, othersOff = false;
            AtProgress(
                w.Form(), [&](int at) { return at == c.ThirdBlockAt; },
                [&] {
                    TMainForm& form = w.Form();
                    cancelOffered = form.CancelMenu->isVisible() && form.CancelMenu->isEnabled();
                    othersOff = !form.ToolBar->isEnabled() &&
                                !form.FileMenu->menuAction()->isEnabled() &&
                                !form.FlashMenu->menuAction()->isEnabled();
                    w.Boxes().QueueAnswer(answer);
                    c.Escape ? QTest::keyClick(form.Memo, Qt::Key_Escape)
                             : form.CancelMenu->trigger();
                });
            if (c.Mode == TBoardMode::Sram) {
                w.Boxes().QueueAnswer(IDOK);
                w.Form().SramTBClick();
            } else {
                w.RunWithDialog(c.Command, {"0100 4000", "320"});
            }
            EXPECT_TRUE(cancelOffered);
            EXPECT_TRUE(othersOff);
            EXPECT_EQ(w.Boxes().Last().Text, "Abort current operation?");
            EXPECT_EQ(w.Boxes().Last().Flags, MB_YESNO | MB_ICONQUESTION);
            const bool stopped = answer == IDYES;
            const QStringList report = w.Report();
            if (stopped)
                EXPECT_EQ(report.mid(report.size() - c.StoppedTail.size()), c.StoppedTail);
            else
                EXPECT_FALSE(report.contains(UserBreakLine)) << report.join('|').toStdString();
            if (c.Kind == TFrameKind::Sram) {
                // The board takes the last bytes off the line a moment after the host sent them.
                const size_t sent = stopped ? 240u : 800u;
                EXPECT_EVENTUALLY(w.Board.SramData().size() >= sent);
                EXPECT_EQ(w.Board.SramData().size(), sent);
            } else
                EXPECT_EQ(FramesOf(w.Board.Frames(), c.Kind).size(), stopped ? 3u : 10u);
            ExpectIdle(w.Form());
        }
    }
}

TEST(MainfrmFlash, ErasesTheSectorHoldingTheAddressAfterItsChecks) {
    const char* outside = "Sector erase address must be within 0x01000000 and 0x01017FFF";
    const std::string silent = std::string("Sector erase at 0x01004000 failed.\n") + NoAnswerText;
    struct TCase {
        const char* Address;
        std::vector<int> Answers;
        const char* Fault;
        std::string Question;
        int Attempts;
        std::string Message;
    } cases[] = {
        {"0100 0000", {IDYES}, nullptr, "sector #0", 1, ""},
        {"0101 7FFF", {}, nullptr, "", 1, ""},
        {"0100 4123", {}, nullptr, "", 1, ""},
        {"00FF FFFF", {}, nullptr, "", 0, outside},
        {"0101 8000", {}, nullptr, "", 0, outside},
        {"0100 3000", {IDNO}, nullptr, "sector #1", 0, ""},
        {"0100 4000", {}, "E@1-2=byte:4E", "", 3, ""},
        {"0100 4000", {}, "E=silent", "", 5, silent},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Address + std::string(c.Fault ? c.Fault : ""));
        TBoardWindow w;
        ASSERT_TRUE(w.Synchronise());
        if (c.Fault) {
            w.Board.SetFaults(Faults({c.Fault}));
            w.Form().MonitorTiming = ShortWaits();
        }
        w.Boxes().Clear();
        for (int answer : c.Answers)
            w.Boxes().QueueAnswer(answer);
        const int lines = w.Form().ConsoleLineCount();
        const TDialogSeen seen = w.RunWithDialog(&TMainForm::EraseSectorTBClick, {c.Address, ""});
        EXPECT_TRUE(seen.AddressOnly);
        EXPECT_EQ(seen.Title, "Address / Length Selection");

        const uint32_t address = QString(c.Address).remove(' ').toUInt(nullptr, 16);
        const TFrames erases = FramesOf(w.Board.Frames(), TFrameKind::Erase);
        EXPECT_EQ(static_cast<int>(erases.size()), c.Attempts);
        for (const TFrameRecord& frame : erases)
            EXPECT_EQ(FrameAddress(frame), address) << "sent as entered";
        const bool erased = c.Attempts > 0 && c.Message.empty();
        if (erased)
            EXPECT_EQ(w.Report(), QStringList({" ", "Sector at " + Addr(address) + " erased."}));
        else if (!c.Message.empty())
            EXPECT_EQ(w.Report(), QStringList(" ") + QString::fromStdString(c.Message).split('\n'));
        else
            EXPECT_EQ(w.Form().ConsoleLineCount(), lines);
        if (!c.Question.empty()) {
            ASSERT_GE(w.Boxes().Count(), 1);
            EXPECT_EQ(w.Boxes().Boxes().front().Text,
                      "Selected address lies in " + c.Question +
                          " which is protected.\nAre you sure you wish to erase this sector?");
            EXPECT_EQ(w.Boxes().Boxes().front().Flags, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        }
        if (!c.Message.empty()) {
            EXPECT_EQ(w.Boxes().Last().Text, c.Message);
            EXPECT_EQ(w.Boxes().Last().Flags, c.Message == outside ? MB_OK : MB_ICONEXCLAMATION);
        }
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, ProgramsInBlocksOf80AndHasTheBoardVerify) {
    struct TCase {
        int Size;
        std::vector<TFrameSummary>
            Frames; // erase, write starts, blocks, verify and its confirmation
        std::vector<int> Positions;
    } cases[] = {
        {200,
         {{Sector2, 0},
          {Sector2, 80},
          {0, 80},
          {0, 80},
          {Sector2 + 160, 40},
          {0, 40},
          {Sector2, 200},
          {Sector2, 200}},
         {0, 80, 160}},
        {50,
         {{Sector2, 0}, {Sector2, 80}, {Sector2, 50}, {0, 50}, {Sector2, 50}, {Sector2, 50}},
         {0}},
        {160,
         {{Sector2, 0}, {Sector2, 80}, {0, 80}, {0, 80}, {Sector2, 160}, {Sector2, 160}},
         {0, 80, 160}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Size);
        TBoardWindow w;
        const TBytes image = Pattern(c.Size, 9);
        w.Load(image);
        ASSERT_TRUE(w.Synchronise());
        QString rate, percent;
        AtProgress(
            w.Form(), [](int at) { return at == 80; },
            [&] {
                rate = w.Form().TransferL->isHidden() ? "hidden" : w.Form().TransferL->text();
                percent = w.Form().ProgressBar->text();
            });
        const TDialogSeen seen = w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 4000", ""});
        EXPECT_EQ(seen.Title, "Program Flash");
        EXPECT_TRUE(seen.AddressOnly);

        EXPECT_EQ(Summary(w.Board.Frames()), c.Frames);
        EXPECT_EQ(w.Positions(), c.Positions);
        EXPECT_EQ(w.Report(),
                  QStringList({" ", "Flash erasing...", "Programming...", "Verifying...",
                               QString("%1 bytes at 0x01004000 programmed OK.").arg(c.Size)}));
        EXPECT_EQ(w.Board.ReadMemory(Sector2, c.Size), image);
        EXPECT_EQ(w.Boxes().Count(), 1) << w.Boxes().AllTexts();
        EXPECT_TRUE(w.Form().FlashTB->isEnabled());
        if (c.Size >= 160) {
            EXPECT_TRUE(rate.contains(" KB/s, ") && rate.endsWith(" left")) << rate.toStdString();
            EXPECT_EQ(percent, QString("%1%").arg(80 * 100 / c.Size));
        }
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, ProgrammingChecksTheRangeAndProtectionBeforeSendingAnything) {
    const std::string outside = "Programming address must be within 0x01000000 and 0x01017FFF";
    struct TCase {
        const char* Name;
        uint32_t Address;
        int Size;
        std::vector<int> Answers;
        std::string Message;
        std::vector<uint32_t> Erases; // empty: nothing sent
    } cases[] = {
        {"below the flash", FlashStart - 1, 16, {}, outside, {}},
        {"above the flash", FlashEnd + 1, 16, {}, outside, {}},
        {"ends at the flash end", FlashEnd - 15, 16, {}, "", {FlashEnd - 15}},
        {"one byte too long",
         FlashEnd - 14,
         16,
         {},
         "Program data doesn't fit into selected flash area.\n\nFlash start: 0x01000000, Flash "
         "end: 0x01017FFF\nData start: 0x01017FF1, Data end: 0x01018000",
         {}},
        {"protected, No", FlashStart + 0x2010, 16, {IDNO}, "", {}},
        {"protected, Yes", FlashStart + 0x2010, 16, {IDYES}, "", {FlashStart + 0x2010}},
        {"start inside a sector", Sector3 - 0x80, 200, {}, "", {Sector3 - 0x80, Sector3}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardWindow w;
        const TBytes image = Pattern(c.Size, 3);
        w.Load(image);
        // Written flash that only an erase makes programmable again.
        w.Board.LoadMemory(FlashStart, TBytes(0x8000, 0));
        ASSERT_TRUE(w.Synchronise());
        w.Boxes().Clear();
        for (int answer : c.Answers)
            w.Boxes().QueueAnswer(answer);
        w.RunWithDialog(&TMainForm::FlashTBClick, {Addr(c.Address).mid(2).toStdString(), ""});

        std::vector<uint32_t> erases;
        for (const TFrameRecord& frame : FramesOf(w.Board.Frames(), TFrameKind::Erase))
            erases.push_back(FrameAddress(frame));
        EXPECT_EQ(erases, c.Erases);
        if (!c.Answers.empty()) {
            EXPECT_EQ(w.Boxes().Boxes().front().Text,
                      "Programming address spans over one or more protected sectors.\nAre you sure "
                      "you wish to erase these sectors?");
            EXPECT_EQ(w.Boxes().Boxes().front().Flags, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        }
        if (!c.Message.empty()) {
            EXPECT_EQ(w.Boxes().Last().Text, c.Message);
            EXPECT_EQ(w.Boxes().Last().Flags, MB_ICONINFORMATION);
        }
        if (c.Erases.empty()) {
            EXPECT_TRUE(w.Board.Frames().empty());
        } else {
            EXPECT_TRUE(w.Report().last().endsWith(" programmed OK.")) << w.Boxes().AllTexts();
            EXPECT_EQ(w.Board.ReadMemory(c.Address, c.Size), image);
        }
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, AProgrammingThatFailsEndsInItsStepWithThatStepsMessage) {
    const std::string eraseFailed =
        "Sector erase at 0x01004000 failed.\n\nIt may help now to restart the eval. board in the "
        "flash programming mode\nand then try again.";
    const std::string noStart = "Unable to initiate write operation at address: 0x01004000.";
    struct TCase {
        const char* Fault;
        std::string Message; // "$REASON" stands for the system's reason on its own line
        QString LastLine;
    } cases[] = {
        {"D#0@1=byte:4E", "", "200 bytes at 0x01004000 programmed OK."},
        {"D#1=flash:02", "Flash write error at: 0x01004050.\nError: 0x02", "Failed"},
        {"D#0=byte:15", "Unable to write data block at: 0x01004000.\nResponse code: 0x15 ",
         "Failed"},
        {"W#0=byte:4E", noStart, "Programming..."},
        {"W#1=byte:4E", noStart, "Failed"},
        {"V=byte:4E", "Program verification failed.", "Verifying..."},
        {"E=byte:4E", eraseFailed, "Failed"},
        {"hangup-after:5", "Unable to write data block at: 0x01004050.\n$REASON", "Failed"},
        // nothing at all came: told apart from a wrong answer
        {"D=silent", std::string("Unable to write data block at: 0x01004000.\n") + NoAnswerText,
         "Failed"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Fault);
        TBoardWindow w(KitBoard(), ShortWaits());
        w.Load(Pattern(200));
        ASSERT_TRUE(w.Synchronise());
        w.Board.SetFaults(Faults({c.Fault}));
        w.Boxes().Clear();
        w.RunWithDialog(&TMainForm::FlashTBClick, {"0100 4000", ""});

        const QStringList report = w.Report();
        if (c.Message.empty()) {
            EXPECT_EQ(report.last(), c.LastLine);
            EXPECT_EQ(w.Boxes().Count(), 0) << w.Boxes().AllTexts();
        } else {
            EXPECT_EQ(w.Boxes().Count(), 1) << w.Boxes().AllTexts();
            ExpectLastBox(w, c.Message, MB_ICONEXCLAMATION);
            // The box's text follows the phase it ended in, before the closing line.
            const QString box = QString::fromStdString(w.Boxes().Last().Text);
            const QString tail =
                c.LastLine == "Failed" ? box + "\nFailed" : c.LastLine + "\n" + box;
            EXPECT_TRUE(report.join('\n').endsWith("\n" + tail)) << report.join('\n').toStdString();
        }
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, ProposesAnImagesOwnStartEveryTimeAndAsksBeforeAnother) {
    TBoardWindow w;
    ASSERT_TRUE(w.Synchronise());
    const TMonitorMessage elsewhere = ProgramElsewhereQuestion(Sector2, Sector2 + 0x2000);
    const struct {
        bool Hex;           // an Intel HEX image linked at Sector2; else a binary one
        TDialogAnswer User; // typed into the dialog
        int Answer;         // to the question, when asked; 0: not asked
        const char* Proposed;
        uint32_t Written; // 0: nothing sent
    } rows[] = {
        {true, {"", "", true}, 0, "01004000", 0},
        {true, {"0100 6000", ""}, IDNO, "01004000", 0},
        {true, {"0100 6000", ""}, IDYES, "01004000", Sector2 + 0x2000},
        {true, {"", ""}, 0, "01004000", Sector2},
        {false, {"0100 6000", ""}, 0, "01004000", Sector2 + 0x2000},
        {false, {"", ""}, 0, "0100 6000", Sector2 + 0x2000},
    };
    bool hexLoaded = false;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Proposed + std::string(" then ") + row.User.Start);
        // The image is loaded once for its rows: the proposal must outlast a programming.
        if (row.Hex && !hexLoaded)
            w.LoadHex(Pattern(40), Sector2);
        else if (!row.Hex && hexLoaded)
            w.Load(Pattern(40));
        hexLoaded = row.Hex;
        w.Board.ClearFrames();
        w.Boxes().Clear();
        if (row.Answer)
            w.Boxes().QueueAnswer(row.Answer);
        EXPECT_EQ(w.RunWithDialog(&TMainForm::FlashTBClick, row.User).Start, row.Proposed);
        if (row.Answer)
            ExpectLastBox(w, elsewhere.Text, elsewhere.Flags);
        else
            EXPECT_EQ(w.Boxes().Count(), 0) << w.Boxes().AllTexts();
        if (row.Written)
            EXPECT_TRUE(w.Report().last().endsWith(Addr(row.Written) + " programmed OK."));
        else
            EXPECT_TRUE(w.Board.Frames().empty());
    }
}

TEST(MainfrmFlash, VerifiesTheImagesFirstBytesAgainstTheBoard) {
    struct TCase {
        const char* Start;
        const char* Length;
        bool Menu;
        std::string Result; // console line, or the message
        int Sent;           // the length of the verify frame; -1: none sent
        const char* Fault = nullptr;
    } cases[] = {
        {"0100 4000", "C8", false, "200 bytes at 0x01004000 verified OK.", 200},
        {"0100 4000", "50", true, "80 bytes at 0x01004000 verified OK.", 80},
        {"0100 4100", "C8", false, "Data verification failed.", 200},
        {"0100 4000", "C9", false,
         "Data length 0x000000C9 (201) is greater than currently loaded file size 0x000000C8 "
         "(200).",
         -1},
        // lengths are unsigned, from 0x80000000 up too
        {"0100 4000", "FFFFFFFF", true,
         "Data length 0xFFFFFFFF (4294967295) is greater than currently loaded file size "
         "0x000000C8 (200).",
         -1},
        {"0100 4000", "8000 0000", false,
         "Data length 0x80000000 (2147483648) is greater than currently loaded file size "
         "0x000000C8 (200).",
         -1},
        {"0100 4000", "C8", false, std::string("Data verification failed.\n") + NoAnswerText, 200,
         "V=silent"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Start) + " " + c.Length);
        TBoardWindow w(KitBoard(), ShortWaits());
        const TBytes image = Pattern(200, 5);
        w.Load(image);
        w.Board.LoadMemory(Sector2, image);
        ASSERT_TRUE(w.Synchronise());
        if (c.Fault)
            w.Board.SetFaults(Faults({c.Fault}));
        w.Boxes().Clear();
        // The menu item runs the same command as the button.
        const TDialogSeen seen =
            c.Menu ? w.RunWithDialog([&w] { w.Form().VerifyMenu->trigger(); }, {c.Start, c.Length})
                   : w.RunWithDialog(&TMainForm::VerifyTBClick, {c.Start, c.Length});
        EXPECT_EQ(seen.Title, "Verify Data Block");
        const TFrames verifies = FramesOf(w.Board.Frames(), TFrameKind::Verify);
        if (c.Sent < 0) {
            EXPECT_TRUE(verifies.empty());
        } else {
            ASSERT_EQ(verifies.size(), 1u);
            EXPECT_EQ(Summary(verifies).front().Count, c.Sent);
        }
        if (c.Result.find("verified OK.") != std::string::npos) {
            EXPECT_EQ(w.Report(), QStringList({" ", QString::fromStdString(c.Result)}));
            EXPECT_EQ(w.Boxes().Count(), 0);
        } else {
            EXPECT_EQ(w.Boxes().Last().Text, c.Result);
            EXPECT_EQ(w.Report(),
                      QStringList(" ") + QString::fromStdString(w.Boxes().Last().Text).split('\n'));
        }
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, VerifiesByReadingBackAndListsTheFirstDifferences) {
    const TBytes image = Pattern(200, 5);
    const auto differ = [&image](size_t i) {
        return FormatText("%s: board 0x%02X, file 0x%02X", Addr(Sector2 + i).toLatin1().data(),
                          image[i] ^ 0xFFu, unsigned{image[i]});
    };
    const std::string failed =
        "Data verification failed.\n2 bytes differ, the first at 0x0100400A.";
    struct TCase {
        const char* Name;
        std::vector<size_t> Changed; // offsets the board holds otherwise
        QStringList Report;
        std::string Box; // none when empty
    } cases[] = {
        {"same", {}, {" ", "200 bytes at 0x01004000 read back OK."}, ""},
        {"two bytes differ",
         {10, 11},
         QStringList({" ", QString::fromStdString(differ(10)), QString::fromStdString(differ(11)),
                      "2 bytes differ."}) +
             QString::fromStdString(failed).split('\n'),
         failed},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBoardWindow w(KitBoard(), ShortWaits());
        w.Load(image);
        TBytes onBoard = image;
        for (size_t i : c.Changed)
            onBoard[i] ^= 0xFF;
        w.Board.LoadMemory(Sector2, onBoard);
        ASSERT_TRUE(w.Synchronise());
        w.Boxes().Clear();
        const TDialogSeen seen =
            w.RunWithDialog([&w] { w.Form().VerifyReadBackMenu->trigger(); }, {"0100 4000", "C8"});
        EXPECT_EQ(seen.Title, "Verify by Reading Back");
        EXPECT_EQ(
            Summary(FramesOf(w.Board.Frames(), TFrameKind::Read)),
            (std::vector<TFrameSummary>{{Sector2, 80}, {Sector2 + 80, 80}, {Sector2 + 160, 40}}));
        EXPECT_EQ(w.Report(), c.Report);
        EXPECT_EQ(w.Boxes().Count(), c.Box.empty() ? 0 : 1);
        if (!c.Box.empty())
            EXPECT_EQ(w.Boxes().Last().Text, c.Box);
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmFlash, TheConsoleFollowsAReadOnlyWhenItsViewWasAtTheEnd) {
    for (bool scrolledUp : {false, true}) {
        SCOPED_TRACE(scrolledUp ? "scrolled up" : "at the end");
        TBoardWindow w;
        ASSERT_TRUE(w.Window->ShowForm());
        w.Board.LoadMemory(Sector2, Pattern(4000));
        ASSERT_TRUE(w.Synchronise());
        TMainForm& form = w.Form();
        for (int i = 0; i < 200; ++i)
            form.ConsolePrintf("earlier line %d", i);
        QScrollBar* bar = form.Memo->verticalScrollBar();
        ASSERT_TRUE(form.ConsoleAtEnd());
        const int kept = bar->maximum() / 3;
        if (scrolledUp)
            bar->setValue(kept);
        const auto placeKept = [&] {
            return scrolledUp ? bar->value() == kept : form.ConsoleAtEnd();
        };
        // Half-way the console is drawn as it grows, at the place the user left it.
        bool midway = false;
        AtProgress(
            form, [](int at) { return at == 25; },
            [&] {
                QTest::qWait(300); // past the batching of dump lines
                midway = form.Memo->updatesEnabled() && bar->isVisible() && placeKept();
            });
        w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "FA0"});
        EXPECT_TRUE(midway);
        EXPECT_TRUE(placeKept()) << "once the read is over";
        EXPECT_EQ(w.Report().size(), 2 + 4000 / 16);
        ExpectIdle(form);
    }
}

TEST(MainfrmFlash, ACloseRequestDuringATransferIsActedOnWhenItEnds) {
    TBoardWindow w;
    w.Board.LoadMemory(Sector2, Pattern(800));
    ASSERT_TRUE(w.Synchronise());
    bool closedAtOnce = true;
    AtProgress(
        w.Form(), [](int at) { return at == 3; }, [&] { closedAtOnce = w.Form().close(); });
    w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "320"});
    EXPECT_FALSE(closedAtOnce);
    EXPECT_EQ(FramesOf(w.Board.Frames(), TFrameKind::Read).size(), 10u) << "read to its end";
    EXPECT_EVENTUALLY(!w.Form().isVisible());
}

TEST(MainfrmFlash, AWholeReadCanBeSavedInTheFormatItsNameGives) {
    TBoardWindow w;
    const TBytes memory = Pattern(200, 3);
    w.Board.LoadMemory(Sector2, memory);
    ASSERT_TRUE(w.Synchronise());
    TMainForm& form = w.Form();
    EXPECT_FALSE(form.SaveReadAction->isEnabled()) << "nothing read yet";
    w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "C8"});
    ASSERT_TRUE(form.SaveReadAction->isEnabled());

    TScratchDir folder;
    const auto saveAs = [&](QAction* action, const std::string& name) {
        const QString path = QString::fromStdString(folder.Path() + "/" + name);
        WhenModalShown([path](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            ASSERT_NE(files, nullptr);
            // A file selected in the list would win over the typed name.
            for (QAbstractItemView* view : files->findChildren<QAbstractItemView*>())
                if (view->selectionModel())
                    view->selectionModel()->clearSelection();
            files->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(files)->accept();
        });
        action->trigger();
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<not written>");
    };
    // The format follows the name, as korvex-cli read -o's; the image reader gets the bytes back.
    const std::pair<const char*, TImageFormat> files[] = {{"flash.bin", TImageFormat::Binary},
                                                          {"flash.hex", TImageFormat::IntelHex},
                                                          {"flash.s19", TImageFormat::MotorolaS},
                                                          {"flash.srec", TImageFormat::MotorolaS}};
    for (const auto& [name, format] : files) {
        saveAs(form.SaveReadAction, name);
        TFileImage image;
        const TImageReadResult read = ReadImageFile(folder.Path() + "/" + name, image);
        EXPECT_EQ(read.Format, format) << name;
        EXPECT_EQ(read.Start, format == TImageFormat::Binary ? 0 : int32_t(Sector2)) << name;
        EXPECT_EQ(TBytes(image.Data(), image.Data() + image.Length()), memory) << name;
    }
    // The console's text, line by line; File offers it as well as the console's own menu.
    EXPECT_TRUE(form.FileMenu->actions().contains(form.SaveConsoleAction));
    EXPECT_EQ(QString::fromLocal8Bit(saveAs(form.SaveConsoleAction, "console.txt")),
              form.Memo->toPlainText() + "\n");

    // A file that cannot be written is a failure with the system's reason; a read that fails
    // leaves nothing to save.
    w.Boxes().Clear();
    saveAs(form.SaveConsoleAction, "missing/console.txt");
    ASSERT_EQ(w.Boxes().Count(), 1);
    EXPECT_EQ(w.Boxes().Last().Text.rfind("Unable to write file:\n", 0), 0u)
        << w.Boxes().AllTexts();
    form.MonitorTiming = ShortWaits();
    w.Board.SetFaults(Faults({"R=silent"}));
    w.RunWithDialog(&TMainForm::ReadTBClick, {"0100 4000", "C8"});
    EXPECT_EQ(w.Boxes().Last().Text, "Timeout waiting for data.");
    EXPECT_FALSE(form.SaveReadAction->isEnabled());
}

TEST(MainfrmFlash, CommandsWithoutTheirPreconditionsAskForNothing) {
    TBoardWindow w;
    // Without an image the commands that need one offer the Open dialog first; cancelled, they
    // end there.
    for (auto command :
         {&TMainForm::FlashTBClick, &TMainForm::VerifyTBClick, &TMainForm::SramTBClick}) {
        bool openOffered = false;
        WhenModalShown([&](QWidget* dialog) {
            openOffered = qobject_cast<QFileDialog*>(dialog) != nullptr;
            static_cast<QDialog*>(dialog)->reject();
        });
        (w.Form().*command)();
        EXPECT_TRUE(openOffered);
    }
    // A type without sectors, or without SRAM, makes its commands do nothing at all.
    auto bare = std::make_shared<TEBData>("Bare");
    w.Form().CurrentType = bare;
    w.Load(Pattern(16));
    for (auto command : {&TMainForm::SynchTBClick, &TMainForm::EraseSectorTBClick,
                         &TMainForm::FlashTBClick, &TMainForm::SramTBClick})
        (w.Form().*command)();
    EXPECT_EQ(w.Boxes().Count(), 0) << w.Boxes().AllTexts();
    EXPECT_TRUE(w.Board.Frames().empty());
    ExpectIdle(w.Form());
}
