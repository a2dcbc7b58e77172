#include "OperationLog.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A lock held or a pipe kept full longer than this is a writer that has hung: the line is given
// up rather than the command.
constexpr int MaxWaitMs = 10000;
constexpr int WaitStepMs = 20;

} // namespace

TOperationLog::~TOperationLog() {
    if (Fd >= 0)
        ::close(Fd);
}

bool TOperationLog::Fail(const char* what, const std::string& reason, std::string* error) const {
    if (error)
        *error = "Unable to write the log " + Path + ": " + what + ": " + reason;
    return false;
}

bool TOperationLog::Open(const std::string& path, std::string* error) {
    Path = path;
    // Without O_NONBLOCK the open of a FIFO waits for a reader, for ever.
    Fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (Fd >= 0)
        return true;
    const int code = errno;
    struct stat info = {};
    const bool fifo = ::stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
    return Fail("open",
                std::string(std::strerror(code)) +
                    (fifo && code == ENXIO ? " (a FIFO that nothing reads)" : ""),
                error);
}

bool TOperationLog::WaitLock(const std::function<bool()>& keepWaiting, std::string& reason) {
    QElapsedTimer clock;
    clock.start();
    while (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
        if ((keepWaiting && !keepWaiting()) || clock.elapsed() > MaxWaitMs) {
            reason = "another writer holds the file";
            return false;
        }
        ::usleep(WaitStepMs * 1000);
    }
    return true;
}

bool TOperationLog::WriteWhole(const QByteArray& line, const std::function<bool()>& keepWaiting,
                               std::string& reason) {
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t wrote = ::write(Fd, line.constData() + done, line.size() - done);
        if (wrote >= 0) {
            done += wrote;
            continue;
        }
        if (errno != EAGAIN && errno != EINTR) {
            reason = std::strerror(errno);
            return false;
        }
        // A pipe whose reader is slow: wait for room while the command wants to go on.
        if ((keepWaiting && !keepWaiting()) || clock.elapsed() > MaxWaitMs) {
            reason = "the reader takes nothing";
            return false;
        }
        pollfd entry{Fd, POLLOUT, 0};
        ::poll(&entry, 1, WaitStepMs);
    }
    return true;
}

bool TOperationLog::Append(const QJsonObject& entry, const std::function<bool()>& keepWaiting,
                           std::string* error) {
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    const std::lock_guard<std::mutex> guard(Lock);
    if (Fd < 0)
        return Fail("open", "not open", error);
    std::string reason;
    // The lock keeps writers that do not append (an editor, a copy) and large lines that a
    // filesystem might split from mixing with ours; O_APPEND alone places each write at the end.
    if (!WaitLock(keepWaiting, reason))
        return Fail("lock", reason, error);
    const bool whole = WriteWhole(line, keepWaiting, reason);
    ::flock(Fd, LOCK_UN);
    return whole || Fail("write", reason, error);
}

std::string Sha256Hex(const uint8_t* data, int64_t length) {
    const QByteArrayView view(data, static_cast<qsizetype>(length));
    return QCryptographicHash::hash(view, QCryptographicHash::Sha256).toHex().toStdString();
}
