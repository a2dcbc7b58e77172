#include "OperationLog.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool AppendLogLine(const QString& path, const QJsonObject& entry, std::string* error) {
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    auto fail = [error, &path](const char* what, int code) {
        if (error)
            *error = "Unable to write the log " + path.toStdString() + ": " + what + ": " +
                     std::strerror(code);
        return false;
    };
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail("open", errno);
    // The lock keeps writers that do not append (an editor, a copy) and large lines that a
    // filesystem might split from mixing with ours; O_APPEND alone places each write at the end.
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int code = errno;
            ::close(fd);
            return fail("lock", code);
        }
    }
    qsizetype done = 0;
    int code = 0;
    while (done < line.size()) {
        const ssize_t wrote = ::write(fd, line.constData() + done, line.size() - done);
        if (wrote < 0) {
            if (errno == EINTR)
                continue;
            code = errno;
            break;
        }
        done += wrote;
    }
    ::flock(fd, LOCK_UN);
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code != 0)
        return fail("write", code);
    return true;
}

std::string Sha256Hex(const uint8_t* data, int64_t length) {
    const QByteArrayView view(data, static_cast<qsizetype>(length));
    return QCryptographicHash::hash(view, QCryptographicHash::Sha256).toHex().toStdString();
}
