// POSIX backend of the run command: the command found on PATH and started with posix_spawn (under
// /bin/sh when the system cannot run the file), its two pipes read without waiting and waited on
// with epoll, which reports them in the order their data came, signals passed on to it.
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/utf.h"
#include "platform/platform.h"
#include "platform/posix/error_code.h"
#include "platform/posix/program_path.h"
#include "platform/posix/spawn.h"

namespace horalin::platform {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr size_t kSignals = sizeof kForwarded / sizeof kForwarded[0];
struct sigaction Previous[kSignals];
bool Caught[kSignals];
volatile sig_atomic_t ChildId = 0;
volatile sig_atomic_t StopAsked = 0;   // an interrupt, termination or hang-up signal came
volatile sig_atomic_t StopSignal = 0;  // the last one that came after the command had ended
int WakeUp[2] = {-1, -1};              // a byte written on each signal wakes the wait
int Poller = -1;
int KeptStatus = -1;  // of a command that ChildEndedAfterStop found ended
int EndSignal = 0;    // the signal to end this program by after the run, for EndLikeCommand

char* const* ProgramArguments = nullptr;
int ProgramArgumentCount = 0;

// Every signal is noted and wakes the wait. One that another process sent (kill, a service
// manager) is passed on to the command. One that the terminal sent (Ctrl-C, Ctrl-\, a
// hang-up) went to the whole foreground process group, the command included, already:
// passing it on would deliver it twice.
void PassOnSignal(int signal, siginfo_t* info, void*) {
  int saved = errno;
  if (signal != SIGQUIT) {
    StopAsked = 1;
    siginfo_t state{};
    if (ChildId > 0 && waitid(P_PID, static_cast<id_t>(ChildId), &state, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        state.si_pid != 0)
      StopSignal = signal;
  }
  if (WakeUp[1] >= 0) {
    char byte = 1;
    if (write(WakeUp[1], &byte, 1) < 0) {
    }
  }
  if (!(info && info->si_code > 0) && ChildId > 0) kill(static_cast<pid_t>(ChildId), signal);
  errno = saved;
}

int Descriptor(Handle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }
Handle FromDescriptor(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd + 1)); }

// The arguments: the program's own bytes where it kept them, else the text as UTF-8, in
// one fixed store.
bool ArgumentBytes(const char16_t* const* argv, size_t count, char** args, size_t capacity) {
  static char store[1 << 18];
  size_t used = 0;
  if (count + 2 > capacity) return false;  // room for /bin/sh in front
  const bool kept = ProgramArguments && count <= static_cast<size_t>(ProgramArgumentCount);
  for (size_t i = 0; i < count; ++i) {
    if (kept) {
      args[i] = ProgramArguments[static_cast<size_t>(ProgramArgumentCount) - count + i];
      continue;
    }
    size_t length = 0;
    while (argv[i][length]) ++length;
    if ((sizeof store - used) / 3 <= length) return false;
    args[i] = store + used;
    used += Utf8FromUtf16(argv[i], length, store + used, true, nullptr);
    store[used++] = 0;
  }
  args[count] = nullptr;
  return true;
}

// Whether the file is text that the system does not run by itself: not a "#!" script,
// not an ELF program, no zero byte in its first bytes. A shell runs such a file under
// /bin/sh. (Telling it before the start does not depend on how posix_spawn reports a
// failed exec, which under valgrind is only the child's exit status.)
bool IsShellText(const char* program) {
  int fd = open(program, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[128];
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  if (n < 0) return false;
  if (n >= 2 && head[0] == '#' && head[1] == '!') return false;
  if (n >= 4 && std::memcmp(head, "\177ELF", 4) == 0) return false;
  return std::memchr(head, 0, static_cast<size_t>(n)) == nullptr;
}

// Starts the program with its standard output and standard error on the pipes' write
// ends, and the signals as a shell would start it: those that this program catches at
// their default (the others as they are: one ignored when this program started stays
// ignored), none blocked; a text file that the system cannot run, under /bin/sh. 0 or
// the error.
int Spawn(pid_t* pid, const char* program, char** args, int out, int err) {
  SpawnSetup setup;
  setup.output = out;
  setup.error = err;
  setup.defaults = SignalsNotIgnored(kForwarded, kSignals, Caught);
  setup.noneBlocked = true;
  static char shell[] = "/bin/sh";
  static char* withShell[4096 + 2];
  char** argv = args;
  const char* file = program;
  bool text = IsShellText(program);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (text) {  // as execvp runs it: "/bin/sh FILE ARGS"
      withShell[0] = shell;
      withShell[1] = const_cast<char*>(program);
      for (size_t i = 1; args[i - 1]; ++i) withShell[i + 1] = args[i];
      argv = withShell, file = shell;
    }
    int failed = SpawnProgram(pid, file, argv, setup);
    if (failed != ENOEXEC || text) return failed;
    text = true;
  }
  return ENOEXEC;
}

// A pipe is watched for one report at a time (EPOLLONESHOT), and watched again after each
// read of it: epoll puts it at the end of its list of ready ones when data comes after
// that (or had come by then), so the list is in the order in which the pipes' data came.
// (Watched all the time, a pipe would keep its place from data that the read took.)
void Watch(int fd, int operation) {
  epoll_event event{};
  event.events = EPOLLIN | (fd == WakeUp[0] ? EPOLLET : EPOLLONESHOT);
  event.data.fd = fd;
  epoll_ctl(Poller, operation, fd, &event);
}

// The pipes that may hold more without a new report, oldest first: those whose last
// read filled the reader's block, and those whose writers have all gone (epoll reports
// that once, with the data before it), until they give their end. What they hold came
// before whatever epoll reports after. -1 for none.
int Unfinished[2] = {-1, -1};
int HungUp[2] = {-1, -1};

void Mark(int* list, int fd, bool more) {
  if (list[0] == fd) list[0] = list[1], list[1] = -1;
  if (list[1] == fd) list[1] = -1;
  if (more) list[list[0] < 0 ? 0 : 1] = fd;
}

// The pipes that wake the wait: the command's two and the one that signals write to.
bool MakeWaitingPipes(int out[2], int err[2]) {
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  if (pipe2(err, O_CLOEXEC) == 0) {
    if (pipe2(WakeUp, O_CLOEXEC | O_NONBLOCK) == 0) {
      if ((Poller = epoll_create1(EPOLL_CLOEXEC)) >= 0) return true;
      close(WakeUp[0]), close(WakeUp[1]);
      WakeUp[0] = WakeUp[1] = -1;
    }
    close(err[0]), close(err[1]);
  }
  close(out[0]), close(out[1]);
  return false;
}

void CloseWaitingPipes() {
  for (int* fd : {&WakeUp[0], &WakeUp[1], &Poller}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace

void KeepArgumentBytes(char* const* argv, int count) {
  ProgramArguments = argv;
  ProgramArgumentCount = count;
}

void EndLikeCommand(int status) {
  if (EndSignal == 0 || status != 128 + EndSignal) return;
  rlimit none{0, 0};  // the command's core dump, if any, is its own
  setrlimit(RLIMIT_CORE, &none);
  signal(EndSignal, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, EndSignal);
  sigprocmask(SIG_UNBLOCK, &one, nullptr);
  raise(EndSignal);
}

ChildStart StartChild(const char16_t* const* argv, size_t count, Child* child, uint32_t* error) {
  *child = Child{};
  *error = 0;
  static char* args[4096];
  if (count == 0 || !ArgumentBytes(argv, count, args, sizeof args / sizeof args[0])) {
    *error = CodeOfErrno(E2BIG);
    return ChildStart::NotRunnable;
  }
  static char program[4096];
  if (int missing = FindProgram(args[0], program, sizeof program)) {
    *error = CodeOfErrno(missing);
    return missing == EACCES ? ChildStart::NotRunnable : ChildStart::NotFound;
  }
  int out[2], err[2];
  if (!MakeWaitingPipes(out, err)) {
    *error = CodeOfErrno(errno);
    return ChildStart::NotRunnable;
  }
  // Watched from before the start, so that epoll sees the first data come too.
  for (int fd : {out[0], err[0], WakeUp[0]}) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Watch(fd, EPOLL_CTL_ADD);
  }
  // Held back while the command starts, so that none arrives before its id is known.
  sigset_t forwarded, old;
  sigemptyset(&forwarded);
  for (int s : kForwarded) sigaddset(&forwarded, s);
  sigprocmask(SIG_BLOCK, &forwarded, &old);
  pid_t pid = 0;
  int failed = Spawn(&pid, program, args, out[1], err[1]);
  close(out[1]), close(err[1]);
  if (failed) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    close(out[0]), close(err[0]);
    CloseWaitingPipes();
    *error = CodeOfErrno(failed);
    return failed == ENOENT ? ChildStart::NotFound : ChildStart::NotRunnable;
  }
  ChildId = pid;
  StopAsked = 0;
  StopSignal = 0;
  KeptStatus = -1;
  EndSignal = 0;
  struct sigaction pass {};
  pass.sa_sigaction = PassOnSignal;
  pass.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&pass.sa_mask);
  for (size_t i = 0; i < kSignals; ++i)
    if (Caught[i]) sigaction(kForwarded[i], &pass, &Previous[i]);
  sigprocmask(SIG_SETMASK, &old, nullptr);

  child->process = reinterpret_cast<Handle>(static_cast<intptr_t>(pid));
  child->output = FromDescriptor(out[0]);
  child->error = FromDescriptor(err[0]);
  return ChildStart::Started;
}

uint32_t ReadChildPipe(Handle pipe, void* block, uint32_t capacity, uint32_t* bytesRead) {
  *bytesRead = 0;
  for (;;) {
    ssize_t n = read(Descriptor(pipe), block, capacity);
    if (n >= 0 || errno != EINTR) Watch(Descriptor(pipe), EPOLL_CTL_MOD);
    Mark(Unfinished, Descriptor(pipe), n > 0 && static_cast<uint32_t>(n) == capacity);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) Mark(HungUp, Descriptor(pipe), false);
    if (n >= 0) {
      *bytesRead = static_cast<uint32_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kErrorIoPending;
    return CodeOfErrno(errno);
  }
}

int WaitForChildPipes(const Handle* pipes, size_t count, uint32_t milliseconds) {
  if (Poller < 0) return -1;
  for (const int* list : {HungUp, Unfinished})
    for (int k = 0; k < 2; ++k)
      for (size_t i = 0; i < count && list[k] >= 0; ++i)
        if (pipes[i] && Descriptor(pipes[i]) == list[k]) return static_cast<int>(i);
  CallBeforeBlockingRead();
  // Once asked to stop, the command's end is looked for now and then: a process that it
  // left may hold the pipes long after.
  if (StopAsked && milliseconds > 50) milliseconds = 50;
  epoll_event event{};
  int n;
  do n = epoll_wait(Poller, &event, 1, milliseconds == kWaitNoLimit ? -1 : static_cast<int>(milliseconds));
  while (n < 0 && errno == EINTR && !StopAsked);
  if (n <= 0) return -1;
  if (event.data.fd == WakeUp[0]) {
    char bytes[64];
    while (read(WakeUp[0], bytes, sizeof bytes) > 0) {
    }
    return -1;
  }
  if (event.events & (EPOLLHUP | EPOLLERR)) Mark(HungUp, event.data.fd, true);
  for (size_t i = 0; i < count; ++i)
    if (pipes[i] && Descriptor(pipes[i]) == event.data.fd) return static_cast<int>(i);
  return -1;
}

void CloseChildPipe(Handle pipe) {
  if (pipe) Mark(Unfinished, Descriptor(pipe), false), Mark(HungUp, Descriptor(pipe), false);
  if (pipe) close(Descriptor(pipe));  // which also takes it out of the epoll set
}

bool ChildEndedAfterStop(Child* child) {
  if (!StopAsked || !child->process) return false;
  if (KeptStatus < 0) {
    pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(child->process));
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return false;
    KeptStatus = status;
  }
  return true;
}

int WaitForChild(Child* child, int* stopSignal) {
  pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(child->process));
  int status = KeptStatus;
  pid_t done = pid;
  if (KeptStatus < 0) {
    do done = waitpid(pid, &status, 0);
    while (done < 0 && errno == EINTR);
  }
  for (size_t i = 0; i < kSignals; ++i)
    if (Caught[i]) sigaction(kForwarded[i], &Previous[i], nullptr);
  ChildId = 0;
  CloseWaitingPipes();
  child->process = nullptr;
  if (done < 0) return 127;
  // Stopped after the command ended, this program ends by the signal that stopped it;
  // otherwise as the command ended.
  EndSignal = StopSignal ? static_cast<int>(StopSignal) : WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  *stopSignal = StopSignal;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace horalin::platform
