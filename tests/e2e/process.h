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
  bool inputIsTerminalless = true;                       // standard input is a pipe
  std::string directory;                                 // the current folder; empty: as it is
};

// Runs `horalin ARGS...` with the program named by HORALIN_PROGRAM.
Result Horalin(const std::vector<std::string>& args, const Options& options = {});
// Runs any program with the given arguments.
Result RunProgram(const std::vector<std::string>& argv, const Options& options = {});

bool UnderWine();
std::string WindowsBuildDir();
std::string Normalise(const std::string& text);

}  // namespace horalin::e2e
