// The directives of the format language, one row each. A numeric directive is a field
// with its width and padding (with and without "#") and the rule for its Roman value;
// a composite directive is a row of such fields and literal units; the rest name the
// locale, zone or text that they render. The format interpreter reads every directive
// here, both on its general way and on the plain way that writes straight into the
// output; adding a directive is adding a row.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace horalin {

// What a number shows: a field of the date and time, or a value computed from them.
enum class Field : uint8_t {
  Literal,         // no number: a composite's literal unit
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
  AmPm,            // a composite's AM or PM designator (user locale)
  MonthAbbrev,     // a composite's abbreviated month name, at most 15 units
};

// The value that "O" writes in Roman numerals.
enum class Roman : uint8_t {
  None,     // no Roman form: "O" leaves the decimal text
  Value,    // the value itself
  Hour24,   // the value, but 24 for hour 0
  Century,  // the value, or the value times 100 with "#"
};

enum class DirectiveKind : uint8_t {
  Number,         // one field: "?" and "O" apply
  Composite,      // fields and literal units in a row
  Percent,        // "%%" while doubling is on, else "%"
  WeekdayLetter,  // one of "UMTWRFS"
  Unit,           // one fixed unit
  AbbrevDayName,  // with "#" and "E", the first two units only
  DayName,
  AbbrevMonthName,
  MonthName,
  LocaleDateTime,   // short date ("#": long), a blank, the time
  LocaleDate,       // "#": long
  LocaleTime,       // "#": 24-hour form
  Designator,       // AM or PM
  LowerDesignator,  // the same in lower case
  UnixTime,         // signed seconds since 1970; "?" takes the last two digits
  Offset,           // +hhmm or -hhmm
  ZoneName,         // "#": the military letter
};

// A field of a composite directive, or a literal unit.
struct Piece {
  Field field;
  uint8_t width;     // digits at least: "%02u" is 2
  uint8_t altWidth;  // the same with "#"
  char16_t pad;      // u'0', or u' ' for "%2u"
  char16_t unit;     // the literal unit, for Field::Literal
};

struct Directive {
  char16_t c;
  DirectiveKind kind;
  Field field = Field::Literal;  // Number
  uint8_t width = 0;             // Number
  uint8_t altWidth = 0;
  char16_t pad = u'0';
  Roman roman = Roman::None;
  std::span<const Piece> pieces = {};     // Composite
  std::span<const Piece> altPieces = {};  // Composite with "#"
  char16_t unit = 0;                      // Unit
};

namespace directive_rows {

constexpr Piece Num(Field field, uint8_t width, uint8_t altWidth, char16_t pad = u'0') {
  return {field, width, altWidth, pad, 0};
}
constexpr Piece Lit(char16_t unit) { return {Field::Literal, 0, 0, u'0', unit}; }

inline constexpr Piece kMonthDayYear[] = {Num(Field::Month, 2, 0), Lit(u'/'), Num(Field::Day, 2, 0), Lit(u'/'),
                                          Num(Field::Year2, 2, 0)};
inline constexpr Piece kYearMonthDay[] = {Num(Field::Year, 0, 0), Lit(u'-'), Num(Field::Month, 2, 0), Lit(u'-'),
                                          Num(Field::Day, 2, 0)};
inline constexpr Piece kOrdinalDate[] = {Num(Field::Year, 4, 4), Lit(u'-'), Num(Field::DayOfYear, 3, 3)};
inline constexpr Piece kIsoWeekDate[] = {Num(Field::IsoYear, 4, 4), Lit(u'-'), Lit(u'W'),
                                         Num(Field::IsoWeek, 2, 2), Lit(u'-'), Num(Field::IsoWeekWeekday, 0, 0)};
inline constexpr Piece kHourMinute[] = {Num(Field::Hour, 2, 0), Lit(u':'), Num(Field::Minute, 2, 0)};
inline constexpr Piece kHourMinuteSecond[] = {Num(Field::Hour, 2, 0), Lit(u':'), Num(Field::Minute, 2, 0), Lit(u':'),
                                              Num(Field::Second, 2, 0)};
inline constexpr Piece kTwelveHourTime[] = {Num(Field::Hour12, 2, 2), Lit(u':'), Num(Field::Minute, 2, 2), Lit(u':'),
                                            Num(Field::Second, 2, 2), Lit(u' '), Num(Field::AmPm, 0, 0)};
inline constexpr Piece kDayMonthNameYear[] = {Num(Field::Day, 2, 0, u' '), Lit(u'-'), Num(Field::MonthAbbrev, 0, 0),
                                              Lit(u'-'), Num(Field::Year, 4, 0)};

constexpr Directive NumberRow(char16_t c, Field field, uint8_t width, uint8_t altWidth, char16_t pad, Roman roman) {
  return {.c = c,
          .kind = DirectiveKind::Number,
          .field = field,
          .width = width,
          .altWidth = altWidth,
          .pad = pad,
          .roman = roman};
}
constexpr Directive CompositeRow(char16_t c, std::span<const Piece> pieces, std::span<const Piece> altPieces) {
  return {.c = c, .kind = DirectiveKind::Composite, .pieces = pieces, .altPieces = altPieces};
}
constexpr Directive OtherRow(char16_t c, DirectiveKind kind, char16_t unit = 0) {
  return {.c = c, .kind = kind, .unit = unit};
}

using enum Field;
using K = DirectiveKind;
using R = Roman;

// clang-format off
inline constexpr Directive kDirectives[] = {
  //     char  field           width #width pad    Roman value
  NumberRow(u'C', Century,        2,    2,     u'0',  R::Century),
  NumberRow(u'd', Day,            2,    0,     u'0',  R::Value),
  NumberRow(u'e', Day,            2,    0,     u' ',  R::Value),
  NumberRow(u'g', IsoYear2,       2,    2,     u'0',  R::None),
  NumberRow(u'G', IsoYear,        4,    4,     u'0',  R::Value),
  NumberRow(u'H', Hour,           2,    0,     u'0',  R::Hour24),
  NumberRow(u'I', Hour12,         2,    0,     u'0',  R::Value),
  NumberRow(u'j', DayOfYear,      3,    0,     u'0',  R::Value),
  NumberRow(u'J', DayCount,       0,    0,     u'0',  R::None),
  NumberRow(u'k', Hour,           2,    0,     u' ',  R::Hour24),
  NumberRow(u'K', WeekdayFrom1,   0,    0,     u'0',  R::Value),
  NumberRow(u'l', Hour12,         2,    0,     u' ',  R::Value),
  NumberRow(u'L', Millisecond,    3,    0,     u'0',  R::None),
  NumberRow(u'm', Month,          2,    0,     u'0',  R::Value),
  NumberRow(u'M', Minute,         2,    0,     u'0',  R::None),
  NumberRow(u'N', CenturyOrdinal, 2,    2,     u'0',  R::Century),
  NumberRow(u'S', Second,         2,    0,     u'0',  R::None),
  NumberRow(u'u', IsoWeekday,     0,    0,     u'0',  R::Value),
  NumberRow(u'U', SundayWeek,     2,    0,     u'0',  R::None),
  NumberRow(u'V', IsoWeek,        2,    0,     u'0',  R::Value),
  NumberRow(u'w', Weekday,        0,    0,     u'0',  R::None),
  NumberRow(u'W', MondayWeek,     2,    0,     u'0',  R::None),
  NumberRow(u'y', Year2,          2,    0,     u'0',  R::None),
  NumberRow(u'Y', Year,           2,    2,     u'0',  R::Value),
  NumberRow(u'\u00C6', MonthLength, 0,  0,     u'0',  R::Value),  // Æ
  NumberRow(u'\u00E6', YearLength,  0,  0,     u'0',  R::Value),  // æ
  NumberRow(u'\u00E7', LeapYear,    0,  0,     u'0',  R::None),   // ç
  //        char  pieces              with "#"
  CompositeRow(u'D', kMonthDayYear,      kMonthDayYear),
  CompositeRow(u'F', kYearMonthDay,      kYearMonthDay),
  CompositeRow(u'Q', kOrdinalDate,       kIsoWeekDate),
  CompositeRow(u'r', kTwelveHourTime,    kTwelveHourTime),
  CompositeRow(u'R', kHourMinute,        kHourMinute),
  CompositeRow(u'T', kHourMinuteSecond,  kHourMinuteSecond),
  CompositeRow(u'v', kDayMonthNameYear,  kDayMonthNameYear),
  OtherRow(u'%', K::Percent),
  OtherRow(u'@', K::WeekdayLetter),
  OtherRow(u'n', K::Unit, u'\n'),
  OtherRow(u't', K::Unit, u'\t'),
  OtherRow(u'a', K::AbbrevDayName),
  OtherRow(u'A', K::DayName),
  OtherRow(u'b', K::AbbrevMonthName),
  OtherRow(u'h', K::AbbrevMonthName),
  OtherRow(u'B', K::MonthName),
  OtherRow(u'c', K::LocaleDateTime),
  OtherRow(u'x', K::LocaleDate),
  OtherRow(u'X', K::LocaleTime),
  OtherRow(u'p', K::Designator),
  OtherRow(u'P', K::LowerDesignator),
  OtherRow(u's', K::UnixTime),
  OtherRow(u'z', K::Offset),
  OtherRow(u'Z', K::ZoneName),
};
// clang-format on

}  // namespace directive_rows

using directive_rows::kDirectives;

// Whether a directive is computed from the date and time alone (or with the zone's state
// there), so that without modifiers it may go straight into the output.
constexpr bool IsPlainDirective(const Directive& d) {
  switch (d.kind) {
    case DirectiveKind::Number:
    case DirectiveKind::Percent:
    case DirectiveKind::WeekdayLetter:
    case DirectiveKind::Unit:
    case DirectiveKind::UnixTime:
    case DirectiveKind::Offset:
    case DirectiveKind::ZoneName: return true;
    case DirectiveKind::Composite:
      for (const Piece& p : d.pieces)
        if (p.field == Field::AmPm || p.field == Field::MonthAbbrev) return false;
      return true;
    default: return false;
  }
}

// The row of each character below U+0100 that is a directive, and whether it is plain.
struct DirectiveIndex {
  uint8_t row;  // row + 1; 0: no directive
  bool plain;
};
inline constexpr auto kDirectiveIndex = [] {
  std::array<DirectiveIndex, 256> index{};
  for (size_t i = 0; i < std::size(kDirectives); ++i)
    index[kDirectives[i].c] = {static_cast<uint8_t>(i + 1), IsPlainDirective(kDirectives[i])};
  return index;
}();

// The row of directive character `c`, or null when `c` renders as itself.
inline const Directive* FindDirective(char16_t c) {
  unsigned row = c < kDirectiveIndex.size() ? kDirectiveIndex[c].row : 0;
  return row ? &kDirectives[row - 1] : nullptr;
}

// The same for a plain directive only.
inline const Directive* FindPlainDirective(char16_t c) {
  if (c >= kDirectiveIndex.size() || !kDirectiveIndex[c].plain) return nullptr;
  return &kDirectives[kDirectiveIndex[c].row - 1];
}

}  // namespace horalin
