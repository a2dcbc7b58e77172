#include "Date.h"

#include "File.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const char* const DayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const MonthNames[13] = {"",        "January",  "February", "March",  "April",
                                    "May",     "June",     "July",     "August", "September",
                                    "October", "November", "December"};
const char* const ShortMonthNames[13] = {"",    "Jan", "Feb",  "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sept", "Oct", "Nov", "Dec"};
const int MonthLengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int DaysBeforeMonth[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Two-digit years below this belong to the 2000s, the others to the 1900s.
const int CenturyPivot = 27;
const int UnitsPerDay = 43200;
// The year field wraps from 2027 back to 1900, so the calendar repeats after 128 years, 31 of
// them leap years (1904 to 2024).
const int DaysPerCycle = 128 * 365 + 31;

bool MonthInRange(int month) {
    return month >= 1 && month <= 12;
}

TString Format(const char* fmt, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
TString Format(const char* fmt, ...) {
    char buffer[96];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return TString(buffer);
}

// Reads the decimal integer at `text` the way "%d" does (leading white space, a sign, digits);
// false when there is none or it does not fit an int.
bool ScanInt(const char*& text, int& value) {
    char* end = nullptr;
    errno = 0;
    const long number = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    value = static_cast<int>(number);
    text = end;
    return true;
}

// Reads "%d<sep>%d<sep>%d" from the start of `text`; what follows the third number is ignored.
bool ScanThree(const char* text, char sep, int numbers[3]) {
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (*text != sep)
                return false;
            ++text;
        }
        if (!ScanInt(text, numbers[i]))
            return false;
    }
    return true;
}

int TwoDigits(const char* digits) {
    return (digits[0] - '0') * 10 + (digits[1] - '0');
}

// Reads a part of a time text as "%d" would, saturating far beyond any sensible value.
long long TimePart(const TString& part) {
    const char* text = part;
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = false;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value < 1000000000LL)
            value = value * 10 + (*text - '0');
    return negative ? -value : value;
}

void ReadTwoBytes(TFile* file, unsigned short& value) {
    unsigned char bytes[2];
    file->Read(bytes, 2);
    value = static_cast<unsigned short>(bytes[0] | (bytes[1] << 8));
}

void WriteTwoBytes(TFile* file, unsigned short value) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(value & 0xFF),
                                    static_cast<unsigned char>(value >> 8)};
    file->Write(bytes, 2);
}

bool LocalNow(struct tm& now) {
    const time_t seconds = time(nullptr);
#ifdef _WIN32
    return localtime_s(&now, &seconds) == 0;
#else
    return localtime_r(&seconds, &now) != nullptr;
#endif
}

// Sets the system clock to the local time `when`; false when the system refuses.
bool SetLocalClock(struct tm& when) {
#ifdef _WIN32
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(when.tm_year + 1900);
    st.wMonth = static_cast<WORD>(when.tm_mon + 1);
    st.wDay = static_cast<WORD>(when.tm_mday);
    st.wHour = static_cast<WORD>(when.tm_hour);
    st.wMinute = static_cast<WORD>(when.tm_min);
    st.wSecond = static_cast<WORD>(when.tm_sec);
    return SetLocalTime(&st) != 0;
#else
    when.tm_isdst = -1;
    const time_t seconds = mktime(&when);
    if (seconds == static_cast<time_t>(-1))
        return false;
    struct timespec clock = {};
    clock.tv_sec = seconds;
    return clock_settime(CLOCK_REALTIME, &clock) == 0;
#endif
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TVxDate

TVxDate::TVxDate(const TString& text) : FDate(0) {
    StringToDate(text);
}

TVxDate::TVxDate(int) : FDate(0) {
    GetSystemDate();
}

TVxDate& TVxDate::operator=(const TString& text) {
    StringToDate(text);
    return *this;
}

void TVxDate::StringToDate(const TString& text) {
    FDate = 0;
    if (text.IsBlank())
        return;
    TString digits(text);
    static const char Separators[] = {'/', '-', '.'};
    for (const char sep : Separators) {
        int numbers[3];
        if (text.Count(sep) != 2 || !ScanThree(text, sep, numbers))
            continue;
        int year = numbers[2];
        if (year < CenturyPivot)
            year += 2000;
        else if (year <= 99)
            year += 1900;
        digits = Format("%02d%02d%04d", numbers[0], numbers[1], year);
        break;
    }
    digits.IntegerOnly();
    const int length = digits.Length();
    if (length != 6 && length != 8)
        return;
    const char* d = digits;
    const int day = TwoDigits(d);
    const int month = TwoDigits(d + 2);
    if (day < 32)
        SetDay(day);
    if (month <= 12)
        SetMonth(month);
    if (length == 6) {
        const int yy = TwoDigits(d + 4);
        SetYear(yy >= CenturyPivot ? 1900 + yy : 2000 + yy);
    } else {
        SetYear(TwoDigits(d + 4) * 100 + TwoDigits(d + 6));
    }
}

void TVxDate::SetDay(int day) {
    FDate = static_cast<unsigned short>((FDate & ~0x1F) | (day & 0x1F));
}

void TVxDate::SetMonth(int month) {
    FDate = static_cast<unsigned short>((FDate & ~(0x0F << 5)) | ((month & 0x0F) << 5));
}

void TVxDate::SetYear(int year) {
    const int stored = ((year - 1900) % 128 + 128) % 128;
    FDate = static_cast<unsigned short>((FDate & 0x1FF) | (stored << 9));
}

bool TVxDate::Valid() const {
    if (FDate == 0)
        return true;
    return MonthInRange(GetMonth()) && GetDay() >= 1 && GetDay() <= GetMonthLastDay();
}

bool TVxDate::IsLeapyear() const {
    const int year = GetYear();
    return year > 1900 && year % 4 == 0;
}

int TVxDate::GetMonthLastDay() const {
    const int month = GetMonth();
    if (!MonthInRange(month))
        return 0;
    return month == 2 && IsLeapyear() ? 29 : MonthLengths[month];
}

TString TVxDate::ToString() const {
    return Is() ? Format("%02i/%02i/%4i", GetDay(), GetMonth(), GetYear()) : TString();
}

TString TVxDate::ToNonCenturyString() const {
    return Is() ? Format("%02i/%02i/%02i", GetDay(), GetMonth(), GetYear() % 100) : TString();
}

TString TVxDate::ToMonthYearString() const {
    return Is() ? Format("%s, %4i", MonthName()(), GetYear()) : TString();
}

TString TVxDate::ToFullDate() const {
    return Is() ? Format("%i %s, %4i", GetDay(), MonthName()(), GetYear()) : TString();
}

TString TVxDate::ToDayNameFullDate() const {
    if (!Is())
        return TString();
    return Format("%s, %i %s, %4i", DayName()(), GetDay(), MonthName()(), GetYear());
}

TString TVxDate::ToSortString() const {
    return Is() ? Format("%i%02i%02i", GetYear(), GetMonth(), GetDay()) : TString();
}

void TVxDate::GetSystemDate() {
    struct tm now;
    FDate = 0;
    if (!LocalNow(now))
        return;
    SetYear(now.tm_year + 1900);
    SetMonth(now.tm_mon + 1);
    SetDay(now.tm_mday);
}

bool TVxDate::SetSystemDate() const {
    struct tm when;
    if (!Valid() || !Is() || !LocalNow(when))
        return false;
    when.tm_year = GetYear() - 1900;
    when.tm_mon = GetMonth() - 1;
    when.tm_mday = GetDay();
    return SetLocalClock(when);
}

// One day on: after a month's last day comes the first of the next month.
void TVxDate::StepForward() {
    if (GetDay() < GetMonthLastDay()) {
        SetDay(GetDay() + 1);
        return;
    }
    SetDay(1);
    if (GetMonth() >= 12) {
        SetMonth(1);
        SetYear(GetYear() + 1);
    } else {
        SetMonth(GetMonth() + 1);
    }
}

// One day back: before the first of a month comes the last day of the previous month.
void TVxDate::StepBack() {
    if (GetDay() > 1) {
        SetDay(GetDay() - 1);
        return;
    }
    if (GetMonth() <= 1) {
        SetMonth(12);
        SetYear(GetYear() - 1);
    } else {
        SetMonth(GetMonth() - 1);
    }
    SetDay(GetMonthLastDay());
}

void TVxDate::AddDays(int n) {
    if (!Is())
        return;
    // A date with fields out of range first steps onto the calendar; from there whole cycles
    // change nothing.
    for (; n > 0 && !Valid(); --n)
        StepForward();
    for (n %= DaysPerCycle; n > 0; --n)
        StepForward();
}

void TVxDate::SubtractDays(int n) {
    if (!Is())
        return;
    for (; n > 0 && !Valid(); --n)
        StepBack();
    for (n %= DaysPerCycle; n > 0; --n)
        StepBack();
}

void TVxDate::AddWorkingDays(int n) {
    if (!Is() || !MonthInRange(GetMonth()))
        return;
    if (n > 0 && !Valid()) {
        StepForward();
        if (IsWeekDay())
            --n;
    }
    // A whole cycle passes every weekday of the calendar once and comes back to this date;
    // keep at least one weekday to pass so the date still lands on one.
    if (n > WeekDaysPerCycle())
        n = (n - 1) % WeekDaysPerCycle() + 1;
    while (n > 0) {
        StepForward();
        if (IsWeekDay())
            --n;
    }
}

// The weekdays in one cycle of the calendar, counted once.
int TVxDate::WeekDaysPerCycle() {
    static const int count = [] {
        TVxDate date(TString("01/01/1900"));
        int weekDays = 0;
        for (int i = 0; i < DaysPerCycle; ++i, date.StepForward())
            if (date.IsWeekDay())
                ++weekDays;
        return weekDays;
    }();
    return count;
}

void TVxDate::LimitDay() {
    if (GetDay() > GetMonthLastDay())
        SetDay(GetMonthLastDay());
}

void TVxDate::AddMonths(int n) {
    MoveMonths(n);
}

void TVxDate::SubtractMonths(int n) {
    MoveMonths(-static_cast<long long>(n));
}

void TVxDate::MoveMonths(long long n) {
    if (!Is() || !MonthInRange(GetMonth()))
        return;
    // Months counted from January 1900; the year field wraps like SetYear.
    long long months = static_cast<long long>(FDate >> 9) * 12 + (GetMonth() - 1) + n;
    months = (months % (128 * 12) + 128 * 12) % (128 * 12);
    SetYear(1900 + static_cast<int>(months / 12));
    SetMonth(static_cast<int>(months % 12) + 1);
    LimitDay();
}

void TVxDate::AddYears(int n) {
    if (!Is() || !MonthInRange(GetMonth()))
        return;
    SetYear(GetYear() + n % 128);
    LimitDay();
}

void TVxDate::SubtractYears(int n) {
    AddYears(-(n % 128));
}

// The day's number counted from 1 January 1900, which is day 1. 1900 is no leap year: the leap
// years in range are every fourth from 1904 to 2024.
int TVxDate::DayNumber() const {
    const int years = FDate >> 9;
    const int month = GetMonth();
    const int before = MonthInRange(month) ? DaysBeforeMonth[month] : 0;
    const int leapDaysBefore = years > 0 ? (years - 1) / 4 : 0;
    const int leapDay = IsLeapyear() && month > 2 ? 1 : 0;
    return before + 365 * years + leapDaysBefore + leapDay + GetDay();
}

int TVxDate::Days(const TVxDate& other) const {
    if (!Is() || !other.Is())
        return 0;
    return abs(other.DayNumber() - DayNumber()) + 1;
}

int TVxDate::Days(const TString& other) const {
    return other.IsBlank() ? 0 : Days(TVxDate(other));
}

int TVxDate::YearsSince(const TVxDate& other) const {
    if (!Is() || !other.Is())
        return 0;
    int years = GetYear() - other.GetYear();
    if (GetMonth() < other.GetMonth() ||
        (GetMonth() == other.GetMonth() && GetDay() < other.GetDay()))
        --years;
    return years > 0 ? years : 0;
}

int TVxDate::YearsSince(const TString& other) const {
    return other.IsBlank() ? 0 : YearsSince(TVxDate(other));
}

int TVxDate::DayOfWeek() const {
    if (!Is())
        return 0;
    // Day 1, 1 January 1900, was a Monday.
    return DayNumber() % 7;
}

bool TVxDate::IsWeekDay() const {
    const int day = DayOfWeek();
    return day >= 1 && day <= 5;
}

int TVxDate::FinancialYear() const {
    return GetMonth() > 6 ? GetYear() : GetYear() - 1;
}

TString TVxDate::ShortDayName() const {
    return TString(ShortDayNames[DayOfWeek()]);
}

TString TVxDate::DayName() const {
    return TString(DayNames[DayOfWeek()]);
}

TString TVxDate::ShortMonthName() const {
    return TString(MonthInRange(GetMonth()) ? ShortMonthNames[GetMonth()] : "");
}

TString TVxDate::MonthName() const {
    return TString(MonthInRange(GetMonth()) ? MonthNames[GetMonth()] : "");
}

bool TVxDate::operator>(const TVxDate& other) const {
    // Year, month and day sit in that order from the top bit down.
    return FDate > other.FDate;
}

bool TVxDate::operator<(const TVxDate& other) const {
    return FDate < other.FDate;
}

void TVxDate::Read(TFile* file) {
    ReadTwoBytes(file, FDate);
}

void TVxDate::Write(TFile* file) const {
    WriteTwoBytes(file, FDate);
}

// ---------------------------------------------------------------------------------------------
// TVxTime

TVxTime::TVxTime(const TString& text) : FTime(0) {
    ReadString(text);
}

TVxTime::TVxTime(short) : FTime(0) {
    GetSystemTime();
}

void TVxTime::SetUnits(long long units) {
    FTime = static_cast<unsigned short>(units < 1 ? 0 : units % UnitsPerDay);
}

void TVxTime::ReadString(const TString& text) {
    TString parts[3];
    int part = 0;
    for (const char* c = text; *c; ++c) {
        if (*c == ':') {
            if (++part == 3)
                break;
            continue;
        }
        parts[part] += static_cast<unsigned char>(*c);
    }
    SetUnits(TimePart(parts[0]) * 1800 + TimePart(parts[1]) * 30 + TimePart(parts[2]) / 2);
}

TString TVxTime::ToString() const {
    return Format("%i:%02i", GetHour(), GetMinute());
}

TString TVxTime::ToSecsString() const {
    return Format("%i:%02i:%02i", GetHour(), GetMinute(), GetSecond());
}

TString TVxTime::ToSortString() const {
    return Format("%02i%02i%02i", GetHour(), GetMinute(), GetSecond());
}

void TVxTime::SetHour(short hour) {
    SetTime(hour, static_cast<short>(GetMinute()), static_cast<short>(GetSecond()));
}

void TVxTime::SetMinute(short minute) {
    SetTime(static_cast<short>(GetHour()), minute, static_cast<short>(GetSecond()));
}

void TVxTime::SetSecond(short second) {
    SetTime(static_cast<short>(GetHour()), static_cast<short>(GetMinute()), second);
}

void TVxTime::SetTime(short hour, short minute, short second) {
    SetUnits(static_cast<long long>(hour) * 1800 + minute * 30 + second / 2);
}

void TVxTime::GetSystemTime() {
    struct tm now;
    if (LocalNow(now))
        SetTime(static_cast<short>(now.tm_hour), static_cast<short>(now.tm_min),
                static_cast<short>(now.tm_sec));
    else
        FTime = 0;
}

bool TVxTime::SetSystemTime() const {
    struct tm when;
    if (!LocalNow(when))
        return false;
    when.tm_hour = GetHour();
    when.tm_min = GetMinute();
    when.tm_sec = GetSecond();
    return SetLocalClock(when);
}

int TVxTime::Hours(const TVxTime& other) const {
    return abs(FTime - other.FTime) / 1800;
}

int TVxTime::Minutes(const TVxTime& other) const {
    return abs(FTime - other.FTime) / 30;
}

int TVxTime::Seconds(const TVxTime& other) const {
    return abs(FTime - other.FTime) * 2;
}

void TVxTime::Read(TFile* file) {
    ReadTwoBytes(file, FTime);
}

void TVxTime::Write(TFile* file) const {
    WriteTwoBytes(file, FTime);
}

// ---------------------------------------------------------------------------------------------
// Date fields of the record format

void TFile::WriteDate(const TVxDate& date, const char& sep) {
    WriteString(date.ToString(), sep);
}

void TFile::ReadDate(TVxDate& date, const char& sep) {
    TString text;
    ReadString(text, sep);
    date = text;
}
