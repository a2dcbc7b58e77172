// Errors raised by the general library: a message-carrying exception for run-time failures
// (exhausted memory, failed file operations) and the assertion used for broken preconditions.
#pragma once

#include <stdexcept>
#include <string>

// The library's general error: carries the text the user is shown.
class TException : public std::runtime_error {
public:
    explicit TException(const char* message) : std::runtime_error(message) {}
    explicit TException(const std::string& message) : std::runtime_error(message) {}
    const char* Message() const noexcept { return what(); }
};

// A caller broke a precondition of a library operation. The text names the condition and the
// source unit, e.g. "Assertion failed: Position <= Length(), file CommonLib/TString, line 42".
class TAssertionFailure : public std::logic_error {
public:
    TAssertionFailure(const char* condition, const char* unit, int line);
    const char* Condition() const noexcept { return FCondition.c_str(); }
    const char* Unit() const noexcept { return FUnit.c_str(); }

private:
    std::string FCondition;
    std::string FUnit;
};

// Reports a failed precondition by raising TAssertionFailure: the operation is abandoned before
// it touches anything, and the program's general error handling shows the text.
[[noreturn]] void LibAssertFailed(const char* condition, const char* unit, int line);

// Checks a precondition; `text` is the condition as the report names it.
#define LIB_ASSERT(condition, text, unit)                                                          \
    do {                                                                                           \
        if (!(condition))                                                                          \
            LibAssertFailed(text, unit, __LINE__);                                                 \
    } while (0)

// Raises the library's "Out of memory" error.
[[noreturn]] void ThrowOutOfMemory();

// Shows an error message to the user where an exception may not be raised (destructors).
void ReportLibraryError(const char* message) noexcept;
