// Win32 backend: a program started with CreateProcessW, for the run command and the help
// viewer, on a command line that gives each argument back unchanged; the two rules of
// quoting an argument (the C runtime's, and cmd.exe's for a batch file) are here once.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace horalin::platform {

// Text written into a buffer of `capacity` units, always terminated: `room` turns false
// at the first unit that does not fit, and nothing is written after it.
struct BoundedText {
  char16_t* text;
  size_t capacity;
  size_t used;
  bool room;
};

// Appends `c`, `times` times.
void Put(BoundedText* b, char16_t c, size_t times = 1);
void PutText(BoundedText* b, const char16_t* text);

// Appends one argument (after a blank unless it is the first) so that the C runtime's
// splitting of the command line gives it back unchanged: in double quotes when empty,
// holding blanks or quotes, or when `always`; inside them, the backslashes before a quote
// or the closing quote doubled and the quote escaped.
void AppendArgument(BoundedText* b, const char16_t* argument, bool always);

// Appends one argument of a batch file, which cmd.exe reads again: outside double quotes
// & | < > ^ ( ) , ; = end or change the command or the argument. So an argument with
// anything but letters, digits and - _ . / : \ @ + # $ is quoted (and any when `always`);
// inside, a quote is doubled (cmd.exe stays inside the quotes, and the C runtime reads ""
// there as one quote), and backslashes before a quote or the closing quote are doubled.
// Delayed expansion (!) is off for the command. False for an argument that no quoting
// carries: cmd.exe replaces %NAME% inside quotes too (and no escape of % holds in all its
// versions), and a line break ends the command.
bool AppendBatchArgument(BoundedText* b, const char16_t* argument, bool always);

// The standard handles a program is started with, which it inherits.
struct StandardHandles {
  HANDLE input;
  HANDLE output;
  HANDLE error;
};

// Starts `program` (empty: the system looks for the command line's first word) with the
// command line `line`, which CreateProcessW may write into; with `handles` its standard
// handles (inherited), without them this process's own, nothing inherited. 0 and the
// process, or the system's error.
uint32_t CreateProgram(const char16_t* program, char16_t* line, const StandardHandles* handles,
                       PROCESS_INFORMATION* process);

}  // namespace horalin::platform
