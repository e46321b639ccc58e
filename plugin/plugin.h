// The plug-in's identity and the state that outlives a single call.
#pragma once

#include "host/host.h"

namespace horalin {

// The help viewer's process handle, or null.
extern void* ViewerProcess;

// The names the plug-in provides: "ts,@datefmt".
extern const char16_t kFunctionList[];

}  // namespace horalin
