// Runs the horalin program under test as a user would, through real pipes: the POSIX
// build directly, the Windows build under Wine.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace horalin::e2e {

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // line ends normalised: CR LF becomes LF
  std::string err;
  std::string rawOut;  // as written
};

struct Options {
  std::string input;                                     // written to standard input
  std::vector<std::pair<std::string, std::string>> env;  // added to the environment
  std::string directory;                                 // the current folder; empty: as it is
};

// A program started with pipes: `in` its standard input, `out` its standard output, and
// `err` its standard error (or -1 when it writes to ours). SIGPIPE has its default action
// in it, as a shell leaves it.
struct Child {
  int pid = -1;
  int in = -1, out = -1, err = -1;
};
struct StartOptions {
  std::vector<std::pair<std::string, std::string>> env;  // added to the environment
  std::string directory;                                 // the current folder; empty: as it is
  bool errorPipe = true;
  bool nonBlockingInput = false;
  bool ownGroup = false;  // a process group of its own, so that a signal reaches all it starts
};
// The one fork and exec of the end-to-end tests.
Child StartProgram(const std::vector<std::string>& argv, const StartOptions& options = {});
// The command line of `horalin ARGS...` (the program named by HORALIN_PROGRAM, under Wine
// for the Windows build) and the variables that Wine needs, added to `env`.
std::vector<std::string> HoralinCommand(const std::vector<std::string>& args,
                                        std::vector<std::pair<std::string, std::string>>* env);

// Runs `horalin ARGS...` with the program named by HORALIN_PROGRAM.
Result Horalin(const std::vector<std::string>& args, const Options& options = {});
// Runs any program with the given arguments.
Result RunProgram(const std::vector<std::string>& argv, const Options& options = {});

bool UnderWine();
std::string WindowsBuildDir();
std::string Normalise(const std::string& text);

}  // namespace horalin::e2e
