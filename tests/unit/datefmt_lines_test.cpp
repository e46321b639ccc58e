// The command line's bulk mode over @DATEFMT (datefmt --lines), with its input served in
// pieces of every size through the plug-in's pipe reader.
#include "hostkit/datefmt_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "plugin/errors.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::U16;

void ResetHost() { testing::ResetHost({{"_batch", "0"}, {"_transient", "1"}}); }

// ---- datefmt --lines --------------------------------------------------------------

struct Input {
  std::string bytes;
  size_t piece = 1;  // bytes handed over per read
  size_t at = 0;
  size_t failAt = std::string::npos;  // a read error from this offset on
} Served;

uint32_t ReadPieces(void* block, uint32_t capacity, uint32_t* bytesRead) {
  if (Served.at >= Served.failAt) return 5;
  size_t n = std::min({Served.piece, static_cast<size_t>(capacity), Served.bytes.size() - Served.at});
  std::memcpy(block, Served.bytes.data() + Served.at, n);
  Served.at += n;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

std::vector<uint32_t> Locations;  // the line of each location set; 0 for the end

void RecordLocation(const char16_t* name, uint32_t line) {
  if (name) {
    EXPECT_EQ(std::u16string(name), u"standard input");
  }
  Locations.push_back(name ? line : 0);
}

// Output with its length, as the POSIX program's host writes it; through QPuts here.
bool UseWriteText = false;
void WriteText(const char16_t* text, size_t length) { QPuts(std::u16string(text, length).c_str()); }
// A 7-bit line without CR with its line end, as the POSIX program's host takes it: the
// other lines must come the way of WriteText.
bool WriteAsciiLine(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] == u'\r' || text[i] == 0 || text[i] > 0x7F) return false;
  QPuts((std::u16string(text, length) + u"\r\n").c_str());
  return true;
}

// The system's text of a read error as Windows gives it, with a blank at its end.
bool UseErrorText = false;
bool ErrorTextWithBlank(uint32_t, char16_t* text, size_t capacity) {
  CopyText(text, capacity, u"Invalid function. \r\n");
  return true;
}

// Runs `datefmt --lines FORMAT` with the input served `piece` bytes a read; a read error
// from byte `failAt` on; no reader at all when `failAt` is 0.
int RunLines(const std::string& input, const std::string& format, size_t piece, size_t failAt = std::string::npos) {
  Served = Input{input, piece, 0, failAt};
  Locations.clear();
  ResetHost();
  hostkit::HostFunctions host{Printf,     Qprintf,        QPuts,   ExpandVariables, QueryTrueName, StdErrorHandle(),
                              ReadPieces, RecordLocation, nullptr, nullptr,         nullptr,       nullptr};
  if (UseWriteText) host.writeText = WriteText, host.writeAsciiLine = WriteAsciiLine;
  if (UseErrorText) host.errorText = ErrorTextWithBlank;
  if (failAt == 0) host.readInput = nullptr;
  hostkit::PluginExports plugin{
      GetPluginInfo, InitializePlugin, ShutdownPlugin, Usage,         Help,           ts, f_datefmt, nullptr,
      RestampLog,    DateLine,         OpenInputLines, ReadInputLine, CloseInputLines};
  std::u16string f = U16(format);
  std::u16string words[] = {u"datefmt", u"--lines", f};
  char16_t* argv[] = {words[0].data(), words[1].data(), words[2].data()};
  return hostkit::RunCommandLine(3, argv, host, plugin);
}

TEST(DatefmtLinesTest, OneOutputLinePerInputLineWhateverThePieces) {
  const std::string input =
      "\xEF\xBB\xBF"
      "2024-02-29\r\n"             // 1: a signature first, CR LF
      "2024-13-01\n"               // 2: a parser error
      "\n"                         // 3: empty
      "2024-W05-3 10:30\n"         // 4
      "2024-01-01,%Y\n"            // 5: a whole date, then a comma
      "2024-01-01 10,x\n"          // 6: cut short at the comma
      + std::string(40000, '9') +  // 7: longer than any line can be
      "\n2024-03-01\r"             // 8: a lone CR ends a line too
      "2024-" +
      std::string(1, '\0') +                   // 9: a zero byte is dropped
      "03-02\r\n" + std::string(32768, '9') +  // 10: as long as a line is kept: its line end is its own
      "\n2024-366";                            // 11: no line feed at the end
  const std::string expectedOutput =
      "2024-02-29 060\r\n\r\n\r\n2024-01-31 031\r\n\r\n\r\n\r\n2024-03-01 061\r\n2024-03-02 062\r\n\r\n"
      "2024-12-31 366\r\n";
  const std::string expectedErrors =
      "Horalin plugin: Month must be 1 - 12: 13\r\n"
      "Horalin plugin: Missing date and time\r\n"
      "Horalin plugin: standard input [5]  Unexpected \",\" after the date and time\r\n"
      "Horalin plugin: Syntax error (expected a colon)\r\n\r\n2024-01-01 10\r\n             ^\r\n"
      "Horalin plugin: standard input [7]  Line longer than 8185 characters\r\n"
      "Horalin plugin: standard input [10]  Line longer than 8185 characters\r\n";
  for (bool withLength : {false, true}) {
    UseWriteText = withLength;
    for (size_t piece : {1u, 2u, 3u, 5u, 64u, 4096u, 65536u, 1u << 20}) {
      EXPECT_EQ(RunLines(input, "%F %j", piece), 1) << piece;
      EXPECT_EQ(CapturedOutput(), expectedOutput) << piece;
      EXPECT_EQ(CapturedErrors(), expectedErrors) << piece;
      std::vector<uint32_t> lines = {1, 2, 3, 4, 5, 6, 8, 9, 11, 0};  // too-long lines never reach the plug-in
      EXPECT_EQ(Locations, lines) << piece;
    }
  }
  UseWriteText = false;
}

// Lines are widened eight bytes at a time: a separator, or a byte beyond ASCII, at any
// place within or after those groups is found.
TEST(DatefmtLinesTest, SeparatorsAndWideCharactersAtEveryPlace) {
  std::string input, expectedOutput, expectedErrors;
  uint32_t line = 0;
  for (size_t at = 10; at <= 26; ++at) {
    std::string blanks(at - 10, ' ');
    auto lineError = [&](const std::string& message) {
      return "Horalin plugin: standard input [" + std::to_string(line) + "]  " + message + "\r\n";
    };
    input += "2024-01-01" + blanks + ",  \n", ++line;
    expectedOutput += "\r\n", expectedErrors += lineError("Unexpected \",\" after the date and time");
    input += "2024-01-01" + blanks + ";\n", ++line;
    expectedOutput += "\r\n", expectedErrors += lineError("Unexpected \";\" after the date and time");
    input += "2024-01-01" + blanks + "\xC3\xA9 \n", ++line;
    expectedOutput += "\r\n";
    expectedErrors += "Horalin plugin: Unexpected text after the date and time\r\n\r\n2024-01-01" + blanks +
                      "\xC3\xA9 \r\n" + std::string(at, ' ') + "^\r\n";
    input += "2024-01-01" + blanks + "\n", ++line;
    expectedOutput += "2024-01-01\r\n";
  }
  for (bool withLength : {false, true}) {
    UseWriteText = withLength;
    EXPECT_EQ(RunLines(input, "%F", 4096), 1);
    EXPECT_EQ(CapturedOutput(), expectedOutput);
    EXPECT_EQ(CapturedErrors(), expectedErrors);
  }
  UseWriteText = false;
}

TEST(DatefmtLinesTest, LongestLineThatFits) {
  // Beside "," and the format "%F", a line may hold 8192 - 2 - 2 units.
  std::string fits = "2024-01-01" + std::string(8188 - 10, ' ');
  EXPECT_EQ(RunLines(fits + "\n" + fits + " \n", "%F", 4096), 1);
  EXPECT_EQ(CapturedOutput(), "2024-01-01\r\n\r\n");
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: standard input [2]  Line longer than 8188 characters\r\n");

  // The limit counts UTF-16 units, not bytes: the three bytes of a euro sign are one unit.
  std::string wide;
  for (int i = 0; i < 3000; ++i) wide += "\xE2\x82\xAC";  // 9000 bytes, 3000 units
  EXPECT_EQ(RunLines("2024-01-01 " + wide + "\n", "%F", 7), 1);
  EXPECT_EQ(CapturedErrors().find("Line longer"), std::string::npos);
  EXPECT_EQ(CapturedErrors().rfind("Horalin plugin: Unexpected text after the date and time\r\n", 0), 0u);
}

TEST(DatefmtLinesTest, AllLinesGoodAndDoubledPercentShownOnce) {
  EXPECT_EQ(RunLines("2024-01-01\n1601-01-01 00:00:00\n9999-12-31 23:59:59\n", "100%% %F", 3), 0);
  EXPECT_EQ(CapturedOutput(), "100% 2024-01-01\r\n100% 1601-01-01\r\n100% 9999-12-31\r\n");
  EXPECT_EQ(CapturedErrors(), "");
  EXPECT_EQ(RunLines("", "%F", 1), 0);
  EXPECT_EQ(CapturedOutput(), "");

  // Read as TS reads its input: UTF-16 of either byte order, with a signature or
  // without, its CR LF one line end however the reads cut it; a last line without one.
  auto utf16 = [](const std::string& ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  const std::string lines = "2024-01-01\r\n2024-01-02\r\n2024-01-03";
  const std::string inputs[] = {"\xFF\xFE" + utf16(lines, false), "\xFE\xFF" + utf16(lines, true), utf16(lines, false),
                                utf16(lines, true)};
  for (const std::string& input : inputs)
    for (size_t piece : {1u, 3u, 4096u}) {
      EXPECT_EQ(RunLines(input, "%F", piece), 0) << piece;
      EXPECT_EQ(CapturedOutput(), "2024-01-01\r\n2024-01-02\r\n2024-01-03\r\n") << piece;
      EXPECT_EQ(CapturedErrors(), "") << piece;
    }
}

TEST(DatefmtLinesTest, ReadErrorEndsTheRun) {
  EXPECT_EQ(RunLines("2024-01-01\n2024-01-02\n2024-01", "%F", 11, 22), 1);
  EXPECT_EQ(CapturedOutput(), "2024-01-01\r\n2024-01-02\r\n");
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: standard input [3]  Error reading standard input: \"error 5\"\r\n");
  UseErrorText = true;  // the system's text trimmed, as the plug-in trims it
  EXPECT_EQ(RunLines("2024-01-01\n", "%F", 11, 11), 1);
  UseErrorText = false;
  EXPECT_EQ(CapturedErrors(),
            "Horalin plugin: standard input [2]  Error reading standard input: \"Invalid function.\"\r\n");

  EXPECT_EQ(RunLines("2024-01-01\n", "%F", 11, 0), 1);
  EXPECT_EQ(CapturedErrors(), "horalin: this host cannot read standard input\r\n");
}

TEST(DatefmtLinesTest, EmptyFormatIsRefusedBeforeReading) {
  EXPECT_EQ(RunLines("2024-01-01\n", "", 1), 2);
  EXPECT_EQ(CapturedErrors(), "horalin: the FORMAT of datefmt --lines is empty\r\nTry 'horalin --help'.\r\n");
  EXPECT_EQ(Served.at, 0u);
}

}  // namespace
}  // namespace horalin
