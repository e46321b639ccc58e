// POSIX backend: standard handles, error texts, the program's own path, processes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/utf.h"
#include "platform/help.h"
#include "platform/platform.h"
#include "platform/posix/error_code.h"

namespace horalin::platform {

namespace {

void (*BeforeBlockingRead)() = nullptr;

int Descriptor(Handle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }

}  // namespace

// A handle is the file descriptor plus one, so that no valid handle is null.
Handle StdHandle(StdStream stream) {
  int fd = stream == StdStream::Input ? 0 : stream == StdStream::Output ? 1 : 2;
  return reinterpret_cast<Handle>(static_cast<intptr_t>(fd + 1));
}

void SetBeforeBlockingRead(void (*hook)()) { BeforeBlockingRead = hook; }

void CallBeforeBlockingRead() {
  if (BeforeBlockingRead) BeforeBlockingRead();
}

namespace {
OutputBytesWriter BytesWriter = nullptr;
OutputLineWriter LineWriter = nullptr;
}  // namespace

OutputBytesWriter OutputBytes() { return BytesWriter; }
void SetOutputBytes(OutputBytesWriter writer) { BytesWriter = writer; }
OutputLineWriter OutputLineBytes() { return LineWriter; }
void SetOutputLineBytes(OutputLineWriter writer) { LineWriter = writer; }

uint32_t ReadInput(Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  *bytesRead = 0;
  int fd = Descriptor(handle);
  if (fd < 0) return kErrorInvalidHandle;
  if (BeforeBlockingRead) {
    // First a read that does not wait: while input keeps coming it is the only call, and
    // only when none is there is the hook called before the read that waits. Where the
    // input allows no such read (a terminal), a poll tells whether the read would wait.
    iovec whole{block, capacity};
    ssize_t n;
    do n = preadv2(fd, &whole, 1, -1, RWF_NOWAIT);
    while (n < 0 && errno == EINTR);
    if (n >= 0) {
      *bytesRead = static_cast<uint32_t>(n);
      return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      BeforeBlockingRead();
    } else {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 0) == 0) BeforeBlockingRead();
    }
  }
  for (;;) {
    ssize_t n = read(fd, block, capacity);
    if (n >= 0) {
      *bytesRead = static_cast<uint32_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {  // input left non-blocking by another program: wait for it
      if (BeforeBlockingRead) BeforeBlockingRead();
      pollfd ready{fd, POLLIN, 0};
      poll(&ready, 1, -1);
      continue;
    }
    return CodeOfErrno(errno);
  }
}

bool WaitForInput(Handle handle, uint32_t milliseconds) {
  pollfd ready{Descriptor(handle), POLLIN, 0};
  if (ready.fd < 0) return true;  // the read says what is wrong
  int n;
  do n = poll(&ready, 1, static_cast<int>(milliseconds));
  while (n < 0 && errno == EINTR);
  return n != 0;
}

bool IsDiskFile(Handle handle) {
  struct stat info;
  return fstat(Descriptor(handle), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink > 0;
}

bool IsConsoleInput(Handle handle) { return isatty(Descriptor(handle)) == 1; }

// The shell has expanded the wildcards of a program's arguments: a "*" left is the name's.
int ExpandWildcards(const char16_t*, FileVisitor, void*) { return -1; }

uint32_t OpenInputFile(const char16_t* path, Handle* handle) {
  static char name[4 * 32768];
  size_t length = 0;
  while (path[length] && length < 32767) ++length;
  size_t n = Utf8FromUtf16(path, length, name);
  name[n] = 0;
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CodeOfErrno(errno);
  *handle = reinterpret_cast<Handle>(static_cast<intptr_t>(fd + 1));
  return 0;
}

void CloseInputFile(Handle handle) {
  if (handle) close(Descriptor(handle));
}

void WriteConsolePrompt(const char16_t* text) {
  int fd = open("/dev/tty", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  size_t length = 0;
  while (text[length]) ++length;
  char bytes[1024];
  if (length > sizeof bytes / 3) length = sizeof bytes / 3;
  size_t n = Utf8FromUtf16(text, length, bytes);
  ssize_t written = write(fd, bytes, n);
  (void)written;
  close(fd);
}

const char16_t* ConsoleEndOfInputKeys() { return u"Ctrl-D"; }

bool SystemErrorText(uint32_t code, char16_t* text, size_t capacity) {
  int error = static_cast<int>(code & ~kErrnoMark & 4095);
  if (code == kErrorInvalidHandle)
    error = EBADF;
  else if (code == kErrorBrokenPipe)
    error = EPIPE;
  else if (code == kErrorInvalidParameter)
    error = EINVAL;
  else if ((code & ~kErrnoMark) > 4095 || !(code & kErrnoMark) || error == 0)
    return false;
  char message[512];
  // The GNU strerror_r returns its text, which may or may not be in `message`.
  const char* s = strerror_r(error, message, sizeof message);
  if (!s || std::strncmp(s, "Unknown error", 13) == 0) return false;
  Utf16FromUtf8(s, std::strlen(s), text, capacity);
  return true;
}

size_t ModuleFileName(char16_t* path, size_t capacity) {
  char bytes[4096];
  ssize_t n = readlink("/proc/self/exe", bytes, sizeof bytes - 1);
  if (n <= 0) return 0;
  return Utf16FromUtf8(bytes, static_cast<size_t>(n), path, capacity);
}

void EndProcess(Handle process) {
  pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(process));
  if (pid > 0) kill(pid, SIGTERM);
}

}  // namespace horalin::platform
