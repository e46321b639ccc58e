// The POSIX program when its surroundings fail: an output that a reader left, that is
// full or closed, an input that cannot be read. It ends at once with a fitting status
// and message, as any filter does; it never keeps reading input that nobody sees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/process.h"

namespace horalin::e2e {
namespace {

// Runs a bash command line with $P naming the program and $W what starts it (Wine, or
// nothing), both in the environment. The `timeout` in the command lines only guards
// against a hang, so that a fault shows as a failure, not a stall.
Result Bash(const std::string& script) {
  const char* program = std::getenv("HORALIN_PROGRAM");
  Options options;
  options.env = {{"P", program ? program : "horalin"}, {"W", UnderWine() ? "/usr/lib/wine/wine64" : ""}};
  if (UnderWine())
    options.env.insert(options.env.end(), {{"WINEDEBUG", "-all"}, {"WINEPREFIX", WindowsBuildDir() + "/wineprefix"}});
  return RunProgram({"/bin/bash", "-c", script}, options);
}

TEST(Faults, OutputAndInputThatFail) {
  struct Case {
    const char* script;
    std::string out;  // standard output of the command line (the status is echoed last)
    std::string err;
  };
  // The Windows program ends quietly with the POSIX program's status when its reader goes
  // away, and gives the system's text of another failure.
  const Case windows[] = {
      {"yes | timeout 60 $W \"$P\" ts /T | head -1 | sed 's/.* //'; echo \"${PIPESTATUS[1]}\"", "y\n141\n", ""},
      {"yes | timeout 60 $W \"$P\" ts > /dev/full; echo \"${PIPESTATUS[1]}\"", "1\n",
       "horalin: write error: Disk full.\n"},
  };
  if (UnderWine()) {
    for (const Case& c : windows) {
      Result r = Bash(c.script);
      EXPECT_EQ(r.out, c.out) << c.script;
      EXPECT_EQ(r.err, c.err) << c.script;
    }
    return;
  }
  const Case cases[] = {
      // A reader that leaves after one line: the end of a filter, quietly, with the
      // status of a broken pipe, whether or not the broken-pipe signal is ignored.
      {"yes | timeout 60 \"$P\" ts /T | head -1 | sed 's/.* //'; echo \"${PIPESTATUS[1]}\"", "y\n141\n", ""},
      {"trap '' PIPE; yes 2>/dev/null | timeout 60 \"$P\" ts /T | head -1 | sed 's/.* //'; echo \"${PIPESTATUS[1]}\"",
       "y\n141\n", ""},
      // A full device or a closed output: the failure in a message, status 1.
      {"yes | timeout 60 \"$P\" ts > /dev/full; echo \"${PIPESTATUS[1]}\"", "1\n",
       "horalin: write error: No space left on device\n"},
      {"echo line | timeout 60 \"$P\" ts >&-; echo $?", "1\n", "horalin: write error: Bad file descriptor\n"},
      // Input that cannot be read: the error once, then the footer; status 2.
      {"timeout 60 \"$P\" ts <&-; echo $?", "2\n",
       "Horalin plugin: Error reading from pipe: \"Bad file descriptor\"\n"},
      {"timeout 60 \"$P\" ts /F /T < / | sed 's/^[^ ]* //'; echo \"${PIPESTATUS[0]}\"", "---- End Of Pipe ----\n2\n",
       "Horalin plugin: Error reading from pipe: \"Is a directory\"\n"},
  };
  for (const Case& c : cases) {
    Result r = Bash(c.script);
    EXPECT_EQ(r.out, c.out) << c.script;
    EXPECT_EQ(r.err, c.err) << c.script;
    EXPECT_EQ(r.status, 0) << c.script;
  }
}

}  // namespace
}  // namespace horalin::e2e
