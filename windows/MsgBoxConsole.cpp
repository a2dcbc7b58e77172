// The message box entry points of Misc for programs built without Qt: boxes go to the console
// presenter (or one a test installs), answered as Misc's console presenter answers them.
#include "Misc.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

const char* const MsgBoxCaption = "Korvex";

namespace {

// Retrying cannot mend anything without a user, so boxes offering Retry are answered Cancel or
// Abort; every other box gets its default button.
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

int MsgBoxDefaultAnswer(int flags) {
    // The answers of each box type's buttons in the order they are shown.
    static const int Answers[][3] = {
        {IDOK, 0, 0},
        {IDOK, IDCANCEL, 0},
        {IDABORT, IDRETRY, IDIGNORE},
        {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO, 0},
        {IDRETRY, IDCANCEL, 0},
    };
    const int type = flags & MB_TYPEMASK;
    const int* answers = Answers[type < 6 ? type : 0];
    const int index = (flags & MB_DEFMASK) >> 8;
    return index < 3 && answers[index] != 0 ? answers[index] : answers[0];
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
    if (std::vsnprintf(text, sizeof text, fmt, args) < 0)
        text[0] = '\0';
    va_end(args);
    // A copy, so a presenter that installs another one while it runs stays alive.
    TMsgBoxPresenter presenter = InstalledPresenter();
    return presenter(flags, text);
}
