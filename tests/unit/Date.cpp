#include "Date.h"

#include "File.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string Text(const TString& s) {
    return std::string(s(), s.Length());
}

TVxDate D(const char* text) {
    return TVxDate(TString(text));
}

TEST(DateTest, ParsesDayFirstInEveryNotation) {
    for (const char* text : {"05/03/2002", "5-3-02", "5.3.2002", "050302", "05032002", " 5/3/2"}) {
        const TVxDate date = D(text);
        EXPECT_EQ(date.GetDay(), 5) << text;
        EXPECT_EQ(date.GetMonth(), 3) << text;
        EXPECT_EQ(date.GetYear(), 2002) << text;
    }
    EXPECT_EQ(D("1/1/26").GetYear(), 2026);
    EXPECT_EQ(D("1/1/27").GetYear(), 1927);
    EXPECT_EQ(D("010126").GetYear(), 2026);
    EXPECT_EQ(D("010199").GetYear(), 1999);

    const TVxDate yearOnly = D("32/13/2002");
    EXPECT_EQ(yearOnly.GetDay(), 0);
    EXPECT_EQ(yearOnly.GetMonth(), 0);
    EXPECT_EQ(yearOnly.GetYear(), 2002);
    EXPECT_FALSE(yearOnly.Is());

    for (const char* text : {"1/2/3/4", "0503200", "", "today", "99999999999/1/1"})
        EXPECT_EQ(D(text).Value(), 0) << text;
}

TEST(DateTest, FormatsAndNames) {
    const TVxDate date = D("06/12/2026");
    EXPECT_EQ(Text(date.ToString()), "06/12/2026");
    EXPECT_EQ(Text(date.ToNonCenturyString()), "06/12/26");
    EXPECT_EQ(Text(date.ToMonthYearString()), "December, 2026");
    EXPECT_EQ(Text(date.ToFullDate()), "6 December, 2026");
    EXPECT_EQ(Text(date.ToDayNameFullDate()), "Sunday, 6 December, 2026");
    EXPECT_EQ(Text(date.ToSortString()), "20261206");
    EXPECT_EQ(Text(D("01/09/2003").ShortMonthName()), "Sept");
    EXPECT_EQ(Text(D("03/09/2003").ShortDayName()), "Wed");

    const TVxDate empty;
    EXPECT_TRUE(Text(empty.ToString()).empty());
    EXPECT_TRUE(Text(empty.ToDayNameFullDate()).empty());

    // A month field out of range has no name.
    TVxDate odd = D("05/01/2002");
    odd.SetMonth(15);
    EXPECT_TRUE(Text(odd.MonthName()).empty());
    EXPECT_TRUE(Text(odd.ToFullDate()).find("5 ,") == 0);
    EXPECT_FALSE(odd.Valid());
    EXPECT_EQ(odd.GetMonthLastDay(), 0);
}

TEST(DateTest, LeapYearsAndMonthEnds) {
    EXPECT_TRUE(D("29/02/2000").Valid());
    EXPECT_FALSE(D("29/02/2001").Valid());
    EXPECT_FALSE(D("31/04/2002").Valid());
    EXPECT_TRUE(TVxDate().Valid());
    EXPECT_FALSE(D("01/01/1900").IsLeapyear()); // the century rule for 1900
    EXPECT_TRUE(D("01/01/2000").IsLeapyear());
    EXPECT_EQ(D("10/02/2024").GetMonthLastDay(), 29);
    EXPECT_EQ(D("10/02/2023").GetMonthLastDay(), 28);

    TVxDate date = D("29/02/2000");
    date.AddYears(1);
    EXPECT_EQ(Text(date.ToString()), "28/02/2001");
    date = D("31/01/2003");
    date.AddMonths(1);
    EXPECT_EQ(Text(date.ToString()), "28/02/2003");
    date = D("31/03/2004");
    date.SubtractMonths(1);
    EXPECT_EQ(Text(date.ToString()), "29/02/2004");
    date = D("15/11/2002");
    date.AddMonths(14);
    EXPECT_EQ(Text(date.ToString()), "15/01/2004");
    date.SubtractYears(2);
    EXPECT_EQ(Text(date.ToString()), "15/01/2002");
}

TEST(DateTest, DayStepsCrossMonthsAndYears) {
    TVxDate date = D("28/02/2000");
    date.AddDays(2);
    EXPECT_EQ(Text(date.ToString()), "01/03/2000");
    date = D("31/12/1999");
    date.AddDays(1);
    EXPECT_EQ(Text(date.ToString()), "01/01/2000");
    date.SubtractDays(1);
    EXPECT_EQ(Text(date.ToString()), "31/12/1999");
    date = D("01/03/2001");
    date.SubtractDays(1);
    EXPECT_EQ(Text(date.ToString()), "28/02/2001");
    date.AddDays(-5);
    EXPECT_EQ(Text(date.ToString()), "28/02/2001");
    date = D("01/01/2002");
    date.AddDays(365);
    EXPECT_EQ(Text(date.ToString()), "01/01/2003");

    TVxDate empty;
    empty.AddDays(3);
    empty.AddWorkingDays(3);
    EXPECT_EQ(empty.Value(), 0);
}

TEST(DateTest, LargeMovesGoRoundTheWrappingCalendar) {
    TVxDate date = D("31/12/2027");
    date.AddDays(1); // the year field wraps
    EXPECT_EQ(Text(date.ToString()), "01/01/1900");
    date.SubtractDays(1);
    EXPECT_EQ(Text(date.ToString()), "31/12/2027");

    const int daysPerCycle = 128 * 365 + 31; // 1900 to 2027, leap years 1904 to 2024
    date = D("05/03/2002");
    date.AddDays(daysPerCycle);
    EXPECT_EQ(Text(date.ToString()), "05/03/2002");
    date.AddDays(INT_MAX); // finishes, and comes back with the same count
    date.SubtractDays(INT_MAX);
    EXPECT_EQ(Text(date.ToString()), "05/03/2002");

    // A day beyond the month's end steps onto the calendar before whole cycles are dropped.
    date = D("01/02/2002");
    date.SetDay(30);
    date.AddDays(daysPerCycle);
    EXPECT_EQ(Text(date.ToString()), "28/02/2002");

    int weekDaysPerCycle = 0;
    TVxDate walk = D("01/01/1900");
    for (int i = 0; i < daysPerCycle; ++i, walk.AddDays(1))
        weekDaysPerCycle += walk.IsWeekDay() ? 1 : 0;
    date = D("04/12/2026"); // a Friday
    date.AddWorkingDays(3 * weekDaysPerCycle + 1);
    EXPECT_EQ(Text(date.ToString()), "07/12/2026");
    date = D("05/12/2026"); // a Saturday: a whole cycle of weekdays ends on the Friday before
    date.AddWorkingDays(weekDaysPerCycle);
    EXPECT_EQ(Text(date.ToString()), "04/12/2026");
    date.AddWorkingDays(INT_MAX);
    EXPECT_TRUE(date.IsWeekDay());
}

TEST(DateTest, DayCountsAndWeekDays) {
    const TVxDate first = D("01/03/2002");
    EXPECT_EQ(first.Days(first), 1);
    EXPECT_EQ(first.Days(D("31/03/2002")), 31);
    EXPECT_EQ(D("31/03/2002").Days(first), 31);
    EXPECT_EQ(D("01/01/2000").Days(D("01/01/2001")), 367);
    EXPECT_EQ(first.Days(TString("")), 0);
    EXPECT_EQ(first.Days(TVxDate()), 0);

    EXPECT_EQ(D("01/03/1900").DayOfWeek(), 4);
    EXPECT_EQ(D("06/12/2026").DayOfWeek(), 0);
    EXPECT_EQ(D("29/02/2000").DayOfWeek(), 2);
    EXPECT_EQ(D("01/01/2001").DayOfWeek(), 1);
    EXPECT_FALSE(D("06/12/2026").IsWeekDay());
    EXPECT_TRUE(D("07/12/2026").IsWeekDay());

    TVxDate date = D("04/12/2026"); // a Friday
    date.AddWorkingDays(1);
    EXPECT_EQ(Text(date.ToString()), "07/12/2026");
    date.AddWorkingDays(5);
    EXPECT_EQ(Text(date.ToString()), "14/12/2026");
}

// 1900 was no leap year. From 1 January 1900 (a Monday) on, stepping day by day, counting
// days and the weekday agree, across the end of February 1900 too.
TEST(DateTest, TheStartOf1900CountsLikeEveryOtherDay) {
    const TVxDate start = D("01/01/1900");
    TVxDate date = start;
    for (int n = 0; n < 3 * 366; ++n, date.AddDays(1)) {
        ASSERT_EQ(start.Days(date), n + 1) << Text(date.ToString());
        ASSERT_EQ(date.DayOfWeek(), (1 + n) % 7) << Text(date.ToString());
    }
    EXPECT_EQ(D("28/02/1900").Days(D("01/03/1900")), 2);

    TVxDate friday = D("05/01/1900");
    friday.AddWorkingDays(1);
    EXPECT_EQ(Text(friday.ToString()), "08/01/1900");
}

TEST(DateTest, YearsSinceAndFinancialYear) {
    const TVxDate birth = D("06/12/1990");
    EXPECT_EQ(D("05/12/2026").YearsSince(birth), 35);
    EXPECT_EQ(D("06/12/2026").YearsSince(birth), 36);
    EXPECT_EQ(D("06/11/2026").YearsSince(TString("06/12/1990")), 35);
    EXPECT_EQ(birth.YearsSince(D("06/12/2026")), 0);
    EXPECT_EQ(birth.YearsSince(TString("")), 0);

    EXPECT_EQ(D("30/06/2002").FinancialYear(), 2001);
    EXPECT_EQ(D("01/07/2002").FinancialYear(), 2002);
}

TEST(DateTest, Comparisons) {
    EXPECT_TRUE(D("01/01/2003") > D("31/12/2002"));
    EXPECT_TRUE(D("31/01/2002") < D("01/02/2002"));
    EXPECT_TRUE(D("05/03/2002") == TString("050302"));
    EXPECT_TRUE(D("05/03/2002") >= TString("05/03/2002"));
    EXPECT_TRUE(D("05/03/2002") <= TString("06/03/2002"));
    EXPECT_FALSE(D("05/03/2002") < TString("05/03/2002"));
}

TEST(TimeTest, PackingAndFormats) {
    const TVxTime time(TString("13:45:31"));
    EXPECT_EQ(Text(time.ToSecsString()), "13:45:30");
    EXPECT_EQ(Text(time.ToString()), "13:45");
    EXPECT_EQ(Text(time.ToSortString()), "134530");
    EXPECT_EQ(time.Value(), 13 * 1800 + 45 * 30 + 15);
    EXPECT_EQ(TVxTime(TString("7")).GetHour(), 7);
    EXPECT_EQ(TVxTime(TString("7::20")).GetSecond(), 20);
    EXPECT_EQ(Text(TVxTime(TString("1:2:3:4")).ToSecsString()), "1:02:02");

    TVxTime set;
    set.SetTime(25, 0, 0);
    EXPECT_EQ(Text(set.ToString()), "1:00");
    set.SetTime(0, 0, 1);
    EXPECT_EQ(Text(set.ToString()), "0:00");
    set.SetTime(-1, 0, 0);
    EXPECT_EQ(set.Value(), 0);
    set.SetTime(10, 20, 30);
    set.SetMinute(59);
    EXPECT_EQ(Text(set.ToSecsString()), "10:59:30");
    set.SetHour(23);
    EXPECT_EQ(Text(set.ToSecsString()), "23:59:30");
}

TEST(TimeTest, LargeTextsWrapInsteadOfOverflowing) {
    // 40 hours would not fit the 16-bit value; it wraps at 24 hours like SetTime.
    EXPECT_EQ(Text(TVxTime(TString("40:00")).ToString()), "16:00");
    EXPECT_EQ(Text(TVxTime(TString("24:00:00")).ToString()), "0:00");
    EXPECT_EQ(TVxTime(TString("99999999999999:00")).Value() < 43200, true);
    EXPECT_EQ(TVxTime(TString("-3:00")).Value(), 0);
}

TEST(TimeTest, Differences) {
    const TVxTime ten(TString("10:00"));
    EXPECT_EQ(ten.Minutes(TString("09:15")), 45);
    EXPECT_EQ(ten.Hours(TString("12:59")), 2);
    EXPECT_EQ(ten.Seconds(TString("10:00:10")), 10);
}

TEST(DateTimeFileTest, TwoByteValuesAndRecordFields) {
    TVectorFile file;
    D("05/03/2002").Write(&file);
    TVxTime(TString("13:45:30")).Write(&file);
    file.WriteDate(D("29/02/2000"), ';');
    file.WriteDate(TVxDate(), ';');
    EXPECT_EQ(file.Size(), 4 + 11 + 1);

    file.Seek(0);
    unsigned char raw[2];
    file.Read(raw, 2);
    const unsigned short packed = D("05/03/2002").Value();
    EXPECT_EQ(raw[0], packed & 0xFF); // low byte first
    EXPECT_EQ(raw[1], packed >> 8);

    file.Seek(0);
    TVxDate date;
    TVxTime time;
    date.Read(&file);
    time.Read(&file);
    EXPECT_EQ(Text(date.ToString()), "05/03/2002");
    EXPECT_EQ(Text(time.ToSecsString()), "13:45:30");
    file.ReadDate(date, ';');
    EXPECT_EQ(Text(date.ToString()), "29/02/2000");
    file.ReadDate(date, ';');
    EXPECT_FALSE(date.Is());
}

TEST(DateTimeFileTest, SystemClockReadsToday) {
    const TVxDate today(0);
    EXPECT_TRUE(today.Is());
    EXPECT_TRUE(today.Valid());
    const TVxTime now(static_cast<short>(0));
    EXPECT_LT(now.Value(), 43200);
}

} // namespace
