// The help locator: the Help export's search for the help file and its viewer.
#pragma once

namespace horalin {

// Tries the seven places in order until a viewer starts on one; when none works, shows
// the message that lists them. Returns 1, always.
int FindHelpFile(const char16_t* topic);

}  // namespace horalin
