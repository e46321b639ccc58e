// The plug-in's identity and the state that outlives a single call.
#pragma once

#include "host/host.h"

namespace horalin {

// The plug-in library's own module handle (Windows); set when the library is attached.
extern void* ModuleHandle;
// The help viewer's process handle, or null.
extern void* ViewerProcess;

// The names the plug-in provides: "ts,@datefmt".
extern const char16_t kFunctionList[];

// The help text of TS, which its usage shows and Usage copies from its syntax line on.
extern const char16_t kTsHelpText[];

}  // namespace horalin
