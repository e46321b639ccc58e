// The TS command (export `ts`, in host/host.h) and its usage text.
#pragma once

#include "tscmd/reader.h"

namespace horalin {

// How TS reads its standard input: platform::ReadInput, unless a test feeds it blocks.
extern ReadFunction TsInputReader;

// Writes the usage text of TS and, when asked, the two version lines. Returns 0.
int ShowTsUsage(bool versionLines);

}  // namespace horalin
