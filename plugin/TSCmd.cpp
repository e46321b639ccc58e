// The TS command: reads lines from standard input and writes each with a time stamp in
// front of it, through the host's output functions.
#include "plugin/TSCmd.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "host/host.h"
#include "host/switches.h"
#include "lines/line_bytes.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "plugin/stamped_lines.h"

namespace horalin {

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

void PromptIfConsole(platform::Handle input) {
  if (!input || platform::IsDiskFile(input) || !platform::IsConsoleInput(input)) return;
  char16_t prompt[kSmallText];
  FormatText(prompt, kSmallText, u"\n   Reading from the console; press %s to end: \n\n",
             platform::ConsoleEndOfInputKeys());
  platform::WriteConsolePrompt(prompt);
}

// One call of TS: its options, stamps and input, and the moment of the last read. Made
// by the call, on the heap (it is large for the shell's stack).
struct TsCall {
  StampedOptions options;
  LineStamps stamps;
  StampedStream in;
  platform::Handle input;  // standard input
  // The clocks read once per read of the input, right after it: the lines of one read
  // came together, at that moment, and are stamped with it. The clock is then read once
  // a block, not once a line, where a reading costs as much as the rest of a short line's
  // stamp.
  Moment lastRead;
  bool readSteadyToo;  // the stamps show elapsed times
};

// The reader's read and wait functions: its handle is the call.
uint32_t ReadAndNoteTheMoment(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  TsCall& call = *static_cast<TsCall*>(handle);
  const uint32_t result = StandardInputReader(call.input, block, capacity, bytesRead);
  call.lastRead = platform::CurrentMoment(call.readSteadyToo);
  return result;
}

bool WaitForStandardInput(platform::Handle handle, uint32_t milliseconds) {
  return platform::WaitForInput(static_cast<TsCall*>(handle)->input, milliseconds);
}

int RunTs(const char16_t* arguments) {
  std::unique_ptr<TsCall> made(new (std::nothrow) TsCall);
  if (!made) return ReportNoMemory();
  TsCall& call = *made;
  SwitchRead read = ReadStampedArguments(arguments, &call.options, kSwitchTs, SwitchAppliers{});
  if (read == SwitchRead::kFailed) return 1;
  if (read == SwitchRead::kDone) return 0;

  call.input = platform::StdHandle(platform::StdStream::Input);
  PromptIfConsole(call.input);
  StampedStream& in = call.in;
  SetUpStampedStream(&in, &call, ReadAndNoteTheMoment, call.options);
  in.reader.wait = WaitForStandardInput;
  StartLineStamps(&call.stamps);
  const StampedOptions& o = call.options;
  call.readSteadyToo = (o.stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)) != 0;
  call.lastRead = Moment{};
  LineStamps& s = call.stamps;
  in.reader.passUtf8 = LinesGoAsBytes();
  for (int32_t length; (length = ReadPipeLine(&in.reader, in.line)) >= 0;) {
    MakeLineStamp(s.text, o.format, o.stampFlags, o.formatFlags, call.lastRead, s.start, &s.previous, &s.cache);
    if (!WriteLineAsBytes(s.text, o.stampFlags, &s.cache, in.reader, length, in.line))
      Printf(u"%s %s\r\n", s.text, in.line);
  }

  int result = ReportReadError(in.reader.lastError) ? 2 : 0;
  if (o.footer) Printf(u"%s ---- End Of Pipe ----\r\n", StampNow(&call.stamps, o));
  return result;
}

}  // namespace

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
