// The restamp command of the horalin program: the stamps already at the start of a log's
// lines read and written again as TS writes its stamps; and the reading of one date and
// time a line for its datefmt --lines. Exported from the library for the program; the
// shell does not call them.
#pragma once

#include "host/host.h"

extern "C" {
// `arguments`: TS's arguments and restamp's own (/FORM, /ZONE, /YEAR, /R) as one command
// line; `files`: the files to read in turn, `count` of them (none: standard input).
// Returns 0; 1 after an error in the arguments (nothing is read); 2 when a file could
// not be opened or read; 87 when a part is missing.
HORALIN_EXPORT int RestampLog(const char16_t* arguments, const char16_t* const* files, int count);

// One line of datefmt --lines. `buffer` (8192 units) holds the line, `lineLength` units,
// then a separator and the format; on success it holds the result (0). Without
// `options` the line is read as @DATEFMT reads its date and time; with them (restamp's
// /FORM, /ZONE and /YEAR, as one command line, read when `buffer` is null) as restamp
// reads a stamp, and rendered in local time. An error is reported with the line as
// given (-1). Returns 1 for a missing buffer or options that are not right (reported).
HORALIN_EXPORT int DateLine(char16_t* buffer, int lineLength, const char16_t* options);
}
