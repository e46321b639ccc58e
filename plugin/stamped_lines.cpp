// Stamped lines: the options that TS's switches choose, the stamps of a call and the
// streams of input, for TS, run and restamp.
#include "plugin/stamped_lines.h"

#include <cstring>

#include "common/text.h"
#include "common/types.h"
#include "host/host.h"
#include "lines/encoding.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "platform/platform.h"
#include "plugin/TSCmd.h"
#include "plugin/errors.h"

namespace horalin {

ReadFunction StandardInputReader = platform::ReadInput;

namespace {

// Error messages show the argument in upper case.
char16_t* Upper(char16_t* argument) {
  platform::MapToUpperCase(argument, TextLength(argument));
  return argument;
}

// The checks of a chosen code page. False after reporting an error.
bool CheckCodePage(char16_t* argument, uint32_t codePage) {
  if (codePage == kBadCodePage) {
    ReportError(u"Bad code page: \"%s\"\r\n", Upper(argument));
    return false;
  }
  if (codePage != 0 && !IsCodePageSupported(codePage)) {
    ReportError(u"Code page not supported: %u\r\n", codePage);
    return false;
  }
  return true;
}

StampedOptions& OptionsOf(void* target) { return *static_cast<StampedOptions*>(target); }

// "/CP:n", "/CP=n", "/CPn"; n a number, or A (ANSI) or O (OEM) and anything after them.
SwitchRead ReadCodePage(void* target, const SwitchArgument& a) {
  const char16_t* value = a.value;
  if (*value == u':' || *value == u'=') ++value;
  uint32_t codePage = kBadCodePage;
  char16_t first = ToUpper(value[0]);
  if (first == u'A') {
    codePage = platform::AnsiCodePage();
  } else if (first == u'O') {
    codePage = platform::OemCodePage();
  } else if (IsDigit(value[0])) {
    uint32_t number;
    if (ParseUnsignedNumber(value, &number) == 0) codePage = number;
  }
  if (!CheckCodePage(a.text, codePage)) return SwitchRead::kFailed;
  OptionsOf(target).codePage = codePage;
  return SwitchRead::kRun;
}

// The encoding's name in an argument of the "/U" rows: after "/U" and a ":" or "=" (and a
// second one), after "/UNICODE" and a ":" or "=" if one follows, or else the argument after
// its slash, the switch's "U" beginning the name ("/UTF-8", "/U16").
const char16_t* EncodingName(const SwitchArgument& a) {
  const char16_t* name = a.value;
  const bool separator = *name == u':' || *name == u'=';
  if (a.row.name == kUnicodeSwitch) return separator ? name + 1 : name;
  if (!separator) return a.text + 1;
  ++name;
  return *name == u':' || *name == u'=' ? name + 1 : name;
}

// "/U:name", "/U=name", "/UNICODE:name", "/UTF-8"...: everything from a comma on is
// ignored; an empty name changes nothing.
SwitchRead ReadEncoding(void* target, const SwitchArgument& a) {
  StampedOptions& options = OptionsOf(target);
  const char16_t* name = EncodingName(a);
  for (char16_t* p = a.text; *p; ++p)
    if (*p == u',') {
      *p = 0;
      break;
    }
  if (*name == 0) return SwitchRead::kRun;
  TextEncoding encoding = ParseEncodingName(name, &options.codePage);
  if (encoding == EncodingUndecided) {
    ReportError(u"Unknown encoding: \"%s\"\r\n", Upper(a.text));
    return SwitchRead::kFailed;
  }
  options.encoding = encoding;
  return CheckCodePage(a.text, options.codePage) ? SwitchRead::kRun : SwitchRead::kFailed;
}

// "/?": the usage text, with the version lines for "/??".
SwitchRead ShowUsage(void*, const SwitchArgument& a) {
  ShowTsUsage(a.value[0] == u'?');
  return SwitchRead::kDone;
}

template <uint32_t Flag>
SwitchRead SetStampFlag(void* target, const SwitchArgument&) {
  OptionsOf(target).stampFlags |= Flag;
  return SwitchRead::kRun;
}

SwitchRead SetFooter(void* target, const SwitchArgument&) {
  OptionsOf(target).footer = true;
  return SwitchRead::kRun;
}

SwitchRead SetUtc(void* target, const SwitchArgument&) {
  OptionsOf(target).formatFlags |= FDT_UTC;
  return SwitchRead::kRun;
}

// TS's switches, over the options; run's and restamp's own are in their lists.
constexpr SwitchApplier kTsSwitchAppliers[] = {
    {SwitchEffect::Usage, ShowUsage},
    {SwitchEffect::CodePage, ReadCodePage},
    {SwitchEffect::Date, SetStampFlag<TSF_DATE>},
    {SwitchEffect::Time, SetStampFlag<TSF_TIME>},
    {SwitchEffect::Incremental, SetStampFlag<TSF_INCREMENTAL>},
    {SwitchEffect::Cumulative, SetStampFlag<TSF_CUMULATIVE>},
    {SwitchEffect::Footer, SetFooter},
    {SwitchEffect::Utc, SetUtc},
    {SwitchEffect::Encoding, ReadEncoding},
};
static_assert(AppliesEveryRow(kSwitchTs, kTsSwitchAppliers), "a switch of TS's without its applier");

void SetFormat(StampedOptions& options, const char16_t* argument) {
  size_t n = 0;
  for (const char16_t* p = argument; *p && n + 1 < kFormatText; ++p)
    if (*p != u'"') options.format[n++] = *p;
  options.format[n] = 0;
}

// An argument that names no switch: the format, or an error.
bool ReadFormatArgument(void* target, char16_t* argument) {
  StampedOptions& options = OptionsOf(target);
  if (argument[0] == u'/') {
    ReportError(u"Unknown option: \"%s\"\r\n", Upper(argument));
    return false;
  }
  if (options.format[0] != 0) {
    ReportError(u"Syntax error: \"%s\"\r\n", Upper(argument));
    return false;
  }
  SetFormat(options, argument);
  return true;
}

bool HasVisibleText(const char16_t* text) {
  for (; *text; ++text)
    if (!IsSpace(*text)) return true;
  return false;
}

void ChooseDefaultFormat(StampedOptions* options) {
  if (HasVisibleText(options->format)) return;
  bool date = options->stampFlags & TSF_DATE, time = options->stampFlags & TSF_TIME;
  const char16_t* format = kDefaultStampFormat;
  if (date && !time)
    format = u"%F";
  else if (time && !date)
    format = u"%H:%M:%S.%L";
  else if (!date && !time && (options->stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)))
    return;  // only the elapsed times
  CopyText(options->format, kFormatText, format);
}

}  // namespace

SwitchRead ReadStampedArguments(const char16_t* text, StampedOptions* options, uint8_t command,
                                const SwitchAppliers& own) {
  std::memset(options, 0, sizeof *options);
  options->formatFlags = FDT_NO_DOUBLE_PERCENT;
  options->encoding = EncodingUndecided;
  const SwitchAppliers ts{kTsSwitchAppliers, sizeof kTsSwitchAppliers / sizeof kTsSwitchAppliers[0], options};
  SwitchRead read = ReadSwitches(text, SwitchReading{command, ts, own, ReadFormatArgument});
  if (read == SwitchRead::kRun) ChooseDefaultFormat(options);
  return read;
}

void SetUpStampedStream(StampedStream* stream, platform::Handle handle, ReadFunction read,
                        const StampedOptions& options) {
  stream->line[0] = 0;
  SetUpPipeReader(&stream->reader, handle, stream->block, kStreamBlockBytes, stream->lineBytes, options.encoding,
                  options.codePage);
  stream->reader.read = read;
}

void StartLineStamps(LineStamps* stamps) {
  stamps->text[0] = 0;
  std::memset(&stamps->cache, 0, sizeof stamps->cache);
  // Elapsed times count on the steady clock; a stamp that shows them reads both clocks
  // once.
  stamps->start = platform::CurrentMoment(true).steady;
  stamps->previous = stamps->start;
}

const char16_t* StampNow(LineStamps* stamps, const StampedOptions& options) {
  bool elapsed = options.stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE);
  return StampAt(stamps, options, platform::CurrentMoment(elapsed));
}

const char16_t* StampAt(LineStamps* stamps, const StampedOptions& options, const Moment& moment) {
  MakeLineStamp(stamps->text, options.format, options.stampFlags, options.formatFlags, moment, stamps->start,
                &stamps->previous, &stamps->cache);
  return stamps->text;
}

bool ReportReadError(uint32_t error) {
  if (error == 0 || error == kErrorBrokenPipe) return false;
  char16_t text[kSmallText];
  ErrorCodeText(error, text);
  ReportError(u"Error reading from pipe: \"%s\"\r\n", text);
  return true;
}

}  // namespace horalin
