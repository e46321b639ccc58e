// The restamp command: reads lines as TS reads them, finds a stamp at the start of each
// (after blanks, and inside "[" "]"), and writes the line again with the stamp rendered
// as TS renders its stamp, the elapsed times counted between the log's own stamps. The
// rest of the line is the reader's text, which the host writes as UTF-8: UTF-8 input
// comes out as it went in.

#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"
#include "datetime/calendar.h"
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

struct RestampState {
  RestampCall* call;  // the record of the call that runs
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

RestampState State;

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

SwitchAppliers ReadingSwitches() {
  return SwitchAppliers{kReadingSwitchAppliers, sizeof kReadingSwitchAppliers / sizeof kReadingSwitchAppliers[0],
                        &State.reading};
}

void ResetState() {
  std::memset(&State, 0, sizeof State);
  State.reading.zone = StampZone{StampZoneKind::Local, 0};
  State.reading.services = kPlatformServices;
  State.rows = kEveryStampForm & ~NumberStampForms();
  State.lastForm = SIZE_MAX;
  const Instant now = platform::CurrentInstant();
  DateTime today;
  if (DateTimeAt(now, true, kPlatformServices, &today)) State.today = today.local;
  State.now = FileTimeOfInstant(now);
}

// Whether a stamp of a known form may be read as the log's: a bare number only where the
// log's stamps are numbers, and not more than a day after now (an id of ten digits is
// far in the future); the first stamp decides.
bool TakeForm(const StampFields& f, size_t row) {
  static const uint32_t numbers = NumberStampForms();
  bool number = numbers & (1u << row);
  if (number && f.unixTime > State.now + 864000000000ull) return false;
  if (!State.started) State.rows = number ? numbers : kEveryStampForm & ~numbers;
  return true;
}

StampMatch RecognizeAt(const char16_t* text, size_t length, StampFields* f, size_t* used) {
  const StampReading& r = State.reading;
  // Before the log's first stamp, a bare number is tried after the other forms.
  uint32_t rows = State.started ? State.rows : kEveryStampForm;
  size_t which = 0;
  StampMatch m =
      RecognizeStampIn(StampChoice{r.patterns, r.formCount, rows, State.lastForm}, text, length, f, used, &which);
  if (m == StampMatch::Stamp && !r.formCount && !TakeForm(*f, which)) return StampMatch::None;
  if (m == StampMatch::Stamp) State.lastForm = which;
  return m;
}

// The date of a stamp that has none or no year: a syslog stamp's year, and for a time
// of day alone (TS's /T) the date of the stamp before, the next day when the time is more
// than 12 hours before that one's (midnight passed); today's for the log's first.
void CompleteDate(StampFields& f) {
  SYSTEMTIME& t = f.time;
  if (f.timeOnly) {
    SYSTEMTIME before = State.previousTime;
    if (!before.wYear) {  // today, in the zone of TZ unless the stamps are UTC or fixed
      DateTime now;
      before = State.today;
      if (State.reading.zone.kind == StampZoneKind::Local &&
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
    if (!State.reading.year) {
      t.wYear = SyslogYear(t.wMonth, t.wDay, State.today);
    } else {
      // A log of a year named: its stamps run forward, into the next year after December.
      if (!State.syslogYear) State.syslogYear = State.reading.year;
      if (t.wMonth < State.syslogMonth && State.syslogYear < 9999) ++State.syslogYear;
      State.syslogMonth = t.wMonth;
      t.wYear = State.syslogYear;
    }
  }
}

// The stamp at text[p, length), which `close` must follow when it is not 0, and its
// instant: where it begins and how long it is.
StampMatch FindStampAt(const char16_t* text, size_t length, size_t p, char16_t close, size_t* begin, size_t* used,
                       uint64_t* instant) {
  StampFields f;
  StampMatch m = close == u',' ? MatchStampPattern(u"%s", text + p, length - p, &f, used)
                               : RecognizeAt(text + p, length - p, &f, used);
  if (m != StampMatch::Stamp) return m;
  CompleteDate(f);
  bool wordRead = false;
  if (!StampInstant(f, State.reading.zone, instant, State.reading.services, State.previousInstant, &wordRead))
    return StampMatch::Bad;
  // A word after the stamp that names no zone is the line's text.
  if (f.zoneWord[0] && !wordRead && f.usedBeforeWord) *used = f.usedBeforeWord;
  size_t after = p + *used;
  if (close == u',' ? after < length && text[after] != u',' && text[after] != u'}' && text[after] != u' '
                    : close && (after >= length || text[after] != close))
    return StampMatch::None;
  *begin = p + f.lead;
  *used -= f.lead;
  State.previousInstant = *instant;
  State.previousTime = f.time;
  State.stampNanoseconds = f.nanoseconds;
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
StampMatch FindStampInside(const char16_t* text, size_t length, size_t* begin, size_t* used, uint64_t* instant) {
  size_t limit = length < kStampLookUnits ? length : kStampLookUnits;
  size_t bracket = Find(text, 1, limit, u"[");
  if (bracket < limit) {
    StampMatch m = FindStampAt(text, length, bracket + 1, u']', begin, used, instant);
    if (m != StampMatch::None) return m;
  }
  if (text[0] != u'{') return StampMatch::None;
  for (const char16_t* name : kStampFieldNames) {
    size_t at = Find(text, 1, limit, name);
    if (at == limit) continue;
    size_t p = at + TextLength(name);
    while (p < length && text[p] == u' ') ++p;
    bool quoted = p < length && text[p] == u'"';
    StampMatch m = FindStampAt(text, length, p + quoted, quoted ? u'"' : u',', begin, used, instant);
    State.quoteStamp = m == StampMatch::Stamp && !quoted;
    return m;
  }
  return StampMatch::None;
}

// The stamp of a line and its instant: where it begins and how long it is. At the line's
// start, after blanks and inside a "[" whose "]" follows it; else inside (known forms).
StampMatch FindStamp(const char16_t* text, size_t length, size_t* begin, size_t* used, uint64_t* instant) {
  size_t p = 0;
  while (p < length && (text[p] == u' ' || text[p] == u'\t')) ++p;
  bool bracket = p < length && text[p] == u'[';
  State.quoteStamp = false;
  bool inside = !State.reading.formCount && length > 0;
  StampMatch m = StampMatch::None;
  // Where the log's last stamp stood is looked at first: a log's stamps stand in one place.
  if (inside && State.lastInside && (m = FindStampInside(text, length, begin, used, instant)) != StampMatch::None)
    return m;
  m = FindStampAt(text, length, p + bracket, bracket ? u']' : 0, begin, used, instant);
  if (m != StampMatch::None || !inside || State.lastInside) {
    if (m == StampMatch::Stamp) State.lastInside = false;
    return m;
  }
  m = FindStampInside(text, length, begin, used, instant);
  if (m == StampMatch::Stamp) State.lastInside = true;
  return m;
}

const char16_t* Quoted(const char16_t* stamp) {
  FormatText(State.quoted, kFormatText, u"\"%s\"", stamp);
  return State.quoted;
}

// The new stamp for a stamp's instant, as TS would have stamped the line at that moment;
// with /R the time from it to now.
const char16_t* RenderStamp(uint64_t instant) {
  LineStamps& s = State.call->stamps;
  const StampedOptions& o = State.call->options;
  if (!State.started) {
    s.start = s.previous = instant;
    State.started = true;
  }
  // The stamp's own fraction, every digit of it, not the file time's 100 nanoseconds.
  Moment moment{Instant{InstantOfFileTime(instant).seconds, State.stampNanoseconds}, instant};
  if (!State.reading.relative) {
    // An instant whose local time falls outside the years shown is refused: no stamp.
    if (MakeLineStamp(s.text, o.format, o.stampFlags | TSF_SIGNED, o.formatFlags, moment, s.start, &s.previous,
                      &s.cache) != 0)
      return nullptr;
    return State.quoteStamp ? Quoted(s.text) : s.text;
  }
  s.text[0] = 0;
  if (State.stampWithAge) {
    if (MakeLineStamp(s.text, o.format, o.stampFlags & ~(TSF_INCREMENTAL | TSF_CUMULATIVE), o.formatFlags, moment,
                      s.start, &s.previous, &s.cache) != 0)
      return nullptr;
    AppendStampSeparator(s.text);
  }
  if (instant > State.now) AppendText(s.text, kFormatText, u"-");
  AppendElapsedText(s.text, instant > State.now ? instant - State.now : State.now - instant);
  MakeLineStamp(State.elapsed, u"", o.stampFlags | TSF_SIGNED, o.formatFlags, moment, s.start, &s.previous);
  if (State.elapsed[0]) {
    AppendStampSeparator(s.text);
    AppendText(s.text, kFormatText, State.elapsed);
  }
  return State.quoteStamp ? Quoted(s.text) : s.text;
}

// The stamp's length, four units at a time (the stamp text has room for the four that
// begin at its terminator).
size_t StampLength(const char16_t* stamp) {
  size_t n = 0;
  while (!words::HasZeroUnit(words::Load(stamp + n))) n += 4;
  while (stamp[n]) ++n;
  return n;
}

void RestampLine(char16_t* line, size_t length) {
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = FindStamp(line, length, &begin, &used, &instant);
  if (m != StampMatch::Stamp) {
    if (m == StampMatch::Bad) ++State.unreadable;
    Printf(u"%s\r\n", line);
    return;
  }
  const char16_t* stamp = RenderStamp(instant);
  if (!stamp) {  // the line stays as it is, counted with the stamps that could not be read
    ++State.unreadable;
    Printf(u"%s\r\n", line);
    return;
  }
  ++State.restamped;
  // One text for the host to write: a line costs one pass through its output.
  size_t stampLength = StampLength(stamp), restLength = length - begin - used;
  char16_t* out = State.out;
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

struct ByteLog {
  platform::OutputBytesWriter write;
  size_t lineLength;  // the line so far, in `line`
  bool passing;       // the rest of a line longer than `line` goes through as it is
  bool first;         // the source's first line, which may begin with a byte order mark
  size_t outUsed;
  uint8_t block[kPipeBlockBytes];
  size_t held;  // bytes of `block` read to decide the path, to be taken first
  char line[kByteLine];
  char out[kByteOut];
  char16_t head[kLookUnits + 1];
};

ByteLog Bytes;

void FlushBytes() {
  if (Bytes.outUsed) Bytes.write(Bytes.out, Bytes.outUsed);
  Bytes.outUsed = 0;
}

void PutBytes(const char* bytes, size_t count) {
  if (Bytes.outUsed + count > kByteOut) {
    FlushBytes();
    if (count > kByteOutFlush) {
      Bytes.write(bytes, count);
      return;
    }
  }
  std::memcpy(Bytes.out + Bytes.outUsed, bytes, count);
  Bytes.outUsed += count;
}

// The first n bytes of a line as units, for the recognizer: a 7-bit byte as itself, any
// other as U+FFFD, which no form reads.
void WidenHead(const char* bytes, size_t n) {
  for (size_t k = scans::fast::WidenAscii(bytes, n, Bytes.head); k < n; ++k) {
    auto b = static_cast<uint8_t>(bytes[k]);
    Bytes.head[k] = b < 0x80 ? b : u'\uFFFD';
  }
  Bytes.head[n] = 0;
}

// The new stamp in UTF-8 (the encoder copies its 7-bit runs as they are).
void PutStamp(const char16_t* stamp, size_t length) {
  if (Bytes.outUsed + 3 * length > kByteOut) FlushBytes();
  Bytes.outUsed += Utf8FromUtf16(stamp, length, Bytes.out + Bytes.outUsed);
}

// One line (or the head of a long one): `length` bytes of text, then `end` bytes of its
// line end.
void RestampBytes(const char* line, size_t length, size_t end) {
  size_t skip = Bytes.first && length >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  Bytes.first = false;
  size_t n = length - skip < kLookUnits ? length - skip : kLookUnits;
  WidenHead(line + skip, n);
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = FindStamp(Bytes.head, n, &begin, &used, &instant);
  // A stamp that reaches the end of what was looked at may go on beyond it.
  if (m == StampMatch::Stamp && n < length - skip && begin + used == n) m = StampMatch::None;
  // An instant whose local time falls outside the years shown has no stamp: counted as
  // a stamp that could not be read.
  const char16_t* stamp = m == StampMatch::Stamp ? RenderStamp(instant) : nullptr;
  if (!stamp) {
    if (m != StampMatch::None) ++State.unreadable;
    PutBytes(line, length + end);
    if (Bytes.outUsed >= kByteOutFlush) FlushBytes();
    return;
  }
  ++State.restamped;
  size_t stampLength = StampLength(stamp);
  PutBytes(line, skip + begin);
  PutStamp(stamp, stampLength);
  PutBytes(line + skip + begin + used, length - skip - begin - used + end);
  if (Bytes.outUsed >= kByteOutFlush) FlushBytes();
}

// A whole line, its LF (if any) at its end.
void RestampByteLine(const char* line, size_t length) {
  size_t end = length && line[length - 1] == '\n' ? 1 : 0;
  if (end && length >= 2 && line[length - 2] == '\r') end = 2;
  RestampBytes(line, length - end, end);
}

// The bytes of a block: lines in it are taken where they lie, a line that spans blocks
// is gathered in `line` (its first kByteLine bytes; the rest passes through).
void TakeBlock(const char* p, size_t count) {
  const char* end = p + count;
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = lf ? lf + 1 : end;
    if (Bytes.passing) {
      PutBytes(p, static_cast<size_t>(stop - p));
      Bytes.passing = !lf;
    } else if (lf && Bytes.lineLength == 0) {
      RestampByteLine(p, static_cast<size_t>(stop - p));
    } else {
      size_t room = kByteLine - Bytes.lineLength, n = static_cast<size_t>(stop - p);
      size_t taken = n < room ? n : room;
      std::memcpy(Bytes.line + Bytes.lineLength, p, taken);
      Bytes.lineLength += taken;
      if (lf && taken == n) {
        RestampByteLine(Bytes.line, Bytes.lineLength);
        Bytes.lineLength = 0;
      } else if (Bytes.lineLength == kByteLine) {
        RestampBytes(Bytes.line, kByteLine, 0);
        Bytes.lineLength = 0;
        Bytes.passing = true;
        PutBytes(p + taken, n - taken);
        Bytes.passing = !lf;
      }
    }
    p = stop;
  }
}

// Reads a source of byte text to its end; its first `held` bytes are in the block.
// False after a read error (reported).
bool RestampByteSource(platform::Handle handle) {
  Bytes.lineLength = 0;
  Bytes.passing = false;
  Bytes.first = true;
  uint32_t error = 0, got = static_cast<uint32_t>(Bytes.held);
  for (;;) {
    if (got) TakeBlock(reinterpret_cast<const char*>(Bytes.block), got);
    if (Bytes.outUsed >= kByteOutFlush) FlushBytes();
    FlushBytes();  // before a read that may wait
    if ((error = StandardInputReader(handle, Bytes.block, kPipeBlockBytes, &got)) != 0 || got == 0) break;
  }
  if (Bytes.lineLength) RestampByteLine(Bytes.line, Bytes.lineLength);
  FlushBytes();
  return !ReportReadError(error == kErrorBrokenPipe ? 0 : error);
}

// Whether a source is read as bytes: the host can write them, no encoding was named, and
// its first block has no byte order mark of UTF-16 and no zero byte (UTF-16 without
// one). The block read to tell stays in Bytes.block for either reading.
uint32_t HeldRead(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead);

bool ReadAsBytes(platform::Handle handle, uint32_t* error) {
  const StampedOptions& o = State.call->options;
  Bytes.held = 0;
  if (!(Bytes.write = platform::OutputBytes()) || o.encoding != EncodingUndecided || o.codePage) return false;
  uint32_t got = 0;
  if ((*error = StandardInputReader(handle, Bytes.block, kPipeBlockBytes, &got)) != 0) return false;
  Bytes.held = got;
  if (got >= 2 &&
      ((Bytes.block[0] == 0xFF && Bytes.block[1] == 0xFE) || (Bytes.block[0] == 0xFE && Bytes.block[1] == 0xFF)))
    return false;
  return std::memchr(Bytes.block, 0, got) == nullptr;
}

// The reader's source: the block read to decide, then the handle.
uint32_t HeldRead(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  if (!Bytes.held) return StandardInputReader(handle, block, capacity, bytesRead);
  size_t n = Bytes.held < capacity ? Bytes.held : capacity;
  std::memcpy(block, Bytes.block, n);
  std::memmove(Bytes.block, Bytes.block + n, Bytes.held - n);
  Bytes.held -= n;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

// Reads one source to its end. False after a read error (reported).
bool RestampSource(platform::Handle handle) {
  uint32_t error = 0;
  if (ReadAsBytes(handle, &error)) return RestampByteSource(handle);
  if (error) return !ReportReadError(error == kErrorBrokenPipe ? 0 : error);
  StampedStream& in = State.call->in;
  SetUpStampedStream(&in, handle, HeldRead, State.call->options);
  for (int32_t length; (length = ReadPipeLine(&in.reader, in.line)) >= 0;)
    RestampLine(in.line, static_cast<size_t>(length));
  return !ReportReadError(in.reader.lastError);
}

// Restamps a file; *result becomes 2 when it could not be opened or read.
void RestampFile(const char16_t* path, int* result) {
  platform::Handle file = nullptr;
  if (uint32_t error = platform::OpenInputFile(path, &file)) {
    char16_t text[kSmallText];
    ErrorCodeText(error, text);
    ReportError(u"Cannot open \"%s\": %s\r\n", path, text);
    *result = 2;
    return;
  }
  if (!RestampSource(file)) *result = 2;
  platform::CloseInputFile(file);
}

void RestampFileOf(const char16_t* path, void* result) { RestampFile(path, static_cast<int*>(result)); }

int Restamp(const char16_t* arguments, const char16_t* const* files, int count) {
  std::unique_ptr<RestampCall> made(new (std::nothrow) RestampCall);
  if (!made) return ReportNoMemory();
  RestampCall& call = *made;
  ResetState();
  State.call = &call;
  SwitchRead read = ReadStampedArguments(arguments, &call.options, kSwitchRestamp, ReadingSwitches());
  if (read == SwitchRead::kFailed) return 1;
  if (read == SwitchRead::kDone) return 0;
  std::memset(&call.stamps.cache, 0, sizeof call.stamps.cache);
  call.stamps.text[0] = 0;
  const StampedOptions& o = call.options;
  State.stampWithAge =
      (o.stampFlags & (TSF_DATE | TSF_TIME)) || (o.format[0] && std::u16string_view(o.format) != kDefaultStampFormat);

  int result = 0;
  if (count == 0 && !RestampSource(platform::StdHandle(platform::StdStream::Input))) result = 2;
  for (int k = 0; k < count; ++k) {
    if (files[k][0] == u'-' && files[k][1] == 0) {  // "-" names standard input
      if (!RestampSource(platform::StdHandle(platform::StdStream::Input))) result = 2;
      continue;
    }
    int matched = platform::ExpandWildcards(files[k], RestampFileOf, &result);
    if (matched < 0) RestampFile(files[k], &result);
    if (matched == 0) {
      ReportError(u"No file matches \"%s\"\r\n", files[k]);
      result = 2;
    }
  }
  if (call.options.footer)
    Printf(u"---- End Of Log: %u lines restamped, %u with a stamp that could not be read ----\r\n", State.restamped,
           State.unreadable);
  return result;
}

// An argument of datefmt --lines that names none of its switches.
bool RefuseLineOption(void*, char16_t* argument) {
  ReportError(u"Unknown option: \"%s\"\r\n", argument);
  return false;
}

// Restamp's switches that datefmt --lines takes (/FORM, /ZONE, /YEAR). 0, or 1 after an
// error.
int ReadLineOptions(const char16_t* options) {
  ResetState();
  return ReadSwitches(options, SwitchReading{kSwitchLines, SwitchAppliers{}, ReadingSwitches(), RefuseLineOption}) ==
                 SwitchRead::kRun
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
int RecognizeLine(const char16_t* line, size_t length, DateTime* time, uint32_t* flags) {
  size_t begin = 0, used = 0;
  uint64_t instant = 0;
  StampMatch m = FindStamp(line, length, &begin, &used, &instant);
  const char16_t* p = SkipWhiteSpace(line);
  if (m == StampMatch::None) {
    ReportError(u"No date and time of %s form\r\n", State.reading.formCount ? u"the named" : u"a known");
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
  return Restamp(arguments, files, count);
}

extern "C" int DateLine(char16_t* buffer, int lineLength, const char16_t* options) {
  if (!buffer) return options ? ReadLineOptions(options) : 1;
  if (lineLength < 0 || lineLength >= static_cast<int>(kFormatText)) return 1;
  size_t length = static_cast<size_t>(lineLength);
  char16_t separator = buffer[length];
  buffer[length] = 0;
  DateTime time;  // written by the reading that succeeds
  uint32_t flags = 0;
  int result = options ? RecognizeLine(buffer, length, &time, &flags) : ParseLine(buffer, &time, &flags);
  buffer[length] = separator;
  if (result != 0) return result;
  FormatCached(buffer, buffer + length + 1, time, flags, kPlatformServices);
  return 0;
}
