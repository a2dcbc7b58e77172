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
    FAllocated = BlockLength(count);
    FString.New(FAllocated);
    std::memset(FString, ch, count);
    FLength = count;
    FString[FLength] = 0;
}

TRealString::~TRealString() = default;

void TRealString::Create(const char* s, int n) {
    if (n < 0)
        n = 0;
    FAllocated = BlockLength(n);
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
    char* fresh = new char[BlockLength(n)];
    FString.Delete();
    FString = fresh;
    FAllocated = BlockLength(n);
    std::memset(FString, ' ', n);
    FLength = n;
    FString[FLength] = 0;
}

void TRealString::AppendCharacter(int c) {
    if (FLength + 1 >= FAllocated) {
        const int block = BlockLength(FLength + 1);
        Reallocate(block > 2 * FAllocated ? block : 2 * FAllocated);
    }
    FString[FLength] = static_cast<char>(c);
    FLength++;
    FString[FLength] = 0;
}

void TRealString::Insert(const char* s, int len, int pos) {
    if (len < 0)
        len = 0;
    if (pos < 0)
        pos = 0;
    if (Overlaps(s, len)) {
        const std::string copy(s, len);
        Insert(copy.data(), len, pos);
        return;
    }
    const int newLength = (pos > FLength ? pos : FLength) + len;
    if (newLength >= FAllocated) {
        const int block = BlockLength(newLength);
        Reallocate(block > 2 * FAllocated ? block : 2 * FAllocated);
    }
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
    if (Overlaps(s, len)) {
        const std::string copy(s, len);
        Replace(copy.data(), len, pos);
        return;
    }
    const int newLength = FLength > pos + len ? FLength : pos + len;
    if (newLength >= FAllocated) {
        const int block = BlockLength(newLength);
        Reallocate(block > 2 * FAllocated ? block : 2 * FAllocated);
    }
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
