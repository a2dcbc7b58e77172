// The message box entry points that need no toolkit: formatting, the installed presenter and
// the console presenter that answers when no window can, and the buttons of each box type.
// The dialog itself is Misc's QMessageBoxPresenter.
#include "Misc.h"

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

// Without windows nobody can mend what a Retry box reports, so retrying would repeat the
// failure forever: such boxes are answered Cancel (Abort), every other box its default button.
int ConsolePresenter(int flags, const char* text) {
    std::fprintf(stderr, "%s: %s\n", MsgBoxCaption, text);
    switch (flags & MB_TYPEMASK) {
    case MB_RETRYCANCEL:
        return IDCANCEL;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return MsgBoxDefaultAnswer(flags);
    }
}

TMsgBoxPresenter& InstalledPresenter() {
    static TMsgBoxPresenter presenter = ConsolePresenter;
    return presenter;
}

} // namespace

int MsgBoxAnswers(int flags, int* answers) {
    switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
        answers[0] = IDOK;
        answers[1] = IDCANCEL;
        return 2;
    case MB_ABORTRETRYIGNORE:
        answers[0] = IDABORT;
        answers[1] = IDRETRY;
        answers[2] = IDIGNORE;
        return 3;
    case MB_YESNOCANCEL:
        answers[0] = IDYES;
        answers[1] = IDNO;
        answers[2] = IDCANCEL;
        return 3;
    case MB_YESNO:
        answers[0] = IDYES;
        answers[1] = IDNO;
        return 2;
    case MB_RETRYCANCEL:
        answers[0] = IDRETRY;
        answers[1] = IDCANCEL;
        return 2;
    default:
        answers[0] = IDOK;
        return 1;
    }
}

int MsgBoxDefaultAnswer(int flags) {
    int answers[3];
    const int count = MsgBoxAnswers(flags, answers);
    const int index = (flags & MB_DEFMASK) >> 8;
    return answers[index < count ? index : 0];
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
