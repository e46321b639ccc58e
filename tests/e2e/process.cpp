#include "tests/e2e/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/shell.h"

extern char** environ;

namespace horalin::e2e {

std::string Normalise(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

bool UnderWine() {
  const char* host = getenv("HORALIN_HOST");
  return host && std::strcmp(host, "wine") == 0;
}

std::string WindowsBuildDir() {
  const char* dir = getenv("HORALIN_WINDOWS_BUILD");
  return dir ? dir : "";
}

Child StartProgram(const std::vector<std::string>& argv, const StartOptions& options) {
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || (options.errorPipe && pipe2(err, O_CLOEXEC))) std::abort();
  pid_t pid = fork();
  if (pid == 0) {
    if (options.ownGroup) setpgid(0, 0);
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (options.errorPipe) dup2(err[1], 2);
    if (options.nonBlockingInput) fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
    for (auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]), close(out[1]);
  if (options.errorPipe) close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  return {pid, in[1], out[0], err[0]};
}

Result RunProgram(const std::vector<std::string>& argv, const Options& options) {
  StartOptions start;
  start.env = options.env;
  start.directory = options.directory;
  const Child child = StartProgram(argv, start);
  int input = child.in;
  Result result;
  size_t written = 0;
  if (options.input.empty()) close(input), input = -1;
  // Input is written only as far as the pipe takes it, so that a program that writes
  // while it reads never waits on a parent that waits on it.
  if (input >= 0) fcntl(input, F_SETFL, fcntl(input, F_GETFL) | O_NONBLOCK);
  pollfd fds[3] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}, {input, POLLOUT, 0}};
  int open = 2;
  while (open > 0) {
    int n = poll(fds, input >= 0 ? 3 : 2, -1);
    if (n < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.rawOut : result.err).append(buffer, static_cast<size_t>(got));
      }
    }
    if (input >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(input, options.input.data() + written, options.input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == options.input.size()) {
        close(input);
        input = -1;
      }
    }
  }
  if (input >= 0) close(input);
  int status = 0;
  waitpid(child.pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = Normalise(result.rawOut);
  result.err = Normalise(result.err);
  return result;
}

std::vector<std::string> HoralinCommand(const std::vector<std::string>& args,
                                        std::vector<std::pair<std::string, std::string>>* env) {
  const char* program = getenv("HORALIN_PROGRAM");
  std::vector<std::string> argv;
  if (UnderWine()) argv.push_back("/usr/lib/wine/wine64");
  argv.push_back(program ? program : "horalin");
  argv.insert(argv.end(), args.begin(), args.end());
  if (UnderWine()) {
    // Wine's first program of a session starts its background services, which would
    // inherit this run's pipes and hold them open: start them once with no pipes.
    static bool warm = false;
    if (!warm) {
      warm = true;
      std::string prefix = WindowsBuildDir() + "/wineprefix";
      std::string warmup = "WINEDEBUG=-all WINEPREFIX=" + testing::ShellQuoted(prefix) + " /usr/lib/wine/wine64 " +
                           testing::ShellQuoted(argv[1]) + " --version </dev/null >/dev/null 2>&1";
      // The server, and so the services, then stay up between the runs of the tests.
      warmup += "; WINEPREFIX=" + testing::ShellQuoted(prefix) + " /usr/lib/wine/wineserver -p 600";
      if (std::system(warmup.c_str()) != 0) std::fprintf(stderr, "Wine warm-up failed\n");
    }
    env->push_back({"WINEDEBUG", "-all"});
    env->push_back({"WINEPREFIX", WindowsBuildDir() + "/wineprefix"});
  }
  return argv;
}

Result Horalin(const std::vector<std::string>& args, const Options& options) {
  Options o = options;
  const std::vector<std::string> argv = HoralinCommand(args, &o.env);
  return RunProgram(argv, o);
}

}  // namespace horalin::e2e
