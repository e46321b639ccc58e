// A stand-in for the shell's host library, for running the plug-in outside the shell:
// the five host functions on the Windows console and on redirected handles. Output to
// a console is written as UTF-16 at once; output to a file or pipe as UTF-8, standard
// output held in a buffer until it fills, a read may block, or the program ends.
#include "hosts/windows/takecmd/takecmd.h"

#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "hostkit/expand.h"
#include "hostkit/output.h"

using namespace horalin;

namespace {

// One output handle and what was learnt of it at its first use.
struct HandleStream {
  hostkit::Utf8Stream stream;  // first, so that the stream's address is the record's
  HANDLE handle;
  bool console;
  char held[4];  // at a console: the start of a UTF-8 character that the last bytes cut off
  uint8_t heldCount;
};

// A standard output or standard error that fails ends the program, as
// hostkit::FailedOutputEnd says.
[[noreturn]] void EndOnFailedOutput(DWORD error) {
  const bool readerGone = error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
  char16_t text[512];
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (!FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<LPWSTR>(text), 512, nullptr))
    FormatText(text, 512, u"Error %u", error);
  char message[1600];
  size_t length;
  const int status = hostkit::FailedOutputEnd(readerGone ? nullptr : text, "\r\n", message, sizeof message, &length);
  DWORD written;
  if (length) WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, static_cast<DWORD>(length), &written, nullptr);
  ExitProcess(static_cast<UINT>(status));
}

HandleStream Streams[3];  // standard output, standard error, any other handle

bool WriteBytes(hostkit::Utf8Stream* stream, const char* bytes, size_t count) {
  auto* s = reinterpret_cast<HandleStream*>(stream);
  while (count) {
    DWORD written = 0;
    if (!WriteFile(s->handle, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
      if (s != &Streams[2]) EndOnFailedOutput(GetLastError());
      return false;
    }
    bytes += written, count -= written;
  }
  return true;
}

// The stream of a handle. What kind of handle it is, is learnt once: every later call
// costs a comparison.
HandleStream* StreamFor(HANDLE handle) {
  for (HandleStream& s : Streams)
    if (s.handle == handle && handle) return &s;
  const int which = handle == GetStdHandle(STD_OUTPUT_HANDLE) ? 0 : handle == GetStdHandle(STD_ERROR_HANDLE) ? 1 : 2;
  HandleStream* s = &Streams[which];
  hostkit::FlushStream(&s->stream, true);  // what another handle left there
  DWORD mode;
  s->stream = hostkit::Utf8Stream{};
  s->stream.write = WriteBytes;
  s->handle = handle;
  s->console = GetConsoleMode(handle, &mode) != 0;
  s->heldCount = 0;
  s->stream.buffered = which == 0 && !s->console;
  return s;
}

struct ConsoleSink {
  TextSink base;
  HANDLE handle;
};

void PutConsole(TextSink* sink, const char16_t* text, size_t length) {
  DWORD written;
  WriteConsoleW(reinterpret_cast<ConsoleSink*>(sink)->handle, text, static_cast<DWORD>(length), &written, nullptr);
}

// Shows UTF-8 at a console, a thousand bytes at a time. A character that the end of a
// piece cuts off waits for the next bytes, so that it is shown whole; `final` shows what
// waits as it stands.
void ShowUtf8(HandleStream* s, const char* bytes, size_t count, bool final) {
  do {
    char joined[1024 + 4];
    size_t n = s->heldCount;
    memcpy(joined, s->held, n);
    const size_t take = count < 1024 ? count : 1024;
    memcpy(joined + n, bytes, take);
    n += take, bytes += take, count -= take;
    const size_t cut = final && count == 0 ? 0 : Utf8CutLength(joined, n);
    memcpy(s->held, joined + n - cut, cut);
    s->heldCount = static_cast<uint8_t>(cut);
    char16_t text[1024 + 8];
    const size_t units = Utf16FromUtf8(joined, n - cut, text, 1024 + 8);
    DWORD written;
    if (units) WriteConsoleW(s->handle, text, static_cast<DWORD>(units), &written, nullptr);
  } while (count);
}

// Text written at a console after bytes: what the bytes left waiting is shown first.
void ShowHeldBytes(HandleStream* s) {
  if (s->heldCount) ShowUtf8(s, nullptr, 0, true);
}

uint32_t ErrorTexts = 0;  // texts written to standard error

void Write(HANDLE handle, const char16_t* format, va_list args, bool formatted) {
  HandleStream* s = StreamFor(handle);
  if (s == &Streams[1]) ++ErrorTexts;
  if (s != &Streams[0]) hostkit::FlushStream(&Streams[0].stream, false);  // messages keep their place
  if (s->console) {
    ShowHeldBytes(s);
    ConsoleSink sink{{PutConsole}, handle};
    if (formatted)
      FormatToSink(&sink.base, format, args);
    else
      PutConsole(&sink.base, format, TextLength(format));
    return;
  }
  if (formatted)
    hostkit::StreamFormat(&s->stream, format, args);
  else
    hostkit::StreamTerminatedText(&s->stream, format);
}

// The place that error messages belong to, shown as a batch file's location; it takes
// the place of the environment's _batch variables while it is set.
char16_t LocationName[512];
bool LocationSet = false;
uint32_t LocationLine = 0;

bool EnvironmentVariable(const char16_t* name, char16_t* value, size_t capacity) {
  DWORD n = GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(name), reinterpret_cast<LPWSTR>(value),
                                    static_cast<DWORD>(capacity));
  if (n > 0 && n < capacity) return true;
  if (n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
    value[0] = 0;  // set, but empty
    return true;
  }
  return false;
}

bool InputIsTerminal() { return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR; }

void ProgramPath(char16_t* path, size_t capacity) {
  DWORD p = GetModuleFileNameW(nullptr, reinterpret_cast<LPWSTR>(path), static_cast<DWORD>(capacity));
  if (p == 0 || p >= capacity) path[0] = 0;
}

bool LookupVariable(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  const hostkit::VariableSources sources{LocationSet ? LocationName : nullptr, LocationLine, EnvironmentVariable,
                                         InputIsTerminal, ProgramPath};
  return hostkit::LookupVariable(sources, name, length, value, capacity);
}

}  // namespace

extern "C" __declspec(dllexport) int Printf(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  Write(GetStdHandle(STD_OUTPUT_HANDLE), format, args, true);
  va_end(args);
  return 0;
}

extern "C" __declspec(dllexport) int Qprintf(void* handle, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  Write(handle, format, args, true);
  va_end(args);
  return 0;
}

extern "C" __declspec(dllexport) int QPuts(const char16_t* text) {
  va_list none{};
  Write(GetStdHandle(STD_OUTPUT_HANDLE), text, none, false);
  return 0;
}

extern "C" __declspec(dllexport) int ExpandVariables(char16_t* buffer, int) {
  hostkit::ExpandVariableReferences(buffer, LookupVariable);
  return 0;
}

extern "C" __declspec(dllexport) int QueryTrueName(const char16_t* path, char16_t* result) {
  DWORD n = GetFullPathNameW(reinterpret_cast<LPCWSTR>(path), 32768, reinterpret_cast<LPWSTR>(result), nullptr);
  if (n == 0 || n >= 32768) CopyText(result, 32768, path);
  return 0;
}

// Beyond the shell's five functions, for the horalin program and the plug-in's input:
// writes what standard output holds, before a read that may wait for input.
extern "C" __declspec(dllexport) void HoralinFlushOutput() { hostkit::FlushStream(&Streams[0].stream, false); }

// Writes all that is held, at the end of the program.
extern "C" __declspec(dllexport) void HoralinFinishOutput() {
  for (HandleStream& s : Streams) {
    hostkit::FlushStream(&s.stream, true);
    if (s.console) ShowHeldBytes(&s);
  }
}

// Writes `length` units to standard output, as QPuts writes a zero-terminated text.
extern "C" __declspec(dllexport) void HoralinWriteText(const char16_t* text, size_t length) {
  HandleStream* s = StreamFor(GetStdHandle(STD_OUTPUT_HANDLE));
  if (s->console) {
    ShowHeldBytes(s);
    DWORD written;
    WriteConsoleW(s->handle, text, static_cast<DWORD>(length), &written, nullptr);
  } else {
    hostkit::StreamText(&s->stream, text, length);
  }
}

// Writes bytes to standard output as they are (restamp's lines without a stamp, in their
// own encoding). A console shows text: there they are read as UTF-8, a character that
// one call cuts off joined to the next call's bytes.
extern "C" __declspec(dllexport) void HoralinWriteBytes(const char* bytes, size_t count) {
  HandleStream* s = StreamFor(GetStdHandle(STD_OUTPUT_HANDLE));
  if (s->console)
    ShowUtf8(s, bytes, count, false);
  else
    hostkit::StreamBytes(&s->stream, bytes, count);
}

// Writes a line of UTF-8 to standard output, as Printf writes it with "\r\n" after it:
// `head`, `line` and CR LF. Nothing at a console, which shows text: false, and the caller
// writes the line as text.
extern "C" __declspec(dllexport) bool HoralinWriteLineBytes(const char* head, size_t headCount, const char* line,
                                                            size_t lineCount) {
  HandleStream* s = StreamFor(GetStdHandle(STD_OUTPUT_HANDLE));
  if (s->console) return false;
  hostkit::StreamLineBytes(&s->stream, head, headCount, line, lineCount);
  return true;
}

// How many texts have gone to standard error, to tell whether the plug-in reported an error.
extern "C" __declspec(dllexport) uint32_t HoralinErrorsWritten() { return ErrorTexts; }

// Names the place that the next error messages belong to (null: none).
extern "C" __declspec(dllexport) void HoralinSetErrorLocation(const char16_t* name, uint32_t line) {
  LocationSet = name != nullptr;
  CopyText(LocationName, 512, name ? name : u"");
  LocationLine = line;
}
