// The horalin command line, shared by the POSIX program and the Windows program.
// It drives the plug-in as the shell does and writes only through the host's functions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host.h"

namespace horalin::hostkit {

struct HostFunctions {
  int (*printf)(const char16_t* format, ...);
  int (*qprintf)(void* handle, const char16_t* format, ...);
  int (*puts)(const char16_t* text);
  int (*expandVariables)(char16_t* buffer, int recurse);
  int (*queryTrueName)(const char16_t* path, char16_t* result);
  void* standardError;
  // Reads up to `capacity` bytes of standard input: 0 and the count (0 at its end), or
  // the system's error code. Null when the host cannot read its input.
  uint32_t (*readInput)(void* block, uint32_t capacity, uint32_t* bytesRead);
  // Names the place that the plug-in's next error messages belong to; they show it as
  // they show a batch file's name and line (the variables _batch, _batchname and
  // _batchline). A null name ends it. Null when the host has no such place.
  void (*setErrorLocation)(const char16_t* name, uint32_t line);
  // Writes `length` units of text to standard output as `puts` writes a zero-terminated
  // text, for a caller that knows the length. Null when the host has no such function.
  void (*writeText)(const char16_t* text, size_t length);
  // The system's text for an error code, one line; false when it has none. Null when
  // the host has no such texts.
  bool (*errorText)(uint32_t code, char16_t* text, size_t capacity);
  // How many texts have been written to standard error so far, to tell whether the
  // plug-in reported an error. Null when the host does not count them.
  uint32_t (*errorsWritten)();
  // Writes `length` units of text and a line end exactly as `writeText` writes the text
  // followed by CR LF, when every unit is 7-bit and not CR (the usual line, which then goes
  // as its bytes in one step); false, having written nothing, for any other text. Null when
  // the host has no such function.
  bool (*writeAsciiLine)(const char16_t* text, size_t length);
};

struct PluginExports {
  PluginInfo* (*getPluginInfo)();
  int (*initializePlugin)();
  int (*shutdownPlugin)();
  int (*usage)(const char16_t* name, char16_t* syntax);
  int (*help)(const char16_t* name);
  int (*ts)(const char16_t* arguments);
  int (*datefmt)(char16_t* buffer);
  // The run command: TS's arguments as one command line, then the command to run.
  int (*stampCommand)(const char16_t* arguments, const char16_t* const* command, int count);
  // The restamp command: TS's arguments and its own as one command line, then the files.
  int (*restampLog)(const char16_t* arguments, const char16_t* const* files, int count);
  // One line of datefmt --lines (null: the line goes to datefmt as "LINE,FORMAT").
  int (*dateLine)(char16_t* buffer, int lineLength, const char16_t* options);
  // Standard input as lines, through the plug-in's pipe reader (ReadInputLine and the
  // others in host/host.h); null: datefmt --lines cannot read its input.
  void* (*openInputLines)(HoralinReadInput read);
  int (*readInputLine)(void* lines, char16_t* line, uint32_t* detail);
  void (*closeInputLines)(void* lines);
};

// Rewrites a function's result in place as the shell shows it, from `text` on: every
// doubled percent sign once. Returns where the text now ends (no terminator written).
char16_t* CollapseDoubledPercents(char16_t* text);

// Runs one command line (the arguments after the program name) and returns the exit
// status.
int RunCommandLine(int argc, char16_t** argv, const HostFunctions& host, const PluginExports& plugin);

}  // namespace horalin::hostkit
