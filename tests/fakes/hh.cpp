// A stand-in for the HTML Help viewer in tests of the Windows build, a program with
// windows as hh.exe is. It waits for input a moment, as a viewer does once its window is
// up (it shows none: the tests run without a display), then appends its command line, as
// UTF-8, to the file that HORALIN_VIEWER_LOG names, and ends. With HORALIN_VIEWER_STATUS
// set to a number it writes the line and ends at once with that status, as a viewer that
// cannot show the page.
#include <windows.h>

namespace {

bool AppendCommandLine() {
  wchar_t log[1024];
  DWORD n = GetEnvironmentVariableW(L"HORALIN_VIEWER_LOG", log, 1024);
  if (n == 0 || n >= 1024) return false;
  HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  static char line[3 * 32768 + 2];
  int length = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line - 2, nullptr, nullptr);
  if (length > 0) {
    line[length - 1] = '\n';
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  }
  CloseHandle(file);
  return true;
}

}  // namespace

int wmain();  // the entry point, called by the runtime

int wmain() {
  wchar_t text[16];
  DWORD n = GetEnvironmentVariableW(L"HORALIN_VIEWER_STATUS", text, 16);
  if (n > 0 && n < 16) {
    int status = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) status = status * 10 + (*p - L'0');
    return AppendCommandLine() ? status : 1;
  }
  // The log line is written last, so that a test that has read it knows the viewer done.
  SetTimer(nullptr, 0, 200, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) DispatchMessageW(&message);
  return AppendCommandLine() ? 0 : 1;
}
