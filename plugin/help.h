// The help locator: the Help export's search for the help file and its viewer.
#pragma once

namespace horalin {

// Tries the seven places in order until a viewer starts on one; when none works, shows
// the message that lists them. Returns 1, always.
int FindHelpFile(const char16_t* topic);
// One place: the path after "~" and variable expansion, its true name, the file test,
// the viewer, and the viewer started at the topic's page. Returns 1 when a viewer
// started, 0 otherwise.
int TryHelpFile(const char16_t* location, const char16_t* topic);

}  // namespace horalin
