// POSIX backend: a program found as a shell finds it, for the run command and the help viewer.
#pragma once
#include <cstddef>

namespace horalin::platform {

// Finds the program as a shell does: a name with a slash as it stands, any other in the
// folders of PATH (an empty folder is the current one). 0 and its path, or why it cannot
// be run: ENOENT when there is no such file, EACCES when the only ones found are not
// executable files. Telling these apart before a start does not depend on how
// posix_spawnp reports a failed exec (under valgrind only by the child's exit status).
int FindProgram(const char* name, char* path, std::size_t capacity);

}  // namespace horalin::platform
