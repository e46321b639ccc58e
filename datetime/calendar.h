// The proleptic Gregorian calendar over 1601-01-01 (day 1) to 9999-12-31 (day
// 3067671), and ISO 8601 week dates. Pure arithmetic and two constant tables.
#pragma once

#include <cstdint>

#include "common/types.h"

namespace horalin {

inline constexpr DayNumber kFirstDay = 1;           // 1601-01-01, a Monday
inline constexpr DayNumber kLastDay = 3067671;      // 9999-12-31, a Friday
inline constexpr DayNumber kUnixEpochDay = 134775;  // 1970-01-01

// Indexed [month 0..13][leap 0..1]; rows 0 and 13 are zero, which stops month scans.
extern const uint32_t DaysInMonth[14][2];
extern const uint32_t DaysBeforeMonth[14][2];

// The three operations that every formatted date needs are defined here, so that they
// compile into their callers.
inline int IsLeapYear(int32_t year) {
  // Divisible by 4, and not by 100 unless by 400; of a year divisible by 100, being
  // divisible by 400 is being divisible by 16. Without branches, which random years
  // would mispredict.
  return static_cast<int>(((year & 3) == 0) & ((year % 100 != 0) | ((year & 15) == 0)));
}

// Days before 1 January of a year in 1601..9999. Counting from 1601, the first year of
// a 400-year cycle, makes the leap-day count exact.
inline DayNumber DaysBeforeYear(uint32_t year) {
  uint32_t y = year - 1601;  // [0, 8398]
  return static_cast<DayNumber>(365 * y + y / 4 - y / 100 + y / 400);
}

// The day number of a date known to be valid, without checks.
inline DayNumber DayNumberOfValidDate(uint32_t year, uint32_t month, uint32_t day) {
  return DaysBeforeYear(year) +
         static_cast<DayNumber>(DaysBeforeMonth[month][IsLeapYear(static_cast<int32_t>(year))] + day);
}

// The day number of a date, or -1 when it is not a date within 1601 to 9999.
inline DayNumber DayNumberFromDate(uint32_t year, uint32_t month, uint32_t day) {
  if (year < 1601 || year > 9999 || month < 1 || month > 12) return -1;
  if (day < 1 || day > DaysInMonth[month][IsLeapYear(static_cast<int32_t>(year))]) return -1;
  return DayNumberOfValidDate(year, month, day);
}
// The date of a day number 1 to 3067671; -1 above that (outputs untouched).
int DateFromDayNumber(DayNumber n, uint32_t* year, uint32_t* month, uint32_t* day);
// The month (1 to 12) that holds day `dayOfYear` (1 to 366) of a year.
uint32_t MonthOfDayOfYear(uint32_t dayOfYear, int leap);
// Offset in days from 1 January of the Monday that begins ISO week 1 (-3 to 3);
// -999 outside 1601 to 9999.
int32_t IsoWeekOneOffset(uint32_t year);
// 52 or 53; 52 outside 1601 to 9999.
uint32_t IsoWeeksInYear(uint32_t year);
// The ISO week-based year, week (1 to 53) and weekday (1 Monday to 7 Sunday) of a valid
// date. -1 when the week or weekday output is missing, or for a month outside 1 to 12
// (the day is not checked).
int IsoWeekFromDate(int32_t year, uint32_t month, uint32_t day, uint32_t* isoYear, uint32_t* week, uint32_t* weekday);

// File time: 100-nanosecond units since 1601-01-01 00:00:00 UTC.
uint64_t FileTimeFromSystemTime(const SYSTEMTIME& time);
// The UTC date and time of a file time; one beyond 9999-12-31 keeps its time of day on
// that day.
SYSTEMTIME SystemTimeFromFileTime(uint64_t fileTime);

}  // namespace horalin
