// The command-line tokenizer: splits a command's argument text into switches, quoted
// texts and words, as the shell's switch conventions have it.
#pragma once

#include <cstdint>

namespace horalin {

inline constexpr int32_t kMaxArguments = 1024;
inline constexpr int32_t kArgumentUnits = 8192;

// The arguments of one command line. Entry k of `args` points into `buffer`, where each
// argument is followed by its terminator; arguments stand one after another in the order
// of the command line. The caller owns it (about 28 KB), for as long as it reads them.
struct ArgumentList {
  int32_t count;
  char16_t* args[kMaxArguments];
  int32_t lengths[kMaxArguments];
  char16_t buffer[kArgumentUnits];
};

// Splits `text` into `list`. Returns the count (0 to 1024), or -1 for a null text or
// when the arguments do not fit in the buffer (reported on standard error).
int32_t TokenizeArguments(const char16_t* text, ArgumentList* list);

}  // namespace horalin
