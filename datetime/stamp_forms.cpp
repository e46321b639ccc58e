#include "datetime/stamp_forms.h"

#include <array>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "common/text.h"
#include "common/words.h"
#include "datetime/calendar.h"
#include "datetime/directives.h"
#include "datetime/instant.h"

namespace horalin {

// Directives beyond the format language's, for the rows only: %_T a "T" or one blank;
// %_f an optional fraction of 1 to 9 digits after "." or ","; %_z an optional offset or
// zone word, at once or after one blank; %_u a Unix time of 10 digits (seconds), 13
// (milliseconds), 16 (microseconds) or 19 (nanoseconds), the seconds with an optional
// fraction, and then a blank, "]" or the line's end. Every %S is followed by an optional
// fraction where the pattern does not say what follows it ("." "," or a directive).
//
// The rows' prefixes, kept before the new stamp: %_p a syslog priority "<34>" and the
// version "1 " after it (RFC 5424); %_k the severity letter of klog ("I0329"); %_r
// redis's process and role ("12:M "). %_o marks a time of day without a date (TS's own
// /T), which takes the date of the stamp before; %_e the elapsed times that TS's /I and /S
// add after it, read as part of the stamp.
const StampForm kStampForms[kStampFormCount] = {
    {u"ISO 8601 and RFC 3339, TS's own stamp", u"%Y-%m-%d%_T%H:%M:%S%_f%_z", false, u"2026-03-29T00:30:02Z"},
    {u"RFC 5424 with its priority", u"%_p%Y-%m-%d%_T%H:%M:%S%_f%_z", false, u"<34>1 2026-03-29T00:30:02Z"},
    {u"ISO 8601 basic", u"%Y%m%dT%H%M%S%_f%_z", false, u"20260329T003002Z"},
    {u"ISO 8601 week date", u"%G-W%V-%u%_T%H:%M:%S%_f%_z", false, u"2026-W13-7T00:30:02"},
    {u"ISO 8601 ordinal date", u"%Y-%j%_T%H:%M:%S%_f%_z", false, u"2026-088 00:30:02"},
    {u"Go and nginx", u"%Y/%m/%d %H:%M:%S%_f%_z", false, u"2026/03/29 00:30:02"},
    {u"web server", u"%d/%b/%Y:%H:%M:%S %z", false, u"29/Mar/2026:00:30:02 +0100"},
    {u"RFC 2822", u"%a, %#d %b %Y %H:%M:%S %z", false, u"Sun, 29 Mar 2026 00:30:02 +0100"},
    {u"journalctl short-full", u"%a %Y-%m-%d %H:%M:%S%_z", false, u"Sun 2026-03-29 00:30:02 CET"},
    {u"ctime and date, web server errors", u"%a %b %e %H:%M:%S %Y", false, u"Sun Mar 29 00:30:02 2026"},
    {u"date with its zone", u"%a %b %e %H:%M:%S %Z %Y", false, u"Sun Mar 29 00:30:02 CET 2026"},
    {u"log4j DATE", u"%#d %b %Y %H:%M:%S", false, u"29 Mar 2026 00:30:02,123"},
    {u"redis", u"%_r%#d %b %Y %H:%M:%S", false, u"12:M 29 Mar 2026 00:30:02.123"},
    {u"syslog", u"%b %e %H:%M:%S%_f", false, u"Mar 29 00:30:02"},
    {u"klog", u"%_k%m%d %H:%M:%S", false, u"I0329 00:30:02.123456"},
    {u"Android logcat", u"%m-%d %H:%M:%S", false, u"03-29 00:30:02.123"},
    {u"TS's own /T, /I and /S", u"%_o%H:%M:%S.%L%_e", false, u"00:30:02.125 00:00:00.875"},
    {u"Unix time", u"%_u", true, u"1774740602.5"},
};

uint32_t NumberStampForms() {
  uint32_t rows = 0;
  for (size_t k = 0; k < kStampFormCount; ++k)
    if (kStampForms[k].number) rows |= 1u << k;
  return rows;
}

// Abbreviations that stand for one offset in the tz database wherever they are used;
// those that name several (CST: China, Cuba, Central America; IST; BST) are left out.
const ZoneWord kZoneWords[] = {
    {u"UTC", 0},       {u"GMT", 0},       {u"UT", 0},       {u"Z", 0},        {u"WET", 0},      {u"WEST", 3600},
    {u"CET", 3600},    {u"CEST", 7200},   {u"MET", 3600},   {u"MEST", 7200},  {u"EET", 7200},   {u"EEST", 10800},
    {u"MSK", 10800},   {u"SAST", 7200},   {u"JST", 32400},  {u"KST", 32400},  {u"HKT", 28800},  {u"AWST", 28800},
    {u"ACST", 34200},  {u"ACDT", 37800},  {u"AEST", 36000}, {u"AEDT", 39600}, {u"NZST", 43200}, {u"NZDT", 46800},
    {u"EST", -18000},  {u"EDT", -14400},  {u"MST", -25200}, {u"MDT", -21600}, {u"PST", -28800}, {u"PDT", -25200},
    {u"AKST", -32400}, {u"AKDT", -28800}, {u"HST", -36000}, {u"NST", -12600}, {u"NDT", -9000},
};
const size_t kZoneWordCount = sizeof kZoneWords / sizeof kZoneWords[0];

namespace {

enum class Step { Ok, No, Bad };

constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr uint32_t kTenPowers[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
constexpr uint64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

constexpr const char16_t* kMonthNames[12] = {u"January",   u"February", u"March",    u"April",
                                             u"May",       u"June",     u"July",     u"August",
                                             u"September", u"October",  u"November", u"December"};
constexpr const char16_t* kDayNames[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                          u"Thursday", u"Friday", u"Saturday"};

// The fields a pattern has set.
constexpr uint32_t kHasYear = 1, kHasMonth = 2, kHasDay = 4, kHasUnix = 8, kHasTimeOnly = 16, kHasWeek = 32,
                   kHasYearDay = 64;

struct Cursor {
  const char16_t* p;
  const char16_t* end;
  uint32_t has;
  const char16_t* stampStart;  // where the first field began; null before it
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsAsciiLetter(char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; }

// minDigits to maxDigits ASCII digits.
bool Digits(Cursor& c, unsigned minDigits, unsigned maxDigits, uint32_t* value) {
  uint32_t v = 0;
  unsigned n = 0;
  for (; n < maxDigits && c.p < c.end && IsAsciiDigit(*c.p); ++n, ++c.p)
    v = v * 10 + static_cast<uint32_t>(*c.p - u'0');
  *value = v;
  return n >= minDigits;
}

bool Field(Cursor& c, bool flexible, uint16_t* field) {
  if (c.end - c.p >= 3 && IsAsciiDigit(c.p[0]) && IsAsciiDigit(c.p[1]) && !IsAsciiDigit(c.p[2])) {
    *field = static_cast<uint16_t>((c.p[0] - u'0') * 10 + (c.p[1] - u'0'));  // the usual two digits
    c.p += 2;
    return true;
  }
  uint32_t v;
  if (!Digits(c, flexible ? 1 : 2, 2, &v)) return false;
  *field = static_cast<uint16_t>(v);
  return true;
}

// A name of the table, in full or its first three letters, in any case. Returns its
// index, or -1.
int Name(Cursor& c, const char16_t* const* names, int count, bool full) {
  if (c.p >= c.end || !IsAsciiLetter(*c.p)) return -1;
  for (int k = 0; k < count; ++k) {
    const char16_t* name = names[k];
    size_t n = 0;
    // The names are ASCII letters: a letter's case is its bit 0x20.
    while (name[n] && (full || n < 3) && c.p + n < c.end && (c.p[n] | 0x20) == (name[n] | 0x20)) ++n;
    if (full ? n >= 3 && !name[n] : n == 3) {
      c.p += n;
      return k;
    }
  }
  return -1;
}

// Digits of a second's fraction, 1 to 9 of them in all with the `have` digits already
// read into *nanoseconds: Bad for more.
Step FractionDigits(Cursor& c, uint32_t have, uint32_t* nanoseconds) {
  uint32_t units = *nanoseconds, n = have;
  for (; c.p < c.end && IsAsciiDigit(*c.p); ++c.p, ++n)
    if (n < 9) units += static_cast<uint32_t>(*c.p - u'0') * kTenPowers[8 - n];
  if (n > 9) return Step::Bad;
  *nanoseconds = units;
  return Step::Ok;
}

// AM or PM, in any case, with or without the dots ("p.m.").
bool Designator(Cursor& c, StampFields* f) {
  if (c.end - c.p < 2) return false;
  char16_t first = static_cast<char16_t>(c.p[0] | 0x20);
  if (first != u'a' && first != u'p') return false;
  const char16_t* p = c.p + 1;
  bool dots = *p == u'.';
  if (dots) ++p;
  if (p >= c.end || (*p | 0x20) != u'm') return false;
  ++p;
  if (dots && p < c.end && *p == u'.') ++p;
  f->pm = first == u'p';
  c.p = p;
  return true;
}

// 1 to 9 digits of a second's fraction after "." or ",": No when none follows.
Step Fraction(Cursor& c, StampFields* f, bool comma) {
  if (c.p + 1 >= c.end || !(*c.p == u'.' || (comma && *c.p == u',')) || !IsAsciiDigit(c.p[1])) return Step::No;
  ++c.p;
  f->nanoseconds = 0;
  return FractionDigits(c, 0, &f->nanoseconds);
}

bool StartsWith(const Cursor& c, const char16_t* word) {
  const char16_t* p = c.p;
  for (; *word; ++word, ++p)
    if (p >= c.end || *p != *word) return false;
  return true;
}

// "Z", "UTC", "GMT", "UT", "+hh", "+hhmm" or "+hh:mm" (or "-"): No when none begins here;
// Bad for a sign and a digit cut short, or hours or minutes out of range.
Step Offset(Cursor& c, StampFields* f) {
  if (c.p >= c.end) return Step::No;
  size_t zero = *c.p == u'Z' || *c.p == u'z'                     ? 1
                : StartsWith(c, u"UTC") || StartsWith(c, u"GMT") ? 3
                : StartsWith(c, u"UT")                           ? 2
                                                                 : 0;
  if (zero) {
    c.p += zero;
    f->offset = 0;
    f->hasOffset = true;
    return Step::Ok;
  }
  if (c.p + 1 >= c.end || (*c.p != u'+' && *c.p != u'-') || !IsAsciiDigit(c.p[1])) return Step::No;
  int32_t sign = *c.p++ == u'-' ? -1 : 1;
  uint32_t hours, minutes = 0;
  if (!Digits(c, 2, 2, &hours)) return Step::Bad;
  if (c.p < c.end && *c.p == u':') {
    ++c.p;
    if (!Digits(c, 2, 2, &minutes)) return Step::Bad;
  } else if (c.p < c.end && IsAsciiDigit(*c.p) && !Digits(c, 2, 2, &minutes)) {
    return Step::Bad;
  }
  if (hours > 23 || minutes > 59) return Step::Bad;
  f->offset = sign * static_cast<int32_t>(hours * 3600 + minutes * 60);
  f->hasOffset = true;
  return Step::Ok;
}

bool Ends(const Cursor& c) { return c.p >= c.end || (!IsAsciiLetter(*c.p) && !IsAsciiDigit(*c.p)); }

// A word that may name a zone: an upper-case letter and one to five more letters ("CET",
// "NZDT", "ChST"), ending there. Kept in the fields for StampInstant to judge.
bool ZoneWordAt(Cursor& c, StampFields* f) {
  const char16_t* p = c.p;
  if (p >= c.end || *p < u'A' || *p > u'Z') return false;
  size_t n = 0;
  while (p + n < c.end && n < 7 && IsAsciiLetter(p[n])) ++n;
  Cursor after{p + n, c.end, c.has, c.stampStart};
  if (n < 2 || n > 6 || !Ends(after)) return false;
  for (size_t k = 0; k < n; ++k) f->zoneWord[k] = p[k];
  f->zoneWord[n] = 0;
  c.p = after.p;
  return true;
}

// An offset that may be left out: at once, or after one blank when a whole one follows;
// else a zone word after one blank.
Step OptionalOffset(Cursor& c, StampFields* f, const char16_t* text) {
  Step step = Offset(c, f);
  if (step != Step::No || c.p >= c.end || *c.p != u' ') return step == Step::Bad ? Step::Bad : Step::Ok;
  Cursor after{c.p + 1, c.end, c.has, c.stampStart};
  if (Offset(after, f) == Step::Ok && Ends(after)) {
    c.p = after.p;
    return Step::Ok;
  }
  f->hasOffset = false;
  after.p = c.p + 1;
  f->usedBeforeWord = static_cast<size_t>(c.p - text);
  if (ZoneWordAt(after, f)) c.p = after.p;
  return Step::Ok;
}

// Seconds since 1970: 10 digits, with an optional fraction; or milli-, micro- or
// nanoseconds: 13, 16 or 19 digits. `bare`: the row's count, which a blank, "]" or the
// line's end must follow (not a "," or "." as in a CSV row or a version).
Step UnixTime(Cursor& c, StampFields* f, bool bare) {
  uint64_t v = 0;
  const char16_t* start = c.p;
  for (; c.p < c.end && IsAsciiDigit(*c.p) && c.p - start < 20; ++c.p) v = v * 10 + static_cast<uint64_t>(*c.p - u'0');
  ptrdiff_t n = c.p - start;
  if (n != 10 && n != 13 && n != 16 && n != 19) return Step::No;
  uint32_t digitsBelow = static_cast<uint32_t>(n - 10);  // 0, 3, 6 or 9
  uint64_t seconds = v / kTenPowers[digitsBelow];
  f->nanoseconds = static_cast<uint32_t>(v % kTenPowers[digitsBelow] * kTenPowers[9 - digitsBelow]);
  if (n == 10 && Fraction(c, f, false) == Step::Bad) return Step::Bad;
  if (bare && c.p < c.end && *c.p != u' ' && *c.p != u'\t' && *c.p != u']') return Step::No;
  if (seconds > kLastDay * 86400ull) return Step::Bad;
  f->isUnix = true;
  f->unixTime = (seconds + kUnixEpochSeconds) * kUnitsPerSecond + f->nanoseconds / 100;
  c.has |= kHasUnix;
  return Step::Ok;
}

// The rows of kDirectives by their character; kNoRow where none.
constexpr uint8_t kNoRow = 0xFF;
constexpr auto kRowOf = [] {
  std::array<uint8_t, 256> rows{};
  rows.fill(kNoRow);
  for (size_t k = 0; k < std::size(kDirectives); ++k) rows[kDirectives[k].c] = static_cast<uint8_t>(k);
  return rows;
}();

const horalin::Directive* RowOf(char16_t c) {
  return c < 0x100 && kRowOf[c] != kNoRow ? &kDirectives[kRowOf[c]] : nullptr;
}

// A number of the field, as a directive or a piece of a composite one writes it, read:
// `pad` a blank that may stand for its first digit ("%e"), `flexible` ("#") one digit
// where it has two. No for a field that a stamp is not read by (a week of the year from
// Sunday, a century): CheckStampPattern refuses those.
Step NumberField(horalin::Field field, char16_t pad, bool flexible, Cursor& c, StampFields* f) {
  using enum horalin::Field;
  SYSTEMTIME& t = f->time;
  uint32_t v;
  if (pad == u' ') {
    if (c.p < c.end && *c.p == u' ') ++c.p;
    flexible = true;
  }
  switch (field) {
    case Year:
    case IsoYear:
      c.has |= kHasYear | (field == IsoYear ? kHasWeek : 0);
      if (!Digits(c, 4, 4, &v)) return Step::No;
      t.wYear = static_cast<uint16_t>(v);
      return Step::Ok;
    case Year2:
      c.has |= kHasYear;
      if (!Digits(c, 2, 2, &v)) return Step::No;
      t.wYear = static_cast<uint16_t>(v < 69 ? 2000 + v : 1900 + v);
      return Step::Ok;
    case Month: c.has |= kHasMonth; return Field(c, flexible, &t.wMonth) ? Step::Ok : Step::No;
    case Day: c.has |= kHasDay; return Field(c, flexible, &t.wDay) ? Step::Ok : Step::No;
    case Hour12: f->twelveHour = true; [[fallthrough]];
    case Hour: return Field(c, flexible, &t.wHour) ? Step::Ok : Step::No;
    case Minute: return Field(c, flexible, &t.wMinute) ? Step::Ok : Step::No;
    case Second: return Field(c, flexible, &t.wSecond) ? Step::Ok : Step::No;
    case IsoWeek: return Field(c, flexible, &f->week) ? Step::Ok : Step::No;
    case IsoWeekday:
    case IsoWeekWeekday:
      if (!Digits(c, 1, 1, &v) || v < 1 || v > 7) return Step::No;
      f->weekday = static_cast<uint16_t>(v);
      return Step::Ok;
    case DayOfYear:
      c.has |= kHasYearDay;
      if (!Digits(c, flexible ? 1 : 3, 3, &v)) return Step::No;
      f->yearDay = static_cast<uint16_t>(v);
      return Step::Ok;
    case Millisecond:  // and the finer digits that follow them
      if (!Digits(c, 3, 3, &v)) return Step::No;
      f->nanoseconds = v * 1000000;
      return FractionDigits(c, 3, &f->nanoseconds);
    default: return Step::No;
  }
}

Step MonthName(Cursor& c, StampFields* f, bool full) {
  c.has |= kHasMonth;
  int k = Name(c, kMonthNames, 12, full);
  if (k < 0) return Step::No;
  f->time.wMonth = static_cast<uint16_t>(k + 1);
  return Step::Ok;
}

// A composite directive, read piece by piece as it is written.
Step Pieces(std::span<const Piece> pieces, bool flexible, Cursor& c, StampFields* f) {
  for (const Piece& piece : pieces) {
    Step step = Step::Ok;
    switch (piece.kind) {
      case PieceKind::Number: step = NumberField(piece.field, piece.pad, flexible, c, f); break;
      case PieceKind::Literal: step = c.p < c.end && *c.p == piece.unit ? (++c.p, Step::Ok) : Step::No; break;
      case PieceKind::Designator: step = Designator(c, f) ? Step::Ok : Step::No; break;
      case PieceKind::MonthAbbrev: step = MonthName(c, f, false); break;
    }
    if (step != Step::Ok) return step;
  }
  return Step::Ok;
}

// The directive at d (after "%" and an optional "#"), read by its row of the one table
// that the format interpreter writes it by. Advances d past it.
Step Directive(const char16_t*& d, bool flexible, Cursor& c, StampFields* f) {
  const horalin::Directive* row = RowOf(*d++);
  if (!row) return Step::No;
  switch (row->kind) {
    case DirectiveKind::Number: return NumberField(row->field, row->pad, flexible, c, f);
    case DirectiveKind::Composite: return Pieces(flexible ? row->altPieces : row->pieces, flexible, c, f);
    case DirectiveKind::Percent: return c.p < c.end && *c.p++ == u'%' ? Step::Ok : Step::No;
    case DirectiveKind::Unit: return c.p < c.end && *c.p++ == row->unit ? Step::Ok : Step::No;
    case DirectiveKind::AbbrevMonthName:
    case DirectiveKind::MonthName: return MonthName(c, f, row->kind == DirectiveKind::MonthName);
    case DirectiveKind::AbbrevDayName:
    case DirectiveKind::DayName:
      return Name(c, kDayNames, 7, row->kind == DirectiveKind::DayName) < 0 ? Step::No : Step::Ok;
    case DirectiveKind::Designator:
    case DirectiveKind::LowerDesignator: return Designator(c, f) ? Step::Ok : Step::No;
    case DirectiveKind::UnixTime: return UnixTime(c, f, false);
    case DirectiveKind::Offset: return Offset(c, f) == Step::Ok ? Step::Ok : Step::Bad;
    case DirectiveKind::ZoneName:
      if (Offset(c, f) == Step::Ok) return Step::Ok;
      return ZoneWordAt(c, f) ? Step::Ok : Step::No;
    default: return Step::No;  // the locale's forms, a weekday letter: not read
  }
}

// The elapsed times of TS's /I and /S after its stamp: one or two of a blank, an
// optional "-", two or more digits of hours, ":MM:SS.mmm".
void ElapsedTimes(Cursor& c) {
  for (int k = 0; k < 2; ++k) {
    const char16_t* p = c.p;
    if (p >= c.end || *p++ != u' ') return;
    if (p < c.end && *p == u'-') ++p;
    const char16_t* digits = p;
    while (p < c.end && IsAsciiDigit(*p)) ++p;
    if (p - digits < 2 || c.end - p < 10) return;
    for (int i = 0; i < 10; ++i)
      if (i == 0 || i == 3 ? p[i] != u':' : i == 6 ? p[i] != u'.' : !IsAsciiDigit(p[i])) return;
    c.p = p + 10;
  }
}

// Digits and then `last`, or No.
bool DigitsThen(Cursor& c, size_t most, char16_t last) {
  size_t n = 0;
  while (c.p + n < c.end && n < most && IsAsciiDigit(c.p[n])) ++n;
  if (n == 0 || c.p + n >= c.end || c.p[n] != last) return false;
  c.p += n + 1;
  return true;
}

// The rows' prefixes (see kStampForms), which the stamp's lead keeps.
Step RowPrefix(char16_t d, Cursor& c) {
  switch (d) {
    case u'p':  // "<34>" and an optional version "1 "
      if (c.p >= c.end || *c.p != u'<') return Step::No;
      ++c.p;
      if (!DigitsThen(c, 3, u'>')) return Step::No;
      if (c.end - c.p >= 2 && IsAsciiDigit(c.p[0]) && c.p[1] == u' ') c.p += 2;
      return Step::Ok;
    case u'k':  // I, W, E or F, then the month at once
      if (c.p >= c.end || (*c.p != u'I' && *c.p != u'W' && *c.p != u'E' && *c.p != u'F')) return Step::No;
      ++c.p;
      return Step::Ok;
    case u'r':  // "12:M "
      if (!DigitsThen(c, 10, u':') || c.end - c.p < 2 || !IsAsciiLetter(c.p[0]) || c.p[1] != u' ') return Step::No;
      c.p += 2;
      return Step::Ok;
    case u'o': c.has |= kHasTimeOnly; return Step::Ok;
    default: return Step::No;
  }
}

// The rows' own directives, after "%_".
Step RowDirective(char16_t d, Cursor& c, StampFields* f, const char16_t* text) {
  switch (d) {
    case u'e': ElapsedTimes(c); return Step::Ok;
    case u'T':
      if (c.p >= c.end || (*c.p != u'T' && *c.p != u't' && *c.p != u' ')) return Step::No;
      ++c.p;
      return Step::Ok;
    case u'f': return Fraction(c, f, true) == Step::Bad ? Step::Bad : Step::Ok;
    case u'z': return OptionalOffset(c, f, text);
    case u'u': return UnixTime(c, f, true);
    default: return Step::No;
  }
}

// Whether a fraction that the pattern leaves unsaid may follow the seconds just read,
// `next` being what the pattern has after them.
bool FractionMayFollow(const char16_t* next) { return *next != u'.' && *next != u',' && *next != u'%'; }

// A run of blanks of the pattern takes one or more blanks; any other character itself.
Step Match(const char16_t* pattern, Cursor& c, StampFields* f, const char16_t* text) {
  for (const char16_t* d = pattern; *d;) {
    Step step;
    if (*d != u'%') {
      if (c.p >= c.end || (IsBlank(*d) ? !IsBlank(*c.p) : *c.p != *d)) return Step::No;
      ++c.p;
      if (IsBlank(*d++)) {
        while (IsBlank(*d)) ++d;
        while (c.p < c.end && IsBlank(*c.p)) ++c.p;
      }
      continue;
    }
    ++d;
    if (d[0] == u'_' && (d[1] == u'p' || d[1] == u'k' || d[1] == u'r' || d[1] == u'o')) {
      if (Step prefix = RowPrefix(d[1], c); prefix != Step::Ok) return prefix;
      d += 2;
      continue;
    }
    if (!c.stampStart) c.stampStart = c.p;
    if (*d == u'_') {
      step = RowDirective(d[1], c, f, text);
      d += d[1] ? 2 : 1;
    } else {
      bool flexible = *d == u'#';
      if (flexible) ++d;
      char16_t directive = *d;
      step = Directive(d, flexible, c, f);
      if (step == Step::Ok && (directive == u'S' || directive == u'T') && FractionMayFollow(d))
        step = Fraction(c, f, true) == Step::Bad ? Step::Bad : Step::Ok;
    }
    if (step != Step::Ok) return step;
  }
  return Step::Ok;
}

// The month and day of a week date or a day of the year, and the hour of the 12-hour
// clock: false when they name none.
bool CivilFields(StampFields& f, uint32_t has) {
  SYSTEMTIME& t = f.time;
  if (f.twelveHour) {
    if (t.wHour < 1 || t.wHour > 12) return false;
    t.wHour = static_cast<uint16_t>(t.wHour % 12 + (f.pm ? 12 : 0));
  }
  DayNumber n = -1;
  if (has & kHasWeek) {
    if (f.week < 1 || f.week > IsoWeeksInYear(t.wYear) || f.weekday < 1) return false;
    DayNumber jan4 = DayNumberFromDate(t.wYear, 1, 4);  // in week 1
    if (jan4 < 0) return false;
    n = jan4 - (WeekdayOfDay(jan4) + 6) % 7 + (f.week - 1) * 7 + (f.weekday - 1);
  } else if (has & kHasYearDay) {
    DayNumber jan1 = DayNumberFromDate(t.wYear, 1, 1);
    if (jan1 < 0 || f.yearDay < 1 || f.yearDay > 365 + IsLeapYear(t.wYear)) return false;
    n = jan1 + f.yearDay - 1;
  } else {
    return true;
  }
  uint32_t year, month, day;
  if (DateFromDayNumber(n, &year, &month, &day) < 0) return false;
  t.wYear = static_cast<uint16_t>(year);
  t.wMonth = static_cast<uint16_t>(month);
  t.wDay = static_cast<uint16_t>(day);
  return true;
}

// The values of a stamp whose shape matched.
bool InRange(StampFields& f, uint32_t has) {
  if (has & kHasUnix) return true;
  if (!CivilFields(f, has)) return false;
  if (has & kHasTimeOnly) return f.time.wHour <= 23 && f.time.wMinute <= 59 && f.time.wSecond <= 59;
  const SYSTEMTIME& t = f.time;
  if ((has & kHasYear) && (t.wYear < 1601 || t.wYear > 9999)) return false;
  if (t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1) return false;
  int leap = (has & kHasYear) ? IsLeapYear(t.wYear) : 1;
  return t.wDay <= DaysInMonth[t.wMonth][leap] && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59;
}

// The fixed heads of patterns (StampHead), compiled once, a "T" or blank of %_T in them
// as kTOrBlank.
constexpr char16_t kTOrBlank = 1;
constexpr size_t kHeadUnits = kStampHeadUnits;
constexpr int kSlots = static_cast<int>(kStampHeadSlots);  // Y m d H M S
using CompiledHead = StampHead;

void CompileHead(const char16_t* pattern, CompiledHead* h) {
  static constexpr char16_t kFields[] = u"YmdHMS";
  static constexpr uint8_t kWidths[] = {4, 2, 2, 2, 2, 2};
  static constexpr uint32_t kHas[] = {kHasYear, kHasMonth, kHasDay, 0, 0, 0};
  h->pattern = pattern;
  h->length = 0;
  h->lead = 0;
  h->has = 0;
  h->lastValid = false;
  const char16_t* directive = pattern[0] == u'%' ? pattern + (pattern[1] == u'#' || pattern[1] == u'_' ? 2 : 1) : u"";
  static constexpr char16_t kDigitFirst[] = u"YymdHMSLsFTu", kLetterFirst[] = u"aAbBh";
  h->first = 0;
  for (const char16_t* p = kDigitFirst; *p && *directive; ++p)
    if (*p == *directive) h->first = 'd';
  for (const char16_t* p = kLetterFirst; *p && *directive; ++p)
    if (*p == *directive) h->first = 'a';
  const char16_t* d = pattern;
  for (; *d; ++d) {
    int field = -1;
    if (d[0] == u'%')
      for (int k = 0; k < kSlots; ++k)
        if (d[1] == kFields[k]) field = k;
    bool row = d[0] == u'%' && d[1] == u'_' && d[2] == u'T';
    size_t width = field >= 0 ? kWidths[field] : 1;
    if ((field < 0 && !row && (d[0] == u'%' || IsBlank(d[0]))) || h->length + width > kHeadUnits) break;
    if (field == 5 && FractionMayFollow(d + 2)) break;
    if (field < 0 && !row && h->lead == h->length) ++h->lead;  // literal text before the first field
    for (size_t k = 0; k < width; ++k, ++h->length) {
      h->literal[h->length] = field >= 0 ? 0 : row ? kTOrBlank : d[0];
      h->slot[h->length] = static_cast<uint8_t>(field >= 0 ? field : 0);
      h->ends[h->length] = field >= 0 && k + 1 == width;
      h->starts[h->length] = static_cast<uint8_t>(h->length - k);
    }
    if (field >= 0) h->has |= kHas[field];
    d += field >= 0 ? 1 : row ? 2 : 0;
  }
  h->rest = d;
}

CompiledHead& HeadOf(StampHeads& heads, const char16_t* pattern) {
  for (size_t k = 0; k < kStampFormCount; ++k)
    if (pattern == kStampForms[k].pattern) {
      if (heads.rows[k].pattern != pattern) CompileHead(pattern, &heads.rows[k]);
      return heads.rows[k];
    }
  size_t n = TextLength(pattern);
  for (CompiledHead& h : heads.callers) {
    bool same = h.pattern == pattern && n < kHeadUnits && h.text[n] == 0;
    for (size_t i = 0; same && i < n; ++i) same = h.text[i] == pattern[i];
    if (same) return h;
  }
  CompiledHead& h = heads.callers[heads.nextCaller++ % kCallerStampHeads];
  CompileHead(pattern, &h);
  h.pattern = n < kHeadUnits ? pattern : nullptr;
  if (h.pattern) CopyText(h.text, kHeadUnits, pattern);
  return h;
}

// Reads the head into the fields. No when the text does not have its shape.
Step MatchHead(CompiledHead& h, Cursor& c, StampFields* f) {
  if (static_cast<size_t>(c.end - c.p) < h.length) return h.length ? Step::No : Step::Ok;
  uint32_t values[kSlots] = {}, value = 0;
  size_t from = 0;
  if (h.lastValid) {
    size_t same = 0;
    while (same + 4 <= h.length && words::Load(c.p + same) == words::Load(h.last + same)) same += 4;
    while (same < h.length && c.p[same] == h.last[same]) ++same;
    from = same < h.length ? h.starts[same] : same;
    std::memcpy(values, h.lastValues, sizeof values);
  }
  for (size_t k = from; k < h.length; ++k) {
    const char16_t u = c.p[k], literal = h.literal[k];
    if (literal == 0) {
      const uint32_t digit = static_cast<uint32_t>(u) - u'0';
      if (digit > 9) return Step::No;
      value = value * 10 + digit;
      if (h.ends[k]) {
        values[h.slot[k]] = value;
        value = 0;
      }
    } else if (u != literal && !(literal == kTOrBlank && (u == u'T' || u == u't' || u == u' '))) {
      return Step::No;
    }
  }
  std::memcpy(h.last + from, c.p + from, (h.length - from) * sizeof(char16_t));
  std::memcpy(h.lastValues, values, sizeof values);
  h.lastValid = true;
  if (h.length > h.lead) c.stampStart = c.p + h.lead;
  c.p += h.length;
  c.has |= h.has;
  SYSTEMTIME& t = f->time;
  t.wYear = static_cast<uint16_t>(values[0]);
  t.wMonth = static_cast<uint16_t>(values[1]);
  t.wDay = static_cast<uint16_t>(values[2]);
  t.wHour = static_cast<uint16_t>(values[3]);
  t.wMinute = static_cast<uint16_t>(values[4]);
  t.wSecond = static_cast<uint16_t>(values[5]);
  return Step::Ok;
}

StampMatch MatchWithHead(CompiledHead& head, const char16_t* text, size_t length, StampFields* fields, size_t* used) {
  *fields = StampFields{};
  Cursor c{text, text + length, 0, nullptr};
  if (head.first && (length == 0 || !(head.first == 'd' ? IsAsciiDigit(text[0]) : IsAsciiLetter(text[0]))))
    return StampMatch::None;
  Step step = MatchHead(head, c, fields);
  if (step == Step::Ok) step = Match(head.rest, c, fields, text);
  if (step == Step::Bad) return StampMatch::Bad;
  if (step == Step::No) return StampMatch::None;
  if (c.p < c.end && (IsAsciiLetter(*c.p) || IsAsciiDigit(*c.p))) return StampMatch::None;
  bool date = (c.has & (kHasMonth | kHasDay)) == (kHasMonth | kHasDay) || (c.has & (kHasWeek | kHasYearDay));
  if (!date && !(c.has & (kHasUnix | kHasTimeOnly))) return StampMatch::None;
  fields->timeOnly = !date && (c.has & kHasTimeOnly);
  if (!InRange(*fields, c.has)) return StampMatch::Bad;
  *used = static_cast<size_t>(c.p - text);
  fields->lead = c.stampStart ? static_cast<size_t>(c.stampStart - text) : 0;
  return StampMatch::Stamp;
}

}  // namespace

StampMatch MatchStampPattern(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                             size_t* used, StampHeads* heads) {
  if (heads) return MatchWithHead(HeadOf(*heads, pattern), text, length, fields, used);
  CompiledHead head;
  CompileHead(pattern, &head);
  return MatchWithHead(head, text, length, fields, used);
}

namespace {

template <typename Unit>
uint32_t DigitOf(Unit u) {
  return static_cast<uint32_t>(static_cast<std::make_unsigned_t<Unit>>(u)) - u'0';  // above 9 for a non-digit
}

template <typename Unit>
bool IsWordUnit(Unit u) {
  auto v = static_cast<std::make_unsigned_t<Unit>>(u);
  return v < 0x80 && (DigitOf(u) <= 9 || IsAsciiLetter(static_cast<char16_t>(v)));
}

// What follows the seconds and their fraction at text[p]: "Z", "+hh:mm", or a unit that
// begins no offset (a blank only when no offset or zone word can follow it). The
// length of the stamp then, or 0 for any other text.
template <typename Unit>
size_t QuickOffset(const Unit* t, size_t length, size_t p, StampFields* f) {
  if (p == length) return p;
  const Unit u = t[p];
  if (u == 'Z' || u == 'z') {
    f->hasOffset = true;
    return p + 1 == length || !IsWordUnit(t[p + 1]) ? p + 1 : 0;
  }
  if (u == '+' || u == '-') {
    if (length - p < 6 || t[p + 3] != ':' || (p + 6 < length && IsWordUnit(t[p + 6]))) return 0;
    const uint32_t h1 = DigitOf(t[p + 1]), h2 = DigitOf(t[p + 2]), m1 = DigitOf(t[p + 4]), m2 = DigitOf(t[p + 5]);
    if (h1 > 2 || h2 > 9 || m1 > 5 || m2 > 9 || h1 * 10 + h2 > 23) return 0;
    f->offset = (u == '-' ? -1 : 1) * static_cast<int32_t>((h1 * 10 + h2) * 3600 + (m1 * 10 + m2) * 60);
    f->hasOffset = true;
    return p + 6;
  }
  if (u == ' ') {
    // An offset or a zone word may follow the blank: the full reading decides those.
    if (p + 1 < length &&
        ((t[p + 1] >= 'A' && t[p + 1] <= 'Z') || t[p + 1] == 'z' || t[p + 1] == '+' || t[p + 1] == '-'))
      return 0;
    f->usedBeforeWord = p;
    return p;
  }
  return IsWordUnit(u) ? 0 : p;
}

// Whether the date, hour and minute of a head name a time that is.
bool MinuteIsValid(const SYSTEMTIME& s) {
  return s.wYear >= 1601 && s.wMonth >= 1 && s.wMonth <= 12 && s.wDay >= 1 &&
         s.wDay <= DaysInMonth[s.wMonth][IsLeapYear(s.wYear)] && s.wHour <= 23 && s.wMinute <= 59;
}

// The date and time at their fixed places, "YYYY-MM-DD?hh:mm:ss" (the "?" checked by the
// caller), into the fields; false for another shape or a time that is not. Units one by
// one.
bool QuickHead(const char16_t* t, SYSTEMTIME& s, StampMinute*) {
  if (t[4] != u'-' || t[7] != u'-' || t[13] != u':' || t[16] != u':') return false;
  static constexpr uint8_t kAt[14] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
  uint32_t d[14];
  for (size_t k = 0; k < 14; ++k)
    if ((d[k] = DigitOf(t[kAt[k]])) > 9) return false;
  s.wYear = static_cast<uint16_t>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]);
  s.wMonth = static_cast<uint16_t>(d[4] * 10 + d[5]);
  s.wDay = static_cast<uint16_t>(d[6] * 10 + d[7]);
  s.wHour = static_cast<uint16_t>(d[8] * 10 + d[9]);
  s.wMinute = static_cast<uint16_t>(d[10] * 10 + d[11]);
  s.wSecond = static_cast<uint16_t>(d[12] * 10 + d[13]);
  return MinuteIsValid(s) && s.wSecond <= 59;
}

// The same for bytes, eight at a time: a digit byte is 0x30 to 0x39, its high half 3
// both as it is and with 6 added (a byte whose addition carries fails itself). A head
// whose first 16 bytes are those of the last one read (a log's stamps share their
// minute) takes its fields from `m`.
constexpr uint64_t kDigitHighs = 0xF0F0F0F0F0F0F0F0, kThrees = 0x3030303030303030, kSixes = 0x0606060606060606;

bool DigitsAndLiterals(uint64_t w, uint64_t digits, uint64_t literals, uint64_t values) {
  return (w & ((digits & kDigitHighs) | literals)) == ((digits & kThrees) | values) &&
         ((w + (digits & kSixes)) & digits & kDigitHighs) == (digits & kThrees);
}

bool ReadMinute(uint64_t a, uint64_t b, SYSTEMTIME& s) {  // "YYYY-MM-" "DDTHH:MM"
  if (!DigitsAndLiterals(a, 0x00FFFF00FFFFFFFF, 0xFF0000FF00000000, uint64_t{'-'} << 56 | uint64_t{'-'} << 32) ||
      !DigitsAndLiterals(b, 0xFFFF00FFFF00FFFF, 0x0000FF0000000000, uint64_t{':'} << 40))
    return false;
  const uint64_t x = a - (0x00FFFF00FFFFFFFF & kThrees), y = b - (0xFFFF00FFFF00FFFF & kThrees);
  const auto digit = [](uint64_t w, int k) { return static_cast<uint32_t>(w >> (8 * k) & 0xFF); };
  s.wYear = static_cast<uint16_t>(digit(x, 0) * 1000 + digit(x, 1) * 100 + digit(x, 2) * 10 + digit(x, 3));
  s.wMonth = static_cast<uint16_t>(digit(x, 5) * 10 + digit(x, 6));
  s.wDay = static_cast<uint16_t>(digit(y, 0) * 10 + digit(y, 1));
  s.wHour = static_cast<uint16_t>(digit(y, 3) * 10 + digit(y, 4));
  s.wMinute = static_cast<uint16_t>(digit(y, 6) * 10 + digit(y, 7));
  return MinuteIsValid(s);
}

bool QuickHead(const char* t, SYSTEMTIME& s, StampMinute* m) {
  const uint64_t a = words::Load(t), b = words::Load(t + 8), c = words::Load(t + 11);  // c: "HH:MM:SS"
  if (m && m->known && a == m->date && b == m->time) {
    s = m->fields;
  } else {
    if (!ReadMinute(a, b, s)) return false;
    if (m) *m = StampMinute{a, b, true, s};
  }
  if (!DigitsAndLiterals(c, 0xFFFF000000000000, 0x0000FF0000000000, uint64_t{':'} << 40)) return false;
  s.wSecond = static_cast<uint16_t>(((c >> 48 & 0xFF) - u'0') * 10 + (c >> 56) - u'0');
  return s.wSecond <= 59;
}

template <typename Unit>
bool QuickIso(const Unit* t, size_t length, StampFields* f, size_t* used, StampMinute* minute) {
  if (length < 19 || (t[10] != 'T' && t[10] != 't' && t[10] != ' ')) return false;
  *f = StampFields{};
  if (!QuickHead(t, f->time, minute)) return false;
  size_t p = 19;
  if (p + 1 < length && (t[p] == '.' || t[p] == ',') && DigitOf(t[p + 1]) <= 9) {
    uint32_t n = 0;
    for (++p; p < length && DigitOf(t[p]) <= 9 && n < 9; ++p, ++n) f->nanoseconds += DigitOf(t[p]) * kTenPowers[8 - n];
    if (p < length && DigitOf(t[p]) <= 9) return false;  // more than nine digits
  }
  p = QuickOffset(t, length, p, f);
  if (p == 0) return false;
  *used = p;
  return true;
}

}  // namespace

bool QuickIsoStamp(const char* text, size_t length, StampFields* fields, size_t* used, StampHeads* heads) {
  return QuickIso(text, length, fields, used, heads ? &heads->minute : nullptr);
}

bool QuickIsoStamp(const char16_t* text, size_t length, StampFields* fields, size_t* used) {
  return QuickIso(text, length, fields, used, nullptr);
}

StampMatch RecognizeStampIn(const StampChoice& choice, const char16_t* text, size_t length, StampFields* fields,
                            size_t* used, size_t* which) {
  StampMatch result = StampMatch::None;
  size_t count = choice.count ? choice.count : kStampFormCount;
  for (size_t turn = 0; turn <= count; ++turn) {
    // Turn 0 tries `first`; then each in order, `first` not again.
    size_t k = turn == 0 ? choice.first : turn - 1;
    if (k >= count || (turn > 0 && k == choice.first)) continue;
    if (!choice.count && !(choice.rows & (1u << k))) continue;
    const char16_t* pattern = choice.count ? choice.patterns[k] : kStampForms[k].pattern;
    StampMatch m = MatchStampPattern(pattern, text, length, fields, used, choice.heads);
    *which = k;
    if (m == StampMatch::Stamp) return m;
    if (m == StampMatch::Bad) result = m;
  }
  return result;
}

StampMatch RecognizeStamp(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                          size_t* used) {
  size_t which = 0;
  return RecognizeStampIn(StampChoice{&pattern, pattern ? 1u : 0u, kEveryStampForm}, text, length, fields, used,
                          &which);
}

namespace {

// What a readable field gives: kHasMonth, kHasDay, both for a day of the year or a week
// date's year, kHasUnix for the Unix time; 0 for a readable field that names no date;
// kNoRead for one that a stamp is not read by.
constexpr uint32_t kNoRead = 0x100;

uint32_t FieldGives(horalin::Field field) {
  using enum horalin::Field;
  switch (field) {
    case Month: return kHasMonth;
    case Day: return kHasDay;
    case DayOfYear:
    case IsoYear: return kHasMonth | kHasDay;
    case Year:
    case Year2:
    case Hour:
    case Hour12:
    case Minute:
    case Second:
    case Millisecond:
    case IsoWeek:
    case IsoWeekday:
    case IsoWeekWeekday: return 0;
    default: return kNoRead;
  }
}

uint32_t RowGives(const horalin::Directive& row) {
  switch (row.kind) {
    case DirectiveKind::Number: return FieldGives(row.field);
    case DirectiveKind::Composite: {
      uint32_t gives = 0;
      for (const Piece& piece : row.pieces)
        if (piece.kind == PieceKind::Number)
          gives |= FieldGives(piece.field);
        else if (piece.kind == PieceKind::MonthAbbrev)
          gives |= kHasMonth;
      return gives;
    }
    case DirectiveKind::AbbrevMonthName:
    case DirectiveKind::MonthName: return kHasMonth;
    case DirectiveKind::UnixTime: return kHasUnix;
    case DirectiveKind::Percent:
    case DirectiveKind::Unit:
    case DirectiveKind::AbbrevDayName:
    case DirectiveKind::DayName:
    case DirectiveKind::Designator:
    case DirectiveKind::LowerDesignator:
    case DirectiveKind::Offset:
    case DirectiveKind::ZoneName: return 0;
    default: return kNoRead;
  }
}

}  // namespace

bool ReadStampOffset(const char16_t* text, int32_t* offset) {
  StampFields f{};
  Cursor c{text, text + TextLength(text), 0, nullptr};
  if (Offset(c, &f) != Step::Ok || c.p != c.end) return false;
  *offset = f.offset;
  return true;
}

const char16_t* CheckStampPattern(const char16_t* pattern) {
  uint32_t gives = 0;
  for (const char16_t* d = pattern; *d; ++d) {
    if (*d != u'%') continue;
    const char16_t* at = d++;
    if (*d == u'#') ++d;
    const horalin::Directive* row = RowOf(*d);
    uint32_t rowGives = row ? RowGives(*row) : kNoRead;
    if (rowGives & kNoRead) return at;
    gives |= rowGives;
  }
  bool date = (gives & (kHasMonth | kHasDay)) == (kHasMonth | kHasDay) || (gives & kHasUnix);
  return date ? nullptr : pattern + TextLength(pattern);
}

namespace {

int32_t OffsetOf(const ZoneSnapshot& z) { return -(z.bias * 60 + z.biasSeconds); }

// One reading of a local time: the offset and the zone's name for it.
struct LocalReading {
  int32_t offset;
  char16_t name[8];  // cut short: compared with a zone word, which is at most six letters
};

LocalReading ReadingAt(int64_t localSeconds, const Services& services, LocalKind* kind = nullptr) {
  SYSTEMTIME local = SystemTimeFromFileTime(static_cast<uint64_t>(localSeconds) * kUnitsPerSecond);
  const ZoneSnapshot& z = services.zoneAt(false, &local, kind);
  LocalReading r{OffsetOf(z), {}};
  for (size_t k = 0; k + 1 < std::size(r.name) && z.name[k]; ++k) r.name[k] = z.name[k];
  return r;
}

// The readings of a local time (seconds since 1601) in the zone of `services`: one, or
// for a time that the clocks show twice (the hour after a change back) both, the earlier
// instant first. The zone answers such a time with the offset before the change; a time
// `d` later (d the difference of the offsets before and after) already has the offset
// after it exactly when the time lies in the repeated span. Changes lie months apart, so
// three hours on is after the change.
int LocalReadings(int64_t localSeconds, const Services& services, LocalReading readings[2]) {
  LocalKind kind = LocalKind::Unsure;
  readings[0] = ReadingAt(localSeconds, services, &kind);
  constexpr int64_t kThreeHours = int64_t{3} * 3600;
  if (kind == LocalKind::Unique || kind == LocalKind::Skipped) return 1;  // the zone has told
  if (localSeconds < 0 || localSeconds >= int64_t{kLastDay} * 86400 - 2 * kThreeHours) return 1;
  LocalReading later = ReadingAt(localSeconds + kThreeHours, services);
  if (later.offset >= readings[0].offset) return 1;
  if (kind != LocalKind::Repeated &&
      ReadingAt(localSeconds + readings[0].offset - later.offset, services).offset != later.offset)
    return 1;
  readings[1] = later;
  return 2;
}

bool SameWord(const char16_t* a, const char16_t* b) {
  for (; *a && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// The offset that a stamp's zone word names: one of the readings of the stamp's own
// zone, or an abbreviation of kZoneWords.
bool WordOffset(const char16_t* word, const LocalReading* readings, int count, int32_t* offset) {
  for (int k = 0; k < count; ++k)
    if (SameWord(word, readings[k].name)) {
      *offset = readings[k].offset;
      return true;
    }
  for (const ZoneWord& w : kZoneWords)
    if (SameWord(word, w.word)) {
      *offset = w.offset;
      return true;
    }
  return false;
}

}  // namespace

bool StampInstant(const StampFields& f, const StampZone& zone, uint64_t* fileTime, const Services& services,
                  uint64_t notBefore, bool* wordRead) {
  if (wordRead) *wordRead = false;
  if (f.isUnix) {
    *fileTime = f.unixTime;
    return true;
  }
  DayNumber n = DayNumberFromDate(f.time.wYear, f.time.wMonth, f.time.wDay);
  if (n < 0) return false;
  int64_t seconds =
      int64_t{n - 1} * 86400 + int64_t{f.time.wHour} * 3600 + int64_t{f.time.wMinute} * 60 + f.time.wSecond;
  LocalReading readings[2];
  int count = !f.hasOffset && zone.kind == StampZoneKind::Local ? LocalReadings(seconds, services, readings) : 0;
  int32_t offset = 0;
  if (f.hasOffset) {
    offset = f.offset;
  } else if (f.zoneWord[0] && WordOffset(f.zoneWord, readings, count, &offset)) {
    if (wordRead) *wordRead = true;
  } else if (zone.kind == StampZoneKind::Fixed) {
    offset = zone.offset;
  } else if (count > 0) {
    // Of the two readings of a repeated time, the log's order settles which is meant:
    // the first that does not go back before the stamp before it.
    offset = readings[0].offset;
    uint64_t first = static_cast<uint64_t>(seconds - offset) * kUnitsPerSecond;
    if (count == 2 && first < notBefore &&
        static_cast<uint64_t>(seconds - readings[1].offset) * kUnitsPerSecond >= notBefore)
      offset = readings[1].offset;
  }
  seconds -= offset;
  if (seconds < 0 || seconds >= int64_t{kLastDay} * 86400) return false;
  *fileTime = static_cast<uint64_t>(seconds) * kUnitsPerSecond + f.nanoseconds / 100;
  return true;
}

uint16_t SyslogYear(uint16_t month, uint16_t day, const SYSTEMTIME& today) {
  uint16_t year = today.wYear;
  // Compared as month * 32 + day, with a day's grace for a clock a little behind.
  if (month * 32 + day > today.wMonth * 32 + today.wDay + 1) --year;
  return year;
}

}  // namespace horalin
