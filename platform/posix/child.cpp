// POSIX backend of the run command: the command found on PATH and started with posix_spawn, its two
// pipes read without waiting and waited on with poll, signals passed on to it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/utf.h"
#include "platform/platform.h"
#include "platform/posix/error_code.h"
#include "platform/posix/program_path.h"

extern char** environ;

namespace horalin::platform {

namespace {

constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction Previous[3];
volatile sig_atomic_t ChildId = 0;

// A signal that another process sent (kill, a service manager) is passed on to the
// command. One that the terminal sent (Ctrl-C, a hang-up) went to the whole foreground
// process group, the command included, already: passing it on would deliver it twice.
void PassOnSignal(int signal, siginfo_t* info, void*) {
  if (info && info->si_code > 0) return;  // sent by the kernel (SI_KERNEL)
  int saved = errno;
  if (ChildId > 0) kill(static_cast<pid_t>(ChildId), signal);
  errno = saved;
}

int Descriptor(Handle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)) - 1; }
Handle FromDescriptor(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd + 1)); }

// The arguments as UTF-8, in one fixed store.
bool ArgumentBytes(const char16_t* const* argv, size_t count, char** args, size_t capacity) {
  static char store[1 << 18];
  size_t used = 0;
  if (count + 1 > capacity) return false;
  for (size_t i = 0; i < count; ++i) {
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

}  // namespace

// NOLINTNEXTLINE(readability-function-size): longer than 60 lines, not split yet
ChildStart StartChild(const char16_t* const* argv, size_t count, Child* child, uint32_t* error) {
  *child = Child{};
  *error = 0;
  static char* args[4096];
  if (count == 0 || !ArgumentBytes(argv, count, args, sizeof args / sizeof args[0])) {
    *error = E2BIG;
    return ChildStart::NotRunnable;
  }
  static char program[4096];
  if (int missing = FindProgram(args[0], program, sizeof program)) {
    *error = CodeOfErrno(missing);
    return missing == EACCES ? ChildStart::NotRunnable : ChildStart::NotFound;
  }
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    *error = CodeOfErrno(errno);
    return ChildStart::NotRunnable;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    *error = CodeOfErrno(errno);
    close(out[0]), close(out[1]);
    return ChildStart::NotRunnable;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // The command starts with the signals that it would have started with from a shell:
  // default handling (this program may ignore SIGPIPE) and none blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none, forwarded, old;
  sigemptyset(&defaults);
  for (int s : kForwarded) sigaddset(&defaults, s);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  // Held back while the command starts, so that none arrives before its id is known.
  sigemptyset(&forwarded);
  for (int s : kForwarded) sigaddset(&forwarded, s);
  sigprocmask(SIG_BLOCK, &forwarded, &old);
  pid_t pid = 0;
  int failed = posix_spawn(&pid, program, &actions, &attributes, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out[1]), close(err[1]);
  if (failed) {
    sigprocmask(SIG_SETMASK, &old, nullptr);
    close(out[0]), close(err[0]);
    *error = static_cast<uint32_t>(failed);
    return failed == ENOENT ? ChildStart::NotFound : ChildStart::NotRunnable;
  }
  ChildId = pid;
  struct sigaction pass {};
  pass.sa_sigaction = PassOnSignal;
  pass.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&pass.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kForwarded[i], &pass, &Previous[i]);
  sigprocmask(SIG_SETMASK, &old, nullptr);

  fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
  fcntl(err[0], F_SETFL, fcntl(err[0], F_GETFL) | O_NONBLOCK);
  child->process = reinterpret_cast<Handle>(static_cast<intptr_t>(pid));
  child->output = FromDescriptor(out[0]);
  child->error = FromDescriptor(err[0]);
  return ChildStart::Started;
}

uint32_t ReadChildPipe(Handle pipe, void* block, uint32_t capacity, uint32_t* bytesRead) {
  *bytesRead = 0;
  for (;;) {
    ssize_t n = read(Descriptor(pipe), block, capacity);
    if (n >= 0) {
      *bytesRead = static_cast<uint32_t>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kErrorIoPending;
    return CodeOfErrno(errno);
  }
}

void WaitForChildPipes(const Handle* pipes, size_t count) {
  pollfd ready[2];
  nfds_t n = 0;
  for (size_t i = 0; i < count && n < 2; ++i)
    if (pipes[i]) ready[n++] = pollfd{Descriptor(pipes[i]), POLLIN, 0};
  if (n == 0) return;
  CallBeforeBlockingRead();
  while (poll(ready, n, -1) < 0 && errno == EINTR) {
  }
}

void CloseChildPipe(Handle pipe) {
  if (pipe) close(Descriptor(pipe));
}

int WaitForChild(Child* child) {
  pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(child->process));
  int status = 0;
  pid_t done;
  do done = waitpid(pid, &status, 0);
  while (done < 0 && errno == EINTR);
  for (int i = 0; i < 3; ++i) sigaction(kForwarded[i], &Previous[i], nullptr);
  ChildId = 0;
  child->process = nullptr;
  if (done < 0) return 127;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace horalin::platform
