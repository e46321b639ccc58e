// horalin run as a user runs it: a command's two streams stamped, apart or tagged, at pipes
// and terminals; its exit status, signals, prompts and commands that cannot start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/stamped.h"

namespace horalin::e2e {
namespace {

// `horalin run ARGS -- talker TALK...` (tests/fakes/talker.cpp says what TALK does).
Result RunTalker(const Strings& args, const Strings& talk) {
  Strings all = {"run"};
  all.insert(all.end(), args.begin(), args.end());
  const char* talker = std::getenv("HORALIN_TALKER");
  all.push_back("--");
  all.push_back(talker ? talker : "talker");
  all.insert(all.end(), talk.begin(), talk.end());
  return Horalin(all);
}

// Milliseconds of an elapsed text.
int Milliseconds(const std::string& elapsed) {
  return ((std::stoi(elapsed.substr(0, 2)) * 60 + std::stoi(elapsed.substr(3, 2))) * 60 +
          std::stoi(elapsed.substr(6, 2))) *
             1000 +
         std::stoi(elapsed.substr(9, 3));
}

TEST(Run, StreamsApartOrTaggedInTheOrderTheyCame) {
  // Lines on both streams with pauses; partial last lines; standard output closed early
  // while the command goes on.
  const Strings talk = {"o:out 1",   "sleep:150", "e:err 1",   "sleep:150", "o:out 2",   "sleep:150", "e:err 2",
                        "O:out end", "close-out", "sleep:300", "e:err 3",   "E:err end", "exit:3"};
  struct Case {
    Strings args;
    std::string stamp;
    Strings out, err;
  } cases[] = {
      {{}, kFull, {"out 1", "out 2", "out end"}, {"err 1", "err 2", "err 3", "err end"}},
      {{"/M", "/T"},
       kTime,
       {"O: out 1", "E: err 1", "O: out 2", "E: err 2", "O: out end", "E: err 3", "E: err end"},
       {}},
      {{"/m", "/I", "/F"},
       kElapsed,
       {"O: out 1", "E: err 1", "O: out 2", "E: err 2", "O: out end", "E: err 3", "E: err end",
        "---- End Of Command, exit status 3 ----"},
       {}},
  };
  for (const Case& c : cases) {
    Result r = RunTalker(c.args, talk);
    EXPECT_EQ(r.status, 3) << ::testing::PrintToString(c.args) << r.err;
    EXPECT_EQ(TextsAfterStamps(r.out, c.stamp), c.out) << ::testing::PrintToString(c.args);
    EXPECT_EQ(TextsAfterStamps(r.err, c.stamp), c.err) << ::testing::PrintToString(c.args);
    if (c.args.size() < 3 || std::getenv("HORALIN_VALGRIND")) continue;  // valgrind's start-up skews the times
    // Each line stamped when it came, the pauses counted over both streams together.
    Strings lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 8u);
    for (size_t i : {2u, 3u, 5u})  // the first line may be stamped late: the program starts as it comes
      EXPECT_GE(Milliseconds(lines[i]), 100) << "line " << i << " not stamped when it came: " << lines[i];
  }
  // The footer stamped when the command ended, not when a process that it left let go of
  // the pipes.
  if (UnderWine() || std::getenv("HORALIN_VALGRIND")) return;
  Result late = Horalin({"run", "/S", "/F", "--", "sh", "-c", "(sleep 1; echo late) & echo now"});
  Strings lines = SplitLines(late.out);
  ASSERT_EQ(lines.size(), 3u) << late.out;
  EXPECT_GE(Milliseconds(lines[1]), 900) << lines[1];
  EXPECT_LT(Milliseconds(lines[2]), 500) << lines[2];
}

// `horalin run ARGS` run in a folder of its own that holds a text file without "#!", a
// batch file that shows its first arguments, and one found by PATHEXT alone; each case's
// exit status, its output's texts after their stamps, and the start of its error output.
class RunInFolder : public ::testing::Test {
 protected:
  struct Case {
    Strings args;  // after "run"
    int status;
    std::string out, err;
    bool wine;
    bool posix = true;
    bool noCurrentFolder = false;  // NoDefaultCurrentDirectoryInExePath set
  };

  void SetUp() override {
    char folder[] = "/tmp/horalin-run-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir_ = folder;
    const std::string windowsDir = "Z:" + std::regex_replace(dir_, std::regex("/"), "\\");
    script_ = dir_ + "/plain", batch_ = windowsDir + "\\shows.cmd";
    std::ofstream(script_) << "echo \"sh: $1\"\n";
    ASSERT_EQ(chmod(script_.c_str(), 0755), 0);
    std::ofstream(dir_ + "/shows.cmd") << "@echo [%1] [%2] [%3] [%4] [%5] [%6] [%7] [%8] [%9]\r\n";
    std::ofstream(dir_ + "/hltool.cmd") << "@echo tool %*\r\n";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Expect(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
      if (UnderWine() ? !c.wine : !c.posix) continue;
      Options inFolder;
      inFolder.directory = dir_;
      if (c.noCurrentFolder) inFolder.env = {{"NoDefaultCurrentDirectoryInExePath", "1"}};
      Strings args = {"run"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      Result r = Horalin(args, inFolder);
      EXPECT_EQ(r.err.find("%1"), std::string::npos) << r.err;
      const std::string name = ::testing::PrintToString(
          Strings(c.args.begin(), c.args.begin() + std::min<ptrdiff_t>(static_cast<ptrdiff_t>(c.args.size()), 4)));
      EXPECT_EQ(r.status, c.status) << name << r.err;
      std::string out;
      for (const std::string& text : TextsAfterStamps(r.out, kFull)) out += (out.empty() ? "" : "\n") + text;
      EXPECT_TRUE(out == c.out) << name << ": " << out.substr(0, 200);
      EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << name;
      if (c.err.empty()) {
        EXPECT_EQ(r.err, "");
      }
    }
  }

  const std::string talker_ = std::getenv("HORALIN_TALKER") ? std::getenv("HORALIN_TALKER") : "talker";
  std::string dir_, script_, batch_;
};

TEST_F(RunInFolder, ExitStatusAsTheCommandEnded) {
  Expect({
      {{"--", talker_, "o:x"}, 0, "x", "", true},
      {{"--", talker_, "exit:3"}, 3, "", "", true},
      {{"--", talker_, "o:x", "signal:15"}, 128 + 15, "x", "", false},
      {{"/F", "--", talker_, "exit:7"}, 7, "---- End Of Command, exit status 7 ----", "", false},
      // A Windows process ended by an exception: its status in hex (Wine hands on its low byte).
      {{"/F", "--", talker_, "exit:0xC0000005"},
       5,
       "---- End Of Command, exit status 0xC0000005 ----",
       "",
       true,
       false},
  });
}

TEST_F(RunInFolder, CommandsThatCannotStart) {
  const std::string missing = UnderWine() ? "Z:\\no\\such\\command.exe" : "/no/such/command";
  Expect({
      {{"--", missing, "a"}, 127, "", "Horalin plugin: Cannot start \"" + missing + "\": ", true},
      {{"--", "/"}, 126, "", "Horalin plugin: Cannot start \"/\": Permission denied", false},  // a folder
      // The current folder is not searched when NoDefaultCurrentDirectoryInExePath is set.
      {{"--", "hltool", "x"}, 127, "", "Horalin plugin: Cannot start \"hltool\": ", true, false, true},
      // A system message's inserts filled.
      {{"--", "C:\\windows\\win.ini"}, 126, "", "Horalin plugin: Cannot start \"C:\\windows\\win.ini\": ", true, false},
  });
  Result r = Horalin({"run", talker_});  // no "--"
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("horalin: run needs '--'", 0), 0u) << r.err;
}

TEST_F(RunInFolder, BadArgumentsStartNothing) {
  Strings manySwitches(1025, "/T");
  manySwitches.insert(manySwitches.end(), {"--", talker_});
  Expect({
      {manySwitches, 2, "", "horalin: run takes at most 1,024 ARGs of its own", false},
      {{"/TTY", "--", talker_, "o:x"}, 0, "x", "", false},
      {{"/TTY", "--", talker_, "o:x"},
       1,
       "",
       "Horalin plugin: /TTY: this system cannot give the command a terminal",
       true,
       false},
      {{"/X", "--", talker_, "o:x"}, 1, "", "Horalin plugin: Unknown option: \"/X\"", true},
      {{"%H", "b", "--", talker_, "o:x"}, 1, "", "Horalin plugin: Syntax error: \"B\"", false},
      {{"/R", "--", talker_, "o:x"}, 1, "", "Horalin plugin: Unknown option: \"/R\"", false},  // restamp's
      {{"/m", "--", talker_, "o:x"}, 0, "O: x", "", true},
      {{"say \"hi there\" %H", "--", talker_, "o:x"}, 2, "", "horalin: run cannot take the argument 'say", false},
  });
}

TEST_F(RunInFolder, EveryArgumentReachesTheCommandAsGiven) {
  // Every argument passed, 3,000 of them.
  Strings many = {"--", talker_, "args"};
  std::string manyOut;
  for (int i = 0; i < 3000; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "a%04d", i);
    many.push_back(name);
    manyOut += (i ? "\n[" : "[") + std::string(name) + "]";
  }
  Expect({
      {many, 0, manyOut, "", true},
      {{"--", talker_, "args", "--help"}, 0, "[--help]", "", true},  // after "--", the command's own
      {{"--", talker_, "args", "a b", "", "q\"uote", "back\\", "back\\\\ \"x\""},
       0,
       "[a b]\n[]\n[q\"uote]\n[back\\]\n[back\\\\ \"x\"]",
       "",
       true},
      // Arguments and the command's name byte for byte; a text file without "#!" under /bin/sh.
      {{"--", "/bin/sh", "-c", "[ \"$1\" = \"$(printf 'caf\\351')\" ] && echo same", "sh", "caf\xE9"},
       0,
       "same",
       "",
       false},
      {{"--", script_, "x"}, 0, "sh: x", "", false},
  });
}

// A batch file gets each argument whole, quoted for cmd.exe; one that no quoting carries
// there is refused. A name without extension finds a batch file by PATHEXT.
TEST_F(RunInFolder, BatchFilesGetTheirArgumentsQuotedForCmd) {
  Expect({
      {{"--", batch_, "a&b", "a|b", "a<b", "a>b", "a^b", "q\"x", "!OS!", "back\\", "sp ace\\"},
       0,
       "[\"a&b\"] [\"a|b\"] [\"a<b\"] [\"a>b\"] [\"a^b\"] [\"q\"\"x\"] [\"!OS!\"] [back\\] [\"sp ace\\\\\"]",
       "",
       true,
       false},
      {{"--", batch_, "50%"},
       2,
       "",
       "Horalin plugin: Cannot pass \"50%\" to the batch file \"" + batch_ + "\": ",
       true,
       false},
      {{"--", "hltool", "x&y"}, 0, "tool \"x&y\"", "", true, false},
      // A batch file by the name the system runs, its trailing dot dropped: quoted for cmd.exe.
      {{"--", "hltool.cmd.", "x&y"}, 0, "tool \"x&y\"", "", true, false},
  });
}

TEST(Run, EachStreamIsReadAsTsReadsItsInput) {
  // Text-mode C runtimes turn LF bytes into CR LF: the raw bytes here hold none.
  struct Case {
    Strings talk;
    std::string input;
    Strings out, err;
    bool wine;
  } cases[] = {
      // Each stream's encoding recognised on its own: UTF-16LE on one, UTF-8 on the other.
      {{"b:FFFE6800E9000D00610062000D00", "B:636166C3A90D"}, "", {"h\u00E9", "ab"}, {"caf\u00E9"}, true},
      // A line longer than the reader's limit, written whole under one stamp.
      {{"long:130000", "E:tail"}, "", {std::string(130000, 'x')}, {"tail"}, false},
      // The command reads our standard input.
      {{"copy"}, "a\nb\n", {"a", "b"}, {}, true},
  };
  for (const Case& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Strings all = {"run", "--", std::getenv("HORALIN_TALKER") ? std::getenv("HORALIN_TALKER") : "talker"};
    all.insert(all.end(), c.talk.begin(), c.talk.end());
    Options options;
    options.input = c.input;
    Result r = Horalin(all, options);
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(c.talk) << r.err;
    EXPECT_TRUE(TextsAfterStamps(r.out, kFull) == c.out) << ::testing::PrintToString(c.talk[0]);
    EXPECT_EQ(TextsAfterStamps(r.err, kFull), c.err) << ::testing::PrintToString(c.talk[0]);
  }
}

// Reads from the child until `text` has come (not necessarily a whole line) or the time is up.
bool WaitForText(int fd, std::string* seen, const std::string& text, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (seen->find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

// Runs `horalin ARGS` with a pseudo-terminal of 77 columns and 33 rows as its controlling
// terminal and all three standard streams, as at a terminal; once `waitFor` has come out,
// `answer` is typed. What the terminal received.
std::string AtTerminal(const Strings& args, const std::string& waitFor = "", const std::string& answer = "") {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  winsize size{33, 77, 0, 0};
  ioctl(master, TIOCSWINSZ, &size);
  const std::string name = ptsname(master);
  const char* program = std::getenv("HORALIN_PROGRAM");
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int terminal = open(name.c_str(), O_RDWR);
    ioctl(terminal, TIOCSCTTY, 0);
    dup2(terminal, 0), dup2(terminal, 1), dup2(terminal, 2);
    setenv("PYTHONUNBUFFERED", "", 1);
    std::vector<char*> argv = {const_cast<char*>(program ? program : "horalin")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  std::string seen;
  if (!waitFor.empty() && WaitForText(master, &seen, waitFor, std::chrono::seconds(20))) {
    EXPECT_EQ(write(master, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
  }
  WaitForText(master, &seen, "\x01", std::chrono::seconds(20));  // to the end (EIO once it has gone)
  waitpid(pid, nullptr, 0);
  close(master);
  return seen;
}

TEST(Run, ATerminalForEachStream) {
  POSIX_ONLY();
  if (std::system("python3 -c '' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
  // A program that holds its output back in a pipe (Python, PYTHONUNBUFFERED unset), given
  // terminals by /TTY: each line stamped when written, the streams apart, bytes unchanged.
  Options buffered;
  buffered.env = {{"PYTHONUNBUFFERED", ""}};
  Result r = Horalin({"run", "/TTY", "/I", "--", "python3", "-c",
                      "import sys, time\nprint('\\x1b[31mred\\x1b[0m'); print('err', file=sys.stderr)\n"
                      "time.sleep(1); print('two')"},
                     buffered);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TextsAfterStamps(r.out, kElapsed), (Strings{"\x1b[31mred\x1b[0m", "two"}));
  EXPECT_EQ(TextsAfterStamps(r.err, kElapsed), Strings{"err"});
  EXPECT_EQ(r.rawOut.find('\r'), std::string::npos) << r.rawOut;
  Strings lines = SplitLines(r.out);
  if (lines.size() == 2 && !std::getenv("HORALIN_VALGRIND")) {
    EXPECT_GE(Milliseconds(lines[1]), 900) << lines[1];
  }

  // At a terminal: by default the command sees one, of our size; /PIPE gives it pipes.
  // Under /M an answered prompt leaves no blank line: the blanks and CR after it stay on
  // the line that the answer's Enter began.
  const std::string seesTerminal = "import os; print(os.isatty(1), os.isatty(2), *os.get_terminal_size(1))";
  struct Case {
    Strings args;
    std::string waitFor, answer, output;  // a regular expression the terminal's output must match
  } cases[] = {
      {{"run", "--", "python3", "-c", seesTerminal}, "", "", kFull + " True True 77 33\r\n"},
      {{"run", "/PIPE", "--", "python3", "-c", "import os; print(os.isatty(1), os.isatty(2))"},
       "",
       "",
       kFull + " False False\r\n"},
      {{"run", "/M", "--", "sh", "-c", "printf 'Name? '; read n; echo \"hi $n\""},
       "Name? ",
       "Bob\n",
       kFull + " O: Name\\? Bob\r\n {77}\r" + kFull + " O: hi Bob\r\n$"},
  };
  for (const Case& c : cases) {
    const std::string seen = AtTerminal(c.args, c.waitFor, c.answer);
    EXPECT_TRUE(std::regex_search(seen, std::regex(c.output))) << c.args[2] << ": " << seen;
  }
}

// A script run under bash in a process group of its own ($H: horalin, $T: talker). Once
// `waitFor` has come out: `signal` goes to the script's process (the group, as the
// terminal sends it, with `group`), or `input` to its standard input.
struct ScriptCase {
  const char* name;
  std::string script;
  std::string waitFor;
  int signal;
  bool group;
  std::string input;
  int killedBy, status;  // how the script ended: by the signal, or with the status
  std::string output;    // a regular expression the output must match somewhere
};

void ExpectScripts(std::initializer_list<ScriptCase> cases) {
  const bool valgrind = std::getenv("HORALIN_VALGRIND") != nullptr;  // which needs a standard error
  const char* program = std::getenv("HORALIN_PROGRAM");
  const char* talker = std::getenv("HORALIN_TALKER");
  for (const ScriptCase& c : cases) {
    if (valgrind && c.script.find("2>&-") != std::string::npos) continue;
    auto started = std::chrono::steady_clock::now();
    StartOptions options;
    options.env = {{"H", program ? program : "horalin"}, {"T", talker ? talker : "talker"}};
    options.errorPipe = false;
    options.ownGroup = true;
    const Child child = StartProgram({"/bin/bash", "-c", c.script}, options);
    const pid_t pid = child.pid;
    std::string seen;
    if (!c.waitFor.empty()) {
      EXPECT_TRUE(WaitForText(child.out, &seen, c.waitFor, std::chrono::seconds(30))) << c.name;
    }
    if (c.signal) kill(c.group ? -pid : pid, c.signal);
    if (!c.input.empty()) {
      EXPECT_EQ(write(child.in, c.input.data(), c.input.size()), static_cast<ssize_t>(c.input.size()));
    }
    close(child.in);
    WaitForText(child.out, &seen, "\x01", std::chrono::seconds(30));  // to the end
    int status = 0;
    waitpid(pid, &status, 0);
    kill(-pid, SIGKILL);  // what the script left
    close(child.out);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << c.name;
    if (c.killedBy)
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.killedBy) << c.name << ": " << status;
    else
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << c.name << ": " << status;
    EXPECT_TRUE(std::regex_search(seen, std::regex(c.output))) << c.name << ": " << seen;
  }
}

TEST(Run, SignalsReachTheCommandAsWithoutIt) {
  POSIX_ONLY();
  ExpectScripts({
      {"kill reaches the command, and ends us as it ended it",
       "exec \"$H\" run -- \"$T\" o:started sleep:20000 o:unreached", "started", SIGTERM, false, "", SIGTERM, 0,
       "^" + kFull + " started\n$"},
      {"Ctrl-C in a loop stops the loop",
       "for i in 1 2; do \"$H\" run -- \"$T\" o:started sleep:20000; echo next; done", "started", SIGINT, true, "",
       SIGINT, 0, "^" + kFull + " started\n$"},
      {"Ctrl-\\ to the group: we outlive the command and write its last lines",
       "exec \"$H\" run -- sh -c 'trap \"echo cleanup; exit 3\" QUIT; echo started; while :; do sleep 0.1; done'",
       "started", SIGQUIT, true, "", 0, 3, " started\n.* cleanup\n$"},
      {"TERM after the command ended, a child of it holding the pipes",
       "exec \"$H\" run /F -- sh -c '(sleep 0.3; echo started; sleep 30) &'", "started", SIGTERM, false, "", SIGTERM, 0,
       " started\n.* exit status 0 ----\n$"},
      {"a hang-up ignored stays ignored",
       "trap '' HUP; exec \"$H\" run -- sh -c 'echo started; sleep 1; echo survived'", "started", SIGHUP, false, "", 0,
       0, " survived\n$"},
      {"an interrupt ignored stays ignored, in the command too",
       "trap '' INT; exec \"$H\" run -- sh -c 'echo started; sleep 1; echo survived'", "started", SIGINT, true, "", 0,
       0, " survived\n$"},
  });
}

TEST(Run, PromptsAndFailedOutputAsWithoutIt) {
  POSIX_ONLY();
  ExpectScripts({
      {"a prompt shows before its answer",
       "exec \"$H\" run -- sh -c 'printf \"Continue? \"; read a; echo \"answer=$a\"'", "Continue? ", 0, false, "y\n", 0,
       0, "^" + kFull + " Continue\\? \n" + kFull + " answer=y\n$"},
      {"standard error full", "exec \"$H\" run -- \"$T\" o:started e:lost 2>/dev/full", "", 0, false, "", 0, 1,
       " started\n$"},
      {"standard error closed", "exec \"$H\" run -- \"$T\" e:lost 2>&-", "", 0, false, "", 0, 1, "^$"},
  });
}

TEST(Run, LinesInTheOrderTheyCameAndUnfinishedLinesShown) {
  struct Case {
    Strings args, talk, out;
  } cases[] = {
      // An error line and the output line written 2 ms after it, four times (valgrind reads
      // too slowly to tell: each pipe holds several lines at each read).
      {{"/M"},
       {"e:E0", "sleep:2", "o:O0", "sleep:100", "e:E1", "sleep:2", "o:O1", "sleep:100", "e:E2", "sleep:2", "o:O2",
        "sleep:100", "e:E3", "sleep:2", "o:O3"},
       {"E: E0", "O: O0", "E: E1", "O: O1", "E: E2", "O: O2", "E: E3", "O: O3"}},
      // A line that waits is shown with its stamp, each one; what comes after it begins a
      // line of its own. Unfinished last lines in the order they came.
      {{"/M"},
       {"O:Continue? ", "sleep:400", "e:err", "o:yes", "E:err-tail", "sleep:300", "O:out-tail"},
       {"O: Continue? ", "E: err", "O: yes", "E: err-tail", "O: out-tail"}},
      {{}, {"O:Continue? ", "sleep:400", "o:yes"}, {"Continue? ", "yes"}},
      {{"/M"},
       {"E:Name? ", "sleep:300", "E:Age? ", "sleep:300", "e:late error", "o:out"},
       {"E: Name? ", "E: Age? ", "E: late error", "O: out"}},
  };
  for (const Case& c : cases) {
    if (&c == cases && std::getenv("HORALIN_VALGRIND")) continue;
    Result r = RunTalker(c.args, c.talk);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TextsAfterStamps(r.out, kFull), c.out) << ::testing::PrintToString(c.talk);
  }
}

TEST(Run, AMillionLinesAllStamped) {
  if (std::getenv("HORALIN_VALGRIND")) GTEST_SKIP() << "too slow under valgrind; the smaller runs cover its memory";
  Result r = RunTalker({"/T"}, {"lines:1000000", "e:done"});
  EXPECT_EQ(r.status, 0);
  Strings texts = TextsAfterStamps(r.out, kTime);
  ASSERT_EQ(texts.size(), 1000000u);
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i] != "line " + std::to_string(i + 1)) FAIL() << "line " << i + 1 << ": " << texts[i];
  EXPECT_EQ(TextsAfterStamps(r.err, kTime), Strings{"done"});
}

}  // namespace
}  // namespace horalin::e2e
