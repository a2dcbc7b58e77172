// A calendar date and a time of day, each packed into 16 bits, with parsing from text, fixed
// English formats, calendar arithmetic and two-byte file transfer.
#pragma once

#include "TString.h"

class TFile;

// A date from 1900 to 2027: bits 0-4 day (0: no date set), bits 5-8 month, bits 9-15 years since
// 1900. Texts are read day first ("05/03/2002", "5-3-02", "050302"); a date whose fields are
// out of range (a month of 0 or 13) never indexes a name table.
class TVxDate {
public:
    TVxDate() : FDate(0) {}
    TVxDate(const TVxDate& other) = default;
    TVxDate(const TString& text);
    // Today's date; the argument only selects this constructor.
    explicit TVxDate(int);
    TVxDate& operator=(const TVxDate& other) = default;
    TVxDate& operator=(const TString& text);

    void StringToDate(const TString& text);

    int GetDay() const { return FDate & 0x1F; }
    int GetMonth() const { return (FDate >> 5) & 0x0F; }
    int GetYear() const { return 1900 + (FDate >> 9); }
    void SetDay(int day);
    void SetMonth(int month);
    void SetYear(int year);

    bool Is() const { return GetDay() > 0; }
    bool Valid() const;
    bool IsLeapyear() const;
    // The month's length (29 for February of a leap year); 0 for a month field out of range.
    int GetMonthLastDay() const;

    TString ToString() const;
    TString ToNonCenturyString() const;
    TString ToMonthYearString() const;
    TString ToFullDate() const;
    TString ToDayNameFullDate() const;
    TString ToSortString() const;

    void GetSystemDate();
    // Sets the system clock's date, keeping its time of day; false when the system refuses.
    bool SetSystemDate() const;

    // Calendar moves leave a date that is not set unchanged.
    void AddDays(int n);
    void SubtractDays(int n);
    void AddWorkingDays(int n);
    void AddMonths(int n);
    void SubtractMonths(int n);
    void AddYears(int n);
    void SubtractYears(int n);

    // Days from one date to the other counting both ends; 0 when either is not set.
    int Days(const TVxDate& other) const;
    int Days(const TString& other) const;
    // Whole years from `other` up to this date, never negative; 0 when either is not set.
    int YearsSince(const TVxDate& other) const;
    int YearsSince(const TString& other) const;
    // 0 (Sunday) .. 6 (Saturday).
    int DayOfWeek() const;
    bool IsWeekDay() const;
    // The year in which this date's July-to-June year starts.
    int FinancialYear() const;

    TString ShortDayName() const;
    TString DayName() const;
    TString ShortMonthName() const;
    TString MonthName() const;

    bool operator>(const TVxDate& other) const;
    bool operator<(const TVxDate& other) const;
    bool operator>=(const TVxDate& other) const { return *this > other || *this == other; }
    bool operator<=(const TVxDate& other) const { return *this < other || *this == other; }
    bool operator==(const TVxDate& other) const { return FDate == other.FDate; }
    bool operator>(const TString& other) const { return *this > TVxDate(other); }
    bool operator<(const TString& other) const { return *this < TVxDate(other); }
    bool operator>=(const TString& other) const { return *this >= TVxDate(other); }
    bool operator<=(const TString& other) const { return *this <= TVxDate(other); }
    bool operator==(const TString& other) const { return *this == TVxDate(other); }

    // Two raw bytes, low byte first.
    void Read(TFile* file);
    void Write(TFile* file) const;

    unsigned short Value() const { return FDate; }

private:
    int DayNumber() const;
    void StepForward();
    void StepBack();
    static int WeekDaysPerCycle();
    void LimitDay();
    void MoveMonths(long long n);

    unsigned short FDate;
};

// A time of day in two-second units since midnight (0..43199); odd seconds are stored as the
// even second below.
class TVxTime {
public:
    TVxTime() : FTime(0) {}
    TVxTime(const TVxTime& other) = default;
    TVxTime(const TString& text);
    // The current system time; the argument only selects this constructor.
    explicit TVxTime(short);
    TVxTime& operator=(const TVxTime& other) = default;

    // Reads "h:m:s" (minutes and seconds optional); times past 24 hours wrap like SetTime.
    void ReadString(const TString& text);
    TString ToString() const;
    TString ToSecsString() const;
    TString ToSortString() const;

    int GetHour() const { return FTime / 1800; }
    int GetMinute() const { return FTime % 1800 / 30; }
    int GetSecond() const { return FTime % 30 * 2; }
    void SetHour(short hour);
    void SetMinute(short minute);
    void SetSecond(short second);
    // Wraps at 24 hours; a time before midnight becomes midnight.
    void SetTime(short hour, short minute, short second);

    void GetSystemTime();
    // Sets the system clock's time of day, keeping its date; false when the system refuses.
    bool SetSystemTime() const;

    // The distance between two times in whole hours, whole minutes, or seconds.
    int Hours(const TVxTime& other) const;
    int Hours(const TString& other) const { return Hours(TVxTime(other)); }
    int Minutes(const TVxTime& other) const;
    int Minutes(const TString& other) const { return Minutes(TVxTime(other)); }
    int Seconds(const TVxTime& other) const;
    int Seconds(const TString& other) const { return Seconds(TVxTime(other)); }

    void Read(TFile* file);
    void Write(TFile* file) const;

    unsigned short Value() const { return FTime; }

private:
    void SetUnits(long long units);

    unsigned short FTime;
};
