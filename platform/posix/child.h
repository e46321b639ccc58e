// POSIX backend of the run command: what the program itself hands over beside the
// portable services.
#pragma once

namespace horalin::platform {

// The program's arguments as it was given them, kept so that a command started by
// StartChild gets its arguments byte for byte: its `count` arguments are the last ones
// of these. Unset, they are converted from the engine's text.
void KeepArgumentBytes(char* const* argv, int count);
// Ends this program by the signal that ended the last command run, or that stopped this
// program after it had ended, when `status` is 128 + that signal: so that a shell
// sees the same end as without this program. Returns otherwise.
void EndLikeCommand(int status);

}  // namespace horalin::platform
