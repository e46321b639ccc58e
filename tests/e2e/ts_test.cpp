// The TS command as a user runs it: options, stamps, encodings, errors, the footer and
// the latency of a real pipe. The Windows build under Wine runs a small representative
// subset (each start there is slow).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/version.h"
#include "tests/e2e/process.h"
#include "tests/e2e/stamped.h"
#include "tests/support/utf16_bytes.h"

namespace horalin::e2e {
namespace {

Result Ts(const Strings& args, const std::string& input = "",
          std::vector<std::pair<std::string, std::string>> env = {}) {
  return Command("ts", args, input, std::move(env));
}

using testing::Utf16Be;
using testing::Utf16Le;

std::string TodayUtc(int daysLater = 0) {
  time_t now = time(nullptr) + daysLater * 86400;
  tm t;
  gmtime_r(&now, &t);
  char text[16];
  strftime(text, sizeof text, "%Y-%m-%d", &t);
  return text;
}

TEST(Ts, DefaultStampsEachLine) {
  Result r = Ts({}, "one\r\ntwo\n\n100% %s\tend\nlast");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(TextsAfterStamps(r.out, kFull), (Strings{"one", "two", "", "100% %s\tend", "last"}));
  std::string date = r.out.substr(0, 10);
  EXPECT_TRUE(date == TodayUtc() || date == TodayUtc(-1)) << date;  // TZ is UTC
  // Line ends are the host's: CR LF from the Windows program, LF from the POSIX one.
  size_t crlf = 0;
  for (size_t at = 0; (at = r.rawOut.find("\r\n", at)) != std::string::npos; ++at) ++crlf;
  EXPECT_EQ(crlf, UnderWine() ? 5u : 0u);
  // A line end in the stamp is the host's too, lines going as bytes or not.
  r = Ts({R"(a\r\nb)"}, "x\n");
  EXPECT_EQ(r.rawOut, UnderWine() ? "a\r\nb x\r\n" : "a\nb x\n");
}

TEST(Ts, DateAndTimeOptionsChooseTheDefaultFormat) {
  POSIX_ONLY();
  struct Case {
    Strings args;
    std::string stamp;
  } cases[] = {
      {{"/D"}, kDate},
      {{"/T"}, kTime},
      {{"/D", "/T"}, kFull},
      {{"/t", "/d"}, kFull},
      {{"/D/T"}, kFull},
      {{"/D", "%Y"}, R"(\d{4})"},  // a format wins over /D and /T
      {{"%Y", "/T"}, R"(\d{4})"},
      {{"   "}, kFull},  // blanks only: the default
      {{"%%"}, "%"},     // a percent sign is written once
      {{"-x"}, "-x"},    // a format, not an option
      {{R"("/x%Y")"}, R"(/x\d{4})"},
      {{R"("%H"h)"}, R"(\d\dh)"},
      {{R"("")", "%Y"}, R"(\d{4})"},  // the first format became empty: the second is taken
  };
  for (const Case& c : cases) {
    Result r = Ts(c.args, "text\n");
    EXPECT_EQ(r.status, 0) << ::testing::PrintToString(c.args) << r.err;
    EXPECT_EQ(TextsAfterStamps(r.out, c.stamp), Strings{"text"}) << ::testing::PrintToString(c.args);
  }
}

TEST(Ts, ElapsedTimes) {
  struct Case {
    Strings args;
    std::string stamp;
    bool wine;
  } cases[] = {
      {{"/I", "/S", "/F"}, kElapsed + " " + kElapsed, true},
      {{"/I"}, kElapsed, false},
      {{"/s"}, kElapsed, false},
      {{"/I", " "}, " " + kElapsed, false},  // a format of one blank stays
      {{"/I", "/S", "%H:%M"}, R"(\d\d:\d\d )" + kElapsed + " " + kElapsed, false},
      {{"/S", "/D"}, kDate + " " + kElapsed, false},
  };
  for (const Case& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Result r = Ts(c.args, "a\nb\n");
    EXPECT_EQ(r.status, 0);
    Strings expected = {"a", "b"};
    if (c.args.back() == "/F") expected.push_back("---- End Of Pipe ----");
    EXPECT_EQ(TextsAfterStamps(r.out, c.stamp), expected) << ::testing::PrintToString(c.args);
  }
}

TEST(Ts, FooterAndEmptyInput) {
  Result r = Ts({}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  r = Ts({"/F"}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(TextsAfterStamps(r.out, kFull), Strings{"---- End Of Pipe ----"});
  r = Ts({"/f", "/T"}, "x");
  EXPECT_EQ(TextsAfterStamps(r.out, kTime), (Strings{"x", "---- End Of Pipe ----"}));
}

TEST(Ts, LocalTimeOrUtc) {
  POSIX_ONLY();
  struct Case {
    Strings args;
    std::string stamp;
  } cases[] = {{{"%z"}, "\\+0530"}, {{"/U", "%z"}, "\\+0000"}, {{"/utc", "%z"}, "\\+0000"}, {{"%z", "/u"}, "\\+0000"}};
  for (const Case& c : cases) {
    Result r = Ts(c.args, "x\n", {{"TZ", "Asia/Kolkata"}});
    EXPECT_EQ(TextsAfterStamps(r.out, c.stamp), Strings{"x"}) << ::testing::PrintToString(c.args);
  }
}

TEST(Ts, ArgumentErrors) {
  struct Case {
    Strings args;
    std::string message;
    bool wine;
  } cases[] = {
      {{"/X"}, "Unknown option: \"/X\"", true},
      {{"/x", "/?"}, "Unknown option: \"/X\"", false},
      {{"/CP"}, "Bad code page: \"/CP\"", false},
      {{"/CP:"}, "Bad code page: \"/CP:\"", false},
      {{"/cp:12x"}, "Bad code page: \"/CP:12X\"", true},
      {{R"(/CP:"1252")"}, "Bad code page: \"/CP:\"1252\"\"", false},
      {{"/CP:12345"}, "Code page not supported: 12345", true},
      {{"/U:XYZ,1"}, "Unknown encoding: \"/U:XYZ\"", false},
      {{"/utc:1"}, "Unknown encoding: \"/UTC:1\"", false},
      {{"/U:CP99X"}, "Bad code page: \"/U:CP99X\"", false},
      {{"/U=CP12345"}, "Code page not supported: 12345", false},
      // The encoding's name as each "/U" row reads it: after "/U" and up to two ":" or "=",
      // after "/UNICODE" and one, else from the switch's "U" on.
      {{"/U:=CP99X"}, "Bad code page: \"/U:=CP99X\"", false},
      {{"/unicodecp99x"}, "Bad code page: \"/UNICODECP99X\"", false},
      {{"/UNICODE::CP1252"}, "Unknown encoding: \"/UNICODE::CP1252\"", false},
      {{"/ucp1252"}, "Unknown encoding: \"/UCP1252\"", false},
      {{"%H", "b"}, "Syntax error: \"B\"", false},
      {{"/D", "/bad"}, "Unknown option: \"/BAD\"", false},
      {{"/Dx"}, "Unknown option: \"/DX\"", false},  // the whole argument, not its start
      // Switches of other commands: run's, restamp's.
      {{"/m"}, "Unknown option: \"/M\"", true},
      {{"/FORM:%F"}, "Unknown option: \"/FORM:%F\"", false},
      {{"/R"}, "Unknown option: \"/R\"", false},
  };
  for (const Case& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Result r = Ts(c.args, "never read\n");
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.out, "") << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, "Horalin plugin: " + c.message + "\n");
  }
}

// Every argument reaches TS as it was given, or is refused with the reason.
TEST(Ts, ArgumentsArePassedAsGiven) {
  struct Case {
    Strings args;
    std::string stamp;  // empty: refused with `reason`
    std::string reason;
  } cases[] = {
      {{"say hi %Y"}, R"(say hi \d{4})", ""},
      {{R"("a b"c%Y)"}, R"(a bc\d{4})", ""},  // the quotes hold the blank
      {{"/D", R"(%Y")"}, R"(\d{4})", ""},     // an open quote at the end
      {{R"(say "hi there" %H)"}, "", "white space outside its double quotes would split it"},
      {{R"(%H")", "/D"}, "", "its unclosed double quote would join the arguments after it"},
      {{R"("%H )"}, "", "white space at its end would be dropped"},
  };
  for (const Case& c : cases) {
    if (UnderWine() && c.args.size() > 1) continue;
    Result r = Ts(c.args, "text\n");
    if (!c.stamp.empty()) {
      EXPECT_EQ(r.status, 0) << c.args[0] << r.err;
      EXPECT_EQ(TextsAfterStamps(r.out, c.stamp), Strings{"text"}) << c.args[0];
      continue;
    }
    EXPECT_EQ(r.status, 2) << c.args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "horalin: ts cannot take the argument '" + c.args[0] + "' unchanged: " + c.reason +
                         "\nTry 'horalin ts --help'.\n");
  }
}

TEST(Ts, ErrorsInsideABatchFileShowItsLocation) {
  POSIX_ONLY();
  Result r = Ts({"/X"}, "", {{"_batch", "1"}, {"_batchname", "C:\\jobs\\stamp.btm"}, {"_batchline", "7"}});
  EXPECT_EQ(r.err, "Horalin plugin: C:\\jobs\\stamp.btm [7]  Unknown option: \"/X\"\n");
}

TEST(Ts, AcceptedOptions) {
  POSIX_ONLY();
  for (const char* option : {"/cp:oem",   "/CP=ansi",     "/CP1252", "/CP:0x4E4", "/CP:0o2344", "/CP:0",
                             "/CP:437",   "/CP:932",      "/UTF-8",  "/U:UTF8",   "/u=u8",      "/UNICODE:UTF-16BE",
                             "/U=CP1252", "/UNICODE",     "/U:",     "/UNICODE:", "/U:ANSI",    "/u",
                             "/UTC",      "/D",           "/T",      "/I",        "/S",         "/F",
                             "/U16",      "/UNICODEUTF-8"}) {
    Result r = Ts({option}, "");
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.err, "") << option;
  }
}

TEST(Ts, UsageAndVersionLines) {
  const std::string usage = Horalin({"usage", "ts"}).out;  // the syntax part of the help text
  Result r = Ts({"/?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Add time stamps to lines from a pipe. \n\n" + usage);
  r = Ts({"/??"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Add time stamps to lines from a pipe. \n\n" + usage +
                       "\n\t\t\t\tHoralin  " HORALIN_VERSION_TEXT " (x64)\n\t\t\t\tTSCmd.cpp  " HORALIN_VERSION_TEXT
                       "\n");
  if (UnderWine()) return;
  r = Ts({"/D", "/?", "/X"}, "not read\n");  // arguments after it are not looked at
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("not read"), std::string::npos);
  EXPECT_EQ(r.out.rfind("Add time stamps", 0), 0u);
}

TEST(Ts, InputEncodings) {
  const std::u16string text = u"h\u00E9llo \u20AC\r\nw\u00F6rld\n\n\U0001F601";
  const Strings lines = {"h\u00E9llo \u20AC", "w\u00F6rld", "", "\U0001F601"};
  struct Case {
    const char* name;
    Strings args;
    std::string input;
    Strings lines;
    bool wine;
  } cases[] = {
      {"UTF-16LE with BOM", {}, "\xFF\xFE" + Utf16Le(text), lines, true},
      {"UTF-16BE with BOM", {}, "\xFE\xFF" + Utf16Be(text), lines, false},
      {"UTF-16LE", {}, Utf16Le(text), lines, false},
      {"UTF-16BE", {}, Utf16Be(text), lines, false},
      {"UTF-16BE forced", {"/U:UTF-16BE"}, Utf16Be(u"x\ny"), {"x", "y"}, false},
      {"UTF-8 with BOM",
       {},
       "\xEF\xBB\xBF"
       "caf\xC3\xA9\n",
       {"caf\u00E9"},
       true},
      {"UTF-8", {}, "caf\xC3\xA9 \xE2\x82\xAC\n", {"caf\u00E9 \u20AC"}, false},
      {"CP1252", {"/CP:1252"}, "caf\xE9 \x80\n", {"caf\u00E9 \u20AC"}, true},
      {"CP1252 as an encoding", {"/U:CP1252"}, "caf\xE9\n", {"caf\u00E9"}, false},
      {"CP437", {"/CP:437"}, "caf\x82 \xB0\n", {"caf\u00E9 \u2591"}, false},
      {"CP932", {"/CP:932"}, "\x82\xA0\x82\xA2\n", {"\u3042\u3044"}, false},
      {"KOI8-R", {"/CP:20866"}, "\xF0\xD2\xC9\xD7\xC5\xD4\n", {"\u041F\u0440\u0438\u0432\u0435\u0442"}, false},
      // Without a signature: a first line of no 7-bit character, a CR byte inside a
      // character (U+4E0A) and zero bytes at both offsets.
      {"UTF-16LE, no 7-bit character",
       {},
       Utf16Le(u"\u4E2D\u6587\u6587\u672C\u6D4B\u8BD5\r\nok\r\n"),
       {"\u4E2D\u6587\u6587\u672C\u6D4B\u8BD5", "ok"},
       true},
      {"UTF-16BE, U+4E0A",
       {},
       Utf16Be(u"\u4E00\u4E8C\u4E09 \u4E0B\u4E0A\r\nok\r\n"),
       {"\u4E00\u4E8C\u4E09 \u4E0B\u4E0A", "ok"},
       true},
      // Only what UTF-8 decodes without a replacement is UTF-8; a bad byte takes no
      // neighbour with it.
      {"an overlong form is code-page text", {"/CP:1252"}, "Caf\xC0\xA9 ok\n", {"Caf\u00C0\u00A9 ok"}, true},
      {"UTF-8 forced, a bad lead byte", {"/U:UTF-8"}, "a\xE0\r\nb \xF0\x9F z\n", {"a\uFFFD", "b \uFFFD z"}, true},
      {"CR, LF and CR LF", {}, "a\rb\nc\r\nd\n\re", {"a", "b", "c", "d", "", "e"}, true},
      {"Ctrl-Z in a pipe",
       {},
       "a\x1A"
       "b\n",
       {"a\x1A"
        "b"},
       false},
  };
  for (const Case& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Result r = Ts(c.args, c.input);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(TextsAfterStamps(r.out, kFull), c.lines) << c.name;
  }
}

// Text in a double-byte code page: a lead byte never takes a line end or a blank with
// it, and UTF-8 after a first line of ASCII is still told, whatever the code page.
TEST(Ts, CodePageTextKeepsItsLineEndsAndBlanks) {
  const std::pair<std::string, std::string> japanese = {"LC_ALL", "ja_JP.UTF-8"};
  struct Case {
    Strings args;
    std::string input;
    Strings lines;
    std::vector<std::pair<std::string, std::string>> env;
  } cases[] = {
      {{"#"}, "Build started\r\n\xE4\xB8\xAD\xE6\x96\x87 ok\r\n", {"# Build started", "# \u4E2D\u6587 ok"}, {japanese}},
      {{"/CP:932", "#"},
       "Build started\r\n\xE4\xB8\xAD\xE6\x96\x87 ok\r\n",
       {"# Build started", "# \u4E2D\u6587 ok"},
       {}},
      {{"/CP:932", "#"}, "a\x81\nb\n", {"# a\uFFFD", "# b"}, {}},
      {{"/CP:932", "#"}, "a\x81 z\r\n", {"# a\uFFFD z"}, {}},
      {{"/CP:936", "#"}, "a\x81 z\xB0\xA1\r\n", {"# a\uFFFD z\u554A"}, {}},
      {{"/CP:1252", "#"},
       "a\x81"
       "b\n",
       {"# a\u0081b"},
       {}},  // kept as Windows keeps it
      // The ANSI and OEM code pages follow the locale's language in both builds, and a
      // language whose two pages are one reads 8-bit text with it by default.
      {{"/CP:A", "#"},
       "\xC6\xF3\xF0\xED\xE0\xEB\n",
       {"# \u0416\u0443\u0440\u043D\u0430\u043B"},
       {{"LC_ALL", "ru_RU.UTF-8"}}},
      {{"/CP:O", "#"},
       "\x86\xE3\xE0\xAD\xA0\xAB\n",
       {"# \u0416\u0443\u0440\u043D\u0430\u043B"},
       {{"LC_ALL", "ru_RU.UTF-8"}}},
      {{"/CP:A", "#"}, "\xA3\xF3\x64\x9F\n", {"# \u0141\u00F3d\u017A"}, {{"LC_ALL", "pl_PL.UTF-8"}}},
      {{"/CP:O", "#"}, "\x82\x9C\xA0\xE1\n", {"# \u0393\u03B5\u03B9\u03AC"}, {{"LC_ALL", "el_GR.UTF-8"}}},
      {{"/CP:O", "#"}, "caf\x82\n", {"# caf\u00E9"}, {{"LC_ALL", "de_DE.UTF-8"}}},
      {{"/CP:A", "#"}, "caf\x82\n", {"# caf\u201A"}, {{"LC_ALL", "en_US.UTF-8"}}},
      {{"#"}, "\x93\xFA\x96\x7B\x8C\xEA\n", {"# \u65E5\u672C\u8A9E"}, {japanese}},
      {{"#"}, "\xD6\xD0\xCE\xC4\n", {"# \u4E2D\u6587"}, {{"LC_ALL", "zh_CN.UTF-8"}}},
      // 20127: a high byte is read by its low seven bits, so 8A ends a line
      {{"/CP:20127", "#"}, "a\x8A\xE9\xC1\n", {"# a", "# iA"}, {}},
  };
  for (const Case& c : cases) {
    Result r = Ts(c.args, c.input, c.env);
    EXPECT_EQ(r.status, 0) << c.input;
    EXPECT_EQ(SplitLines(r.out), c.lines) << c.input;
  }
}

// ---- Every cell of every code page, read by both builds --------------------------------

// The code pages that either build accepts (those that Windows defines and a few more).
const uint32_t kCodePageCandidates[] = {
    1,     2,     3,     37,    42,    437,   500,   708,   720,   737,   775,   850,   852,   855,   857,   858,
    860,   861,   862,   863,   864,   865,   866,   869,   870,   874,   875,   932,   936,   949,   950,   1026,
    1047,  1140,  1141,  1142,  1143,  1144,  1145,  1146,  1147,  1148,  1149,  1250,  1251,  1252,  1253,  1254,
    1255,  1256,  1257,  1258,  1361,  10000, 10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008, 10010, 10017,
    10021, 10029, 10079, 10081, 10082, 20127, 20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423,
    20424, 20866, 20871, 20880, 20905, 20932, 20936, 20949, 21025, 21866, 28591, 28592, 28593, 28594, 28595, 28596,
    28597, 28598, 28599, 28603, 28605, 38598, 50220, 50221, 50222, 50225, 51932, 51936, 51949, 54936, 65000, 65010};

// One cell a line: every single byte, then every byte from 80 with every byte after it,
// leaving out the bytes that end lines in the code page (scripts/codepage-cells.py makes
// the same input).
Strings CellsOf(uint32_t codePage) {
  std::string ends("\0\n\r", 3);
  if (codePage == 37 || codePage == 500 || codePage == 870 || codePage == 875 || codePage == 1026 || codePage == 1047 ||
      (codePage >= 1140 && codePage <= 1149) || (codePage >= 20273 && codePage <= 20905) || codePage == 21025)
    ends += "\x15\x25";  // EBCDIC
  if (codePage == 20127) ends += "\x80\x8A\x8D";
  Strings cells;
  for (int b = 0; b < 256; ++b)
    if (ends.find(static_cast<char>(b)) == std::string::npos) cells.emplace_back(1, static_cast<char>(b));
  const size_t singles = cells.size();
  for (size_t lead = 0; lead < singles; ++lead)
    if (static_cast<unsigned char>(cells[lead][0]) >= 0x80)
      for (size_t second = 0; second < singles; ++second) cells.push_back({cells[lead][0], cells[second][0]});
  return cells;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
  }
  return hex;
}

// Both builds read the same cells, one a line, in the code page; they must agree on each,
// and the POSIX build must refuse what the Windows build refuses.
TEST(Ts, EveryCellOfEveryCodePageReadsAsTheWindowsBuildReadsIt) {
  if (!UnderWine()) GTEST_SKIP() << "compares the POSIX build with the Windows build";
  const char* posix = std::getenv("HORALIN_POSIX_PROGRAM");
  ASSERT_TRUE(posix) << "HORALIN_POSIX_PROGRAM";
  std::vector<uint32_t> windowsOnly;
  for (uint32_t codePage : kCodePageCandidates) {
    const Strings cells = CellsOf(codePage);
    std::string input = "\xFF\r";
    for (const std::string& cell : cells) input.append(cell).push_back('\r');
    std::string option = "/U:CP";  // forced: a cell that is also well-formed UTF-8 is read with the code page too
    option += std::to_string(codePage);
    Options options;
    options.input = input;
    options.env = {{"TZ", "UTC"}, {"LC_ALL", "C.UTF-8"}};
    const Result p = RunProgram({posix, "ts", option, "#"}, options);
    const Result w = Ts({option, "#"}, input);
    if (p.status != 0 && w.status != 0) continue;
    if (codePage == 54936 && w.status != 0) continue;  // Wine has no GB18030, which Windows reads
    EXPECT_EQ(w.status, 0) << "code page " << codePage << " is accepted by the POSIX build only";
    if (p.status != 0) windowsOnly.push_back(codePage);
    if (p.status != 0 || w.status != 0) continue;
    const Strings pl = SplitLines(p.out), wl = SplitLines(w.out);
    ASSERT_EQ(pl.size(), cells.size() + 1) << codePage;
    ASSERT_EQ(wl.size(), cells.size() + 1) << codePage;
    int differ = 0;
    for (size_t i = 0; i < cells.size(); ++i)
      if (pl[i + 1] != wl[i + 1] && ++differ <= 3)
        ADD_FAILURE() << "code page " << codePage << ", bytes " << Hex(cells[i]) << ": POSIX '" << pl[i + 1]
                      << "', Windows '" << wl[i + 1] << "'";
    EXPECT_EQ(differ, 0) << "code page " << codePage;
  }
  std::string refused;
  for (uint32_t codePage : windowsOnly) refused.append(1, ' ').append(std::to_string(codePage));
  RecordProperty("RefusedByThePosixBuildOnly", refused);
}

// The reader's property with random block sizes (the unit tests check it on POSIX) over
// every code page that the Windows build accepts.
TEST(Ts, EveryCodePageReadsPieceByPieceOnWindows) {
  if (!UnderWine()) GTEST_SKIP() << "for the Windows build";
  Horalin({"--version"});  // Wine started as the other tests start it
  Options options;
  options.env = {{"WINEDEBUG", "-all"}, {"WINEPREFIX", WindowsBuildDir() + "/wineprefix"}};
  const Result r = RunProgram({"/usr/lib/wine/wine64", WindowsBuildDir() + "/tests/code_page_property.exe"}, options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(" code pages checked, 0 failed"), std::string::npos) << r.out;
}

// Pieces of at most 32,767 bytes, each ending between two characters, on both builds.
TEST(Ts, LongLinesAreSplitNotLost) {
  Result r = Ts({"/T"}, std::string(40000, 'x') + "\n" + std::string(32767, 'y') + "\nz\n");
  EXPECT_EQ(TextsAfterStamps(r.out, kTime),
            (Strings{std::string(32767, 'x'), std::string(7233, 'x'), std::string(32767, 'y'), "z"}));
  std::string chinese;
  for (int i = 0; i < 20000; ++i) chinese += "\u4E2D";
  r = Ts({"/T"}, chinese + "\n");
  EXPECT_EQ(TextsAfterStamps(r.out, kTime), (Strings{chinese.substr(0, 32766), chinese.substr(32766)}));
  std::string doubleByte;  // U+4E2D in code page 932
  for (int i = 0; i < 20000; ++i) doubleByte += "\x92\x86";
  r = Ts({"/T", "/CP:932"}, doubleByte + "\n");
  EXPECT_EQ(TextsAfterStamps(r.out, kTime), (Strings{chinese.substr(0, 3 * 16383), chinese.substr(3 * 16383)}));
}

TEST(Ts, ReadErrorIsReportedAfterTheLinesAndBeforeTheFooter) {
  POSIX_ONLY();
  // A directory as standard input: every read fails.
  const char* program = std::getenv("HORALIN_PROGRAM");
  Result r = RunProgram({"/bin/sh", "-c", "exec \"$0\" ts /F < /", program ? program : "horalin"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Horalin plugin: Error reading from pipe: \"Is a directory\"\n");
  EXPECT_EQ(TextsAfterStamps(r.out, kFull), Strings{"---- End Of Pipe ----"});
}

// ---- A real pipe with a writer that pauses between lines ---------------------------------

Child StartTs(const Strings& args, bool nonBlockingInput = false,
              const std::vector<std::pair<std::string, std::string>>& env = {}, const char* command = "ts") {
  StartOptions options;
  options.env = env;
  options.errorPipe = false;
  options.nonBlockingInput = nonBlockingInput;
  Strings words{command};
  words.insert(words.end(), args.begin(), args.end());
  const Strings argv = HoralinCommand(words, &options.env);
  return StartProgram(argv, options);
}

// Reads from the child until a whole line has come or the time is up; "" on time-out.
std::string ReadLine(int fd, std::string* pending, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    size_t end = pending->find('\n');
    if (end != std::string::npos) {
      std::string line = pending->substr(0, end);
      pending->erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return "";
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return "";
    pending->append(buffer, static_cast<size_t>(n));
  }
}

// Ends TS's input and expects nothing more, then its end with status 0.
void ExpectQuietEnd(Child& child, std::string* pending) {
  close(child.in);
  EXPECT_EQ(ReadLine(child.out, pending, std::chrono::milliseconds(30000)), "");
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void WriteLinesSlowly(bool nonBlockingInput) {
  Child child = StartTs({"/I"}, nonBlockingInput);
  std::string pending;
  const std::regex stamped("^" + kElapsed + " (line \\d)$");
  for (int i = 1; i <= 3; ++i) {
    if (i > 1) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string text = "line " + std::to_string(i) + "\n";
    ASSERT_EQ(write(child.in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    // The first line also waits for the program to start (slow under Wine).
    auto limit = std::chrono::milliseconds(i == 1 ? 60000 : 1000);
    std::string line = ReadLine(child.out, &pending, limit);
    ASSERT_TRUE(std::regex_match(line, stamped)) << "line " << i << " came late or wrong: '" << line << "'";
    if (i > 1) {  // stamped when it came: about 0.3 s after the line before
      int ms = std::stoi(line.substr(6, 2)) * 1000 + std::stoi(line.substr(9, 3));
      EXPECT_GE(ms, 250) << line;
    }
  }
  ExpectQuietEnd(child, &pending);
}

TEST(Ts, EachLineIsWrittenAsSoonAsItCame) { WriteLinesSlowly(false); }

// The first line, whose line end is the last byte written so far, waits only briefly for
// the byte after it, which could show it to be UTF-16.
TEST(Ts, TheFirstLineWaitsOnlyBrieflyForItsEncoding) {
  Child child = StartTs({"X"});
  std::this_thread::sleep_for(std::chrono::milliseconds(UnderWine() ? 3000 : 300));  // reading by then
  ASSERT_EQ(write(child.in, "hi\n", 3), 3);
  std::string pending;
  EXPECT_EQ(ReadLine(child.out, &pending, std::chrono::milliseconds(UnderWine() ? 5000 : 2000)), "X hi");
  ExpectQuietEnd(child, &pending);
}

// The same bytes give the same lines however the pipe delivers them: UTF-16 without a
// signature, with characters that have a zero low byte, of which the first read holds 1,
// 5 or all bytes and later ones a few.
TEST(Ts, TheEncodingIsTheSameHoweverThePipeDeliversIt) {
  const std::string bytes = Utf16Le(u"h\u00E9llo \U0001F600\r\nw\u4E00\u0100\r\n");
  for (size_t first : {size_t{1}, size_t{5}, bytes.size()}) {
    Child child = StartTs({"X"});
    std::this_thread::sleep_for(std::chrono::milliseconds(UnderWine() ? 3000 : 300));  // reading by then
    for (size_t at = 0; at < bytes.size();) {
      const size_t n = at == 0 ? first : std::min<size_t>(3, bytes.size() - at);
      ASSERT_EQ(write(child.in, bytes.data() + at, n), static_cast<ssize_t>(n));
      at += n;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    close(child.in);
    std::string pending;
    Strings lines;
    for (std::string line; !(line = ReadLine(child.out, &pending, std::chrono::milliseconds(60000))).empty();)
      lines.push_back(line);
    close(child.out);
    int status = 0;
    waitpid(child.pid, &status, 0);
    EXPECT_EQ(lines, (Strings{"X h\u00E9llo \U0001F600", "X w\u4E00\u0100"})) << "a first read of " << first;
  }
}

TEST(Ts, InputLeftNonBlockingIsWaitedFor) {
  POSIX_ONLY();
  WriteLinesSlowly(true);
}

// The wall clock set back an hour between two lines (as NTP or a user may do) moves the
// stamps but not the times elapsed, which count on the steady clock.
TEST(Ts, ElapsedTimesSurviveAWallClockSetBack) {
  POSIX_ONLY();
  const char* library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  if (access(library, R_OK) != 0) GTEST_SKIP() << "needs libfaketime (Debian package faketime)";
  if (std::getenv("HORALIN_VALGRIND_PROGRAM")) GTEST_SKIP() << "a preloaded clock and valgrind do not mix";
  char dir[] = "/tmp/horalin-clock-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string offset = std::string(dir) + "/offset";
  auto setOffset = [&](const char* text) {
    FILE* f = std::fopen(offset.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
  };
  setOffset("+0\n");
  Child child = StartTs({"/I", "/S", "%H:%M:%S"}, false,
                        {{"LD_PRELOAD", library},
                         {"FAKETIME_TIMESTAMP_FILE", offset},
                         {"FAKETIME_NO_CACHE", "1"},
                         {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
                         {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
  std::string pending;
  const std::regex stamped("^(\\d\\d):(\\d\\d):(\\d\\d) (" + kElapsed + ") (" + kElapsed + ") (line \\d)$");
  auto seconds = [](const std::smatch& m, size_t at) {
    return std::stoi(m[at]) * 3600 + std::stoi(m[at + 1]) * 60 + std::stoi(m[at + 2]);
  };
  auto milliseconds = [](const std::string& elapsed) {
    return std::stoll(elapsed.substr(0, elapsed.size() - 10)) * 3600000 +
           std::stoi(elapsed.substr(elapsed.size() - 9, 2)) * 60000 +
           std::stoi(elapsed.substr(elapsed.size() - 6, 2)) * 1000 + std::stoi(elapsed.substr(elapsed.size() - 3));
  };
  ASSERT_EQ(write(child.in, "line 1\n", 7), 7);
  std::string first = ReadLine(child.out, &pending, std::chrono::milliseconds(60000));
  setOffset("-3600\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(write(child.in, "line 2\n", 7), 7);
  std::string second = ReadLine(child.out, &pending, std::chrono::milliseconds(5000));
  close(child.in);
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  std::remove(offset.c_str());
  rmdir(dir);

  std::smatch a, b;
  ASSERT_TRUE(std::regex_match(first, a, stamped)) << first;
  ASSERT_TRUE(std::regex_match(second, b, stamped)) << second;
  // The stamps went back an hour (so the wall clock really was set back)...
  int wallStep = (seconds(a, 1) - seconds(b, 1) + 86400) % 86400;
  EXPECT_TRUE(wallStep >= 3598 && wallStep <= 3600) << first << " / " << second;
  // ...and the times elapsed show the real 0.3 s between the lines, on both counts.
  long long incremental = milliseconds(b[4]), cumulative = milliseconds(b[5]) - milliseconds(a[5]);
  EXPECT_TRUE(incremental >= 250 && incremental < 5000) << second;
  EXPECT_TRUE(cumulative >= 250 && cumulative < 5000) << first << " / " << second;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The clock stopped at instants in the hours that the clocks show twice: each stamp names
// the offset, name and instant in force, on the first pass and on the second, and a
// stamp that restamp and datefmt --lines read back in the zone (the local time alone)
// comes out as its first pass.
TEST(Ts, RepeatedHoursStampTheTrueInstant) {
  POSIX_ONLY();
  const char* library = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
  if (access(library, R_OK) != 0) GTEST_SKIP() << "needs libfaketime (Debian package faketime)";
  if (std::getenv("HORALIN_VALGRIND_PROGRAM")) GTEST_SKIP() << "a preloaded clock and valgrind do not mix";
  struct Case {
    const char* tz;
    const char* instant;  // the stopped clock, seconds since 1970
    const char* stamp;    // "%F %T.%f %z %Z %s"
  } cases[] = {
      {"Europe/Berlin", "1729989000", "2024-10-27 02:30:00.000000 +0200 CEST 1729989000"},
      {"Europe/Berlin", "1729992600", "2024-10-27 02:30:00.000000 +0100 CET 1729992600"},
      {"America/New_York", "1730611800", "2024-11-03 01:30:00.000000 -0400 EDT 1730611800"},
      {"America/New_York", "1730615400", "2024-11-03 01:30:00.000000 -0500 EST 1730615400"},
      {"Australia/Lord_Howe", "1712414700", "2024-04-07 01:45:00.000000 +1100 +11 1712414700"},
      {"Australia/Lord_Howe", "1712416500", "2024-04-07 01:45:00.000000 +1030 +1030 1712416500"},
      {"Australia/Sydney", "1712417400", "2024-04-07 02:30:00.000000 +1100 AEDT 1712417400"},
      {"Australia/Sydney", "1712421000", "2024-04-07 02:30:00.000000 +1000 AEST 1712421000"},
  };
  for (const Case& c : cases) {
    Result r = Ts({"%F %T.%f %z %Z %s"}, "x\n",
                  {{"TZ", c.tz},
                   {"LD_PRELOAD", library},
                   {"FAKETIME_FMT", "%s"},
                   {"FAKETIME", c.instant},
                   {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
                   {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
    EXPECT_EQ(r.out, std::string(c.stamp) + " x\n") << c.tz << " " << c.instant;
    const std::string local = std::string(c.stamp).substr(0, 19);
    Result back = Command("restamp", {"/FORM:%F %T", "%s"}, local + " x\n", {{"TZ", c.tz}});
    Result lines = Command("datefmt", {"--lines", "%s"}, local + "\n", {{"TZ", c.tz}});
    EXPECT_EQ(back.out.substr(0, back.out.find(' ')), lines.out.substr(0, lines.out.size() - 1)) << c.tz;
  }
}

}  // namespace
}  // namespace horalin::e2e
