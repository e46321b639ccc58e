// horalin datefmt ARG and horalin datefmt --lines FORMAT as a user runs them, through both
// hosts. Under Wine a representative subset runs, with the Win32 zone and locale services.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"

namespace horalin::e2e {
namespace {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The zone and the locale are always fixed; `env` may replace them.
Result RunHoralin(const std::vector<std::string>& args, Environment env = {}, const std::string& input = "") {
  Options o;
  o.env = {{"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}};
  o.env.insert(o.env.end(), env.begin(), env.end());
  o.input = input;
  return Horalin(args, o);
}

struct Case {
  const char* argument;
  const char* out;      // on standard output, line end included
  const char* wineOut;  // where the Windows host's services answer otherwise; null: the same
  const char* err;
  int status;
  bool underWine;  // part of the subset run under Wine
  Environment env = {};
};

const Case kCases[] = {
    // The forms, a time, the UTC marker and what it does to the zone directives.
    {"2024-02-29,%F %A %B", "2024-02-29 Thursday February\n", nullptr, "", 0, true},
    {"2024-W05-3,%F %a %b", "2024-01-31 Wed Jan\n", nullptr, "", 0, true},
    {"2026-W53-7,%F", "2027-01-03\n", nullptr, "", 0, false},
    {"2024-060,%F %j", "2024-02-29 060\n", nullptr, "", 0, true},
    {"2024-01-01T10:30:15.5,%T.%L", "10:30:15.500\n", nullptr, "", 0, true},
    {"  2024-01-01   10:30 ;%H%M", "1030\n", nullptr, "", 0, false},
    {"2024-02-29 10:00 Z,%H %z %#Z %Z", "10 +0000 Z UTC\n", "10 +0000 Z Coordinated Universal Time\n", "", 0, true},
    {"2024-02-29,100%% %d,%m", "100% 29,02\n", nullptr, "", 0, true},
    // Zone and locale services: a zone without daylight saving time, a locale's names.
    {"2024-02-29,%z %#Z %Z", "+0530 - IST\n", "+0530 - India Standard Time\n", "", 0, true, {{"TZ", "Asia/Kolkata"}}},
    {"2024-02-29,%x", "02/29/24\n", "2/29/2024\n", "", 0, true},
    {"2024-02-29,%A %B", "Donnerstag Februar\n", nullptr, "", 0, true, {{"LC_ALL", "de_DE.UTF-8"}}},
    // Local times that the clocks skip are read with the offset in force before the
    // change, and so show as the time as far past it; those they show twice are taken at
    // their first occurrence: alike on both builds.
    {"2024-03-10 02:30,%T %z %Z %s",
     "03:30:00 -0400 EDT 1710055800\n",
     "03:30:00 -0400 Eastern Daylight Time 1710055800\n",
     "",
     0,
     true,
     {{"TZ", "America/New_York"}}},
    {"2024-11-03 01:30,%z %s", "-0400 1730611800\n", nullptr, "", 0, true, {{"TZ", "America/New_York"}}},
    {"2024-11-03 02:30,%z %s", "-0500 1730619000\n", nullptr, "", 0, true, {{"TZ", "America/New_York"}}},
    {"2024-03-31 02:30,%T %z %s", "03:30:00 +0200 1711848600\n", nullptr, "", 0, true, {{"TZ", "Europe/Berlin"}}},
    {"2024-10-27 02:30,%z %s", "+0200 1729989000\n", nullptr, "", 0, true, {{"TZ", "Europe/Berlin"}}},
    {"2024-10-06 02:30,%T %z %s", "03:30:00 +1100 1728145800\n", nullptr, "", 0, true, {{"TZ", "Australia/Sydney"}}},
    {"2024-04-07 02:30,%z %s", "+1100 1712417400\n", nullptr, "", 0, true, {{"TZ", "Australia/Sydney"}}},
    // Lord Howe's half hour, skipped and shown twice.
    {"2024-10-06 02:15,%T %z %s",
     "02:45:00 +1100 1728143100\n",
     nullptr,
     "",
     0,
     false,
     {{"TZ", "Australia/Lord_Howe"}}},
    {"2024-04-07 01:45,%z %s", "+1100 1712414700\n", nullptr, "", 0, false, {{"TZ", "Australia/Lord_Howe"}}},
    // The same hours in the form of logs, which is read by position, through formats of
    // unmodified directives, which render without checks.
    {"2024-03-31 02:30:00,%F %T %z %s",
     "2024-03-31 03:30:00 +0200 1711848600\n",
     nullptr,
     "",
     0,
     true,
     {{"TZ", "Europe/Berlin"}}},
    {"2024-10-27 02:30:00,%F %H:%M:%S %z %s",
     "2024-10-27 02:30:00 +0200 1729989000\n",
     nullptr,
     "",
     0,
     true,
     {{"TZ", "Europe/Berlin"}}},
    {"2024-10-06 02:15:00,%T %z %s",
     "02:45:00 +1100 1728143100\n",
     nullptr,
     "",
     0,
     false,
     {{"TZ", "Australia/Lord_Howe"}}},
    // Errors: the message after the prefix, the caret display, nothing on standard output.
    {"2024-13-01,%F", "", nullptr, "Horalin plugin: Month must be 1 - 12: 13\n", 1, true},
    {"2024-01-01 10,%H", "", nullptr,
     "Horalin plugin: Syntax error (expected a colon)\n\n2024-01-01 10,%H\n             ^\n", 1, true},
    {"  2024-02-29", "", nullptr, "Horalin plugin: Syntax error (expected a comma)\n\n  2024-02-29\n            ^\n", 1,
     true},
    {"9999-W52-6,%F", "", nullptr,
     "Horalin plugin: Date out of range: 9999-W52-6 \n   (Calendar year would be 10000)\n", 1, true},
    {"2024-W53-1,%F", "", nullptr, "Horalin plugin: Week number must be 1 - 52: 53\n", 1, false},
    {"+99999999999,%F", "", nullptr, "Horalin plugin: Bad date offset\n\n+99999999999,%F\n^\n", 1, false},
    {"+3000000,%F", "", nullptr, "Horalin plugin: Date out of range: +3000000\n", 1, false},
    {" ", "", nullptr, "Horalin plugin: Missing date and time\n", 1, false},
    {"2024-02-29,", "", nullptr, "Horalin plugin: Missing format string\n", 1, false},
    // Inside a batch file the location stands between the prefix and the message.
    {"x,%F",
     "",
     nullptr,
     "Horalin plugin: C:\\jobs\\100% sure.btm [12]  Bad year\n\nx,%F\n^\n",
     1,
     true,
     {{"_batch", "1"}, {"_batchname", "C:\\jobs\\100% sure.btm"}, {"_batchline", "12"}}},
};

TEST(DatefmtCommand, FormsErrorsAndPlatformServices) {
  for (const Case& c : kCases) {
    if (UnderWine() && !c.underWine) continue;
    Result r = RunHoralin({"datefmt", c.argument}, c.env);
    EXPECT_EQ(r.status, c.status) << c.argument;
    EXPECT_EQ(r.out, UnderWine() && c.wineOut ? c.wineOut : c.out) << c.argument;
    EXPECT_EQ(r.err, c.err) << c.argument;
  }
}

// The date `days` from today in a zone `offset` seconds east of UTC.
std::string DateFromToday(int days, long offset) {
  time_t when = time(nullptr) + offset + days * 86400L;
  tm t;
  gmtime_r(&when, &t);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return text;
}

TEST(DatefmtCommand, DayOffsetsCountFromTheSystemsToday) {
  struct Relative {
    const char* argument;
    int days;
    const char* suffix;
    bool utc;
  } cases[] = {
      {"+0,%F", 0, "", false},   {"+1T12:00,%F %R", 1, " 12:00", false}, {"-2,%F", -2, "", false},
      {"+-2,%F", -2, "", false}, {"-1 Z,%F %z", -1, " +0000", true},
  };
  // Far east of UTC, so that the local date and the UTC date differ for most of the day.
  const char* zone = UnderWine() ? "UTC" : "Etc/GMT-14";
  long offset = UnderWine() ? 0 : 14 * 3600;
  for (const Relative& c : cases) {
    if (UnderWine() && c.days == -2) continue;
    for (int attempt = 0; attempt < 3; ++attempt) {  // again if midnight passed meanwhile
      std::string before = DateFromToday(c.days, c.utc ? 0 : offset);
      Result r = RunHoralin({"datefmt", c.argument}, {{"TZ", zone}});
      if (DateFromToday(c.days, c.utc ? 0 : offset) != before) continue;
      EXPECT_EQ(r.status, 0) << c.argument << r.err;
      EXPECT_EQ(r.out, before + c.suffix + "\n") << c.argument;
      break;
    }
  }
}

TEST(DatefmtLines, AlignedOutputAndNumberedErrors) {
  const std::string input =
      "2024-02-29\r\n"
      "2024-13-01\n"
      "\n"
      "2024-W05-3 10:30:00 Z\n"
      "2024-01-01;x\n"
      "1601-001";
  Result r = RunHoralin({"datefmt", "--lines", "%F %T %V"}, {}, input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "2024-02-29 00:00:00 09\n\n\n2024-01-31 10:30:00 05\n\n1601-01-01 00:00:00 01\n");
  EXPECT_EQ(r.err,
            "Horalin plugin: standard input [2]  Month must be 1 - 12: 13\n"
            "Horalin plugin: standard input [3]  Missing date and time\n"
            "Horalin plugin: standard input [5]  Unexpected \";\" after the date and time\n");
}

TEST(DatefmtLines, AllGoodExitsZeroAndOverridesABatchLocation) {
  Result good = RunHoralin({"datefmt", "--lines", "%j"}, {}, "2024-12-31\n2023-12-31\n");
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.out, "366\n365\n");
  EXPECT_EQ(good.err, "");

  Result bad = RunHoralin({"datefmt", "--lines", "%F"},
                          {{"_batch", "1"}, {"_batchname", "job.btm"}, {"_batchline", "3"}}, "2024-01-01 10\n");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "\n");
  EXPECT_EQ(bad.err,
            "Horalin plugin: standard input [1]  Syntax error (expected a colon)\n\n2024-01-01 10\n"
            "             ^\n");
}

// Lines of one year, then another, then the first again: each line's offset is its own
// year's (both builds keep each year's zone rules between lines). Daylight saving time
// began on 2 April in 2006 and on 11 March from 2007 on.
TEST(DatefmtLines, EachLineInTheZoneRulesOfItsYear) {
  Result r = RunHoralin({"datefmt", "--lines", "%z %s"}, {{"TZ", "America/New_York"}},
                        "2024-01-15 12:00\n2024-07-15 12:00\n2023-07-15 12:00\n2023-01-15 12:00\n"
                        "2024-11-03 01:30\n2024-03-10 02:30\n2006-03-20 12:00\n2024-03-20 12:00\n"
                        "2007-03-20 12:00\n2006-03-20 12:00\n2024-11-03 01:30:00\n2024-03-10 02:30:00\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "-0500 1705338000\n-0400 1721059200\n-0400 1689436800\n-0500 1673802000\n-0400 1730611800\n"
            "-0400 1710055800\n-0500 1142874000\n-0400 1710950400\n-0400 1174406400\n-0500 1142874000\n"
            "-0400 1730611800\n-0400 1710055800\n");
}

TEST(DatefmtLines, LongLinesAndManyLines) {
  if (UnderWine()) GTEST_SKIP() << "the POSIX host covers the line reader";
  std::string input;
  for (int i = 0; i < 20000; ++i) input += "2024-W01-1 12:00\n";
  input += std::string(100000, ' ') + "2024-01-01\n2024-01-02\n";
  Result r = RunHoralin({"datefmt", "--lines", "%F"}, {}, input);
  EXPECT_EQ(r.status, 1);
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "2024-01-01\n";
  expected += "\n2024-01-02\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "Horalin plugin: standard input [20001]  Line longer than 8188 characters\n");
}

TEST(DatefmtLines, CommandLineMistakes) {
  struct Mistake {
    std::vector<std::string> args;
    std::string err;
  } mistakes[] = {
      {{"datefmt", "--lines", ""}, "horalin: the FORMAT of datefmt --lines is empty\nTry 'horalin --help'.\n"},
      {{"datefmt", "--lines"}, "horalin: datefmt --lines takes one FORMAT\nTry 'horalin --help'.\n"},
      // A word that is no switch by the program's rule (restamp takes it for a file) is no
      // switch before the FORMAT either.
      {{"datefmt", "--lines", "/var/x", "%F"}, "horalin: datefmt --lines takes one FORMAT\nTry 'horalin --help'.\n"},
      {{"datefmt", "2024-01-01,%F", "x"},
       "horalin: datefmt takes one argument: \"DATE,FORMAT\"\nTry 'horalin --help'.\n"},
  };
  for (const Mistake& c : mistakes) {
    Result r = RunHoralin(c.args, {}, "2024-01-01\n");
    EXPECT_EQ(r.status, 2) << c.args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
}

// Input that cannot be read: the system's own text, with the prefix of every message
// about the input.
TEST(DatefmtLines, ReadErrorsShowTheSystemsText) {
  if (UnderWine()) GTEST_SKIP() << "POSIX input redirections";
  const char* program = std::getenv("HORALIN_PROGRAM");
  struct Failure {
    const char* redirection;
    const char* text;
  } failures[] = {{"</", "Is a directory"}, {"<&-", "Bad file descriptor"}};
  for (const Failure& c : failures) {
    Result r = RunProgram({"/bin/sh", "-c", std::string("exec \"$0\" datefmt --lines %F ") + c.redirection,
                           program ? program : "horalin"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              std::string("Horalin plugin: standard input [1]  Error reading standard input: \"") + c.text + "\"\n");
  }
}

}  // namespace
}  // namespace horalin::e2e
