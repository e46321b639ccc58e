// The program's command line, the plug-in's registration, usage text and errors, as a
// user sees them from both hosts.
#include <gtest/gtest.h>

#include "common/version.h"
#include "tests/e2e/process.h"

namespace horalin::e2e {
namespace {

const char kUsageTs[] =
    "TS /CP: /D /F /I /S /T /U \"format\" \n\n"
    "\t/CP:n\tcode page (for non-Unicode text) \n"
    "\t/D\tinclude the date \n"
    "\t/F\tadd a final footer line \n"
    "\t/I\tincremental times (since the last line) \n"
    "\t/S\tcumulative times (since the start time) \n"
    "\t/T\tinclude the time \n"
    "\t/U\tCoordinated Universal Time \n"
    "\tformat\tformat string, as in @DATEFMT \n\n"
    "TS reads lines from a pipe, and prepends the current time to \n"
    "each.  Remember that pipe commands run in a new shell!  To pipe \n"
    "to this command, you must ensure that this plugin is loaded in \n"
    "the new shell, e.g. by copying the plugin .DLL file to TCC\u2019s \n"
    "\u2018PlugIns\u2019 directory.\n";

TEST(CommandLine, UsageTs) {
  for (const char* name : {"ts", "TS"}) {
    Result r = Horalin({"usage", name});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsageTs);
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLine, UsageOfOtherNamesFails) {
  for (const char* name : {"@datefmt", "tsx", "_x"}) {
    Result r = Horalin({"usage", name});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "") << name;
  }
}

TEST(CommandLine, Info) {
  Result r = Horalin({"info"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Name:        Horalin\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Description: Reimplements TS and @DATEFMT.\n"), std::string::npos);
  EXPECT_NE(r.out.find("Functions:   ts,@datefmt\n"), std::string::npos);
  EXPECT_NE(r.out.find("Version:     " HORALIN_VERSION_SHORT_TEXT "\n"), std::string::npos);
  EXPECT_EQ(r.out.find("loaded"), std::string::npos) << "a one-shot command is a transient shell";
}

TEST(CommandLine, LoadNoticeFollowsTheShellVariables) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> env;
    bool shown;
  } cases[] = {
      {{{"_transient", "0"}, {"_pipe", "0"}}, true},
      {{{"_transient", "0"}, {"_pipe", "0"}, {"noloadmsg", "1"}}, false},
      {{{"_transient", "0"}, {"_pipe", "0"}, {"NOLOADMSG", "0"}}, false},
      {{{"_transient", "1"}, {"_pipe", "0"}}, false},
      {{{"_transient", "0"}}, false},  // standard input is a pipe here
  };
  for (const Case& c : cases) {
    Options o;
    o.env = c.env;
    Result r = Horalin({"info"}, o);
    EXPECT_EQ(r.status, 0);
    bool shown = r.out.rfind("Horalin v" HORALIN_VERSION_SHORT_TEXT " loaded.\n", 0) == 0;
    EXPECT_EQ(shown, c.shown) << r.out;
  }
}

TEST(CommandLine, VersionAndHelp) {
  Result v = Horalin({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "horalin " HORALIN_VERSION_TEXT "\n");
  Result h = Horalin({"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("Usage: horalin COMMAND"), std::string::npos);
  Result bad = Horalin({"frobnicate"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown command 'frobnicate'"), std::string::npos) << bad.err;
}

// "--help" and "-h" after a command show its help, and help takes the names of the
// function in any form.
TEST(CommandLine, EachCommandHasItsHelp) {
  const std::string tsHelp = "Add time stamps to lines from a pipe. \n\n" + std::string(kUsageTs);
  struct Case {
    std::vector<std::string> args;
    std::string start;      // of the output
    std::string line = "";  // one that it holds: the switches it names
  } cases[] = {
      {{"ts", "--help"}, tsHelp},
      {{"ts", "/D", "-h"}, tsHelp},
      {{"datefmt", "--help"},
       "Usage: horalin datefmt \"DATE,FORMAT\"\n",
       "       horalin datefmt --lines [/FORM[:FORM] /ZONE:Z /YEAR:N] FORMAT <FILE\n"},
      {{"datefmt", "--lines", "-h"}, "Usage: horalin datefmt \"DATE,FORMAT\"\n"},
      {{"help", "--help"}, "Usage: horalin help NAME\n"},
      {{"usage", "-h"}, "Usage: horalin usage ts\n"},
      {{"info", "--help"}, "Usage: horalin info\n"},
      {{"run", "--help"},
       "Usage: horalin run ",
       "\nThe ARGs are TS's own: /CP:n /D /F /I /S /T /U /U:name and a format ('horalin ts --help'),\n"
       "and its own:\n  /M               both streams onto standard output in the order they came, each\n"
       "                   line tagged O: (output) or E: (errors) after its stamp\n  /TTY             give COMMAND"},
      {{"restamp", "-h"},
       "Usage: horalin restamp ",
       "\n  /YEAR:N          the year of stamps without one (syslog); else the current year,\n"
       "                   or the one before for a date more than a day after today\n"
       "  /R               the time from each stamp to now: instead of the date and time,\n"
       "                   or after it with a format, /D or /T\n\n"},
  };
  for (const Case& c : cases) {
    Options o;
    o.input = "not read\n";
    Result r = Horalin(c.args, o);
    EXPECT_EQ(r.status, 0) << c.args[0];
    EXPECT_EQ(r.out.substr(0, c.start.size()), c.start) << c.args[0] << " " << c.args.back();
    EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not read"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
  Result none = Horalin({"help", "datefmts"});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "horalin: no help for 'datefmts'; the names are ts, datefmt (@datefmt, f_datefmt)\n");
}

}  // namespace
}  // namespace horalin::e2e
