// The restamp command: reads lines as TS reads them, finds a stamp at the start of each
// (after blanks, and inside "[" "]"), and writes the line again with the stamp rendered
// as TS renders its stamp, the elapsed times counted between the log's own stamps. The
// rest of the line is the reader's text, which the host writes as UTF-8: UTF-8 input
// comes out as it went in.

#include <cstring>

#include "common/text.h"
#include "common/types.h"
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
#include "plugin/TSCmd.h"
#include "plugin/errors.h"
#include "plugin/tokenizer.h"

namespace horalin {

namespace {

// How stamps are read: restamp's own options.
struct StampReading {
  char16_t form[kSmallText];  // /FORM's pattern; empty: every known form
  StampZone zone;             // /ZONE
  uint16_t year;              // /YEAR; 0: the current year
  bool relative;              // /R
};

struct RestampState {
  StampReading reading;
  bool started;          // the first stamp has set the start
  uint16_t syslogYear;   // with /YEAR: the year of the last stamp without one
  uint16_t syslogMonth;  // and its month
  SYSTEMTIME today;      // UTC, for the year of a stamp without one
  uint64_t now;          // for /R
  uint32_t restamped;
  uint32_t unreadable;  // lines that began with a stamp's shape and a bad value
  char16_t elapsed[kFormatText];
  // The line to write: what stood before the stamp, the new stamp, the rest, CR LF.
  alignas(16) char16_t out[kLineCapacity + kFormatText + 2];
};

RestampState State;

// "+hh:mm", "+hhmm", "+hh" or "-": seconds east of UTC.
bool ReadFixedOffset(const char16_t* text, int32_t* offset) {
  StampFields fields;
  size_t used = 0;
  if (text[0] != u'+' && text[0] != u'-') return false;
  // The offset reader of the stamp forms, through a pattern of the offset alone.
  static char16_t probe[kSmallText];
  FormatText(probe, kSmallText, u"2000-01-01 00:00:00%s", text);
  if (MatchStampPattern(u"%F %T%z", probe, TextLength(probe), &fields, &used) != StampMatch::Stamp ||
      used != TextLength(probe))
    return false;
  *offset = fields.offset;
  return true;
}

bool ReadZone(const char16_t* value, StampZone* zone) {
  if (CompareNoCase(value, u"LOCAL") == 0) {
    *zone = StampZone{StampZoneKind::Local, 0};
  } else if (CompareNoCase(value, u"UTC") == 0 || CompareNoCase(value, u"Z") == 0) {
    *zone = StampZone{StampZoneKind::Utc, 0};
  } else {
    int32_t offset;
    if (!ReadFixedOffset(value, &offset)) return false;
    *zone = StampZone{StampZoneKind::Fixed, offset};
  }
  return true;
}

// /FORM's value: a pattern of the stamp forms' directives, or nothing for every known form.
bool ReadForm(const char16_t* value, char16_t* form) {
  if (const char16_t* fault = *value ? CheckStampPattern(value) : nullptr) {
    if (*fault)
      ReportError(u"Unknown directive in the stamp form: \"%s\"\r\n", fault);
    else
      ReportError(u"The stamp form names no date: \"%s\"\r\n", value);
    return false;
  }
  CopyText(form, kSmallText, value);
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

// Restamp's own switches (and those of datefmt --lines), for ReadTsArguments: the rows of
// kTsSwitches for reading stamps.
bool ApplyReadingSwitch(const TsSwitch& row, const char16_t* value) {
  StampReading& r = State.reading;
  switch (row.effect) {
    case SwitchEffect::StampForm: return ReadForm(value, r.form);
    case SwitchEffect::StampZone:
      if (ReadZone(value, &r.zone)) return true;
      ReportError(u"Bad zone: \"%s\" (LOCAL, UTC or an offset such as +01:00)\r\n", value);
      return false;
    case SwitchEffect::StampYear: return ReadYear(value, &r.year);
    case SwitchEffect::Relative: r.relative = true; return true;
    default: return false;  // TS's, which TS's reader applies
  }
}

void ResetState() {
  std::memset(&State, 0, sizeof State);
  State.reading.zone = StampZone{StampZoneKind::Local, 0};
  const Instant now = platform::CurrentInstant();
  DateTime today;
  if (DateTimeAt(now, true, kPlatformServices, &today)) State.today = today.local;
  State.now = FileTimeOfInstant(now);
}

// The stamp at the start of text[0, length) and its instant: where it begins and how long
// it is. Blanks may come before it, and a "[" whose "]" follows it.
StampMatch FindStamp(const char16_t* text, size_t length, size_t* begin, size_t* used, uint64_t* instant) {
  size_t p = 0;
  while (p < length && (text[p] == u' ' || text[p] == u'\t')) ++p;
  bool bracket = p < length && text[p] == u'[';
  if (bracket) ++p;
  StampFields f;
  const char16_t* form = State.reading.form[0] ? State.reading.form : nullptr;
  StampMatch m = RecognizeStamp(form, text + p, length - p, &f, used);
  if (m != StampMatch::Stamp) return m;
  if (bracket && (p + *used >= length || text[p + *used] != u']')) return StampMatch::None;
  if (!f.isUnix && f.time.wYear == 0) {
    if (!State.reading.year) {
      f.time.wYear = SyslogYear(f.time.wMonth, f.time.wDay, State.today);
    } else {
      // A log of a year named: its stamps run forward, into the next year after December.
      if (!State.syslogYear) State.syslogYear = State.reading.year;
      if (f.time.wMonth < State.syslogMonth && State.syslogYear < 9999) ++State.syslogYear;
      State.syslogMonth = f.time.wMonth;
      f.time.wYear = State.syslogYear;
    }
  }
  *begin = p;
  return StampInstant(f, State.reading.zone, instant, kPlatformServices) ? StampMatch::Stamp : StampMatch::Bad;
}

// The new stamp for a stamp's instant, as TS would have stamped the line at that moment;
// with /R the time from it to now.
const char16_t* RenderStamp(uint64_t instant) {
  TsStamps& s = TsCallStorage.stamps;
  const TsOptions& o = TsCallStorage.options;
  if (!State.started) {
    s.start = s.previous = instant;
    State.started = true;
  }
  Moment moment{InstantOfFileTime(instant), instant};
  if (!State.reading.relative) {
    // An instant whose local time falls outside the years shown is refused: no stamp.
    if (MakeLineStamp(s.text, o.format, o.stampFlags, o.formatFlags, moment, s.start, &s.previous, &s.cache) != 0)
      return nullptr;
    return s.text;
  }
  s.text[0] = 0;
  if (instant > State.now) AppendText(s.text, kFormatText, u"-");
  AppendElapsedText(s.text, instant > State.now ? instant - State.now : State.now - instant);
  MakeLineStamp(State.elapsed, u"", o.stampFlags, o.formatFlags, moment, s.start, &s.previous);
  if (State.elapsed[0]) {
    AppendStampSeparator(s.text);
    AppendText(s.text, kFormatText, State.elapsed);
  }
  return s.text;
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

// Reads one source to its end. False after a read error (reported).
bool RestampSource(platform::Handle handle) {
  TsStream& in = TsCallStorage.streams[0];
  SetUpTsStream(&in, handle, TsInputReader, TsCallStorage.options);
  for (int32_t length; (length = ReadPipeLine(&in.reader, in.line)) >= 0;)
    RestampLine(in.line, static_cast<size_t>(length));
  return !ReportTsReadError(in.reader.lastError);
}

int Restamp(const char16_t* arguments, const char16_t* const* files, int count) {
  ResetState();
  TsCall& call = TsCallStorage;
  TsArguments parsed = ReadTsArguments(arguments, &call.options, kSwitchRestamp, ApplyReadingSwitch);
  if (parsed == TsArguments::Failed) return 1;
  if (parsed == TsArguments::Done) return 0;
  std::memset(&call.stamps.cache, 0, sizeof call.stamps.cache);
  call.stamps.text[0] = 0;

  int result = 0;
  if (count == 0 && !RestampSource(platform::StdHandle(platform::StdStream::Input))) result = 2;
  for (int k = 0; k < count; ++k) {
    platform::Handle file = nullptr;
    if (uint32_t error = platform::OpenInputFile(files[k], &file)) {
      char16_t text[kSmallText];
      ErrorCodeText(error, text);
      ReportError(u"Cannot open \"%s\": %s\r\n", files[k], text);
      result = 2;
      continue;
    }
    if (!RestampSource(file)) result = 2;
    platform::CloseInputFile(file);
  }
  if (call.options.footer)
    Printf(u"---- End Of Log: %u lines restamped, %u with a stamp that could not be read ----\r\n", State.restamped,
           State.unreadable);
  return result;
}

// Restamp's switches that datefmt --lines takes (/FORM, /ZONE, /YEAR). 0, or 1 after an
// error.
int ReadLineOptions(const char16_t* options) {
  ResetState();
  int32_t count = TokenizeArguments(options);
  if (count < 0) return 1;
  for (int32_t k = 0; k < count; ++k) {
    char16_t* argument = Arguments.args[k];
    if (Arguments.lengths[k] == 0) continue;
    char16_t unquoted[kSmallText];
    const char16_t* value = nullptr;
    const TsSwitch* row = FindTsSwitch(argument, kSwitchLines, unquoted, &value);
    if (!row) {
      ReportError(u"Unknown option: \"%s\"\r\n", argument);
      return 1;
    }
    if (!ApplyReadingSwitch(*row, value)) return 1;
  }
  return 0;
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
    ReportError(u"No date and time of %s form\r\n", State.reading.form[0] ? u"the named" : u"a known");
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
