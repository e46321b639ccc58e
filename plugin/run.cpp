// The run command: starts a command with its standard output and standard error on
// pipes (or terminals) of their own and stamps each line of either when its line end
// arrives, with the readers and the stamps of TS. The pipes are taken one read at a
// time, in the order their data came; a line that waits unfinished (a prompt) is shown
// after a moment with its stamp, and what comes after it begins a line of its own. A
// line longer than the reader's limit comes in pieces, written as one line.

#include <memory>
#include <new>

#include "common/text.h"
#include "common/types.h"
#include "host/host.h"
#include "host/switches.h"
#include "lines/reader.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "plugin/stamped_lines.h"

namespace horalin {

namespace {

// How long the start of a line waits for the rest before it is shown: long enough that a
// line written in pieces comes out whole, short enough that a prompt shows at once to
// the eye. In the steady clock's units (100 ns).
constexpr uint64_t kPromptDelay = 100ull * 10000;

// What the line last written of a stream left open on the screen.
enum class OpenLine : uint8_t {
  kNone,
  kWaiting,  // the start of a line that waited (a prompt): what comes next begins a line
  kCut,      // a piece of a long line: the next piece continues it, unstamped
};

// When the command gets terminals of its own: where ours are (Auto), always (/TTY) or
// never (/PIPE).
enum class Terminals : uint8_t { kAuto, kAlways, kNever };

struct RunPipe {
  StampedStream* stream;
  platform::Handle pipe;  // null once closed
  bool mayRead;           // the one read of this turn is still to come
  bool answered;          // this turn's read found bytes, the end or an error
  const char16_t* tag;    // with /M, after the stamp
  bool toError;           // without /M, stamped lines go to standard error
  uint64_t heldSince;     // when the unfinished line that the reader holds began to wait; 0: none
  OpenLine open;
  bool cameFirst;  // that unfinished line came first in its read: before a line of the
                   // other stream that a later read takes
};

// One call of the run command: the options and stamps of TS, the two streams of the
// command and their pipes, and run's own switches. Made by the call, on the heap.
struct RunCall {
  StampedOptions options;
  LineStamps stamps;
  StampedStream streams[2];
  RunPipe pipes[2];
  Terminals terminals;
  bool merge;  // /M: both streams onto standard output, tagged
};

// The reader's read function for a pipe of the command: one read without waiting per
// turn, so that a stream that keeps coming does not hold up the other.
uint32_t ReadRunPipe(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  RunPipe* p = static_cast<RunPipe*>(handle);
  *bytesRead = 0;
  if (!p->mayRead) return kErrorIoPending;
  p->mayRead = false;
  uint32_t error = platform::ReadChildPipe(p->pipe, block, capacity, bytesRead);
  if (error != kErrorIoPending) p->answered = true;
  return error;
}

// The reader's wait for the rest of a first line's sample: none. The run command waits
// only for both pipes together; the first line of 8-bit text is decided on the bytes
// that have come (a writer of UTF-16 writes both bytes of a unit at once), and is not
// held back until the command writes again.
bool NoWait(platform::Handle, uint32_t) { return false; }

void Write(const RunPipe& p, bool merge, const char16_t* format, const char16_t* a, const char16_t* b = u"",
           const char16_t* c = u"") {
  if (p.toError && !merge)
    Qprintf(StdErrorHandle(), format, a, b, c);
  else
    Printf(format, a, b, c);
}

// Ends the stream's open line on the screen. At a terminal the cursor may stand at the
// start of a line already (the answer to a prompt was typed there, and its Enter echoed),
// where a line end would leave a blank line: a full line of blanks and a carriage return
// go to the start of the next line only when the cursor is not at the start of one (the
// terminal wraps before the first character past the last column). Elsewhere a line end.
void EndOpenLine(RunPipe& p, bool merge) {
  if (p.open == OpenLine::kNone) return;
  p.open = OpenLine::kNone;
  const bool toError = p.toError && !merge;
  uint32_t columns =
      platform::TerminalColumns(toError ? StdErrorHandle() : platform::StdHandle(platform::StdStream::Output));
  if (columns == 0) return Write(p, merge, u"%s", u"\r\n");
  static constexpr char16_t kBlanks[] = u"                                ";
  constexpr uint32_t kBlankCount = sizeof kBlanks / sizeof kBlanks[0] - 1;
  for (; columns > 0; columns -= columns < kBlankCount ? columns : kBlankCount)
    Write(p, merge, u"%s", kBlanks + (columns < kBlankCount ? kBlankCount - columns : 0));
  Write(p, merge, u"%s", u"\r");
}

// Before a new line: the stream's own line that waited ends, and with /M so does any
// line of the other stream left open (its rest will begin a line of its own).
void EndOpenLines(RunCall& call, RunPipe& p) {
  for (RunPipe& other : call.pipes)
    if (&other == &p || call.merge) EndOpenLine(other, call.merge);
}

void WriteText(RunCall& call, RunPipe& p, OpenLine leaves);

// With /M, the start of a line that the other stream holds came before this line: it
// is shown first, and so keeps its place.
void ShowOtherWaiting(RunCall& call, const RunPipe& p) {
  for (RunPipe& other : call.pipes) {
    if (&other == &p || !other.pipe || other.heldSince == 0 || !other.cameFirst) continue;
    if (TakeWaitingLine(&other.stream->reader, other.stream->line) >= 0) WriteText(call, other, OpenLine::kWaiting);
    other.heldSince = 0;
  }
}

// A line of the stream, or the start of one that `leaves` open: a line that waits, or a
// piece of a long line.
void WriteText(RunCall& call, RunPipe& p, OpenLine leaves) {
  const bool merge = call.merge;
  if (merge && leaves == OpenLine::kNone) ShowOtherWaiting(call, p);
  const char16_t* end = leaves == OpenLine::kNone ? u"\r\n" : u"";
  if (p.open == OpenLine::kCut) {
    Write(p, merge, u"%s%s", p.stream->line, end);
  } else {
    EndOpenLines(call, p);
    const char16_t* stamp = StampNow(&call.stamps, call.options);
    if (merge)
      Printf(u"%s %s %s%s", stamp, p.tag, p.stream->line, end);
    else
      Write(p, merge, u"%s %s%s", stamp, p.stream->line, end);
  }
  p.open = leaves;
}

// Stamps every line that this turn's read of the pipe completes. False once the pipe
// has ended (or failed; *failed is then set) and is closed.
bool TakeTurn(RunCall& call, RunPipe& p, bool* failed) {
  p.mayRead = true;
  p.answered = false;
  bool wrote = false;
  for (;;) {
    int32_t length = ReadPipeLine(&p.stream->reader, p.stream->line);
    if (length >= 0) {
      WriteText(call, p, p.stream->reader.lineGoesOn ? OpenLine::kCut : OpenLine::kNone);
      wrote = true;
      continue;
    }
    if (length == kNoLineYet) {
      if (!LineWaits(&p.stream->reader)) {
        p.heldSince = 0;
      } else if (wrote || p.heldSince == 0) {
        p.heldSince = platform::CurrentMoment(true).steady;
        p.cameFirst = !wrote;
      }
      return true;
    }
    // A pipe that failed is closed as one that ended: the command then gets an error if
    // it writes to it, instead of waiting for a reader that has gone.
    if (ReportReadError(p.stream->reader.lastError)) *failed = true;
    platform::CloseChildPipe(p.pipe);
    p.pipe = nullptr;
    EndOpenLine(p, call.merge);
    return false;
  }
}

// Shows the unfinished lines that have waited long enough (all of them with `now` 0, as
// lines of their own), and returns how long the next may wait, in milliseconds.
uint32_t ShowWaitingLines(RunCall& call, uint64_t now) {
  uint32_t wait = platform::kWaitNoLimit;
  for (RunPipe& p : call.pipes) {
    if (!p.pipe || p.heldSince == 0) continue;
    if (now && now - p.heldSince < kPromptDelay) {
      uint32_t left = static_cast<uint32_t>((kPromptDelay - (now - p.heldSince)) / 10000 + 1);
      if (left < wait) wait = left;
      continue;
    }
    if (TakeWaitingLine(&p.stream->reader, p.stream->line) >= 0)
      WriteText(call, p, now != 0 ? OpenLine::kWaiting : OpenLine::kNone);
    p.heldSince = 0;
  }
  return wait;
}

// A system message's inserts ("%1") filled with the command's name, others left out.
void FillInserts(char16_t* text, const char16_t* name) {
  char16_t filled[kSmallText];
  filled[0] = 0;
  for (const char16_t* p = text; *p; ++p) {
    if (*p != u'%' || p[1] < u'1' || p[1] > u'9') {
      char16_t one[2] = {*p, 0};
      AppendText(filled, kSmallText, one);
      continue;
    }
    if (p[1] == u'1') AppendText(filled, kSmallText, name);
    while (p[1] >= u'0' && p[1] <= u'9') ++p;
  }
  CopyText(text, kSmallText, filled);
}

int ReportNotStarted(platform::ChildStart started, uint32_t error, const char16_t* const* command, int count) {
  if (started == platform::ChildStart::Refused) {
    ReportError(u"Cannot pass \"%s\" to the batch file \"%s\": cmd.exe would change a %% or line break in it\r\n",
                command[error], command[0]);
    return 2;
  }
  if (started == platform::ChildStart::TooLong) {
    ReportError(u"Cannot start \"%s\": its %d arguments are longer than the system's command line allows\r\n",
                command[0], static_cast<int>(count - 1));
    return 126;
  }
  char16_t text[kSmallText];
  ErrorCodeText(error, text);
  FillInserts(text, command[0]);
  ReportError(u"Cannot start \"%s\": %s\r\n", command[0], text);
  return started == platform::ChildStart::NotFound ? 127 : 126;
}

// What the pipes hold now, taken without waiting for more (a wake-up for a signal can
// come first); unfinished lines written as lines, and the pipes closed.
void TakeWhatHasCome(RunCall& call, bool* failed) {
  for (int turns = 0, misses = 0; turns < 64 && misses < 2 && (call.pipes[0].pipe || call.pipes[1].pipe); ++turns) {
    platform::Handle waiting[2] = {call.pipes[0].pipe, call.pipes[1].pipe};
    int ready = platform::WaitForChildPipes(waiting, 2, 0);
    misses = ready < 0 ? misses + 1 : 0;
    if (ready >= 0) TakeTurn(call, call.pipes[ready], failed);
  }
  ShowWaitingLines(call, 0);
  for (RunPipe& p : call.pipes) {
    EndOpenLine(p, call.merge);
    platform::CloseChildPipe(p.pipe);
    p.pipe = nullptr;
  }
}

// Reads both pipes until they end, or until the command has ended after a request to
// stop: what the pipes hold then is written, without waiting for the rest. Whether a
// pipe failed; *ended: when the command was seen to end (its end wakes the wait), if it
// ended before its pipes did (a process that it left may hold them long after).
bool StampPipes(RunCall& call, platform::Child* child, Moment* ended, bool* endSeen) {
  bool failed = false;
  uint32_t wait = platform::kWaitNoLimit;
  while (call.pipes[0].pipe || call.pipes[1].pipe) {
    if (!*endSeen && platform::ChildHasEnded(child)) {
      *ended = platform::CurrentMoment(true);
      *endSeen = true;
    }
    if (platform::ChildEndedAfterStop(child)) {
      TakeWhatHasCome(call, &failed);
      break;
    }
    platform::Handle waiting[2] = {call.pipes[0].pipe, call.pipes[1].pipe};
    int ready = platform::WaitForChildPipes(waiting, 2, wait);
    if (ready >= 0) TakeTurn(call, call.pipes[ready], &failed);
    wait = ShowWaitingLines(call, platform::CurrentMoment(true).steady);
  }
  return failed;
}

// Run's own switches.
SwitchRead SetMerge(void* call, const SwitchArgument&) {
  static_cast<RunCall*>(call)->merge = true;
  return SwitchRead::kRun;
}

template <Terminals Choice>
SwitchRead ChooseTerminalsBy(void* call, const SwitchArgument&) {
  static_cast<RunCall*>(call)->terminals = Choice;
  return SwitchRead::kRun;
}

constexpr SwitchApplier kRunSwitchAppliers[] = {
    {SwitchEffect::Merge, SetMerge},
    {SwitchEffect::Terminals, ChooseTerminalsBy<Terminals::kAlways>},
    {SwitchEffect::Pipes, ChooseTerminalsBy<Terminals::kNever>},
};
static_assert(AppliesEveryRow(kSwitchRun, kRunSwitchAppliers, kSwitchTs), "a switch of run's without its applier");

// The streams that get a terminal: under /TTY both; by default each that would reach a
// terminal without this program (its output ours, its errors our standard error), so
// that the command behaves as it does without it; under /PIPE and on a system that has
// no terminals to give, none. -1 after an error.
int ChooseTerminals(Terminals choice) {
  const bool available = platform::ChildTerminalsAvailable();
  if (choice == Terminals::kAlways && !available) {
    ReportError(
        u"/TTY: this system cannot give the command a terminal for each stream (its pseudo console joins "
        u"the two and redraws them); the command writes to pipes without /TTY\r\n");
    return -1;
  }
  if (choice == Terminals::kAlways) return static_cast<int>(platform::kTerminalForOutput | platform::kTerminalForError);
  if (choice == Terminals::kNever || !available) return 0;
  uint32_t terminals = 0;
  if (platform::IsConsoleInput(platform::StdHandle(platform::StdStream::Output)))
    terminals |= platform::kTerminalForOutput;
  if (platform::IsConsoleInput(StdErrorHandle())) terminals |= platform::kTerminalForError;
  return static_cast<int>(terminals);
}

int RunCommand(const char16_t* arguments, const char16_t* const* command, int count) {
  std::unique_ptr<RunCall> made(new (std::nothrow) RunCall);
  if (!made) return ReportNoMemory();
  RunCall& call = *made;
  call.terminals = Terminals::kAuto;
  call.merge = false;
  const SwitchAppliers own{kRunSwitchAppliers, sizeof kRunSwitchAppliers / sizeof kRunSwitchAppliers[0], &call};
  SwitchRead read = ReadStampedArguments(arguments, &call.options, kSwitchRun, own);
  if (read == SwitchRead::kFailed) return 1;
  if (read == SwitchRead::kDone) return 0;
  const int terminals = ChooseTerminals(call.terminals);
  if (terminals < 0) return 1;

  StartLineStamps(&call.stamps);
  platform::Child child;
  uint32_t error = 0;
  platform::ChildStart started =
      platform::StartChild(command, static_cast<size_t>(count), static_cast<uint32_t>(terminals), &child, &error);
  if (started != platform::ChildStart::Started) return ReportNotStarted(started, error, command, count);
  call.pipes[0] = RunPipe{&call.streams[0], child.output, false, false, u"O:", false, 0, OpenLine::kNone, false};
  call.pipes[1] = RunPipe{&call.streams[1], child.error, false, false, u"E:", true, 0, OpenLine::kNone, false};
  for (RunPipe& p : call.pipes) {
    SetUpStampedStream(p.stream, &p, ReadRunPipe, call.options);
    p.stream->reader.wait = NoWait;
  }

  Moment ended{};
  bool endSeen = false;
  bool failed = StampPipes(call, &child, &ended, &endSeen);
  int stopSignal = 0;
  int status = platform::WaitForChild(&child, &stopSignal);
  if (!endSeen) ended = platform::CurrentMoment(true);
  // Stamped when the command ended, not when the last process that held its pipes let go.
  // A Windows status from 0x80000000 up (an exception such as 0xC0000005) in hex, as the
  // system names it; a POSIX status is never negative.
  if (call.options.footer)
    Printf(status < 0 ? u"%s ---- End Of Command, exit status 0x%X ----\r\n"
                      : u"%s ---- End Of Command, exit status %d ----\r\n",
           StampAt(&call.stamps, call.options, ended), status);
  // Asked to stop after the command ended: as a signal would end a command.
  if (stopSignal) return 128 + stopSignal;
  // Lines were lost: a command that succeeded does not make it a success.
  return failed && status == 0 ? 2 : status;
}

}  // namespace

}  // namespace horalin

extern "C" int StampCommand(const char16_t* arguments, const char16_t* const* command, int count) {
  if (!arguments || !command || count < 1 || !command[0]) return 87;
  return horalin::RunCommand(arguments, command, count);
}
