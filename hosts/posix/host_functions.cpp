// The host's five functions for the POSIX program: UTF-8 output with LF line ends,
// variables from the environment, canonical paths.
#include "hosts/posix/host_functions.h"

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "common/utf.h"
#include "host/host.h"
#include "hostkit/expand.h"
#include "hostkit/output.h"
#include "platform/platform.h"

extern char** environ;

namespace horalin::posixhost {

namespace {

bool WriteAll(int fd, const char* bytes, size_t count) {
  while (count) {
    errno = 0;
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n, count -= static_cast<size_t>(n);
  }
  return true;
}

// Standard output or standard error that can take no more ends the program, as
// hostkit::FailedOutputEnd says (a reader that went away, as "| head -1" does, ends it
// quietly; a full disk or a closed descriptor with a message).
[[noreturn]] void EndOnFailedOutput(int error) {
  static_assert(128 + SIGPIPE == 141, "the status of a reader gone is the same in both builds");
  char16_t text[256];
  const char* reason = std::strerror(error);
  Utf16FromUtf8(reason, std::strlen(reason), text, 256);
  char message[1024];
  size_t length;
  const int status = hostkit::FailedOutputEnd(error == EPIPE ? nullptr : text, "\n", message, sizeof message, &length);
  if (length) WriteAll(2, message, length);
  _exit(status);
}

bool WriteOut(hostkit::Utf8Stream*, const char* bytes, size_t count) {
  if (!WriteAll(1, bytes, count)) EndOnFailedOutput(errno ? errno : EIO);
  return true;
}
bool WriteErr(hostkit::Utf8Stream*, const char* bytes, size_t count) {
  if (!WriteAll(2, bytes, count)) EndOnFailedOutput(errno ? errno : EIO);
  return true;
}

hostkit::Utf8Stream Out{WriteOut, true, true, false, false, {0}, 0, {}};
hostkit::Utf8Stream Err{WriteErr, true, false, false, false, {0}, 0, {}};

uint32_t ErrorTexts = 0;

hostkit::Utf8Stream* StreamFor(void* handle) {
  if (handle == platform::StdHandle(platform::StdStream::Error)) {
    ++ErrorTexts;
    FlushStream(&Out, false);  // keep the order of output and messages
    return &Err;
  }
  return &Out;
}

char ProgramPath[PATH_MAX];

// The place that error messages belong to, shown as a batch file's location; it takes
// the place of the environment's _batch variables while it is set.
const char16_t* LocationName = nullptr;
uint32_t LocationLine = 0;

bool EnvironmentVariable(const char16_t* name, char16_t* value, size_t capacity) {
  char key[256];
  size_t length = 0;
  for (; name[length]; ++length) {
    if (name[length] >= 0x80 || length + 1 == sizeof key) return false;
    key[length] = static_cast<char>(name[length]);
  }
  key[length] = 0;
  const char* found = getenv(key);
  if (!found) {  // the shell's variable names ignore case
    for (char** e = environ; e && *e && !found; ++e)
      if (strncasecmp(*e, key, length) == 0 && (*e)[length] == '=') found = *e + length + 1;
  }
  if (found) Utf16FromUtf8(found, std::strlen(found), value, capacity);
  return found != nullptr;
}

bool InputIsTerminal() { return isatty(0) != 0; }

void ProgramPathText(char16_t* path, size_t capacity) {
  Utf16FromUtf8(ProgramPath, std::strlen(ProgramPath), path, capacity);
}

bool LookupVariable(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  const hostkit::VariableSources sources{LocationName, LocationLine, EnvironmentVariable, InputIsTerminal,
                                         ProgramPathText};
  return hostkit::LookupVariable(sources, name, length, value, capacity);
}

void FlushBeforeBlocking() { FlushStream(&Out, false); }
void WriteOutBytes(const char* bytes, size_t count) { StreamBytes(&Out, bytes, count); }
bool WriteOutLine(const char* head, size_t headCount, const char* line, size_t lineCount) {
  StreamLineBytes(&Out, head, headCount, line, lineCount);
  return true;
}

}  // namespace

void StartHost() {
  ssize_t n = readlink("/proc/self/exe", ProgramPath, sizeof ProgramPath - 1);
  ProgramPath[n > 0 ? n : 0] = 0;
  platform::SetBeforeBlockingRead(FlushBeforeBlocking);
  platform::SetOutputBytes(WriteOutBytes);
  platform::SetOutputLineBytes(WriteOutLine);
}

void FinishHost() {
  FlushStream(&Out, true);
  FlushStream(&Err, true);
}

uint32_t ReadStandardInput(void* block, uint32_t capacity, uint32_t* bytesRead) {
  return platform::ReadInput(platform::StdHandle(platform::StdStream::Input), block, capacity, bytesRead);
}

void SetErrorLocation(const char16_t* name, uint32_t line) {
  LocationName = name;
  LocationLine = line;
}

void WriteText(const char16_t* text, size_t length) { StreamText(&Out, text, length); }

bool WriteAsciiLine(const char16_t* text, size_t length) { return StreamAsciiLine(&Out, text, length); }

bool ErrorText(uint32_t code, char16_t* text, size_t capacity) {
  return platform::SystemErrorText(code, text, capacity);
}

uint32_t ErrorsWritten() { return ErrorTexts; }

}  // namespace horalin::posixhost

using namespace horalin;

extern "C" int Printf(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  StreamFormat(&posixhost::Out, format, args);
  va_end(args);
  return 0;
}

extern "C" int Qprintf(void* handle, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  StreamFormat(posixhost::StreamFor(handle), format, args);
  va_end(args);
  return 0;
}

extern "C" int QPuts(const char16_t* text) {
  StreamTerminatedText(&posixhost::Out, text);
  return 0;
}

extern "C" int ExpandVariables(char16_t* buffer, int) {
  hostkit::ExpandVariableReferences(buffer, posixhost::LookupVariable);
  return 0;
}

extern "C" int QueryTrueName(const char16_t* path, char16_t* result) {
  char bytes[PATH_MAX * 3];
  size_t length = TextLength(path);
  if (length > PATH_MAX) length = PATH_MAX;
  size_t n = Utf8FromUtf16(path, length, bytes);
  bytes[n] = 0;
  char resolved[PATH_MAX];
  if (realpath(bytes, resolved)) {
    Utf16FromUtf8(resolved, std::strlen(resolved), result, kPathText);
  } else if (bytes[0] == '/' || !getcwd(resolved, sizeof resolved)) {
    CopyText(result, kPathText, path);  // not there: the absolute form as given
  } else {
    std::strncat(resolved, "/", sizeof resolved - std::strlen(resolved) - 1);
    std::strncat(resolved, bytes, sizeof resolved - std::strlen(resolved) - 1);
    Utf16FromUtf8(resolved, std::strlen(resolved), result, kPathText);
  }
  return 0;
}
