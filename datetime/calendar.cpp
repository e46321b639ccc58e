#include "datetime/calendar.h"

namespace horalin {

namespace {

// The ISO week structure of a year in 1601..9999, from the day number of the day before
// its 1 January and its leap indicator.
struct WeekYear {
  int32_t weekOneOffset;  // [-3, 3]
  uint32_t weeks;         // 52 or 53
};

// Indexed by the weekday of 1 January, 0 Sunday: week 1 is the week of 4 January, so
// its Monday is 4 January less the ISO weekday of 4 January (1 Monday to 7 Sunday) plus
// one, counted from 1 January.
constexpr int32_t kWeekOneOffset[7] = {1, 0, -1, -2, -3, 3, 2};

WeekYear WeekYearOf(DayNumber daysBefore, int leap) {
  uint32_t january1 = static_cast<uint32_t>(daysBefore + 1) % 7;  // weekday, 0 Sunday
  // 53 weeks when 1 January is a Thursday, or a Wednesday in a leap year.
  uint32_t weeks = 52 + static_cast<uint32_t>((january1 == 4) | ((january1 == 3) & (leap != 0)));
  return {kWeekOneOffset[january1], weeks};
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

uint32_t WeekOfYear(const SYSTEMTIME& t, unsigned firstDay) {
  DayNumber first = DayNumberFromDate(t.wYear, 1, 1);
  unsigned j1 = first > 0 ? static_cast<unsigned>(first) % 7 : 0;  // weekday of 1 January, 0 Sunday
  return ((j1 + 7 - firstDay - 1) % 7 + DayOfYear(t)) / 7;
}

void TakeIsoWeek(DateFields& f) {
  if (f.isoTaken) return;
  f.isoTaken = true;
  const SYSTEMTIME& t = f.time;
  if (f.valid || DayNumberFromDate(t.wYear, t.wMonth, t.wDay) > 0)
    IsoWeekFromDate(t.wYear, t.wMonth, t.wDay, &f.isoYear, &f.isoWeek, &f.isoWeekday);
}

uint64_t FileTimeFromSystemTime(const SYSTEMTIME& t) {
  DayNumber n = DayNumberFromDate(t.wYear, t.wMonth, t.wDay);
  if (n < 0) return 0;
  uint64_t seconds =
      static_cast<uint64_t>(n - 1) * 86400 + uint64_t{t.wHour} * 3600 + uint64_t{t.wMinute} * 60 + t.wSecond;
  return seconds * 10000000 + t.wMilliseconds * 10000ull;
}

SYSTEMTIME SystemTimeFromFileTime(uint64_t fileTime) {
  uint64_t seconds = fileTime / 10000000;
  uint64_t days = seconds / 86400;
  DayNumber day = days >= static_cast<uint64_t>(kLastDay) ? kLastDay : static_cast<DayNumber>(days) + 1;
  uint32_t secondOfDay = static_cast<uint32_t>(seconds % 86400);  // [0, 86399]
  uint32_t year = 9999, month = 12, dayOfMonth = 31;
  DateFromDayNumber(day, &year, &month, &dayOfMonth);
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(year);
  t.wMonth = static_cast<uint16_t>(month);
  t.wDayOfWeek = WeekdayOfDay(day);
  t.wDay = static_cast<uint16_t>(dayOfMonth);
  t.wHour = static_cast<uint16_t>(secondOfDay / 3600);
  t.wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
  t.wSecond = static_cast<uint16_t>(secondOfDay % 60);
  t.wMilliseconds = static_cast<uint16_t>(fileTime / 10000 % 1000);
  return t;
}

}  // namespace horalin
