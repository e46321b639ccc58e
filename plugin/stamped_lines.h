// Stamped lines: what the commands that stamp lines share (TS, run and restamp): their
// options, read by the switches of TS's; the stamps of one call; the streams of input,
// each with a reader of its own. Each command keeps these in the record of its call,
// which it makes and passes down.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "lines/encoding.h"
#include "lines/reader.h"
#include "lines/stamp.h"
#include "plugin/switch_reader.h"

namespace horalin {

// How TS and restamp read standard input: platform::ReadInput, unless a test feeds it
// blocks. The one hook of the module, for the tests and fuzz targets.
extern ReadFunction StandardInputReader;

// The format of a stamp when neither a format nor /D or /T is given.
inline constexpr char16_t kDefaultStampFormat[] = u"%F %H:%M:%S.%L";

// What TS's switches and its format choose.
struct StampedOptions {
  char16_t format[kFormatText];
  uint32_t stampFlags;  // TSF_*
  bool footer;
  uint32_t formatFlags;  // FDT_*
  TextEncoding encoding;
  uint32_t codePage;  // 0: none chosen
};

// The stamp of the latest line and what every stamp of one call shares: the rendering
// cache, the start time and the time of the previous stamp. One for all streams of a
// call, so that elapsed times count over all of them.
struct LineStamps {
  alignas(16) char16_t text[kFormatText];  // aligned for the output, which reads 16 bytes at a time
  StampCache cache;
  uint64_t start;
  uint64_t previous;
};

// One stream of input and its reader.
struct StampedStream {
  alignas(16) char16_t line[kLineCapacity];  // aligned for the output and the reader
  alignas(16) uint8_t block[kStreamBlockBytes];
  uint8_t lineBytes[kLineCapacity];
  PipeReader reader;
};

// Resets the options and reads them from the argument text as TS does: TS's switches
// that `command` (a SwitchCommands bit) accepts, the command's own through `own` (none
// for TS), and the format; then chooses the default format.
SwitchRead ReadStampedArguments(const char16_t* text, StampedOptions* options, uint8_t command,
                                const SwitchAppliers& own);
// Sets up a stream's reader over `handle` for the options' encoding and code page.
void SetUpStampedStream(StampedStream* stream, platform::Handle handle, ReadFunction read,
                        const StampedOptions& options);
// The start time and the previous stamp time become now.
void StartLineStamps(LineStamps* stamps);
// The stamp for a line (or the footer) that comes now, or at `moment` (read with the
// steady clock).
const char16_t* StampNow(LineStamps* stamps, const StampedOptions& options);
const char16_t* StampAt(LineStamps* stamps, const StampedOptions& options, const Moment& moment);
// Reports a failed read (not the end of input) from the code that the reader keeps.
// Returns whether there was one.
bool ReportReadError(uint32_t error);

}  // namespace horalin
