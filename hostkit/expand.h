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

}  // namespace horalin::hostkit
