// The TS command: reads lines from standard input and writes each with a time stamp in
// front of it, through the host's output functions.
#include "plugin/TSCmd.h"

#include <cstring>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "host/host.h"
#include "lines/encoding.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "plugin/tokenizer.h"

namespace horalin {

const char16_t kTsHelpText[] =
    u"Add time stamps to lines from a pipe. \n\n"
    u"TS /CP: /D /F /I /S /T /U \"format\" \r\n\n"
    u"\t/CP:n\tcode page (for non-Unicode text) \n"
    u"\t/D\tinclude the date \n"
    u"\t/F\tadd a final footer line \n"
    u"\t/I\tincremental times (since the last line) \n"
    u"\t/S\tcumulative times (since the start time) \n"
    u"\t/T\tinclude the time \n"
    u"\t/U\tCoordinated Universal Time \n"
    u"\tformat\tformat string, as in @DATEFMT \n\n"
    u"TS reads lines from a pipe, and prepends the current time to \n"
    u"each.  Remember that pipe commands run in a new shell!  To pipe \n"
    u"to this command, you must ensure that this plugin is loaded in \n"
    u"the new shell, e.g. by copying the plugin .DLL file to TCC\u2019s \n"
    u"\u2018PlugIns\u2019 directory.\n";

ReadFunction TsInputReader = platform::ReadInput;

TsCall TsCallStorage;

namespace {

constexpr char16_t kDefaultFormat[] = u"%F %H:%M:%S.%L";

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
bool ReadCodePageOption(char16_t* argument, TsOptions* options) {
  const char16_t* value = argument + 3;
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
  const char16_t* format = kDefaultFormat;
  if (date && !time)
    format = u"%F";
  else if (time && !date)
    format = u"%H:%M:%S.%L";
  else if (!date && !time && (options->stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)))
    return;  // only the elapsed times
  CopyText(options->format, kFormatText, format);
}

TsArguments ReadArguments(const char16_t* text, TsOptions* options, bool acceptMerge, ExtraTsOption extra) {
  int32_t count = TokenizeArguments(text);
  if (count < 0) return TsArguments::Failed;
  for (int32_t k = 0; k < count; ++k) {
    char16_t* argument = Arguments.args[k];
    if (Arguments.lengths[k] == 0) continue;
    if (argument[0] == u'/' && argument[1] == u'?') {
      ShowTsUsage(argument[2] == u'?');
      return TsArguments::Done;
    }
    bool ok = true;
    int taken = extra ? extra(argument) : 0;
    if (taken != 0) {
      ok = taken > 0;
    } else if (StartsWithNoCase(argument, u"/CP")) {
      ok = ReadCodePageOption(argument, options);
    } else if (CompareNoCase(argument, u"/D") == 0) {
      options->stampFlags |= TSF_DATE;
    } else if (CompareNoCase(argument, u"/F") == 0) {
      options->footer = true;
    } else if (CompareNoCase(argument, u"/I") == 0) {
      options->stampFlags |= TSF_INCREMENTAL;
    } else if (CompareNoCase(argument, u"/S") == 0) {
      options->stampFlags |= TSF_CUMULATIVE;
    } else if (CompareNoCase(argument, u"/T") == 0) {
      options->stampFlags |= TSF_TIME;
    } else if (CompareNoCase(argument, u"/U") == 0 || CompareNoCase(argument, u"/UTC") == 0) {
      options->formatFlags |= FDT_UTC;
    } else if (StartsWithNoCase(argument, u"/U")) {
      ok = ReadEncodingOption(argument, options);
    } else if (acceptMerge && CompareNoCase(argument, u"/M") == 0) {
      options->merge = true;
    } else if (argument[0] == u'/') {
      ReportError(u"Unknown option: \"%s\"\r\n", Upper(argument));
      ok = false;
    } else if (options->format[0] == 0) {
      SetFormat(options, argument);
    } else {
      ReportError(u"Syntax error: \"%s\"\r\n", Upper(argument));
      ok = false;
    }
    if (!ok) return TsArguments::Failed;
  }
  return TsArguments::Run;
}

void PromptIfConsole(platform::Handle input) {
  if (!input || platform::IsDiskFile(input) || !platform::IsConsoleInput(input)) return;
  char16_t prompt[kSmallText];
  FormatText(prompt, kSmallText, u"\n   Reading from the console; press %s to end: \n\n",
             platform::ConsoleEndOfInputKeys());
  platform::WriteConsolePrompt(prompt);
}

int RunTs(const char16_t* arguments) {
  TsCall& call = TsCallStorage;
  TsArguments parsed = ReadTsArguments(arguments, &call.options, false);
  if (parsed == TsArguments::Failed) return 1;
  if (parsed == TsArguments::Done) return 0;

  platform::Handle input = platform::StdHandle(platform::StdStream::Input);
  PromptIfConsole(input);
  TsStream& in = call.streams[0];
  SetUpTsStream(&in, input, TsInputReader, call.options);
  StartTsStamps(&call.stamps);
  while (ReadPipeLine(&in.reader, in.line) >= 0) Printf(u"%s %s\r\n", MakeTsStamp(&call.stamps, call.options), in.line);

  int result = ReportTsReadError(in.reader.lastError) ? 2 : 0;
  if (call.options.footer) Printf(u"%s ---- End Of Pipe ----\r\n", MakeTsStamp(&call.stamps, call.options));
  return result;
}

}  // namespace

TsArguments ReadTsArguments(const char16_t* text, TsOptions* options, bool acceptMerge, ExtraTsOption extra) {
  std::memset(options, 0, sizeof *options);
  options->formatFlags = FDT_NO_DOUBLE_PERCENT;
  options->encoding = EncodingUndecided;
  TsArguments parsed = ReadArguments(text, options, acceptMerge, extra);
  if (parsed == TsArguments::Run) ChooseDefaultFormat(options);
  return parsed;
}

void SetUpTsStream(TsStream* stream, platform::Handle handle, ReadFunction read, const TsOptions& options) {
  stream->line[0] = 0;
  SetUpPipeReader(&stream->reader, handle, stream->block, kPipeBlockBytes, stream->lineBytes, options.encoding,
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
  MakeLineStamp(stamps->text, options.format, options.stampFlags, options.formatFlags, platform::CurrentMoment(elapsed),
                stamps->start, &stamps->previous, &stamps->cache);
  return stamps->text;
}

bool ReportTsReadError(uint32_t error) {
  if (error == 0 || error == kErrorBrokenPipe) return false;
  char16_t text[kSmallText];
  ErrorCodeText(error, text);
  ReportError(u"Error reading from pipe: \"%s\"\r\n", text);
  return true;
}

int ShowTsUsage(bool versionLines) {
  QPuts(kTsHelpText);
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
