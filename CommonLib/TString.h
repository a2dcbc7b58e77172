// TString: the program's text string. A handle of one pointer to a shared, reference-counted
// body (TRealString); copies share the body and every change first gives the handle a body
// of its own (copy-on-write). The text is always NUL-terminated for C-style interfaces.
#pragma once

#include "LibError.h"
#include "RealString.h"

class TFile;

class TString {
public:
    TString();
    TString(const TString& other);
    TString(const char* s);
    TString(const char* s, int n);
    TString(int count, int ch);
    TString(int value);
    TString(double value);
    ~TString();

    TString& operator=(const TString& other);
    TString& operator=(const char* s);
    TString& operator=(int value);
    TString& operator=(double value);

    // Access. The text pointer stays valid until this handle is changed, assigned or destroyed.
    operator const char*() const { return FRealString->FString; }
    const char* operator()() const { return FRealString->FString; }
    int Length() const { return FRealString->FLength; }
    bool IsBlank() const { return FRealString->FLength == 0; }
    char operator[](int pos) const;
    char& operator()(int pos);

    int HashValue() const;
    int Find(int c) const;
    int FindI(int c) const;
    int Find(const char* s) const;
    int FindI(const char* s) const;
    int Find(const char* s, bool ignoreCase) const;
    int Count(int c) const;
    int Compare(const TString& other, bool ignoreCase) const;
    bool Equals(const TString& other, bool ignoreCase) const;
    bool operator==(const char* s) const;
    bool operator==(const TString& other) const { return *this == other(); }
    bool operator!=(const TString& other) const;
    bool operator!=(const char* s) const { return !(*this == s); }
    TString operator+(const char* s) const;
    long ToInt() const;
    TString Left(int n) const;
    TString Right(int n) const;
    TString Mid(int pos, int n) const;

    // Space-separated words.
    int Words() const;
    TString Word(int n) const;
    int WordPos(int n) const;

    // Fields separated by `sep`; unless `noQuotes`, double quotes group a separator into a field.
    int AsciiWords(int sep, bool noQuotes) const;
    TString AsciiWord(int n, int sep, bool noQuotes) const;

    // Word wrapping to lines of at most `width` characters.
    int WordWrapLength(int start, int width) const;
    int WordWrapNext(int pos) const;
    bool WordWrapPart(TString& line, int part, int width, bool keepSpaces) const;

    // Changes.
    TString& operator+=(const char* s);
    TString& operator+=(int c);
    void Insert(const char* s, int len, int pos);
    void Insert(const char* s, int pos);
    void Insert(const TString& s, int pos);
    void Replace(const char* s, int len, int pos);
    void Replace(const char* s, int pos);
    void Replace(char from, char to);
    void Remove(int pos, int count);
    void Remove(char c);
    void Remove(const char* set);
    void Keep(const char* set);
    void IntegerOnly();
    void LimitLength(int n);
    void RTrim();
    void LTrim();
    void RLTrim();
    void RJust(int width);
    void Centre(int width);
    void ToUpper();
    void ToLower();
    void ToUpperFirstChrs();
    void PreAllocate(int n);
    void Exchange(TString* other);
    int sprintf(const char* fmt, ...)
#if defined(__GNUC__) || defined(__clang__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    TString& operator++();

    // Records of a file (implemented with the file classes).
    // The text and its terminating NUL, in one write.
    void Write(TFile* file) const;
    // The text (unless empty), then the `endLength` bytes of `end`.
    void Write(TFile* file, const char* end, int endLength) const;
    // Replaces the text with the next record up to `delimiter` (not included). In `textMode`
    // CR and LF are dropped (so CR LF and LF line ends both work); a NUL byte, or a Ctrl-Z when
    // `ctrlZEnds`, ends the record and marks the file at its end.
    void Read(TFile* file, char delimiter, bool textMode, bool ctrlZEnds);

    // The body's buffer size in bytes (growth and shrinking are observable through it).
    int Allocated() const {
        return FRealString->FAllocated;
    }

private:
    void Cow();
    void DestroyRealString();
    // Keeps only the characters for which `keep` is true.
    template <class TKeep> void Filter(TKeep keep);

    TRealString* FRealString;
};

// Comparisons with the text on the left compare text, not pointers.
inline bool operator==(const char* s, const TString& t) {
    return t == s;
}
inline bool operator!=(const char* s, const TString& t) {
    return t != s;
}

// The empty text, for callers that need a blank string reference. It exists before any other
// static object of a unit that includes this header is constructed, and outlives them all.
extern TString& BlankString;

// Counted initialisation of the string unit: one instance per including source file.
struct TStringUnit {
    TStringUnit();
    ~TStringUnit();
};
static TStringUnit StringUnitInstance;
