// A stand-in for the shell's host library, for running the plug-in outside the shell:
// the five host functions on the Windows console and on redirected handles. Output to
// a console is written as UTF-16; output to a file or pipe as UTF-8.
#include <windows.h>

#include <cstdarg>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "hostkit/expand.h"
#include "hostkit/output.h"

using namespace horalin;

namespace {

struct HandleStream {
  hostkit::Utf8Stream stream;  // first, so that the stream's address is the record's
  HANDLE handle;
};

// A standard output that fails ends the program: quietly when its reader has closed the
// pipe, with the system's text of the failure otherwise. Going on would lose every later
// line without a word.
[[noreturn]] void EndOnFailedOutput(DWORD error) {
  if (error != ERROR_BROKEN_PIPE && error != ERROR_NO_DATA && error != ERROR_PIPE_NOT_CONNECTED) {
    char16_t text[512];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (!FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<LPWSTR>(text), 512, nullptr))
      FormatText(text, 512, u"Error %u", error);
    size_t length = TextLength(text);
    while (length && (text[length - 1] == u' ' || text[length - 1] == u'\r' || text[length - 1] == u'\n')) --length;
    char message[1600] = "horalin: write error: ";
    size_t used = TextLength(u"horalin: write error: ");
    used += Utf8FromUtf16(text, length, message + used, true, nullptr);
    message[used++] = '\r', message[used++] = '\n';
    DWORD written;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, static_cast<DWORD>(used), &written, nullptr);
  }
  ExitProcess(1);
}

bool WriteBytes(hostkit::Utf8Stream* stream, const char* bytes, size_t count) {
  HANDLE handle = reinterpret_cast<HandleStream*>(stream)->handle;
  while (count) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0) {
      if (handle == GetStdHandle(STD_OUTPUT_HANDLE)) EndOnFailedOutput(GetLastError());
      return false;
    }
    bytes += written, count -= written;
  }
  return true;
}

HandleStream Streams[2];  // standard output, standard error

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

struct ConsoleSink {
  TextSink base;
  HANDLE handle;
};

void PutConsole(TextSink* sink, const char16_t* text, size_t length) {
  DWORD written;
  WriteConsoleW(reinterpret_cast<ConsoleSink*>(sink)->handle, text, static_cast<DWORD>(length), &written, nullptr);
}

void Write(HANDLE handle, const char16_t* format, va_list args, bool formatted) {
  if (IsConsole(handle)) {
    ConsoleSink sink{{PutConsole}, handle};
    if (formatted)
      FormatToSink(&sink.base, format, args);
    else
      PutConsole(&sink.base, format, TextLength(format));
    return;
  }
  HandleStream* s = &Streams[handle == GetStdHandle(STD_ERROR_HANDLE) ? 1 : 0];
  if (s->handle != handle) {  // first use, or another handle
    *s = HandleStream{};
    s->stream.write = WriteBytes;
    s->handle = handle;
  }
  if (formatted)
    hostkit::StreamFormat(&s->stream, format, args);
  else
    hostkit::StreamTerminatedText(&s->stream, format);
}

bool LookupVariable(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  char16_t key[256];
  if (length >= 256) return false;
  for (size_t i = 0; i < length; ++i) key[i] = name[i];
  key[length] = 0;
  DWORD n = GetEnvironmentVariableW(reinterpret_cast<LPCWSTR>(key), reinterpret_cast<LPWSTR>(value),
                                    static_cast<DWORD>(capacity));
  if (n > 0 && n < capacity) return true;
  if (n == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) {
    value[0] = 0;  // set, but empty
    return true;
  }
  static char16_t program[kPathText];
  DWORD p = GetModuleFileNameW(nullptr, reinterpret_cast<LPWSTR>(program), kPathText);
  if (p == 0 || p >= kPathText) program[0] = 0;
  bool terminal = GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR;
  return hostkit::InternalVariable(key, terminal, program, value, capacity);
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
