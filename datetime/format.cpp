// The date format interpreter. One pass over the format: literal units and escapes go
// out through the emission rule; each directive is looked up in the directive table
// (datetime/directives.h) and renders into a work buffer, where shared code applies
// Roman numerals, ordinal suffixes, native digits and case before the text is appended.
// A plain directive without modifiers takes a shorter way straight into the output,
// by the same row.
#include "datetime/format.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text.h"
#include "common/utf.h"
#include "common/words.h"
#include "datetime/calendar.h"
#include "datetime/directives.h"
#include "datetime/escapes.h"
#include "platform/platform.h"

namespace horalin {

namespace {

using platform::Locale;
using platform::LocaleItem;

constexpr size_t kOutputLimit = kFormatText - 1;  // units of text, without the terminator

constexpr char16_t kWeekdayLetters[] = u"UMTWRFS";  // Sunday to Saturday

struct Output {
  char16_t* text;
  size_t length;
};

// The emission rule for literal units and escape results: nothing for 0 or a full
// output, a doubled "%" while doubling is on and there is room for the second, and a
// surrogate pair whole or not at all.
void EmitCodePoint(Output& out, uint32_t cp, bool doubling) {
  if (cp == 0 || out.length >= kOutputLimit) return;
  if (cp <= 0xFFFF) {
    out.text[out.length++] = static_cast<char16_t>(cp);
    if (cp == u'%' && doubling && out.length < kOutputLimit) out.text[out.length++] = u'%';
  } else if (out.length + 1 < kOutputLimit) {
    out.text[out.length++] = HighSurrogateOf(cp);
    out.text[out.length++] = LowSurrogateOf(cp);
  }
}

// A directive text goes out as far as it fits, never ending in half a surrogate pair.
void EmitText(Output& out, const char16_t* text, size_t length) {
  size_t room = kOutputLimit - out.length;
  if (length > room) {
    length = room;
    if (length && IsHighSurrogate(text[length - 1])) --length;
  }
  char16_t* target = out.text + out.length;
  for (size_t i = 0; i < length; ++i) target[i] = text[i];
  out.length += length;
}

// Modifiers of one directive.
enum : unsigned {
  kAlternative = 1,  // "#"
  kEnglish = 2,      // "E"
  kRoman = 4,        // "O"
  kOrdinal = 8,      // "?"
  kNative = 16,      // "~"
};
enum class CaseMode { None, Upper, Lower };

// The text of one directive (kDirectiveText units with the terminator) and, for a
// numeric directive, the values that "?" and "O" use.
struct Work {
  char16_t* text;
  size_t length;
  bool numeric;
  uint32_t ordinalValue;
  uint32_t romanValue;  // 0: no Roman form
};

void AppendUnit(Work& w, char16_t c) {
  if (w.length + 1 < kDirectiveText) w.text[w.length++] = c;
}

void AppendString(Work& w, const char16_t* s) {
  while (*s) AppendUnit(w, *s++);
}

// What the directives share within one call. The zone snapshot, the native digits and
// the check of the user's locale settings are made on first use only: most formats (TS
// stamps one line after another) need none of them, and the platform queries cost more
// than the rest of the formatting.
struct Context {
  const SYSTEMTIME& time;
  uint32_t flags;
  bool doubling;
  bool plain;  // the date and time lie within the contract: the plain directives may go straight out
  bool localeFresh = false;
  bool digitsTaken = false;
  bool isoTaken = false;
  const platform::ZoneSnapshot* zone = nullptr;  // taken on first use
  char16_t digits[10]{};                         // digits[0] == 0: the locale has no digits of its own
  uint32_t isoYear = 0, isoWeek = 0, isoWeekday = 0;
};

const platform::ZoneSnapshot& Zone(Context& ctx) {
  if (!ctx.zone) {
    bool utc = (ctx.flags & FDT_UTC) != 0;
    // The zone's rules in force at the local time being formatted, not at the moment of the call.
    ctx.zone = &platform::TakeZoneSnapshot(utc, utc ? nullptr : &ctx.time);
  }
  return *ctx.zone;
}

// Every locale query of a call goes through here first.
void FollowLocale(Context& ctx) {
  if (ctx.localeFresh) return;
  ctx.localeFresh = true;
  platform::RefreshLocale();
}

const char16_t* NativeDigits(Context& ctx) {
  if (!ctx.digitsTaken) {
    FollowLocale(ctx);
    ctx.digitsTaken = true;
    ctx.digits[0] = 0;
    char16_t answer[64];
    size_t n = platform::LocaleText(Locale::User, LocaleItem::NativeDigits, 0, answer, 64);
    // Fewer than ten, or the ASCII digits themselves: none. Digits beyond the
    // Basic Multilingual Plane are not taken, so that one digit stays one unit.
    bool usable = n >= 10 && answer[0] != u'0';
    for (size_t i = 0; usable && i < 10; ++i) usable = !IsSurrogate(answer[i]);
    if (usable)
      for (size_t i = 0; i < 10; ++i) ctx.digits[i] = answer[i];
  }
  return ctx.digits;
}

bool IsValidDate(const SYSTEMTIME& t) { return DayNumberFromDate(t.wYear, t.wMonth, t.wDay) > 0; }

void TakeIsoWeek(Context& ctx) {
  if (ctx.isoTaken) return;
  ctx.isoTaken = true;
  ctx.isoYear = ctx.isoWeek = ctx.isoWeekday = 0;
  const SYSTEMTIME& t = ctx.time;
  if (ctx.plain || IsValidDate(t))
    IsoWeekFromDate(t.wYear, t.wMonth, t.wDay, &ctx.isoYear, &ctx.isoWeek, &ctx.isoWeekday);
}

// Whether every field holds what the contract allows: a date of 1601 to 9999, a
// weekday, a time of day. Such a date and time has fields of fixed widths.
bool WithinContract(const SYSTEMTIME& t) {
  return t.wYear >= 1601 && t.wYear <= 9999 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= DaysInMonth[t.wMonth][IsLeapYear(t.wYear)] && t.wDayOfWeek <= 6 && t.wHour <= 23 &&
         t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

// Table rows and indexes stay inside their tables even for a date and time outside the
// contract (month 0 or 14, a weekday of 9): such a date formats as nonsense, never as a
// read past a table.
unsigned MonthRow(const SYSTEMTIME& t) { return t.wMonth <= 13 ? t.wMonth : 0; }
unsigned Weekday(const SYSTEMTIME& t) { return t.wDayOfWeek % 7u; }

uint32_t DayOfYear(const SYSTEMTIME& t) { return DaysBeforeMonth[MonthRow(t)][IsLeapYear(t.wYear)] + t.wDay; }

// Week of the year with weeks starting on Sunday (firstDay 0) or Monday (firstDay 1):
// the days before the year's first such day fall in week 0.
uint32_t WeekOfYear(const SYSTEMTIME& t, unsigned firstDay) {
  DayNumber first = DayNumberFromDate(t.wYear, 1, 1);
  unsigned j1 = first > 0 ? static_cast<unsigned>(first) % 7 : 0;  // weekday of 1 January, 0 Sunday
  return ((j1 + 7 - firstDay - 1) % 7 + DayOfYear(t)) / 7;
}

uint32_t TwelveHour(unsigned hour) { return hour % 12 == 0 ? 12 : hour % 12; }

void AppendLocaleText(Context& ctx, Work& w, Locale locale, LocaleItem item, int index) {
  FollowLocale(ctx);
  w.length += platform::LocaleText(locale, item, index, w.text + w.length, kDirectiveText - w.length);
}

void AppendDesignator(Context& ctx, Work& w, unsigned hour) {
  AppendLocaleText(ctx, w, Locale::User, hour < 12 ? LocaleItem::AmDesignator : LocaleItem::PmDesignator, 0);
}

// Seconds since 1970-01-01 00:00:00 UTC of the local date and time, by the zone's bias.
int64_t UnixTime(Context& ctx) {
  const SYSTEMTIME& t = ctx.time;
  // A date within the contract needs no checks.
  int64_t days = (ctx.plain ? DayNumberOfValidDate(t.wYear, t.wMonth, t.wDay)
                            : static_cast<int64_t>(DayNumberFromDate(t.wYear, t.wMonth, t.wDay))) -
                 kUnixEpochDay;
  int64_t bias = 0;
  if (!(ctx.flags & FDT_UTC)) bias = Zone(ctx).bias * 60 + Zone(ctx).biasSeconds;
  return days * 86400 + int64_t{t.wHour} * 3600 + int64_t{t.wMinute} * 60 + t.wSecond + bias;
}

// "+hhmm" or "-hhmm" of a bias in minutes.
char16_t* PutOffset(char16_t* o, int32_t bias) {
  uint32_t magnitude = bias < 0 ? 0u - static_cast<uint32_t>(bias) : static_cast<uint32_t>(bias);
  *o++ = bias <= 0 ? u'+' : u'-';
  o = PutDecimal(o, magnitude / 60, 2);
  return PutDecimal(o, magnitude % 60, 2);
}

void AppendOffset(Work& w, int32_t bias) {
  // The work buffer is empty: room for all of it.
  w.length = static_cast<size_t>(PutOffset(w.text + w.length, bias) - w.text);
}

// The name that "%Z" shows: of daylight saving time or standard time, none when the zone
// is not known.
const char16_t* ZoneNameText(const platform::ZoneSnapshot& zone) {
  if (zone.state == platform::ZoneDaylight) return zone.daylightName;
  return zone.state != platform::ZoneInvalid ? zone.standardName : u"";
}

// The military letter of a whole-hour offset within twelve hours, else "-".
void AppendMilitaryLetter(Work& w, const platform::ZoneSnapshot& zone) {
  static constexpr char16_t kLetters[] = u"YXWVUTSRQPONZABCDEFGHIKLM";  // bias +720 ... -720
  if (zone.state != platform::ZoneInvalid && zone.bias % 60 == 0 && zone.biasSeconds == 0 && zone.bias >= -720 &&
      zone.bias <= 720)
    AppendUnit(w, kLetters[12 - zone.bias / 60]);
  else
    AppendUnit(w, u'-');
}

// The value of a field. Fields of the ISO week date are computed once per call.
uint32_t FieldValue(Context& ctx, Field field) {
  const SYSTEMTIME& t = ctx.time;
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
    case Field::Hour12: return TwelveHour(t.wHour);
    case Field::Minute: return t.wMinute;
    case Field::Second: return t.wSecond;
    case Field::Millisecond: return t.wMilliseconds;
    case Field::Weekday: return Weekday(t);
    case Field::WeekdayFrom1: return Weekday(t) + 1;
    case Field::IsoWeekday: return Weekday(t) ? Weekday(t) : 7;
    case Field::IsoYear: TakeIsoWeek(ctx); return ctx.isoYear;
    case Field::IsoYear2: TakeIsoWeek(ctx); return ctx.isoYear % 100;
    case Field::IsoWeek: TakeIsoWeek(ctx); return ctx.isoWeek;
    case Field::IsoWeekWeekday: TakeIsoWeek(ctx); return ctx.isoWeekday;
    case Field::SundayWeek: return WeekOfYear(t, 0);
    case Field::MondayWeek: return WeekOfYear(t, 1);
    case Field::MonthLength: return DaysInMonth[MonthRow(t)][IsLeapYear(t.wYear)];
    case Field::YearLength: return 365u + static_cast<uint32_t>(IsLeapYear(t.wYear));
    case Field::LeapYear: return static_cast<uint32_t>(IsLeapYear(t.wYear));
    case Field::Literal:
    case Field::AmPm:
    case Field::MonthAbbrev: break;
  }
  return 0;
}

uint32_t RomanValue(Roman rule, uint32_t value, bool alt) {
  switch (rule) {
    case Roman::None: break;
    case Roman::Value: return value;
    case Roman::Hour24: return value ? value : 24;
    case Roman::Century: return alt ? value * 100 : value;
  }
  return 0;
}

// The most units that a number of a field takes: ten digits, wider than any padding.
constexpr ptrdiff_t kNumberText = 10;

// Writes the pieces of a composite directive at `o`, up to `end` (where a terminator
// may still go), and returns where it stopped.
char16_t* PutPieces(Context& ctx, std::span<const Piece> pieces, bool alt, Locale names, char16_t* o, char16_t* end) {
  for (const Piece& piece : pieces) {
    switch (piece.field) {
      case Field::Literal:
        if (o < end) *o++ = piece.unit;
        break;
      case Field::AmPm:
        FollowLocale(ctx);
        o += platform::LocaleText(Locale::User,
                                  ctx.time.wHour < 12 ? LocaleItem::AmDesignator : LocaleItem::PmDesignator, 0, o,
                                  static_cast<size_t>(end - o + 1));
        break;
      case Field::MonthAbbrev: {
        // At most 15 units, cut where a character ends.
        FollowLocale(ctx);
        size_t n = platform::LocaleText(names, LocaleItem::AbbrevMonthName, ctx.time.wMonth, o,
                                        static_cast<size_t>(end - o + 1));
        if (n > 15) {
          n = 15;
          if (IsHighSurrogate(o[n - 1])) --n;
        }
        o += n;
        break;
      }
      default:
        if (end - o < kNumberText) return o;
        o = PutDecimal(o, FieldValue(ctx, piece.field), alt ? piece.altWidth : piece.width, piece.pad);
        break;
    }
  }
  return o;
}

// Renders directive `c` (its row `d`, or null for a character that renders as itself)
// into the empty work buffer `w`.
// NOLINTNEXTLINE(readability-function-size): longer than 60 lines, not split yet
void RenderDirective(Context& ctx, const Directive* d, char16_t c, unsigned mods, Work& w) {
  const SYSTEMTIME& t = ctx.time;
  const bool alt = (mods & kAlternative) != 0;
  const Locale names = (mods & kEnglish) ? Locale::English : Locale::User;
  if (!d) {
    AppendUnit(w, c);
    return;
  }
  switch (d->kind) {
    case DirectiveKind::Number: {
      uint32_t value = FieldValue(ctx, d->field);
      w.length = static_cast<size_t>(PutDecimal(w.text, value, alt ? d->altWidth : d->width, d->pad) - w.text);
      w.numeric = true;
      w.ordinalValue = value;
      w.romanValue = RomanValue(d->roman, value, alt);
      break;
    }
    case DirectiveKind::Composite:
      w.length = static_cast<size_t>(
          PutPieces(ctx, alt ? d->altPieces : d->pieces, alt, names, w.text, w.text + kDirectiveText - 1) - w.text);
      break;
    case DirectiveKind::Percent: AppendString(w, ctx.doubling ? u"%%" : u"%"); break;
    case DirectiveKind::WeekdayLetter: AppendUnit(w, kWeekdayLetters[Weekday(t)]); break;
    case DirectiveKind::Unit: AppendUnit(w, d->unit); break;
    case DirectiveKind::AbbrevDayName:
      AppendLocaleText(ctx, w, names, LocaleItem::AbbrevDayName, static_cast<int>(Weekday(t)));
      if (alt && names == Locale::English && w.length > 2) w.length = 2;
      break;
    case DirectiveKind::DayName:
      AppendLocaleText(ctx, w, names, LocaleItem::DayName, static_cast<int>(Weekday(t)));
      break;
    case DirectiveKind::AbbrevMonthName: AppendLocaleText(ctx, w, names, LocaleItem::AbbrevMonthName, t.wMonth); break;
    case DirectiveKind::MonthName: AppendLocaleText(ctx, w, names, LocaleItem::MonthName, t.wMonth); break;
    case DirectiveKind::LocaleDateTime:
      FollowLocale(ctx);
      w.length += platform::LocaleDate(alt, t, w.text, kDirectiveText);
      AppendUnit(w, u' ');
      w.length += platform::LocaleTime(false, t, w.text + w.length, kDirectiveText - w.length);
      break;
    case DirectiveKind::LocaleDate:
      FollowLocale(ctx);
      w.length += platform::LocaleDate(alt, t, w.text, kDirectiveText);
      break;
    case DirectiveKind::LocaleTime:
      FollowLocale(ctx);
      w.length += platform::LocaleTime(alt, t, w.text, kDirectiveText);
      break;
    case DirectiveKind::Designator:
    case DirectiveKind::LowerDesignator:
      AppendDesignator(ctx, w, t.wHour);
      if (d->kind == DirectiveKind::LowerDesignator) platform::MapToLowerCase(w.text, w.length);
      break;
    case DirectiveKind::UnixTime: {
      int64_t seconds = UnixTime(ctx);
      uint64_t magnitude = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
      if (seconds < 0) AppendUnit(w, u'-');
      w.length = static_cast<size_t>(PutDecimal(w.text + w.length, magnitude) - w.text);
      w.numeric = true;
      w.ordinalValue = static_cast<uint32_t>(magnitude % 100);
      w.romanValue = 0;
      break;
    }
    case DirectiveKind::Offset: AppendOffset(w, (ctx.flags & FDT_UTC) ? 0 : Zone(ctx).bias); break;
    case DirectiveKind::ZoneName:
      if (alt)
        AppendMilitaryLetter(w, Zone(ctx));
      else
        AppendString(w, ZoneNameText(Zone(ctx)));
      break;
  }
}

// ---- The plain way --------------------------------------------------------------
// A plain directive (one computed from the date and time, or the zone's state there)
// without modifiers, for a date and time within the contract, goes straight into the
// output: the text that RenderDirective gives it, without the work buffer and the
// modifiers' steps. Each
// plain row gets a writer of its own, compiled from the row, so that its widths and
// fields are constants there.

// The digits that a field has within the contract, fewest and most.
struct DigitRange {
  unsigned fewest, most;
};
constexpr DigitRange DigitsWithinContract(Field field) {
  switch (field) {
    case Field::Year:
    case Field::IsoYear: return {4, 4};
    case Field::Century:
    case Field::MonthLength: return {2, 2};
    case Field::CenturyOrdinal: return {2, 3};  // 17 to 100
    case Field::YearLength: return {3, 3};
    case Field::DayOfYear:
    case Field::Millisecond: return {1, 3};
    case Field::DayCount: return {1, 7};
    case Field::Weekday:
    case Field::WeekdayFrom1:
    case Field::IsoWeekday:
    case Field::IsoWeekWeekday:
    case Field::LeapYear: return {1, 1};
    default: return {1, 2};
  }
}

// "00" to "99", two units each.
constexpr auto kDigitPairs = [] {
  std::array<char16_t, 200> pairs{};
  for (unsigned v = 0; v < 100; ++v) {
    pairs[2 * size_t{v}] = static_cast<char16_t>(u'0' + v / 10);
    pairs[2 * v + 1] = static_cast<char16_t>(u'0' + v % 10);
  }
  return pairs;
}();

// Exactly `Digits` digits of v (v < 10^Digits), zero-padded.
template <unsigned Digits>
char16_t* PutDigits(char16_t* o, uint32_t v) {
  if constexpr (Digits == 1) {
    *o = static_cast<char16_t>(u'0' + v);
  } else if constexpr (Digits == 2) {
    std::memcpy(o, &kDigitPairs[2 * size_t{v}], 2 * sizeof(char16_t));
  } else {
    PutDigits<Digits - 2>(o, v / 100);
    PutDigits<2>(o + Digits - 2, v % 100);
  }
  return o + Digits;
}

// A number of field `f` by (width, pad), as PutDecimal writes it.
template <Field F, unsigned Width, char16_t Pad>
char16_t* PutPlainNumber(Context& ctx, char16_t* o) {
  constexpr DigitRange digits = DigitsWithinContract(F);
  const uint32_t v = FieldValue(ctx, F);
  if constexpr (digits.fewest == digits.most && digits.most >= Width) {
    return PutDigits<digits.most>(o, v);
  } else if constexpr (digits.most <= Width && Pad == u'0') {
    return PutDigits<Width>(o, v);
  } else if constexpr (digits.most == 2 && Width == 2) {  // "%2u"
    o[0] = v < 10 ? Pad : kDigitPairs[2 * size_t{v}];
    o[1] = kDigitPairs[2 * v + 1];
    return o + 2;
  } else {
    return PutDecimal(o, v, Width, Pad);
  }
}

// A number below 10^8 without padding, two digits at a time from its end.
char16_t* PutShortCount(char16_t* o, uint32_t v) {
  const unsigned digits =
      1u + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) + (v >= 1000000) + (v >= 10000000);
  char16_t* const end = o + digits;
  char16_t* q = end;
  for (; v >= 100; v /= 100) PutDigits<2>(q -= 2, v % 100);
  if (v >= 10)
    PutDigits<2>(q - 2, v);
  else
    q[-1] = static_cast<char16_t>(u'0' + v);
  return end;
}

#if defined(__SSE2__)
// Exactly eight digits of v (v < 10^8), in one store: each digit in a lane of its own.
char16_t* PutEightDigits(char16_t* o, uint32_t v) {
  const __m128i x = _mm_cvtsi32_si128(static_cast<int>(v));
  // v / 10000 by a multiply (0xD1B71759 / 2^45 is 1/10000 closely enough below 10^8), and v % 10000.
  const __m128i high = _mm_srli_epi64(_mm_mul_epu32(x, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i low = _mm_sub_epi32(x, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
  // Four times each half, times four: [high x4, low x4].
  __m128i halves = _mm_slli_epi64(_mm_unpacklo_epi16(high, low), 2);
  halves = _mm_unpacklo_epi16(halves, halves);
  halves = _mm_unpacklo_epi32(halves, halves);
  // Each divided by 1000, 100, 10 and 1 (two multiplies by fixed-point reciprocals): the
  // prefixes [a, ab, abc, abcd, e, ef, efg, efgh] of the digits abcdefgh.
  const __m128i reciprocals = _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768);
  const __m128i shifts = _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768);
  const __m128i prefixes = _mm_mulhi_epu16(_mm_mulhi_epu16(halves, reciprocals), shifts);
  // Each prefix less ten times the one before it: the digit.
  const __m128i digits = _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_add_epi16(digits, _mm_set1_epi16(u'0')));
  return o + 8;
}
#else
char16_t* PutEightDigits(char16_t* o, uint32_t v) {
  PutDigits<4>(o, v / 10000);
  return PutDigits<4>(o + 4, v % 10000);
}
#endif

// A count without padding: eight digits at a time.
char16_t* PutCount(char16_t* o, uint64_t v) {
  if (v < 100000000) return PutShortCount(o, static_cast<uint32_t>(v));
  const uint64_t high = v / 100000000;
  if (high < 100) {  // nine or ten digits: the instants from 1973 to 5138
    o = high < 10 ? PutDigits<1>(o, static_cast<uint32_t>(high)) : PutDigits<2>(o, static_cast<uint32_t>(high));
  } else {
    o = high < 100000000 ? PutShortCount(o, static_cast<uint32_t>(high)) : PutCount(o, high);
  }
  return PutEightDigits(o, static_cast<uint32_t>(v % 100000000));
}

template <size_t Row, size_t I>
char16_t* PutPlainPiece(Context& ctx, char16_t* o) {
  constexpr Piece P = kDirectives[Row].pieces[I];
  if constexpr (P.field == Field::Literal) {
    *o = P.unit;
    return o + 1;
  } else {
    return PutPlainNumber<P.field, P.width, P.pad>(ctx, o);
  }
}

template <size_t Row>
size_t PutPlainDirective(Context& ctx, char16_t* o) {
  constexpr const Directive& d = kDirectives[Row];
  static_assert(IsPlainDirective(d));
  char16_t* const start = o;
  if constexpr (d.kind == DirectiveKind::Number) {
    o = PutPlainNumber<d.field, d.width, d.pad>(ctx, o);
  } else if constexpr (d.kind == DirectiveKind::Composite) {
    [&]<size_t... I>(std::index_sequence<I...>) { ((o = PutPlainPiece<Row, I>(ctx, o)), ...); }
    (std::make_index_sequence<d.pieces.size()>());
  } else if constexpr (d.kind == DirectiveKind::Percent) {
    *o++ = u'%';
    if (ctx.doubling) *o++ = u'%';
  } else if constexpr (d.kind == DirectiveKind::UnixTime) {
    int64_t seconds = UnixTime(ctx);
    if (seconds < 0) *o++ = u'-';
    o = PutCount(o, seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds));
  } else if constexpr (d.kind == DirectiveKind::Offset) {
    const int32_t bias = (ctx.flags & FDT_UTC) ? 0 : Zone(ctx).bias;
    const uint32_t magnitude = bias < 0 ? 0u - static_cast<uint32_t>(bias) : static_cast<uint32_t>(bias);
    if (magnitude < 100 * 60) {
      *o = bias <= 0 ? u'+' : u'-';
      PutDigits<2>(o + 1, magnitude / 60);
      o = PutDigits<2>(o + 3, magnitude % 60);
    } else {
      o = PutOffset(o, bias);
    }
  } else if constexpr (d.kind == DirectiveKind::ZoneName) {
    const platform::ZoneSnapshot& zone = Zone(ctx);
    if (zone.state != platform::ZoneInvalid) {
      // Four units at a time: the name's array has 32, and the output room for as many.
      // The first eight go at once, so that names of up to seven units, nearly all, take
      // no branch on their length (a zone's two names often differ in it: CET, CEST).
      const char16_t* name = zone.state == platform::ZoneDaylight ? zone.daylightName : zone.standardName;
      auto zeros = [](uint64_t v) { return (v - words::kUnitOnes) & ~v & words::kUnitHighs; };  // the lowest is exact
      const uint64_t first = words::Load(name), second = words::Load(name + 4);
      std::memcpy(o, &first, sizeof first);
      std::memcpy(o + 4, &second, sizeof second);
      const uint64_t inFirst = zeros(first), inSecond = zeros(second);
      size_t n = inFirst ? static_cast<size_t>(std::countr_zero(inFirst)) / 16
                         : 4 + static_cast<size_t>(std::countr_zero(inSecond)) / 16;
      if (!inFirst && !inSecond) {
        for (; n < 32; n += 4) {
          const uint64_t v = words::Load(name + n);
          std::memcpy(o + n, &v, sizeof v);
          if (const uint64_t inNext = zeros(v)) {
            n += static_cast<size_t>(std::countr_zero(inNext)) / 16;
            break;
          }
        }
      }
      o += n < 31 ? n : 31;
    }
  } else if constexpr (d.kind == DirectiveKind::WeekdayLetter) {
    *o++ = kWeekdayLetters[Weekday(ctx.time)];
  } else if constexpr (d.kind == DirectiveKind::Unit) {
    *o++ = d.unit;
  }
  return static_cast<size_t>(o - start);
}

// The most units that a plain directive writes: a zone's name, 31 units.
constexpr size_t kPlainText = 32;

using PlainWriter = size_t (*)(Context&, char16_t*);

// The writer of each plain directive character below U+0100; null for the rest.
constexpr auto kPlainWriters = []<size_t... Row>(std::index_sequence<Row...>) {
  std::array<PlainWriter, 256> writers{};
  auto put = [&]<size_t R>() {
    if constexpr (IsPlainDirective(kDirectives[R])) writers[kDirectives[R].c] = &PutPlainDirective<R>;
  };
  (put.template operator()<Row>(), ...);
  return writers;
}
(std::make_index_sequence<std::size(kDirectives)>());

// Reads the modifiers and the directive character after a "%", renders the directive
// and appends its text. Returns where the scan goes on.
const char16_t* RunDirective(Context& ctx, Output& out, const char16_t* p) {
  unsigned mods = 0;
  CaseMode caseMode = CaseMode::None;
  for (;; ++p) {
    switch (*p) {
      case u'#': mods |= kAlternative; continue;
      case u'E': mods |= kEnglish; continue;
      case u'O': mods |= kRoman; continue;
      case u'?': mods |= kOrdinal; continue;
      case u'~': mods |= kNative; continue;
      case u'!':
      case u'^': caseMode = CaseMode::Upper; continue;
      case u',': caseMode = CaseMode::Lower; continue;
      default: break;
    }
    break;
  }
  const char16_t c = *p;
  if (c == 0) return p;

  // While the output has room for a whole work buffer the directive is rendered in
  // place, right after the output's text, and needs no copy; near the end of the output
  // it is rendered aside and copied as far as it fits.
  char16_t aside[kDirectiveText];
  const bool inPlace = kOutputLimit - out.length >= kDirectiveText;
  Work w{inPlace ? out.text + out.length : aside, 0, false, 0, 0};
  if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) {
    // A character beyond the Basic Multilingual Plane renders as itself, both halves together.
    w.text[0] = c;
    w.text[1] = p[1];
    w.length = 2;
    ++p;
  } else {
    RenderDirective(ctx, FindDirective(c), c, mods, w);
  }
  if (w.length == 0) return p + 1;

  if (w.numeric) {
    if ((mods & kRoman) && w.romanValue)
      RomanNumeral(w.romanValue, mods & kAlternative, w.text, kDirectiveText, &w.length);
    if (mods & kOrdinal) w.length = AppendOrdinalSuffix(w.ordinalValue, w.text, w.length);
  }
  if (mods & kNative) {
    const char16_t* digits = NativeDigits(ctx);
    if (digits[0])
      for (size_t i = 0; i < w.length; ++i)
        if (w.text[i] >= u'0' && w.text[i] <= u'9') w.text[i] = digits[w.text[i] - u'0'];
  }
  if (caseMode != CaseMode::None) {
    FollowLocale(ctx);
    if (caseMode == CaseMode::Upper)
      platform::MapToUpperCase(w.text, w.length);
    else
      platform::MapToLowerCase(w.text, w.length);
  }
  if (inPlace)
    out.length += w.length;
  else
    EmitText(out, w.text, w.length);
  return p + 1;
}

}  // namespace

int64_t FormatDateTime(char16_t* out, const char16_t* format, const SYSTEMTIME& datetime, uint32_t flags) {
  if (!format) return -1;
  Context ctx{.time = datetime,
              .flags = flags,
              .doubling = (flags & FDT_NO_DOUBLE_PERCENT) == 0,
              .plain = WithinContract(datetime)};
  // The length stays in a register from one unit or directive to the next; the general
  // ways take it in an Output of their own.
  size_t length = 0;
  const char16_t* p = format;
  while (char16_t c = *p) {
    if (c == u'%') {
      PlainWriter put = ctx.plain && p[1] < kPlainWriters.size() ? kPlainWriters[p[1]] : nullptr;
      if (put && kOutputLimit - length >= kPlainText) {
        length += put(ctx, out + length);
        p += 2;
        continue;
      }
      Output o{out, length};
      p = RunDirective(ctx, o, p + 1);
      length = o.length;
    } else if (c == u'\\') {
      Output o{out, length};
      Escape e = ReadEscape(p + 1);
      EmitCodePoint(o, e.codePoint, ctx.doubling);
      length = o.length;
      p = e.next;
    } else if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) {
      // A pair is copied whole or not at all, so that a full output never ends in half of one.
      Output o{out, length};
      EmitCodePoint(o, CodePointFromSurrogates(c, p[1]), false);
      length = o.length;
      p += 2;
    } else {
      if (length < kOutputLimit) out[length++] = c;
      ++p;
    }
  }
  out[length] = 0;
  return static_cast<int64_t>(length);
}

}  // namespace horalin
