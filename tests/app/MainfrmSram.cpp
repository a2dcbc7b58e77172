// The SRAM upload against a simulated board started in its SRAM uploading mode.
#include "BoardWindow.h"
#include "Ebdata.h"
#include "Eventually.h"
#include "LinkSpeed.h"
#include "Settings.h"

#include <QAction>
#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace boardtest;

TEST(MainfrmSram, SendsTheImageAsItIsAtTheStoredSpeed) {
    struct TCase {
        int Size;
        const char* SramMaxSpeed; // null: none stored
        int Speed;
        std::vector<int> Positions;
    } cases[] = {
        {160, nullptr, 115200, {0, 80, 160}},
        {100, nullptr, 115200, {0, 80, 100}},
        {30, "3", 19200, {0, 30}},
        {static_cast<int>(SramSize), "1", 57600, {}}, // as large as the SRAM
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Size);
        TBoardWindow w(KitBoard(TBoardMode::Sram));
        if (c.SramMaxSpeed)
            TSettingsKey().WriteString("SramMaxSpeed", c.SramMaxSpeed);
        w.Form().LinkBaud = 38400; // a flash link speed, which the upload does not use
        const TBytes image = Pattern(c.Size, 11);
        w.Load(image);
        bool busy = false, hourglass = false;
        AtProgress(
            w.Form(), [](int) { return true; },
            [&] {
                busy = w.Form().IsBusy() && w.Form().CancelMenu->isVisible();
                hourglass = QApplication::overrideCursor() &&
                            QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            });
        w.Boxes().QueueAnswer(IDOK);
        w.Form().SramTBClick();

        EXPECT_EQ(w.Boxes().Count(), 1) << w.Boxes().AllTexts();
        EXPECT_EQ(w.Boxes().Last().Text,
                  "Make sure the eval. board is connected to port " + w.Board.PortPath() +
                      ".\nPower-up (or reset) the eval. board in the SRAM uploading mode.\n\n"
                      "Click OK to start uploading the selected file.");
        EXPECT_EQ(w.Boxes().Last().Flags, MB_OKCANCEL | MB_ICONINFORMATION);
        ASSERT_TRUE(w.Board.WaitForFrames(1, 5000));
        EXPECT_EVENTUALLY(w.Board.SramData().size() >= image.size());
        EXPECT_EQ(w.Board.SramData(), image);
        // The board may read the last bytes only after the port closed and lost its speed, so
        // the speed is checked in the settings the upload opens the port with.
        EXPECT_EQ(w.Form().BuildPortSettings(SramSpeedSetting)(),
                  w.Board.PortPath() + ":" + std::to_string(c.Speed) + ",N,8,1");
        if (!c.Positions.empty()) {
            EXPECT_EQ(w.Positions(), c.Positions);
        }
        EXPECT_EQ(w.Report(), QStringList({" ", "SRAM writing...", "Finished OK"}));
        EXPECT_TRUE(busy);
        EXPECT_TRUE(hourglass);
        ExpectIdle(w.Form());
    }
}

TEST(MainfrmSram, RefusesWhatDoesNotFitAndStopsWhenTheUserCancels) {
    TBoardWindow w(KitBoard(TBoardMode::Sram));
    w.Load(Pattern(SramSize + 1));
    w.Form().SramTBClick();
    ASSERT_EQ(w.Boxes().Count(), 1);
    EXPECT_EQ(w.Boxes().Last().Text,
              "Currently loaded file size is greater than SRAM size (0x00001000).");
    EXPECT_EQ(w.Boxes().Last().Flags, MB_ICONINFORMATION);

    w.Load(Pattern(100));
    const int lines = w.Form().ConsoleLineCount();
    w.Boxes().QueueAnswer(IDCANCEL);
    w.Form().SramTBClick();
    EXPECT_EQ(w.Form().ConsoleLineCount(), lines);
    EXPECT_TRUE(w.Board.SramData().empty());
    ExpectIdle(w.Form());
}

TEST(MainfrmSram, AChunkTheLineDoesNotTakeEndsTheUploadWithFailed) {
    TBoardConfig config = KitBoard(TBoardMode::Sram);
    config.Faults.HangUpAfter = 200;
    TBoardWindow w(config, ShortWaits());
    // The line takes a small upload whole before the board can hang up; a large one it cannot.
    const int size = 256 * 1024;
    auto large = std::make_shared<TEBData>("Large");
    ASSERT_TRUE(large->SetSramSize("0004 0000"));
    w.Form().CurrentType = large;
    w.Load(Pattern(size));
    w.Boxes().QueueAnswer(IDOK);
    w.Form().SramTBClick();

    ASSERT_EQ(w.Boxes().Count(), 2) << w.Boxes().AllTexts();
    // Where it stopped depends on how much the line held when the board hung up.
    const std::string& text = w.Boxes().Last().Text;
    const size_t of = text.find(" of 262144.\n");
    ASSERT_NE(of, std::string::npos) << text;
    const std::string offset = text.substr(27, of - 27);
    EXPECT_EQ(std::stoi(offset) % 80, 0) << text;
    ExpectLastBox(w, "SRAM upload failed at byte " + offset + " of 262144.\n$REASON",
                  MB_ICONEXCLAMATION);
    // The box's text stays in the console before the closing line.
    EXPECT_EQ(w.Report(), QStringList({" ", "SRAM writing..."}) +
                              QString::fromStdString(text).split('\n') + QStringList("Failed"));
    ExpectIdle(w.Form());
}
