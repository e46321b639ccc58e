// POSIX backend of the help locator. The help is a folder of pages: Horalin.html (the
// index, which the search looks for), and for each topic an HTML page for a browser and
// a manual page for man. At a terminal (or with no display) man shows the topic's
// manual page; started without a terminal, with a display, a browser opens its HTML page.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "platform/help.h"
#include "platform/posix/program_path.h"
#include "platform/posix/spawn.h"

namespace horalin::platform {

namespace {

// "~" is the folder of the horalin program, which also stands for the shell's folder;
// the last place is the installed documentation folder beside the program's bin folder.
constexpr const char16_t* kHelpPlaces[kHelpPlaceCount] = {
    u"%%[%sHelp]/%s.html",               // the folder named by the variable HoralinHelp
    u"%%[PluginHelp]/%s.html",           // the folder named by the variable PluginHelp
    u"~/%s.html",                        // the program's own folder
    u"~/help/%s.html",                   // its help folder
    u"%%@path[%%_cmdspec]%s.html",       // the shell's folder: the program's
    u"%%@path[%%_cmdspec]help/%s.html",  // its help folder
    u"~/../share/doc/horalin/%s.html",   // the installed documentation folder
};

constexpr char16_t kMissingHelpText[] =
    u"I can\u2019t find the help file %s.html.  It should be:\n\n"
    u"    \u2022  in a directory named by $%sHELP\n"
    u"    \u2022  in a directory named by $PLUGINHELP\n"
    u"    \u2022  in the same directory as the horalin program\n"
    u"    \u2022  in a help directory within the program\u2019s directory\n"
    u"    \u2022  or in %s.\n";

enum class ViewerKind { Manual, Browser };
// The kind of viewer that FindHelpViewer found last; AppendHelpPage picks the page by it.
ViewerKind LastViewerKind = ViewerKind::Manual;

constexpr size_t kBytePath = 4096;

bool ToBytes(const char16_t* text, char* bytes, size_t capacity) {
  size_t length = TextLength(text);
  if (length * 3 >= capacity) return false;
  bytes[Utf8FromUtf16(text, length, bytes)] = 0;
  return true;
}

bool HasDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

// Whether the program runs at a terminal: its output goes to one, or it was started from
// one (also when its output is piped on, as in "horalin help ts | less").
bool AtTerminal() {
  if (isatty(1)) return true;
  int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool FindBrowser(char* found, size_t capacity) {
  if (FindProgram("xdg-open", found, capacity) == 0) return true;
  const char* browser = std::getenv("BROWSER");  // a list of programs separated by colons
  if (!browser) return false;
  char first[kBytePath];
  size_t length = std::strcspn(browser, ":");
  if (length >= sizeof first) return false;
  std::memcpy(first, browser, length);
  first[length] = 0;
  return FindProgram(first, found, capacity) == 0;
}

// Splits a command line of double-quoted or blank-separated arguments.
int SplitCommandLine(char* line, char** argv, int capacity) {
  int count = 0;
  char* p = line;
  while (*p && count + 1 < capacity) {
    while (*p == ' ') ++p;
    if (!*p) break;
    char* out = p;
    argv[count++] = out;
    bool quoted = false;
    for (; *p && (quoted || *p != ' '); ++p) {
      if (*p == '"')
        quoted = !quoted;
      else
        *out++ = *p;
    }
    if (*p) ++p;
    *out = 0;
  }
  argv[count] = nullptr;
  return count;
}

// What went wrong with the viewer that ran last; empty when nothing did.
char ViewerFailure[512];

// How passing the viewer's output on went: a write that failed stops the copy,
// `readerGone` when the reader closed its end (the viewer then ends by the broken pipe,
// as it would have writing there itself), else `writeError`.
struct ViewerOutcome {
  int writeError = 0;
  bool readerGone = false;
};

// Copies the viewer's output from `from` to standard output until it ends. A reader that
// goes away ends the help as it ended when the viewer wrote there itself: the viewer by
// the broken pipe, this program normally.
void PassOutputOn(int from, ViewerOutcome* outcome) {
  struct sigaction ignore {
  }, oldPipe{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &oldPipe);
  static char block[65536];
  for (bool more = true; more;) {
    ssize_t n = read(from, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    more = n > 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(1, block + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w < 0 && errno == EPIPE)
          outcome->readerGone = true;
        else
          outcome->writeError = w < 0 ? errno : EIO;
        more = false;
        break;
      }
      done += w;
    }
  }
  sigaction(SIGPIPE, &oldPipe, nullptr);
}

// Starts the viewer with the default signal handling (this program ignores interrupts
// while it runs) and its output on `output` (-1: this program's own).
int SpawnViewer(const char* file, char** argv, int output, pid_t* pid) {
  SpawnSetup setup;
  setup.output = output;
  sigemptyset(&setup.defaults);
  for (int s : {SIGINT, SIGQUIT, SIGPIPE}) sigaddset(&setup.defaults, s);
  return SpawnProgram(pid, file, argv, setup);
}

// Waits for the viewer to end and notes in ViewerFailure what went wrong, if anything.
void NoteViewerEnd(const char* file, pid_t pid, const ViewerOutcome& outcome) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (outcome.writeError)
    std::snprintf(ViewerFailure, sizeof ViewerFailure, "its output could not be written: %s",
                  std::strerror(outcome.writeError));
  else if (outcome.readerGone)  // the viewer's end by the broken pipe, or a status telling of it, is no failure
    ViewerFailure[0] = 0;
  else if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    std::snprintf(ViewerFailure, sizeof ViewerFailure, "%.400s ended with status %d", file, WEXITSTATUS(status));
  else if (WIFSIGNALED(status))
    std::snprintf(ViewerFailure, sizeof ViewerFailure, "%.400s was ended by signal %d", file, WTERMSIG(status));
}

}  // namespace

const char16_t* HelpPlace(int index) { return index >= 0 && index < kHelpPlaceCount ? kHelpPlaces[index] : u""; }

char16_t PathSeparator() { return u'/'; }

const char16_t* MissingHelpText() { return kMissingHelpText; }

size_t SystemHelpFolder(char16_t* folder, size_t capacity) {
  // <prefix>/bin/horalin gives <prefix>/share/doc/horalin.
  size_t length = ModuleFileName(folder, capacity);
  for (int parts = 0; parts < 2; ++parts) {
    while (length > 0 && folder[length - 1] != u'/') --length;
    if (length > 0) --length;
  }
  folder[length] = 0;
  return AppendText(folder, capacity, u"/share/doc/horalin");
}

uint32_t FileAttributes(const char16_t* path) {
  char bytes[kBytePath];
  struct stat info;
  if (!ToBytes(path, bytes, sizeof bytes) || stat(bytes, &info) != 0) return kInvalidAttributes;
  if (S_ISDIR(info.st_mode)) return kAttributeDirectory;
  if (!S_ISREG(info.st_mode)) return kAttributeDevice;
  return kAttributeNormal;
}

void FindHelpViewer(char16_t* viewer, size_t capacity) {
  char found[kBytePath];
  viewer[0] = 0;
  bool browser = !AtTerminal() && HasDisplay() && FindBrowser(found, sizeof found);
  LastViewerKind = browser ? ViewerKind::Browser : ViewerKind::Manual;
  if (!browser && FindProgram("man", found, sizeof found) != 0) return;
  Utf16FromUtf8(found, std::strlen(found), viewer, capacity);
}

void AppendHelpPage(char16_t* path, size_t capacity, const char16_t* topic) {
  // The page lies beside the help file.
  size_t length = TextLength(path);
  while (length > 0 && path[length - 1] != u'/') --length;
  path[length] = 0;
  AppendText(path, capacity, topic);
  AppendText(path, capacity, LastViewerKind == ViewerKind::Browser ? u".html" : u".1");
}

bool StartProcess(const char16_t* program, const char16_t* commandLine, Handle* process) {
  *process = nullptr;
  static char line[kPathText * 3];
  char file[kBytePath];
  if (!ToBytes(program, file, sizeof file) || !ToBytes(commandLine, line, sizeof line)) return false;
  char* argv[16];
  if (SplitCommandLine(line, argv, 16) == 0) return false;
  // While the viewer runs, an interrupt from the terminal is its to handle, not ours.
  struct sigaction ignore {
  }, oldInterrupt{}, oldQuit{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &oldInterrupt);
  sigaction(SIGQUIT, &ignore, &oldQuit);
  // Away from a terminal the viewer writes into a pipe and its output is passed on from
  // there, so that output that cannot be written (a full disk) is noticed: the viewer
  // itself may not tell.
  int output[2] = {-1, -1};
  if (!isatty(1) && pipe2(output, O_CLOEXEC) != 0) output[0] = output[1] = -1;
  ViewerFailure[0] = 0;
  pid_t pid = 0;
  int error = SpawnViewer(file, argv, output[1], &pid);
  ViewerOutcome outcome;
  if (output[1] >= 0) {
    close(output[1]);
    if (error == 0) PassOutputOn(output[0], &outcome);
    close(output[0]);
  }
  if (error == 0) NoteViewerEnd(file, pid, outcome);
  sigaction(SIGINT, &oldInterrupt, nullptr);
  sigaction(SIGQUIT, &oldQuit, nullptr);
  return error == 0;
}

bool ViewerFailed(char16_t* description, size_t capacity) {
  if (!ViewerFailure[0]) return false;
  Utf16FromUtf8(ViewerFailure, std::strlen(ViewerFailure), description, capacity);
  return true;
}

bool ShowMessageBox(const char16_t*, const char16_t*) { return false; }

}  // namespace horalin::platform
