#include "File.h"

#include "LibError.h"
#include "Misc.h"
#include "TString.h"
#include "Tools.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#define FILE_UNIT "CommonLib/File"

// (std::min) and (std::max) stay clear of the min/max macros of the Windows headers.

const char* const MemoryFileName = "(memory)";

namespace {

int RetryPauseMs = 500;
// Every this many attempts the user is asked whether to go on retrying.
const int AttemptsPerQuestion = 20;

// ---------------------------------------------------------------------------------------------
// Handle-level I/O. Failures return -1 with errno set, as the C run-time's calls do.

#ifdef _WIN32

// The Microsoft run-time takes a handle that is not open for an invalid parameter, which ends
// the program by default; a closed file (handle -1) must raise its "Cannot ..." error instead.
bool HandleOpen(int handle) {
    if (handle >= 0)
        return true;
    errno = EBADF;
    return false;
}

int SysOpen(const char* path, int mode) {
    int share = mode & FileShareMask;
    if (share == 0)
        share = _SH_DENYNO;
    // Not inherited, so a program started meanwhile cannot keep the file or its sharing mode.
    int handle = -1;
    _sopen_s(&handle, path, (mode & ~FileShareMask) | _O_NOINHERIT, share, _S_IREAD | _S_IWRITE);
    return handle;
}

int SysClose(int handle) {
    return HandleOpen(handle) ? _close(handle) : -1;
}
int SysRead(int handle, void* buffer, int length) {
    return HandleOpen(handle) ? _read(handle, buffer, static_cast<unsigned>(length)) : -1;
}
int SysWrite(int handle, const void* data, int length) {
    return HandleOpen(handle) ? _write(handle, data, static_cast<unsigned>(length)) : -1;
}
long long SysSeek(int handle, long long offset, int whence) {
    return HandleOpen(handle) ? _lseeki64(handle, offset, whence) : -1;
}
long long SysLength(int handle) {
    return HandleOpen(handle) ? _filelengthi64(handle) : -1;
}
int SysTruncate(int handle, int size) {
    return HandleOpen(handle) ? _chsize(handle, size) : -1;
}

// Region locks on the system handle beneath the run-time one: the run-time's own call locks
// from the file position (so the position would have to be moved and put back), and not every
// run-time sets errno when a region is held. A held region reports EACCES, as on POSIX.
int SysLockRegion(int handle, int offset, int length, bool lock) {
    if (!HandleOpen(handle))
        return -1;
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    const DWORD start = static_cast<DWORD>(offset);
    const DWORD count = static_cast<DWORD>(length);
    const BOOL done =
        lock ? LockFile(file, start, 0, count, 0) : UnlockFile(file, start, 0, count, 0);
    if (done)
        return 0;
    switch (GetLastError()) {
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
    case ERROR_ACCESS_DENIED:
        errno = EACCES;
        break;
    default:
        errno = EINVAL;
        break;
    }
    return -1;
}

bool SysRegionFree(int handle, int offset, int length) {
    if (SysLockRegion(handle, offset, length, true) != 0)
        return false;
    return SysLockRegion(handle, offset, length, false) == 0;
}

#else

int SysOpen(const char* path, int mode) {
    int flags = O_CLOEXEC;
    switch (mode & FileAccessMask) {
    case FileWriteOnly:
        flags |= O_WRONLY;
        break;
    case FileReadWrite:
        flags |= O_RDWR;
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if (mode & FileCreate) {
        flags |= O_CREAT;
        if (mode & FileExclusive)
            flags |= O_EXCL;
    }
    const int handle = open(path, flags, 0666);
    if (handle < 0)
        return -1;
    // Sharing is settled with a whole-file lock before anything is truncated: a file another
    // program holds denied reports permission denied, as the run-time does. Denying all takes
    // the lock alone; every other open shares it, so an open that does not deny (a Save that
    // empties the file) cannot get past another program's deny-all, and a deny-all open waits
    // until the others have closed.
    const int share = mode & FileShareMask;
    const bool denies = share == FileDenyAll || share == FileDenyWrite || share == FileDenyRead;
    if (flock(handle, (share == FileDenyAll ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        // Where whole-file locks are missing, only an open that asked to deny must fail.
        if (denies || errno == EWOULDBLOCK) {
            close(handle);
            errno = EACCES;
            return -1;
        }
    }
    if ((mode & FileTruncate) && ftruncate(handle, 0) != 0) {
        const int error = errno;
        close(handle);
        errno = error;
        return -1;
    }
    return handle;
}

int SysClose(int handle) {
    return close(handle);
}

int SysRead(int handle, void* buffer, int length) {
    ssize_t result;
    do
        result = read(handle, buffer, static_cast<size_t>(length));
    while (result < 0 && errno == EINTR);
    return static_cast<int>(result);
}

int SysWrite(int handle, const void* data, int length) {
    ssize_t result;
    do
        result = write(handle, data, static_cast<size_t>(length));
    while (result < 0 && errno == EINTR);
    return static_cast<int>(result);
}

long long SysSeek(int handle, long long offset, int whence) {
    return lseek(handle, static_cast<off_t>(offset), whence);
}

long long SysLength(int handle) {
    struct stat info;
    return fstat(handle, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

int SysTruncate(int handle, int size) {
    return ftruncate(handle, size);
}

// Record locks of the open file description where the system has them (a second handle in the
// same process then conflicts, as on Windows), classic process record locks otherwise.
#ifdef F_OFD_SETLK
const int SetLockCommand = F_OFD_SETLK;
const int GetLockCommand = F_OFD_GETLK;
#else
const int SetLockCommand = F_SETLK;
const int GetLockCommand = F_GETLK;
#endif

struct flock Region(int offset, int length, short type) {
    struct flock region;
    memset(&region, 0, sizeof region);
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = offset;
    region.l_len = length;
    return region;
}

int SysLockRegion(int handle, int offset, int length, bool lock) {
    struct flock region = Region(offset, length, lock ? F_WRLCK : F_UNLCK);
    if (fcntl(handle, SetLockCommand, &region) == 0)
        return 0;
    // A region held by someone else is the permission-denied case of the run-time.
    if (errno == EAGAIN)
        errno = EACCES;
    return -1;
}

// Asks without locking, so a region this handle already holds stays held.
bool SysRegionFree(int handle, int offset, int length) {
    struct flock region = Region(offset, length, F_WRLCK);
    if (fcntl(handle, GetLockCommand, &region) != 0)
        return false;
    return region.l_type == F_UNLCK;
}

#endif

// Moves `length` bytes, calling again after partial transfers. Returns the bytes moved, or -1
// (errno set) when a call failed; `done` counts what was moved either way.
template <class TTransfer> int TransferFully(TTransfer transfer, int length, int& done) {
    done = 0;
    while (done < length) {
        const int result = transfer(done);
        if (result < 0)
            return -1;
        if (result == 0)
            break;
        done += result;
    }
    return done;
}

int ReadFully(int handle, char* buffer, int length, int& done) {
    return TransferFully([&](int at) { return SysRead(handle, buffer + at, length - at); }, length,
                         done);
}

int WriteFully(int handle, const char* data, int length, int& done) {
    return TransferFully([&](int at) { return SysWrite(handle, data + at, length - at); }, length,
                         done);
}

// Puts the handle back over `done` bytes of a failed transfer, keeping errno for the caller.
void StepBack(int handle, int done) {
    if (done <= 0)
        return;
    const int error = errno;
    SysSeek(handle, -static_cast<long long>(done), SEEK_CUR);
    errno = error;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TFile

void TFile::RaiseError(const char* format, const char* name) {
    char message[512];
    snprintf(message, sizeof message, format, name);
    throw TException(message);
}

void TFile::WriteLine(const char* text) {
    if (!text || !*text)
        return;
    Write(text, static_cast<int>(strlen(text)));
    Write("\r\n", 2);
}

void TFile::WriteLine(TString& text) {
    if (text.IsBlank())
        return;
    Write(text(), text.Length());
    Write("\r\n", 2);
}

void TFile::WriteString(const TString& s, const char& sep) {
    if (!s.IsBlank())
        Write(s(), s.Length());
    Write(&sep, 1);
}

void TFile::WriteInt(const int& value, const char& sep) {
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    Write(text, static_cast<int>(strlen(text)));
    Write(&sep, 1);
}

void TFile::WriteBool(const bool& value, const char& sep) {
    Write(value ? "T" : "F", 1);
    Write(&sep, 1);
}

namespace {
bool SameByte(int c, char sep) {
    return static_cast<unsigned char>(c) == static_cast<unsigned char>(sep);
}
} // namespace

void TFile::ReadString(TString& s, const char& sep) {
    TString text;
    for (int c = ReadByte(); !SameByte(c, sep); c = ReadByte())
        text += static_cast<unsigned char>(c);
    s = text;
}

void TFile::ReadInt(int& value, const char& sep) {
    // A last field without its separator still counts in full.
    TString text;
    for (;;) {
        const int c = ReadByte();
        if (SameByte(c, sep))
            break;
        text += static_cast<unsigned char>(c);
        if (AtEof())
            break;
    }
    // A number too large for an int keeps its sign and stops at the limit rather than wrapping.
    const long number = text.ToInt();
    value = number > INT_MAX ? INT_MAX : number < INT_MIN ? INT_MIN : static_cast<int>(number);
}

void TFile::ReadBool(bool& value, const char& sep) {
    (void)sep;
    value = ReadByte() == 'T';
    ReadByte();
}

// ---------------------------------------------------------------------------------------------
// TDBFile: the neutral defaults

void TDBFile::Lock(int, int) {}
void TDBFile::Unlock(int, int) {}
bool TDBFile::CanLock(int, int) {
    return true;
}
void TDBFile::Truncate(int) {}
void TDBFile::Open(int) {}

// ---------------------------------------------------------------------------------------------
// TBasicDiskFile

TBasicDiskFile::TBasicDiskFile() : FHandle(-1) {
    FPath[0] = 0;
}

TBasicDiskFile::~TBasicDiskFile() {
    try {
        TBasicDiskFile::Close();
    } catch (const std::exception& error) {
        ReportLibraryError(error.what());
    }
}

void TBasicDiskFile::SetRetryPause(int milliseconds) {
    RetryPauseMs = milliseconds > 0 ? milliseconds : 0;
}

bool TBasicDiskFile::RetryAccessError(const char* what, int result, int attempt) {
    if (result != -1 || errno != EACCES)
        return false;
    if (attempt % AttemptsPerQuestion != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(RetryPauseMs));
        return true;
    }
    return MsgBox(MB_RETRYCANCEL | MB_ICONEXCLAMATION, "%s: %s\nPermission Denied", what, FPath) ==
           IDRETRY;
}

void TBasicDiskFile::SetName(const char* path) {
    Close();
    if (!path)
        path = "";
    if (strlen(path) >= sizeof FPath) {
        FPath[0] = 0;
        RaiseError("Cannot open: %s", path);
    }
    strcpy(FPath, path);
}

void TBasicDiskFile::Name(char* buffer, int parts) const {
    const char* path = FPath;
    const char* end = path + strlen(path);
    const char* dir = path;
#ifdef _WIN32
    if (path[0] && path[1] == ':')
        dir = path + 2;
#endif
    const char* name = dir;
    for (const char* c = dir; c < end; ++c)
        if (IsPathSeparator(*c))
            name = c + 1;
    // The extension starts at the name's last dot; a name that starts with its only dot
    // (".profile") has none.
    const char* ext = end;
    for (const char* c = end; c > name + 1;)
        if (*--c == '.') {
            ext = c;
            break;
        }
    auto part = [](int wanted, const char* from, const char* to) {
        return wanted ? std::string(from, to) : std::string();
    };
    snprintf(buffer, FilePathSize, "%s%s%s%s", part(parts & FilePartDrive, path, dir).c_str(),
             part(parts & FilePartDir, dir, name).c_str(),
             part(parts & FilePartName, name, ext).c_str(),
             part(parts & FilePartExt, ext, end).c_str());
}

void TBasicDiskFile::Open(const char* path, int mode) {
    SetName(path);
    Open(mode);
}

void TBasicDiskFile::Open(int mode) {
    LIB_ASSERT(*FPath, "*FPath", FILE_UNIT);
    if (IsOpen())
        Close();
    if (!(mode & FileText))
        mode |= FileBinary;
    for (int attempt = 1;; ++attempt) {
        FHandle = SysOpen(FPath, mode);
        if (FHandle >= 0 || !RetryAccessError("Cannot open", FHandle, attempt))
            break;
    }
    if (FHandle < 0)
        RaiseError("Cannot open: %s", FPath);
}

void TBasicDiskFile::Read(void* buffer, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    for (int attempt = 1;; ++attempt) {
        int done = 0;
        const int result = ReadFully(FHandle, static_cast<char*>(buffer), length, done);
        if (done == length)
            return;
        StepBack(FHandle, done);
        if (!RetryAccessError("Cannot read", result, attempt))
            RaiseError("Cannot read: %s", FPath);
    }
}

int TBasicDiskFile::ReadByte() {
    unsigned char c = 0;
    Read(&c, 1);
    return c;
}

void TBasicDiskFile::Write(const void* data, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    for (int attempt = 1;; ++attempt) {
        int done = 0;
        const int result = WriteFully(FHandle, static_cast<const char*>(data), length, done);
        if (done == length)
            return;
        StepBack(FHandle, done);
        if (!RetryAccessError("Cannot write", result, attempt))
            RaiseError("Cannot write: %s", FPath);
    }
}

void TBasicDiskFile::Seek(int position) {
    FEof = false;
    if (SysSeek(FHandle, position, SEEK_SET) < 0)
        RaiseError("Cannot seek: %s", FPath);
}

int TBasicDiskFile::Tell() {
    return static_cast<int>(SysSeek(FHandle, 0, SEEK_CUR));
}

void TBasicDiskFile::Close() {
    if (!IsOpen())
        return;
    const int handle = FHandle;
    FHandle = -1;
    if (SysClose(handle) != 0)
        RaiseError("Cannot close: %s", FPath);
}

int TBasicDiskFile::Size() const {
    if (!IsOpen())
        return SizeOfFile(FPath);
    const long long length = SysLength(FHandle);
    return length < 0 ? 0 : static_cast<int>(length);
}

void TBasicDiskFile::Lock(int offset, int length) {
    if (length <= 0)
        return;
    for (int attempt = 1;; ++attempt) {
        const int result = SysLockRegion(FHandle, offset, length, true);
        if (result == 0)
            return;
        if (!RetryAccessError("Cannot lock", result, attempt))
            RaiseError("Cannot lock: %s", FPath);
    }
}

void TBasicDiskFile::Unlock(int offset, int length) {
    if (length <= 0)
        return;
    if (SysLockRegion(FHandle, offset, length, false) != 0)
        RaiseError("Cannot unlock: %s", FPath);
}

bool TBasicDiskFile::CanLock(int offset, int length) {
    if (length <= 0)
        return true;
    return IsOpen() && SysRegionFree(FHandle, offset, length);
}

void TBasicDiskFile::Truncate(int size) {
    if (SysTruncate(FHandle, size) != 0)
        RaiseError("Cannot truncate: %s", FPath);
}

bool TBasicDiskFile::Exists() const {
    return IsOpen() || FileExists(FPath);
}

// ---------------------------------------------------------------------------------------------
// TDiskFile

void TDiskFile::CheckEof() {
    // The handle's own position and length: a buffered file above keeps a logical position.
    FEof = TBasicDiskFile::Tell() >= TBasicDiskFile::Size();
}

void TDiskFile::Open(const char* path, int mode) {
    TBasicDiskFile::Open(path, mode);
    CheckEof();
}

void TDiskFile::Open(int mode) {
    TBasicDiskFile::Open(mode);
    CheckEof();
}

void TDiskFile::Read(void* buffer, int length) {
    TBasicDiskFile::Read(buffer, length);
    CheckEof();
}

void TDiskFile::Write(const void* data, int length) {
    TBasicDiskFile::Write(data, length);
    CheckEof();
}

void TDiskFile::Truncate(int size) {
    TBasicDiskFile::Truncate(size);
    CheckEof();
}

// ---------------------------------------------------------------------------------------------
// TBufFile

TBufFile::TBufFile(int bufferSize)
    : FBufSize(bufferSize > 0 ? bufferSize : 0), FBufIndex(0), FBufFill(0), FPosition(0),
      FWriting(false), FHandleEof(false) {
    FBuffer.New(FBufSize);
}

TBufFile::~TBufFile() {
    try {
        TBufFile::Close();
    } catch (const std::exception& error) {
        ReportLibraryError(error.what());
    }
}

// The flag follows the logical position: set once the handle has reached the file's end and
// the buffer is used up, or when a reader marks the end (a Ctrl-Z in a text file).
bool TBufFile::AtEof() const {
    return FEof;
}

void TBufFile::SyncEof() {
    FEof = FHandleEof && FBufIndex >= FBufFill;
}

void TBufFile::InitBuffer() {
    FBufIndex = 0;
    FBufFill = 0;
}

void TBufFile::Open(const char* path, int mode) {
    TDiskFile::Open(path, mode);
    FHandleEof = FEof;
    FPosition = 0;
    FWriting = false;
    InitBuffer();
}

void TBufFile::Open(int mode) {
    TDiskFile::Open(mode);
    FHandleEof = FEof;
    FPosition = 0;
    FWriting = false;
    InitBuffer();
}

void TBufFile::Flush() {
    if (FWriting && FBufFill > 0) {
        TBasicDiskFile::Seek(FPosition - FBufFill);
        TDiskFile::Write(FBuffer, FBufFill);
        FHandleEof = FEof;
    }
    InitBuffer();
}

void TBufFile::Read(void* buffer, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    if (FWriting) {
        Flush();
        FWriting = false;
    }
    if (length > FBufSize) {
        InitBuffer();
        TBasicDiskFile::Seek(FPosition);
        TDiskFile::Read(buffer, length);
        FHandleEof = FEof;
        FPosition += length;
        return;
    }
    if (FBufFill - FBufIndex < length) {
        const int available = (std::min)(FBufSize, Size() - FPosition);
        if (available < length)
            RaiseError("Cannot read: %s", FPath);
        // A refill that fails half way must not leave stale bytes that look valid.
        InitBuffer();
        TBasicDiskFile::Seek(FPosition);
        TDiskFile::Read(FBuffer, available);
        FHandleEof = FEof;
        FBufFill = available;
    }
    memcpy(buffer, FBuffer + FBufIndex, static_cast<size_t>(length));
    FBufIndex += length;
    FPosition += length;
    SyncEof();
}

int TBufFile::ReadByte() {
    unsigned char c = 0;
    Read(&c, 1);
    return c;
}

// Writing starts at the logical position: where the file was opened, read up to or sought.
void TBufFile::EnterWritingMode() {
    InitBuffer();
    FWriting = true;
}

void TBufFile::Write(const void* data, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    if (!FWriting)
        EnterWritingMode();
    if (length > FBufSize) {
        Flush();
        TBasicDiskFile::Seek(FPosition);
        TDiskFile::Write(data, length);
        FHandleEof = FEof;
        FPosition += length;
        return;
    }
    if (FBufSize - FBufFill < length)
        Flush();
    memcpy(FBuffer + FBufIndex, data, static_cast<size_t>(length));
    FBufIndex += length;
    FBufFill += length;
    FPosition += length;
}

void TBufFile::Seek(int position) {
    if (position == FPosition)
        return;
    const bool outsideBuffer =
        position > FPosition + FBufFill - FBufIndex || position < FPosition - FBufIndex;
    if (FWriting || outsideBuffer) {
        Flush();
        TBasicDiskFile::Seek(position);
        FHandleEof = false;
    } else {
        FBufIndex += position - FPosition;
        SyncEof();
    }
    FPosition = position;
}

void TBufFile::Close() {
    try {
        Flush();
    } catch (...) {
        // What could not be written is reported; the handle is released all the same.
        InitBuffer();
        FWriting = false;
        try {
            TBasicDiskFile::Close();
        } catch (...) {
        }
        throw;
    }
    FWriting = false;
    TBasicDiskFile::Close();
}

int TBufFile::Size() const {
    if (!IsOpen())
        return SizeOfFile(FPath);
    return (std::max)(TBasicDiskFile::Size(), FPosition);
}

void TBufFile::Lock(int, int) {
    throw TException("Illegal lock attempt on buffered file");
}

void TBufFile::Unlock(int, int) {
    throw TException("Illegal lock attempt on buffered file");
}

bool TBufFile::CanLock(int, int) {
    return false;
}

void TBufFile::Truncate(int size) {
    Flush();
    TDiskFile::Truncate(size);
    FHandleEof = FEof;
    FPosition = size;
    FWriting = true;
}

// ---------------------------------------------------------------------------------------------
// TFileLock

TFileLock::TFileLock(TDBFile& file, int offset, int length)
    : FFile(file), FOffset(offset), FLength(length) {
    FFile.Lock(FOffset, FLength);
}

TFileLock::~TFileLock() {
    try {
        FFile.Unlock(FOffset, FLength);
    } catch (const std::exception& error) {
        ReportLibraryError(error.what());
    }
}

// ---------------------------------------------------------------------------------------------
// TVectorFile

TVectorFile::TVectorFile() : FBlocks(true), FPosition(0), FAllocated(0), FSize(0) {
    TestEof();
}

void TVectorFile::Open(const char*, int mode) {
    if (mode & FileTruncate) {
        FBlocks.RemoveAll();
        FAllocated = 0;
        FSize = 0;
    }
    FPosition = 0;
    TestEof();
}

// Grows the blocks to hold at least `bytes`; new bytes are 0.
void TVectorFile::Allocate(int bytes) {
    while (FAllocated < bytes) {
        TVectorBlocks* block = new TVectorBlocks;
        memset(block->Data, 0, sizeof block->Data);
        FBlocks.Add(block);
        FAllocated += TVectorBlocks::Size;
    }
}

void TVectorFile::Read(void* buffer, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    if (FPosition < 0 || length > FSize - FPosition)
        RaiseError("Cannot read: %s", MemoryFileName);
    unsigned char* to = static_cast<unsigned char*>(buffer);
    for (int done = 0; done < length;) {
        const int at = FPosition + done;
        const int offset = at % TVectorBlocks::Size;
        const int count = (std::min)(length - done, TVectorBlocks::Size - offset);
        memcpy(to + done, FBlocks[at / TVectorBlocks::Size]->Data + offset,
               static_cast<size_t>(count));
        done += count;
    }
    FPosition += length;
    TestEof();
}

int TVectorFile::ReadByte() {
    unsigned char c = 0;
    Read(&c, 1);
    return c;
}

void TVectorFile::Write(const void* data, int length) {
    LIB_ASSERT(length > 0, "Length > 0", FILE_UNIT);
    if (FPosition < 0 || length > INT_MAX - FPosition)
        RaiseError("Cannot write: %s", MemoryFileName);
    Allocate(FPosition + length);
    const unsigned char* from = static_cast<const unsigned char*>(data);
    for (int done = 0; done < length;) {
        const int at = FPosition + done;
        const int offset = at % TVectorBlocks::Size;
        const int count = (std::min)(length - done, TVectorBlocks::Size - offset);
        memcpy(FBlocks[at / TVectorBlocks::Size]->Data + offset, from + done,
               static_cast<size_t>(count));
        done += count;
    }
    FPosition += length;
    FSize = (std::max)(FSize, FPosition);
    TestEof();
}

void TVectorFile::Seek(int position) {
    if (position < 0)
        RaiseError("Cannot seek: %s", MemoryFileName);
    FPosition = position;
    TestEof();
}

// ---------------------------------------------------------------------------------------------
// Strings as records of a file

namespace {

// The record being collected: a working buffer on the stack that moves to the heap when a
// record outgrows it and doubles from there.
class TRecordBuffer {
public:
    TRecordBuffer() : FData(FLocal), FSize(sizeof FLocal), FLimit(sizeof FLocal - 4), FCount(0) {}
    ~TRecordBuffer() {
        if (FData != FLocal)
            free(FData);
    }
    TRecordBuffer(const TRecordBuffer&) = delete;
    TRecordBuffer& operator=(const TRecordBuffer&) = delete;

    void Append(char c) {
        if (FCount >= FLimit)
            Grow();
        FData[FCount++] = c;
    }
    // The bytes collected so far, NUL-terminated (the limit always leaves room).
    const char* Text() {
        FData[FCount] = 0;
        return FData;
    }
    int Count() const { return FCount; }

private:
    void Grow() {
        if (FSize > INT_MAX / 2)
            ThrowOutOfMemory();
        const size_t size = FSize * 2;
        char* data = FData == FLocal ? static_cast<char*>(malloc(size))
                                     : static_cast<char*>(realloc(FData, size));
        if (!data)
            ThrowOutOfMemory();
        if (FData == FLocal)
            memcpy(data, FLocal, FCount);
        FData = data;
        FSize = size;
        FLimit = static_cast<int>(size - 4);
    }

    char FLocal[100];
    char* FData;
    size_t FSize;
    int FLimit;
    int FCount;
};

const int CtrlZ = 26;

} // namespace

void TString::Write(TFile* file) const {
    file->Write((*this)(), Length() + 1);
}

void TString::Write(TFile* file, const char* end, int endLength) const {
    if (Length() > 0)
        file->Write((*this)(), Length());
    if (endLength > 0)
        file->Write(end, endLength);
}

void TString::Read(TFile* file, char delimiter, bool textMode, bool ctrlZEnds) {
    TRecordBuffer record;
    while (!file->AtEof()) {
        const int c = file->ReadByte();
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == static_cast<unsigned char>(delimiter)) {
            if (textMode && byte == '\r' && !file->AtEof()) {
                // The LF of a CR LF pair; anything else begins the next record.
                if (static_cast<unsigned char>(file->ReadByte()) != '\n')
                    file->Seek(file->Tell() - 1);
            }
            break;
        }
        if (textMode && (byte == '\n' || byte == '\r'))
            continue;
        if ((ctrlZEnds && byte == CtrlZ) || byte == 0) {
            file->SetEof(true);
            break;
        }
        record.Append(static_cast<char>(byte));
    }
    *this = TString(record.Text(), record.Count());
}

// ---------------------------------------------------------------------------------------------
// TRegularFileReader

TRegularFileReader::~TRegularFileReader() {
    Close();
}

void TRegularFileReader::Close() {
    if (FHandle >= 0)
        SysClose(FHandle);
    FHandle = -1;
}

bool TRegularFileReader::Open(const char* path) {
    Close();
    FReason.clear();
#ifdef _WIN32
    _sopen_s(&FHandle, path, _O_RDONLY | _O_BINARY, _SH_DENYNO, 0);
#else
    // Devices are not even opened: opening a serial line, for one, changes its signals.
    struct stat named;
    if (stat(path, &named) == 0 && !S_ISREG(named.st_mode)) {
        FReason = S_ISDIR(named.st_mode) ? strerror(EISDIR) : "Not a regular file";
        return false;
    }
    // Without O_NONBLOCK the open itself would wait for the writer of a FIFO put in its place.
    FHandle = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
    if (FHandle < 0) {
        FReason = strerror(errno);
        return false;
    }
#ifdef _WIN32
    struct _stat64 status;
    const bool known = _fstat64(FHandle, &status) == 0;
    const bool folder = known && (status.st_mode & _S_IFMT) == _S_IFDIR;
    const bool regular = known && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status;
    const bool known = fstat(FHandle, &status) == 0;
    const bool folder = known && S_ISDIR(status.st_mode);
    const bool regular = known && S_ISREG(status.st_mode);
    // A regular file never blocks; the flag goes so that reads behave as usual.
    if (regular)
        fcntl(FHandle, F_SETFL, fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
#endif
    if (!regular) {
        FReason = !known ? strerror(errno) : folder ? strerror(EISDIR) : "Not a regular file";
        Close();
        return false;
    }
    FSize = static_cast<long long>(status.st_size);
    FModified = static_cast<long long>(status.st_mtime);
    return true;
}

long long TRegularFileReader::Read(void* buffer, long long length) {
    char* out = static_cast<char*>(buffer);
    long long done = 0;
    while (done < length) {
        const int chunk = static_cast<int>((std::min)(length - done, 1LL << 30));
        const int got = SysRead(FHandle, out + done, chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            FReason = strerror(errno);
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

bool TRegularFileReader::Rewind() {
    return SysSeek(FHandle, 0, SEEK_SET) == 0;
}

std::vector<std::string> FolderEntryNames(const char* folder) {
    std::vector<std::string> names;
#ifdef _WIN32
    const std::string pattern = std::string(folder) + "\\*";
    struct _finddata_t found;
    const intptr_t search = _findfirst(pattern.c_str(), &found);
    if (search == -1)
        return names;
    do {
        if (strcmp(found.name, ".") != 0 && strcmp(found.name, "..") != 0)
            names.push_back(found.name);
    } while (_findnext(search, &found) == 0);
    _findclose(search);
#else
    DIR* listing = opendir(folder);
    if (!listing)
        return names;
    while (const dirent* entry = readdir(listing))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(listing);
#endif
    return names;
}
