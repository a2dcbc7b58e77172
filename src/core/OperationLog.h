#pragma once
// The record of board operations for production benches: one JSON object a line, appended to a
// file that several boards (threads) and several processes may write at once. Each line goes out
// in one write under an exclusive lock on a file opened for appending, so lines never interleave
// or tear. The file is opened once, before any board work, and never waited for: a FIFO that
// nobody reads is refused at once, a full pipe or another writer's lock is waited out only while
// the caller wants to go on.

#include <QJsonObject>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

class TOperationLog {
public:
    TOperationLog() = default;
    ~TOperationLog();
    TOperationLog(const TOperationLog&) = delete;
    TOperationLog& operator=(const TOperationLog&) = delete;

    // Opens or creates the file for appending; false with the reason.
    bool Open(const std::string& path, std::string* error);
    // Appends the object as one line. keepWaiting is asked while the lock or a full pipe holds
    // the line back; false with the reason when the line could not be written whole.
    bool Append(const QJsonObject& entry, const std::function<bool()>& keepWaiting,
                std::string* error);

private:
    bool Fail(const char* what, const std::string& reason, std::string* error) const;
    // Waits for the lock or for room in the pipe: false once keepWaiting says stop, or too long.
    bool WaitLock(const std::function<bool()>& keepWaiting, std::string& reason);
    bool WriteWhole(const QByteArray& line, const std::function<bool()>& keepWaiting,
                    std::string& reason);

    int Fd = -1;
    std::string Path;
    std::mutex Lock; // one board thread at a time; the file lock keeps other processes out
};

// The SHA-256 of bytes, as lower-case hex.
std::string Sha256Hex(const uint8_t* data, int64_t length);
