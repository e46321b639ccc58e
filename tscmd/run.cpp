// The run command: starts a command with its standard output and standard error on
// pipes of their own and stamps each line of either when its line end arrives, with
// the readers and the stamps of TS. Both pipes are read without waiting, one block of
// each in turn, and waited on together when neither has anything.
#include "tscmd/run.h"

#include "common/types.h"
#include "host/host.h"
#include "platform/platform.h"
#include "plugin/errors.h"
#include "tscmd/TSCmd.h"
#include "tscmd/reader.h"

namespace horalin {

namespace {

struct RunPipe {
  TsStream* stream;
  platform::Handle pipe;  // null once closed
  bool mayRead;           // the one read of this turn is still to come
  bool answered;          // this turn's read found bytes, the end or an error
  const char16_t* tag;    // with /M, after the stamp
  bool toError;           // without /M, stamped lines go to standard error
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

void WriteLine(TsCall& call, const RunPipe& p) {
  const char16_t* stamp = MakeTsStamp(&call.stamps, call.options);
  if (call.options.merge)
    Printf(u"%s %s %s\r\n", stamp, p.tag, p.stream->line);
  else if (p.toError)
    Qprintf(StdErrorHandle(), u"%s %s\r\n", stamp, p.stream->line);
  else
    Printf(u"%s %s\r\n", stamp, p.stream->line);
}

// Stamps every line that this turn's read of the pipe completes. False once the pipe
// has ended (or failed; *failed is then set) and is closed.
bool TakeTurn(TsCall& call, RunPipe& p, bool* failed) {
  p.mayRead = true;
  p.answered = false;
  for (;;) {
    int32_t length = ReadPipeLine(&p.stream->reader, p.stream->line);
    if (length >= 0) {
      WriteLine(call, p);
      continue;
    }
    if (length == kNoLineYet) return true;
    // A pipe that failed is closed as one that ended: the command then gets an error if
    // it writes to it, instead of waiting for a reader that has gone.
    if (ReportTsReadError(p.stream->reader.lastError)) *failed = true;
    platform::CloseChildPipe(p.pipe);
    p.pipe = nullptr;
    return false;
  }
}

int RunCommand(const char16_t* arguments, const char16_t* const* command, int count) {
  TsCall& call = TsCallStorage;
  TsArguments parsed = ReadTsArguments(arguments, &call.options, true);
  if (parsed == TsArguments::Failed) return 1;
  if (parsed == TsArguments::Done) return 0;

  StartTsStamps(&call.stamps);
  platform::Child child;
  uint32_t error = 0;
  platform::ChildStart started = platform::StartChild(command, static_cast<size_t>(count), &child, &error);
  if (started != platform::ChildStart::Started) {
    char16_t text[kSmallText];
    Win32ErrorText(error, text);
    ReportError(u"Cannot start \"%s\": %s\r\n", command[0], text);
    return started == platform::ChildStart::NotFound ? 127 : 126;
  }
  Pipes[0] = RunPipe{&call.streams[0], child.output, false, false, u"O:", false};
  Pipes[1] = RunPipe{&call.streams[1], child.error, false, false, u"E:", true};
  for (RunPipe& p : Pipes) SetUpTsStream(p.stream, &p, ReadRunPipe, call.options);

  bool failed = false;
  while (Pipes[0].pipe || Pipes[1].pipe) {
    bool answered = false;
    for (RunPipe& p : Pipes) {
      if (!p.pipe) continue;
      TakeTurn(call, p, &failed);
      answered = answered || p.answered;
    }
    if (!answered) {
      platform::Handle waiting[2] = {Pipes[0].pipe, Pipes[1].pipe};
      platform::WaitForChildPipes(waiting, 2);
    }
  }

  int status = platform::WaitForChild(&child);
  if (call.options.footer)
    Printf(u"%s ---- End Of Command, exit status %d ----\r\n", MakeTsStamp(&call.stamps, call.options), status);
  // Lines were lost: a command that succeeded does not make it a success.
  return failed && status == 0 ? 2 : status;
}

}  // namespace

}  // namespace horalin

extern "C" int StampCommand(const char16_t* arguments, const char16_t* const* command, int count) {
  if (!arguments || !command || count < 1 || !command[0]) return 87;
  return horalin::RunCommand(arguments, command, count);
}
