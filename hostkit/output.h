// A stream of UTF-16 text written out as UTF-8 bytes, for the stand-in hosts.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "common/utf.h"

namespace horalin::hostkit {

struct Utf8Stream {
  // Writes bytes to the device; false when the device failed (a closed pipe).
  bool (*write)(Utf8Stream* stream, const char* bytes, size_t count);
  bool lineFeedsOnly;  // every CR LF becomes LF
  bool buffered;       // collect up to a full buffer before writing
  bool failed;
  bool pendingCr;
  Utf8Encoder encoder;  // holds the high half of a pair split between two writes
  size_t used;
  char buffer[65536];
};

// Appends text; writes when the buffer fills (or at once when unbuffered).
void StreamText(Utf8Stream* stream, const char16_t* text, size_t length);
// The same for zero-terminated text.
void StreamTerminatedText(Utf8Stream* stream, const char16_t* text);
// The host's printf conventions, formatted into the stream.
void StreamFormat(Utf8Stream* stream, const char16_t* format, va_list args);
// Appends bytes as they are, past the conversion of text: a held CR or half pair goes
// out first, as it stands.
void StreamBytes(Utf8Stream* stream, const char* bytes, size_t count);
// A line of bytes: `head`, then `line`, then the line end that the stream writes for a
// CR LF of text (LF where CR LF becomes LF). As StreamBytes, after a held unit.
void StreamLineBytes(Utf8Stream* stream, const char* head, size_t headCount, const char* line, size_t lineCount);
// `length` units of text and the line end, as StreamText writes the text followed by CR LF,
// when every unit is 7-bit and not CR and the stream holds no unit and has room for them;
// false, having written nothing, otherwise.
bool StreamAsciiLine(Utf8Stream* stream, const char16_t* text, size_t length);
// Writes what is buffered; `final` also writes a held CR or half pair.
void FlushStream(Utf8Stream* stream, bool final);

// A standard output or error that fails ends the program: quietly when its reader went
// away (a closed pipe; `systemText` null), with status 141, 128 + the broken-pipe signal,
// in both builds so that a script reads the same status from both; otherwise after
// "horalin: write error: TEXT" and `lineEnd` on standard error (the system's text of the
// failure, trimmed), with status 1. Going on would lose every later line (a command's
// lines, messages) without a word. The host writes the message (UTF-8, `*length` bytes,
// none when the reader went away) and ends with the status returned.
int FailedOutputEnd(char16_t* systemText, const char* lineEnd, char* message, size_t capacity, size_t* length);

}  // namespace horalin::hostkit
