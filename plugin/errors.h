// Error reporting: every error reaches the user as one line on standard error, after
// the plug-in's prefix and, inside a batch file, the batch file's name and line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "datetime/parser.h"

namespace horalin {

// Writes "Horalin plugin: " and, inside a batch file, "name [line]  ". Returns 0.
int ReportErrorPrefix();
// Fills `text` (1024 units) with the system's one-line text for `code`,
// "Unknown error" for 0xFFFFFFFF, or "Error %d" when the system has none. Returns 0.
int ErrorCodeText(uint32_t code, char16_t* text);
// The standard error handle, for the host's Qprintf.
void* StdErrorHandle();
// The prefix, then the message formatted with the host's Qprintf on standard error.
void ReportError(const char16_t* format, ...);
void ReportErrorV(const char16_t* format, va_list args);
// Reports that a call's record could not be made. Returns 1, the status of a command
// that could not begin.
int ReportNoMemory();

// Writes an empty line, the text from `start` to its end, and a caret under `position`
// to standard error. Returns -1 for a null pointer, -2 when `position` lies before
// `start` (nothing written), 0 otherwise.
int32_t ShowErrorPosition(const char16_t* start, const char16_t* position);
// Reports a date and time argument `text` that the parser refused: the message and,
// where the fault has a position, the caret display under it.
void ReportParseError(const char16_t* text, const ParseError& error);

}  // namespace horalin
