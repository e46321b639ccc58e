// Win32 backend of the run command: the command found as the console finds it (PATHEXT), started
// with CreateProcessW on a command line quoted as the C runtime splits it again (a batch file
// under cmd.exe, quoted for it), its standard output and standard error on named pipes of their
// own (anonymous pipes take no overlapped reads), read with overlapped reads whose completions
// a completion port gives in the order they came. Terminals are not given: the system's
// pseudo console joins the two streams in one screen that it redraws (and under Wine 8
// carries none of the command's output).
#include <windows.h>

#include "common/text.h"
#include "common/types.h"
#include "platform/platform.h"
#include "platform/win32/process.h"

namespace horalin::platform {

namespace {

LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }
LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

// Our end of one of the command's pipes. A read is made into the pipe's own buffer, so
// that one on its way never writes where the caller has moved on from.
struct PipeEnd {
  HANDLE handle;
  HANDLE port;  // the completion port of the run, on which its reads complete
  OVERLAPPED overlapped;
  bool pending;         // a read is on its way: its completion comes through the port
  uint32_t failed;      // how the last read ended when it brought no bytes (the end: kErrorBrokenPipe)
  DWORD offset, count;  // bytes of `buffer` not yet handed over
  BYTE buffer[8192];
};

// The backend's record of a run, in the caller's Child: both pipes' ends, the completion
// port of their reads, and the wait registered for the command's end.
struct ChildPipes {
  PipeEnd ends[2];
  HANDLE port;
  HANDLE endWait;
  volatile LONG endPosted;  // the command's end came
};
static_assert(sizeof(ChildPipes) <= kChildStateBytes && alignof(ChildPipes) <= 16, "Child::state holds ChildPipes");

ChildPipes* PipesOf(Child* child) { return reinterpret_cast<ChildPipes*>(child->state); }

// Completion keys other than a pipe's end, which is its address.
constexpr ULONG_PTR kStopKey = 2;
constexpr ULONG_PTR kEndKey = 3;  // the command ended: wakes the wait

// What the console's handler reaches, which can only be at file scope: the command's
// process and the port of the run, while one runs, and what it notes.
HANDLE volatile ChildProcess;
HANDLE volatile RunPort;
volatile LONG StopAsked;   // Ctrl-C or Ctrl-Break came
volatile LONG StopSignal;  // the last one that came after the command had ended, as a signal's number

BOOL WINAPI KeepRunning(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&StopAsked, 1);
  HANDLE process = ChildProcess;
  if (process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
    InterlockedExchange(&StopSignal, event == CTRL_C_EVENT ? 2 : 21);
  HANDLE port = RunPort;
  if (port) PostQueuedCompletionStatus(port, 0, kStopKey, nullptr);
  return TRUE;
}

void ClosePipeEnd(PipeEnd* p) {
  if (p->pending) {  // the read must be over before its buffer goes; its completion is let go
    DWORD n;
    CancelIo(p->handle);
    GetOverlappedResult(p->handle, &p->overlapped, &n, TRUE);
  }
  if (p->handle) CloseHandle(p->handle);
  HANDLE port = p->port;  // a closed pipe still names the run's port, on which the other completes
  *p = PipeEnd{};
  p->port = port;
}

// Our end of a new pipe, tied to the port, and the command's end, which the command inherits.
uint32_t MakePipe(PipeEnd* p, HANDLE port, int index, HANDLE* commandEnd) {
  *p = PipeEnd{};
  p->port = port;
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
  if (*commandEnd == INVALID_HANDLE_VALUE ||
      !CreateIoCompletionPort(p->handle, port, reinterpret_cast<ULONG_PTR>(p), 0)) {
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

bool EndsWith(const char16_t* text, const char16_t* end) {
  size_t n = TextLength(text), m = TextLength(end);
  return n >= m && CompareNoCase(text + n - m, end) == 0;
}

// Whether the system runs the file as a batch file: by the name it runs, which is the
// name less its trailing dots and blanks ("tool.cmd." runs tool.cmd).
bool IsBatchFile(const char16_t* path) {
  static char16_t name[kPathText];
  CopyText(name, kPathText, path);
  for (size_t n = TextLength(name); n > 0 && (name[n - 1] == u'.' || name[n - 1] == u' '); --n) name[n - 1] = 0;
  return EndsWith(name, u".bat") || EndsWith(name, u".cmd");
}

bool IsFile(const char16_t* path) {
  DWORD attributes = GetFileAttributesW(Wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether FOLDER\NAME EXTENSION (the folder empty: NAME EXTENSION) is a file; its path in `path`.
bool TryPath(const char16_t* folder, size_t folderLength, const char16_t* name, const char16_t* extension,
             size_t extensionLength, char16_t* path) {
  BoundedText b{path, kPathText, 0, true};
  for (size_t i = 0; i < folderLength; ++i) Put(&b, folder[i]);
  if (folderLength && folder[folderLength - 1] != u'\\' && folder[folderLength - 1] != u'/') Put(&b, u'\\');
  PutText(&b, name);
  for (size_t i = 0; i < extensionLength; ++i) Put(&b, extension[i]);
  return b.room && IsFile(path);
}

// Looks for the name in one folder (empty: the name as it stands): as it stands when it
// has an extension, then with each extension of the list.
bool FindIn(const char16_t* folder, size_t folderLength, const char16_t* name, const char16_t* extensions,
            char16_t* path) {
  const char16_t* last = name;
  for (const char16_t* p = name; *p; ++p)
    if (*p == u'\\' || *p == u'/' || *p == u':') last = p + 1;
  bool hasExtension = false;
  for (const char16_t* p = last; *p; ++p) hasExtension = hasExtension || *p == u'.';
  if (hasExtension && TryPath(folder, folderLength, name, u"", 0, path)) return true;
  for (const char16_t* e = extensions; *e;) {
    size_t n = 0;
    while (e[n] && e[n] != u';') ++n;
    if (n && TryPath(folder, folderLength, name, e, n, path)) return true;
    e += n;
    if (*e) ++e;
  }
  return false;
}

// Whether a command name is looked for in the current folder: unless the variable
// NoDefaultCurrentDirectoryInExePath is set, whatever its value.
bool SearchesCurrentFolder() {
  return GetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", nullptr, 0) == 0 &&
         GetLastError() == ERROR_ENVVAR_NOT_FOUND;
}

// Finds the command as the console does: a name with a folder in it there alone, any
// other in the current folder (unless NoDefaultCurrentDirectoryInExePath is set, in any
// value) and then in the folders of PATH; in each, as it stands when it has an
// extension, then with each extension of PATHEXT (.COM;.EXE;.BAT;.CMD unset).
bool FindCommand(const char16_t* name, char16_t* path) {
  static char16_t extensions[kSmallText], folders[kPathText];
  if (!name[0] || !GetEnvironmentVariableW(L"PATHEXT", Wide(extensions), kSmallText) ||
      TextLength(extensions) + 1 >= kSmallText)
    CopyText(extensions, kSmallText, u".COM;.EXE;.BAT;.CMD");
  bool folderGiven = false;
  for (const char16_t* p = name; *p; ++p) folderGiven = folderGiven || *p == u'\\' || *p == u'/' || *p == u':';
  if (folderGiven) return FindIn(u"", 0, name, extensions, path);
  if (SearchesCurrentFolder() && FindIn(u".", 1, name, extensions, path)) return true;
  DWORD n = GetEnvironmentVariableW(L"PATH", Wide(folders), kPathText);
  if (n == 0 || n >= kPathText) return false;
  for (const char16_t* f = folders; *f;) {
    size_t length = 0;
    while (f[length] && f[length] != u';') ++length;
    if (length && FindIn(f, length, name, extensions, path)) return true;
    f += length;
    if (*f) ++f;
  }
  return false;
}

// The program to start and its command line: the command found, or cmd.exe with a batch
// file's command line ("cmd.exe /d /v:off /s /c ""FILE" ARGS""). Refused with the index of
// an argument that cannot be passed; NotFound for a batch file that is not there.
ChildStart MakeCommandLine(const char16_t* const* argv, size_t count, char16_t* program, char16_t* line,
                           uint32_t* error) {
  static char16_t found[kPathText];
  BoundedText b{line, kPathText, 0, true};
  line[0] = program[0] = 0;
  const bool located = FindCommand(argv[0], found);
  const bool batch = located && IsBatchFile(found);
  // Not found: the system's own search looks in the current folder too, and is left out
  // when that folder is not to be searched.
  if ((!batch && IsBatchFile(argv[0])) || (!located && !SearchesCurrentFolder())) {
    *error = ERROR_FILE_NOT_FOUND;
    return ChildStart::NotFound;
  }
  if (batch) {
    if (!GetEnvironmentVariableW(L"ComSpec", Wide(program), kSmallText) || !IsFile(program)) {
      UINT n = GetSystemDirectoryW(Wide(program), kSmallText - 10);
      CopyText(program + n, kSmallText - n, u"\\cmd.exe");
    }
    PutText(&b, u"cmd.exe /d /v:off /s /c \"");
    for (size_t i = 0; i < count; ++i) {
      if (!AppendBatchArgument(&b, i ? argv[i] : found, i == 0)) {
        *error = static_cast<uint32_t>(i);
        return ChildStart::Refused;
      }
    }
    Put(&b, u'"');
  } else {
    if (located) CopyText(program, kPathText, found);  // else the system's own search
    for (size_t i = 0; i < count; ++i) AppendArgument(&b, argv[i], false);
  }
  if (!b.room) {  // longer than the system's command line: no argument is dropped
    *error = ERROR_FILENAME_EXCED_RANGE;
    return ChildStart::TooLong;
  }
  return ChildStart::Started;
}

void CloseBoth(ChildPipes* pipes) {
  ClosePipeEnd(&pipes->ends[0]);
  ClosePipeEnd(&pipes->ends[1]);
  if (pipes->port) CloseHandle(pipes->port);
  pipes->port = nullptr;
}

// The completion port and the command's two pipes: our ends in `pipes`, the command's in
// `commandOut` and `commandErr`. 0, or the error with nothing left open.
uint32_t MakeChildPipes(ChildPipes* pipes, HANDLE* commandOut, HANDLE* commandErr) {
  *commandOut = *commandErr = nullptr;
  pipes->port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  uint32_t error = pipes->port ? MakePipe(&pipes->ends[0], pipes->port, 0, commandOut) : GetLastError();
  if (error == 0) error = MakePipe(&pipes->ends[1], pipes->port, 1, commandErr);
  if (error != 0) {
    CloseBoth(pipes);
    if (*commandOut) CloseHandle(*commandOut);
    *commandOut = nullptr;
  }
  return error;
}

// Creates the command's process with our standard input and the two pipes, which it
// then closes on our side. 0, or the error.
uint32_t CreateChildProcess(char16_t* program, char16_t* line, HANDLE commandOut, HANDLE commandErr,
                            PROCESS_INFORMATION* process) {
  StandardHandles handles{nullptr, commandOut, commandErr};
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input && input != INVALID_HANDLE_VALUE)
    DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &handles.input, 0, TRUE, DUPLICATE_SAME_ACCESS);
  const uint32_t error = CreateProgram(program, line, &handles, process);
  CloseHandle(commandOut);
  CloseHandle(commandErr);
  if (handles.input) CloseHandle(handles.input);
  return error;
}

// The command's end wakes the wait (a process that it left may hold its pipes).
void CALLBACK PostEnd(void* context, BOOLEAN) {
  ChildPipes* pipes = static_cast<ChildPipes*>(context);
  InterlockedExchange(&pipes->endPosted, 1);
  PostQueuedCompletionStatus(pipes->port, 0, kEndKey, nullptr);
}

}  // namespace

bool ChildTerminalsAvailable() { return false; }

uint32_t TerminalColumns(Handle) { return 0; }

ChildStart StartChild(const char16_t* const* argv, size_t count, uint32_t, Child* child, uint32_t* error) {
  *child = Child{};
  *error = 0;
  static char16_t line[kPathText], program[kPathText];
  if (count == 0) {
    *error = ERROR_INVALID_PARAMETER;
    return ChildStart::NotRunnable;
  }
  ChildStart made = MakeCommandLine(argv, count, program, line, error);
  if (made != ChildStart::Started) return made;
  ChildPipes* pipes = PipesOf(child);
  HANDLE commandOut, commandErr;
  *error = MakeChildPipes(pipes, &commandOut, &commandErr);
  if (*error != 0) return ChildStart::NotRunnable;
  PROCESS_INFORMATION process{};
  StopAsked = 0;
  StopSignal = 0;
  RunPort = pipes->port;
  SetConsoleCtrlHandler(KeepRunning, TRUE);
  *error = CreateChildProcess(program, line, commandOut, commandErr, &process);
  if (*error != 0) {
    SetConsoleCtrlHandler(KeepRunning, FALSE);
    RunPort = nullptr;
    CloseBoth(pipes);
    return IsMissing(*error) ? ChildStart::NotFound : ChildStart::NotRunnable;
  }
  CloseHandle(process.hThread);
  ChildProcess = process.hProcess;
  if (!RegisterWaitForSingleObject(&pipes->endWait, process.hProcess, PostEnd, pipes, INFINITE, WT_EXECUTEONLYONCE))
    pipes->endWait = nullptr;
  child->process = process.hProcess;
  child->output = &pipes->ends[0];
  child->error = &pipes->ends[1];
  return ChildStart::Started;
}

uint32_t ReadChildPipe(Handle pipe, void* block, uint32_t capacity, uint32_t* bytesRead) {
  PipeEnd* p = static_cast<PipeEnd*>(pipe);
  *bytesRead = 0;
  if (p->count == 0) {
    if (p->failed) return p->failed;
    if (!p->pending) {
      p->overlapped = OVERLAPPED{};
      if (!ReadFile(p->handle, p->buffer, sizeof p->buffer, nullptr, &p->overlapped)) {
        DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          p->failed = error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_BROKEN_PIPE ? kErrorBrokenPipe : error;
          return p->failed;
        }
      }
      p->pending = true;  // also when it completed at once: its completion is queued on the port
    }
    return kErrorIoPending;
  }
  DWORD n = p->count < capacity ? p->count : capacity;
  CopyMemory(block, p->buffer + p->offset, n);
  p->offset += n;
  p->count -= n;
  *bytesRead = n;
  return 0;
}

int WaitForChildPipes(const Handle* pipes, size_t count, uint32_t milliseconds) {
  // Bytes to hand over, an end to report or no read on its way: nothing to wait for.
  for (size_t i = 0; i < count; ++i) {
    const PipeEnd* p = static_cast<const PipeEnd*>(pipes[i]);
    if (p && (p->count || p->failed || !p->pending)) return static_cast<int>(i);
  }
  const PipeEnd* any = nullptr;
  for (size_t i = 0; i < count && !any; ++i) any = static_cast<const PipeEnd*>(pipes[i]);
  if (!any || !any->port) return -1;
  CallBeforeBlockingRead();
  if (StopAsked && milliseconds > 50) milliseconds = 50;
  DWORD n = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  BOOL done = GetQueuedCompletionStatus(any->port, &n, &key, &overlapped, milliseconds);
  if (!overlapped || key == kStopKey || key == kEndKey) return -1;  // the time ran out, or a request to stop
  PipeEnd* p = reinterpret_cast<PipeEnd*>(key);
  if (overlapped != &p->overlapped || !p->pending) return -1;  // a read let go when its pipe closed
  p->pending = false;
  if (!done) {
    DWORD error = GetLastError();
    p->failed = error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_BROKEN_PIPE ? kErrorBrokenPipe : error;
  }
  // A write of no bytes completes a read with none: not the end, which comes as a
  // broken pipe. The next read is made when the pipe is read again.
  p->offset = 0;
  p->count = done ? n : 0;
  for (size_t i = 0; i < count; ++i)
    if (pipes[i] == p) return static_cast<int>(i);
  return -1;
}

void CloseChildPipe(Handle pipe) {
  if (pipe) ClosePipeEnd(static_cast<PipeEnd*>(pipe));
}

bool ChildHasEnded(Child* child) {
  // Without a registered wait, the process is asked each time.
  const ChildPipes* pipes = PipesOf(child);
  return child->process && (pipes->endPosted || !pipes->endWait) &&
         WaitForSingleObject(child->process, 0) == WAIT_OBJECT_0;
}

bool ChildEndedAfterStop(Child* child) {
  return StopAsked && child->process && WaitForSingleObject(child->process, 0) == WAIT_OBJECT_0;
}

int WaitForChild(Child* child, int* stopSignal) {
  DWORD code = 127;
  WaitForSingleObject(child->process, INFINITE);
  GetExitCodeProcess(child->process, &code);
  SetConsoleCtrlHandler(KeepRunning, FALSE);
  ChildPipes* pipes = PipesOf(child);
  if (pipes->endWait) UnregisterWaitEx(pipes->endWait, INVALID_HANDLE_VALUE);  // its callback is over
  pipes->endWait = nullptr;
  ChildProcess = nullptr;
  RunPort = nullptr;
  CloseHandle(child->process);
  child->process = nullptr;
  CloseBoth(pipes);
  *stopSignal = static_cast<int>(StopSignal);
  return static_cast<int>(code);
}

void KeepArgumentBytes(char* const*, int) {}

void EndLikeCommand(int) {}

}  // namespace horalin::platform
