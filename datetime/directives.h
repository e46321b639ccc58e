// The directives of the format language, one row each. A numeric directive is a field
// (datetime/calendar.h) with its width and padding (with and without "#") and the rule
// for its Roman value; a composite directive is a row of such fields and literal units;
// the rest name the locale, zone or text that they render. The format interpreter
// compiles the writer of each directive from its row here; adding a directive is adding
// a row.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "datetime/calendar.h"

namespace horalin {

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

enum class PieceKind : uint8_t {
  Number,       // a field
  Literal,      // one unit
  Designator,   // the AM or PM designator (user locale)
  MonthAbbrev,  // the abbreviated month name ("E": English), at most 15 units
};

// A field of a composite directive, a literal unit, or a locale text.
struct Piece {
  PieceKind kind;
  Field field;       // Number
  uint8_t width;     // digits at least: "%02u" is 2
  uint8_t altWidth;  // the same with "#"
  char16_t pad;      // u'0', or u' ' for "%2u"
  char16_t unit;     // Literal
};

struct Directive {
  char16_t c;
  DirectiveKind kind;
  Field field = Field::Year;  // Number
  uint8_t width = 0;          // Number
  uint8_t altWidth = 0;
  char16_t pad = u'0';
  Roman roman = Roman::None;
  std::span<const Piece> pieces = {};     // Composite
  std::span<const Piece> altPieces = {};  // Composite with "#"
  char16_t unit = 0;                      // Unit
};

namespace directive_rows {

constexpr Piece Num(Field field, uint8_t width, uint8_t altWidth, char16_t pad = u'0') {
  return {PieceKind::Number, field, width, altWidth, pad, 0};
}
constexpr Piece Lit(char16_t unit) { return {PieceKind::Literal, Field::Year, 0, 0, u'0', unit}; }
constexpr Piece Text(PieceKind kind) { return {kind, Field::Year, 0, 0, u'0', 0}; }

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
inline constexpr Piece kTwelveHourTime[] = {Num(Field::Hour12, 2, 2), Lit(u':'), Num(Field::Minute, 2, 2),   Lit(u':'),
                                            Num(Field::Second, 2, 2), Lit(u' '), Text(PieceKind::Designator)};
inline constexpr Piece kDayMonthNameYear[] = {Num(Field::Day, 2, 0, u' '), Lit(u'-'), Text(PieceKind::MonthAbbrev),
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
  NumberRow(u'f', Microsecond,    6,    0,     u'0',  R::None),
  NumberRow(u'i', Nanosecond,     9,    0,     u'0',  R::None),
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

// Whether a directive's text is computed from the date and time (and the zone's state
// there) alone, without the locale: such a text is short (at most 32 units, whatever its
// modifiers; see format.cpp), while a locale's text may fill a work buffer.
constexpr bool IsShortDirective(const Directive& d) {
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
        if (p.kind == PieceKind::Designator || p.kind == PieceKind::MonthAbbrev) return false;
      return true;
    default: return false;
  }
}

// Every directive character lies below U+0100 and has one row: the interpreter finds the
// rows by the character, in tables of 256 entries.
static_assert([] {
  for (size_t i = 0; i < std::size(kDirectives); ++i) {
    if (kDirectives[i].c >= 0x100) return false;
    for (size_t j = 0; j < i; ++j)
      if (kDirectives[j].c == kDirectives[i].c) return false;
  }
  return true;
}());

}  // namespace horalin
