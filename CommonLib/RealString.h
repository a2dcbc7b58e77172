// The reference-counted body behind TString: a NUL-terminated character buffer that grows in
// 8-byte blocks, at least doubling, and shrinks once it is less than half used.
#pragma once

#include "Contain.h"

class TRealString {
public:
    TRealString();
    TRealString(const TRealString& other);
    TRealString(const char* s, int n);
    TRealString(int count, int ch);
    ~TRealString();
    TRealString& operator=(const TRealString&) = delete;

    // The smallest multiple of 8 strictly greater than n.
    static int BlockLength(int n) { return (n + 8) & ~7; }

    void PreAllocate(int n);
    void AppendCharacter(int c);
    void Insert(const char* s, int len, int pos);
    void Replace(const char* s, int len, int pos);
    void Remove(int pos, int count);

    const char* Text() const { return FString; }
    char* Buffer() { return FString; }
    int Length() const { return FLength; }
    int Allocated() const { return FAllocated; }
    int RefCount() const { return FRefCount; }

private:
    friend class TString;

    // Longest text a body holds.
    static constexpr int MaxLength = 0x7FFFFFFF - 16;

    static int CheckedLength(long long length);
    void Grow(int length);
    void Create(const char* s, int n);
    void Reallocate(int bytes);
    bool Overlaps(const char* s, int len) const;

    TArrayPtr<char> FString;
    int FLength;
    int FAllocated;
    int FRefCount;
};
