// The restamp command: reads lines as TS reads them, finds a stamp at the start of each
// (after blanks, and inside "[" "]"), and writes the line again with the stamp rendered
// as TS renders its stamp, the elapsed times counted between the log's own stamps. The
// rest of the line is the reader's text, which the host writes as UTF-8: UTF-8 input
// comes out as it went in.

#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <span>
#include <string_view>

#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"
#include "datetime/calendar.h"
#include "datetime/directives.h"
#include "datetime/format.h"
#include "datetime/instant.h"
#include "datetime/parser.h"
#include "datetime/stamp_forms.h"
#include "host/host.h"
#include "lines/platform_services.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "plugin/stamped_lines.h"
#include "plugin/switch_reader.h"

namespace horalin {

namespace {

constexpr size_t kMaxForms = 8;

// How stamps are read: restamp's own options.
struct StampReading {
  char16_t forms[kMaxForms][kSmallText];  // /FORM's patterns, tried in turn
  const char16_t* patterns[kMaxForms];
  size_t formCount;   // 0: every known form
  StampZone zone;     // /ZONE
  bool namedZone;     // /ZONE named a zone of its own: `zone` is Local, in `services`
  Services services;  // the platform's, with the named zone's for the zone
  uint16_t year;      // /YEAR; 0: the current year
  bool relative;      // /R
};

// One call's record of what restamp shares with TS: the options, the stamps, and a
// stream for input that is not read as bytes. Made by the call, on the heap.
struct RestampCall {
  StampedOptions options;
  LineStamps stamps;
  StampedStream in;
};

// How a log's stamps are read and what its reading keeps from line to line: part of the
// command's context, passed down.
struct RestampState {
  RestampCall* call;  // the record of the call that runs (none for datefmt --lines)
  StampReading reading;
  // The known forms that this log's stamps are read by: all but the bare numbers until
  // the first stamp, then the numbers alone when it was one, else all but them.
  uint32_t rows;
  uint64_t previousInstant;   // of the last stamp read, which settles a repeated local hour
  SYSTEMTIME previousTime;    // and its date and time as written, for a time of day alone
  bool quoteStamp;            // the stamp replaces a JSON number: written in double quotes
  uint32_t stampNanoseconds;  // the fraction of the last stamp read
  size_t lastForm;            // the form of the last stamp read, tried first
  bool lastInside;            // it stood past the line's start: looked for there first
  bool started;               // the first stamp has set the start
  uint16_t syslogYear;        // with /YEAR: the year of the last stamp without one
  uint16_t syslogMonth;       // and its month
  StampHeads heads;           // the forms' heads, compiled for this log
  uint32_t dayKey;            // the date of the last stamp read at once (year, month, day in bits)
  DayNumber day;              // and its day number
  SYSTEMTIME today;           // UTC, for the year of a stamp without one
  uint64_t now;               // for /R
  uint32_t restamped;
  uint32_t unreadable;  // lines that began with a stamp's shape and a bad value
  char16_t elapsed[kFormatText];
  char16_t quoted[kFormatText];
  bool stampWithAge;  // /R with a format, /D or /T: the stamp, then its age
  // The line to write: what stood before the stamp, the new stamp, the rest, CR LF.
  alignas(16) char16_t out[kLineCapacity + kFormatText + 2];
};

const ZoneSnapshot& NamedZoneAt(bool utc, const SYSTEMTIME* localTime, LocalKind* kind) {
  return utc ? kPlatformServices.zoneAt(true, localTime, kind) : platform::NamedZoneSnapshot(localTime, kind);
}

bool ReadZone(const char16_t* value, StampReading* r) {
  int32_t offset;
  r->namedZone = false;
  r->services = kPlatformServices;
  if (CompareNoCase(value, u"LOCAL") == 0) {
    r->zone = StampZone{StampZoneKind::Local, 0};
  } else if (CompareNoCase(value, u"UTC") == 0 || CompareNoCase(value, u"Z") == 0) {
    r->zone = StampZone{StampZoneKind::Utc, 0};
  } else if ((value[0] == u'+' || value[0] == u'-') && ReadStampOffset(value, &offset)) {
    r->zone = StampZone{StampZoneKind::Fixed, offset};
  } else if (platform::SelectNamedZone(value)) {
    r->zone = StampZone{StampZoneKind::Local, 0};
    r->namedZone = true;
    r->services.zoneAt = NamedZoneAt;
  } else {
    return false;
  }
  return true;
}

// /FORM's value: a pattern of the stamp forms' directives, added to those given, or
// nothing for every known form.
bool ReadForm(const char16_t* value, StampReading* r) {
  if (!*value) return true;
  if (const char16_t* fault = CheckStampPattern(value)) {
    if (*fault)
      ReportError(u"Unknown directive in the stamp form: \"%s\"\r\n", fault);
    else
      ReportError(u"The stamp form names no date: \"%s\"\r\n", value);
    return false;
  }
  if (r->formCount == kMaxForms) {
    ReportError(u"More than %u stamp forms: \"%s\"\r\n", static_cast<uint32_t>(kMaxForms), value);
    return false;
  }
  CopyText(r->forms[r->formCount], kSmallText, value);
  r->patterns[r->formCount] = r->forms[r->formCount];
  ++r->formCount;
  return true;
}

bool ReadYear(const char16_t* value, uint16_t* year) {
  uint32_t number = 0;
  if (ParseUnsignedNumber(value, &number) != 0 || number < 1601 || number > 9999) {
    ReportError(u"Bad year: \"%s\"\r\n", value);
    return false;
  }
  *year = static_cast<uint16_t>(number);
  return true;
}

// Restamp's own switches (and those of datefmt --lines), over its StampReading: the rows
// of kTsSwitches for reading stamps.
SwitchRead Read(bool ok) { return ok ? SwitchRead::kRun : SwitchRead::kFailed; }

SwitchRead ApplyStampForm(void* reading, const SwitchArgument& a) {
  return Read(ReadForm(a.value, static_cast<StampReading*>(reading)));
}

SwitchRead ApplyStampZone(void* reading, const SwitchArgument& a) {
  if (ReadZone(a.value, static_cast<StampReading*>(reading))) return SwitchRead::kRun;
  ReportError(u"Bad zone: \"%s\" (LOCAL, UTC, an offset such as +01:00%s)\r\n", a.value, platform::kZoneNamesTaken);
  return SwitchRead::kFailed;
}

SwitchRead ApplyStampYear(void* reading, const SwitchArgument& a) {
  return Read(ReadYear(a.value, &static_cast<StampReading*>(reading)->year));
}

SwitchRead ApplyRelative(void* reading, const SwitchArgument&) {
  static_cast<StampReading*>(reading)->relative = true;
  return SwitchRead::kRun;
}

constexpr SwitchApplier kReadingSwitchAppliers[] = {
    {SwitchEffect::StampForm, ApplyStampForm},
    {SwitchEffect::StampZone, ApplyStampZone},
    {SwitchEffect::StampYear, ApplyStampYear},
    {SwitchEffect::Relative, ApplyRelative},
};
static_assert(AppliesEveryRow(kSwitchRestamp, kReadingSwitchAppliers, kSwitchTs),
              "a switch of restamp's without its applier");
static_assert(AppliesEveryRow(kSwitchLines, kReadingSwitchAppliers), "a switch of datefmt --lines without its applier");

SwitchAppliers ReadingSwitches(StampReading& reading) {
  return SwitchAppliers{kReadingSwitchAppliers, sizeof kReadingSwitchAppliers / sizeof kReadingSwitchAppliers[0],
                        &reading};
}

void ResetState(RestampState& s) {
  std::memset(&s, 0, sizeof s);
  s.reading.zone = StampZone{StampZoneKind::Local, 0};
  s.reading.services = kPlatformServices;
  s.rows = kEveryStampForm & ~NumberStampForms();
  s.lastForm = SIZE_MAX;
  const Instant now = platform::CurrentInstant();
  DateTime today;
  if (DateTimeAt(now, true, kPlatformServices, &today)) s.today = today.local;
  s.now = FileTimeOfInstant(now);
}

// Whether a stamp of a known form may be read as the log's: a bare number only where the
// log's stamps are numbers, and not more than a day after now (an id of ten digits is
// far in the future); the first stamp decides.
bool TakeForm(RestampState& s, const StampFields& f, size_t row) {
  static const uint32_t numbers = NumberStampForms();
  bool number = numbers & (1u << row);
  if (number && f.unixTime > s.now + 864000000000ull) return false;
  if (!s.started) s.rows = number ? numbers : kEveryStampForm & ~numbers;
  return true;
}

StampMatch RecognizeAt(RestampState& s, const char16_t* text, size_t length, StampFields* f, size_t* used) {
  const StampReading& r = s.reading;
  // Before the log's first stamp, a bare number is tried after the other forms.
  uint32_t rows = s.started ? s.rows : kEveryStampForm;
  size_t which = 0;
  StampMatch m =
      RecognizeStampIn(StampChoice{r.patterns, r.formCount, rows, s.lastForm, &s.heads}, text, length, f, used, &which);
  if (m == StampMatch::Stamp && !r.formCount && !TakeForm(s, *f, which)) return StampMatch::None;
  if (m == StampMatch::Stamp) s.lastForm = which;
  return m;
}

// The date of a stamp that has none or no year: a syslog stamp's year, and for a time
// of day alone (TS's /T) the date of the stamp before, the next day when the time is more
// than 12 hours before that one's (midnight passed); today's for the log's first.
void CompleteDate(RestampState& s, StampFields& f) {
  SYSTEMTIME& t = f.time;
  if (f.timeOnly) {
    SYSTEMTIME before = s.previousTime;
    if (!before.wYear) {  // today, in the zone of TZ unless the stamps are UTC or fixed
      DateTime now;
      before = s.today;
      if (s.reading.zone.kind == StampZoneKind::Local &&
          DateTimeAt(platform::CurrentInstant(), false, kPlatformServices, &now))
        before = now.local;
      before.wHour = before.wMinute = before.wSecond = 0;
    }
    DayNumber n = DayNumberFromDate(before.wYear, before.wMonth, before.wDay);
    int32_t was = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    if (t.wHour * 3600 + t.wMinute * 60 + t.wSecond + 43200 < was) ++n;
    uint32_t year = 0, month = 0, day = 0;
    DateFromDayNumber(n, &year, &month, &day);
    t.wYear = static_cast<uint16_t>(year), t.wMonth = static_cast<uint16_t>(month), t.wDay = static_cast<uint16_t>(day);
  } else if (!f.isUnix && t.wYear == 0) {
    if (!s.reading.year) {
      t.wYear = SyslogYear(t.wMonth, t.wDay, s.today);
    } else {
      // A log of a year named: its stamps run forward, into the next year after December.
      if (!s.syslogYear) s.syslogYear = s.reading.year;
      if (t.wMonth < s.syslogMonth && s.syslogYear < 9999) ++s.syslogYear;
      s.syslogMonth = t.wMonth;
      t.wYear = s.syslogYear;
    }
  }
}

// The instant of a stamp read: its date completed, in the reading's zone. False when it
// has none; a word after it that names no zone is then the line's text, out of *used.
bool InstantOf(RestampState& s, StampFields& f, size_t* used, uint64_t* instant) {
  CompleteDate(s, f);
  bool wordRead = false;
  if (!StampInstant(f, s.reading.zone, instant, s.reading.services, s.previousInstant, &wordRead)) return false;
  if (f.zoneWord[0] && !wordRead && f.usedBeforeWord) *used = f.usedBeforeWord;
  return true;
}

// The stamp at p taken as the line's: where it begins, and the log's last stamp.
void TakeStamp(RestampState& s, const StampFields& f, size_t p, size_t* begin, size_t* used, uint64_t instant) {
  *begin = p + f.lead;
  *used -= f.lead;
  s.previousInstant = instant;
  s.previousTime = f.time;
  s.stampNanoseconds = f.nanoseconds;
}

// The stamp at text[p, length), which `close` must follow when it is not 0, and its
// instant: where it begins and how long it is.
StampMatch FindStampAt(RestampState& s, const char16_t* text, size_t length, size_t p, char16_t close, size_t* begin,
                       size_t* used, uint64_t* instant) {
  StampFields f;
  StampMatch m = close == u',' ? MatchStampPattern(u"%s", text + p, length - p, &f, used, &s.heads)
                               : RecognizeAt(s, text + p, length - p, &f, used);
  if (m != StampMatch::Stamp) return m;
  if (!InstantOf(s, f, used, instant)) return StampMatch::Bad;
  size_t after = p + *used;
  if (close == u',' ? after < length && text[after] != u',' && text[after] != u'}' && text[after] != u' '
                    : close && (after >= length || text[after] != close))
    return StampMatch::None;
  TakeStamp(s, f, p, begin, used, *instant);
  return StampMatch::Stamp;
}

// Where `word` begins in text[from, limit), or limit.
size_t Find(const char16_t* text, size_t from, size_t limit, const char16_t* word) {
  size_t n = TextLength(word);
  for (size_t k = from; k + n <= limit; ++k)
    if (text[k] == word[0] && std::memcmp(text + k, word, n * sizeof(char16_t)) == 0) return k;
  return limit;
}

// A stamp past the line's start: inside the first "[" "]" (the web server's log with the
// client first), or a JSON line's field of kStampFieldNames, a string or a number (a Unix
// time, written again in double quotes); within the first kStampLookUnits units.
StampMatch FindStampInside(RestampState& s, const char16_t* text, size_t length, size_t* begin, size_t* used,
                           uint64_t* instant) {
  size_t limit = length < kStampLookUnits ? length : kStampLookUnits;
  size_t bracket = Find(text, 1, limit, u"[");
  if (bracket < limit) {
    StampMatch m = FindStampAt(s, text, length, bracket + 1, u']', begin, used, instant);
    if (m != StampMatch::None) return m;
  }
  if (text[0] != u'{') return StampMatch::None;
  for (const char16_t* name : kStampFieldNames) {
    size_t at = Find(text, 1, limit, name);
    if (at == limit) continue;
    size_t p = at + TextLength(name);
    while (p < length && text[p] == u' ') ++p;
    bool quoted = p < length && text[p] == u'"';
    StampMatch m = FindStampAt(s, text, length, p + quoted, quoted ? u'"' : u',', begin, used, instant);
    s.quoteStamp = m == StampMatch::Stamp && !quoted;
    return m;
  }
  return StampMatch::None;
}

// The stamp of a line and its instant: where it begins and how long it is. At the line's
// start, after blanks and inside a "[" whose "]" follows it; else inside (known forms).
StampMatch FindStamp(RestampState& s, const char16_t* text, size_t length, size_t* begin, size_t* used,
                     uint64_t* instant) {
  size_t p = 0;
  while (p < length && (text[p] == u' ' || text[p] == u'\t')) ++p;
  bool bracket = p < length && text[p] == u'[';
  s.quoteStamp = false;
  bool inside = !s.reading.formCount && length > 0;
  StampMatch m = StampMatch::None;
  // Where the log's last stamp stood is looked at first: a log's stamps stand in one place.
  if (inside && s.lastInside && (m = FindStampInside(s, text, length, begin, used, instant)) != StampMatch::None)
    return m;
  m = FindStampAt(s, text, length, p + bracket, bracket ? u']' : 0, begin, used, instant);
  if (m != StampMatch::None || !inside || s.lastInside) {
    if (m == StampMatch::Stamp) s.lastInside = false;
    return m;
  }
  m = FindStampInside(s, text, length, begin, used, instant);
  if (m == StampMatch::Stamp) s.lastInside = true;
  return m;
}

const char16_t* Quoted(RestampState& s, const char16_t* stamp) {
  FormatText(s.quoted, kFormatText, u"\"%s\"", stamp);
  return s.quoted;
}

// The new stamp for a stamp's instant, as TS would have stamped the line at that moment;
// with /R the time from it to now.
const char16_t* RenderStamp(RestampState& r, uint64_t instant) {
  LineStamps& s = r.call->stamps;
  const StampedOptions& o = r.call->options;
  if (!r.started) {
    s.start = s.previous = instant;
    r.started = true;
  }
  // The stamp's own fraction, every digit of it, not the file time's 100 nanoseconds.
  Moment moment{Instant{InstantOfFileTime(instant).seconds, r.stampNanoseconds}, instant};
  if (!r.reading.relative) {
    // An instant whose local time falls outside the years shown is refused: no stamp.
    if (MakeLineStamp(s.text, o.format, o.stampFlags | TSF_SIGNED, o.formatFlags, moment, s.start, &s.previous,
                      &s.cache) != 0)
      return nullptr;
    return r.quoteStamp ? Quoted(r, s.text) : s.text;
  }
  s.text[0] = 0;
  if (r.stampWithAge) {
    if (MakeLineStamp(s.text, o.format, o.stampFlags & ~(TSF_INCREMENTAL | TSF_CUMULATIVE), o.formatFlags, moment,
                      s.start, &s.previous, &s.cache) != 0)
      return nullptr;
    AppendStampSeparator(s.text);
  }
  if (instant > r.now) AppendText(s.text, kFormatText, u"-");
  AppendElapsedText(s.text, instant > r.now ? instant - r.now : r.now - instant);
  MakeLineStamp(r.elapsed, u"", o.stampFlags | TSF_SIGNED, o.formatFlags, moment, s.start, &s.previous);
  if (r.elapsed[0]) {
    AppendStampSeparator(s.text);
    AppendText(s.text, kFormatText, r.elapsed);
  }
  return r.quoteStamp ? Quoted(r, s.text) : s.text;
}

// The stamp's length, four units at a time (the stamp text has room for the four that
// begin at its terminator).
size_t StampLength(const char16_t* stamp) {
  size_t n = 0;
  while (!words::HasZeroUnit(words::Load(stamp + n))) n += 4;
  while (stamp[n]) ++n;
  return n;
}

void RestampLine(RestampState& s, char16_t* line, size_t length) {
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = FindStamp(s, line, length, &begin, &used, &instant);
  if (m != StampMatch::Stamp) {
    if (m == StampMatch::Bad) ++s.unreadable;
    Printf(u"%s\r\n", line);
    return;
  }
  const char16_t* stamp = RenderStamp(s, instant);
  if (!stamp) {  // the line stays as it is, counted with the stamps that could not be read
    ++s.unreadable;
    Printf(u"%s\r\n", line);
    return;
  }
  ++s.restamped;
  // One text for the host to write: a line costs one pass through its output.
  size_t stampLength = StampLength(stamp), restLength = length - begin - used;
  char16_t* out = s.out;
  std::memcpy(out, line, begin * sizeof(char16_t));
  std::memcpy(out + begin, stamp, stampLength * sizeof(char16_t));
  std::memcpy(out + begin + stampLength, line + begin + used, restLength * sizeof(char16_t));
  char16_t* end = out + begin + stampLength + restLength;
  end[0] = u'\r';
  end[1] = u'\n';
  end[2] = 0;
  QPuts(out);
}

// ---- A log kept as its bytes ----------------------------------------------------
// Byte text (UTF-8, Latin-1, any code page that keeps ASCII) is not decoded: a line is cut
// at its LF alone (a CR before it stays, and a CR elsewhere is the line's), the stamp is
// looked for in the first kLookUnits bytes widened to units (a stamp is ASCII; any other
// byte stands for one unit that no form reads), and everything but the stamp is written
// as it came, through the host's writer of bytes. The line end is the line's own, and a
// last line without one stays without one.

constexpr size_t kLookUnits = 256;       // how far into a line a stamp is looked for
constexpr size_t kByteLine = 32768;      // the head of a line kept whole; the rest streams
constexpr size_t kByteOut = 65536;       // output collected before it goes to the host
constexpr size_t kByteOutFlush = 32768;  // ... and written once it holds this much
constexpr size_t kByteBlock = 65536;     // read at once: fewer calls to the system than the reader's blocks

struct ByteLog {
  platform::OutputBytesWriter write;
  size_t lineLength;  // the line so far, in `line`
  bool passing;       // the rest of a line longer than `line` goes through as it is
  bool first;         // the source's first line, which may begin with a byte order mark
  size_t outUsed;
  uint8_t block[kByteBlock];
  size_t held;  // bytes of `block` read to decide the path, to be taken first
  char line[kByteLine];
  char out[kByteOut];
  char16_t head[kLookUnits + 1];
};

// The new stamp of one second. Within a second a stamp differs only in the digits of its
// fractions, which the plain %L, %f and %i write (3, 6 and 9 digits of the fraction) and
// nothing else does: it is rendered once a second, in UTF-8, with the places of those
// digits, which each line then writes in. When nothing but literal text follows the
// first fraction, the format's steps before it are rendered and the rest is the same
// every second; else the places are where the renderings at the second's start and end
// differ ("000" and "999"). A second whose renderings differ otherwise, or whose stamp is
// longer than kSecondUnits, is left to RenderStamp. With a tail, and a plain %S or %T as
// the only directive before it that shows the second, a second whose record shows the
// same minute in the same state of the zone as the one rendered last takes that stamp
// with its own two digits of the second.
constexpr size_t kSecondUnits = 128;
constexpr size_t kMaxFractions = 4;
constexpr size_t kNoFraction = SIZE_MAX;

struct SecondStamp {
  bool usable;  // the options and format allow it (SetUpSecondStamp)
  bool utc;     // the format's FDT_UTC
  size_t fractionCount;
  uint8_t widths[kMaxFractions];  // the digits of each fraction, in the format's order
  size_t firstFraction;           // the step of the first, when only fractions and literal text follow it
  size_t stepCount;               // the format's
  size_t tailLength;              // what follows the steps before the first: its bytes
  size_t tailPlaces[kMaxFractions];
  char tail[3 * kSecondUnits];
  size_t secondStep;  // the one plain %S before the first fraction, when nothing else there shows the second
  bool minuteKnown;   // `minute` is the record whose minute `text` shows, its seconds at `secondPlace`
  DateTime minute;
  size_t secondPlace;
  bool known;      // `second` has been rendered
  int64_t second;  // since 1970
  bool refused;    // its local time falls outside the years shown
  bool fits;       // `text` holds its stamp
  size_t length;
  size_t places[kMaxFractions];  // of the fractions' digits in `text`
  char text[kSecondUnits * 6];   // the steps before the first fraction, then the tail: 3 bytes a unit
  char16_t low[kFormatText];     // the renderings at the second's start and end
  char16_t high[kFormatText];
  CompiledFormat steps;
};

// What one call of restamp keeps: made by the call, on the heap, and passed down.
struct RestampContext {
  RestampCall call;
  RestampState state;
  ByteLog bytes;
  SecondStamp second;
};

void FlushBytes(ByteLog& b) {
  if (b.outUsed) b.write(b.out, b.outUsed);
  b.outUsed = 0;
}

void PutBytes(ByteLog& b, const char* bytes, size_t count) {
  if (b.outUsed + count > kByteOut) {
    FlushBytes(b);
    if (count > kByteOutFlush) {
      b.write(bytes, count);
      return;
    }
  }
  std::memcpy(b.out + b.outUsed, bytes, count);
  b.outUsed += count;
}

// The first n bytes of a line as units, for the recognizer: a 7-bit byte as itself, any
// other as U+FFFD, which no form reads.
void WidenHead(ByteLog& b, const char* bytes, size_t n) {
  for (size_t k = scans::fast::WidenAscii(bytes, n, b.head); k < n; ++k) {
    auto u = static_cast<uint8_t>(bytes[k]);
    b.head[k] = u < 0x80 ? u : u'\uFFFD';
  }
  b.head[n] = 0;
}

// The new stamp in UTF-8 (the encoder copies its 7-bit runs as they are).
void PutStamp(ByteLog& b, const char16_t* stamp, size_t length) {
  if (b.outUsed + 3 * length > kByteOut) FlushBytes(b);
  b.outUsed += Utf8FromUtf16(stamp, length, b.out + b.outUsed);
}

// The stamp after the steps before the first fraction, when only fractions and their
// literal runs follow: the same every second. Without one (kNoFraction), or a tail
// longer than kSecondUnits, the places come from two renderings of each second.
void SetUpTail(SecondStamp& q, size_t first) {
  q.firstFraction = kNoFraction;
  if (first == kNoFraction) return;
  size_t bytes = 0, units = 0;
  for (size_t k = first, j = 0; k < q.stepCount; ++k, ++j) {
    const FormatStep& step = q.steps.steps[k];
    units += q.widths[j] + step.count;
    if (units > kSecondUnits) return;
    q.tailPlaces[j] = bytes;
    std::memset(q.tail + bytes, '0', q.widths[j]);
    bytes += q.widths[j];
    bytes += Utf8FromUtf16(q.steps.literal + step.start, step.count, q.tail + bytes);
  }
  q.tailLength = bytes;
  q.firstFraction = first;
}

// Whether a directive's text stays the same through a minute but for the zone's state:
// not the second's (%S aside, which SecondStamp writes in), the instant's or the locale's
// time, which may show the second.
bool SameThroughMinute(char16_t c) {
  if (!c) return true;
  for (const Directive& row : kDirectives) {
    if (row.c != c) continue;
    switch (row.kind) {
      case DirectiveKind::Number:
        return row.field != Field::Second && row.field != Field::Millisecond && row.field != Field::Microsecond &&
               row.field != Field::Nanosecond;
      case DirectiveKind::Composite:
        for (std::span<const Piece> pieces : {row.pieces, row.altPieces})
          for (const Piece& piece : pieces)
            if (piece.kind == PieceKind::Number && piece.field == Field::Second) return false;
        return true;
      case DirectiveKind::UnixTime:
      case DirectiveKind::LocaleDateTime:
      case DirectiveKind::LocaleTime: return false;
      default: return true;
    }
  }
  return false;
}

// With a tail, the second's stamp is made once a minute when the steps before the
// tail show the second only by one plain %S or %T (%H:%M:%S compiles to it), whose last
// two digits are the second's, written in each second.
void SetUpMinute(SecondStamp& q) {
  for (size_t k = 0; k < q.firstFraction; ++k) {
    const FormatStep& step = q.steps.steps[k];
    if ((step.c == u'S' || step.c == u'T') && !step.mods && q.secondStep == kNoFraction) {
      q.secondStep = k;
    } else if (step.low || !SameThroughMinute(step.c)) {
      q.secondStep = kNoFraction;
      return;
    }
  }
}

// Whether two records show the same minute in the same state of the zone.
bool SameMinute(const DateTime& a, const DateTime& b) {
  const SYSTEMTIME &s = a.local, &t = b.local;
  if (s.wYear != t.wYear || s.wMonth != t.wMonth || s.wDay != t.wDay || s.wHour != t.wHour || s.wMinute != t.wMinute ||
      s.wDayOfWeek != t.wDayOfWeek || a.zone.bias != b.zone.bias || a.zone.biasSeconds != b.zone.biasSeconds ||
      a.zone.state != b.zone.state)
    return false;
  size_t k = 0;
  while (k + 1 < std::size(a.zone.name) && a.zone.name[k] && a.zone.name[k] == b.zone.name[k]) ++k;
  return a.zone.name[k] == b.zone.name[k];
}

// Whether the stamps of this run may be made a second at a time: not with /R or the
// elapsed times, which differ from line to line, and not for a format with a fraction
// that a modifier changes.
void SetUpSecondStamp(SecondStamp& q, const StampedOptions& o, bool relative) {
  q.usable = q.known = false;
  q.fractionCount = 0;
  q.firstFraction = kNoFraction;
  q.tailLength = 0;
  q.secondStep = kNoFraction;
  q.minuteKnown = false;
  q.utc = (o.formatFlags & FDT_UTC) != 0;
  if (relative || (o.stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)) ||
      !CompileFormat(o.format, o.formatFlags, &q.steps))
    return;
  q.stepCount = q.steps.stepCount;
  // A zero unit would end the stamp that RenderStamp makes (no directive writes one).
  for (size_t k = 0; k < q.steps.literalCount; ++k)
    if (!q.steps.literal[k]) return;
  bool onlyFractions = true;  // since the first
  for (size_t k = 0; k < q.stepCount; ++k) {
    const FormatStep& step = q.steps.steps[k];
    const uint8_t width = step.c == u'L' ? 3 : step.c == u'f' ? 6 : step.c == u'i' ? 9 : 0;
    if (!width) {
      onlyFractions = onlyFractions && (q.firstFraction == kNoFraction || !step.c);
      continue;
    }
    if (step.mods || q.fractionCount == kMaxFractions) return;
    if (q.firstFraction == kNoFraction) q.firstFraction = k;
    q.places[q.fractionCount] = 0;
    q.widths[q.fractionCount++] = width;
  }
  q.usable = true;
  if (!onlyFractions || q.firstFraction == kNoFraction) return SetUpTail(q, kNoFraction);
  SetUpTail(q, q.firstFraction);
  if (q.firstFraction != kNoFraction) SetUpMinute(q);
}

// The places of the fractions: where `low` and `high` differ, as "0" and "9" digits of
// each width in turn, and nowhere else. `text` gets `low` in UTF-8 (none of its pieces
// ends within a surrogate pair: each ends before a digit).
bool PlaceFractions(SecondStamp& q, size_t length) {
  size_t from = 0, k = 0, bytes = 0;
  for (size_t j = 0; j < q.fractionCount; ++j) {
    while (k < length && q.low[k] == q.high[k]) ++k;
    const size_t width = q.widths[j];
    if (k + width > length) return false;
    for (size_t i = 0; i < width; ++i)
      if (q.low[k + i] != u'0' || q.high[k + i] != u'9') return false;
    bytes += Utf8FromUtf16(q.low + from, k - from, q.text + bytes);
    q.places[j] = bytes;
    std::memset(q.text + bytes, '0', width);
    bytes += width;
    from = k = k + width;
  }
  while (k < length && q.low[k] == q.high[k]) ++k;
  if (k < length) return false;
  q.length = bytes + Utf8FromUtf16(q.low + from, length - from, q.text + bytes);
  return true;
}

// The steps before the first fraction rendered, then the tail that follows them.
// A second of the minute made last: its two digits written in.
bool WriteSecond(SecondStamp& q, const DateTime& record) {
  if (!q.minuteKnown || !SameMinute(record, q.minute)) return false;
  q.text[q.secondPlace] = static_cast<char>('0' + record.local.wSecond / 10);
  q.text[q.secondPlace + 1] = static_cast<char>('0' + record.local.wSecond % 10);
  return true;
}

// The units before the second's two digits: those that the steps before `step` render,
// and for a %T its "HH:MM:", in UTF-8 bytes of `low`, which begins with them; or
// kNoFraction when the second's two digits do not follow there.
size_t PlaceOfSecond(SecondStamp& q, const DateTime& record, size_t step, size_t length) {
  q.steps.stepCount = step;
  const size_t units = static_cast<size_t>(RenderFormat(q.high, q.steps, record, kPlatformServices)) +
                       (q.steps.steps[step].c == u'T' ? 6 : 0);
  q.steps.stepCount = q.stepCount;
  const uint32_t second = record.local.wSecond;
  if (units + 2 > length || q.low[units] != u'0' + second / 10 || q.low[units + 1] != u'0' + second % 10)
    return kNoFraction;
  // The text begins with these units' bytes already: written again, the same, to count them.
  return Utf8FromUtf16(q.low, units, q.text);
}

bool RenderHead(SecondStamp& q, const DateTime& record) {
  if (q.secondStep != kNoFraction && WriteSecond(q, record)) return true;
  q.minuteKnown = false;
  q.steps.stepCount = q.firstFraction;
  const int64_t length = RenderFormat(q.low, q.steps, record, kPlatformServices);
  q.steps.stepCount = q.stepCount;
  if (length > static_cast<int64_t>(kSecondUnits)) return false;
  const size_t bytes = Utf8FromUtf16(q.low, static_cast<size_t>(length), q.text);
  std::memcpy(q.text + bytes, q.tail, q.tailLength);
  for (size_t j = 0; j < q.fractionCount; ++j) q.places[j] = bytes + q.tailPlaces[j];
  q.length = bytes + q.tailLength;
  if (q.secondStep != kNoFraction &&
      (q.secondPlace = PlaceOfSecond(q, record, q.secondStep, static_cast<size_t>(length))) != kNoFraction) {
    q.minute = record;
    q.minuteKnown = true;
  }
  return true;
}

// Renders the second of `now`: its record asked of the zone once, as TS's stamp cache
// asks it, then the format (at the second's first and last nanosecond, without a tail).
void RenderSecond(SecondStamp& q, Instant now) {
  q.known = true;
  q.second = now.seconds;
  q.fits = false;
  DateTime record;
  q.refused = !DateTimeAt(now, q.utc, kPlatformServices, &record);
  if (q.refused) return;
  if (q.firstFraction != kNoFraction) {
    q.fits = RenderHead(q, record);
    return;
  }
  record.instant.nanoseconds = 0;
  record.local.wMilliseconds = 0;
  const int64_t length = RenderFormat(q.low, q.steps, record, kPlatformServices);
  record.instant.nanoseconds = 999999999;
  record.local.wMilliseconds = 999;
  if (length > static_cast<int64_t>(kSecondUnits) || RenderFormat(q.high, q.steps, record, kPlatformServices) != length)
    return;
  q.fits = PlaceFractions(q, static_cast<size_t>(length));
}

enum class SecondMade { Ready, Refused, Elsewhere };

// Readies the second stamp for the stamp just read. Elsewhere: RenderStamp makes it.
SecondMade ReadySecond(RestampContext& c, uint64_t instant) {
  SecondStamp& q = c.second;
  if (!q.usable) return SecondMade::Elsewhere;
  c.state.started = true;  // without /R or elapsed times, nothing else is kept of the start
  const Instant now{InstantOfFileTime(instant).seconds, c.state.stampNanoseconds};
  if (!q.known || q.second != now.seconds) RenderSecond(q, now);
  return q.refused ? SecondMade::Refused : q.fits ? SecondMade::Ready : SecondMade::Elsewhere;
}

// The ready second stamp with the digits of the line's fraction, in quotes for a JSON
// number.
void PutSecondStamp(RestampContext& c) {
  const SecondStamp& q = c.second;
  ByteLog& b = c.bytes;
  if (b.outUsed + q.length + 2 > kByteOut) FlushBytes(b);
  char* o = b.out + b.outUsed;
  const bool quote = c.state.quoteStamp;
  if (quote) *o++ = '"';
  std::memcpy(o, q.text, q.length);
  const uint32_t nanoseconds = c.state.stampNanoseconds;
  for (size_t j = 0; j < q.fractionCount; ++j) {
    char* d = o + q.places[j];
    if (q.widths[j] == 3) {  // the usual milliseconds
      const uint32_t v = nanoseconds / 1000000;
      d[0] = static_cast<char>('0' + v / 100);
      d[1] = static_cast<char>('0' + v / 10 % 10);
      d[2] = static_cast<char>('0' + v % 10);
      continue;
    }
    uint32_t v = q.widths[j] == 6 ? nanoseconds / 1000 : nanoseconds;
    for (char* e = d + q.widths[j]; e > d; v /= 10) *--e = static_cast<char>('0' + v % 10);
  }
  o += q.length;
  if (quote) *o++ = '"';
  b.outUsed = static_cast<size_t>(o - b.out);
}

// The instant of a stamp with an offset and a whole date, as StampInstant gives it; the
// day number of its date is kept for the next stamp, which most likely has the same.
bool OffsetInstant(RestampState& s, const StampFields& f, uint64_t* instant) {
  const SYSTEMTIME& t = f.time;
  const uint32_t key = uint32_t{t.wYear} << 9 | uint32_t{t.wMonth} << 5 | t.wDay;
  if (key != s.dayKey) {
    s.dayKey = key;
    s.day = DayNumberFromDate(t.wYear, t.wMonth, t.wDay);
  }
  const int64_t seconds =
      int64_t{s.day - 1} * 86400 + int64_t{t.wHour} * 3600 + int64_t{t.wMinute} * 60 + t.wSecond - f.offset;
  if (s.day < 0 || seconds < 0 || seconds >= int64_t{kLastDay} * 86400) return false;
  *instant = static_cast<uint64_t>(seconds) * 10000000 + f.nanoseconds / 100;
  return true;
}

// The stamp at a line's start, read at once when the log's stamps have the first form's
// usual shape; else (false) the full reading looks for it.
StampMatch QuickStamp(RestampState& s, const char* text, size_t n, size_t* begin, size_t* used, uint64_t* instant) {
  StampFields f;
  if (s.lastInside || s.lastForm != 0 || s.reading.formCount || !QuickIsoStamp(text, n, &f, used, &s.heads))
    return StampMatch::None;
  s.quoteStamp = false;
  TakeForm(s, f, 0);
  if (!(f.hasOffset ? OffsetInstant(s, f, instant) : InstantOf(s, f, used, instant))) return StampMatch::Bad;
  TakeStamp(s, f, 0, begin, used, *instant);
  return StampMatch::Stamp;
}

// One line (or the head of a long one): `length` bytes of text, then `end` bytes of its
// line end.
void RestampBytes(RestampContext& c, const char* line, size_t length, size_t end) {
  RestampState& s = c.state;
  ByteLog& b = c.bytes;
  size_t skip = b.first && length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  b.first = false;
  size_t n = length - skip < kLookUnits ? length - skip : kLookUnits;
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = QuickStamp(s, line + skip, n, &begin, &used, &instant);
  if (m == StampMatch::None) {
    WidenHead(b, line + skip, n);
    m = FindStamp(s, b.head, n, &begin, &used, &instant);
  }
  // A stamp that reaches the end of what was looked at may go on beyond it.
  if (m == StampMatch::Stamp && n < length - skip && begin + used == n) m = StampMatch::None;
  // An instant whose local time falls outside the years shown has no stamp: counted as
  // a stamp that could not be read.
  const SecondMade made = m == StampMatch::Stamp ? ReadySecond(c, instant) : SecondMade::Refused;
  const char16_t* stamp = made == SecondMade::Elsewhere ? RenderStamp(s, instant) : nullptr;
  if (made != SecondMade::Ready && !stamp) {
    if (m != StampMatch::None) ++s.unreadable;
    PutBytes(b, line, length + end);
    if (b.outUsed >= kByteOutFlush) FlushBytes(b);
    return;
  }
  ++s.restamped;
  PutBytes(b, line, skip + begin);
  if (stamp)
    PutStamp(b, stamp, StampLength(stamp));
  else
    PutSecondStamp(c);
  PutBytes(b, line + skip + begin + used, length - skip - begin - used + end);
  if (b.outUsed >= kByteOutFlush) FlushBytes(b);
}

// A whole line, its LF (if any) at its end.
void RestampByteLine(RestampContext& c, const char* line, size_t length) {
  size_t end = length && line[length - 1] == '\n' ? 1 : 0;
  if (end && length >= 2 && line[length - 2] == '\r') end = 2;
  RestampBytes(c, line, length - end, end);
}

// The bytes of a block: lines in it are taken where they lie, a line that spans blocks
// is gathered in `line` (its first kByteLine bytes; the rest passes through).
void TakeBlock(RestampContext& c, const char* p, size_t count) {
  ByteLog& b = c.bytes;
  const char* end = p + count;
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = lf ? lf + 1 : end;
    if (b.passing) {
      PutBytes(b, p, static_cast<size_t>(stop - p));
      b.passing = !lf;
    } else if (lf && b.lineLength == 0) {
      RestampByteLine(c, p, static_cast<size_t>(stop - p));
    } else {
      size_t room = kByteLine - b.lineLength, n = static_cast<size_t>(stop - p);
      size_t taken = n < room ? n : room;
      std::memcpy(b.line + b.lineLength, p, taken);
      b.lineLength += taken;
      if (lf && taken == n) {
        RestampByteLine(c, b.line, b.lineLength);
        b.lineLength = 0;
      } else if (b.lineLength == kByteLine) {
        RestampBytes(c, b.line, kByteLine, 0);
        b.lineLength = 0;
        b.passing = true;
        PutBytes(b, p + taken, n - taken);
        b.passing = !lf;
      }
    }
    p = stop;
  }
}

// Reads a source of byte text to its end; its first `held` bytes are in the block.
// False after a read error (reported).
bool RestampByteSource(RestampContext& c, platform::Handle handle) {
  ByteLog& b = c.bytes;
  b.lineLength = 0;
  b.passing = false;
  b.first = true;
  uint32_t error = 0, got = static_cast<uint32_t>(b.held);
  for (;;) {
    if (got) TakeBlock(c, reinterpret_cast<const char*>(b.block), got);
    FlushBytes(b);  // before a read that may wait
    if ((error = StandardInputReader(handle, b.block, kByteBlock, &got)) != 0 || got == 0) break;
  }
  if (b.lineLength) RestampByteLine(c, b.line, b.lineLength);
  FlushBytes(b);
  return !ReportReadError(error == kErrorBrokenPipe ? 0 : error);
}

// Whether a source is read as bytes: the host can write them, no encoding was named, and
// its first block (kPipeBlockBytes, as the reader reads them, of what the first read
// gave) has no byte order mark of UTF-16 and no zero byte (UTF-16 without one). What was
// read to tell stays in the byte log's block for either reading.
bool ReadAsBytes(ByteLog& b, const StampedOptions& o, platform::Handle handle, uint32_t* error) {
  b.held = 0;
  if (!(b.write = platform::OutputBytes()) || o.encoding != EncodingUndecided || o.codePage) return false;
  uint32_t got = 0;
  if ((*error = StandardInputReader(handle, b.block, kByteBlock, &got)) != 0) return false;
  b.held = got;
  if (got >= 2 && ((b.block[0] == 0xFF && b.block[1] == 0xFE) || (b.block[0] == 0xFE && b.block[1] == 0xFF)))
    return false;
  return std::memchr(b.block, 0, got < kPipeBlockBytes ? got : kPipeBlockBytes) == nullptr;
}

// The reader's source when it is not bytes: the block read to decide, then the handle.
// The reader hands this record back as its handle.
struct HeldSource {
  platform::Handle handle;
  ByteLog* bytes;
};

uint32_t HeldRead(platform::Handle source, void* block, uint32_t capacity, uint32_t* bytesRead) {
  HeldSource& h = *static_cast<HeldSource*>(source);
  ByteLog& b = *h.bytes;
  if (!b.held) return StandardInputReader(h.handle, block, capacity, bytesRead);
  size_t n = b.held < capacity ? b.held : capacity;
  std::memcpy(block, b.block, n);
  std::memmove(b.block, b.block + n, b.held - n);
  b.held -= n;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

bool HeldWait(platform::Handle source, uint32_t milliseconds) {
  return platform::WaitForInput(static_cast<HeldSource*>(source)->handle, milliseconds);
}

// Reads one source to its end. False after a read error (reported).
bool RestampSource(RestampContext& c, platform::Handle handle) {
  uint32_t error = 0;
  if (ReadAsBytes(c.bytes, c.state.call->options, handle, &error)) return RestampByteSource(c, handle);
  if (error) return !ReportReadError(error == kErrorBrokenPipe ? 0 : error);
  HeldSource source{handle, &c.bytes};
  StampedStream& in = c.state.call->in;
  SetUpStampedStream(&in, &source, HeldRead, c.state.call->options);
  in.reader.wait = HeldWait;
  for (int32_t length; (length = ReadPipeLine(&in.reader, in.line)) >= 0;)
    RestampLine(c.state, in.line, static_cast<size_t>(length));
  return !ReportReadError(in.reader.lastError);
}

struct FileRun {
  RestampContext* context;
  int* result;
};

// Restamps a file; *result becomes 2 when it could not be opened or read.
void RestampFile(RestampContext& c, const char16_t* path, int* result) {
  platform::Handle file = nullptr;
  if (uint32_t error = platform::OpenInputFile(path, &file)) {
    char16_t text[kSmallText];
    ErrorCodeText(error, text);
    ReportError(u"Cannot open \"%s\": %s\r\n", path, text);
    *result = 2;
    return;
  }
  if (!RestampSource(c, file)) *result = 2;
  platform::CloseInputFile(file);
}

void RestampFileOf(const char16_t* path, void* run) {
  FileRun& r = *static_cast<FileRun*>(run);
  RestampFile(*r.context, path, r.result);
}

int Restamp(RestampContext& c, const char16_t* arguments, const char16_t* const* files, int count) {
  RestampState& s = c.state;
  ResetState(s);
  RestampCall& call = c.call;
  s.call = &call;
  c.bytes.outUsed = 0;
  SwitchRead read = ReadStampedArguments(arguments, &call.options, kSwitchRestamp, ReadingSwitches(s.reading));
  if (read == SwitchRead::kFailed) return 1;
  if (read == SwitchRead::kDone) return 0;
  std::memset(&call.stamps.cache, 0, sizeof call.stamps.cache);
  call.stamps.text[0] = 0;
  const StampedOptions& o = call.options;
  s.stampWithAge =
      (o.stampFlags & (TSF_DATE | TSF_TIME)) || (o.format[0] && std::u16string_view(o.format) != kDefaultStampFormat);
  SetUpSecondStamp(c.second, o, s.reading.relative);

  int result = 0;
  FileRun run{&c, &result};
  if (count == 0 && !RestampSource(c, platform::StdHandle(platform::StdStream::Input))) result = 2;
  for (int k = 0; k < count; ++k) {
    if (files[k][0] == u'-' && files[k][1] == 0) {  // "-" names standard input
      if (!RestampSource(c, platform::StdHandle(platform::StdStream::Input))) result = 2;
      continue;
    }
    int matched = platform::ExpandWildcards(files[k], RestampFileOf, &run);
    if (matched < 0) RestampFile(c, files[k], &result);
    if (matched == 0) {
      ReportError(u"No file matches \"%s\"\r\n", files[k]);
      result = 2;
    }
  }
  if (call.options.footer)
    Printf(u"---- End Of Log: %u lines restamped, %u with a stamp that could not be read ----\r\n", s.restamped,
           s.unreadable);
  return result;
}

// An argument of datefmt --lines that names none of its switches.
bool RefuseLineOption(void*, char16_t* argument) {
  ReportError(u"Unknown option: \"%s\"\r\n", argument);
  return false;
}

// Restamp's switches that datefmt --lines takes (/FORM, /ZONE, /YEAR). 0, or 1 after an
// error.
int ReadLineOptions(RestampState& s, const char16_t* options) {
  ResetState(s);
  return ReadSwitches(options, SwitchReading{kSwitchLines, SwitchAppliers{}, ReadingSwitches(s.reading),
                                             RefuseLineOption}) == SwitchRead::kRun
             ? 0
             : 1;
}

// The line as @DATEFMT reads its date and time. The line is terminated for the reading,
// so that a report shows it as given.
int ParseLine(char16_t* line, DateTime* time, uint32_t* flags) {
  const char16_t* p = SkipWhiteSpace(line);
  if (*p == 0) {
    ReportError(u"Missing date and time\r\n");
    return -1;
  }
  const char16_t* end = p;
  int32_t utc = 0;
  ParseError error;
  if (ParseDateTime(p, time, &end, &utc, &error, kPlatformServices) != 0) {
    ReportParseError(p, error);
    return -1;
  }
  end = SkipWhiteSpace(end);
  if (*end) {
    ReportError(u"Unexpected text after the date and time\r\n");
    ShowErrorPosition(p, end);
    return -1;
  }
  *flags = utc ? FDT_UTC : 0;
  return 0;
}

// The line as restamp reads a stamp, rendered in local time.
int RecognizeLine(RestampState& s, const char16_t* line, size_t length, DateTime* time, uint32_t* flags) {
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = FindStamp(s, line, length, &begin, &used, &instant);
  const char16_t* p = SkipWhiteSpace(line);
  if (m == StampMatch::None) {
    ReportError(u"No date and time of %s form\r\n", s.reading.formCount ? u"the named" : u"a known");
    ShowErrorPosition(p, p);
    return -1;
  }
  if (m == StampMatch::Bad) {
    ReportError(u"Date and time out of range\r\n");
    ShowErrorPosition(p, p);
    return -1;
  }
  const char16_t* end = line + begin + used;
  if (begin > 0 && line[begin - 1] == u'[') ++end;
  end = SkipWhiteSpace(end);
  if (*end) {
    ReportError(u"Unexpected text after the date and time\r\n");
    ShowErrorPosition(p, end);
    return -1;
  }
  if (!DateTimeAt(InstantOfFileTime(instant), false, kPlatformServices, time)) {
    ReportError(u"Date and time out of range\r\n");
    ShowErrorPosition(p, p);
    return -1;
  }
  *flags = 0;
  return 0;
}

}  // namespace

}  // namespace horalin

using namespace horalin;

extern "C" int RestampLog(const char16_t* arguments, const char16_t* const* files, int count) {
  if (!arguments || count < 0 || (count > 0 && !files)) return 87;
  std::unique_ptr<RestampContext> made(new (std::nothrow) RestampContext);
  if (!made) return ReportNoMemory();
  return Restamp(*made, arguments, files, count);
}

extern "C" int DateLine(char16_t* buffer, int lineLength, const char16_t* options) {
  static RestampState lines;  // datefmt --lines', from its options to its last line
  if (!buffer) return options ? ReadLineOptions(lines, options) : 1;
  if (lineLength < 0 || lineLength >= static_cast<int>(kFormatText)) return 1;
  size_t length = static_cast<size_t>(lineLength);
  char16_t separator = buffer[length];
  buffer[length] = 0;
  DateTime time;  // written by the reading that succeeds
  uint32_t flags = 0;
  int result = options ? RecognizeLine(lines, buffer, length, &time, &flags) : ParseLine(buffer, &time, &flags);
  buffer[length] = separator;
  if (result != 0) return result;
  FormatCached(buffer, buffer + length + 1, time, flags, kPlatformServices);
  return 0;
}
