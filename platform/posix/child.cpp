// POSIX backend of the run command: the command found on PATH and started with posix_spawn (under
// /bin/sh when the system cannot run the file), its two streams on pipes or pseudo-terminals
// read without waiting and waited on with epoll, which reports them in the order their data
// came, signals passed on to it.
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "common/text.h"
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
// Caught while the command runs, not passed on as the others: its end (which wakes the
// wait) and a change of our terminal's size (which its terminals follow).
struct sigaction PreviousChild, PreviousWindow;
bool WindowCaught = false;
volatile sig_atomic_t Masters[2] = {-1, -1};  // our ends of the command's terminals, -1 for a pipe
volatile sig_atomic_t ChildId = 0;
volatile sig_atomic_t StopAsked = 0;
volatile sig_atomic_t ChildSignalled =
    0;  // SIGCHLD came: the command may have ended   // an interrupt, termination or hang-up signal came
volatile sig_atomic_t StopSignal = 0;  // the last one that came after the command had ended
int WakeUp[2] = {-1, -1};              // a byte written on each signal wakes the wait
int Poller = -1;
int KeptStatus = -1;  // of a command that ChildEndedAfterStop found ended
int EndSignal = 0;    // the signal to end this program by after the run, for EndLikeCommand

char* const* ProgramArguments = nullptr;
int ProgramArgumentCount = 0;

void WakeTheWait() {
  if (WakeUp[1] >= 0) {
    char byte = 1;
    if (write(WakeUp[1], &byte, 1) < 0) {
    }
  }
}

void NoteChildEnd(int) {
  int saved = errno;
  ChildSignalled = 1;
  WakeTheWait();
  errno = saved;
}

// The size of our terminal: of the first of standard output, error and input that is one.
bool OurWindowSize(winsize* size) {
  for (int fd : {1, 2, 0})
    if (ioctl(fd, TIOCGWINSZ, size) == 0 && size->ws_col > 0) return true;
  return false;
}

// Our terminal changed its size: the command's terminals take it, and the command gets the
// signal again once they have it (the terminal may have sent it to the command first).
void FollowWindowSize(int) {
  int saved = errno;
  winsize size{};
  bool any = false;
  if (OurWindowSize(&size))
    for (sig_atomic_t fd : Masters)
      if (fd >= 0) any = ioctl(static_cast<int>(fd), TIOCSWINSZ, &size) == 0 || any;
  if (any && ChildId > 0) kill(static_cast<pid_t>(ChildId), SIGWINCH);
  errno = saved;
}

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
  WakeTheWait();
  if (!(info && info->si_code > 0) && ChildId > 0) kill(static_cast<pid_t>(ChildId), signal);
  errno = saved;
}

int Descriptor(Handle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }
Handle FromDescriptor(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd + 1)); }

// The arguments, all of them (the system's limit is the only one): the program's own bytes
// where it kept them, else the text as UTF-8 in `store`; a null after them.
void ArgumentBytes(const char16_t* const* argv, size_t count, std::vector<char*>* args, std::vector<char>* store) {
  args->assign(count + 1, nullptr);
  const bool kept = ProgramArguments && count <= static_cast<size_t>(ProgramArgumentCount);
  if (kept) {
    for (size_t i = 0; i < count; ++i)
      (*args)[i] = ProgramArguments[static_cast<size_t>(ProgramArgumentCount) - count + i];
    return;
  }
  size_t room = 0;
  for (size_t i = 0; i < count; ++i) room += 3 * TextLength(argv[i]) + 1;
  store->assign(room, 0);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    (*args)[i] = store->data() + used;
    used += Utf8FromUtf16(argv[i], TextLength(argv[i]), store->data() + used) + 1;
  }
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
  std::vector<char*> withShell;
  char** argv = args;
  const char* file = program;
  bool text = IsShellText(program);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (text) {  // as execvp runs it: "/bin/sh FILE ARGS"
      withShell = {shell, const_cast<char*>(program)};
      for (size_t i = 1; args[i - 1]; ++i) withShell.push_back(args[i]);
      argv = withShell.data(), file = shell;
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

// A pseudo-terminal as a pipe: our end (the master) to read, the command's to write.
// Output processing off, so that the bytes come as written (no LF made CR LF); neither
// end becomes our controlling terminal. Its size is ours.
int MakeTerminal(int ends[2]) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return -1;
  char name[128];
  int command = -1;
  if (grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0)
    command = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (command < 0 || tcgetattr(command, &settings) != 0) {
    int saved = errno;
    if (command >= 0) close(command);
    close(master);
    errno = saved;
    return -1;
  }
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tcsetattr(command, TCSANOW, &settings);
  winsize size{};
  if (OurWindowSize(&size)) ioctl(master, TIOCSWINSZ, &size);
  ends[0] = master, ends[1] = command;
  return 0;
}

int MakeStream(int ends[2], bool terminal) { return terminal ? MakeTerminal(ends) : pipe2(ends, O_CLOEXEC); }

// The pipes that wake the wait: the command's two (or its terminals) and the one that
// signals write to.
bool MakeWaitingPipes(int out[2], int err[2], uint32_t terminals) {
  if (MakeStream(out, terminals & kTerminalForOutput) != 0) return false;
  if (MakeStream(err, terminals & kTerminalForError) == 0) {
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

// While the command runs: its end wakes the wait, and its terminals follow our size.
void CatchChildSignals(bool terminals) {
  struct sigaction catcher {};
  sigemptyset(&catcher.sa_mask);
  catcher.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  catcher.sa_handler = NoteChildEnd;
  sigaction(SIGCHLD, &catcher, &PreviousChild);
  catcher.sa_handler = FollowWindowSize;
  WindowCaught = terminals;
  if (terminals) sigaction(SIGWINCH, &catcher, &PreviousWindow);
}

void ReleaseChildSignals() {
  sigaction(SIGCHLD, &PreviousChild, nullptr);
  if (WindowCaught) sigaction(SIGWINCH, &PreviousWindow, nullptr);
  WindowCaught = false;
  Masters[0] = -1;
  Masters[1] = -1;
}

// The command has started: the signals that this program passes on to it are caught, and
// its end and our terminal's size too.
void WatchChild(pid_t pid, bool terminals) {
  ChildId = pid;
  ChildSignalled = 1;  // the command may have ended before its signal was caught: look once
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
  CatchChildSignals(terminals);
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

bool ChildTerminalsAvailable() { return true; }

uint32_t TerminalColumns(Handle handle) {
  winsize size{};
  return ioctl(Descriptor(handle), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

ChildStart StartChild(const char16_t* const* argv, size_t count, uint32_t terminals, Child* child, uint32_t* error) {
  *child = Child{};
  *error = 0;
  if (count == 0) {
    *error = CodeOfErrno(EINVAL);
    return ChildStart::NotRunnable;
  }
  std::vector<char*> args;
  std::vector<char> store;
  ArgumentBytes(argv, count, &args, &store);
  static char program[4096];
  if (int missing = FindProgram(args[0], program, sizeof program)) {
    *error = CodeOfErrno(missing);
    return missing == EACCES ? ChildStart::NotRunnable : ChildStart::NotFound;
  }
  int out[2], err[2];
  if (!MakeWaitingPipes(out, err, terminals)) {
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
  int failed = Spawn(&pid, program, args.data(), out[1], err[1]);
  close(out[1]), close(err[1]);
  if (failed) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    close(out[0]), close(err[0]);
    CloseWaitingPipes();
    *error = CodeOfErrno(failed);
    return failed == ENOENT ? ChildStart::NotFound : failed == E2BIG ? ChildStart::TooLong : ChildStart::NotRunnable;
  }
  Masters[0] = terminals & kTerminalForOutput ? out[0] : -1;
  Masters[1] = terminals & kTerminalForError ? err[0] : -1;
  WatchChild(pid, terminals != 0);
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
    if (n < 0 && errno == EIO) n = 0;  // a terminal whose other end every process has closed
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
  for (volatile sig_atomic_t& fd : Masters)
    if (pipe && fd == Descriptor(pipe)) fd = -1;
  if (pipe) close(Descriptor(pipe));  // which also takes it out of the epoll set
}

bool ChildHasEnded(Child* child) {
  if (KeptStatus >= 0) return true;
  if (!child->process || !ChildSignalled) return false;  // no system call while none came
  ChildSignalled = 0;  // before the look: a signal that comes during it is seen next time
  siginfo_t state{};
  id_t pid = static_cast<id_t>(reinterpret_cast<intptr_t>(child->process));
  return waitid(P_PID, pid, &state, WEXITED | WNOHANG | WNOWAIT) == 0 && state.si_pid != 0;
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
  ReleaseChildSignals();
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
