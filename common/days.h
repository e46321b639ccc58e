// Days of the proleptic Gregorian calendar over 1601-01-01 (day 1) to 9999-12-31 (day
// 3067671): from a civil date to its day number and back, leap years, month lengths.
// Pure arithmetic and two constant tables, shared by the engine's calendar and the
// platform's zone tables.
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

// The operations that every formatted date needs are defined here, so that they compile
// into their callers.
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

// The weekday of a day number of 1 or more, 0 Sunday to 6 Saturday: day 1 was a Monday.
inline uint16_t WeekdayOfDay(DayNumber n) { return static_cast<uint16_t>(static_cast<uint32_t>(n) % 7); }

// The date of a day number 1 to 3067671; -1 outside that (outputs untouched).
int DateFromDayNumber(DayNumber n, uint32_t* year, uint32_t* month, uint32_t* day);
// The month (1 to 12) that holds day `dayOfYear` (1 to 366) of a year.
uint32_t MonthOfDayOfYear(uint32_t dayOfYear, int leap);

}  // namespace horalin
