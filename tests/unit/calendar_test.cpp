// The calendar: day numbers, ISO week dates and file times, checked against tables and
// against a naive day-by-day walk of the whole range.
#include "datetime/calendar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace horalin {
namespace {

struct DayCase {
  uint32_t year, month, day;
  DayNumber number;
  int weekday;  // 0 Sunday
};

TEST(CalendarTest, DayNumbersAndWeekdays) {
  const DayCase cases[] = {
      {1601, 1, 1, 1, 1},       {1601, 12, 31, 365, 1},     {1602, 1, 1, 366, 2},      {1970, 1, 1, 134775, 4},
      {2000, 1, 1, 145732, 6},  {2000, 2, 29, 145791, 2},   {2000, 12, 31, 146097, 0}, {2024, 1, 1, 154498, 1},
      {2024, 2, 29, 154557, 4}, {9999, 12, 31, 3067671, 5}, {2001, 1, 1, 146098, 1},
  };
  for (const DayCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.year << "-" << c.month << "-" << c.day);
    EXPECT_EQ(DayNumberFromDate(c.year, c.month, c.day), c.number);
    EXPECT_EQ(c.number % 7, c.weekday);
    uint32_t y = 0, m = 0, d = 0;
    ASSERT_EQ(DateFromDayNumber(c.number, &y, &m, &d), 0);
    EXPECT_EQ(y, c.year);
    EXPECT_EQ(m, c.month);
    EXPECT_EQ(d, c.day);
  }
}

TEST(CalendarTest, InvalidDatesAndDayNumbers) {
  const uint32_t invalid[][3] = {{1600, 12, 31}, {10000, 1, 1}, {2023, 2, 29}, {2024, 1, 0}, {2024, 0, 1},
                                 {2024, 13, 1},  {2024, 4, 31}, {1900, 2, 29}, {0, 1, 1},    {4294967295u, 1, 1}};
  for (const auto& date : invalid)
    EXPECT_EQ(DayNumberFromDate(date[0], date[1], date[2]), -1) << date[0] << "-" << date[1] << "-" << date[2];

  uint32_t y = 7, m = 8, d = 9;
  EXPECT_EQ(DateFromDayNumber(kLastDay + 1, &y, &m, &d), -1);
  EXPECT_EQ(DateFromDayNumber(0, &y, &m, &d), -1);
  EXPECT_EQ(DateFromDayNumber(-5, &y, &m, &d), -1);
  EXPECT_EQ(y * 100 + m * 10 + d, 789u) << "outputs are written only on success";
}

TEST(CalendarTest, LeapYears) {
  const std::pair<int32_t, int> cases[] = {{1600, 1}, {1601, 0}, {1604, 1},  {1700, 0},      {1900, 0},
                                           {2000, 1}, {2023, 0}, {2024, 1},  {2100, 0},      {9996, 1},
                                           {9999, 0}, {-4, 1},   {-100, 0},  {-400, 1},      {INT32_MIN, 1},
                                           {0, 1},    {-1, 0},   {-1600, 1}, {INT32_MAX, 0}, {2147483600, 1}};
  for (auto [year, leap] : cases) EXPECT_EQ(IsLeapYear(year), leap) << year;
  // The rule as it is stated, remainders taking the dividend's sign, over a wide span.
  for (int32_t year = -400000; year <= 400000; ++year) {
    int expected = year % 400 == 0 ? 1 : year % 100 == 0 ? 0 : year % 4 == 0 ? 1 : 0;
    ASSERT_EQ(IsLeapYear(year), expected) << year;
  }
}

// The naive calendar: one day after another, with month lengths written out again here.
struct NaiveDate {
  uint32_t year, month, day;
};

bool NaiveLeap(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void NextDay(NaiveDate& d) {
  static const uint32_t lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  uint32_t length = d.month == 2 && NaiveLeap(d.year) ? 29 : lengths[d.month];
  if (++d.day > length) {
    d.day = 1;
    if (++d.month > 12) d.month = 1, ++d.year;
  }
}

TEST(CalendarTest, EveryDayRoundTrips) {
  NaiveDate walk{1601, 1, 1};
  int mismatches = 0;
  for (DayNumber n = kFirstDay; n <= kLastDay && mismatches < 5; ++n, NextDay(walk)) {
    uint32_t y = 0, m = 0, d = 0;
    bool ok = DateFromDayNumber(n, &y, &m, &d) == 0 && y == walk.year && m == walk.month && d == walk.day &&
              DayNumberFromDate(walk.year, walk.month, walk.day) == n;
    if (!ok) {
      ++mismatches;
      ADD_FAILURE() << "day " << n << ": walk " << walk.year << "-" << walk.month << "-" << walk.day << ", got " << y
                    << "-" << m << "-" << d;
    }
  }
  EXPECT_EQ(walk.year, 10000u);
}

TEST(CalendarTest, MonthOfDayOfYear) {
  const uint32_t cases[][3] = {{1, 0, 1},  {31, 0, 1},   {32, 0, 2},   {59, 0, 2},   {60, 0, 3},   {60, 1, 2},
                               {61, 1, 3}, {334, 0, 11}, {335, 0, 12}, {335, 1, 11}, {365, 0, 12}, {366, 1, 12}};
  for (const auto& c : cases) EXPECT_EQ(MonthOfDayOfYear(c[0], static_cast<int>(c[1])), c[2]) << c[0];
}

struct WeekYearCase {
  uint32_t year;
  int32_t weekOneOffset;
  uint32_t weeks;
};

TEST(CalendarTest, IsoWeekStructureOfYears) {
  const WeekYearCase cases[] = {{1601, 0, 52}, {2015, -3, 53},   {2016, 3, 52},    {2020, -2, 53},
                                {2023, 1, 52}, {2024, 0, 52},    {2025, -2, 52},   {2026, -3, 53},
                                {9999, 3, 52}, {1600, -999, 52}, {10000, -999, 52}};
  for (const WeekYearCase& c : cases) {
    EXPECT_EQ(IsoWeekOneOffset(c.year), c.weekOneOffset) << c.year;
    EXPECT_EQ(IsoWeeksInYear(c.year), c.weeks) << c.year;
  }
}

// Week 1 begins on the Monday of the week that holds 4 January, and a year has as many
// weeks as lie between its week 1 and the next year's.
TEST(CalendarTest, IsoWeekStructureOfEveryYear) {
  auto weekOneMonday = [](uint32_t year) {
    DayNumber january4 = DayNumberFromDate(year, 1, 4);
    DayNumber isoWeekday = january4 % 7 == 0 ? 7 : january4 % 7;
    return january4 - isoWeekday + 1;
  };
  for (uint32_t year = 1601; year <= 9999; ++year) {
    DayNumber monday = weekOneMonday(year);
    ASSERT_EQ(IsoWeekOneOffset(year), monday - DayNumberFromDate(year, 1, 1)) << year;
    uint32_t weeks = year < 9999 ? static_cast<uint32_t>(weekOneMonday(year + 1) - monday) / 7 : 52;
    ASSERT_EQ(IsoWeeksInYear(year), weeks) << year;
  }
}

struct IsoCase {
  uint32_t year, month, day;
  uint32_t isoYear, week, weekday;
};

TEST(CalendarTest, IsoWeekDates) {
  const IsoCase cases[] = {{2005, 1, 1, 2004, 53, 6},  {2005, 1, 2, 2004, 53, 7},   {2008, 12, 29, 2009, 1, 1},
                           {2010, 1, 3, 2009, 53, 7},  {2020, 12, 31, 2020, 53, 4}, {2023, 1, 1, 2022, 52, 7},
                           {2024, 12, 30, 2025, 1, 1}, {1601, 1, 1, 1601, 1, 1},    {9999, 12, 31, 9999, 52, 5}};
  for (const IsoCase& c : cases) {
    uint32_t y = 0, w = 0, d = 0;
    ASSERT_EQ(IsoWeekFromDate(static_cast<int32_t>(c.year), c.month, c.day, &y, &w, &d), 0);
    EXPECT_EQ(y, c.isoYear) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(w, c.week) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(d, c.weekday) << c.year << "-" << c.month << "-" << c.day;
  }
  uint32_t y = 0, w = 0;
  EXPECT_EQ(IsoWeekFromDate(2024, 1, 1, &y, &w, nullptr), -1);
  EXPECT_EQ(IsoWeekFromDate(2024, 1, 1, &y, nullptr, &w), -1);
  EXPECT_EQ(IsoWeekFromDate(2024, 14, 1, &y, &w, &w), -1) << "no read past the month tables";
}

// ISO 8601 by its definition: a week runs Monday to Sunday and belongs to the year that
// holds its Thursday; the week's number counts the Thursdays of that year up to it.
TEST(CalendarTest, IsoWeeksOfEveryDayMatchTheThursdayRule) {
  std::vector<NaiveDate> dates(static_cast<size_t>(kLastDay) + 1);
  std::vector<uint16_t> dayOfYear(static_cast<size_t>(kLastDay) + 1);
  NaiveDate walk{1601, 1, 1};
  for (DayNumber n = kFirstDay; n <= kLastDay; ++n, NextDay(walk)) {
    const size_t at = static_cast<size_t>(n);
    dates[at] = walk;
    dayOfYear[at] = walk.month == 1 && walk.day == 1 ? 1 : static_cast<uint16_t>(dayOfYear[at - 1] + 1);
  }
  int mismatches = 0;
  for (DayNumber n = kFirstDay; n <= kLastDay && mismatches < 5; ++n) {
    uint32_t weekday = n % 7 == 0 ? 7 : static_cast<uint32_t>(n % 7);  // 1 Monday ... 7 Sunday
    DayNumber thursday = n - static_cast<DayNumber>(weekday) + 4;
    uint32_t isoYear, week;
    if (thursday > kLastDay) {  // never within 9999, but the walk must not run off its end
      isoYear = 10000, week = 1;
    } else {
      isoYear = dates[static_cast<size_t>(thursday)].year;
      week = (dayOfYear[static_cast<size_t>(thursday)] - 1u) / 7 + 1;
    }
    uint32_t y = 0, w = 0, d = 0;
    const NaiveDate& date = dates[static_cast<size_t>(n)];
    IsoWeekFromDate(static_cast<int32_t>(date.year), date.month, date.day, &y, &w, &d);
    if (y != isoYear || w != week || d != weekday) {
      ++mismatches;
      ADD_FAILURE() << date.year << "-" << date.month << "-" << date.day << ": expected " << isoYear << "-W" << week
                    << "-" << weekday << ", got " << y << "-W" << w << "-" << d;
    }
  }
}

TEST(CalendarTest, FileTimes) {
  struct Case {
    SYSTEMTIME time;
    uint64_t fileTime;
  };
  const Case cases[] = {
      {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
      {{1601, 1, 1, 1, 0, 0, 0, 1}, 10000},
      {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ull},
      {{2024, 2, 4, 29, 23, 59, 59, 999}, 133537247999990000ull},
      {{9999, 12, 5, 31, 23, 59, 59, 999}, 2650467743999990000ull},
      {{2023, 2, 3, 29, 0, 0, 0, 0}, 0},  // not a date
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileTimeFromSystemTime(c.time), c.fileTime) << c.time.wYear;
    SYSTEMTIME back = SystemTimeFromFileTime(c.fileTime);
    if (DayNumberFromDate(c.time.wYear, c.time.wMonth, c.time.wDay) > 0) {
      EXPECT_EQ(std::memcmp(&back, &c.time, sizeof back), 0) << c.time.wYear;
    }
  }
  SYSTEMTIME beyond = SystemTimeFromFileTime(UINT64_MAX);  // 58,000 years on: the last day
  EXPECT_EQ(beyond.wYear * 10000 + beyond.wMonth * 100 + beyond.wDay, 99991231);
  EXPECT_EQ(beyond.wDayOfWeek, 5);
}

}  // namespace
}  // namespace horalin
