// The TS driver with its input fed block by block: read errors, results, and what one
// call leaves for the next.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/types.h"
#include "host/host.h"
#include "platform/posix/error_code.h"
#include "plugin/TSCmd.h"
#include "tests/support/test_host.h"
#include "tests/support/ts_feed.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;

using TsDriverTest = testing::TsFeedTest;

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

TEST_F(TsDriverTest, ReadErrorComesAfterThePartialLineAndBeforeTheFooter) {
  EXPECT_EQ(RunTs(u"/F", {"one\ntw"}, platform::CodeOfErrno(EIO)), 2);
  EXPECT_TRUE(std::regex_match(
      CapturedOutput(), std::regex(kStamp + " one\r\n" + kStamp + " tw\r\n" + kStamp + " ---- End Of Pipe ----\r\n")))
      << CapturedOutput();
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Input/output error\"\r\n");
}

TEST_F(TsDriverTest, ABrokenPipeIsTheEndOfInput) {
  EXPECT_EQ(RunTs(u"/T", {"a\n", "b"}, kErrorBrokenPipe), 0);
  EXPECT_EQ(CapturedErrors(), "");
  EXPECT_TRUE(std::regex_match(CapturedOutput(), std::regex(R"((\d\d:\d\d:\d\d\.\d{3} [ab]\r\n){2})")))
      << CapturedOutput();
}

TEST_F(TsDriverTest, ArgumentsAloneReadNothing) {
  struct Case {
    const char16_t* arguments;
    int result;
  } cases[] = {{u"/X", 1}, {u"/CP:x", 1}, {u"a b", 1}, {u"/D /?", 0}, {u"/??", 0}};
  for (const Case& c : cases) {
    ResetHost({{"_batch", "0"}});
    EXPECT_EQ(RunTs(c.arguments, {"never read\n"}), c.result);
    EXPECT_EQ(feed.reads, 0);
    EXPECT_EQ(CapturedOutput().find("never read"), std::string::npos);
  }
  ResetHost();
  EXPECT_EQ(ts(nullptr), 87);
  EXPECT_EQ(CapturedOutput(), "");
  EXPECT_EQ(CapturedErrors(), "");
}

TEST_F(TsDriverTest, EveryCallStartsAfresh) {
  EXPECT_EQ(RunTs(u"/I /S /F /U:UTF-16BE \"[%Y]\"", {std::string("\0x\0\n", 4)}), 0);
  EXPECT_TRUE(std::regex_search(CapturedOutput(), std::regex("End Of Pipe")));
  ResetHost();
  EXPECT_EQ(RunTs(u"", {"plain\n"}), 0);
  EXPECT_TRUE(std::regex_match(CapturedOutput(), std::regex(kStamp + " plain\r\n"))) << CapturedOutput();
}

// A host's writer of lines of bytes: the line as the text it stands for, with "\r\n", as
// Printf would take it; with `refuse`, every other line is refused, as a console refuses
// them all.
bool Refuse = false;
int LineCalls = 0;
bool WriteLineAsText(const char* head, size_t headCount, const char* line, size_t lineCount) {
  if (Refuse && ++LineCalls % 2) return false;
  const std::string bytes = std::string(head, headCount) + std::string(line, lineCount);
  EXPECT_EQ(testing::U8(testing::U16(bytes)), bytes) << "not UTF-8";
  Printf(u"%s\r\n", testing::U16(bytes).c_str());
  return true;
}

// Lines that go as bytes write what their text writes: 7-bit and UTF-8 lines, and all
// that goes as text beside them (a line in the code page, a stamp with a CR or a lone
// surrogate, elapsed times, a host that refuses lines).
TEST_F(TsDriverTest, LinesAsBytesWriteWhatTheirTextWrites) {
  struct Case {
    const char16_t* arguments;
    std::vector<std::string> blocks;
  } cases[] = {
      {u"X", {"plain\r\n", "tw", "o\n\n"}},
      {u"\u00e9", {"us\xC3\xA1rio \xE5\x90\x8D\n", "\xFF bad\n", "cut \xC3"}},
      {u"/CP:1252 X", {"caf\xE9\n", "plain\n"}},
      {u"/U:UTF-8 X",
       {"\xEF\xBB\xBF"
        "a\xC3\xA9\n\xC3\n"}},
      {u"a\\r\\nb", {"a CR in the stamp\n"}},
      {u"\xD83D", {"a lone surrogate in the stamp\n"}},
      {u"/I /S /F X", {"a\n", "b\n"}},
      {u"X", {std::string(40000, 'x') + "\n" + std::string(32767, 'y') + "\xC3\xA9\n"}},
  };
  const auto run = [this](const Case& c) {
    ResetHost({{"_batch", "0"}});
    EXPECT_EQ(RunTs(c.arguments, c.blocks), 0);
    return std::regex_replace(CapturedOutput(), std::regex("[0-9]"), "0");  // elapsed times may differ
  };
  for (const Case& c : cases) {
    platform::SetOutputLineBytes(nullptr);
    const std::string text = run(c);
    for (const bool refuse : {false, true}) {
      Refuse = refuse;
      platform::SetOutputLineBytes(WriteLineAsText);
      EXPECT_EQ(run(c), text) << testing::U8(c.arguments) << (refuse ? ", every other line refused" : "");
    }
  }
  platform::SetOutputLineBytes(nullptr);
}

}  // namespace
}  // namespace horalin
