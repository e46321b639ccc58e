// Expansion of the shell's variable references, as both stand-in hosts do it.
#pragma once

#include <cstddef>

namespace horalin::hostkit {

// Looks up a variable by name (not terminated: `length` units). Writes its value,
// terminated, within `capacity` and returns true, or returns false when it is unset.
using VariableLookup = bool (*)(const char16_t* name, size_t length, char16_t* value, size_t capacity);

// The host cannot know the capacity of the caller's buffer, so an expansion never grows
// the text beyond the smallest capacity that callers use.
inline constexpr size_t kExpansionCapacity = 1024;

// Expands in place: "%name" (letters, digits, "_", "$"), "%[name]", "%%" (one "%"), and
// the function "%@path[text]" (the text up to its last "\" or "/"). An unset variable
// and an unknown function expand to nothing. Expanded values are not expanded again.
void ExpandVariableReferences(char16_t* buffer, VariableLookup lookup);

// The shell's internal variables where the environment does not set them, as a user of
// the stand-in hosts expects them: _batch and _batchline 0, _batchname empty,
// _transient 1 (one command, then gone), _pipe 0 when standard input is a terminal and
// 1 otherwise, _cmdspec the program (`programPath`). Names in any case. Writes the value
// within `capacity` and returns true, or returns false for any other name.
bool InternalVariable(const char16_t* name, bool inputIsTerminal, const char16_t* programPath, char16_t* value,
                      size_t capacity);

}  // namespace horalin::hostkit
