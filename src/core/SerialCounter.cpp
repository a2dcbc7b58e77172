#include "SerialCounter.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another process holds the lock only while it replaces a few bytes; this long is a hang.
constexpr int MaxWaitMs = 10000;
constexpr int WaitStepMs = 5;
// A counter line is short; more than this is no counter.
constexpr size_t MaxFileBytes = 64;

std::string SystemReason(int code) {
    return std::strerror(code);
}

// The whole content, as long as it is short. False with the reason.
bool ReadShort(int fd, std::string& text, std::string& reason) {
    char buffer[MaxFileBytes + 1];
    size_t done = 0;
    while (done < sizeof buffer) {
        const ssize_t got = ::pread(fd, buffer + done, sizeof buffer - done, done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = SystemReason(errno);
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    if (done > MaxFileBytes) {
        reason = "longer than a counter's one line";
        return false;
    }
    text.assign(buffer, done);
    return true;
}

// One decimal number, perhaps with spaces and one line end around it.
bool ParseCounter(const std::string& text, uint64_t& number, std::string& reason) {
    size_t at = text.find_first_not_of(" \t");
    size_t end = at;
    number = 0;
    for (; end < text.size() && text[end] >= '0' && text[end] <= '9'; ++end) {
        const uint64_t digit = static_cast<uint64_t>(text[end] - '0');
        if (number > (UINT64_MAX - digit) / 10) {
            reason = "the number is too large";
            return false;
        }
        number = number * 10 + digit;
    }
    const size_t rest = end == std::string::npos ? text.size() : end;
    const bool blankAfter = text.find_first_not_of(" \t\r\n", rest) == std::string::npos;
    const size_t lineEnd = text.find('\n', rest);
    const bool oneLine = lineEnd == std::string::npos || lineEnd + 1 == text.size();
    if (at == std::string::npos || end == at || !blankAfter || !oneLine) {
        reason = "it does not hold one decimal number on one line";
        return false;
    }
    return true;
}

// The folder a file lies in, for the temporary file and its flush.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

// Replaces the file at path with text: written beside it, flushed, renamed over it, and the
// rename flushed too. A failure or a crash at any point leaves the file whole, old or new.
bool ReplaceDurably(const std::string& path, mode_t mode, const std::string& text,
                    std::string& reason) {
    const std::string folder = FolderOf(path);
    std::string temporary = folder + "/.korvex-serial-XXXXXX";
    const int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        reason = "cannot write beside it: " + SystemReason(errno);
        return false;
    }
    bool done = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && done) {
        done = false;
        code = errno;
    }
    if (done && ::rename(temporary.c_str(), path.c_str()) != 0) {
        done = false;
        code = errno;
    }
    if (!done) {
        ::unlink(temporary.c_str());
        reason = SystemReason(code);
        return false;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = dir >= 0 && ::fsync(dir) == 0;
    code = errno;
    if (dir >= 0)
        ::close(dir);
    if (!flushed)
        reason = "the new number was not flushed to disk: " + SystemReason(code);
    return flushed;
}

// The file a link leads to: it is replaced, the link stays.
std::string Resolved(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    const std::string resolved = real;
    std::free(real);
    return resolved;
}

// The counter file open and locked; closing it lets the lock go.
class TLockedCounter {
public:
    ~TLockedCounter() {
        if (Fd >= 0)
            ::close(Fd);
    }
    // Opens and locks the file that the path names now: a file another process replaced while
    // this one waited for the lock is opened afresh.
    bool Open(const std::string& path, bool exclusive, std::string& reason) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (Fd >= 0)
                ::close(Fd);
            Fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
            if (Fd < 0 || ::fstat(Fd, &Status) != 0) {
                reason = SystemReason(errno);
                return false;
            }
            if (!S_ISREG(Status.st_mode)) {
                reason = "not a regular file";
                return false;
            }
            if (!WaitLock(exclusive, clock, reason))
                return false;
            struct stat named;
            if (::stat(path.c_str(), &named) == 0 && named.st_dev == Status.st_dev &&
                named.st_ino == Status.st_ino)
                return true;
        }
    }
    int Fd = -1;
    struct stat Status = {};

private:
    bool WaitLock(bool exclusive, const QElapsedTimer& clock, std::string& reason) {
        while (::flock(Fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                reason = "cannot lock it: " + SystemReason(errno);
                return false;
            }
            if (clock.elapsed() > MaxWaitMs) {
                reason = "another process holds its lock";
                return false;
            }
            ::usleep(WaitStepMs * 1000);
        }
        return true;
    }
};

bool Failed(const std::string& path, const std::string& reason, std::string* error) {
    if (error)
        *error = "Serial number counter " + path + ": " + reason;
    return false;
}

} // namespace

bool TSerialCounter::Peek(uint64_t& next, std::string* error) const {
    const std::string path = Resolved(Path);
    TLockedCounter file;
    std::string reason, text;
    if (!file.Open(path, false, reason) || !ReadShort(file.Fd, text, reason) ||
        !ParseCounter(text, next, reason))
        return Failed(Path, reason, error);
    // Each take replaces the file: its folder must take a new one.
    if (::access(path.c_str(), W_OK) != 0 || ::access(FolderOf(path).c_str(), W_OK | X_OK) != 0)
        return Failed(Path, "cannot be rewritten: " + SystemReason(errno), error);
    return true;
}

bool TSerialCounter::Take(uint64_t largest, uint64_t& number, std::string* error) {
    const std::lock_guard<std::mutex> guard(Lock);
    const std::string path = Resolved(Path);
    TLockedCounter file;
    std::string reason, text;
    if (!file.Open(path, true, reason) || !ReadShort(file.Fd, text, reason) ||
        !ParseCounter(text, number, reason))
        return Failed(Path, reason, error);
    if (number > largest)
        return Failed(Path,
                      "the next number, " + std::to_string(number) +
                          ", is beyond the largest the format holds, " + std::to_string(largest),
                      error);
    if (::access(path.c_str(), W_OK) != 0)
        return Failed(Path, "cannot be rewritten: " + SystemReason(errno), error);
    // Handed out only once the file on disk already holds the next one.
    if (!ReplaceDurably(path, file.Status.st_mode & 07777, std::to_string(number + 1) + "\n",
                        reason))
        return Failed(Path, reason, error);
    return true;
}
