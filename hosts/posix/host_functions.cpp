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

// Standard output or standard error that can take no more ends the program, as it ends
// any filter (on standard error the lines of a command run are lost, or its messages): a
// reader that went away (as "| head -1" does) quietly, with the status of a broken
// pipe; any other failure (a full disk, a closed descriptor) with a message. Going on
// would lose every later line without a word, and read input that nobody sees.
[[noreturn]] void EndOnFailedOutput(int error) {
  if (error != EPIPE) {
    char message[300];
    int n = std::snprintf(message, sizeof message, "horalin: write error: %s\n", std::strerror(error));
    if (n > 0)
      WriteAll(2, message, static_cast<size_t>(n) < sizeof message ? static_cast<size_t>(n) : sizeof message - 1);
  }
  _exit(error == EPIPE ? 128 + SIGPIPE : 1);
}

bool WriteOut(hostkit::Utf8Stream*, const char* bytes, size_t count) {
  if (!WriteAll(1, bytes, count)) EndOnFailedOutput(errno ? errno : EIO);
  return true;
}
bool WriteErr(hostkit::Utf8Stream*, const char* bytes, size_t count) {
  if (!WriteAll(2, bytes, count)) EndOnFailedOutput(errno ? errno : EIO);
  return true;
}

hostkit::Utf8Stream Out{WriteOut, true, true, false, false, 0, 0, {}};
hostkit::Utf8Stream Err{WriteErr, true, false, false, false, 0, 0, {}};

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

bool LocationVariable(const char* name, char16_t* value, size_t capacity) {
  if (!LocationName) return false;
  if (strcasecmp(name, "_batch") == 0)
    CopyText(value, capacity, u"1");
  else if (strcasecmp(name, "_batchname") == 0)
    CopyText(value, capacity, LocationName);
  else if (strcasecmp(name, "_batchline") == 0)
    FormatText(value, capacity, u"%u", LocationLine);
  else
    return false;
  return true;
}

bool LookupVariable(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  char key[256];
  if (length >= sizeof key) return false;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] >= 0x80) return false;
    key[i] = static_cast<char>(name[i]);
  }
  key[length] = 0;
  if (LocationVariable(key, value, capacity)) return true;
  const char* found = getenv(key);
  if (!found) {  // the shell's variable names ignore case
    for (char** e = environ; e && *e && !found; ++e)
      if (strncasecmp(*e, key, length) == 0 && (*e)[length] == '=') found = *e + length + 1;
  }
  if (!found) {
    char16_t key16[256], program[PATH_MAX];
    for (size_t i = 0; i <= length; ++i) key16[i] = static_cast<char16_t>(key[i]);
    Utf16FromUtf8(ProgramPath, std::strlen(ProgramPath), program, PATH_MAX);
    return hostkit::InternalVariable(key16, isatty(0) != 0, program, value, capacity);
  }
  Utf16FromUtf8(found, std::strlen(found), value, capacity);
  return true;
}

void FlushBeforeBlocking() { FlushStream(&Out, false); }
void WriteOutBytes(const char* bytes, size_t count) { StreamBytes(&Out, bytes, count); }

}  // namespace

void StartHost() {
  ssize_t n = readlink("/proc/self/exe", ProgramPath, sizeof ProgramPath - 1);
  ProgramPath[n > 0 ? n : 0] = 0;
  platform::SetBeforeBlockingRead(FlushBeforeBlocking);
  platform::SetOutputBytes(WriteOutBytes);
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
  size_t n = Utf8FromUtf16(path, length, bytes, true, nullptr);
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
