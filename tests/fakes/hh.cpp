// A stand-in for the HTML Help viewer in tests of the Windows build: it appends its
// command line, as UTF-8, to the file that HORALIN_VIEWER_LOG names, and ends.
#include <windows.h>

int wmain();  // the entry point, called by the runtime

int wmain() {
  wchar_t log[1024];
  DWORD n = GetEnvironmentVariableW(L"HORALIN_VIEWER_LOG", log, 1024);
  if (n == 0 || n >= 1024) return 1;
  HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  static char line[3 * 32768 + 2];
  int length = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line - 2, nullptr, nullptr);
  if (length > 0) {
    line[length - 1] = '\n';
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  }
  CloseHandle(file);
  return 0;
}
