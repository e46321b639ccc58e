// The calendar of the engine: ISO 8601 week dates, the fields that a formatted date and
// time shows, and file times, over the day numbers of common/days.h. Pure arithmetic.
#pragma once

#include <cstdint>

#include "common/days.h"
#include "common/types.h"

namespace horalin {

// Offset in days from 1 January of the Monday that begins ISO week 1 (-3 to 3);
// -999 outside 1601 to 9999.
int32_t IsoWeekOneOffset(uint32_t year);
// 52 or 53; 52 outside 1601 to 9999.
uint32_t IsoWeeksInYear(uint32_t year);
// The ISO week-based year, week (1 to 53) and weekday (1 Monday to 7 Sunday) of a valid
// date. -1 when the week or weekday output is missing, or for a month outside 1 to 12
// (the day is not checked).
int IsoWeekFromDate(int32_t year, uint32_t month, uint32_t day, uint32_t* isoYear, uint32_t* week, uint32_t* weekday);

// ---- The fields of a date and time -------------------------------------------------

// What a number of a formatted date and time shows: a field of it, or a value computed
// from its fields.
enum class Field : uint8_t {
  Year,            // wYear
  Year2,           // wYear modulo 100
  Century,         // wYear / 100
  CenturyOrdinal,  // (wYear + 99) / 100: 2000 is in the 20th century
  Month,           // 1 to 12
  Day,             // 1 to 31
  DayOfYear,       // 1 to 366
  DayCount,        // the DayNumber: 1 for 1601-01-01; 0 for no valid date
  Hour,            // 0 to 23
  Hour12,          // 12, 1 to 11
  Minute,          // 0 to 59
  Second,          // 0 to 59
  Millisecond,     // 0 to 999
  Microsecond,     // 0 to 999,999: the fraction of the second in microseconds
  Nanosecond,      // 0 to 999,999,999: the same in nanoseconds
  Weekday,         // 0 Sunday to 6 Saturday
  WeekdayFrom1,    // 1 Sunday to 7 Saturday
  IsoWeekday,      // 1 Monday to 7 Sunday, from the weekday field
  IsoYear,         // the ISO week-based year
  IsoYear2,        // the same modulo 100
  IsoWeek,         // 1 to 53
  IsoWeekWeekday,  // 1 Monday to 7 Sunday, from the ISO week date (0 for no valid date)
  SundayWeek,      // week of the year, weeks from Sunday, 0 to 53
  MondayWeek,      // week of the year, weeks from Monday, 0 to 53
  MonthLength,     // 28 to 31
  YearLength,      // 365 or 366
  LeapYear,        // 1 or 0
};

// Whether every field holds what a date and time may: a date of 1601 to 9999, a weekday,
// a time of day. The fields of such a date and time need no checks.
// Every range is one unsigned comparison (a field below its first value wraps around),
// and they are taken together without a branch; the month's length is looked up only for
// the days past the 28th, which every month has.
inline bool IsValidDateTime(const SYSTEMTIME& t) {
  const bool ranges = (t.wYear - 1601u <= 9999u - 1601u) & (t.wMonth - 1u < 12u) & (t.wDay - 1u < 31u) &
                      (t.wDayOfWeek <= 6u) & (t.wHour <= 23u) & (t.wMinute <= 59u) & (t.wSecond <= 59u) &
                      (t.wMilliseconds <= 999u);
  return ranges && (t.wDay <= 28u || t.wDay <= DaysInMonth[t.wMonth][IsLeapYear(t.wYear)]);
}

// A date and time read field by field. The ISO week date is worked out once, for the
// first field that needs it. Fields outside a valid date and time (month 0 or 14, a
// weekday of 9) give nonsense, but never an index outside a table.
struct DateFields {
  const SYSTEMTIME& time;
  bool valid;            // IsValidDateTime(time)
  uint32_t nanoseconds;  // within the second: the instant's, finer than wMilliseconds
  bool isoTaken = false;
  uint32_t isoYear = 0, isoWeek = 0, isoWeekday = 0;  // 0 for no valid date
};

inline unsigned MonthRow(const SYSTEMTIME& t) { return t.wMonth <= 13 ? t.wMonth : 0; }  // [0, 13]
inline unsigned WeekdayOf(const SYSTEMTIME& t) { return t.wDayOfWeek % 7u; }             // [0, 6]
inline uint32_t DayOfYear(const SYSTEMTIME& t) { return DaysBeforeMonth[MonthRow(t)][IsLeapYear(t.wYear)] + t.wDay; }
// Week of the year with weeks from Sunday (firstDay 0) or Monday (firstDay 1): the days
// before the year's first such day fall in week 0.
uint32_t WeekOfYear(const SYSTEMTIME& t, unsigned firstDay);
// Fills the ISO week date of `f` unless it is there already.
void TakeIsoWeek(DateFields& f);

// The value of a field; defined here so that it compiles into the format interpreter.
inline uint32_t FieldValue(DateFields& f, Field field) {
  const SYSTEMTIME& t = f.time;
  switch (field) {
    case Field::Year: return t.wYear;
    case Field::Year2: return t.wYear % 100u;
    case Field::Century: return t.wYear / 100u;
    case Field::CenturyOrdinal: return (t.wYear + 99u) / 100;
    case Field::Month: return t.wMonth;
    case Field::Day: return t.wDay;
    case Field::DayOfYear: return DayOfYear(t);
    case Field::DayCount: {
      DayNumber n = DayNumberFromDate(t.wYear, t.wMonth, t.wDay);
      return n > 0 ? static_cast<uint32_t>(n) : 0;
    }
    case Field::Hour: return t.wHour;
    case Field::Hour12: return t.wHour % 12 == 0 ? 12 : t.wHour % 12u;
    case Field::Minute: return t.wMinute;
    case Field::Second: return t.wSecond;
    case Field::Millisecond: return t.wMilliseconds;
    case Field::Microsecond: return f.nanoseconds / 1000;
    case Field::Nanosecond: return f.nanoseconds;
    case Field::Weekday: return WeekdayOf(t);
    case Field::WeekdayFrom1: return WeekdayOf(t) + 1;
    case Field::IsoWeekday: return WeekdayOf(t) ? WeekdayOf(t) : 7;
    case Field::IsoYear: TakeIsoWeek(f); return f.isoYear;
    case Field::IsoYear2: TakeIsoWeek(f); return f.isoYear % 100;
    case Field::IsoWeek: TakeIsoWeek(f); return f.isoWeek;
    case Field::IsoWeekWeekday: TakeIsoWeek(f); return f.isoWeekday;
    case Field::SundayWeek: return WeekOfYear(t, 0);
    case Field::MondayWeek: return WeekOfYear(t, 1);
    case Field::MonthLength: return DaysInMonth[MonthRow(t)][IsLeapYear(t.wYear)];
    case Field::YearLength: return 365u + static_cast<uint32_t>(IsLeapYear(t.wYear));
    case Field::LeapYear: return static_cast<uint32_t>(IsLeapYear(t.wYear));
  }
  return 0;
}

// Seconds from 1970-01-01 00:00:00 to the date and time, both read on one clock: the
// Unix time of a UTC date and time. A date that is none counts as the day before 1601.
inline int64_t SecondsSince1970(const DateFields& f) {
  const SYSTEMTIME& t = f.time;
  const DayNumber day = f.valid ? DayNumberOfValidDate(t.wYear, t.wMonth, t.wDay)
                                : DayNumberFromDate(t.wYear, t.wMonth, t.wDay);  // [-1, 3067671]
  return (int64_t{day} - kUnixEpochDay) * 86400 + int64_t{t.wHour} * 3600 + int64_t{t.wMinute} * 60 + t.wSecond;
}

// File time: 100-nanosecond units since 1601-01-01 00:00:00 UTC.
uint64_t FileTimeFromSystemTime(const SYSTEMTIME& time);
// The UTC date and time of a file time; one beyond 9999-12-31 keeps its time of day on
// that day.
SYSTEMTIME SystemTimeFromFileTime(uint64_t fileTime);

}  // namespace horalin
