// `horalin datefmt --lines FORMAT`: one date and time per line of standard input, each
// formatted by FORMAT through the plug-in's @DATEFMT, one output line per input line.
#pragma once

#include "hostkit/cli.h"

namespace horalin::hostkit {

// Reads standard input to its end with fixed buffers. A line that fails is reported on
// standard error with its line number and gives an empty output line, so that output
// lines stay aligned with input lines. `options` (restamp's /FORM, /ZONE and /YEAR as
// one command line, or null) have each line read as restamp reads a stamp. Returns 0, or
// 1 when any line failed (or the input could not be read), 2 when the options are wrong.
int RunDatefmtLines(const char16_t* format, const HostFunctions& host, const PluginExports& plugin,
                    const char16_t* options = nullptr);

}  // namespace horalin::hostkit
