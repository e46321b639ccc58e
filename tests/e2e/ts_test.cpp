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
#include "tests/support/utf16_bytes.h"

namespace horalin::e2e {
namespace {

using Strings = std::vector<std::string>;

const std::string kFull = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";
const std::string kDate = R"(\d{4}-\d\d-\d\d)";
const std::string kTime = R"(\d\d:\d\d:\d\d\.\d{3})";
const std::string kElapsed = R"(\d\d:\d\d:\d\d\.\d{3})";

#define POSIX_ONLY() \
  if (UnderWine()) GTEST_SKIP() << "the Windows build runs a smaller set"

// One of the program's commands, with its arguments, standard input and environment.
Result Command(const char* name, const Strings& args, const std::string& input,
               std::vector<std::pair<std::string, std::string>> env) {
  Strings all = {name};
  all.insert(all.end(), args.begin(), args.end());
  Options options;
  options.input = input;
  options.env = std::move(env);
  return Horalin(all, options);
}

Result Ts(const Strings& args, const std::string& input = "",
          std::vector<std::pair<std::string, std::string>> env = {}) {
  return Command("ts", args, input, std::move(env));
}

Strings SplitLines(const std::string& out) {
  Strings lines;
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out.substr(start, end - start));
  EXPECT_EQ(start, out.size()) << "output does not end with a line end";
  return lines;
}

// The text after each stamp, the stamp matched by `stamp` and followed by one blank.
Strings TextsAfterStamps(const std::string& out, const std::string& stamp) {
  Strings texts;
  const std::regex head("(" + stamp + ") ");  // matched at the start only: lines may be long
  for (const std::string& l : SplitLines(out)) {
    std::smatch m;
    if (!std::regex_search(l, m, head, std::regex_constants::match_continuous)) {
      ADD_FAILURE() << "no stamp /" << stamp << "/ and blank in '" << l.substr(0, 80) << "'";
      continue;
    }
    texts.push_back(l.substr(static_cast<size_t>(m.length(0))));
  }
  return texts;
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

// ---- horalin run: a command's two streams, stamped -----------------------------------------

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

// ---- restamp: the stamps already in a log ------------------------------------------

Result Restamp(const Strings& args, const std::string& input,
               std::vector<std::pair<std::string, std::string>> env = {}) {
  return Command("restamp", args, input, std::move(env));
}

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(Restamp, LogsRewrittenLineByLine) {
  const std::string build =
      "2026-12-07T17:39:42.125Z configure\n"
      "  cc -c a.c\n"
      "2026-12-07T17:39:43.000Z compile\n"
      "[2026-12-07T17:43:43.000Z] link\n"
      "2026-12-07T17:43:44Z tests\n"
      "2026-13-07T17:43:44Z not a month\n";
  const std::string fractions =
      "2026-12-07T17:39:42.1Z a\n2026-12-07T17:39:42.12Z b\n2026-12-07T17:39:42.123456789Z c\n"
      "2026-12-07T17:39:42,000001+01:00 d\n2026-12-07T17:39:43Z e\n{\"ts\":1796665184.5} f\n";
  std::string accents;  // 240 bytes of UTF-8
  for (int k = 0; k < 120; ++k) accents += "\u00E9";
  struct Case {
    const char* name;
    Strings args;
    std::string input;
    std::vector<std::pair<std::string, std::string>> env;
    std::string out;
    bool wine;
  } cases[] = {
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
      {"web and mail stamps",
       {"/U", "%F %T.%L"},
       "[07/Dec/2026:17:39:42 +0100] w\nMon, 07 Dec 2026 17:39:42 -0100 m\n",
       {},
       "[2026-12-07 16:39:42.000] w\n2026-12-07 18:39:42.000 m\n",
       true},
  };
  for (const Case& c : cases) {
    if (UnderWine() && !c.wine) continue;
    Result r = Restamp(c.args, c.input, c.env);
    EXPECT_EQ(r.status, 0) << c.name;
    // Where the log's own CRs matter, the output as it came.
    EXPECT_EQ(c.out.find('\r') == std::string::npos ? r.out : r.rawOut, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
  }
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
  std::system(("rm -rf " + std::string(dir)).c_str());
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

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(Run, ExitStatusAndCommandsThatCannotStart) {
  const std::string talker = std::getenv("HORALIN_TALKER") ? std::getenv("HORALIN_TALKER") : "talker";
  const std::string missing = UnderWine() ? "Z:\\no\\such\\command.exe" : "/no/such/command";
  // The rows run in a folder of their own with: a text file without "#!", a batch file
  // that shows its first arguments, and one found by PATHEXT alone.
  char folder[] = "/tmp/horalin-run-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string dir = folder, windowsDir = "Z:" + std::regex_replace(dir, std::regex("/"), "\\");
  const std::string script = dir + "/plain", batch = windowsDir + "\\shows.cmd", latin1 = "caf\xE9";
  ASSERT_EQ(std::system(("printf 'echo \"sh: $1\"\\n' >" + script + " && chmod +x " + script).c_str()), 0);
  ASSERT_EQ(std::system(("printf '@echo [%%1] [%%2] [%%3] [%%4] [%%5] [%%6] [%%7] [%%8] [%%9]\\r\\n' >" + dir +
                         "/shows.cmd && printf '@echo tool %%*\\r\\n' >" + dir + "/hltool.cmd")
                            .c_str()),
            0);
  // Every argument passed, 3,000 of them; more than TS takes refused.
  Strings many = {"--", talker, "args"}, manySwitches(1025, "/T");
  std::string manyOut;
  for (int i = 0; i < 3000; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "a%04d", i);
    many.push_back(name);
    manyOut += (i ? "\n[" : "[") + std::string(name) + "]";
  }
  manySwitches.insert(manySwitches.end(), {"--", talker});
  struct Case {
    Strings args;  // after "run"
    int status;
    std::string out, err;
    bool wine;
    bool posix = true;
    bool noCurrentFolder = false;  // NoDefaultCurrentDirectoryInExePath set
  } cases[] = {
      {{"--", talker, "o:x"}, 0, "x", "", true},
      {many, 0, manyOut, "", true},
      {manySwitches, 2, "", "horalin: run takes at most 1,024 ARGs of its own", false},
      {{"/TTY", "--", talker, "o:x"}, 0, "x", "", false},
      {{"/TTY", "--", talker, "o:x"},
       1,
       "",
       "Horalin plugin: /TTY: this system cannot give the command a terminal",
       true,
       false},
      {{"--", talker, "exit:3"}, 3, "", "", true},
      {{"--", talker, "o:x", "signal:15"}, 128 + 15, "x", "", false},
      {{"/F", "--", talker, "exit:7"}, 7, "---- End Of Command, exit status 7 ----", "", false},
      // A Windows process ended by an exception: its status in hex (Wine hands on its low byte).
      {{"/F", "--", talker, "exit:0xC0000005"}, 5, "---- End Of Command, exit status 0xC0000005 ----", "", true, false},
      {{"--", missing, "a"}, 127, "", "Horalin plugin: Cannot start \"" + missing + "\": ", true},
      {{"--", "/"}, 126, "", "Horalin plugin: Cannot start \"/\": Permission denied", false},  // a folder
      // Bad arguments start nothing.
      {{"/X", "--", talker, "o:x"}, 1, "", "Horalin plugin: Unknown option: \"/X\"", true},
      {{"%H", "b", "--", talker, "o:x"}, 1, "", "Horalin plugin: Syntax error: \"B\"", false},
      {{"/R", "--", talker, "o:x"}, 1, "", "Horalin plugin: Unknown option: \"/R\"", false},  // restamp's
      {{"/m", "--", talker, "o:x"}, 0, "O: x", "", true},
      {{"say \"hi there\" %H", "--", talker, "o:x"}, 2, "", "horalin: run cannot take the argument 'say", false},
      {{"--", talker, "args", "--help"}, 0, "[--help]", "", true},  // after "--", the command's own
      {{"--", talker, "args", "a b", "", "q\"uote", "back\\", "back\\\\ \"x\""},
       0,
       "[a b]\n[]\n[q\"uote]\n[back\\]\n[back\\\\ \"x\"]",
       "",
       true},
      // Arguments and the command's name byte for byte; a text file without "#!" under /bin/sh.
      {{"--", "/bin/sh", "-c", "[ \"$1\" = \"$(printf 'caf\\351')\" ] && echo same", "sh", latin1},
       0,
       "same",
       "",
       false},
      {{"--", script, "x"}, 0, "sh: x", "", false},
      // A batch file gets each argument whole, quoted for cmd.exe; one that no quoting carries
      // there is refused. A name without extension finds a batch file by PATHEXT.
      {{"--", batch, "a&b", "a|b", "a<b", "a>b", "a^b", "q\"x", "!OS!", "back\\", "sp ace\\"},
       0,
       "[\"a&b\"] [\"a|b\"] [\"a<b\"] [\"a>b\"] [\"a^b\"] [\"q\"\"x\"] [\"!OS!\"] [back\\] [\"sp ace\\\\\"]",
       "",
       true,
       false},
      {{"--", batch, "50%"},
       2,
       "",
       "Horalin plugin: Cannot pass \"50%\" to the batch file \"" + batch + "\": ",
       true,
       false},
      {{"--", "hltool", "x&y"}, 0, "tool \"x&y\"", "", true, false},
      // A batch file by the name the system runs, its trailing dot dropped: quoted for cmd.exe.
      {{"--", "hltool.cmd.", "x&y"}, 0, "tool \"x&y\"", "", true, false},
      // The current folder is not searched when NoDefaultCurrentDirectoryInExePath is set.
      {{"--", "hltool", "x"}, 127, "", "Horalin plugin: Cannot start \"hltool\": ", true, false, true},
      // A system message's inserts filled.
      {{"--", "C:\\windows\\win.ini"}, 126, "", "Horalin plugin: Cannot start \"C:\\windows\\win.ini\": ", true, false},
  };
  for (const Case& c : cases) {
    if (UnderWine() ? !c.wine : !c.posix) continue;
    Options inFolder;
    inFolder.directory = dir;
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
  Result r = Horalin({"run", talker});  // no "--"
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("horalin: run needs '--'", 0), 0u) << r.err;
  std::system(("rm -rf " + dir).c_str());
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

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(Run, SignalsPromptsAndFailuresAsWithoutIt) {
  POSIX_ONLY();
  // Each script runs under bash in a process group of its own ($H: horalin, $T: talker).
  // Once `waitFor` has come out: `signal` goes to the script's process (the group, as the
  // terminal sends it, with `group`), or `input` to its standard input.
  struct Case {
    const char* name;
    std::string script;
    std::string waitFor;
    int signal;
    bool group;
    std::string input;
    int killedBy, status;  // how the script ended: by the signal, or with the status
    std::string output;    // a regular expression the output must match somewhere
  } cases[] = {
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
      {"a prompt shows before its answer",
       "exec \"$H\" run -- sh -c 'printf \"Continue? \"; read a; echo \"answer=$a\"'", "Continue? ", 0, false, "y\n", 0,
       0, "^" + kFull + " Continue\\? \n" + kFull + " answer=y\n$"},
      {"standard error full", "exec \"$H\" run -- \"$T\" o:started e:lost 2>/dev/full", "", 0, false, "", 0, 1,
       " started\n$"},
      {"standard error closed", "exec \"$H\" run -- \"$T\" e:lost 2>&-", "", 0, false, "", 0, 1, "^$"},
  };
  const bool valgrind = std::getenv("HORALIN_VALGRIND") != nullptr;  // which needs a standard error
  const char* program = std::getenv("HORALIN_PROGRAM");
  const char* talker = std::getenv("HORALIN_TALKER");
  for (const Case& c : cases) {
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
