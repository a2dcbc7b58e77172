#include "RealString.h"

#include <cstring>
#include <functional>
#include <new>
#include <string>

TRealString::TRealString() : FLength(0), FAllocated(0), FRefCount(1) {
    Create("", 0);
}

TRealString::TRealString(const TRealString& other) : FLength(0), FAllocated(0), FRefCount(1) {
    Create(other.FString, other.FLength);
}

TRealString::TRealString(const char* s, int n) : FLength(0), FAllocated(0), FRefCount(1) {
    Create(s, n);
}

TRealString::TRealString(int count, int ch) : FLength(0), FAllocated(0), FRefCount(1) {
    if (count < 0)
        count = 0;
    FAllocated = BlockLength(CheckedLength(count));
    FString.New(FAllocated);
    std::memset(FString, ch, count);
    FLength = count;
    FString[FLength] = 0;
}

TRealString::~TRealString() = default;

void TRealString::Create(const char* s, int n) {
    if (n < 0)
        n = 0;
    FAllocated = BlockLength(CheckedLength(n));
    FString.New(FAllocated);
    if (n > 0)
        std::memcpy(FString, s, n);
    FLength = n;
    FString[FLength] = 0;
}

// Moves the text into a buffer of `bytes`; the old buffer stays when none is available.
void TRealString::Reallocate(int bytes) {
    char* fresh = new (std::nothrow) char[bytes];
    if (!fresh)
        ThrowOutOfMemory();
    const int keep = FLength < bytes ? FLength + 1 : bytes;
    std::memcpy(fresh, FString, keep);
    FString.Delete();
    FString = fresh;
    FAllocated = bytes;
}

// Lengths are kept in signed 32 bits with room for the block rounding; a text that would not
// fit cannot be allocated either.
int TRealString::CheckedLength(long long length) {
    if (length < 0 || length > MaxLength)
        ThrowOutOfMemory();
    return static_cast<int>(length);
}

// Grows the buffer for a text of `length` characters: to whole blocks, at least doubling.
void TRealString::Grow(int length) {
    const long long block = BlockLength(length);
    const long long doubled = 2LL * FAllocated;
    const long long wanted = block > doubled ? block : doubled;
    Reallocate(static_cast<int>(wanted <= BlockLength(MaxLength) ? wanted : block));
}

// True when `s` points into this body's own buffer, which a reallocation or a move of the
// text would pull from under it.
bool TRealString::Overlaps(const char* s, int len) const {
    const char* begin = FString;
    return len > 0 && std::less_equal<const char*>()(begin, s) &&
           std::less<const char*>()(s, begin + FAllocated);
}

void TRealString::PreAllocate(int n) {
    if (n < 0)
        n = 0;
    // The new buffer comes first, so a failed allocation leaves the old text in place.
    char* fresh = new char[BlockLength(CheckedLength(n))];
    FString.Delete();
    FString = fresh;
    FAllocated = BlockLength(n);
    std::memset(FString, ' ', n);
    FLength = n;
    FString[FLength] = 0;
}

void TRealString::AppendCharacter(int c) {
    if (FLength + 1 >= FAllocated)
        Grow(FLength + 1);
    FString[FLength] = static_cast<char>(c);
    FLength++;
    FString[FLength] = 0;
}

void TRealString::Insert(const char* s, int len, int pos) {
    if (len < 0)
        len = 0;
    if (pos < 0)
        pos = 0;
    const int newLength =
        CheckedLength(static_cast<long long>(pos > FLength ? pos : FLength) + len);
    // Text taken from this very buffer is copied aside before the buffer moves.
    if (Overlaps(s, len)) {
        const std::string copy(s, len);
        Insert(copy.data(), len, pos);
        return;
    }
    if (newLength >= FAllocated)
        Grow(newLength);
    if (pos < FLength)
        std::memmove(FString + pos + len, FString + pos, FLength - pos);
    else if (pos > FLength)
        std::memset(FString + FLength, ' ', pos - FLength);
    if (len > 0)
        std::memcpy(FString + pos, s, len);
    FLength = newLength;
    FString[FLength] = 0;
}

void TRealString::Replace(const char* s, int len, int pos) {
    if (len < 0)
        len = 0;
    if (pos < 0)
        pos = 0;
    const long long end = static_cast<long long>(pos) + len;
    const int newLength = CheckedLength(FLength > end ? FLength : end);
    // Text taken from this very buffer is copied aside before the buffer moves.
    if (Overlaps(s, len)) {
        const std::string copy(s, len);
        Replace(copy.data(), len, pos);
        return;
    }
    if (newLength >= FAllocated)
        Grow(newLength);
    if (pos > FLength)
        std::memset(FString + FLength, ' ', pos - FLength);
    if (len > 0)
        std::memcpy(FString + pos, s, len);
    FLength = newLength;
    FString[FLength] = 0;
}

void TRealString::Remove(int pos, int count) {
    if (pos < 0)
        pos = 0;
    if (pos >= FLength || count <= 0)
        return;
    if (count > FLength - pos)
        count = FLength - pos;
    std::memmove(FString + pos, FString + pos + count, FLength - pos - count);
    FLength -= count;
    FString[FLength] = 0;
    if (FLength < (FAllocated >> 1) - 4)
        Reallocate(BlockLength(FLength));
}
