// The date format interpreter. One pass over the format: literal units and escapes go
// out through the emission rule; each directive renders into a work buffer, where
// shared code applies Roman numerals, ordinal suffixes, native digits and case before
// the text is appended.
#include "datetime/format.h"

#include <cstring>

#include "datetime/calendar.h"
#include "datetime/escapes.h"
#include "platform/platform.h"

namespace horalin {

namespace {

using platform::Locale;
using platform::LocaleItem;

constexpr size_t kOutputLimit = kFormatOutputCapacity - 1;  // units of text, without the terminator

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

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
    out.text[out.length++] = static_cast<char16_t>(((cp - 0x10000) >> 10) | 0xD800);
    out.text[out.length++] = static_cast<char16_t>((cp & 0x3FF) | 0xDC00);
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

// Unsigned decimal, padded on the left with `pad` to `width` units.
void AppendNumber(Work& w, uint64_t value, unsigned width, char16_t pad = u'0') {
  char16_t digits[24];
  unsigned n = 0;
  do digits[n++] = static_cast<char16_t>(u'0' + value % 10);
  while (value /= 10);
  for (; width > n; --width) AppendUnit(w, pad);
  while (n) AppendUnit(w, digits[--n]);
}

// A numeric directive: its decimal text and the values of "?" and "O".
void SetNumber(Work& w, uint32_t value, unsigned width, char16_t pad, uint32_t romanValue) {
  AppendNumber(w, value, width, pad);
  w.numeric = true;
  w.ordinalValue = value;
  w.romanValue = romanValue;
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
  bool zoneTaken = false;
  bool localeFresh = false;
  bool digitsTaken = false;
  bool isoTaken = false;
  platform::ZoneSnapshot* zone;  // filled on first use
  char16_t digits[10]{};         // digits[0] == 0: the locale has no digits of its own
  uint32_t isoYear = 0, isoWeek = 0, isoWeekday = 0;
};

const platform::ZoneSnapshot& Zone(Context& ctx) {
  if (!ctx.zoneTaken) {
    ctx.zoneTaken = true;
    bool utc = (ctx.flags & FDT_UTC) != 0;
    // The zone's rules in force at the local time being formatted, not at the moment of the call.
    platform::TakeZoneSnapshot(utc, utc ? nullptr : &ctx.time, ctx.zone);
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
    for (size_t i = 0; usable && i < 10; ++i) usable = answer[i] < 0xD800 || answer[i] > 0xDFFF;
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

// The abbreviated month name of "v": at most 15 units, cut where a character ends.
void AppendShortMonthName(Context& ctx, Work& w, Locale locale, unsigned month) {
  size_t start = w.length;
  AppendLocaleText(ctx, w, locale, LocaleItem::AbbrevMonthName, static_cast<int>(month));
  if (w.length - start > 15) {
    w.length = start + 15;
    if (IsHighSurrogate(w.text[w.length - 1])) --w.length;
  }
}

// Seconds since 1970-01-01 00:00:00 UTC of the local date and time, by the zone's bias.
int64_t UnixTime(Context& ctx) {
  const SYSTEMTIME& t = ctx.time;
  int64_t days = static_cast<int64_t>(DayNumberFromDate(t.wYear, t.wMonth, t.wDay)) - kUnixEpochDay;
  int64_t bias = (ctx.flags & FDT_UTC) ? 0 : Zone(ctx).bias;
  return days * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond + bias * 60;
}

void AppendOffset(Work& w, int32_t bias) {
  uint32_t magnitude = bias < 0 ? 0u - static_cast<uint32_t>(bias) : static_cast<uint32_t>(bias);
  AppendUnit(w, bias <= 0 ? u'+' : u'-');
  AppendNumber(w, magnitude / 60, 2);
  AppendNumber(w, magnitude % 60, 2);
}

// The military letter of a whole-hour offset within twelve hours, else "-".
void AppendMilitaryLetter(Work& w, const platform::ZoneSnapshot& zone) {
  static constexpr char16_t kLetters[] = u"YXWVUTSRQPONZABCDEFGHIKLM";  // bias +720 ... -720
  if (zone.state != platform::ZoneInvalid && zone.bias % 60 == 0 && zone.bias >= -720 && zone.bias <= 720)
    AppendUnit(w, kLetters[12 - zone.bias / 60]);
  else
    AppendUnit(w, u'-');
}

// Renders directive `c` into `w`.
void RenderDirective(Context& ctx, char16_t c, unsigned mods, Work& w) {
  const SYSTEMTIME& t = ctx.time;
  const bool alt = (mods & kAlternative) != 0;
  const Locale names = (mods & kEnglish) ? Locale::English : Locale::User;
  const unsigned w2 = alt ? 0 : 2;  // "%02u", or "%u" with "#"
  switch (c) {
    case u'%': AppendString(w, ctx.doubling ? u"%%" : u"%"); break;
    case u'@': AppendUnit(w, u"UMTWRFS"[Weekday(t)]); break;
    case u'a':
      AppendLocaleText(ctx, w, names, LocaleItem::AbbrevDayName, static_cast<int>(Weekday(t)));
      if (alt && names == Locale::English && w.length > 2) w.length = 2;
      break;
    case u'A': AppendLocaleText(ctx, w, names, LocaleItem::DayName, static_cast<int>(Weekday(t))); break;
    case u'b':
    case u'h': AppendLocaleText(ctx, w, names, LocaleItem::AbbrevMonthName, t.wMonth); break;
    case u'B': AppendLocaleText(ctx, w, names, LocaleItem::MonthName, t.wMonth); break;
    case u'c':
      FollowLocale(ctx);
      w.length += platform::LocaleDate(alt, t, w.text, kDirectiveText);
      AppendUnit(w, u' ');
      w.length += platform::LocaleTime(false, t, w.text + w.length, kDirectiveText - w.length);
      break;
    case u'C': SetNumber(w, t.wYear / 100u, 2, u'0', alt ? t.wYear / 100u * 100 : t.wYear / 100u); break;
    case u'd': SetNumber(w, t.wDay, w2, u'0', t.wDay); break;
    case u'D':
      AppendNumber(w, t.wMonth, w2);
      AppendUnit(w, u'/');
      AppendNumber(w, t.wDay, w2);
      AppendUnit(w, u'/');
      AppendNumber(w, t.wYear % 100u, w2);
      break;
    case u'e': SetNumber(w, t.wDay, w2, u' ', t.wDay); break;
    case u'F':
      AppendNumber(w, t.wYear, 0);
      AppendUnit(w, u'-');
      AppendNumber(w, t.wMonth, w2);
      AppendUnit(w, u'-');
      AppendNumber(w, t.wDay, w2);
      break;
    case u'g':
      TakeIsoWeek(ctx);
      SetNumber(w, ctx.isoYear % 100, 2, u'0', 0);
      break;
    case u'G':
      TakeIsoWeek(ctx);
      SetNumber(w, ctx.isoYear, 4, u'0', ctx.isoYear);
      break;
    case u'H': SetNumber(w, t.wHour, w2, u'0', t.wHour ? t.wHour : 24u); break;
    case u'I': SetNumber(w, TwelveHour(t.wHour), w2, u'0', TwelveHour(t.wHour)); break;
    case u'j': SetNumber(w, DayOfYear(t), alt ? 0 : 3, u'0', DayOfYear(t)); break;
    case u'J': {
      DayNumber n = DayNumberFromDate(t.wYear, t.wMonth, t.wDay);
      SetNumber(w, n > 0 ? static_cast<uint32_t>(n) : 0, 0, u'0', 0);
      break;
    }
    case u'k': SetNumber(w, t.wHour, w2, u' ', t.wHour ? t.wHour : 24u); break;
    case u'K': SetNumber(w, Weekday(t) + 1, 0, u'0', Weekday(t) + 1); break;
    case u'l': SetNumber(w, TwelveHour(t.wHour), w2, u' ', TwelveHour(t.wHour)); break;
    case u'L': SetNumber(w, t.wMilliseconds, alt ? 0 : 3, u'0', 0); break;
    case u'm': SetNumber(w, t.wMonth, w2, u'0', t.wMonth); break;
    case u'M': SetNumber(w, t.wMinute, w2, u'0', 0); break;
    case u'n': AppendUnit(w, u'\n'); break;
    case u'N': {
      uint32_t century = (t.wYear + 99u) / 100;
      SetNumber(w, century, 2, u'0', alt ? century * 100 : century);
      break;
    }
    case u'p': AppendDesignator(ctx, w, t.wHour); break;
    case u'P':
      AppendDesignator(ctx, w, t.wHour);
      platform::MapToLowerCase(w.text, w.length);
      break;
    case u'Q':
      if (alt) {
        TakeIsoWeek(ctx);
        AppendNumber(w, ctx.isoYear, 4);
        AppendString(w, u"-W");
        AppendNumber(w, ctx.isoWeek, 2);
        AppendUnit(w, u'-');
        AppendNumber(w, ctx.isoWeekday, 0);
      } else {
        AppendNumber(w, t.wYear, 4);
        AppendUnit(w, u'-');
        AppendNumber(w, DayOfYear(t), 3);
      }
      break;
    case u'r':
      AppendNumber(w, TwelveHour(t.wHour), 2);
      AppendUnit(w, u':');
      AppendNumber(w, t.wMinute, 2);
      AppendUnit(w, u':');
      AppendNumber(w, t.wSecond, 2);
      AppendUnit(w, u' ');
      AppendDesignator(ctx, w, t.wHour);
      break;
    case u'R':
      AppendNumber(w, t.wHour, w2);
      AppendUnit(w, u':');
      AppendNumber(w, t.wMinute, w2);
      break;
    case u's': {
      int64_t seconds = UnixTime(ctx);
      uint64_t magnitude = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
      if (seconds < 0) AppendUnit(w, u'-');
      AppendNumber(w, magnitude, 0);
      w.numeric = true;
      w.ordinalValue = static_cast<uint32_t>(magnitude % 100);
      w.romanValue = 0;
      break;
    }
    case u'S': SetNumber(w, t.wSecond, w2, u'0', 0); break;
    case u't': AppendUnit(w, u'\t'); break;
    case u'T':
      AppendNumber(w, t.wHour, w2);
      AppendUnit(w, u':');
      AppendNumber(w, t.wMinute, w2);
      AppendUnit(w, u':');
      AppendNumber(w, t.wSecond, w2);
      break;
    case u'u': SetNumber(w, Weekday(t) ? Weekday(t) : 7, 0, u'0', Weekday(t) ? Weekday(t) : 7); break;
    case u'U': SetNumber(w, WeekOfYear(t, 0), w2, u'0', 0); break;
    case u'v':
      AppendNumber(w, t.wDay, w2, u' ');
      AppendUnit(w, u'-');
      AppendShortMonthName(ctx, w, names, t.wMonth);
      AppendUnit(w, u'-');
      AppendNumber(w, t.wYear, alt ? 0 : 4);
      break;
    case u'V':
      TakeIsoWeek(ctx);
      SetNumber(w, ctx.isoWeek, w2, u'0', ctx.isoWeek);
      break;
    case u'w': SetNumber(w, Weekday(t), 0, u'0', 0); break;
    case u'W': SetNumber(w, WeekOfYear(t, 1), w2, u'0', 0); break;
    case u'x':
      FollowLocale(ctx);
      w.length += platform::LocaleDate(alt, t, w.text, kDirectiveText);
      break;
    case u'X':
      FollowLocale(ctx);
      w.length += platform::LocaleTime(alt, t, w.text, kDirectiveText);
      break;
    case u'y': SetNumber(w, t.wYear % 100u, w2, u'0', 0); break;
    case u'Y': SetNumber(w, t.wYear, 2, u'0', t.wYear); break;
    case u'z': AppendOffset(w, (ctx.flags & FDT_UTC) ? 0 : Zone(ctx).bias); break;
    case u'Z': {
      const platform::ZoneSnapshot& zone = Zone(ctx);
      if (alt)
        AppendMilitaryLetter(w, zone);
      else if (zone.state == platform::ZoneDaylight)
        AppendString(w, zone.daylightName);
      else if (zone.state != platform::ZoneInvalid)
        AppendString(w, zone.standardName);
      break;
    }
    case u'\u00C6': {  // days in the month
      uint32_t days = DaysInMonth[MonthRow(t)][IsLeapYear(t.wYear)];
      SetNumber(w, days, 0, u'0', days);
      break;
    }
    case u'\u00E6': {  // days in the year
      uint32_t days = 365u + static_cast<uint32_t>(IsLeapYear(t.wYear));
      SetNumber(w, days, 0, u'0', days);
      break;
    }
    case u'\u00E7': SetNumber(w, static_cast<uint32_t>(IsLeapYear(t.wYear)), 0, u'0', 0); break;
    default: AppendUnit(w, c); break;
  }
}

// Writers of the plain directives: digits straight into the output.
char16_t* PutDigit(char16_t* o, uint32_t v) {  // v < 10
  *o = static_cast<char16_t>(u'0' + v);
  return o + 1;
}
// "00" to "99", two units each.
constexpr auto kDigitPairs = [] {
  struct {
    char16_t units[200];
  } pairs{};
  for (unsigned v = 0; v < 100; ++v) {
    pairs.units[2 * v] = static_cast<char16_t>(u'0' + v / 10);
    pairs.units[2 * v + 1] = static_cast<char16_t>(u'0' + v % 10);
  }
  return pairs;
}();
// v < 100, "%02u": both units in one move.
char16_t* Put2(char16_t* o, uint32_t v) {
  std::memcpy(o, kDigitPairs.units + 2 * v, 2 * sizeof(char16_t));
  return o + 2;
}
char16_t* PutSpaced2(char16_t* o, uint32_t v) {  // v < 100, "%2u"
  o[0] = v < 10 ? u' ' : static_cast<char16_t>(u'0' + v / 10);
  o[1] = static_cast<char16_t>(u'0' + v % 10);
  return o + 2;
}
char16_t* Put3(char16_t* o, uint32_t v) { return Put2(PutDigit(o, v / 100), v % 100); }  // v < 1000, "%03u"
char16_t* Put4(char16_t* o, uint32_t v) { return Put2(Put2(o, v / 100), v % 100); }      // v < 10000, "%04u"
char16_t* PutDecimal(char16_t* o, uint32_t v, unsigned width) {                          // "%0*u"
  char16_t digits[10];
  unsigned n = 0;
  do digits[n++] = static_cast<char16_t>(u'0' + v % 10);
  while (v /= 10);
  for (; width > n; --width) *o++ = u'0';
  while (n) *o++ = digits[--n];
  return o;
}

// The most units that a plain directive writes.
constexpr size_t kPlainText = 16;

// A directive without modifiers that is computed from the date and time alone, for a
// date and time within the contract, written at `o` (room for kPlainText units): the
// text that RenderDirective gives it, which needs neither the work buffer nor the
// modifiers' steps. Returns the units written, or 0 for any other directive character
// (a modifier among them), which takes the general way.
size_t RenderPlainDirective(Context& ctx, char16_t c, char16_t* o) {
  const SYSTEMTIME& t = ctx.time;
  char16_t* const start = o;
  switch (c) {
    case u'%':
      *o++ = u'%';
      if (ctx.doubling) *o++ = u'%';
      break;
    case u'@': *o++ = u"UMTWRFS"[t.wDayOfWeek]; break;
    case u'C': o = Put2(o, t.wYear / 100u); break;
    case u'd': o = Put2(o, t.wDay); break;
    case u'D':
      o = Put2(o, t.wMonth);
      *o++ = u'/';
      o = Put2(o, t.wDay);
      *o++ = u'/';
      o = Put2(o, t.wYear % 100u);
      break;
    case u'e': o = PutSpaced2(o, t.wDay); break;
    case u'F':
      o = Put4(o, t.wYear);
      *o++ = u'-';
      o = Put2(o, t.wMonth);
      *o++ = u'-';
      o = Put2(o, t.wDay);
      break;
    case u'g':
      TakeIsoWeek(ctx);
      o = Put2(o, ctx.isoYear % 100);
      break;
    case u'G':
      TakeIsoWeek(ctx);
      o = PutDecimal(o, ctx.isoYear, 4);
      break;
    case u'H': o = Put2(o, t.wHour); break;
    case u'I': o = Put2(o, TwelveHour(t.wHour)); break;
    case u'j': o = Put3(o, DayOfYear(t)); break;
    case u'J': o = PutDecimal(o, static_cast<uint32_t>(DayNumberFromDate(t.wYear, t.wMonth, t.wDay)), 0); break;
    case u'k': o = PutSpaced2(o, t.wHour); break;
    case u'K': o = PutDigit(o, t.wDayOfWeek + 1u); break;
    case u'l': o = PutSpaced2(o, TwelveHour(t.wHour)); break;
    case u'L': o = Put3(o, t.wMilliseconds); break;
    case u'm': o = Put2(o, t.wMonth); break;
    case u'M': o = Put2(o, t.wMinute); break;
    case u'n': *o++ = u'\n'; break;
    case u'N': o = PutDecimal(o, (t.wYear + 99u) / 100, 2); break;
    case u'Q':
      o = Put4(o, t.wYear);
      *o++ = u'-';
      o = Put3(o, DayOfYear(t));
      break;
    case u'R':
      o = Put2(o, t.wHour);
      *o++ = u':';
      o = Put2(o, t.wMinute);
      break;
    case u'S': o = Put2(o, t.wSecond); break;
    case u't': *o++ = u'\t'; break;
    case u'T':
      o = Put2(o, t.wHour);
      *o++ = u':';
      o = Put2(o, t.wMinute);
      *o++ = u':';
      o = Put2(o, t.wSecond);
      break;
    case u'u': o = PutDigit(o, t.wDayOfWeek ? t.wDayOfWeek : 7u); break;
    case u'U': o = Put2(o, WeekOfYear(t, 0)); break;
    case u'V':
      TakeIsoWeek(ctx);
      o = Put2(o, ctx.isoWeek);
      break;
    case u'w': o = PutDigit(o, t.wDayOfWeek); break;
    case u'W': o = Put2(o, WeekOfYear(t, 1)); break;
    case u'y': o = Put2(o, t.wYear % 100u); break;
    case u'Y': o = Put4(o, t.wYear); break;
    case u'\u00C6': o = Put2(o, DaysInMonth[t.wMonth][IsLeapYear(t.wYear)]); break;         // days in the month
    case u'\u00E6': o = Put3(o, 365u + static_cast<uint32_t>(IsLeapYear(t.wYear))); break;  // days in the year
    case u'\u00E7': o = PutDigit(o, static_cast<uint32_t>(IsLeapYear(t.wYear))); break;
    default: break;
  }
  return static_cast<size_t>(o - start);
}

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
    RenderDirective(ctx, c, mods, w);
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
  Output o{out, 0};
  platform::ZoneSnapshot zone;  // left as it is until a directive needs it
  Context ctx{.time = datetime,
              .flags = flags,
              .doubling = (flags & FDT_NO_DOUBLE_PERCENT) == 0,
              .plain = WithinContract(datetime),
              .zone = &zone};
  const char16_t* p = format;
  while (char16_t c = *p) {
    if (c == u'%') {
      if (ctx.plain && kOutputLimit - o.length >= kPlainText) {
        if (size_t n = RenderPlainDirective(ctx, p[1], o.text + o.length)) {
          o.length += n;
          p += 2;
          continue;
        }
      }
      p = RunDirective(ctx, o, p + 1);
    } else if (c == u'\\') {
      Escape e = ReadEscape(p + 1);
      EmitCodePoint(o, e.codePoint, ctx.doubling);
      p = e.next;
    } else if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) {
      // A pair is copied whole or not at all, so that a full output never ends in half of one.
      EmitCodePoint(o, 0x10000 + ((c - 0xD800u) << 10) + (p[1] - 0xDC00u), false);
      p += 2;
    } else {
      if (o.length < kOutputLimit) o.text[o.length++] = c;
      ++p;
    }
  }
  out[o.length] = 0;
  return static_cast<int64_t>(o.length);
}

}  // namespace horalin
