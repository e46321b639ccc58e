// Services for the help locator and its viewer: where the help file may lie, the file
// test, the viewer, starting and ending its process, and the message that lists the
// places when none holds the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace horalin::platform {

// ---- The places of the help file ----------------------------------------------------

// The help file's places, in search order: templates for FormatText with the plug-in's
// name for every "%s" ("%%" gives one "%"). A place that begins with "~" and the path
// separator lies in the folder of the library (POSIX: of the program). The first two
// name a folder by a bracketed shell variable, "%[name]", directly followed by the rest.
inline constexpr int kHelpPlaceCount = 7;
const char16_t* HelpPlace(int index);
// "\" on Windows, "/" on POSIX.
char16_t PathSeparator();
// The format of the text that lists the places when none holds the help file, with
// three "%s": the plug-in's name, the name in upper case, and the system help folder.
const char16_t* MissingHelpText();
// The system help folder that the last place names (Windows: the Windows directory,
// whose Help folder it is; POSIX: the installed documentation folder). Returns its
// length, 0 on failure (the text is then empty).
size_t SystemHelpFolder(char16_t* folder, size_t capacity);

// ---- Files ----------------------------------------------------------------------------

inline constexpr uint32_t kAttributeDirectory = 0x10;
inline constexpr uint32_t kAttributeDevice = 0x40;
inline constexpr uint32_t kAttributeNormal = 0x80;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;
// The attributes of a path as Windows reports them; kInvalidAttributes when it does
// not exist. POSIX: a folder is a directory, any other file that is not a regular file
// (terminal, pipe, socket) a device.
uint32_t FileAttributes(const char16_t* path);

// ---- The viewer ---------------------------------------------------------------------

// Looks for the help viewer program and writes its full path, or an empty text when
// there is none. Windows: hh.exe in the Windows folder, else in a folder of PATH that is
// named in full (never the current folder). POSIX: man at a terminal or without a
// display, else xdg-open (or $BROWSER).
void FindHelpViewer(char16_t* viewer, size_t capacity);
// Appends to the help file's path the address of a topic's page in the form the viewer
// takes. Windows: "::/topic.html" (a page inside the compiled help file). POSIX: the
// page beside the help file, "topic.1" for man and "topic.html" for a browser.
void AppendHelpPage(char16_t* path, size_t capacity, const char16_t* topic);
// Starts the viewer argv[0] (a full path) with the arguments argv[1] to argv[count - 1],
// each reaching it unchanged (Windows: each in double quotes on its command line, the
// program's too). Returns false when it could not be started. Windows: the viewer runs on
// once it has started (or ended) and its process handle is stored in `process`. POSIX: the
// viewer runs in the foreground (a pager needs the terminal) and has ended on return;
// `process` is null.
bool StartProcess(const char16_t* const* argv, size_t count, Handle* process);

// Whether the viewer that StartProcess last ran failed at its work, and then a short
// description of what went wrong. POSIX: it ended with a status other than 0 or by a
// signal, or its output could not be written (a reader that went away is no failure).
// Windows: it ended before it waited for input, its window never shown (StartProcess
// waits for that, up to ten seconds); a viewer that runs on counts as shown.
bool ViewerFailed(char16_t* description, size_t capacity);

// Ends a process that the plug-in started, with exit code 0, without waiting for it,
// and releases its handle. Failure (the process has ended already) is ignored.
void EndProcess(Handle process);

// ---- The message ----------------------------------------------------------------------

// Shows a message in a box owned by the foreground window, with an OK button, and
// returns when the user has closed it. Returns false when this system shows no boxes
// (POSIX, or Windows without a desktop to show it on): the caller then writes the text
// to standard error.
bool ShowMessageBox(const char16_t* title, const char16_t* text);

}  // namespace horalin::platform
