// Win32 backend of the run command: the command started with CreateProcessW on a
// command line quoted as the C runtime splits it again, its standard output and
// standard error on named pipes of their own (anonymous pipes take no overlapped
// reads), read with overlapped reads and waited on together.
#include <windows.h>

#include "common/types.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }

// Our end of one of the command's pipes. A read is made into the pipe's own buffer, so
// that one on its way never writes where the caller has moved on from.
struct PipeEnd {
  HANDLE handle;
  HANDLE event;  // signalled when the read on its way completes
  OVERLAPPED overlapped;
  bool pending;
  DWORD offset, count;  // bytes of `buffer` not yet handed over
  BYTE buffer[8192];
};
PipeEnd Pipes[2];

// Ctrl-C and Ctrl-Break reach every process of the console, the command included: this
// one keeps running to take the command's last lines and its exit status.
BOOL WINAPI KeepRunning(DWORD event) { return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT; }

// Appends one argument so that the C runtime's splitting of the command line gives it
// back unchanged: quoted when empty or holding blanks or quotes; inside quotes, the
// backslashes before a quote or the closing quote doubled and the quote escaped.
bool AppendArgument(char16_t* line, size_t capacity, size_t* used, const char16_t* argument) {
  bool room = true;
  auto put = [&](char16_t c, size_t times) {
    for (; times > 0 && room; --times) {
      room = *used + 1 < capacity;
      if (room) line[(*used)++] = c;
    }
  };
  if (*used) put(u' ', 1);
  bool plain = argument[0] != 0;
  for (const char16_t* p = argument; *p && plain; ++p)
    plain = *p != u' ' && *p != u'\t' && *p != u'\n' && *p != u'\v' && *p != u'"';
  if (plain) {
    for (const char16_t* p = argument; *p; ++p) put(*p, 1);
  } else {
    put(u'"', 1);
    for (const char16_t* p = argument;; ++p) {
      size_t backslashes = 0;
      for (; *p == u'\\'; ++p) ++backslashes;
      if (*p == 0) {
        put(u'\\', 2 * backslashes);
        break;
      }
      put(u'\\', *p == u'"' ? 2 * backslashes + 1 : backslashes);
      put(*p, 1);
    }
    put(u'"', 1);
  }
  line[room ? *used : 0] = 0;
  return room;
}

void ClosePipeEnd(PipeEnd* p) {
  if (p->pending) {  // the read must be over before its buffer and event go
    DWORD n;
    CancelIo(p->handle);
    GetOverlappedResult(p->handle, &p->overlapped, &n, TRUE);
  }
  if (p->handle) CloseHandle(p->handle);
  if (p->event) CloseHandle(p->event);
  *p = PipeEnd{};
}

// Our end of a new pipe and the command's end, which the command inherits.
uint32_t MakePipe(PipeEnd* p, int index, HANDLE* commandEnd) {
  *p = PipeEnd{};
  static LONG made = 0;
  wchar_t name[96];
  wsprintfW(name, L"\\\\.\\pipe\\horalin-run-%lu-%d-%ld", GetCurrentProcessId(), index, InterlockedIncrement(&made));
  p->handle = CreateNamedPipeW(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (p->handle == INVALID_HANDLE_VALUE) {
    p->handle = nullptr;
    return GetLastError();
  }
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  *commandEnd = CreateFileW(name, GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  p->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (*commandEnd == INVALID_HANDLE_VALUE || !p->event) {
    uint32_t error = GetLastError();
    if (*commandEnd != INVALID_HANDLE_VALUE) CloseHandle(*commandEnd);
    *commandEnd = nullptr;
    ClosePipeEnd(p);
    return error;
  }
  return 0;
}

bool IsMissing(uint32_t error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
         error == ERROR_BAD_NETPATH;
}

}  // namespace

ChildStart StartChild(const char16_t* const* argv, size_t count, Child* child, uint32_t* error) {
  *child = Child{};
  static char16_t line[kPathText];
  size_t used = 0;
  line[0] = 0;
  bool fits = count > 0;
  for (size_t i = 0; i < count && fits; ++i) fits = AppendArgument(line, kPathText, &used, argv[i]);
  if (!fits) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return ChildStart::NotRunnable;
  }
  HANDLE commandOut = nullptr, commandErr = nullptr, commandIn = nullptr;
  *error = MakePipe(&Pipes[0], 0, &commandOut);
  if (*error == 0) *error = MakePipe(&Pipes[1], 1, &commandErr);
  if (*error != 0) {
    ClosePipeEnd(&Pipes[0]);
    if (commandOut) CloseHandle(commandOut);
    return ChildStart::NotRunnable;
  }
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input && input != INVALID_HANDLE_VALUE)
    DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &commandIn, 0, TRUE, DUPLICATE_SAME_ACCESS);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = commandIn;
  startup.hStdOutput = commandOut;
  startup.hStdError = commandErr;
  PROCESS_INFORMATION process{};
  SetConsoleCtrlHandler(KeepRunning, TRUE);
  BOOL started = CreateProcessW(nullptr, Wide(line), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  *error = started ? 0 : GetLastError();
  CloseHandle(commandOut);
  CloseHandle(commandErr);
  if (commandIn) CloseHandle(commandIn);
  if (!started) {
    SetConsoleCtrlHandler(KeepRunning, FALSE);
    ClosePipeEnd(&Pipes[0]);
    ClosePipeEnd(&Pipes[1]);
    return IsMissing(*error) ? ChildStart::NotFound : ChildStart::NotRunnable;
  }
  CloseHandle(process.hThread);
  child->process = process.hProcess;
  child->output = &Pipes[0];
  child->error = &Pipes[1];
  return ChildStart::Started;
}

uint32_t ReadChildPipe(Handle pipe, void* block, uint32_t capacity, uint32_t* bytesRead) {
  PipeEnd* p = static_cast<PipeEnd*>(pipe);
  *bytesRead = 0;
  if (p->count == 0) {
    if (!p->pending) {
      ResetEvent(p->event);
      p->overlapped = OVERLAPPED{};
      p->overlapped.hEvent = p->event;
      if (!ReadFile(p->handle, p->buffer, sizeof p->buffer, nullptr, &p->overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return error == ERROR_PIPE_NOT_CONNECTED ? kErrorBrokenPipe : error;
      }
      p->pending = true;
    }
    DWORD n = 0;
    if (!GetOverlappedResult(p->handle, &p->overlapped, &n, FALSE)) {
      DWORD error = GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return kErrorIoPending;
      p->pending = false;
      return error == ERROR_PIPE_NOT_CONNECTED ? kErrorBrokenPipe : error;
    }
    p->pending = false;
    p->offset = 0;
    p->count = n;
    // A write of no bytes completes a read with none: not the end, which comes as a
    // broken pipe. The event is still set, so the wait that follows returns at once.
    if (n == 0) return kErrorIoPending;
  }
  DWORD n = p->count < capacity ? p->count : capacity;
  CopyMemory(block, p->buffer + p->offset, n);
  p->offset += n;
  p->count -= n;
  *bytesRead = n;
  return 0;
}

void WaitForChildPipes(const Handle* pipes, size_t count) {
  HANDLE events[2];
  DWORD n = 0;
  for (size_t i = 0; i < count && n < 2; ++i) {
    const PipeEnd* p = static_cast<const PipeEnd*>(pipes[i]);
    if (!p) continue;
    if (!p->pending) return;  // bytes to hand over, or no read on its way: nothing to wait for
    events[n++] = p->event;
  }
  if (n == 0) return;
  CallBeforeBlockingRead();
  WaitForMultipleObjects(n, events, FALSE, INFINITE);
}

void CloseChildPipe(Handle pipe) {
  if (pipe) ClosePipeEnd(static_cast<PipeEnd*>(pipe));
}

int WaitForChild(Child* child) {
  DWORD code = 127;
  WaitForSingleObject(child->process, INFINITE);
  GetExitCodeProcess(child->process, &code);
  CloseHandle(child->process);
  child->process = nullptr;
  SetConsoleCtrlHandler(KeepRunning, FALSE);
  return static_cast<int>(code);
}

}  // namespace horalin::platform
