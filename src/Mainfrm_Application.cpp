#include "Mainfrm_Application.h"

#include "Misc.h"

#include <exception>
#include <new>

void ShowEscapedError() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        MsgBox(MB_ICONERROR, "Out of memory");
    } catch (const std::exception& error) {
        MsgBox(MB_ICONERROR, "%s", error.what());
    } catch (...) {
        MsgBox(MB_ICONERROR, "Unknown error");
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowEscapedError();
        return false;
    }
}
