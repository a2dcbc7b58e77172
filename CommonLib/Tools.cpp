#include "Tools.h"

#include "LibError.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool HasWildcards(const char* path) {
    return std::strpbrk(path, "*?") != nullptr;
}

// Splits after the last separator: "dir/sub/*.ini" gives "dir/sub/" and "*.ini".
void SplitFolder(const std::string& path, std::string& folder, std::string& name) {
    size_t cut = path.size();
    while (cut > 0 && !IsPathSeparator(path[cut - 1]))
        --cut;
    folder = path.substr(0, cut);
    name = path.substr(cut);
}

struct TFoundFile {
    std::string Name;
    int64_t Size;
};

#ifdef _WIN32

// Up to `limit` ordinary files matching `path` (limit 0: all of them).
std::vector<TFoundFile> FindOrdinaryFiles(const char* path, size_t limit) {
    std::vector<TFoundFile> found;
    struct __finddata64_t entry;
    intptr_t search = _findfirst64(path, &entry);
    if (search == -1)
        return found;
    do {
        if ((entry.attrib & (_A_SUBDIR | _A_HIDDEN | _A_SYSTEM)) == 0)
            found.push_back({entry.name, entry.size});
    } while ((limit == 0 || found.size() < limit) && _findnext64(search, &entry) == 0);
    _findclose(search);
    return found;
}

#else

// '*' matches any run of characters, '?' exactly one; nothing else is special, so names with
// brackets or backslashes match literally as they would on Windows.
bool MatchesPattern(const char* pattern, const char* name) {
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}

bool IsOrdinaryName(const std::string& name) {
    return !name.empty() && name[0] != '.';
}

bool StatRegularFile(const std::string& path, int64_t& size) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = info.st_size;
    return true;
}

std::vector<TFoundFile> FindOrdinaryFiles(const char* path, size_t limit) {
    std::vector<TFoundFile> found;
    std::string folder, name;
    SplitFolder(path, folder, name);
    if (!IsOrdinaryName(name))
        return found;

    // A name may itself hold '*' or '?' here: the file of exactly that name comes first, so the
    // size asked for is its own and not that of some other file the pattern also matches.
    int64_t size = 0;
    const bool exact = StatRegularFile(path, size);
    if (exact)
        found.push_back({name, size});
    if (!HasWildcards(name.c_str()) || (limit != 0 && found.size() >= limit))
        return found;

    // "*.*" is the customary way to say every file, also those without an extension.
    if (name == "*.*")
        name = "*";
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (!IsOrdinaryName(entryName) || !MatchesPattern(name.c_str(), entryName.c_str()))
            continue;
        if (exact && folder + entryName == path)
            continue;
        if (!StatRegularFile(folder + entryName, size))
            continue;
        found.push_back({entryName, size});
        if (limit != 0 && found.size() >= limit)
            break;
    }
    closedir(dir);
    return found;
}

// Renames without replacing an existing target, as rename does on Windows: a replaced file
// would be lost without a word.
int RenameNoReplace(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
        // The file system cannot refuse replacing by itself: check first.
#endif
    struct stat info;
    if (lstat(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return std::rename(from, to);
}

#endif

[[noreturn]] void ThrowFileError(const char* what, const char* path) {
    throw TException(std::string(what) + path);
}

} // namespace

int SizeOfFile(const char* path) {
    const std::vector<TFoundFile> found = FindOrdinaryFiles(path, 1);
    if (found.empty())
        return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(found.front().Size));
}

bool FileExists(const char* path) {
    return !FindOrdinaryFiles(path, 1).empty();
}

bool DirExists(const char* path) {
    std::string folder = path;
    if (folder.empty())
        return true;
    if (IsPathSeparator(folder.back()) && folder.back() != ':')
        folder.pop_back();
    if (folder.empty())
        return true;
#ifdef _WIN32
    if (folder.back() == ':')
        return true;
    struct __finddata64_t entry;
    intptr_t search = _findfirst64(folder.c_str(), &entry);
    if (search == -1)
        return false;
    _findclose(search);
    return (entry.attrib & _A_SUBDIR) != 0;
#else
    struct stat info;
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

namespace {

void DeleteOneFile(const char* path) {
#ifdef _WIN32
    const int result = std::remove(path);
#else
    const int result = unlink(path); // remove() would also take away an empty directory
#endif
    if (result != 0)
        ThrowFileError("Cannot delete file: ", path);
}

} // namespace

void DelFile(const char* path) {
    if (!HasWildcards(path)) {
        DeleteOneFile(path);
        return;
    }
    std::string folder, name;
    SplitFolder(path, folder, name);
    // Collected first: deleting while the directory is being read may skip entries. Each match
    // is deleted as it is named, never searched again: a name or folder holding '*' or '?'
    // would otherwise match itself over and over.
    for (const TFoundFile& file : FindOrdinaryFiles(path, 0))
        DeleteOneFile((folder + file.Name).c_str());
}

bool RenameFile(const char* from, const char* to) {
#ifdef _WIN32
    const int result = std::rename(from, to);
#else
    const int result = RenameNoReplace(from, to);
#endif
    if (result != 0)
        ThrowFileError("Cannot rename file: ", from);
    return true;
}

bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}
