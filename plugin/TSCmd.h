// The TS command (export `ts`, in host/host.h) and its usage text. Its driver, which the
// run and restamp commands share, is plugin/stamped_lines.h.
#pragma once

namespace horalin {

// The help text of TS, which its usage shows and Usage copies from its syntax line on;
// its switches are those of kTsSwitches that TS takes and that have help.
const char16_t* TsHelpText();

// Writes the usage text of TS and, when asked, the two version lines. Returns 0.
int ShowTsUsage(bool versionLines);

}  // namespace horalin
