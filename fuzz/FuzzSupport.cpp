#include "FuzzSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string BaseFolder() {
    if (const char* folder = std::getenv("FUZZ_SCRATCH"); folder && *folder)
        return folder;
    // Many small files are written per second: memory-backed when the system offers it.
    if (std::filesystem::is_directory("/dev/shm"))
        return "/dev/shm";
    return std::filesystem::temp_directory_path().string();
}

std::string MakeScratchFolder() {
    std::string pattern = BaseFolder() + "/korvex-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        std::perror("korvex fuzz: cannot make a scratch folder");
        std::abort();
    }
    return pattern;
}

void RemoveScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchFolder(), ignored);
}

} // namespace

const std::string& ScratchFolder() {
    static const std::string folder = MakeScratchFolder();
    static const bool removedAtExit = std::atexit(RemoveScratchFolder) == 0;
    (void)removedAtExit;
    return folder;
}

std::string WriteScratchFile(const char* name, const void* data, size_t size) {
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) {
        std::fprintf(stderr, "korvex fuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

void PropertyFailed(const char* condition, const char* file, int line, const char* format, ...) {
    std::fprintf(stderr, "\nProperty violated at %s:%d: %s\n", file, line, condition);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}
