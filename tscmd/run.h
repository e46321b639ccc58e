// The run command of the horalin program: a command's standard output and standard
// error stamped line by line as TS stamps its input. Exported from the library for the
// program; the shell does not call it.
#pragma once

#include "host/host.h"

extern "C" {
// `arguments`: TS's arguments and "/M", as one command line; `command`: the command and
// its arguments, `count` of them. Returns the command's exit status (128 + the signal's
// number when a signal ended it); 127 when the command was not found, 126 when it could
// not be run; 1 after an error in the arguments (nothing is started); 87 when a part is
// missing.
HORALIN_EXPORT int StampCommand(const char16_t* arguments, const char16_t* const* command, int count);
}
