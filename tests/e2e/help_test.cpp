// Help as a user gets it: "horalin help NAME" finds the help and starts the viewer on
// the topic's page, or lists the places on standard error; the rendered pages hold
// together (scripts/package-check.sh checks the .deb). POSIX viewers are scripts on PATH that
// record their arguments; under Wine a stand-in hh.exe in the Windows folder records its
// command line (and may end at once with a status, as a viewer that fails).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/e2e/process.h"
#include "tests/support/shell.h"

namespace horalin::e2e {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Program() {
  const char* program = getenv("HORALIN_PROGRAM");
  return program ? program : "horalin";
}

// A scratch folder, removed at the end of the test.
struct Scratch {
  fs::path root;
  Scratch() {
    char pattern[] = "/tmp/horalin-e2e-help-XXXXXX";
    root = mkdtemp(pattern);
  }
  ~Scratch() { fs::remove_all(root); }
  void File(const fs::path& relative, const std::string& text = "help\n") const {
    fs::create_directories((root / relative).parent_path());
    std::ofstream(root / relative) << text;
  }
};

// ---- POSIX ---------------------------------------------------------------------------

class PosixHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "the POSIX viewers";
    fs::create_directories(scratch_.root / "bin");
    std::string man = (scratch_.root / "bin/man").string();
    std::ofstream(man) << "#!/bin/sh\necho \"man $*\" >> " << testing::ShellQuoted((scratch_.root / "log").string())
                       << "\n";
    chmod(man.c_str(), 0755);
  }
  Options WithViewer(std::vector<std::pair<std::string, std::string>> env) const {
    Options o;
    o.env = {{"PATH", (scratch_.root / "bin").string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    o.env.insert(o.env.end(), env.begin(), env.end());
    return o;
  }
  std::string Log() const { return ReadFile(scratch_.root / "log"); }
  Scratch scratch_;
};

TEST_F(PosixHelp, ManShowsTheTopicsPageFromTheFolderOfHoralinHelp) {
  scratch_.File("pages/Horalin.html");
  std::string pages = (scratch_.root / "pages").string();
  struct Case {
    const char* name;
    const char* page;
  } cases[] = {{"ts", "ts.1"}, {"TS", "ts.1"}, {"@datefmt", "f_datefmt.1"}, {"@DateFmt", "f_datefmt.1"}};
  for (const Case& c : cases) {
    fs::remove(scratch_.root / "log");
    Result r = Horalin({"help", c.name}, WithViewer({{"HoralinHelp", pages}}));
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(Log(), "man " + pages + "/" + c.page + "\n") << c.name;
  }
}

TEST_F(PosixHelp, EveryNameOfTheFunctionInAnyCase) {
  scratch_.File("pages/Horalin.html");
  std::string pages = (scratch_.root / "pages").string();
  for (const char* name : {"datefmt", "DateFmt", "@datefmt", "f_datefmt", "F_DATEFMT"}) {
    fs::remove(scratch_.root / "log");
    Result r = Horalin({"help", name}, WithViewer({{"HoralinHelp", pages}}));
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(Log(), "man " + pages + "/f_datefmt.1\n") << name;
  }
}

TEST_F(PosixHelp, NamesThatAreNotThePluginsAreListed) {
  scratch_.File("pages/Horalin.html");
  for (const char* name : {"f_ts", "t", "tsx", "_x", "@ts"}) {
    Result r = Horalin({"help", name}, WithViewer({{"HoralinHelp", (scratch_.root / "pages").string()}}));
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_EQ(r.err,
              std::string("horalin: no help for '") + name + "'; the names are ts, datefmt (@datefmt, f_datefmt)\n");
  }
  EXPECT_EQ(Log(), "");
}

// A viewer that fails, or output that cannot be written, is reported: the help was not
// shown.
TEST_F(PosixHelp, AFailingViewerIsReported) {
  scratch_.File("pages/Horalin.html");
  std::string bin = (scratch_.root / "bin").string();
  struct Case {
    const char* man;       // the viewer's script
    const char* redirect;  // of standard output
    int status;
    std::string err;
  } cases[] = {
      {"exit 0", "", 0, ""},
      {"echo page; exit 3", "", 1, "Horalin plugin: The help viewer failed: " + bin + "/man ended with status 3\n"},
      {"kill -9 $$", "", 1, "Horalin plugin: The help viewer failed: " + bin + "/man was ended by signal 9\n"},
      {"echo page", ">/dev/full", 1,
       "Horalin plugin: The help viewer failed: its output could not be written: No space left on device\n"},
      {"/usr/bin/yes page | /usr/bin/head -c 1000000", "| /usr/bin/head -c 1 >/dev/null", 0,
       ""},  // a reader that goes away early
  };
  for (const Case& c : cases) {
    std::ofstream(bin + "/man") << "#!/bin/sh\n" << c.man << "\n";
    Options o = WithViewer({{"HoralinHelp", (scratch_.root / "pages").string()}});
    Result r =
        RunProgram({"/bin/bash", "-c", std::string("set -o pipefail; \"$0\" help ts ") + c.redirect, Program()}, o);
    EXPECT_EQ(r.status, c.status) << c.man;
    EXPECT_EQ(r.err, c.err) << c.man;
  }
}

TEST_F(PosixHelp, WithoutHelpPagesTheMessageListsThePlaces) {
  fs::path folder = fs::path(Program()).parent_path().parent_path();
  std::string expected =
      "Horalin plugin: I can\u2019t find the help file Horalin.html.  It should be:\n\n"
      "    \u2022  in a directory named by $HORALINHELP\n"
      "    \u2022  in a directory named by $PLUGINHELP\n"
      "    \u2022  in the same directory as the horalin program\n"
      "    \u2022  in a help directory within the program\u2019s directory\n"
      "    \u2022  or in " +
      fs::weakly_canonical(folder).string() + "/share/doc/horalin.\n";
  Result r = Horalin({"help", "ts"}, WithViewer({{"HoralinHelp", (scratch_.root / "none").string()}}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, expected);
  EXPECT_EQ(Log(), "");
}

fs::path DocFolder() { return fs::path(Program()).parent_path() / "doc"; }

TEST(HelpPages, ManShowsTheRenderedPagesAsText) {
  if (UnderWine()) GTEST_SKIP() << "the POSIX viewers";
  if (system("command -v man >/dev/null 2>&1") != 0) GTEST_SKIP() << "no man on this system";
  struct Case {
    const char* name;
    std::vector<const char*> texts;
  } cases[] = {
      {"ts", {"HORALIN-TS(1)", "---- End Of Pipe ----", "ENCODINGS", "EXIT CODES"}},
      {"@datefmt", {"HORALIN-DATEFMT(1)", "DIRECTIVES", "ESCAPES", "MMXXVI"}},
  };
  for (const Case& c : cases) {
    Options o;
    o.env = {{"HoralinHelp", DocFolder().string()}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"MANWIDTH", "80"}};
    Result r = Horalin({"help", c.name}, o);
    EXPECT_EQ(r.status, 0);
    for (const char* text : c.texts) EXPECT_NE(r.out.find(text), std::string::npos) << c.name << ": " << text;
  }
}

// Every link between the pages, and every anchor it names, exists.
TEST(HelpPages, EveryInternalLinkResolves) {
  if (UnderWine()) GTEST_SKIP() << "checked in the POSIX run";
  const std::regex id(R"re(id="([^"]+)")re"), href(R"re(href="([^"]+)")re");
  std::set<std::string> pages;
  for (const char* page : {"Horalin.html", "ts.html", "f_datefmt.html", "program.html"}) {
    ASSERT_TRUE(fs::exists(DocFolder() / page)) << page;
    pages.insert(page);
  }
  int links = 0;
  for (const std::string& page : pages) {
    std::string text = ReadFile(DocFolder() / page);
    for (std::sregex_iterator m(text.begin(), text.end(), href), end; m != end; ++m) {
      std::string target = (*m)[1];
      if (target.find("://") != std::string::npos) continue;
      std::string file = target.substr(0, target.find('#'));
      std::string anchor = target.find('#') == std::string::npos ? "" : target.substr(target.find('#') + 1);
      if (file.empty()) file = page;
      ++links;
      ASSERT_TRUE(pages.count(file)) << page << " links to " << target;
      if (anchor.empty()) continue;
      std::string other = ReadFile(DocFolder() / file);
      EXPECT_NE(other.find("id=\"" + anchor + "\""), std::string::npos) << page << " links to " << target;
    }
  }
  EXPECT_GT(links, 20);
}

// ---- Windows, under Wine ---------------------------------------------------------------

// The Windows program in a folder of its own. The stand-in viewer takes the place of the
// system's in the Windows folder of the Wine prefix for the test; another copy lies beside
// the program, which runs in its own folder, so that a viewer planted in the current folder
// would be found if it were searched.
class WineHelp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UnderWine()) GTEST_SKIP() << "the Windows build";
    fs::path build = WindowsBuildDir();
    if (!fs::exists(build / "tests/hh.exe")) GTEST_SKIP() << "no stand-in viewer in " << build;
    for (const char* file : {"horalin.exe", "Horalin.dll", "host/TakeCmd.dll"}) {
      fs::create_directories((scratch_.root / "app" / file).parent_path());
      fs::copy_file(build / file, scratch_.root / "app" / file);
    }
    fs::copy_file(build / "tests/hh.exe", scratch_.root / "app/hh.exe");
    systemViewer_ = build / "wineprefix/drive_c/windows/hh.exe";
    if (fs::exists(systemViewer_)) fs::copy_file(systemViewer_, scratch_.root / "system-hh.exe");
    fs::copy_file(build / "tests/hh.exe", systemViewer_, fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    if (systemViewer_.empty()) return;
    if (fs::exists(scratch_.root / "system-hh.exe"))
      fs::copy_file(scratch_.root / "system-hh.exe", systemViewer_, fs::copy_options::overwrite_existing);
    else
      fs::remove(systemViewer_);
  }
  Result Help(const std::string& name, std::vector<std::pair<std::string, std::string>> env) {
    Options o;
    // No display: the message box fails and the message goes to standard error.
    o.env = {{"HORALIN_VIEWER_LOG", Windows(scratch_.root / "log")},
             {"DISPLAY", ""},
             {"WAYLAND_DISPLAY", ""},
             {"WINEPATH", "."},
             {"WINEDEBUG", "-all"},
             {"WINEPREFIX", WindowsBuildDir() + "/wineprefix"}};
    o.env.insert(o.env.end(), env.begin(), env.end());
    o.directory = (scratch_.root / "app").string();
    return RunProgram({"/usr/lib/wine/wine64", (scratch_.root / "app/horalin.exe").string(), "help", name}, o);
  }
  // The Windows name of a POSIX path, as Wine maps it.
  static std::string Windows(const fs::path& path) {
    std::string text("Z:");
    text += path.string();
    for (char& c : text)
      if (c == '/') c = '\\';
    return text;
  }
  // The viewer runs on its own after horalin.exe has ended: wait for its line.
  std::string ViewerLine() const {
    for (int tries = 0; tries < 300; ++tries) {
      std::string text = ReadFile(scratch_.root / "log");
      if (!text.empty() && text.back() == '\n') return text;
      usleep(100 * 1000);
    }
    return "";
  }
  std::string Log() const { return ReadFile(scratch_.root / "log"); }
  Scratch scratch_;
  fs::path systemViewer_;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(WineHelp, TheViewerOpensTheTopicsPageInTheHelpFile) {
  scratch_.File("chm/Horalin.chm");
  struct Case {
    const char* name;
    std::string helpFile;  // empty: the library's own folder
    const char* page;
  } cases[] = {
      {"ts", "chm", "ts.html"},
      {"@DATEFMT", "chm", "f_datefmt.html"},
      {"ts", "", "ts.html"},
  };
  for (const Case& c : cases) {
    fs::remove(scratch_.root / "log");
    std::vector<std::pair<std::string, std::string>> env;
    fs::path chm = scratch_.root / "app/Horalin.chm";
    if (!c.helpFile.empty()) {
      env.push_back({"HoralinHelp", Windows(scratch_.root / c.helpFile)});
      chm = scratch_.root / c.helpFile / "Horalin.chm";
      fs::remove(scratch_.root / "app/Horalin.chm");
    } else {
      scratch_.File("app/Horalin.chm");
    }
    Result r = Help(c.name, env);
    EXPECT_EQ(r.status, 0) << c.name << r.err;
    std::string expected("\"C:\\windows\\hh.exe\" \"");
    expected += Windows(chm) + "::/" + c.page + "\"\n";
    EXPECT_EQ(Lower(ViewerLine()), Lower(expected)) << c.name;
  }
}

// A viewer that ends before it waits for input never showed the page (hh.exe ends so,
// with status 0, where it cannot create its window): reported as on POSIX, status 1.
TEST_F(WineHelp, AViewerThatEndsAtOnceIsReported) {
  scratch_.File("app/Horalin.chm");
  struct Case {
    const char* viewerStatus;  // empty: the viewer waits for input and runs on
    int status;
    std::string err;
  } cases[] = {
      {"", 0, ""},
      {"3", 1, "Horalin plugin: The help viewer failed: C:\\windows\\hh.exe ended with status 3\n"},
      {"0", 1, "Horalin plugin: The help viewer failed: C:\\windows\\hh.exe ended without showing its window\n"},
  };
  for (const Case& c : cases) {
    fs::remove(scratch_.root / "log");
    std::vector<std::pair<std::string, std::string>> env;
    if (*c.viewerStatus) env.push_back({"HORALIN_VIEWER_STATUS", c.viewerStatus});
    Result r = Help("ts", env);
    EXPECT_EQ(r.status, c.status) << c.viewerStatus;
    EXPECT_EQ(Lower(r.err), Lower(c.err)) << c.viewerStatus;
    std::string log = ViewerLine();  // the viewer ran once: no other place was tried
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << c.viewerStatus;
  }
}

TEST_F(WineHelp, WithoutTheHelpFileTheMessageListsThePlaces) {
  Result r = Help("ts", {});
  EXPECT_EQ(r.status, 1);  // the help could not be shown
  EXPECT_EQ(Log(), "");
  for (const char* text :
       {"find the help file Horalin.chm.  It should be:", "in a directory specified in %HORALINHELP",
        "in a directory specified in %PLUGINHELP", "in the same directory as the .DLL file", "\\Help.\n"})
    EXPECT_NE(r.err.find(text), std::string::npos) << text << "\n" << r.err;
}

// The viewer is the system's; only where the Windows folder lacks it, one from a folder
// of PATH named in full. The one in the current folder never runs, also where PATH holds
// ".": without another viewer, the help file counts as not found.
TEST_F(WineHelp, APlantedViewerInTheCurrentFolderNeverRuns) {
  scratch_.File("app/Horalin.chm");
  scratch_.File("bin/placeholder");
  fs::copy_file(WindowsBuildDir() + "/tests/hh.exe", scratch_.root / "bin/hh.exe");
  struct Case {
    bool systemViewer;
    std::string path;
    std::string viewer;  // empty: none found
  } cases[] = {
      {true, ".", "C:\\windows\\hh.exe"},
      {false, ".;" + Windows(scratch_.root / "bin"), Windows(scratch_.root / "bin/hh.exe")},
      {false, ".;.\\;\\", ""},
  };
  for (const Case& c : cases) {
    fs::remove(scratch_.root / "log");
    if (!c.systemViewer) fs::remove(systemViewer_);
    Result r = Help("ts", {{"WINEPATH", c.path}});
    EXPECT_EQ(r.status, c.viewer.empty() ? 1 : 0) << c.path;
    if (c.viewer.empty()) {
      EXPECT_NE(r.err.find("find the help file Horalin.chm"), std::string::npos) << r.err;
      EXPECT_EQ(Log(), "");
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(Lower(ViewerLine()),
                Lower("\"" + c.viewer + "\" \"" + Windows(scratch_.root / "app/Horalin.chm") + "::/ts.html\"\n"))
          << c.path;
    }
  }
}

}  // namespace
}  // namespace horalin::e2e
