// The run command: starts a command with its standard output and standard error on
// pipes of their own and stamps each line of either when its line end arrives, with
// the readers and the stamps of TS. The pipes are taken one read at a time, in the
// order their data came; a line that waits unfinished (a prompt) is shown after a
// moment, and the rest of it continues it when it comes.

#include "common/text.h"
#include "common/types.h"
#include "host/host.h"
#include "lines/reader.h"
#include "platform/platform.h"
#include "plugin/TSCmd.h"
#include "plugin/errors.h"

namespace horalin {

namespace {

// How long the start of a line waits for the rest before it is shown: long enough that a
// line written in pieces comes out whole, short enough that a prompt shows at once to
// the eye. In the steady clock's units (100 ns).
constexpr uint64_t kPromptDelay = 100ull * 10000;

struct RunPipe {
  TsStream* stream;
  platform::Handle pipe;  // null once closed
  bool mayRead;           // the one read of this turn is still to come
  bool answered;          // this turn's read found bytes, the end or an error
  const char16_t* tag;    // with /M, after the stamp
  bool toError;           // without /M, stamped lines go to standard error
  uint64_t heldSince;     // when the unfinished line that the reader holds began to wait; 0: none
  bool open;              // the start of a line was written: the rest continues it, unstamped
  bool cameFirst;         // that unfinished line came first in its read: before a line of the
                          // other stream that a later read takes
};

RunPipe Pipes[2];

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

// With /M, a line of the other stream that was left open ends before this one's text:
// its rest will begin a line of its own.
void CloseOtherLine(const TsCall& call, const RunPipe& p) {
  for (RunPipe& other : Pipes) {
    if (&other == &p || !other.open || !call.options.merge) continue;
    Printf(u"\r\n");
    other.open = false;
  }
}

void WriteText(TsCall& call, RunPipe& p, bool unfinished);

// With /M, the start of a line that the other stream holds came before this line: it
// is shown first, and so keeps its place.
void ShowOtherWaiting(TsCall& call, const RunPipe& p) {
  for (RunPipe& other : Pipes) {
    if (&other == &p || !other.pipe || other.heldSince == 0 || !other.cameFirst) continue;
    if (TakeWaitingLine(&other.stream->reader, other.stream->line) >= 0) WriteText(call, other, true);
    other.heldSince = 0;
  }
}

// A line of the stream, or with `unfinished` the start of one, which stays open.
void WriteText(TsCall& call, RunPipe& p, bool unfinished) {
  const bool merge = call.options.merge;
  if (merge && !unfinished) ShowOtherWaiting(call, p);
  const char16_t* end = unfinished ? u"" : u"\r\n";
  if (p.open) {
    Write(p, merge, u"%s%s", p.stream->line, end);
  } else {
    CloseOtherLine(call, p);
    const char16_t* stamp = MakeTsStamp(&call.stamps, call.options);
    if (merge)
      Printf(u"%s %s %s%s", stamp, p.tag, p.stream->line, end);
    else
      Write(p, merge, u"%s %s%s", stamp, p.stream->line, end);
  }
  p.open = unfinished;
}

// Stamps every line that this turn's read of the pipe completes. False once the pipe
// has ended (or failed; *failed is then set) and is closed.
bool TakeTurn(TsCall& call, RunPipe& p, bool* failed) {
  p.mayRead = true;
  p.answered = false;
  bool wrote = false;
  for (;;) {
    int32_t length = ReadPipeLine(&p.stream->reader, p.stream->line);
    if (length >= 0) {
      WriteText(call, p, false);
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
    if (ReportTsReadError(p.stream->reader.lastError)) *failed = true;
    platform::CloseChildPipe(p.pipe);
    p.pipe = nullptr;
    if (p.open) Write(p, call.options.merge, u"%s", u"\r\n");
    p.open = false;
    return false;
  }
}

// Shows the unfinished lines that have waited long enough (all of them with `now` 0, as
// lines of their own), and returns how long the next may wait, in milliseconds.
uint32_t ShowWaitingLines(TsCall& call, uint64_t now) {
  uint32_t wait = platform::kWaitNoLimit;
  for (RunPipe& p : Pipes) {
    if (!p.pipe || p.heldSince == 0) continue;
    if (now && now - p.heldSince < kPromptDelay) {
      uint32_t left = static_cast<uint32_t>((kPromptDelay - (now - p.heldSince)) / 10000 + 1);
      if (left < wait) wait = left;
      continue;
    }
    if (TakeWaitingLine(&p.stream->reader, p.stream->line) >= 0) WriteText(call, p, now != 0);
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

int ReportNotStarted(platform::ChildStart started, uint32_t error, const char16_t* const* command) {
  if (started == platform::ChildStart::Refused) {
    ReportError(u"Cannot pass \"%s\" to the batch file \"%s\": cmd.exe would change a %% or line break in it\r\n",
                command[error], command[0]);
    return 2;
  }
  char16_t text[kSmallText];
  ErrorCodeText(error, text);
  FillInserts(text, command[0]);
  ReportError(u"Cannot start \"%s\": %s\r\n", command[0], text);
  return started == platform::ChildStart::NotFound ? 127 : 126;
}

// What the pipes hold now, taken without waiting for more (a wake-up for a signal can
// come first); unfinished lines written as lines, and the pipes closed.
void TakeWhatHasCome(TsCall& call, bool* failed) {
  for (int turns = 0, misses = 0; turns < 64 && misses < 2 && (Pipes[0].pipe || Pipes[1].pipe); ++turns) {
    platform::Handle waiting[2] = {Pipes[0].pipe, Pipes[1].pipe};
    int ready = platform::WaitForChildPipes(waiting, 2, 0);
    misses = ready < 0 ? misses + 1 : 0;
    if (ready >= 0) TakeTurn(call, Pipes[ready], failed);
  }
  ShowWaitingLines(call, 0);
  for (RunPipe& p : Pipes) {
    if (p.open) Write(p, call.options.merge, u"%s", u"\r\n");
    p.open = false;
    platform::CloseChildPipe(p.pipe);
    p.pipe = nullptr;
  }
}

// Reads both pipes until they end, or until the command has ended after a request to
// stop: what the pipes hold then is written, without waiting for the rest. Whether a
// pipe failed.
bool StampPipes(TsCall& call, platform::Child* child) {
  bool failed = false;
  uint32_t wait = platform::kWaitNoLimit;
  while (Pipes[0].pipe || Pipes[1].pipe) {
    if (platform::ChildEndedAfterStop(child)) {
      TakeWhatHasCome(call, &failed);
      break;
    }
    platform::Handle waiting[2] = {Pipes[0].pipe, Pipes[1].pipe};
    int ready = platform::WaitForChildPipes(waiting, 2, wait);
    if (ready >= 0) TakeTurn(call, Pipes[ready], &failed);
    wait = ShowWaitingLines(call, platform::CurrentMoment(true).steady);
  }
  return failed;
}

int RunCommand(const char16_t* arguments, const char16_t* const* command, int count) {
  TsCall& call = TsCallStorage;
  TsArguments parsed = ReadTsArguments(arguments, &call.options, kSwitchRun);
  if (parsed == TsArguments::Failed) return 1;
  if (parsed == TsArguments::Done) return 0;

  StartTsStamps(&call.stamps);
  platform::Child child;
  uint32_t error = 0;
  platform::ChildStart started = platform::StartChild(command, static_cast<size_t>(count), &child, &error);
  if (started != platform::ChildStart::Started) return ReportNotStarted(started, error, command);
  Pipes[0] = RunPipe{&call.streams[0], child.output, false, false, u"O:", false, 0, false, false};
  Pipes[1] = RunPipe{&call.streams[1], child.error, false, false, u"E:", true, 0, false, false};
  for (RunPipe& p : Pipes) {
    SetUpTsStream(p.stream, &p, ReadRunPipe, call.options);
    p.stream->reader.wait = NoWait;
  }

  bool failed = StampPipes(call, &child);
  int stopSignal = 0;
  int status = platform::WaitForChild(&child, &stopSignal);
  if (call.options.footer)
    Printf(u"%s ---- End Of Command, exit status %d ----\r\n", MakeTsStamp(&call.stamps, call.options), status);
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
