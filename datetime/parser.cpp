#include "datetime/parser.h"

#include <iterator>
#include <utility>

#include "common/text.h"
#include "datetime/calendar.h"
#include "datetime/instant.h"

namespace horalin {

namespace {

constexpr uint32_t kFirstYear = 1601;
constexpr uint32_t kLastYear = 9999;

// Numbers are runs of the ASCII digits 0 to 9 only: other scripts' decimal digits are
// not read as numbers, so a date never depends on the locale's digit classes.
bool IsNumberDigit(char16_t c) { return IsAsciiDigit(c); }

// The decimal number at `p`: false when no digit stands there or the value does not fit
// in 32 bits (then `end` is not written). Leading zeros are allowed.
bool ReadNumber(const char16_t* p, uint32_t* value, const char16_t** end) {
  if (!IsNumberDigit(*p)) return false;
  // Numbers of one or two digits, most fields, are read without the loop.
  uint32_t first = static_cast<uint32_t>(p[0] - u'0');
  if (!IsNumberDigit(p[1])) {
    *value = first;
    *end = p + 1;
    return true;
  }
  uint32_t two = first * 10 + static_cast<uint32_t>(p[1] - u'0');
  if (!IsNumberDigit(p[2])) {
    *value = two;
    *end = p + 2;
    return true;
  }
  constexpr uint64_t kTooLarge = uint64_t{UINT32_MAX} + 1;  // held there once reached
  uint64_t v = two;
  for (p += 2; IsNumberDigit(*p); ++p) {
    v = v * 10 + static_cast<uint32_t>(*p - u'0');
    if (v > kTooLarge) v = kTooLarge;
  }
  if (v == kTooLarge) return false;
  *value = static_cast<uint32_t>(v);
  *end = p;
  return true;
}

// One marker letter ("W", "T", "Z", "U", "C") in either case. For these letters the
// comparison of ASCII cases is what towupper gives: no other character maps onto them.
bool IsMarker(char16_t c, char16_t upper) { return c == upper || c == upper + (u'a' - u'A'); }

uint16_t Field(uint32_t value) { return static_cast<uint16_t>(value); }

// Month and day of day `dayOfYear` (1 to 366) of a year.
void SetDayOfYear(SYSTEMTIME* t, uint32_t dayOfYear) {
  int leap = IsLeapYear(t->wYear);
  uint32_t month = MonthOfDayOfYear(dayOfYear, leap);
  t->wMonth = Field(month);
  t->wDay = Field(dayOfYear - DaysBeforeMonth[month][leap]);
  t->wDayOfWeek = WeekdayOfDay(DayNumberFromDate(t->wYear, t->wMonth, t->wDay));
}

struct Parse {
  const char16_t* p;  // the character being read
  SYSTEMTIME* t;
  ParseError* error;  // null: not asked for
  DayNumber day = 0;  // of the date read by the log form, whose fields are then valid; 0: not
};

// Describes the fault: its message with up to four numbers, and the character that the
// caret display points at (null for none). Returns `code`.
int32_t Fail(Parse& s, int32_t code, const char16_t* caret, const char16_t* message, uint32_t v0 = 0, uint32_t v1 = 0,
             uint32_t v2 = 0, uint32_t v3 = 0) {
  if (s.error) *s.error = ParseError{message, {v0, v1, v2, v3}, caret};
  return code;
}

// "YYYY-Www-D" after the hyphen, with `p` at the "W".
int32_t ReadWeekDate(Parse& s) {
  uint32_t year = s.t->wYear, week, weekday;
  const char16_t* digits = ++s.p;
  if (!ReadNumber(digits, &week, &s.p)) return Fail(s, kParseWeek, digits, u"Bad week number\r\n");
  uint32_t weeks = IsoWeeksInYear(year);
  if (week == 0 || week > weeks)
    return Fail(s, kParseWeek, nullptr, u"Week number must be 1 - %u: %u\r\n", weeks, week);
  if (*s.p != u'-') return Fail(s, kParseWeek, s.p, u"Syntax error (expected a hyphen)\r\n");
  ++s.p;
  if (!ReadNumber(s.p, &weekday, &s.p)) return Fail(s, kParseWeekday, s.p, u"Bad day number\r\n");
  if (weekday == 0 || weekday > 7) return Fail(s, kParseWeekday, nullptr, u"Day number must be 1 - 7: %u\r\n", weekday);

  // Day of the calendar year; below 1 in the December before, beyond the year's end in
  // the January after.
  int32_t d = IsoWeekOneOffset(year) + 7 * static_cast<int32_t>(week - 1) + static_cast<int32_t>(weekday);
  uint32_t calendarYear = year, month, day;
  if (d < 1) {
    calendarYear = year - 1, month = 12, day = static_cast<uint32_t>(d + 31);
  } else {
    int leap = IsLeapYear(static_cast<int32_t>(year));
    month = MonthOfDayOfYear(static_cast<uint32_t>(d), leap);
    day = static_cast<uint32_t>(d) - DaysBeforeMonth[month][leap];
    if (month == 12 && day > 31) calendarYear = year + 1, month = 1, day -= 31;
  }
  if (calendarYear < kFirstYear || calendarYear > kLastYear) {
    return Fail(s, kParseWeekDateRange, nullptr,
                u"Date out of range: %u-W%02u-%u \r\n   (Calendar year would be %u)\r\n", year, week, weekday,
                calendarYear);
  }
  s.t->wYear = Field(calendarYear);
  s.t->wMonth = Field(month);
  s.t->wDay = Field(day);
  s.t->wDayOfWeek = Field(weekday % 7);
  return 0;
}

// "YYYY-MM-DD" or "YYYY-DDD" after the hyphen, with `p` after it.
int32_t ReadCalendarOrOrdinalDate(Parse& s) {
  const char16_t* afterHyphen = s.p;
  uint32_t n;
  if (!ReadNumber(s.p, &n, &s.p)) return Fail(s, kParseMonth, afterHyphen, u"Bad month\r\n");
  int leap = IsLeapYear(s.t->wYear);
  if (*s.p == u'-') {
    if (n == 0 || n > 12) return Fail(s, kParseMonth, nullptr, u"Month must be 1 - 12: %u\r\n", n);
    s.t->wMonth = Field(n);
    const char16_t* dayStart = ++s.p;
    uint32_t day;
    if (!ReadNumber(s.p, &day, &s.p)) return Fail(s, kParseDay, dayStart, u"Bad day\r\n");
    uint32_t length = DaysInMonth[n][leap];
    if (day == 0 || day > length) return Fail(s, kParseDay, nullptr, u"Day must be 1 - %u: %u\r\n", length, day);
    s.t->wDay = Field(day);
    s.t->wDayOfWeek = WeekdayOfDay(DayNumberFromDate(s.t->wYear, n, day));
    return 0;
  }
  uint32_t daysInYear = 365u + static_cast<uint32_t>(leap);
  if (n == 0 || n > daysInYear)
    return Fail(s, kParseDayOfYear, nullptr, u"Day number is 1 - %u: %u\r\n", daysInYear, n);
  SetDayOfYear(s.t, n);
  return 0;
}

// The year, its hyphen and the rest of an absolute date.
int32_t ReadDate(Parse& s) {
  uint32_t year;
  if (!ReadNumber(s.p, &year, &s.p)) return Fail(s, kParseYear, s.p, u"Bad year\r\n");
  if (year < kFirstYear || year > kLastYear)
    return Fail(s, kParseYear, nullptr, u"Year must be %u - %u: %u\r\n", kFirstYear, kLastYear, year);
  if (*s.p != u'-') return Fail(s, kParseYear, s.p, u"Syntax error (expected a hyphen)\r\n");
  s.t->wYear = Field(year);
  ++s.p;
  if (IsMarker(s.p[0], u'W') && IsNumberDigit(s.p[1])) return ReadWeekDate(s);
  return ReadCalendarOrOrdinalDate(s);
}

// An optional time of day: "T" directly before the hour, or white space (or nothing).
int32_t ReadTime(Parse& s) {
  if (IsMarker(*s.p, u'T') && IsNumberDigit(s.p[1]))
    ++s.p;
  else
    s.p = SkipWhiteSpace(s.p);
  if (!IsNumberDigit(*s.p)) return 0;

  uint32_t hour, minute, second;
  const char16_t* hourStart = s.p;
  if (!ReadNumber(s.p, &hour, &s.p)) return Fail(s, kParseHour, hourStart, u"Bad hour\r\n");
  if (hour > 23) return Fail(s, kParseHour, nullptr, u"Hour must be 0 - 23: %u\r\n", hour);
  if (*s.p != u':') return Fail(s, kParseHour, s.p, u"Syntax error (expected a colon)\r\n");
  s.t->wHour = Field(hour);

  ++s.p;
  if (!ReadNumber(s.p, &minute, &s.p)) return Fail(s, kParseMinute, s.p, u"Bad minute\r\n");
  if (minute > 59) return Fail(s, kParseMinute, nullptr, u"Minute must be 0 - 59: %u\r\n", minute);
  s.t->wMinute = Field(minute);

  if (*s.p != u':') return 0;
  ++s.p;
  if (!ReadNumber(s.p, &second, &s.p)) return Fail(s, kParseSecond, s.p, u"Bad second\r\n");
  if (second > 59) return Fail(s, kParseSecond, nullptr, u"Second must be 0 - 59: %u\r\n", second);
  s.t->wSecond = Field(second);

  if (*s.p != u'.') return 0;
  ++s.p;
  // Milliseconds from the first three digits; further digits are passed over (truncation).
  uint32_t milliseconds = 0, scale = 100;
  for (; IsNumberDigit(*s.p); ++s.p, scale /= 10) milliseconds += static_cast<uint32_t>(*s.p - u'0') * scale;
  s.t->wMilliseconds = Field(milliseconds);
  return 0;
}

// An optional "Z" or "UTC" (either case) after optional white space.
bool ReadZone(Parse& s) {
  s.p = SkipWhiteSpace(s.p);
  if (IsMarker(s.p[0], u'Z')) {
    ++s.p;
    return true;
  }
  if (IsMarker(s.p[0], u'U') && IsMarker(s.p[1], u'T') && IsMarker(s.p[2], u'C')) {
    s.p += 3;
    return true;
  }
  return false;
}

// "YYYY-MM-DD hh:mm:ss", with a blank or "T" between date and time, as logs write it.
constexpr char16_t kLogForm[] = u"0000-00-00 00:00:00";  // 0: a digit
constexpr size_t kLogFormLength = std::size(kLogForm) - 1;

// Whether unit I fits the form; a digit's value goes to `digit`.
template <size_t I>
bool FitsLogForm(char16_t c, uint32_t& digit) {
  if constexpr (kLogForm[I] == u'0') {
    digit = static_cast<uint32_t>(c) - u'0';
    return digit < 10;
  } else if constexpr (I == 10) {
    return c == u' ' || IsMarker(c, u'T');
  } else {
    return c == kLogForm[I];
  }
}

// Whether the text fits the form, unit by unit in order: a unit is read only once those
// before it fit, so the reading stops at the terminator of a shorter text.
template <size_t... I>
bool FitsLogForm(const char16_t* p, uint32_t (&digits)[kLogFormLength], std::index_sequence<I...>) {
  return (FitsLogForm<I>(p[I], digits[I]) && ...);
}

// The log form read by position. It takes only text that the general way reads the same,
// to the same end, with valid fields; the rest is left to the general way, which also
// tells what is wrong.
bool ReadLogForm(Parse& s) {
  const char16_t* p = s.p;
  uint32_t d[kLogFormLength];
  if (!FitsLogForm(p, d, std::make_index_sequence<kLogFormLength>())) return false;
  // More digits would belong to the seconds, a point to the milliseconds.
  if (IsNumberDigit(p[kLogFormLength]) || p[kLogFormLength] == u'.') return false;
  const uint32_t year = ((d[0] * 10 + d[1]) * 10 + d[2]) * 10 + d[3], month = d[5] * 10 + d[6], day = d[8] * 10 + d[9],
                 hour = d[11] * 10 + d[12], minute = d[14] * 10 + d[15], second = d[17] * 10 + d[18];
  if (year < kFirstYear || month < 1 || month > 12 || day < 1) return false;
  const int leap = IsLeapYear(static_cast<int32_t>(year));
  if (day > DaysInMonth[month][leap] || hour > 23 || minute > 59 || second > 59) return false;
  const DayNumber dayNumber = DayNumberOfValidDate(year, month, day);
  *s.t = SYSTEMTIME{Field(year), Field(month),  WeekdayOfDay(dayNumber), Field(day),
                    Field(hour), Field(minute), Field(second),           0};
  s.p = p + kLogFormLength;
  s.day = dayNumber;
  return true;
}

// Today (by the UTC or the local clock) plus `offset` days, into the date fields.
int32_t ResolveOffset(Parse& s, int32_t offset, bool utc, const Services& services) {
  DateTime now;
  if (!DateTimeAt(services.now(), utc, services, &now))
    return Fail(s, kParseOffsetRange, nullptr, u"Date out of range\r\n");
  const SYSTEMTIME& today = now.local;
  int64_t n = static_cast<int64_t>(DayNumberFromDate(today.wYear, today.wMonth, today.wDay)) + offset;
  if (n < kFirstDay || n > kLastDay)
    return offset >= 0
               ? Fail(s, kParseOffsetRange, nullptr, u"Date out of range: +%u\r\n", static_cast<uint32_t>(offset))
               : Fail(s, kParseOffsetRange, nullptr, u"Date out of range: -%u\r\n", 0u - static_cast<uint32_t>(offset));
  uint32_t year, month, day;
  DateFromDayNumber(static_cast<DayNumber>(n), &year, &month, &day);
  s.t->wYear = Field(year);
  s.t->wMonth = Field(month);
  s.t->wDay = Field(day);
  s.t->wDayOfWeek = WeekdayOfDay(static_cast<DayNumber>(n));
  return 0;
}

// The date and time read, or the clock's now, as one record: a local time through the
// one resolver.
int32_t MakeRecord(Parse& s, bool now, bool utc, const Services& services, DateTime* out) {
  const uint32_t nanoseconds = uint32_t{s.t->wMilliseconds} * 1000000;
  const bool made = now          ? DateTimeAt(services.now(), utc, services, out)
                    : s.day != 0 ? ResolveValidLocalTime(*s.t, s.day, nanoseconds, utc, services, out)
                                 : ResolveLocalTime(*s.t, nanoseconds, utc, services, out);
  return made ? 0 : Fail(s, kParseYear, nullptr, u"Date and time out of range\r\n");
}

}  // namespace

int32_t ParseDateTime(const char16_t* text, DateTime* dateTime, const char16_t** end, int32_t* utc, ParseError* error,
                      const Services& services) {
  if (!dateTime || !text) return -1;
  SYSTEMTIME fields{};
  Parse s{text, &fields, error};
  bool inUtc = false, now = false;

  if (*s.p == u'*') {
    ++s.p;
    now = true;
    if (*s.p == u'*') {
      ++s.p;
      inUtc = true;
    }
  } else if (ReadLogForm(s)) {
    inUtc = *s.p != 0 && ReadZone(s);  // a line of its own, the usual case, has nothing more
  } else {
    bool relative = false;
    int32_t offset = 0;
    if (s.p[0] == u'+' && s.p[1] == u'-' && IsNumberDigit(s.p[2])) ++s.p;  // "+-3" reads as "-3"
    if ((s.p[0] == u'+' || s.p[0] == u'-') && IsNumberDigit(s.p[1])) {
      const char16_t* sign = s.p;
      if (ParseSignedNumber(sign, &offset, &s.p) != 0) return Fail(s, kParseOffset, sign, u"Bad date offset\r\n");
      relative = true;
    } else if (int32_t result = ReadDate(s)) {
      return result;
    }
    if (int32_t result = ReadTime(s)) return result;
    inUtc = ReadZone(s);
    if (relative)
      if (int32_t result = ResolveOffset(s, offset, inUtc, services)) return result;
  }
  if (int32_t result = MakeRecord(s, now, inUtc, services, dateTime)) return result;

  s.p = SkipWhiteSpace(s.p);
  if (end) *end = s.p;
  if (utc) *utc = inUtc ? 1 : 0;
  return 0;
}

}  // namespace horalin
