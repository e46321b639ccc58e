// POSIX backend: a program started as a shell starts it, for the run command and the
// help viewer.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace horalin::platform {

// What a started program gets besides its arguments and this program's environment.
struct SpawnSetup {
  int output = -1;           // becomes its standard output; -1: this program's own
  int error = -1;            // becomes its standard error; -1: this program's own
  sigset_t defaults{};       // the signals it starts with at their default action
  bool noneBlocked = false;  // it starts with no signal blocked (else with this program's mask)
};

// The signals of `list` that this program does not ignore now, for `defaults`: one that
// was ignored when this program started stays ignored in the program it starts, as a
// shell leaves it. notIgnored[i] tells the same of list[i].
sigset_t SignalsNotIgnored(const int* list, size_t count, bool* notIgnored);

// The arguments as UTF-8, each whole (the system's limit is the only one), in `store`;
// `args` points at each, a null after them.
void Utf8Arguments(const char16_t* const* argv, size_t count, std::vector<char*>* args, std::vector<char>* store);

// Starts `file` with `argv` as `setup` says. 0 and the program's id, or the error.
int SpawnProgram(pid_t* pid, const char* file, char* const* argv, const SpawnSetup& setup);

}  // namespace horalin::platform
