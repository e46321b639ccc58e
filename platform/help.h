// Process services for the help viewer.
#pragma once

#include "platform/platform.h"

namespace horalin::platform {

// Ends a process that the plug-in started, with exit code 0, without waiting for it,
// and releases its handle. Failure (the process has ended already) is ignored.
void EndProcess(Handle process);

}  // namespace horalin::platform
