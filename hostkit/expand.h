// Expansion of the shell's variable references, as both stand-in hosts do it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Where a stand-in host finds a variable, in this order: the place that error messages
// belong to, shown as a batch file's location (_batch 1, _batchname and _batchline while
// `locationName` is set), which takes the place of the environment's; the environment;
// then the shell's internal variables where the environment does not set them, as a user
// of the stand-in hosts expects them: _batch and _batchline 0, _batchname empty,
// _transient 1 (one command, then gone), _pipe 0 when standard input is a terminal and 1
// otherwise, _cmdspec the program. Names in any case.
struct VariableSources {
  const char16_t* locationName;  // null while no location is set
  uint32_t locationLine;
  // The environment's value of `name` (terminated) within `capacity`; false when unset.
  bool (*environment)(const char16_t* name, char16_t* value, size_t capacity);
  bool (*inputIsTerminal)();
  void (*programPath)(char16_t* path, size_t capacity);
};

// A VariableLookup over the sources: the value within `capacity`, or false when unset.
bool LookupVariable(const VariableSources& sources, const char16_t* name, size_t length, char16_t* value,
                    size_t capacity);

}  // namespace horalin::hostkit
