// The help locator on POSIX: the order of the places, the places it skips, the viewer
// it starts and the message when nothing is found. Real folders in a scratch folder;
// the viewers are scripts on PATH that record how they were started.
#include "platform/help.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "host/host.h"
#include "plugin/plugin.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;
using testing::U16;
using testing::U8;

class HelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/horalin-help-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder : {"/a", "/b", "/shell", "/shell/help", "/bin"}) mkdir((root_ + folder).c_str(), 0755);
    const char* path = getenv("PATH");
    savedPath_ = path ? path : "";
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "BROWSER"}) {
      const char* value = getenv(name);
      saved_.push_back({name, value ? value : std::string(), value != nullptr});
      unsetenv(name);
    }
    setenv("PATH", (root_ + "/bin").c_str(), 1);
    Viewer("man");
    Module.viewer = nullptr;
  }

  void TearDown() override {
    setenv("PATH", savedPath_.c_str(), 1);
    for (auto& [name, value, set] : saved_)
      if (set) setenv(name.c_str(), value.c_str(), 1);
    std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  // A viewer program that appends its arguments to the log.
  void Viewer(const std::string& name) {
    std::string file = root_ + "/bin/" + name;
    std::ofstream(file) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << root_ << "/log'\n";
    chmod(file.c_str(), 0755);
  }
  void File(const std::string& relative) { std::ofstream(root_ + relative) << "<p>help</p>\n"; }
  std::string Log() {
    std::ifstream in(root_ + "/log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::pair<std::string, std::string>> Variables() {
    return {{"HoralinHelp", root_ + "/a"},
            {"PluginHelp", root_ + "/b"},
            {"_cmdspec", root_ + "/shell/tcc"},
            {"_batch", "0"}};
  }

  std::string root_;
  std::string savedPath_;
  struct Saved {
    std::string name, value;
    bool set;
  };
  std::vector<Saved> saved_;
};

TEST_F(HelpTest, FirstPlaceHoldingTheFileWins) {
  struct Case {
    std::vector<std::string> files;
    const char* page;  // the folder of the page the viewer is started on
  } cases[] = {
      {{"/a/Horalin.html", "/b/Horalin.html", "/shell/Horalin.html"}, "/a"},
      {{"/b/Horalin.html", "/shell/Horalin.html", "/shell/help/Horalin.html"}, "/b"},
      {{"/shell/Horalin.html", "/shell/help/Horalin.html"}, "/shell"},
      {{"/shell/help/Horalin.html"}, "/shell/help"},
  };
  for (const Case& c : cases) {
    for (const char* f : {"/a/Horalin.html", "/b/Horalin.html", "/shell/Horalin.html", "/shell/help/Horalin.html"})
      std::remove((root_ + f).c_str());
    std::remove((root_ + "/log").c_str());
    for (const std::string& f : c.files) File(f);
    ResetHost(Variables());
    EXPECT_EQ(Help(u"ts"), 1);
    EXPECT_EQ(Log(), "man " + root_ + c.page + "/ts.1\n") << c.page;
    EXPECT_EQ(CapturedErrors(), "");
  }
}

TEST_F(HelpTest, NamesOfTheFunctionListInAnyCase) {
  File("/a/Horalin.html");
  struct Case {
    const char16_t* name;
    int result;
    const char* page;  // null: no viewer started
  } cases[] = {
      {u"ts", 1, "ts.1"},
      {u"TS", 1, "ts.1"},
      {u"@DATEFMT", 1, "f_datefmt.1"},
      {u"@datefmt", 1, "f_datefmt.1"},
      {u"DATEFMT", 0, nullptr},
      {u"t", 0, nullptr},
      {u"tsx", 0, nullptr},
      {u"", 0, nullptr},
      {u"ts,", 0, nullptr},
      {nullptr, 0, nullptr},
  };
  for (const Case& c : cases) {
    std::remove((root_ + "/log").c_str());
    ResetHost(Variables());
    EXPECT_EQ(Help(c.name), c.result) << (c.name ? U8(c.name) : "(null)");
    EXPECT_EQ(Log(), c.page ? "man " + root_ + "/a/" + c.page + "\n" : "");
    EXPECT_EQ(CapturedOutput() + CapturedErrors(), "");
  }
}

TEST_F(HelpTest, PlacesThatAreSkipped) {
  File("/b/Horalin.html");
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> variables;
    bool directoryInA;
  } cases[] = {
      {"HoralinHelp undefined", {{"PluginHelp", root_ + "/b"}}, false},
      {"HoralinHelp empty", {{"HoralinHelp", ""}, {"PluginHelp", root_ + "/b"}}, false},
      {"a folder named Horalin.html", {{"HoralinHelp", root_ + "/a"}, {"PluginHelp", root_ + "/b"}}, true},
      {"no such folder", {{"HoralinHelp", root_ + "/none"}, {"PluginHelp", root_ + "/b"}}, false},
  };
  for (const Case& c : cases) {
    rmdir((root_ + "/a/Horalin.html").c_str());
    if (c.directoryInA) mkdir((root_ + "/a/Horalin.html").c_str(), 0755);
    std::remove((root_ + "/log").c_str());
    ResetHost(c.variables);
    EXPECT_EQ(Help(u"ts"), 1) << c.what;
    EXPECT_EQ(Log(), "man " + root_ + "/b/ts.1\n") << c.what;
  }
}

TEST_F(HelpTest, APipeIsNoHelpFile) {
  ASSERT_EQ(mkfifo((root_ + "/a/Horalin.html").c_str(), 0600), 0);
  File("/b/Horalin.html");
  ResetHost(Variables());
  EXPECT_EQ(Help(u"ts"), 1);
  EXPECT_EQ(Log(), "man " + root_ + "/b/ts.1\n");
}

TEST_F(HelpTest, WithADisplayAndNoTerminalABrowserOpensTheHtmlPage) {
  int tty = open("/dev/tty", O_RDONLY | O_NOCTTY);
  if (tty >= 0) {
    close(tty);
    GTEST_SKIP() << "run from a terminal: man is the viewer";
  }
  File("/a/Horalin.html");
  Viewer("xdg-open");
  setenv("DISPLAY", ":9", 1);
  // Standard output is no terminal while the help runs.
  int saved = dup(1);
  FILE* sink = std::fopen("/dev/null", "w");
  dup2(fileno(sink), 1);
  ResetHost(Variables());
  int result = Help(u"@datefmt");
  dup2(saved, 1);
  close(saved);
  std::fclose(sink);
  unsetenv("DISPLAY");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Log(), "xdg-open " + root_ + "/a/f_datefmt.html\n");
}

std::string MissingMessage() {
  char16_t folder[260];
  platform::SystemHelpFolder(folder, 260);
  return "Horalin plugin: I can\u2019t find the help file Horalin.html.  It should be:\n\n"
         "    \u2022  in a directory named by $HORALINHELP\n"
         "    \u2022  in a directory named by $PLUGINHELP\n"
         "    \u2022  in the same directory as the horalin program\n"
         "    \u2022  in a help directory within the program\u2019s directory\n"
         "    \u2022  or in " +
         U8(folder) + ".\n";
}

TEST_F(HelpTest, NoHelpFileAnywhereListsThePlaces) {
  ResetHost(Variables());
  EXPECT_EQ(Help(u"TS"), 1);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(CapturedErrors(), MissingMessage());
  EXPECT_EQ(CapturedOutput(), "");
}

TEST_F(HelpTest, NoViewerMakesEveryPlaceFail) {
  File("/a/Horalin.html");
  std::remove((root_ + "/bin/man").c_str());
  ResetHost(Variables());
  EXPECT_EQ(Help(u"ts"), 1);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(CapturedErrors(), MissingMessage());
}

TEST_F(HelpTest, AViewerThatCannotStartMovesTheSearchOn) {
  File("/a/Horalin.html");
  File("/b/Horalin.html");
  std::string man = root_ + "/bin/man";
  std::ofstream(man) << "#!/nonexistent/interpreter\n";  // executable, but exec fails
  chmod(man.c_str(), 0755);
  ResetHost(Variables());
  EXPECT_EQ(Help(u"ts"), 1);
  EXPECT_EQ(CapturedErrors(), MissingMessage());
}

TEST_F(HelpTest, TheViewerHasEndedWhenHelpReturns) {
  File("/a/Horalin.html");
  ResetHost(Variables());
  EXPECT_EQ(Help(u"ts"), 1);
  EXPECT_EQ(Module.viewer, nullptr);
  EXPECT_EQ(ShutdownPlugin(), 0);
}

TEST(HelpPlacesTest, SystemHelpFolderIsTheDocumentationBesideTheProgram) {
  char16_t program[4096], folder[4096];
  platform::ModuleFileName(program, 4096);
  platform::SystemHelpFolder(folder, 4096);
  std::string p = U8(program);
  std::string prefix = p.substr(0, p.rfind('/'));
  prefix = prefix.substr(0, prefix.rfind('/'));
  EXPECT_EQ(U8(folder), prefix + "/share/doc/horalin");
}

TEST(HelpPlacesTest, FileAttributes) {
  EXPECT_EQ(platform::FileAttributes(u"/"), platform::kAttributeDirectory);
  EXPECT_EQ(platform::FileAttributes(u"/dev/null"), platform::kAttributeDevice);
  EXPECT_EQ(platform::FileAttributes(u"/no/such/file"), platform::kInvalidAttributes);
  EXPECT_EQ(platform::FileAttributes(u"/proc/self/exe"), platform::kAttributeNormal);
}

}  // namespace
}  // namespace horalin
