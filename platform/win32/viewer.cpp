// Win32 backend of the help locator: the places of Horalin.chm, the file test, the HTML
// Help viewer hh.exe and its process, and the message box.
#include <windows.h>

#include "common/text.h"
#include "common/types.h"
#include "platform/help.h"
#include "platform/win32/process.h"

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

namespace {

// Whether `folder` + "\hh.exe" names a file; the full name is left in `viewer`.
bool ViewerIn(const char16_t* folder, size_t length, char16_t* viewer, size_t capacity) {
  constexpr char16_t kName[] = u"\\hh.exe";
  if (length == 0 || length + sizeof kName / sizeof kName[0] > capacity) return false;
  for (size_t i = 0; i < length; ++i) viewer[i] = folder[i];
  viewer[length] = 0;
  if (folder[length - 1] == u'\\' || folder[length - 1] == u'/') viewer[--length] = 0;
  AppendText(viewer, capacity, kName);
  const DWORD attributes = GetFileAttributesW(Wide(viewer));
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// A folder named from the root of a drive ("C:\...") or of a network share ("\\...");
// any other names a place relative to the current folder, where anyone may have left a
// program of that name.
bool IsFullFolder(const char16_t* folder, size_t length) {
  if (length >= 3 && folder[1] == u':' && (folder[2] == u'\\' || folder[2] == u'/'))
    return (folder[0] >= u'A' && folder[0] <= u'Z') || (folder[0] >= u'a' && folder[0] <= u'z');
  return length >= 3 && folder[0] == u'\\' && folder[1] == u'\\';
}

}  // namespace

// The system's viewer in the Windows folder; only where it is missing, the first hh.exe in
// a folder of PATH that is named in full. The current folder is never searched: a program
// planted where the user happens to stand must not run in the viewer's place.
void FindHelpViewer(char16_t* viewer, size_t capacity) {
  static char16_t folder[kPathText];
  UINT n = GetWindowsDirectoryW(Wide(folder), kPathText);
  if (n > 0 && n < kPathText && ViewerIn(folder, n, viewer, capacity)) return;
  static char16_t path[kPathText];
  DWORD length = GetEnvironmentVariableW(L"PATH", Wide(path), kPathText);
  if (length >= kPathText) length = 0;
  for (DWORD start = 0; start < length;) {
    DWORD end = start;
    while (end < length && path[end] != u';') ++end;
    const char16_t* entry = path + start;
    size_t entryLength = end - start;
    if (entryLength >= 2 && entry[0] == u'"' && entry[entryLength - 1] == u'"') ++entry, entryLength -= 2;
    if (IsFullFolder(entry, entryLength) && ViewerIn(entry, entryLength, viewer, capacity)) return;
    start = end + 1;
  }
  if (capacity) viewer[0] = 0;
}

void AppendHelpPage(char16_t* path, size_t capacity, const char16_t* topic) {
  AppendText(path, capacity, u"::/");
  AppendText(path, capacity, topic);
  AppendText(path, capacity, u".html");
}

namespace {

// What went wrong with the viewer that started last; empty when nothing did, or nothing
// could be seen.
char16_t ViewerFailure[512];

// hh.exe shows its window within a second or two; a viewer still starting after this
// long is taken as shown.
constexpr DWORD kViewerStartLimit = 10000;  // milliseconds

// Waits until the viewer waits for input (its window is up, or a message box of its own
// tells what went wrong) or has ended, and notes a viewer that ended first: it never
// showed the page (hh.exe ends so, with status 0, when it cannot open the file or
// create its window). What a running viewer shows cannot be known from here, nor the
// fate of a viewer without windows (a console program: WaitForInputIdle returns at
// once), nor of one that is still starting at the limit.
void WatchViewerStart(HANDLE process, const char16_t* program) {
  ViewerFailure[0] = 0;
  WaitForInputIdle(process, kViewerStartLimit);
  if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return;
  DWORD status = 0;
  if (GetExitCodeProcess(process, &status) && status != 0)
    FormatText(ViewerFailure, 512, u"%s ended with status %u", program, static_cast<uint32_t>(status));
  else
    FormatText(ViewerFailure, 512, u"%s ended without showing its window", program);
}

}  // namespace

bool StartProcess(const char16_t* const* argv, size_t count, Handle* process) {
  static char16_t line[kPathText];
  BoundedText b{line, kPathText, 0, true};
  for (size_t i = 0; i < count; ++i) AppendArgument(&b, argv[i], true);
  PROCESS_INFORMATION info;
  if (count == 0 || !b.room || CreateProgram(argv[0], line, nullptr, &info) != 0) return false;
  CloseHandle(info.hThread);
  *process = info.hProcess;
  WatchViewerStart(info.hProcess, argv[0]);
  return true;
}

bool ViewerFailed(char16_t* description, size_t capacity) {
  if (!ViewerFailure[0]) return false;
  CopyText(description, capacity, ViewerFailure);
  return true;
}

// MessageBoxW fails where there is no desktop to show it on (a service, a locked station,
// a session without a display): the caller then writes the text to standard error.
bool ShowMessageBox(const char16_t* title, const char16_t* text) {
  return MessageBoxW(GetForegroundWindow(), Wide(text), Wide(title), MB_OK) > 0;
}

}  // namespace horalin::platform
