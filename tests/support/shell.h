// A text as one word of a POSIX shell's command line, for the tests that write scripts or
// run a command line through the shell.
#pragma once

#include <string>

namespace horalin::testing {

// In single quotes, each quote inside written as '\'' (the shell reads nothing inside
// single quotes, so no other character needs care).
inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace horalin::testing
