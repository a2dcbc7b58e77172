#include "LibError.h"

#include "Misc.h"

namespace {

std::string AssertionText(const char* condition, const char* unit, int line) {
    return std::string("Assertion failed: ") + condition + ", file " + unit + ", line " +
           std::to_string(line);
}

} // namespace

TAssertionFailure::TAssertionFailure(const char* condition, const char* unit, int line)
    : std::logic_error(AssertionText(condition, unit, line)), FCondition(condition), FUnit(unit) {}

void LibAssertFailed(const char* condition, const char* unit, int line) {
    throw TAssertionFailure(condition, unit, line);
}

void ThrowOutOfMemory() {
    throw TException("Out of memory");
}

void ReportLibraryError(const char* message) noexcept {
    try {
        MsgBox(MB_OK, "%s", message);
    } catch (...) {
        // Nothing more can be done for the user here; the caller goes on releasing memory.
    }
}
