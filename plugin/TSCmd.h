// The TS command (export `ts`, in host/host.h) and its usage text, and the parts of its
// driver that the run command (plugin/run.cpp) shares: the options, one stamp state and
// the streams of input, each with a reader of its own.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "host/switches.h"
#include "lines/encoding.h"
#include "lines/reader.h"
#include "lines/stamp.h"

namespace horalin {

// How TS reads its standard input: platform::ReadInput, unless a test feeds it blocks.
extern ReadFunction TsInputReader;

// The help text of TS, which its usage shows and Usage copies from its syntax line on;
// its switches are those of kTsSwitches that TS takes and that have help.
const char16_t* TsHelpText();

// Writes the usage text of TS and, when asked, the two version lines. Returns 0.
int ShowTsUsage(bool versionLines);

// The format of a stamp when neither a format nor /D or /T is given.
inline constexpr char16_t kTsDefaultFormat[] = u"%F %H:%M:%S.%L";

struct TsOptions {
  char16_t format[kFormatText];
  uint32_t stampFlags;  // TSF_*
  bool footer;
  uint32_t formatFlags;  // FDT_*
  TextEncoding encoding;
  uint32_t codePage;  // 0: none chosen
  bool merge;         // /M, the run command's only: both streams onto standard output, tagged
};

// The stamp of the latest line and what every stamp of one call shares: the rendering
// cache, the start time and the time of the previous stamp. One for all streams, so
// that elapsed times count over all of them.
struct TsStamps {
  alignas(16) char16_t text[kFormatText];  // aligned for the output, which reads 16 bytes at a time
  StampCache cache;
  uint64_t start;
  uint64_t previous;
};

// One stream of input and its reader.
struct TsStream {
  alignas(16) char16_t line[kLineCapacity];  // aligned for the output and the reader
  alignas(16) uint8_t block[kStreamBlockBytes];
  uint8_t lineBytes[kLineCapacity];
  PipeReader reader;
};

// One call's storage, held in the module because it is large. Neither TS nor the run
// command is reentrant, and every call starts it afresh.
struct TsCall {
  TsOptions options;
  TsStamps stamps;
  TsStream streams[2];  // TS reads the first; the run command the command's output and errors
};
extern TsCall TsCallStorage;

enum class TsArguments { Run, Done, Failed };

// Applies a command's own switch, a row of kTsSwitches whose effect TS does not know, with
// the value that follows its name. False after reporting an error.
using CommandSwitch = bool (*)(const TsSwitch& row, const char16_t* value);

// The row of kTsSwitches that `command` (a SwitchCommands bit) accepts and `argument` (as
// the tokenizer gives it, double quotes and all) names, or null; `*value` is then where
// its value begins, in `argument` or, for a row compared without double quotes, in
// `unquoted` (kSmallText units), which holds the argument without them.
const TsSwitch* FindTsSwitch(const char16_t* argument, uint8_t command, char16_t* unquoted, const char16_t** value);

// Resets the options and reads them from the argument text as TS does, taking the
// switches of kTsSwitches that `command` accepts (those TS does not know through `own`),
// then chooses the default format. Done after the usage text; Failed after an error
// message.
TsArguments ReadTsArguments(const char16_t* text, TsOptions* options, uint8_t command, CommandSwitch own = nullptr);
// Sets up a stream's reader over `handle` for the options' encoding and code page.
void SetUpTsStream(TsStream* stream, platform::Handle handle, ReadFunction read, const TsOptions& options);
// The start time and the previous stamp time become now.
void StartTsStamps(TsStamps* stamps);
// The stamp for a line (or the footer) that comes now, or at `moment` (read with the
// steady clock).
const char16_t* MakeTsStamp(TsStamps* stamps, const TsOptions& options);
const char16_t* MakeTsStampAt(TsStamps* stamps, const TsOptions& options, const Moment& moment);
// Reports a failed read (not the end of input) from the code that the reader keeps.
// Returns whether there was one.
bool ReportTsReadError(uint32_t error);

}  // namespace horalin
