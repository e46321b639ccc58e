// Win32 backend: module entry, standard handles, piped input, error texts, processes.
#include <windows.h>

#include <cstring>
#include <iterator>

#include "common/text.h"
#include "platform/help.h"
#include "platform/platform.h"

namespace horalin::platform {

// The library's own module handle, kept by the module entry.
HMODULE ModuleHandle = nullptr;

namespace {
LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }
LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

// Whether a read of `handle` may wait for input, so that output held back must be written
// before it: a pipe with nothing in it or a console may wait; a file on disk never does.
// The kind of handle is learnt once per handle.
bool MayWait(HANDLE handle) {
  static HANDLE known;
  static DWORD type;
  if (handle != known) known = handle, type = GetFileType(handle);
  if (type == FILE_TYPE_DISK) return false;
  DWORD available = 0;
  return type != FILE_TYPE_PIPE || !PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available == 0;
}
}  // namespace

Handle StdHandle(StdStream stream) {
  DWORD which = stream == StdStream::Input    ? STD_INPUT_HANDLE
                : stream == StdStream::Output ? STD_OUTPUT_HANDLE
                                              : STD_ERROR_HANDLE;
  return GetStdHandle(which);
}

namespace {

void (*BeforeBlockingRead)() = nullptr;
bool BeforeBlockingReadChosen = false;

// A host that holds its output back until a read may wait (the stand-in host of the
// horalin program) exports HoralinFlushOutput; the shell writes at once and has none.
void (*BeforeBlockingReadHook())() {
  if (!BeforeBlockingReadChosen) {
    BeforeBlockingReadChosen = true;
    if (HMODULE host = GetModuleHandleW(L"TakeCmd.dll"))
      BeforeBlockingRead =
          reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(host, "HoralinFlushOutput")));
  }
  return BeforeBlockingRead;
}

}  // namespace

namespace {
// An export of the stand-in host library of the horalin program (HoralinWriteBytes,
// HoralinWriteLineBytes); the shell has none, and its plug-in writes text only.
template <typename Writer>
Writer HostWriter(const char* name) {
  HMODULE host = GetModuleHandleW(L"TakeCmd.dll");
  return host ? reinterpret_cast<Writer>(reinterpret_cast<void*>(GetProcAddress(host, name))) : nullptr;
}

OutputBytesWriter BytesWriter = nullptr;
bool BytesWriterChosen = false;
OutputLineWriter LineWriter = nullptr;
bool LineWriterChosen = false;
}  // namespace

OutputBytesWriter OutputBytes() {
  if (!BytesWriterChosen) {
    BytesWriterChosen = true;
    BytesWriter = HostWriter<OutputBytesWriter>("HoralinWriteBytes");
  }
  return BytesWriter;
}

void SetOutputBytes(OutputBytesWriter writer) {
  BytesWriter = writer;
  BytesWriterChosen = true;
}

OutputLineWriter OutputLineBytes() {
  if (!LineWriterChosen) {
    LineWriterChosen = true;
    LineWriter = HostWriter<OutputLineWriter>("HoralinWriteLineBytes");
  }
  return LineWriter;
}

void SetOutputLineBytes(OutputLineWriter writer) {
  LineWriter = writer;
  LineWriterChosen = true;
}

void SetBeforeBlockingRead(void (*hook)()) {
  BeforeBlockingRead = hook;
  BeforeBlockingReadChosen = true;
}

void CallBeforeBlockingRead() {
  if (void (*hook)() = BeforeBlockingReadHook()) hook();
}

uint32_t ReadInput(Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  DWORD n = 0;
  *bytesRead = 0;
  if (void (*hook)() = BeforeBlockingReadHook(); hook && MayWait(handle)) hook();
  if (!ReadFile(handle, block, capacity, &n, nullptr)) return GetLastError();
  *bytesRead = n;
  return 0;
}

bool WaitForInput(Handle handle, uint32_t milliseconds) {
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR && IsConsoleInput(handle))
    return WaitForSingleObject(handle, milliseconds) != WAIT_TIMEOUT;
  if (type != FILE_TYPE_PIPE) return true;
  // A pipe tells only what it holds now: asked again each millisecond until the time is up.
  // One that cannot be asked (under Wine, a Unix pipe as standard input) counts as empty:
  // the caller then goes on with what it has rather than wait without end.
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
    if (available > 0) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(1);
  }
}

bool IsDiskFile(Handle handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return handle && GetFileInformationByHandle(handle, &info) && info.nNumberOfLinks > 0;
}

bool IsConsoleInput(Handle handle) {
  DWORD mode = 0xFFFFFFFF;
  return handle && GetConsoleMode(handle, &mode) && mode != 0xFFFFFFFF;
}

uint32_t OpenInputFile(const char16_t* path, Handle* handle) {
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  *handle = file;
  return 0;
}

void CloseInputFile(Handle handle) {
  if (handle) CloseHandle(handle);
}

int ExpandWildcards(const char16_t* name, FileVisitor each, void* context) {
  size_t folder = 0, n = 0;
  bool wild = false;
  for (; name[n]; ++n) {
    if (name[n] == u'\\' || name[n] == u'/' || name[n] == u':') folder = n + 1, wild = false;
    if (name[n] == u'*' || name[n] == u'?') wild = true;
  }
  if (!wild || n >= MAX_PATH) return -1;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(name), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  char16_t path[2 * MAX_PATH];
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::memcpy(path, name, folder * sizeof(char16_t));
    CopyText(path + folder, std::size(path) - folder, reinterpret_cast<const char16_t*>(found.cFileName));
    each(path, context);
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

void WriteConsolePrompt(const char16_t* text) {
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteConsoleW(console, Wide(text), static_cast<DWORD>(lstrlenW(Wide(text))), &written, nullptr);
  CloseHandle(console);
}

const char16_t* ConsoleEndOfInputKeys() { return u"Ctrl-Z then Enter"; }

bool SystemErrorText(uint32_t code, char16_t* text, size_t capacity) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  return FormatMessageW(flags, nullptr, code, 0, Wide(text), static_cast<DWORD>(capacity), nullptr) != 0;
}

size_t ModuleFileName(char16_t* path, size_t capacity) {
  DWORD n = GetModuleFileNameW(ModuleHandle, Wide(path), static_cast<DWORD>(capacity));
  if (n >= capacity) n = 0;
  path[n] = 0;
  return n;
}

void EndProcess(Handle process) {
  TerminateProcess(process, 0);
  CloseHandle(process);
}

}  // namespace horalin::platform

// The module entry keeps the library's handle and does nothing else.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID);  // called by the loader
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) horalin::platform::ModuleHandle = instance;
  return TRUE;
}
