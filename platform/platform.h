// The services that the library takes from the operating system. The engine calls
// only these; a Win32 backend (platform/win32) and a POSIX backend (platform/posix)
// implement them, one chosen by the build. Texts are UTF-16; counts are in units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"

namespace horalin::platform {

using Handle = void*;

// ---- Standard handles and piped input -------------------------------------------

enum class StdStream { Input, Output, Error };
Handle StdHandle(StdStream stream);

// Reads up to `capacity` bytes. Returns 0 and the count read (0 at the end of the
// input), or the system's error code; a writer that closed its end of a pipe gives
// kErrorBrokenPipe, an invalid handle kErrorInvalidHandle.
uint32_t ReadInput(Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead);
// Waits at most `milliseconds` for input on the handle. False when none came and a read
// would still wait; true when there is input, the input has ended or failed, or the
// handle is one that a read never waits on.
bool WaitForInput(Handle handle, uint32_t milliseconds);
// Whether the handle is a file on disk (it reports at least one link).
bool IsDiskFile(Handle handle);
// Whether the handle is an interactive console or terminal.
bool IsConsoleInput(Handle handle);
// Opens a file for reading: 0 and its handle, or the system's error code.
uint32_t OpenInputFile(const char16_t* path, Handle* handle);
void CloseInputFile(Handle handle);
// The files that a name with the wildcards "*" and "?" in its last part names ("logs\*.log"),
// as Windows programs expand them themselves: each file's path (the name's folder and the
// file's name) in turn to `each`, in the order the system lists them, folders left out.
// The count of files; -1 where names are not expanded (POSIX, whose shell has done it,
// and a name without wildcards).
using FileVisitor = void (*)(const char16_t* path, void* context);
int ExpandWildcards(const char16_t* name, FileVisitor each, void* context);
// Writes straight to the console or terminal, past any redirection.
void WriteConsolePrompt(const char16_t* text);
// The keys that end input typed at the console ("Ctrl-Z then Enter" on Windows).
const char16_t* ConsoleEndOfInputKeys();
// A function to call before a read that would block (a host that buffers its output
// writes it there). Null for none. Until one is set, the Windows backend takes the host
// library's HoralinFlushOutput where it exports one (the horalin program's stand-in).
void SetBeforeBlockingRead(void (*hook)());
// Calls that function, if there is one.
void CallBeforeBlockingRead();
// Writes bytes to standard output as they are, in order with the host's text, where the
// host offers it (the horalin program: HoralinWriteBytes of its stand-in host library on
// Windows); null where it does not (the shell). The POSIX program sets it.
using OutputBytesWriter = void (*)(const char* bytes, size_t count);
OutputBytesWriter OutputBytes();
void SetOutputBytes(OutputBytesWriter writer);
// Writes a line of UTF-8 to standard output where the host offers it, as the host's text
// would come out: `head`, then `line`, then the line end that the host writes for a CR LF
// of text. False when it wrote nothing, the line to be written as text (the Windows
// program's console, which shows UTF-16). Null where the host has none (the shell). The
// POSIX program sets it; on Windows, HoralinWriteLineBytes of the stand-in host library.
using OutputLineWriter = bool (*)(const char* head, size_t headCount, const char* line, size_t lineCount);
OutputLineWriter OutputLineBytes();
void SetOutputLineBytes(OutputLineWriter writer);

// ---- A command run with its output stamped (the horalin program's run) ----------

// A command started by StartChild, and the read ends of the pipes that carry its
// standard output and standard error (null once closed).
struct Child {
  Handle process;
  Handle output;
  Handle error;
};

// Refused: an argument cannot reach the command unchanged (a batch file's argument that
// holds a line break); *error is then its index. TooLong: the arguments do not fit in the
// command line that the system passes (none is dropped).
enum class ChildStart { Started, NotFound, NotRunnable, Refused, TooLong };

// Which of the command's streams StartChild gives a terminal of its own instead of a
// pipe, as bits. A program sees a terminal where it would write to one without this one:
// it then writes each line when it ends (its C library, Python and the like hold output
// back in a pipe), and shows colours, columns and pagers.
enum ChildTerminal : uint32_t { kTerminalForOutput = 1, kTerminalForError = 2 };
// Whether StartChild can give the command terminals (POSIX: pseudo-terminals, one for
// each stream, so that the two stay apart). Windows cannot: its pseudo console joins the
// two streams in one screen that it redraws.
bool ChildTerminalsAvailable();
// The columns of the terminal or console `handle` writes to; 0 when it writes to none.
uint32_t TerminalColumns(Handle handle);

// Starts the command argv[0], looked up as the system's shell looks up a command, with
// the arguments argv[1] to argv[count - 1], our standard input and its standard output
// and standard error on pipes of their own. On POSIX the arguments are the program's own
// bytes where it kept them (KeepArgumentBytes), and a file that the system cannot run
// runs under /bin/sh, as a shell runs it; on Windows a batch file runs under cmd.exe with
// its arguments quoted for it (Refused when one cannot be). The streams that `terminals`
// names go to a terminal of their own: output as written (no line end changed), its size
// that of ours, changed with it; the command keeps our controlling terminal for its
// prompts. Until
// WaitForChild, the interrupt, termination, hang-up and quit signals sent to this process
// reach the command too (those that this process ignores stay ignored, in the command
// too), and the console's Ctrl-C, which reaches the whole console, leaves this process
// running until the command ends. When it cannot start, *error holds the system's code.
ChildStart StartChild(const char16_t* const* argv, size_t count, uint32_t terminals, Child* child, uint32_t* error);
// Reads what one of the child's pipes holds, without waiting: 0 and the count (0 once
// the pipe is closed and empty), kErrorIoPending when nothing is there yet, or the
// system's error code.
uint32_t ReadChildPipe(Handle pipe, void* block, uint32_t capacity, uint32_t* bytesRead);
inline constexpr uint32_t kWaitNoLimit = 0xFFFFFFFFu;
// Waits until one of the pipes given (nulls are skipped) has something to read or is
// closed, for at most `milliseconds`, and returns the index of the one whose data came
// first; -1 when the time ran out or a request to stop came (ChildEndedAfterStop). Calls the
// before-blocking-read function first.
int WaitForChildPipes(const Handle* pipes, size_t count, uint32_t milliseconds);
void CloseChildPipe(Handle pipe);
// Whether a request to stop this program has come (an interrupt, termination or hang-up
// signal; on Windows Ctrl-C or Ctrl-Break) and the command has ended: a process that it
// left may still hold the pipes, and they are not waited for.
bool ChildEndedAfterStop(Child* child);
// Whether the command has ended, without waiting (its exit status stays for
// WaitForChild). Its end wakes WaitForChildPipes.
bool ChildHasEnded(Child* child);
// Waits for the command to end, also when it closed its pipes long before, and returns
// its exit status: its own code, or 128 + the number of the signal that ended it.
// *stopSignal: the signal of a request to stop that came after the command had ended
// (Ctrl-C counts as signal 2, Ctrl-Break as 21), or 0.
int WaitForChild(Child* child, int* stopSignal);
// The program's arguments as it was given them (POSIX), kept so that a command started by
// StartChild gets its arguments byte for byte: its `count` arguments are the last ones
// of these. Unset, they are converted from the engine's text. Windows passes its
// arguments as UTF-16 and keeps nothing.
void KeepArgumentBytes(char* const* argv, int count);
// Ends this program by the signal that ended the last command run, or that stopped this
// program after it had ended, when `status` is 128 + that signal (POSIX), so that a shell
// sees the same end as without this program. Returns otherwise, and always on Windows.
void EndLikeCommand(int status);

// ---- Error texts and the module ------------------------------------------------

// The system's text for an error code, one line; false when it has none.
bool SystemErrorText(uint32_t code, char16_t* text, size_t capacity);
// The full file name of the library (or, in the POSIX build, of the program) that
// holds the plug-in. Returns its length, 0 on failure.
size_t ModuleFileName(char16_t* path, size_t capacity);

// ---- Clock -------------------------------------------------------------------

// The wall clock as an instant, to its full resolution (nanoseconds on POSIX, the
// system's precise time on Windows), and, when `steady` asks for it, the steady clock
// (the steady reading is 0 otherwise: where the clocks take a system call, a reading
// costs as much as a short line's whole stamp).
Moment CurrentMoment(bool steady);
// The wall clock alone.
Instant CurrentInstant();

// ---- Time zone: the one seam between instants and local times ---------------------

// UTC to local: the zone's offset, state and name in force at an instant (seconds since
// 1970-01-01 00:00 UTC); in UTC mode bias 0, ZoneStandard and the system's name for UTC.
const ZoneSnapshot& ZoneAtInstant(bool utc, int64_t seconds);
// Local to UTC: the zone's offset, state and name in force at `localTime` read as local
// time (or now, when it is null). A local time that the clocks skip or show twice is
// read with the offset in force before the change; `kind`, where given, receives which
// it is (Unsure where the backend does not tell). In UTC mode as above. Both snapshots
// are the backend's own and hold until the next call: the local times of a log fall in
// a few snapshots that the backend keeps made, and a copy would cost as much as finding
// them.
const ZoneSnapshot& TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime, LocalKind* kind = nullptr);
// A zone named for reading stamps, beside the zone of TZ: on POSIX a name of the tz
// database ("Europe/Berlin"); false when there is none of that name (always on
// Windows, whose zones restamp takes as LOCAL, UTC or an offset). Then the snapshot for a
// local time in it, as TakeZoneSnapshot's for the zone of TZ.
bool SelectNamedZone(const char16_t* name);
// What a message about a bad zone adds to "LOCAL, UTC, an offset such as +01:00".
extern const char16_t kZoneNamesTaken[];
const ZoneSnapshot& NamedZoneSnapshot(const SYSTEMTIME* localTime, LocalKind* kind = nullptr);

// ---- Locale ------------------------------------------------------------------

// Each writes at most room - 1 units and a terminator and returns the units written;
// 0 when the query failed (the buffer then holds an empty text, if room > 0).
size_t LocaleText(Locale locale, LocaleItem item, int index, char16_t* buffer, size_t room);
size_t LocaleDate(bool longDate, const SYSTEMTIME& date, char16_t* buffer, size_t room);
// `force24` asks for the 24-hour form without the AM/PM marker.
size_t LocaleTime(bool force24, const SYSTEMTIME& time, char16_t* buffer, size_t room);
// Case mapping in place under the user's language. A mapping that would change the
// number of units (or split a surrogate pair) is not made.
void MapToUpperCase(char16_t* text, size_t length);
void MapToLowerCase(char16_t* text, size_t length);
// Brings the locale services up to date with the user's settings as they are now, so
// that a change shows from the next query on (the POSIX backend reads LC_ALL, LC_TIME,
// LC_CTYPE and LANG again; on Windows the system follows by itself). Cheap when nothing
// changed; the format interpreter has it called once per call, before its first locale
// query.
void RefreshLocale();

// ---- Code pages --------------------------------------------------------------

uint32_t AnsiCodePage();
uint32_t OemCodePage();
// The code page of 8-bit text that is read without one named: on Windows the OEM code
// page, that of the console's programs; on POSIX the ANSI code page of the locale's
// language, as legacy text there comes from Windows programs and files, not the console.
uint32_t DefaultCodePage();
// Converts `count` bytes of text in `codePage` (65001: UTF-8) to at most `capacity`
// units, not terminated, as DecodeBytes does for the whole text. Returns the units
// written, or 0 with *error set (kErrorInvalidParameter for a code page that the backend
// does not read).
size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error);

// A conversion from a code page that keeps its state from one call to the next, so that
// a character, or a shift state, may run on from one piece of text into the next.
struct ByteDecoder {
  uint32_t codePage;  // 0: not open
  int32_t slot;       // the backend's
  void* converter;    // the backend's
  bool keepsAscii;    // each byte 01 to 7F stands for itself, and no byte of a longer
                      // character is a CR, LF or zero byte: lines can be told in the bytes
};

// Opens a decoder for the code page (65001: UTF-8); false when the backend does not read
// it as Windows reads it, piece by piece. Every decoder opened is closed.
bool OpenByteDecoder(ByteDecoder* decoder, uint32_t codePage);
void CloseByteDecoder(ByteDecoder* decoder);
// Converts up to `count` bytes into at most `capacity` units, going on from the state
// that the last call left. Stops before a character that the bytes cut off at their end,
// for the caller to hand in again with the bytes that follow; with `final`, the text ends
// there instead: such a character shows as U+FFFD, and the decoder starts afresh. No
// character is held back once its bytes have come. Text is read as Windows reads it (a
// byte that a code page leaves undefined but Windows keeps, such as 81 in 1252, is kept),
// except that a byte that the code page does not map, or a lead byte without its pair,
// shows as U+FFFD and the byte after it is read on its own.
// Returns the units written; *used receives the bytes taken.
size_t DecodeBytes(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                   bool final);

}  // namespace horalin::platform
