#include "Misc.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

const char* const MsgBoxCaption = "Korvex";

namespace {

// A cut in the middle of a multi-byte UTF-8 character would show as a replacement glyph, so a
// truncated text ends before the partial character instead.
void DropPartialUtf8Tail(char* text) {
    size_t length = std::strlen(text);
    size_t start = length;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return;
    const unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    if (lead < 0xC0)
        return; // plain ASCII before the continuation bytes, nothing to trim
    size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (length - (start - 1) < expected)
        text[start - 1] = '\0';
}

int ConsolePresenter(int flags, const char* text) {
    std::fprintf(stderr, "%s: %s\n", MsgBoxCaption, text);
    return MsgBoxDefaultAnswer(flags);
}

TMsgBoxPresenter& InstalledPresenter() {
    static TMsgBoxPresenter presenter = ConsolePresenter;
    return presenter;
}

struct TButtonChoice {
    QMessageBox::StandardButton Button;
    int Answer;
};

// The buttons of a box type in the order Windows shows them, so MB_DEFBUTTONn picks the n-th.
int ButtonsOf(int flags, TButtonChoice* choices) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
        choices[0] = {QMessageBox::Ok, IDOK};
        choices[1] = {QMessageBox::Cancel, IDCANCEL};
        return 2;
    case MB_ABORTRETRYIGNORE:
        choices[0] = {QMessageBox::Abort, IDABORT};
        choices[1] = {QMessageBox::Retry, IDRETRY};
        choices[2] = {QMessageBox::Ignore, IDIGNORE};
        return 3;
    case MB_YESNOCANCEL:
        choices[0] = {QMessageBox::Yes, IDYES};
        choices[1] = {QMessageBox::No, IDNO};
        choices[2] = {QMessageBox::Cancel, IDCANCEL};
        return 3;
    case MB_YESNO:
        choices[0] = {QMessageBox::Yes, IDYES};
        choices[1] = {QMessageBox::No, IDNO};
        return 2;
    case MB_RETRYCANCEL:
        choices[0] = {QMessageBox::Retry, IDRETRY};
        choices[1] = {QMessageBox::Cancel, IDCANCEL};
        return 2;
    default:
        choices[0] = {QMessageBox::Ok, IDOK};
        return 1;
    }
}

int DefaultButtonIndex(int flags, int buttonCount) {
    const int index = (flags & MB_DEFMASK) >> 8;
    return index < buttonCount ? index : 0;
}

QMessageBox::Icon IconOf(int flags) {
    switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The answer when the box is closed without a button (Escape, the window's close button): the
// same one Windows gives, Cancel where there is one, otherwise the safe choice.
int DismissAnswer(int flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDOK;
    }
}

} // namespace

int MsgBoxDefaultAnswer(int flags) {
    TButtonChoice choices[3];
    const int count = ButtonsOf(flags, choices);
    return choices[DefaultButtonIndex(flags, count)].Answer;
}

TMsgBoxPresenter SetMsgBoxPresenter(TMsgBoxPresenter presenter) {
    TMsgBoxPresenter previous = std::move(InstalledPresenter());
    InstalledPresenter() = presenter ? std::move(presenter) : TMsgBoxPresenter(ConsolePresenter);
    return previous;
}

int MsgBox(int flags, const char* fmt, ...) {
    char text[MsgBoxTextSize];
    va_list args;
    va_start(args, fmt);
    const int needed = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (needed < 0)
        text[0] = '\0';
    else if (needed >= static_cast<int>(sizeof text))
        DropPartialUtf8Tail(text);
    // Copy so a presenter that installs another presenter while it runs stays alive.
    TMsgBoxPresenter presenter = InstalledPresenter();
    return presenter(flags, text);
}

int QMessageBoxPresenter(int flags, const char* text) {
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();

    QMessageBox box(parent);
    box.setWindowTitle(QString::fromUtf8(MsgBoxCaption));
    box.setTextFormat(Qt::PlainText); // paths and device names are never markup
    box.setText(QString::fromLocal8Bit(text));
    box.setIcon(IconOf(flags));

    TButtonChoice choices[3];
    const int count = ButtonsOf(flags, choices);
    QMessageBox::StandardButtons buttons;
    for (int i = 0; i < count; ++i)
        buttons |= choices[i].Button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices[DefaultButtonIndex(flags, count)].Button);

    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (int i = 0; i < count; ++i) {
        if (choices[i].Button == pressed)
            return choices[i].Answer;
    }
    return DismissAnswer(flags);
}
