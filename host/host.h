// The host shell's five output and expansion functions, which the plug-in calls,
// and the calling conventions of the plug-in's own exports.
//
// Text is UTF-16 throughout. Printf and Qprintf follow the Windows printf conventions:
// "%s" takes a UTF-16 string, "%I64u" a 64-bit unsigned number. The plug-in ignores
// every result of these functions.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define HORALIN_HOST_IMPORT __declspec(dllimport)
#define HORALIN_EXPORT __declspec(dllexport)
#else
#define HORALIN_HOST_IMPORT
#define HORALIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// Formats and writes to standard output.
HORALIN_HOST_IMPORT int Printf(const char16_t* format, ...);
// Formats and writes to the given handle (standard error for every error message).
HORALIN_HOST_IMPORT int Qprintf(void* handle, const char16_t* format, ...);
// Writes the text unchanged to standard output.
HORALIN_HOST_IMPORT int QPuts(const char16_t* text);
// Expands the shell's variable references and variable functions in place. The buffer
// stays terminated within the capacity that the caller gives it (8192, 1024 or 32768
// units, by the caller); `recurse` is always 1.
HORALIN_HOST_IMPORT int ExpandVariables(char16_t* buffer, int recurse);
// Writes the full, canonical form of `path` into `result` (32768 units).
HORALIN_HOST_IMPORT int QueryTrueName(const char16_t* path, char16_t* result);
}

// The plug-in's record for the host: 80 bytes, read through GetPluginInfo's pointer.
struct PluginInfo {
  const char16_t* name;
  const char16_t* author;
  const char16_t* email;
  const char16_t* webPage;
  const char16_t* description;
  const char16_t* functions;
  int major;
  int minor;
  int build;
  int alignment;
  void* hostField1;  // both belong to the host; the plug-in leaves them zero
  void* hostField2;
};
static_assert(sizeof(PluginInfo) == 80);

// The seven exports, as the host calls them.
extern "C" {
HORALIN_EXPORT PluginInfo* GetPluginInfo();
HORALIN_EXPORT int InitializePlugin();
HORALIN_EXPORT int ShutdownPlugin();
HORALIN_EXPORT int Usage(const char16_t* name, char16_t* syntax);
HORALIN_EXPORT int Help(const char16_t* name);
HORALIN_EXPORT int ts(const char16_t* arguments);
HORALIN_EXPORT int f_datefmt(char16_t* buffer);
}

// The exports that only the horalin program calls; the shell does not.

// The units of ReadInputLine's line buffer: at most 32,767 units and the terminator.
inline constexpr uint32_t kInputLineUnits = 32768;

extern "C" {
// The run command: a command's standard output and standard error stamped line by line as
// TS stamps its input. `arguments`: TS's arguments and "/M", as one command line;
// `command`: the command and its arguments, `count` of them. Returns the command's exit
// status (128 + the signal's number when a signal ended it); 127 when the command was not
// found, 126 when it could not be run; 1 after an error in the arguments (nothing is
// started); 87 when a part is missing.
HORALIN_EXPORT int StampCommand(const char16_t* arguments, const char16_t* const* command, int count);
// The restamp command: the stamps already at the start of a log's lines read and written
// again as TS writes its stamps. `arguments`: TS's arguments and restamp's own (/FORM,
// /ZONE, /YEAR, /R) as one command line; `files`: the files to read in turn, `count` of
// them (none: standard input). Returns 0; 1 after an error in the arguments (nothing is
// read); 2 when a file could not be opened or read; 87 when a part is missing.
HORALIN_EXPORT int RestampLog(const char16_t* arguments, const char16_t* const* files, int count);
// One line of datefmt --lines. `buffer` (8192 units) holds the line, `lineLength` units,
// then a separator and the format; on success it holds the result (0). Without
// `options` the line is read as @DATEFMT reads its date and time; with them (restamp's
// /FORM, /ZONE and /YEAR, as one command line, read when `buffer` is null) as restamp
// reads a stamp, and rendered in local time. An error is reported with the line as
// given (-1). Returns 1 for a missing buffer or options that are not right (reported).
HORALIN_EXPORT int DateLine(char16_t* buffer, int lineLength, const char16_t* options);
// Standard input as lines for datefmt --lines, read by the pipe reader of TS, run and
// restamp (encodings, UTF-16 line ends, long lines, a last line without a line end) over
// the program's own `read` (0 and the count, 0 at the end; or the system's error code).
// OpenInputLines: the reader, one allocation, or null. ReadInputLine: the next line into
// `line` (kInputLineUnits units) without its line end, and its length; *detail is 1 when
// the line reached kInputLineUnits - 1 units and goes on in the next, else 0. -1 after a
// failed read (*detail: its error code), -2 at the end of the input.
typedef uint32_t (*HoralinReadInput)(void* block, uint32_t capacity, uint32_t* bytesRead);
HORALIN_EXPORT void* OpenInputLines(HoralinReadInput read);
HORALIN_EXPORT int ReadInputLine(void* lines, char16_t* line, uint32_t* detail);
HORALIN_EXPORT void CloseInputLines(void* lines);
}
