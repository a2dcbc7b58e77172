// The library's file abstraction: a byte stream with an end-of-file flag, disk files on
// handle-level I/O with region locks, a buffered disk file, a lock guard, an in-memory file,
// and the delimited record fields written and read through any of them.
//
// Every failed operating-system call raises TException with a message naming the file
// ("Cannot read: <path>"); permission-denied failures (a region or file held by another
// program) are retried every 500 ms, and every 20th attempt the user is asked whether to go on.
#pragma once

#include "Contain.h"

#include <string>
#include <vector>

class TString;
class TVxDate;

// Open modes: the C run-time's `open` flag values, so callers read the same on every platform.
constexpr int FileReadOnly = 0x0000;
constexpr int FileWriteOnly = 0x0001;
constexpr int FileReadWrite = 0x0002;
constexpr int FileAccessMask = 0x0003;
constexpr int FileCreate = 0x0100;    // open, or create when missing
constexpr int FileTruncate = 0x0200;  // with FileCreate: always a new empty file
constexpr int FileExclusive = 0x0400; // with FileCreate: fail when the file exists
constexpr int FileDenyAll = 0x0010;
constexpr int FileDenyWrite = 0x0020;
constexpr int FileDenyRead = 0x0030;
constexpr int FileShareMask = 0x0070;
constexpr int FileText = 0x4000;
constexpr int FileBinary = 0x8000;

// Longest path a disk file holds, terminating NUL included.
constexpr int FilePathSize = 260;

// Parts of a path for TBasicDiskFile::Name.
constexpr int FilePartDrive = 1;
constexpr int FilePartDir = 2;
constexpr int FilePartName = 4;
constexpr int FilePartExt = 8;

// An abstract byte stream.
class TFile {
public:
    TFile() : FEof(false) {}
    virtual ~TFile() {}
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;

    virtual bool AtEof() const { return FEof; }
    virtual bool IsOpen() const = 0;
    virtual void Open(const char* path, int mode) = 0;
    // Reads exactly `length` bytes or raises.
    virtual void Read(void* buffer, int length) = 0;
    // The next byte as 0..255.
    virtual int ReadByte() = 0;
    // Writes exactly `length` bytes or raises.
    virtual void Write(const void* data, int length) = 0;
    virtual void Seek(int position) = 0;
    virtual int Tell() { return 0; }
    virtual void Close() = 0;
    virtual int Size() const = 0;

    void SetEof(bool eof) { FEof = eof; }

    // Text followed by CR LF; an empty text writes nothing at all.
    void WriteLine(const char* text);
    void WriteLine(TString& text);

    // Delimited record fields: each field's text is followed by one separator byte.
    void WriteString(const TString& s, const char& sep);
    void WriteInt(const int& value, const char& sep);
    void WriteBool(const bool& value, const char& sep);
    void WriteDate(const TVxDate& date, const char& sep);
    void ReadString(TString& s, const char& sep);
    void ReadInt(int& value, const char& sep);
    void ReadBool(bool& value, const char& sep);
    void ReadDate(TVxDate& date, const char& sep);

protected:
    // Raises TException with `format` ("Cannot read: %s") filled with `name`.
    [[noreturn]] static void RaiseError(const char* format, const char* name);

    bool FEof;
};

// A file with database-style operations; this level gives their neutral defaults.
class TDBFile : public TFile {
public:
    using TFile::Open;

    virtual void Lock(int offset, int length);
    virtual void Unlock(int offset, int length);
    virtual bool CanLock(int offset, int length);
    virtual const char* Name() const { return ""; }
    virtual void Truncate(int size);
    virtual bool Exists() const { return true; }
    virtual void Open(int mode);
};

// A disk file on a run-time file handle. Created closed; named and opened by Open(path, mode).
class TBasicDiskFile : public TDBFile {
public:
    TBasicDiskFile();
    ~TBasicDiskFile() override;

    bool IsOpen() const override { return FHandle >= 0; }
    void Open(const char* path, int mode) override;
    void Read(void* buffer, int length) override;
    int ReadByte() override;
    void Write(const void* data, int length) override;
    void Seek(int position) override;
    int Tell() override;
    void Close() override;
    int Size() const override;
    void Lock(int offset, int length) override;
    void Unlock(int offset, int length) override;
    bool CanLock(int offset, int length) override;
    const char* Name() const override { return FPath; }
    void Truncate(int size) override;
    bool Exists() const override;
    void Open(int mode) override;

    // Closes the file, then takes `path` as its name. A path longer than FilePathSize - 1
    // characters raises "Cannot open" rather than naming a different file.
    void SetName(const char* path);
    // Composes the parts of the path selected by `parts` (FilePartDrive | FilePartDir ...) into
    // `buffer`, which holds at least FilePathSize bytes.
    void Name(char* buffer, int parts) const;
    // Whether a failed call (`result`, with errno) is worth repeating; see the file comment.
    bool RetryAccessError(const char* what, int result, int attempt);

    // Tests shorten the pause between retries; 500 ms otherwise.
    static void SetRetryPause(int milliseconds);

protected:
    int FHandle;
    char FPath[FilePathSize];

private:
    // Locks (or unlocks) a byte region with one attempt; false with errno set on failure.
    bool LockRegion(int offset, int length, bool lock);
};

// A disk file that keeps its end-of-file flag current after every transfer.
class TDiskFile : public TBasicDiskFile {
public:
    void Open(const char* path, int mode) override;
    void Read(void* buffer, int length) override;
    void Write(const void* data, int length) override;
    void Truncate(int size) override;
    void Open(int mode) override;

    // The flag becomes true when the position is at or beyond the file's length.
    void CheckEof();
};

// A disk file with a read/write buffer. Small transfers go through the buffer; transfers
// larger than it go straight to the file. The logical position is where the next byte is read
// or written; the file is in reading mode or writing mode, switching flushes.
class TBufFile : public TDiskFile {
public:
    explicit TBufFile(int bufferSize);
    ~TBufFile() override;

    bool AtEof() const override;
    void Open(const char* path, int mode) override;
    void Read(void* buffer, int length) override;
    int ReadByte() override;
    void Write(const void* data, int length) override;
    void Seek(int position) override;
    int Tell() override { return FPosition; }
    void Close() override;
    int Size() const override;
    void Lock(int offset, int length) override;
    void Unlock(int offset, int length) override;
    bool CanLock(int offset, int length) override;
    void Truncate(int size) override;
    void Open(int mode) override;

    void InitBuffer();
    // Writes the buffered bytes, if any, and empties the buffer.
    void Flush();

private:
    void EnterWritingMode();
    void SyncEof();

    int FBufSize;
    int FBufIndex;
    int FBufFill;
    int FPosition;
    bool FWriting;
    TArrayPtr<char> FBuffer;
    // The handle reached the file's end with the last transfer.
    bool FHandleEof;
};

// Holds a region lock for its lifetime.
class TFileLock {
public:
    TFileLock(TDBFile& file, int offset, int length);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    TDBFile& FFile;
    int FOffset;
    int FLength;
};

// One block of an in-memory file.
struct TVectorBlocks {
    enum { Size = 1024 };
    unsigned char Data[Size];
};

// A growable file in memory, held in 1024-byte blocks. Reads and writes are byte-exact; the
// file ends after the last byte written; bytes skipped by a write beyond the end read as 0.
class TVectorFile : public TFile {
public:
    TVectorFile();

    bool IsOpen() const override { return true; }
    // Keeps the content unless `mode` asks for truncation; the position goes to 0.
    void Open(const char* path, int mode) override;
    void Read(void* buffer, int length) override;
    int ReadByte() override;
    void Write(const void* data, int length) override;
    void Seek(int position) override;
    int Tell() override { return FPosition; }
    void Close() override {}
    int Size() const override { return FSize; }

private:
    void Allocate(int bytes);
    void TestEof() { FEof = FPosition >= FSize; }

    TVector<TVectorBlocks*> FBlocks;
    int FPosition;
    int FAllocated;
    int FSize;
};

// The name in-memory files give in their error messages.
extern const char* const MemoryFileName;

// A regular file opened read-only by the bytes of its name, as the caller has them (no text
// conversion, so any name the file system holds can be read). Anything else is refused: a FIFO
// or a device may block for ever or never end, and a folder holds no bytes to read. Unlike the
// classes above it raises nothing; failures leave the system's reason in Reason().
class TRegularFileReader {
public:
    TRegularFileReader() = default;
    ~TRegularFileReader();
    TRegularFileReader(const TRegularFileReader&) = delete;
    TRegularFileReader& operator=(const TRegularFileReader&) = delete;

    bool Open(const char* path);
    void Close();
    // Why the last Open or Read failed: "No such file or directory", "Not a regular file" ...
    const std::string& Reason() const { return FReason; }
    // Size and last modification (seconds since the epoch) as they were at Open.
    long long Size() const { return FSize; }
    long long Modified() const { return FModified; }
    // Up to length bytes from the current position; 0 at the end, -1 on failure.
    long long Read(void* buffer, long long length);
    bool Rewind();

private:
    int FHandle = -1;
    long long FSize = 0;
    long long FModified = 0;
    std::string FReason;
};

// The names in a folder exactly as the file system holds them ("." and ".." left out); empty
// when it cannot be listed.
std::vector<std::string> FolderEntryNames(const char* folder);
