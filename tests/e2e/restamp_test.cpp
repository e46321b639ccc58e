// horalin restamp as a user runs it: the stamps already in a log read and written anew,
// files in turn, each in its encoding; its argument errors, and datefmt --lines beside it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/stamped.h"
#include "tests/support/shell.h"
#include "tests/support/utf16_bytes.h"

namespace horalin::e2e {
namespace {

using testing::Utf16Le;

// ---- restamp: the stamps already in a log ------------------------------------------

Result Restamp(const Strings& args, const std::string& input,
               std::vector<std::pair<std::string, std::string>> env = {}) {
  return Command("restamp", args, input, std::move(env));
}

// A log rewritten: its arguments, input and environment, the output, and whether the
// Windows build under Wine runs it too.
struct RestampCase {
  const char* name;
  Strings args;
  std::string input;
  std::vector<std::pair<std::string, std::string>> env;
  std::string out;
  bool wine;
};

void ExpectRestamped(std::initializer_list<RestampCase> cases) {
  for (const RestampCase& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Result r = Restamp(c.args, c.input, c.env);
    EXPECT_EQ(r.status, 0) << c.name;
    // Where the log's own CRs matter, the output as it came.
    EXPECT_EQ(c.out.find('\r') == std::string::npos ? r.out : r.rawOut, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
  }
}

TEST(Restamp, StampsInTheZoneAndItsChanges) {
  ExpectRestamped({
      {"a UTC log in Berlin's time across the change to summer time and back",
       {"%F %T"},
       "2026-03-29T00:59:59Z a\n2026-03-29T01:00:00Z b\n2026-10-25T00:30:00+00:00 c\n2026-10-25 01:30:00.5Z d\n",
       {{"TZ", "Europe/Berlin"}},
       "2026-03-29 01:59:59 a\n2026-03-29 03:00:00 b\n2026-10-25 02:30:00 c\n2026-10-25 02:30:00 d\n",
       false},
      {"a zone file with leap seconds: local time behind by them, as the C library shows it",
       {"%F %T %z %Z %s"},
       "2024-07-01T12:00:00Z a\n",
       {{"TZ", "right/Europe/Berlin"}},
       "2024-07-01 13:59:33 +0200 CEST 1719835200 a\n",
       false},
      {"a daylight name without rules: the posixrules file's changes",
       {"%F %T %z %Z"},
       "2006-04-01T12:00:00Z a\n2024-07-01T12:00:00Z b\n",
       {{"TZ", "AAA3BBB"}},
       "2006-04-01 09:00:00 -0300 AAA a\n2024-07-01 10:00:00 -0200 BBB b\n",
       false},
      {"offsets of a day",
       {"%F %T %z %Z"},
       "2024-07-01T12:00:00Z a\n",
       {{"TZ", "EST24EDT,M3.2.0,M11.1.0"}},
       "2024-06-30 13:00:00 -2300 EDT a\n",
       false},
      {"local stamps named UTC, shown in New York",
       {"/ZONE:UTC", "%H:%M %Z"},
       "2026-03-08 06:59:00 x\n2026-03-08 07:00:00 y\n",
       {{"TZ", "America/New_York"}},
       "01:59 EST x\n03:00 EDT y\n",
       false},
      {"instants whose local time falls before 1601: unchanged and counted, not moved",
       {"/F", "%F %T %z %s"},
       "1601-01-01T00:00:00Z a\n1601-01-01T05:00:00Z b\n",
       {{"TZ", "America/New_York"}},
       "1601-01-01T00:00:00Z a\n1601-01-01 00:03:58 -0456 -11644455600 b\n"
       "---- End Of Log: 1 lines restamped, 1 with a stamp that could not be read ----\n",
       false},
      {"and after 9999",
       {"/F", "%F %T %z %s"},
       "9999-12-31T23:59:59Z a\n9999-12-31T14:59:59Z b\n",
       {{"TZ", "Asia/Tokyo"}},
       "9999-12-31T23:59:59Z a\n9999-12-31 23:59:59 +0900 253402268399 b\n"
       "---- End Of Log: 1 lines restamped, 1 with a stamp that could not be read ----\n",
       false},
  });
}

TEST(Restamp, TimingsAndLinesThatPassUntouched) {
  const std::string build =
      "2026-12-07T17:39:42.125Z configure\n"
      "  cc -c a.c\n"
      "2026-12-07T17:39:43.000Z compile\n"
      "[2026-12-07T17:43:43.000Z] link\n"
      "2026-12-07T17:43:44Z tests\n"
      "2026-13-07T17:43:44Z not a month\n";
  ExpectRestamped({
      {"/I: the step that took four minutes, /S: since the first, /F: the counts",
       {"/I", "/S", "/F"},
       build,
       {},
       "00:00:00.000 00:00:00.000 configure\n  cc -c a.c\n00:00:00.875 00:00:00.875 compile\n"
       "[00:04:00.000 00:04:00.875] link\n00:00:01.000 00:04:01.875 tests\n2026-13-07T17:43:44Z not a month\n"
       "---- End Of Log: 4 lines restamped, 1 with a stamp that could not be read ----\n",
       true},
      {"no stamps: byte for byte",
       {"/I"},
       "caf\xC3\xA9 \xE2\x82\xAC\t \n\n 12:00 noon \n2026-12-07\n[not] a stamp\n\xF0\x9F\x98\x81 last",
       {},
       "caf\xC3\xA9 \xE2\x82\xAC\t \n\n 12:00 noon \n2026-12-07\n[not] a stamp\n\xF0\x9F\x98\x81 last",
       true},
      {"Latin-1, a CR inside a line and CR LF, stamped or not, pass as they came",
       {"/U", "%T"},
       "\xEF\xBB\xBF"
       "2026-12-07T17:39:42Z caf\xE9\r\nno stamp \xE9\rmid\r\n2026-12-07T17:39:43Z \xE9t\xE9\n",
       {},
       "\xEF\xBB\xBF"
       "17:39:42 caf\xE9\r\nno stamp \xE9\rmid\r\n17:39:43 \xE9t\xE9\n",
       true},
      {"numbers: a CSV row is no stamp; a log of numbers is read as numbers, a log of dates keeps its ids",
       {"/U", "%T.%L"},
       "4155550123,John,Doe\n1796665182.25 x\n2026-12-07T17:39:42Z not a number's log\n",
       {},
       "4155550123,John,Doe\n17:39:42.250 x\n2026-12-07T17:39:42Z not a number's log\n",
       true},
      {"a log of dates keeps its ids of ten digits",
       {"/U", "%T"},
       "2026-12-07T17:39:42Z a\n1796665182 id\n1796665182000000 more\n",
       {},
       "17:39:42 a\n1796665182 id\n1796665182000000 more\n",
       true},
  });
}

TEST(Restamp, FractionsZoneWordsAndRepeatedHours) {
  ExpectRestamped({
      {"every digit of a fraction is read: syslog short-precise, Go under /FORM, microseconds since 1970",
       {"/YEAR:2026", "/FORM:%b %e %T", "/FORM:%Y/%m/%d %T", "/FORM:%s", "/U", "%F %T.%i"},
       "Mar 28 23:30:00.319431 db-2 sshd[1]: x\n2026/03/28 23:30:03.179028 go\n1774740602123456789 ns\n",
       {},
       "2026-03-28 23:30:00.319431000 db-2 sshd[1]: x\n2026-03-28 23:30:03.179028000 go\n"
       "2026-03-28 23:30:02.123456789 ns\n",
       true},
      {"zone words: CET decides whatever TZ says; a word that names no zone stays",
       {"/U", "%FT%T.%LZ"},
       "2026-03-29 00:30:00.096 CET [9847] LOG: x\n2026-07-01 12:00:00 CEST y\n2026-07-01 12:00:00 INFO z\n",
       {{"TZ", "America/New_York"}},
       "2026-03-28T23:30:00.096Z [9847] LOG: x\n2026-07-01T10:00:00.000Z y\n2026-07-01T16:00:00.000Z INFO z\n",
       false},
      {"the repeated hour of a local Berlin log, settled by the log's order",
       {"/I", "/U", "%T"},
       "2026-10-25 02:30:00 a\n2026-10-25 02:59:00 b\n2026-10-25 02:10:00 c\n2026-10-25 03:00:00 d\n",
       {{"TZ", "Europe/Berlin"}},
       "00:30:00 00:00:00.000 a\n00:59:00 00:29:00.000 b\n01:10:00 00:11:00.000 c\n02:00:00 00:50:00.000 d\n",
       false},
      {"the same with zone words, in any zone",
       {"/I", "/U", "%T"},
       "2026-10-25 02:59:00 CEST b\n2026-10-25 02:10:00 CET c\n2026-10-25 02:20:00 CEST back\n",
       {},
       "00:59:00 00:00:00.000 b\n01:10:00 00:11:00.000 c\n00:20:00 -00:50:00.000 back\n",
       true},
      {"a zone named by /ZONE (the tz database's, on POSIX), whatever TZ says",
       {"/ZONE:Europe/Berlin", "/U", "%T"},
       "2026-10-25 02:30:00 a\n2026-10-25 02:10:00 b\n",
       {{"TZ", "Asia/Tokyo"}},
       "00:30:00 a\n01:10:00 b\n",
       false},
      {"a clock stepped back: the gap with its minus sign",
       {"/I", "/S"},
       "2026-12-07T17:39:42Z a\n2026-12-07T17:39:40.5Z b\n",
       {},
       "00:00:00.000 00:00:00.000 a\n-00:00:01.500 -00:00:01.500 b\n",
       true},
  });
}

TEST(Restamp, FractionsAndLongStampsMadeOnceASecond) {
  const std::string fractions =
      "2026-12-07T17:39:42.1Z a\n2026-12-07T17:39:42.12Z b\n2026-12-07T17:39:42.123456789Z c\n"
      "2026-12-07T17:39:42,000001+01:00 d\n2026-12-07T17:39:43Z e\n{\"ts\":1796665184.5} f\n";
  std::string accents;  // 240 bytes of UTF-8
  for (int k = 0; k < 120; ++k) accents += "\u00E9";
  ExpectRestamped({
      {"fractions of every width, made once a second: %L, %f and %i, then literal text",
       {"/U", "%T.%L|%f|%i \u00E9"},
       fractions,
       {},
       "17:39:42.100|100000|100000000 \u00E9 a\n17:39:42.120|120000|120000000 \u00E9 b\n"
       "17:39:42.123|123456|123456789 \u00E9 c\n16:39:42.000|000001|000001000 \u00E9 d\n"
       "17:39:43.000|000000|000000000 \u00E9 e\n{\"ts\":\"17:39:44.500|500000|500000000 \u00E9\"} f\n",
       true},
      {"and with a directive after a fraction, or a fraction changed by a modifier",
       {"/U", "%i %L %s|%?L"},
       fractions,
       {},
       "100000000 100 1796665182|100th a\n120000000 120 1796665182|120th b\n123456789 123 1796665182|123rd c\n"
       "000001000 000 1796661582|000th d\n000000000 000 1796665183|000th e\n"
       "{\"ts\":\"500000000 500 1796665184|500th\"} f\n",
       true},
      {"a second made from its minute's stamp only in the same minute and state of the zone: the repeated hour",
       {"%Z %F %H:%M:%S.%L"},
       "2026-10-25T00:30:00.5Z a\n2026-10-25T00:30:01Z b\n2026-10-25T01:30:05Z c\n",
       {{"TZ", "Europe/Berlin"}},
       "CEST 2026-10-25 02:30:00.500 a\nCEST 2026-10-25 02:30:01.000 b\nCET 2026-10-25 02:30:05.000 c\n",
       false},
      {"and a change of offset within a minute (local mean time's seconds)",
       {"%F %H:%M:%S.%L"},
       "1972-01-07T00:44:29Z a\n1972-01-07T00:44:30Z b\n1972-01-07T00:44:31Z c\n",
       {{"TZ", "Africa/Monrovia"}},
       "1972-01-06 23:59:59.000 a\n1972-01-07 00:44:30.000 b\n1972-01-07 00:44:31.000 c\n",
       false},
      {"a long stamp around its fraction",
       {"/U", std::string(100, 'a') + "%T.%L" + accents},
       "2026-12-07T17:39:42.1Z a\n",
       {},
       std::string(100, 'a') + "17:39:42.100" + accents + " a\n",
       true},
      {"and longer after it",
       {"/U", "%T.%L" + accents + "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9"},
       "2026-12-07T17:39:42.1Z a\n",
       {},
       "17:39:42.100" + accents + "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9 a\n",
       true},
  });
}

TEST(Restamp, StampsInsideLinesNamedFormsAndEncodings) {
  ExpectRestamped({
      {"stamps inside the line: the web server's log with the client first, JSON lines",
       {"/U", "%FT%TZ"},
       "203.0.113.8 - - [29/Mar/2026:00:30:02 +0100] \"GET / HTTP/1.1\" 200\n"
       "{\"level\":\"info\",\"ts\":1774740602.5,\"msg\":\"x\"}\n{\"time\":\"2026-03-29T00:30:02Z\",\"msg\":\"y\"}\n",
       {},
       "203.0.113.8 - - [2026-03-28T23:30:02Z] \"GET / HTTP/1.1\" 200\n"
       "{\"level\":\"info\",\"ts\":\"2026-03-28T23:30:02Z\",\"msg\":\"x\"}\n{\"time\":\"2026-03-29T00:30:02Z\",\"msg\":"
       "\"y\"}\n",
       true},
      {"TS's own /T /I output read back; CSV continuation lines untouched",
       {"/I", "/S"},
       "17:39:42.125 00:00:00.000 configure\n4155550123,John,Doe\n  20260329,x\n17:39:43.000 00:00:00.875 compile\n",
       {},
       "00:00:00.000 00:00:00.000 configure\n4155550123,John,Doe\n  20260329,x\n00:00:00.875 00:00:00.875 compile\n",
       true},
      {"a line of any length keeps its one stamp, and every byte",
       {"/U", "%T"},
       "2026-12-07T17:39:42Z " + std::string(100000, 'x') + "\n2026-12-07T17:39:43Z y",
       {},
       "17:39:42 " + std::string(100000, 'x') + "\n17:39:43 y",
       true},
      {"/FORM with literal text and two blanks; the text before the stamp stays",
       {"/FORM:Start-Date: %F  %T", "/U", "%T"},
       "Start-Date: 2026-03-28  23:30:03\nCommandline: apt install x\n",
       {},
       "Start-Date: 23:30:03\nCommandline: apt install x\n",
       true},
      {"UTF-16LE",
       {"/U", "%T"},
       "\xFF\xFE" + Utf16Le(u"2026-12-07T17:39:42Z h\u00E9\n"),
       {},
       "17:39:42 h\u00E9\n",
       true},
      {"code page 1252",
       {"/CP:1252", "/U", "%T"},
       "Dec  7 17:39:42 caf\xE9 \x80\n",
       {},
       "17:39:42 caf\u00E9 \u20AC\n",
       true},
      {"a form named, in a fixed zone",
       {"/FORM:%d/%m/%Y %H:%M:%S", "/ZONE:+01:00", "/U", "%FT%TZ"},
       "07/12/2026 17:39:42 a\n2026-12-07T17:39:42Z b\n",
       {},
       "2026-12-07T16:39:42Z a\n2026-12-07T17:39:42Z b\n",
       true},
      {"Unix times",
       {"/U", "%F %T.%L"},
       "1796665182125 u\n1796665182250000 v\n1796665182375000001 w\n",
       {},
       "2026-12-07 17:39:42.125 u\n2026-12-07 17:39:42.250 v\n2026-12-07 17:39:42.375 w\n",
       true},
      {"web and mail stamps",
       {"/U", "%F %T.%L"},
       "[07/Dec/2026:17:39:42 +0100] w\nMon, 07 Dec 2026 17:39:42 -0100 m\n",
       {},
       "[2026-12-07 16:39:42.000] w\n2026-12-07 18:39:42.000 m\n",
       true},
  });
}

TEST(Restamp, FilesInTurnEachInItsEncoding) {
  POSIX_ONLY();
  char dir[] = "/tmp/horalin-restamp-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string a = std::string(dir) + "/a.log", b = std::string(dir) + "/b.log";
  FILE* f = std::fopen(a.c_str(), "wb");
  std::fputs("2026-12-07T17:39:42Z caf\xC3\xA9\n", f);
  std::fclose(f);
  f = std::fopen(b.c_str(), "wb");
  const std::string utf16 = "\xFF\xFE" + Utf16Le(u"2026-12-07T17:43:42Z w\u00F6rld\n");
  std::fwrite(utf16.data(), 1, utf16.size(), f);
  std::fclose(f);
  // "-" is standard input, in its place among the files; UTF-16 without a byte order mark
  // is told by its zero bytes.
  Result r = Restamp({"/S", a, "-", b, std::string(dir) + "/none.log"}, Utf16Le(u"2026-12-07T17:40:42Z stdin\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "00:00:00.000 caf\u00E9\n00:01:00.000 stdin\n00:04:00.000 w\u00F6rld\n");
  EXPECT_EQ(r.err, "Horalin plugin: Cannot open \"" + std::string(dir) + "/none.log\": No such file or directory\n");
  // Every file named is read, however many.
  Strings many = {"/F", "%T"};
  for (int i = 0; i < 1100; ++i) {
    many.push_back(std::string(dir) + "/m" + std::to_string(i) + ".log");
    f = std::fopen(many.back().c_str(), "wb");
    std::fputs("2026-12-07T17:39:42Z m\n", f);
    std::fclose(f);
  }
  Result all = Restamp(many, "");
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find("---- End Of Log: 1100 lines restamped"), std::string::npos) << all.err;
  std::filesystem::remove_all(dir);
}

TEST(Restamp, ArgumentErrorsAndDatefmtLines) {
  struct Case {
    Strings args;  // after "restamp", or with "datefmt" first
    std::string message;
    int status = 1;
  } cases[] = {
      {{"/ZONE:Mars"},
       "Bad zone: \"Mars\" (LOCAL, UTC, an offset such as +01:00" +
           std::string(UnderWine() ? "" : " or a zone such as Europe/Berlin") + ")"},
      {{"/FORM:%H:%M"}, "The stamp form names no date: \"%H:%M\""},
      {{"/FORM:%F %U"}, "Unknown directive in the stamp form: \"%U\""},  // a week from Sunday: no day
      {{"/FORM:%F", "/FORM:%D", "/FORM:%v", "/FORM:%s", "/FORM:%F %T", "/FORM:%D %T", "/FORM:%v %T", "/FORM:%Q",
        "/FORM:%#Q"},
       "More than 8 stamp forms: \"%#Q\""},
      {{"/year"}, "Bad year: \"\""},  // the name alone, in any case
      {{"/YEAR=99"}, "Bad year: \"99\""},
      {{"/FORMAT:%F"}, "Unknown option: \"/FORMAT:%F\""},                 // the name, then ":" or "="
      {{"/M"}, "Unknown option: \"/M\""},                                 // run's
      {{"datefmt", "--lines", "/R", "%F"}, "Unknown option: \"/R\"", 2},  // restamp's, not datefmt's
      {{"datefmt", "--lines", "/CP:1252", "%F"}, "Unknown option: \"/CP:1252\"", 2},
  };
  for (const Case& c : cases) {
    Options o;
    o.input = "2026-12-07T17:39:42Z never read\n";
    Result r = c.args[0] == "datefmt" ? Horalin(c.args, o) : Restamp(c.args, o.input);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.out, "") << c.args[0];
    EXPECT_EQ(r.err, "Horalin plugin: " + c.message + "\n");
  }

  Options options;
  options.input = "2024-02-29T13:45:30+01:00\nMon, 07 Dec 2026 17:39:42 +0000\n2024-13-01 00:00:00\n";
  Result lines = Horalin({"datefmt", "--lines", "/FORM", "%F %T"}, options);
  EXPECT_EQ(lines.status, 1);
  EXPECT_EQ(lines.out, "2024-02-29 12:45:30\n2026-12-07 17:39:42\n\n");
  EXPECT_EQ(lines.err, "Horalin plugin: standard input [3]  Date and time out of range\n\n2024-13-01 00:00:00\n^\n");
  // Without /FORM: the line as given, not with the format after it.
  Result plain = Horalin({"datefmt", "--lines", "%F"}, options);
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("Horalin plugin: standard input [1]  Unexpected text after the date and time\n\n"
                           "2024-02-29T13:45:30+01:00\n                   ^\n"),
            std::string::npos)
      << plain.err;
  EXPECT_EQ(plain.err.find(",%F"), std::string::npos) << plain.err;
}

// At a console the Windows program shows the bytes of a log as text, a thousand bytes at
// a time: a character that one piece cuts off is joined to the next, not shown as two
// replacement marks. The console is a terminal that script(1) gives Wine.
TEST(Restamp, AConsoleShowsEveryCharacterWhole) {
  if (!UnderWine()) GTEST_SKIP() << "the Windows program's console";
  char dir[] = "/tmp/horalin-console-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string log = std::string(dir) + "/log";
  std::string input;  // each line's é at another place about the 1,024th byte of the output
  for (size_t k = 1005; k <= 1015; ++k)
    input += "2024-01-01T00:00:00Z " + std::string(k, 'a') + "\xC3\xA9\xE6\x97\xA5\n";
  FILE* f = std::fopen(log.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(input.data(), 1, input.size(), f);
  std::fclose(f);
  Options o;
  std::string command;
  for (const std::string& word : HoralinCommand({"restamp", "%F"}, &o.env)) command += testing::ShellQuoted(word) + " ";
  Result r = RunProgram({"/usr/bin/script", "-qec", command + "<" + testing::ShellQuoted(log), "/dev/null"}, o);
  std::filesystem::remove_all(dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.rawOut.find("a\xC3\xA9"), std::string::npos) << r.rawOut;
  EXPECT_EQ(r.rawOut.find("\xEF\xBF\xBD"), std::string::npos) << r.rawOut;
}

}  // namespace
}  // namespace horalin::e2e
