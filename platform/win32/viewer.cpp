// Win32 backend of the help locator: the places of Horalin.chm, the file test, the HTML
// Help viewer hh.exe and its process, and the message box.
#include <windows.h>

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"

namespace horalin::platform {

namespace {

LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }
LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

constexpr const char16_t* kHelpPlaces[kHelpPlaceCount] = {
    u"%%[%sHelp]\\%s.chm",               // the folder named by the variable HoralinHelp
    u"%%[PluginHelp]\\%s.chm",           // the folder named by the variable PluginHelp
    u"~\\%s.chm",                        // the library's own folder
    u"~\\Help\\%s.chm",                  // its Help folder
    u"%%@path[%%_cmdspec]%s.chm",        // the shell's folder
    u"%%@path[%%_cmdspec]help\\%s.chm",  // its help folder
    u"%%windir\\help\\%s.chm",           // the Windows help folder
};

constexpr char16_t kMissingHelpText[] =
    u"I can\u2019t find the help file %s.chm.  It should be:\n\n"
    u"    \u2022  in a directory specified in %%%sHELP\n"
    u"    \u2022  in a directory specified in %%PLUGINHELP\n"
    u"    \u2022  in the same directory as the .DLL file\n"
    u"    \u2022  in a HELP directory within the .DLL\u2019s directory  \n"
    u"    \u2022  in the same directory as the command shell\n"
    u"    \u2022  in a HELP directory within the shell\u2019s directory  \n"
    u"    \u2022  or in %s\\Help.\n";

}  // namespace

const char16_t* HelpPlace(int index) { return index >= 0 && index < kHelpPlaceCount ? kHelpPlaces[index] : u""; }

char16_t PathSeparator() { return u'\\'; }

const char16_t* MissingHelpText() { return kMissingHelpText; }

size_t SystemHelpFolder(char16_t* folder, size_t capacity) {
  UINT n = GetWindowsDirectoryW(Wide(folder), static_cast<UINT>(capacity));
  if (n >= capacity) n = 0;
  folder[n] = 0;
  return n;
}

uint32_t FileAttributes(const char16_t* path) { return GetFileAttributesW(Wide(path)); }

void FindHelpViewer(char16_t* viewer, size_t capacity) {
  DWORD n = SearchPathW(nullptr, L"hh.exe", nullptr, static_cast<DWORD>(capacity), Wide(viewer), nullptr);
  if (n == 0 || n >= capacity) viewer[0] = 0;
}

void AppendHelpPage(char16_t* path, size_t capacity, const char16_t* topic) {
  AppendText(path, capacity, u"::/");
  AppendText(path, capacity, topic);
  AppendText(path, capacity, u".html");
}

bool StartProcess(const char16_t* program, const char16_t* commandLine, Handle* process) {
  // CreateProcessW may write into the command line.
  static char16_t line[kPathText];
  CopyText(line, kPathText, commandLine);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessW(Wide(program), Wide(line), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  *process = info.hProcess;
  return true;
}

bool ShowMessageBox(const char16_t* title, const char16_t* text) {
  // Test runs have no one to close a box: they ask for standard error instead.
  wchar_t mode[16];
  DWORD n = GetEnvironmentVariableW(L"HORALIN_MESSAGE_BOX", mode, 16);
  if (n > 0 && n < 16 && lstrcmpiW(mode, L"stderr") == 0) return false;
  MessageBoxW(GetForegroundWindow(), Wide(text), Wide(title), MB_OK);
  return true;
}

}  // namespace horalin::platform
