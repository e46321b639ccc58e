// The TS command (export `ts`, in host/host.h) and its usage text.
#pragma once

namespace horalin {

// Writes the usage text of TS and, when asked, the two version lines. Returns 0.
int ShowTsUsage(bool versionLines);

}  // namespace horalin
