// The TS command: reads lines from standard input and writes each with a time stamp in
// front of it, through the host's output functions.
#include "plugin/TSCmd.h"

#include <cstring>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "host/host.h"
#include "lines/encoding.h"
#include "lines/line_bytes.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "plugin/tokenizer.h"

namespace horalin {

ReadFunction TsInputReader = platform::ReadInput;

TsCall TsCallStorage;

namespace {

// Counts a text, or writes it too where `out` is not null: the help text is made at
// compile time, once counted and once written.
struct HelpWriter {
  char16_t* out;
  size_t length;
  // `text` up to its end, or up to and with its first `stop`.
  constexpr void Put(const char16_t* text, char16_t stop = 0) {
    for (; *text; ++text) {
      if (out) out[length] = *text;
      ++length;
      if (*text == stop) break;
    }
  }
};

constexpr bool HasTsHelp(const TsSwitch& s) { return AcceptedByAll(s, kSwitchTs) && s.help; }

// The help text: the syntax line names each switch up to its value ("/CP:"), then a
// line for each.
constexpr size_t WriteTsHelpText(char16_t* out) {
  HelpWriter w{out, 0};
  w.Put(u"Add time stamps to lines from a pipe. \n\nTS");
  for (const TsSwitch& s : kTsSwitches)
    if (HasTsHelp(s)) {
      w.Put(u" ");
      w.Put(s.syntax, u':');
    }
  w.Put(u" \"format\" \r\n\n");
  for (const TsSwitch& s : kTsSwitches)
    if (HasTsHelp(s)) {
      w.Put(u"\t");
      w.Put(s.syntax);
      w.Put(u"\t");
      w.Put(s.help);
      w.Put(u" \n");
    }
  w.Put(
      u"\tformat\tformat string, as in @DATEFMT \n\n"
      u"TS reads lines from a pipe, and prepends the current time to \n"
      u"each.  Remember that pipe commands run in a new shell!  To pipe \n"
      u"to this command, you must ensure that this plugin is loaded in \n"
      u"the new shell, e.g. by copying the plugin .DLL file to TCC\u2019s \n"
      u"\u2018PlugIns\u2019 directory.\n");
  if (out) out[w.length] = 0;
  return w.length + 1;
}

struct TsHelp {
  char16_t text[WriteTsHelpText(nullptr)];
};

constexpr TsHelp MakeTsHelpText() {
  TsHelp help{};
  WriteTsHelpText(help.text);
  return help;
}

constexpr TsHelp kTsHelp = MakeTsHelpText();

// The name of this source file, without the folders of the build machine.
void SourceFileName(char16_t* name, size_t capacity) {
  const char* path = __FILE__;
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  if (base == path && path[0] && path[1] == ':') base = path + 2;
  Utf16FromUtf8(base, std::strlen(base), name, capacity);
}

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

// "/CP:n", "/CP=n", "/CPn"; n a number, or A (ANSI) or O (OEM) and anything after them.
bool ReadCodePageOption(char16_t* argument, const char16_t* value, TsOptions* options) {
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
  if (!CheckCodePage(argument, codePage)) return false;
  options->codePage = codePage;
  return true;
}

// "/U:name", "/U=name", "/UNICODE:name", "/UTF-8"...: everything from a comma on is
// ignored; an empty name changes nothing.
bool ReadEncodingOption(char16_t* argument, TsOptions* options) {
  char16_t* value = argument + 1;
  if (argument[2] == u':' || argument[2] == u'=')
    value = argument + 3;
  else if (StartsWithNoCase(argument, u"/UNICODE"))
    value = argument + 8;
  if (*value == u':' || *value == u'=') ++value;
  for (char16_t* p = argument; *p; ++p)
    if (*p == u',') {
      *p = 0;
      break;
    }
  if (TextLength(argument) < static_cast<size_t>(value - argument) || *value == 0) return true;
  TextEncoding encoding = ParseEncodingName(value, &options->codePage);
  if (encoding == EncodingUndecided) {
    ReportError(u"Unknown encoding: \"%s\"\r\n", Upper(argument));
    return false;
  }
  options->encoding = encoding;
  return CheckCodePage(argument, options->codePage);
}

void SetFormat(TsOptions* options, const char16_t* argument) {
  size_t n = 0;
  for (const char16_t* p = argument; *p && n + 1 < kFormatText; ++p)
    if (*p != u'"') options->format[n++] = *p;
  options->format[n] = 0;
}

bool HasVisibleText(const char16_t* text) {
  for (; *text; ++text)
    if (!IsSpace(*text)) return true;
  return false;
}

void ChooseDefaultFormat(TsOptions* options) {
  if (HasVisibleText(options->format)) return;
  bool date = options->stampFlags & TSF_DATE, time = options->stampFlags & TSF_TIME;
  const char16_t* format = kTsDefaultFormat;
  if (date && !time)
    format = u"%F";
  else if (time && !date)
    format = u"%H:%M:%S.%L";
  else if (!date && !time && (options->stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)))
    return;  // only the elapsed times
  CopyText(options->format, kFormatText, format);
}

// Applies a switch of TS's to the options, and a command's own through `own`. False after
// reporting an error.
bool ApplySwitch(const TsSwitch& row, char16_t* argument, const char16_t* value, TsOptions* options,
                 CommandSwitch own) {
  switch (row.effect) {
    case SwitchEffect::CodePage: return ReadCodePageOption(argument, value, options);
    case SwitchEffect::Encoding: return ReadEncodingOption(argument, options);
    case SwitchEffect::Date: options->stampFlags |= TSF_DATE; return true;
    case SwitchEffect::Time: options->stampFlags |= TSF_TIME; return true;
    case SwitchEffect::Incremental: options->stampFlags |= TSF_INCREMENTAL; return true;
    case SwitchEffect::Cumulative: options->stampFlags |= TSF_CUMULATIVE; return true;
    case SwitchEffect::Footer: options->footer = true; return true;
    case SwitchEffect::Utc: options->formatFlags |= FDT_UTC; return true;
    case SwitchEffect::Merge: options->merge = true; return true;
    // The commands' own; only a command that has it accepts it. Every effect is named
    // here, without a default: an effect added to the table and to no case fails the build.
    case SwitchEffect::Usage:
    case SwitchEffect::Terminals:
    case SwitchEffect::Pipes:
    case SwitchEffect::StampForm:
    case SwitchEffect::StampZone:
    case SwitchEffect::StampYear:
    case SwitchEffect::Relative: return own && own(row, value);
  }
  return false;
}

// An argument that names no switch: the format, or an error.
bool ReadFormatArgument(char16_t* argument, TsOptions* options) {
  if (argument[0] == u'/') {
    ReportError(u"Unknown option: \"%s\"\r\n", Upper(argument));
    return false;
  }
  if (options->format[0] != 0) {
    ReportError(u"Syntax error: \"%s\"\r\n", Upper(argument));
    return false;
  }
  SetFormat(options, argument);
  return true;
}

TsArguments ReadArguments(const char16_t* text, TsOptions* options, uint8_t command, CommandSwitch own) {
  int32_t count = TokenizeArguments(text);
  if (count < 0) return TsArguments::Failed;
  for (int32_t k = 0; k < count; ++k) {
    char16_t* argument = Arguments.args[k];
    if (Arguments.lengths[k] == 0) continue;
    char16_t unquoted[kSmallText];
    const char16_t* value = nullptr;
    const TsSwitch* row = FindTsSwitch(argument, command, unquoted, &value);
    if (row && row->effect == SwitchEffect::Usage) {
      ShowTsUsage(argument[2] == u'?');
      return TsArguments::Done;
    }
    bool ok = row ? ApplySwitch(*row, argument, value, options, own) : ReadFormatArgument(argument, options);
    if (!ok) return TsArguments::Failed;
  }
  return TsArguments::Run;
}

// Where the value of `row` begins in `text`, or null when `text` does not name it.
const char16_t* SwitchValue(const TsSwitch& row, const char16_t* text) {
  if (!StartsWithNoCase(text, row.name)) return nullptr;
  const char16_t* rest = text + TextLength(row.name);
  switch (row.match) {
    case SwitchMatch::Exact: return *rest == 0 ? rest : nullptr;
    case SwitchMatch::Prefix: return rest;
    case SwitchMatch::Valued:
      if (*rest == u':' || *rest == u'=') return rest + 1;
      return *rest == 0 ? rest : nullptr;
  }
  return nullptr;
}

// The argument without its double quotes, in `out` (kSmallText units).
void CopyWithoutQuotes(const char16_t* argument, char16_t* out) {
  size_t n = 0;
  for (const char16_t* p = argument; *p && n + 1 < kSmallText; ++p)
    if (*p != u'"') out[n++] = *p;
  out[n] = 0;
}

void PromptIfConsole(platform::Handle input) {
  if (!input || platform::IsDiskFile(input) || !platform::IsConsoleInput(input)) return;
  char16_t prompt[kSmallText];
  FormatText(prompt, kSmallText, u"\n   Reading from the console; press %s to end: \n\n",
             platform::ConsoleEndOfInputKeys());
  platform::WriteConsolePrompt(prompt);
}

// The clocks read once per read of the input, right after it: the lines of one read came
// together, at that moment, and are stamped with it. The clock is then read once a block,
// not once a line, where a reading costs as much as the rest of a short line's stamp.
Moment LastRead;
bool ReadSteadyToo;  // the stamps show elapsed times

uint32_t ReadAndNoteTheMoment(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  const uint32_t result = TsInputReader(handle, block, capacity, bytesRead);
  LastRead = platform::CurrentMoment(ReadSteadyToo);
  return result;
}

int RunTs(const char16_t* arguments) {
  TsCall& call = TsCallStorage;
  TsArguments parsed = ReadTsArguments(arguments, &call.options, kSwitchTs);
  if (parsed == TsArguments::Failed) return 1;
  if (parsed == TsArguments::Done) return 0;

  platform::Handle input = platform::StdHandle(platform::StdStream::Input);
  PromptIfConsole(input);
  TsStream& in = call.streams[0];
  SetUpTsStream(&in, input, ReadAndNoteTheMoment, call.options);
  StartTsStamps(&call.stamps);
  const TsOptions& o = call.options;
  ReadSteadyToo = (o.stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)) != 0;
  TsStamps& s = call.stamps;
  in.reader.passUtf8 = LinesGoAsBytes();
  for (int32_t length; (length = ReadPipeLine(&in.reader, in.line)) >= 0;) {
    MakeLineStamp(s.text, o.format, o.stampFlags, o.formatFlags, LastRead, s.start, &s.previous, &s.cache);
    if (!WriteLineAsBytes(s.text, o.stampFlags, &s.cache, in.reader, length, in.line))
      Printf(u"%s %s\r\n", s.text, in.line);
  }

  int result = ReportTsReadError(in.reader.lastError) ? 2 : 0;
  if (call.options.footer) Printf(u"%s ---- End Of Pipe ----\r\n", MakeTsStamp(&call.stamps, call.options));
  return result;
}

}  // namespace

const TsSwitch* FindTsSwitch(const char16_t* argument, uint8_t command, char16_t* unquoted, const char16_t** value) {
  CopyWithoutQuotes(argument, unquoted);
  for (const TsSwitch& row : kTsSwitches) {
    if (!AcceptedByAll(row, command)) continue;
    if (const char16_t* at = SwitchValue(row, row.quotesRemoved ? unquoted : argument)) {
      *value = at;
      return &row;
    }
  }
  return nullptr;
}

TsArguments ReadTsArguments(const char16_t* text, TsOptions* options, uint8_t command, CommandSwitch own) {
  std::memset(options, 0, sizeof *options);
  options->formatFlags = FDT_NO_DOUBLE_PERCENT;
  options->encoding = EncodingUndecided;
  TsArguments parsed = ReadArguments(text, options, command, own);
  if (parsed == TsArguments::Run) ChooseDefaultFormat(options);
  return parsed;
}

void SetUpTsStream(TsStream* stream, platform::Handle handle, ReadFunction read, const TsOptions& options) {
  stream->line[0] = 0;
  SetUpPipeReader(&stream->reader, handle, stream->block, kStreamBlockBytes, stream->lineBytes, options.encoding,
                  options.codePage);
  stream->reader.read = read;
}

void StartTsStamps(TsStamps* stamps) {
  stamps->text[0] = 0;
  std::memset(&stamps->cache, 0, sizeof stamps->cache);
  // Elapsed times count on the steady clock; a stamp that shows them reads both clocks
  // once.
  stamps->start = platform::CurrentMoment(true).steady;
  stamps->previous = stamps->start;
}

const char16_t* MakeTsStamp(TsStamps* stamps, const TsOptions& options) {
  bool elapsed = options.stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE);
  return MakeTsStampAt(stamps, options, platform::CurrentMoment(elapsed));
}

const char16_t* MakeTsStampAt(TsStamps* stamps, const TsOptions& options, const Moment& moment) {
  MakeLineStamp(stamps->text, options.format, options.stampFlags, options.formatFlags, moment, stamps->start,
                &stamps->previous, &stamps->cache);
  return stamps->text;
}

bool ReportTsReadError(uint32_t error) {
  if (error == 0 || error == kErrorBrokenPipe) return false;
  char16_t text[kSmallText];
  ErrorCodeText(error, text);
  ReportError(u"Error reading from pipe: \"%s\"\r\n", text);
  return true;
}

const char16_t* TsHelpText() { return kTsHelp.text; }

int ShowTsUsage(bool versionLines) {
  QPuts(TsHelpText());
  if (versionLines) {
    char16_t source[kSmallText];
    SourceFileName(source, kSmallText);
    Printf(u"\r\n\t\t\t\t%s  %u.%u.%u.%u (%s)\r\n", kPluginName, kVersionMajor, kVersionMinor, kVersionBuild, 0u,
           u"x64");
    Printf(u"\t\t\t\t%s  %s\r\n", source, kVersionText);
  }
  return 0;
}

}  // namespace horalin

extern "C" int ts(const char16_t* arguments) {
  if (!arguments) return 87;
  return horalin::RunTs(arguments);
}
