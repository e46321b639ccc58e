// The command-line tokenizer: splits a command's argument text into switches, quoted
// texts and words, as the shell's switch conventions have it.
#pragma once

#include <cstdint>

namespace horalin {

inline constexpr int32_t MAX_ARGS = 1024;
inline constexpr int32_t MAX_ARG_LEN = 8192;

// The arguments of the last TokenizeArguments call. Entry k of `args` points into
// `buffer`, where each argument is followed by its terminator; arguments stand one
// after another in the order of the command line.
struct ArgumentList {
  int32_t count;
  char16_t* args[MAX_ARGS];
  int32_t lengths[MAX_ARGS];
  char16_t buffer[MAX_ARG_LEN];
};

// The one list, valid until the next call (the tokenizer is not reentrant).
extern ArgumentList Arguments;

// Splits `text` into Arguments. Returns the count (0 to 1024), or -1 for a null text or
// when the arguments do not fit in the buffer (reported on standard error).
int32_t TokenizeArguments(const char16_t* text);

}  // namespace horalin
