// Message boxes and small bitmap helpers shared by the program and the library controls.
#pragma once

#include <functional>

// Style bits and answer codes keep the values of the Windows message box, so callers and
// stored habits read the same on every platform.
#ifdef _WIN32
// Without NOMINMAX the Windows headers turn min and max into macros, breaking std::min/std::max
// in every file that shows a message box.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
constexpr int MB_OK = 0x00000000;
constexpr int MB_OKCANCEL = 0x00000001;
constexpr int MB_ABORTRETRYIGNORE = 0x00000002;
constexpr int MB_YESNOCANCEL = 0x00000003;
constexpr int MB_YESNO = 0x00000004;
constexpr int MB_RETRYCANCEL = 0x00000005;
constexpr int MB_ICONHAND = 0x00000010;
constexpr int MB_ICONERROR = MB_ICONHAND;
constexpr int MB_ICONQUESTION = 0x00000020;
constexpr int MB_ICONEXCLAMATION = 0x00000030;
constexpr int MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr int MB_ICONINFORMATION = 0x00000040;
constexpr int MB_DEFBUTTON1 = 0x00000000;
constexpr int MB_DEFBUTTON2 = 0x00000100;
constexpr int MB_DEFBUTTON3 = 0x00000200;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr int MB_TYPEMASK = 0x0000000F;
constexpr int MB_ICONMASK = 0x000000F0;
constexpr int MB_DEFMASK = 0x00000F00;
#endif

// Longest text a message box shows, terminating NUL included; longer texts are cut.
constexpr int MsgBoxTextSize = 1024;

// Caption of every message box: the application's title.
extern const char* const MsgBoxCaption;

// Shows `text` with the buttons and icon of `flags` and returns the answer code (IDOK, IDYES...).
using TMsgBoxPresenter = std::function<int(int flags, const char* text)>;

// Formats a printf-style message and asks the installed presenter to show it; returns the code
// of the button pressed.
int MsgBox(int flags, const char* fmt, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Installs the presenter MsgBox hands its boxes to and returns the one it replaces. An empty
// presenter restores the built-in one, which writes the text to stderr and answers with the
// box's default button, Cancel or Abort for boxes that offer Retry (for programs without
// windows).
TMsgBoxPresenter SetMsgBoxPresenter(TMsgBoxPresenter presenter);

// The answer of the button a box of `flags` preselects (what Enter would press).
int MsgBoxDefaultAnswer(int flags);

// The answers of a box type's buttons in the order Windows shows them (so MB_DEFBUTTONn picks
// the n-th); answers must hold 3. Returns how many there are.
int MsgBoxAnswers(int flags, int* answers);

// The desktop presenter: a modal QMessageBox over the application's active window. Needs a
// QApplication.
int QMessageBoxPresenter(int flags, const char* text);

class QColor;
class QImage;

// Decodes the JPEG kept as Qt resource `name` (":/logo.jpg" or just "logo.jpg") into `bitmap`.
// Throws TException "Resource doesn't contain JPEG image: <name>" when there is no such
// resource, "No memory handle for a resource JPEG: <name>" when it holds no data, and
// "Cannot decode JPEG image: <name> (<reason>)" when the data is not a readable JPEG.
void LoadJPEGFromResourceName(QImage* bitmap, const char* name);

// Draws the greyed-out, embossed look of a disabled button glyph: `target` gets the size of
// `source`, filled with `background`; the glyph's dark pixels are drawn in `highlight` one pixel
// down and right, then in `shadow` in place.
void CreateDisabledBitmap(const QImage* source, QImage* target, const QColor& background,
                          const QColor& highlight, const QColor& shadow);
