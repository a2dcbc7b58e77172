#include "Misc.h"
#include "ScriptedMsgBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>

TEST(MsgBox, FormatsArgumentsAndPassesFlags) {
    TScriptedMsgBox boxes;
    MsgBox(MB_ICONEXCLAMATION, "Unable to intialize serial port:\n%s", "/dev/ttyS3");
    MsgBox(MB_ICONINFORMATION, "%d bytes at 0x%04X%04X", 80, 0x0100, 0x0050);
    ASSERT_EQ(boxes.Count(), 2);
    EXPECT_EQ(boxes.Boxes()[0].Flags, 0x30);
    EXPECT_EQ(boxes.Boxes()[0].Text, "Unable to intialize serial port:\n/dev/ttyS3");
    EXPECT_EQ(boxes.Boxes()[1].Flags, 0x40);
    EXPECT_EQ(boxes.Boxes()[1].Text, "80 bytes at 0x01000050");
}

TEST(MsgBox, LongTextIsCutToTheBufferNotOverrun) {
    TScriptedMsgBox boxes;
    const std::string path(3000, 'p');
    MsgBox(MB_OK, "Cannot open %s", path.c_str());
    ASSERT_EQ(boxes.Count(), 1);
    const std::string& shown = boxes.Last().Text;
    EXPECT_EQ(shown.size(), static_cast<size_t>(MsgBoxTextSize - 1));
    EXPECT_EQ(shown.substr(0, 12), "Cannot open ");
    EXPECT_EQ(shown.find_first_not_of('p', 12), std::string::npos);
}

TEST(MsgBox, CutNeverSplitsAMultiByteCharacter) {
    TScriptedMsgBox boxes;
    // 1022 ASCII bytes, then a two-byte character straddling the last byte of the buffer.
    const std::string text = std::string(MsgBoxTextSize - 2, 'a') + "\xC3\xA9" + "tail";
    MsgBox(MB_OK, "%s", text.c_str());
    EXPECT_EQ(boxes.Last().Text, std::string(MsgBoxTextSize - 2, 'a'));

    // A character that fits completely stays.
    const std::string fits = std::string(MsgBoxTextSize - 3, 'b') + "\xC3\xA9" + "tail";
    MsgBox(MB_OK, "%s", fits.c_str());
    EXPECT_EQ(boxes.Last().Text, std::string(MsgBoxTextSize - 3, 'b') + "\xC3\xA9");
}

TEST(MsgBox, ReturnsQueuedAnswersThenTheDefaultButton) {
    TScriptedMsgBox boxes;
    boxes.QueueAnswers({IDNO, IDYES, IDCANCEL});
    EXPECT_EQ(MsgBox(0x24, "Erase?"), IDNO);
    EXPECT_EQ(MsgBox(0x24, "Erase?"), IDYES);
    EXPECT_EQ(MsgBox(0x41, "Continue?"), IDCANCEL);
    EXPECT_EQ(boxes.PendingAnswers(), 0);

    // Nothing queued: whatever Enter would press.
    EXPECT_EQ(MsgBox(0x00, "x"), IDOK);
    EXPECT_EQ(MsgBox(0x41, "x"), IDOK);
    EXPECT_EQ(MsgBox(0x24, "x"), IDYES);
    EXPECT_EQ(MsgBox(0x124, "x"), IDNO);
    EXPECT_EQ(boxes.Count(), 7);
}

TEST(MsgBox, ScriptedPresentersNestAndRestore) {
    TScriptedMsgBox outer;
    {
        TScriptedMsgBox inner;
        MsgBox(MB_OK, "inner");
        EXPECT_EQ(inner.Count(), 1);
    }
    MsgBox(MB_OK, "outer");
    ASSERT_EQ(outer.Count(), 1);
    EXPECT_EQ(outer.Last().Text, "outer");
}

TEST(MsgBox, WithoutAPresenterAnswersTheDefaultButton) {
    TMsgBoxPresenter previous = SetMsgBoxPresenter(nullptr);
    EXPECT_EQ(MsgBox(0x124, "Erase the flash?"), IDNO);
    EXPECT_EQ(MsgBox(0x24, "Go on?"), IDYES);
    // A retry loop must end when nobody is there to answer.
    EXPECT_EQ(MsgBox(MB_RETRYCANCEL | MB_ICONEXCLAMATION, "File locked"), IDCANCEL);
    EXPECT_EQ(MsgBox(MB_ABORTRETRYIGNORE, "Drive not ready"), IDABORT);
    SetMsgBoxPresenter(previous);
}

namespace {

struct TSeenBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
    Qt::TextFormat Format = Qt::AutoText;
};

// Shows a box through the desktop presenter, records how it looks once it is up and presses
// `press` (NoButton: close it with Escape); returns the presenter's answer.
int ShowAndPress(int flags, const char* text, QMessageBox::StandardButton press, TSeenBox& seen) {
    bool inspected = false;
    std::function<void()> inspect = [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, inspect);
            return;
        }
        inspected = true;
        seen.Title = box->windowTitle();
        seen.Text = box->text();
        seen.Icon = box->icon();
        seen.Buttons = box->standardButtons();
        seen.Default = box->standardButton(box->defaultButton());
        seen.Format = box->textFormat();
        if (press == QMessageBox::NoButton)
            box->reject();
        else
            box->button(press)->click();
    };
    QTimer::singleShot(0, inspect);
    const int answer = QMessageBoxPresenter(flags, text);
    EXPECT_TRUE(inspected);
    return answer;
}

} // namespace

TEST(QMessageBoxPresenter, ShowsButtonsIconAndDefaultOfEachStyle) {
    struct TCase {
        int Flags;
        QMessageBox::Icon Icon;
        QMessageBox::StandardButtons Buttons;
        QMessageBox::StandardButton Default;
    };
    const TCase cases[] = {
        {0x00, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok},
        {0x30, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok},
        {0x40, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
        {0x41, QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok},
        {0x24, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes},
        {0x124, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Flags);
        TSeenBox seen;
        ShowAndPress(c.Flags, "Line one\nline <two>", c.Default, seen);
        EXPECT_EQ(seen.Title, "Korvex");
        EXPECT_EQ(seen.Text, "Line one\nline <two>");
        EXPECT_EQ(seen.Format, Qt::PlainText);
        EXPECT_EQ(seen.Icon, c.Icon);
        EXPECT_EQ(seen.Buttons, c.Buttons);
        EXPECT_EQ(seen.Default, c.Default);
    }
}

TEST(QMessageBoxPresenter, ReturnsTheCodeOfThePressedButton) {
    TSeenBox seen;
    EXPECT_EQ(ShowAndPress(0x00, "a", QMessageBox::Ok, seen), IDOK);
    EXPECT_EQ(ShowAndPress(0x41, "a", QMessageBox::Ok, seen), IDOK);
    EXPECT_EQ(ShowAndPress(0x41, "a", QMessageBox::Cancel, seen), IDCANCEL);
    EXPECT_EQ(ShowAndPress(0x24, "a", QMessageBox::Yes, seen), IDYES);
    EXPECT_EQ(ShowAndPress(0x124, "a", QMessageBox::No, seen), IDNO);
    EXPECT_EQ(ShowAndPress(0x124, "a", QMessageBox::Yes, seen), IDYES);
}

TEST(QMessageBoxPresenter, ClosingWithoutAnswerIsTheSafeChoice) {
    TSeenBox seen;
    EXPECT_EQ(ShowAndPress(0x41, "a", QMessageBox::NoButton, seen), IDCANCEL);
    EXPECT_EQ(ShowAndPress(0x24, "a", QMessageBox::NoButton, seen), IDNO);
    EXPECT_EQ(ShowAndPress(0x30, "a", QMessageBox::NoButton, seen), IDOK);
}

TEST(QMessageBoxPresenter, MsgBoxReachesTheInstalledPresenter) {
    TMsgBoxPresenter previous = SetMsgBoxPresenter(QMessageBoxPresenter);
    std::function<void()> press = [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, press);
            return;
        }
        EXPECT_EQ(box->text(), "Sector 3 of 7");
        box->button(QMessageBox::No)->click();
    };
    QTimer::singleShot(0, press);
    EXPECT_EQ(MsgBox(0x124, "Sector %d of %d", 3, 7), IDNO);
    SetMsgBoxPresenter(previous);
}
