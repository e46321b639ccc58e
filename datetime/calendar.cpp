#include "datetime/calendar.h"

namespace horalin {

// Month lengths and the days before each month, common year then leap year.
const uint32_t DaysInMonth[14][2] = {{0, 0},   {31, 31}, {28, 29}, {31, 31}, {30, 30}, {31, 31}, {30, 30},
                                     {31, 31}, {31, 31}, {30, 30}, {31, 31}, {30, 30}, {31, 31}, {0, 0}};
const uint32_t DaysBeforeMonth[14][2] = {{0, 0},     {0, 0},     {31, 31},   {59, 60},   {90, 91},
                                         {120, 121}, {151, 152}, {181, 182}, {212, 213}, {243, 244},
                                         {273, 274}, {304, 305}, {334, 335}, {0, 0}};

int IsLeapYear(int32_t year) {
  // Three years in four fail the first test, so most years need one remainder only.
  if (year % 4 != 0) return 0;
  if (year % 100 != 0) return 1;
  return year % 400 == 0 ? 1 : 0;
}

namespace {

// Days before 1 January of a year in 1601..9999. Counting from 1601, the first year of
// a 400-year cycle, makes the leap-day count exact.
DayNumber DaysBeforeYear(uint32_t year) {
  uint32_t y = year - 1601;  // [0, 8398]
  return static_cast<DayNumber>(365 * y + y / 4 - y / 100 + y / 400);
}

}  // namespace

DayNumber DayNumberFromDate(uint32_t year, uint32_t month, uint32_t day) {
  if (year < 1601 || year > 9999 || month < 1 || month > 12) return -1;
  int leap = IsLeapYear(static_cast<int32_t>(year));
  if (day < 1 || day > DaysInMonth[month][leap]) return -1;
  return DaysBeforeYear(year) + static_cast<DayNumber>(DaysBeforeMonth[month][leap] + day);
}

uint32_t MonthOfDayOfYear(uint32_t dayOfYear, int leap) {
  uint32_t month = 1;
  while (month < 12 && DaysBeforeMonth[month + 1][leap] < dayOfYear) ++month;
  return month;
}

int DateFromDayNumber(DayNumber n, uint32_t* year, uint32_t* month, uint32_t* day) {
  if (n > kLastDay || n < kFirstDay) return -1;
  // No year is longer than 366 days, so the guess never passes the true year.
  uint32_t y = 1601 + static_cast<uint32_t>(n) / 366;
  while (DaysBeforeYear(y) + 365 + IsLeapYear(static_cast<int32_t>(y)) < n) ++y;  // at most 18 steps
  uint32_t dayOfYear = static_cast<uint32_t>(n - DaysBeforeYear(y));              // [1, 366]
  int leap = IsLeapYear(static_cast<int32_t>(y));
  uint32_t m = MonthOfDayOfYear(dayOfYear, leap);
  *year = y;
  *month = m;
  *day = dayOfYear - DaysBeforeMonth[m][leap];
  return 0;
}

namespace {

// The ISO week structure of a year in 1601..9999, from the day number of the day before
// its 1 January and its leap indicator.
struct WeekYear {
  int32_t weekOneOffset;  // [-3, 3]
  uint32_t weeks;         // 52 or 53
};

WeekYear WeekYearOf(DayNumber daysBefore, int leap) {
  int32_t january1 = (daysBefore + 1) % 7;            // weekday, 0 Sunday
  int32_t january4 = (january1 + 3) % 7;              // the same, 4 January
  int32_t isoWeekday = january4 == 0 ? 7 : january4;  // [1, 7]
  uint32_t weeks = january1 == 4 || (january1 == 3 && leap) ? 53 : 52;
  return {4 - isoWeekday, weeks};
}

}  // namespace

int32_t IsoWeekOneOffset(uint32_t year) {
  if (year < 1601 || year > 9999) return -999;
  return WeekYearOf(DaysBeforeYear(year), IsLeapYear(static_cast<int32_t>(year))).weekOneOffset;
}

uint32_t IsoWeeksInYear(uint32_t year) {
  if (year < 1601 || year > 9999) return 52;
  return WeekYearOf(DaysBeforeYear(year), IsLeapYear(static_cast<int32_t>(year))).weeks;
}

int IsoWeekFromDate(int32_t year, uint32_t month, uint32_t day, uint32_t* isoYear, uint32_t* week, uint32_t* weekday) {
  if (!week || !weekday || month < 1 || month > 12) return -1;
  int leap = IsLeapYear(year);
  int32_t c = static_cast<int32_t>(DaysBeforeMonth[month][leap] + day) - 1;  // [0, 365]
  // One day count serves the year and the year before; outside 1601..9999 the year has
  // offset -999 and 52 weeks, as IsoWeekOneOffset and IsoWeeksInYear give them.
  bool inRange = year >= 1601 && year <= 9999;
  DayNumber daysBefore = inRange ? DaysBeforeYear(static_cast<uint32_t>(year)) : 0;
  WeekYear thisYear = inRange ? WeekYearOf(daysBefore, leap) : WeekYear{-999, 52};
  int32_t e = thisYear.weekOneOffset;  // [-3, 3]
  int32_t w = (c - e) / 7 + 1;
  uint32_t d = static_cast<uint32_t>((c - e + 7) % 7) + 1;
  int32_t y = year;
  if (w > static_cast<int32_t>(thisYear.weeks)) {
    y = year + 1, w = 1;
  } else if (c < e) {
    // Only a year in range has an offset above 0; the year before it may be 1600.
    int previousLeap = IsLeapYear(year - 1);
    y = year - 1;
    w = year > 1601 ? static_cast<int32_t>(WeekYearOf(daysBefore - 365 - previousLeap, previousLeap).weeks) : 52;
  }
  if (isoYear) *isoYear = static_cast<uint32_t>(y);
  *week = static_cast<uint32_t>(w);
  *weekday = d;
  return 0;
}

uint64_t FileTimeFromSystemTime(const SYSTEMTIME& t) {
  DayNumber n = DayNumberFromDate(t.wYear, t.wMonth, t.wDay);
  if (n < 0) return 0;
  uint64_t seconds = static_cast<uint64_t>(n - 1) * 86400 + t.wHour * 3600u + t.wMinute * 60u + t.wSecond;
  return seconds * 10000000 + t.wMilliseconds * 10000ull;
}

}  // namespace horalin
