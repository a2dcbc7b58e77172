// Dates and times read from text, formatted and moved by days, months and years.
// Input: a date text and a time text on two lines; the last bytes give the distances to move.
// Properties: a set date shows as a text that reads back as the same date; its weekday and the
// day counts agree with the calendar; moving a day forward and back returns to it; month and
// year moves give valid dates; a time shows as a text that reads back as the same time.

#include "Date.h"
#include "FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

// Days since 1 January 1970 in the Gregorian calendar, whose 1900 has no 29 February.
long CivilDays(int year, int month, int day) {
    year -= month <= 2;
    const long era = year / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

long CivilDays(const TVxDate& date) {
    return CivilDays(date.GetYear(), date.GetMonth(), date.GetDay());
}

bool SetAndValid(const TVxDate& date) {
    return date.Is() && date.Valid();
}

// 1 January 1970 was a Thursday.
int CivilWeekday(long days) {
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

void CheckDate(const TVxDate& date, int dayStep, int monthStep) {
    date.ToNonCenturyString();
    date.ToMonthYearString();
    date.ToDayNameFullDate();
    date.ToSortString();
    date.FinancialYear();
    if (!SetAndValid(date))
        return;
    const TString text = date.ToString();
    FUZZ_CHECK(TVxDate(text) == date, "%s reads back as %s", text(), TVxDate(text).ToString()());
    const long days = CivilDays(date);
    FUZZ_CHECK(date.DayOfWeek() == CivilWeekday(days), "%s: weekday %d, the calendar says %d",
               text(), date.DayOfWeek(), CivilWeekday(days));

    // Moves that stay within the years a date can hold.
    TVxDate moved(date);
    moved.AddDays(dayStep);
    if (SetAndValid(moved) && moved.GetYear() >= date.GetYear()) {
        FUZZ_CHECK(CivilDays(moved) == days + dayStep, "%s plus %d days is %s", text(), dayStep,
                   moved.ToString()());
        FUZZ_CHECK(moved.Days(date) == dayStep + 1 && date.Days(moved) == dayStep + 1,
                   "%s to %s counts %d days", text(), moved.ToString()(), moved.Days(date));
        FUZZ_CHECK(moved.YearsSince(date) >= 0, "years since %d", moved.YearsSince(date));
        TVxDate back(moved);
        back.SubtractDays(dayStep);
        FUZZ_CHECK(back == date, "%s plus and minus %d days is %s", text(), dayStep,
                   back.ToString()());
    }
    TVxDate months(date);
    months.AddMonths(monthStep);
    if (months.GetYear() >= date.GetYear())
        FUZZ_CHECK(SetAndValid(months), "%s plus %d months is %s", text(), monthStep,
                   months.ToString()());
    TVxDate years(date);
    years.AddYears(monthStep / 12);
    if (years.GetYear() >= date.GetYear())
        FUZZ_CHECK(SetAndValid(years), "%s plus %d years is %s", text(), monthStep / 12,
                   years.ToString()());
    TVxDate working(date);
    working.AddWorkingDays(dayStep % 16);
    if (dayStep % 16 > 0 && working.GetYear() >= date.GetYear())
        FUZZ_CHECK(working.IsWeekDay(), "%s plus %d working days is %s", text(), dayStep % 16,
                   working.ToString()());
}

void CheckTime(const TVxTime& time) {
    const TString text = time.ToSecsString();
    time.ToString();
    time.ToSortString();
    if (time.GetHour() >= 24)
        return; // read without wrapping: no time of day
    const TVxTime again(text);
    FUZZ_CHECK(again.GetHour() == time.GetHour() && again.GetMinute() == time.GetMinute() &&
                   again.GetSecond() == time.GetSecond(),
               "%s reads back as %s", text(), again.ToSecsString()());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int dayStep = input.ConsumeIntegralInRange(1, 800);
    const int monthStep = input.ConsumeIntegralInRange(0, 40);
    const std::string text = input.ConsumeRemainingBytesAsString();
    const size_t newline = text.find('\n');
    const TString dateText(text.substr(0, newline).c_str());
    const TString timeText(newline == std::string::npos ? "" : text.substr(newline + 1).c_str());

    CheckDate(TVxDate(dateText), dayStep, monthStep);
    CheckTime(TVxTime(timeText));
    return 0;
}
