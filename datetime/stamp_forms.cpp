#include "datetime/stamp_forms.h"

#include <cstring>

#include "common/text.h"
#include "common/words.h"
#include "datetime/calendar.h"
#include "datetime/instant.h"

namespace horalin {

// Directives beyond the format language's, for the rows only: %_T a "T" or one blank;
// %_f an optional fraction of 1 to 9 digits after "." or ","; %_z an optional offset, at
// once or after one blank; %_u a Unix time of 10 digits (seconds) or 13 (milliseconds)
// with an optional fraction.
const StampForm kStampForms[kStampFormCount] = {
    {u"ISO 8601 and RFC 3339, TS's own stamp", u"%Y-%m-%d%_T%H:%M:%S%_f%_z"},
    {u"web server", u"%d/%b/%Y:%H:%M:%S %z"},
    {u"RFC 2822", u"%a, %#d %b %Y %H:%M:%S %z"},
    {u"syslog", u"%b %e %H:%M:%S"},
    {u"Unix time", u"%_u"},
};

namespace {

enum class Step { Ok, No, Bad };

constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr uint64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

constexpr const char16_t* kMonthNames[12] = {u"January",   u"February", u"March",    u"April",
                                             u"May",       u"June",     u"July",     u"August",
                                             u"September", u"October",  u"November", u"December"};
constexpr const char16_t* kDayNames[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                          u"Thursday", u"Friday", u"Saturday"};

// The fields a pattern has set.
constexpr uint32_t kHasYear = 1, kHasMonth = 2, kHasDay = 4, kHasUnix = 8;

struct Cursor {
  const char16_t* p;
  const char16_t* end;
  uint32_t has;
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

// 1 to 9 digits of a second's fraction after "." or ",": No when none follows.
Step Fraction(Cursor& c, StampFields* f, bool comma) {
  if (c.p + 1 >= c.end || !(*c.p == u'.' || (comma && *c.p == u',')) || !IsAsciiDigit(c.p[1])) return Step::No;
  ++c.p;
  uint32_t units = 0, n = 0;
  for (; c.p < c.end && IsAsciiDigit(*c.p); ++c.p, ++n)
    if (n < 7) units = units * 10 + static_cast<uint32_t>(*c.p - u'0');
  if (n > 9) return Step::Bad;
  for (; n < 7; ++n) units *= 10;
  f->fraction = units;
  return Step::Ok;
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

// An offset that may be left out: at once, or after one blank when a whole one follows.
Step OptionalOffset(Cursor& c, StampFields* f) {
  Step step = Offset(c, f);
  if (step != Step::No || c.p >= c.end || *c.p != u' ') return step == Step::Bad ? Step::Bad : Step::Ok;
  Cursor after{c.p + 1, c.end, c.has};
  if (Offset(after, f) == Step::Ok && (after.p >= after.end || (!IsAsciiLetter(*after.p) && !IsAsciiDigit(*after.p)))) {
    c.p = after.p;
  } else {
    f->hasOffset = false;
  }
  return Step::Ok;
}

// Seconds since 1970: 10 digits; or milliseconds: 13 digits; then an optional fraction.
Step UnixTime(Cursor& c, StampFields* f) {
  uint64_t v = 0;
  const char16_t* start = c.p;
  for (; c.p < c.end && IsAsciiDigit(*c.p) && c.p - start < 14; ++c.p) v = v * 10 + static_cast<uint64_t>(*c.p - u'0');
  ptrdiff_t n = c.p - start;
  if (n != 10 && n != 13) return Step::No;
  uint64_t units = n == 10 ? v * kUnitsPerSecond : v * 10000;
  if (Fraction(c, f, false) == Step::Bad) return Step::Bad;
  units += n == 10 ? f->fraction : f->fraction / 1000;
  f->fraction = 0;
  f->isUnix = true;
  f->unixTime = units + kUnixEpochSeconds * kUnitsPerSecond;
  c.has |= kHasUnix;
  return Step::Ok;
}

Step Match(const char16_t* pattern, Cursor& c, StampFields* f);

// The directive at d (after "%" and an optional "#"). Advances d past it.
Step Directive(const char16_t*& d, bool flexible, Cursor& c, StampFields* f) {
  SYSTEMTIME& t = f->time;
  uint32_t v;
  int k;
  switch (*d++) {
    case u'Y':
      c.has |= kHasYear;
      if (c.end - c.p >= 4 && IsAsciiDigit(c.p[0]) && IsAsciiDigit(c.p[1]) && IsAsciiDigit(c.p[2]) &&
          IsAsciiDigit(c.p[3])) {
        t.wYear = static_cast<uint16_t>((c.p[0] - u'0') * 1000 + (c.p[1] - u'0') * 100 + (c.p[2] - u'0') * 10 +
                                        (c.p[3] - u'0'));
        c.p += 4;
        return Step::Ok;
      }
      if (!Digits(c, 4, 4, &v)) return Step::No;
      t.wYear = static_cast<uint16_t>(v);
      return Step::Ok;
    case u'y':
      c.has |= kHasYear;
      if (!Digits(c, 2, 2, &v)) return Step::No;
      t.wYear = static_cast<uint16_t>(v < 69 ? 2000 + v : 1900 + v);
      return Step::Ok;
    case u'm': c.has |= kHasMonth; return Field(c, flexible, &t.wMonth) ? Step::Ok : Step::No;
    case u'd': c.has |= kHasDay; return Field(c, flexible, &t.wDay) ? Step::Ok : Step::No;
    case u'e':
      c.has |= kHasDay;
      if (c.p < c.end && *c.p == u' ') ++c.p;
      return Field(c, true, &t.wDay) ? Step::Ok : Step::No;
    case u'H': return Field(c, flexible, &t.wHour) ? Step::Ok : Step::No;
    case u'M': return Field(c, flexible, &t.wMinute) ? Step::Ok : Step::No;
    case u'S': return Field(c, flexible, &t.wSecond) ? Step::Ok : Step::No;
    case u'L':
      if (!Digits(c, 3, 3, &v)) return Step::No;
      f->fraction = v * 10000;
      return Step::Ok;
    case u'b':
    case u'h':
    case u'B':
      c.has |= kHasMonth;
      if ((k = Name(c, kMonthNames, 12, d[-1] == u'B')) < 0) return Step::No;
      t.wMonth = static_cast<uint16_t>(k + 1);
      return Step::Ok;
    case u'a':
    case u'A': return Name(c, kDayNames, 7, d[-1] == u'A') < 0 ? Step::No : Step::Ok;
    case u'z': return Offset(c, f) == Step::Ok ? Step::Ok : Step::Bad;
    case u'F': return Match(u"%Y-%m-%d", c, f);
    case u'T': return Match(u"%H:%M:%S", c, f);
    case u's': return UnixTime(c, f);
    case u'%': return c.p < c.end && *c.p++ == u'%' ? Step::Ok : Step::No;
    default: return Step::No;
  }
}

// The rows' own directives, after "%_".
Step RowDirective(char16_t d, Cursor& c, StampFields* f) {
  switch (d) {
    case u'T':
      if (c.p >= c.end || (*c.p != u'T' && *c.p != u't' && *c.p != u' ')) return Step::No;
      ++c.p;
      return Step::Ok;
    case u'f': return Fraction(c, f, true) == Step::Bad ? Step::Bad : Step::Ok;
    case u'z': return OptionalOffset(c, f);
    case u'u': return UnixTime(c, f);
    default: return Step::No;
  }
}

// A blank of the pattern takes one or more blanks; any other character itself.
Step Match(const char16_t* pattern, Cursor& c, StampFields* f) {
  for (const char16_t* d = pattern; *d;) {
    Step step;
    if (*d != u'%') {
      if (c.p >= c.end || (IsBlank(*d) ? !IsBlank(*c.p) : *c.p != *d)) return Step::No;
      ++c.p;
      if (IsBlank(*d++))
        while (c.p < c.end && IsBlank(*c.p)) ++c.p;
      continue;
    }
    ++d;
    if (*d == u'_') {
      step = RowDirective(d[1], c, f);
      d += d[1] ? 2 : 1;
    } else {
      bool flexible = *d == u'#';
      if (flexible) ++d;
      step = Directive(d, flexible, c, f);
    }
    if (step != Step::Ok) return step;
  }
  return Step::Ok;
}

// The values of a stamp whose shape matched.
bool InRange(const StampFields& f, uint32_t has) {
  if (has & kHasUnix) return true;
  const SYSTEMTIME& t = f.time;
  if ((has & kHasYear) && (t.wYear < 1601 || t.wYear > 9999)) return false;
  if (t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1) return false;
  int leap = (has & kHasYear) ? IsLeapYear(t.wYear) : 1;
  return t.wDay <= DaysInMonth[t.wMonth][leap] && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59;
}

// The fixed head of a pattern, compiled once: the digits of %Y %m %d %H %M %S %L (four,
// two or three, each in its slot) and the literal characters between them (not blanks,
// which take one or more), and %_T. A stamp's head is then read by one loop whose turns
// are the same on every line, instead of directive by directive.
constexpr char16_t kTOrBlank = 1;
constexpr size_t kHeadUnits = 40;
constexpr int kSlots = 7;  // Y m d H M S L

struct CompiledHead {
  const char16_t* pattern;    // as given; null: free
  char16_t text[kHeadUnits];  // a copy of a caller's pattern, to tell a changed one
  uint8_t length;
  char16_t literal[kHeadUnits];  // 0: a digit of slot[k]
  uint8_t slot[kHeadUnits];
  bool ends[kHeadUnits];       // the last digit of its slot
  uint8_t starts[kHeadUnits];  // where the slot of a digit (or the literal) begins
  uint32_t has;
  char first;  // what the first unit of a stamp must be: 'd' a digit, 'a' an ASCII letter, 0 anything
  // The last head read and its values: the stamps of a log share most of their head
  // ("2026-12-07T17:39:"), which is then compared, not read again.
  bool lastValid;
  char16_t last[kHeadUnits];
  uint32_t lastValues[kSlots];
  const char16_t* rest;  // the pattern after the head
};

CompiledHead Heads[kStampFormCount + 1];  // the rows, and the last caller's pattern

void CompileHead(const char16_t* pattern, CompiledHead* h) {
  static constexpr char16_t kFields[] = u"YmdHMSL";
  static constexpr uint8_t kWidths[] = {4, 2, 2, 2, 2, 2, 3};
  static constexpr uint32_t kHas[] = {kHasYear, kHasMonth, kHasDay, 0, 0, 0, 0};
  h->pattern = pattern;
  h->length = 0;
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

CompiledHead& HeadOf(const char16_t* pattern) {
  for (size_t k = 0; k < kStampFormCount; ++k)
    if (pattern == kStampForms[k].pattern) {
      if (Heads[k].pattern != pattern) CompileHead(pattern, &Heads[k]);
      return Heads[k];
    }
  CompiledHead& h = Heads[kStampFormCount];
  size_t n = TextLength(pattern);
  bool same = h.pattern == pattern && n < kHeadUnits && h.text[n] == 0;
  for (size_t k = 0; same && k < n; ++k) same = h.text[k] == pattern[k];
  if (!same) {
    CompileHead(pattern, &h);
    h.pattern = n < kHeadUnits ? pattern : nullptr;
    if (h.pattern) CopyText(h.text, kHeadUnits, pattern);
  }
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
  c.p += h.length;
  c.has |= h.has;
  SYSTEMTIME& t = f->time;
  t.wYear = static_cast<uint16_t>(values[0]);
  t.wMonth = static_cast<uint16_t>(values[1]);
  t.wDay = static_cast<uint16_t>(values[2]);
  t.wHour = static_cast<uint16_t>(values[3]);
  t.wMinute = static_cast<uint16_t>(values[4]);
  t.wSecond = static_cast<uint16_t>(values[5]);
  f->fraction = values[6] * 10000;
  return Step::Ok;
}

}  // namespace

StampMatch MatchStampPattern(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                             size_t* used) {
  *fields = StampFields{};
  Cursor c{text, text + length, 0};
  CompiledHead& head = HeadOf(pattern);
  if (head.first && (length == 0 || !(head.first == 'd' ? IsAsciiDigit(text[0]) : IsAsciiLetter(text[0]))))
    return StampMatch::None;
  Step step = MatchHead(head, c, fields);
  if (step == Step::Ok) step = Match(head.rest, c, fields);
  if (step == Step::Bad) return StampMatch::Bad;
  if (step == Step::No) return StampMatch::None;
  if (c.p < c.end && (IsAsciiLetter(*c.p) || IsAsciiDigit(*c.p))) return StampMatch::None;
  if (!(c.has & kHasUnix) && (c.has & (kHasMonth | kHasDay)) != (kHasMonth | kHasDay)) return StampMatch::None;
  if (!InRange(*fields, c.has)) return StampMatch::Bad;
  *used = static_cast<size_t>(c.p - text);
  return StampMatch::Stamp;
}

StampMatch RecognizeStamp(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                          size_t* used) {
  if (pattern) return MatchStampPattern(pattern, text, length, fields, used);
  StampMatch result = StampMatch::None;
  for (const StampForm& form : kStampForms) {
    StampMatch m = MatchStampPattern(form.pattern, text, length, fields, used);
    if (m == StampMatch::Stamp) return m;
    if (m == StampMatch::Bad) result = m;
  }
  return result;
}

const char16_t* CheckStampPattern(const char16_t* pattern) {
  bool month = false, day = false, unix = false;
  for (const char16_t* d = pattern; *d; ++d) {
    if (*d != u'%') continue;
    const char16_t* at = d++;
    if (*d == u'#') ++d;
    switch (*d) {
      case u'Y':
      case u'y':
      case u'H':
      case u'M':
      case u'S':
      case u'L':
      case u'a':
      case u'A':
      case u'z':
      case u'T':
      case u'%': break;
      case u'm':
      case u'b':
      case u'h':
      case u'B': month = true; break;
      case u'd':
      case u'e': day = true; break;
      case u'F': month = day = true; break;
      case u's': unix = true; break;
      default: return at;
    }
  }
  return (month && day) || unix ? nullptr : pattern + TextLength(pattern);
}

bool StampInstant(const StampFields& f, const StampZone& zone, uint64_t* fileTime, const Services& services) {
  if (f.isUnix) {
    *fileTime = f.unixTime;
    return true;
  }
  DayNumber n = DayNumberFromDate(f.time.wYear, f.time.wMonth, f.time.wDay);
  if (n < 0) return false;
  int64_t seconds =
      int64_t{n - 1} * 86400 + int64_t{f.time.wHour} * 3600 + int64_t{f.time.wMinute} * 60 + f.time.wSecond;
  if (f.hasOffset) {
    seconds -= f.offset;
  } else if (zone.kind == StampZoneKind::Fixed) {
    seconds -= zone.offset;
  } else if (zone.kind == StampZoneKind::Local) {
    // Through the one resolver of local times, as @DATEFMT's dates are read.
    SYSTEMTIME local = f.time;
    local.wDayOfWeek = WeekdayOfDay(n);
    local.wMilliseconds = 0;
    DateTime resolved;
    if (!ResolveLocalTime(local, 0, false, services, &resolved)) return false;
    seconds = resolved.instant.seconds + kSecondsFrom1601To1970;
  }
  if (seconds < 0 || seconds >= int64_t{kLastDay} * 86400) return false;
  *fileTime = static_cast<uint64_t>(seconds) * kUnitsPerSecond + f.fraction;
  return true;
}

uint16_t SyslogYear(uint16_t month, uint16_t day, const SYSTEMTIME& today) {
  uint16_t year = today.wYear;
  // Compared as month * 32 + day, with a day's grace for a clock a little behind.
  if (month * 32 + day > today.wMonth * 32 + today.wDay + 1) --year;
  return year;
}

}  // namespace horalin
