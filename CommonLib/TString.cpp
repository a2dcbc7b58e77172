#include "TString.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

const char* const Unit = "CommonLib/TString";

int Upper(int c) {
    return std::toupper(static_cast<unsigned char>(c));
}

int Lower(int c) {
    return std::tolower(static_cast<unsigned char>(c));
}

// A null text argument counts as the empty text rather than a crash.
const char* Text(const char* s) {
    return s ? s : "";
}

int StrLength(const char* s) {
    return static_cast<int>(std::strlen(Text(s)));
}

// The storage of BlankString: constant-initialised, so the reference below is bound before any
// dynamic initialisation runs; the string itself is built and destroyed by the unit counter.
union TBlankStorage {
    constexpr TBlankStorage() : Unused(0) {}
    ~TBlankStorage() {}
    char Unused;
    TString Value;
};
TBlankStorage BlankStorage;
int StringUnitCount = 0;

} // namespace

// Handles are passed by value freely: one pointer wide.
static_assert(sizeof(TString) == sizeof(void*), "TString must stay a single pointer");

TString& BlankString = BlankStorage.Value;

TStringUnit::TStringUnit() {
    if (StringUnitCount++ == 0)
        new (&BlankStorage.Value) TString();
}

TStringUnit::~TStringUnit() {
    if (--StringUnitCount == 0)
        BlankStorage.Value.~TString();
}

// ---------------------------------------------------------------------------------------------
// Construction, assignment, destruction

TString::TString() : FRealString(new TRealString()) {}

TString::TString(const TString& other) : FRealString(other.FRealString) {
    FRealString->FRefCount++;
}

TString::TString(const char* s) : FRealString(new TRealString(Text(s), StrLength(s))) {}

TString::TString(const char* s, int n)
    : FRealString(new TRealString(Text(s), n > 0 ? static_cast<int>(strnlen(Text(s), n)) : 0)) {}

TString::TString(int count, int ch) : FRealString(new TRealString(count, ch)) {}

TString::TString(int value) : FRealString(0) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    FRealString = new TRealString(text, StrLength(text));
}

TString::TString(double value) : FRealString(0) {
    // Sized to the formatted text, so that no magnitude is cut.
    const int needed = std::snprintf(0, 0, "%4.2f", value);
    std::string text(needed > 0 ? needed + 1 : 1, '\0');
    std::snprintf(&text[0], text.size(), "%4.2f", value);
    FRealString = new TRealString(text.c_str(), needed > 0 ? needed : 0);
}

TString::~TString() {
    DestroyRealString();
}

TString& TString::operator=(const TString& other) {
    if (FRealString == other.FRealString)
        return *this;
    TRealString* shared = other.FRealString;
    shared->FRefCount++;
    DestroyRealString();
    FRealString = shared;
    return *this;
}

TString& TString::operator=(const char* s) {
    return *this = TString(s);
}

TString& TString::operator=(int value) {
    return *this = TString(value);
}

TString& TString::operator=(double value) {
    return *this = TString(value);
}

void TString::Cow() {
    if (FRealString->FRefCount == 1)
        return;
    TRealString* own = new TRealString(*FRealString);
    FRealString->FRefCount--;
    FRealString = own;
}

void TString::DestroyRealString() {
    if (!FRealString)
        return;
    if (FRealString->FRefCount > 1)
        FRealString->FRefCount--;
    else
        delete FRealString;
    FRealString = 0;
}

// ---------------------------------------------------------------------------------------------
// Access and searching

char TString::operator[](int Position) const {
    LIB_ASSERT(Position >= 0 && Position <= Length(), "Position <= Length()", Unit);
    return FRealString->FString[Position];
}

char& TString::operator()(int Position) {
    LIB_ASSERT(Position >= 0 && Position <= Length(), "Position <= Length()", Unit);
    Cow();
    return FRealString->FString[Position];
}

int TString::HashValue() const {
    unsigned sum = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>((*this)()); *p; p++)
        sum += *p;
    return static_cast<int>(sum);
}

int TString::Find(int c) const {
    const char* text = (*this)();
    const char* found = std::strchr(text, c);
    return found ? static_cast<int>(found - text) : -1;
}

int TString::FindI(int c) const {
    TString upper(*this);
    upper.ToUpper();
    return upper.Find(Upper(c));
}

int TString::Find(const char* s) const {
    const char* text = (*this)();
    const char* found = std::strstr(text, Text(s));
    return found ? static_cast<int>(found - text) : -1;
}

int TString::FindI(const char* s) const {
    TString upper(*this);
    upper.ToUpper();
    TString wanted(s);
    wanted.ToUpper();
    return upper.Find(wanted());
}

int TString::Find(const char* s, bool ignoreCase) const {
    return ignoreCase ? FindI(s) : Find(s);
}

int TString::Count(int c) const {
    const char wanted = static_cast<char>(c);
    int count = 0;
    for (const char* p = (*this)(); *p; p++)
        if (*p == wanted)
            count++;
    return count;
}

int TString::Compare(const TString& other, bool ignoreCase) const {
    const unsigned char* a = reinterpret_cast<const unsigned char*>((*this)());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(other());
    for (;; a++, b++) {
        const int ca = ignoreCase ? Upper(*a) : *a;
        const int cb = ignoreCase ? Upper(*b) : *b;
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            return 0;
    }
}

bool TString::Equals(const TString& other, bool ignoreCase) const {
    return Compare(other, ignoreCase) == 0;
}

bool TString::operator==(const char* s) const {
    return std::strcmp((*this)(), Text(s)) == 0;
}

bool TString::operator!=(const TString& other) const {
    return std::strcmp((*this)(), other()) != 0;
}

TString TString::operator+(const char* s) const {
    TString sum(*this);
    sum += s;
    return sum;
}

long TString::ToInt() const {
    return std::strtol((*this)(), 0, 10);
}

TString TString::Left(int n) const {
    if (n < 0)
        n = 0;
    return TString((*this)(), n < Length() ? n : Length());
}

TString TString::Right(int n) const {
    if (n >= Length())
        return *this;
    if (n <= 0)
        return TString();
    return TString((*this)() + Length() - n, n);
}

TString TString::Mid(int pos, int n) const {
    if (pos < 0)
        pos = 0;
    if (pos > Length())
        pos = Length();
    if (n > Length() - pos)
        n = Length() - pos;
    if (n < 0)
        n = 0;
    return TString((*this)() + pos, n);
}

// ---------------------------------------------------------------------------------------------
// Words

namespace {

const char* SkipSpaces(const char* p) {
    while (*p == ' ')
        p++;
    return p;
}

// The start of word `n`, or null when the text ends inside a word before reaching it.
const char* WordStart(const char* text, int n) {
    const char* p = SkipSpaces(text);
    for (int i = 0; i < n && *p; i++) {
        const char* space = std::strchr(p, ' ');
        if (!space)
            return 0;
        p = SkipSpaces(space);
    }
    return p;
}

} // namespace

int TString::Words() const {
    const char* p = SkipSpaces((*this)());
    int words = 0;
    while (*p) {
        words++;
        const char* space = std::strchr(p, ' ');
        if (!space)
            break;
        p = SkipSpaces(space);
    }
    return words;
}

TString TString::Word(int n) const {
    if (n < 0)
        return TString();
    const char* start = WordStart((*this)(), n);
    if (!start)
        return TString();
    const char* end = std::strchr(start, ' ');
    return TString(start, end ? static_cast<int>(end - start) : StrLength(start));
}

int TString::WordPos(int n) const {
    if (n < 0)
        return -1;
    const char* start = WordStart((*this)(), n);
    return start ? static_cast<int>(start - (*this)()) : -1;
}

// ---------------------------------------------------------------------------------------------
// Delimited fields

namespace {

// Walks the fields of `text`; `field` is called with each field's text (quotes removed) and
// its index and returns false to stop. Returns the number of fields ended.
template <class TVisit> int WalkFields(const char* text, int sep, bool noQuotes, TVisit field) {
    const char* p = SkipSpaces(text);
    if (!*p)
        return 0;
    std::string current;
    bool inQuotes = false;
    int fields = 0;
    for (;; p++) {
        const char c = *p;
        if (c == 0 || (c == static_cast<char>(sep) && !inQuotes)) {
            if (!field(current, fields++) || c == 0)
                return fields;
            current.clear();
            continue;
        }
        if (!noQuotes && c == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        current += c;
    }
}

} // namespace

int TString::AsciiWords(int sep, bool noQuotes) const {
    return WalkFields((*this)(), sep, noQuotes, [](const std::string&, int) { return true; });
}

TString TString::AsciiWord(int n, int sep, bool noQuotes) const {
    TString result;
    WalkFields((*this)(), sep, noQuotes, [&](const std::string& field, int index) {
        if (index != n)
            return true;
        result = TString(field.data(), static_cast<int>(field.size()));
        return false;
    });
    result.RLTrim();
    return result;
}

// ---------------------------------------------------------------------------------------------
// Word wrapping

int TString::WordWrapLength(int start, int width) const {
    // A line without room holds nothing.
    if (width <= 0)
        return 0;
    if (start < 0)
        start = 0;
    if (start > Length())
        start = Length();
    const char* rest = (*this)() + start;
    const int length = StrLength(rest);
    int lastBreak = 0;
    int from = 0;
    for (;;) {
        const char* space = std::strchr(rest + from, ' ');
        const int k = space ? static_cast<int>(space - rest) : length;
        if (k > width)
            break;
        if (k == length)
            return length;
        lastBreak = k;
        from = k + 1;
    }
    // A break at the very start would give an empty line and end the wrapping early; a word
    // longer than the line is cut hard instead.
    return lastBreak > 0 ? lastBreak : width;
}

int TString::WordWrapNext(int pos) const {
    if (pos < 0 || pos > Length())
        return 0;
    const char* p = (*this)() + pos;
    return static_cast<int>(SkipSpaces(p) - p);
}

bool TString::WordWrapPart(TString& line, int part, int width, bool keepSpaces) const {
    int pos = 0;
    for (;;) {
        const int n = WordWrapLength(pos, width);
        if (part == 0) {
            TString found = Mid(pos, n);
            line = found;
            return !line.IsBlank();
        }
        // No such line: a negative part, the text used up, or lines too narrow to hold
        // anything; each of these would otherwise walk on without end.
        if (part < 0 || n <= 0) {
            line = TString();
            return false;
        }
        pos += n;
        if (!keepSpaces)
            pos += WordWrapNext(pos);
        part--;
    }
}

// ---------------------------------------------------------------------------------------------
// Changes

TString& TString::operator+=(const char* s) {
    Insert(s, Length());
    return *this;
}

TString& TString::operator+=(int c) {
    Cow();
    FRealString->AppendCharacter(c);
    return *this;
}

void TString::Insert(const char* s, int len, int pos) {
    Cow();
    FRealString->Insert(Text(s), s ? len : 0, pos);
}

void TString::Insert(const char* s, int pos) {
    Insert(s, StrLength(s), pos);
}

void TString::Insert(const TString& s, int pos) {
    // `s` may be this very string: hold its body while the text moves.
    const TString source(s);
    Insert(source(), source.Length(), pos);
}

void TString::Replace(const char* s, int len, int pos) {
    Cow();
    FRealString->Replace(Text(s), s ? len : 0, pos);
}

void TString::Replace(const char* s, int pos) {
    Replace(s, StrLength(s), pos);
}

void TString::Replace(char from, char to) {
    Cow();
    char* text = FRealString->Buffer();
    for (int i = 0; i < Length(); i++)
        if (text[i] == from)
            text[i] = to;
}

void TString::Remove(int pos, int count) {
    Cow();
    FRealString->Remove(pos, count);
}

template <class TKeep> void TString::Filter(TKeep keep) {
    Cow();
    char* text = FRealString->Buffer();
    int kept = 0;
    for (int i = 0; i < Length(); i++)
        if (keep(text[i]))
            text[kept++] = text[i];
    // Removing the tail also applies the shrinking rule.
    FRealString->Remove(kept, Length() - kept);
}

void TString::Remove(char c) {
    Filter([c](char ch) { return ch != c; });
}

void TString::Remove(const char* set) {
    Filter([set](char ch) { return ch == 0 || !std::strchr(Text(set), ch); });
}

void TString::Keep(const char* set) {
    Filter([set](char ch) { return ch != 0 && std::strchr(Text(set), ch); });
}

void TString::IntegerOnly() {
    Filter([](char ch) { return ch >= '0' && ch <= '9'; });
}

void TString::LimitLength(int n) {
    if (n < 0)
        n = 0;
    if (n < Length())
        Remove(n, Length() - n);
}

void TString::RTrim() {
    const char* text = (*this)();
    int end = Length();
    while (end > 0 && text[end - 1] == ' ')
        end--;
    if (end < Length())
        Remove(end, Length() - end);
}

void TString::LTrim() {
    const char* text = (*this)();
    int start = 0;
    while (start < Length() && text[start] == ' ')
        start++;
    if (start > 0)
        Remove(0, start);
}

void TString::RLTrim() {
    RTrim();
    LTrim();
}

void TString::RJust(int width) {
    if (width > Length())
        Insert(TString(width - Length(), ' '), 0);
}

void TString::Centre(int width) {
    if (width > Length())
        Insert(TString((width - Length()) / 2, ' '), 0);
}

void TString::ToUpper() {
    Cow();
    char* text = FRealString->Buffer();
    for (int i = 0; i < Length(); i++)
        text[i] = static_cast<char>(Upper(text[i]));
}

void TString::ToLower() {
    Cow();
    char* text = FRealString->Buffer();
    for (int i = 0; i < Length(); i++)
        text[i] = static_cast<char>(Lower(text[i]));
}

void TString::ToUpperFirstChrs() {
    if (IsBlank())
        return;
    Cow();
    char* text = FRealString->Buffer();
    for (int i = 0; i < Length(); i++)
        if (i == 0 || text[i - 1] == ' ')
            text[i] = static_cast<char>(Upper(text[i]));
}

void TString::PreAllocate(int n) {
    // The old text is discarded, so a shared body is left to its other handles uncopied.
    if (FRealString->FRefCount > 1) {
        TRealString* own = new TRealString();
        FRealString->FRefCount--;
        FRealString = own;
    }
    FRealString->PreAllocate(n);
}

void TString::Exchange(TString* other) {
    TRealString* mine = FRealString;
    FRealString = other->FRealString;
    other->FRealString = mine;
}

int TString::sprintf(const char* fmt, ...) {
    char Temp[512];
    va_list args;
    va_start(args, fmt);
    const int needed = std::vsnprintf(Temp, sizeof Temp, fmt, args);
    va_end(args);
    // Bounded formatting: an over-long result is detected without writing past the buffer.
    LIB_ASSERT(needed >= 0 && needed < static_cast<int>(sizeof Temp), "strlen(Temp) < 512", Unit);
    *this = TString(Temp, needed);
    return Length();
}

TString& TString::operator++() {
    const char* text = (*this)();
    int digits = 0;
    while (digits < Length() &&
           std::isdigit(static_cast<unsigned char>(text[Length() - 1 - digits])))
        digits++;
    const int pos = Length() - digits;
    long long value = 0;
    if (digits > 0) {
        value = std::strtoll(text + pos, 0, 10);
    }
    if (value < LLONG_MAX)
        value++;
    char number[32];
    const int written =
        std::snprintf(number, sizeof number, "%0*lld", digits > 0 ? digits : 1, value);
    const int len =
        written < static_cast<int>(sizeof number) ? written : static_cast<int>(sizeof number) - 1;
    Replace(number, len, pos);
    return *this;
}
