#pragma once
// Shared by the fuzz targets: a scratch folder of the process's own, and the check that stops
// the run when a property does not hold, so that libFuzzer keeps the input that broke it.

#include <cstddef>
#include <cstdint>
#include <string>

// A folder made for this process (under FUZZ_SCRATCH, /dev/shm or the temporary folder) and
// removed when the process ends.
const std::string& ScratchFolder();

// Writes the bytes to `name` in the scratch folder, replacing it; returns the file's path.
std::string WriteScratchFile(const char* name, const void* data, size_t size);

#if defined(__GNUC__) || defined(__clang__)
[[noreturn]] void PropertyFailed(const char* condition, const char* file, int line,
                                 const char* format, ...) __attribute__((format(printf, 4, 5)));
#endif

// Aborts, naming the condition and a printf-style explanation, when `condition` is false.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition))                                                                          \
            PropertyFailed(#condition, __FILE__, __LINE__, __VA_ARGS__);                           \
    } while (0)
