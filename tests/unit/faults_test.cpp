// The TS driver when its input fails: the partial line is handed over, the error is
// reported once, the footer follows, and the result is 2; nothing is read after the
// failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/posix/error_code.h"
#include "plugin/stamped_lines.h"
#include "tests/support/test_host.h"
#include "tests/support/ts_feed.h"
#include "tests/support/utf16_bytes.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;

using FaultTest = testing::TsFeedTest;
using testing::Utf16Le;

TEST_F(FaultTest, AReadThatFailsEndsTheInputAfterWhatCame) {
  const std::string stamp = R"(\d\d:\d\d:\d\d\.\d{3} )";
  struct Case {
    std::vector<std::string> blocks;
    std::vector<std::string> lines;  // written before the footer
  } cases[] = {
      {{"one\ntw"}, {"one", "tw"}},                                   // mid-line
      {{"one\n", "two\nth", "r"}, {"one", "two", "thr"}},             // mid-line, after several blocks
      {{"one\n", "two\n"}, {"one", "two"}},                           // between lines
      {{}, {}},                                                       // on the first read
      {{"a\r"}, {"a"}},                                               // after a CR at a block's end
      {{"\xFF\xFE" + Utf16Le(u"one\ntw")}, {"one", "tw"}},            // UTF-16, mid-line
      {{"\xFF\xFE" + Utf16Le(u"x").substr(0, 1)}, {"\xEF\xBF\xBD"}},  // inside a UTF-16 unit
      {{"\xEF"}, {"\xC3\xAF"}},                                       // inside a cut signature
  };
  for (const Case& c : cases) {
    ResetHost({{"_batch", "0"}});
    EXPECT_EQ(RunTs(u"/F /T", c.blocks, platform::CodeOfErrno(EIO)), 2);
    std::string expected;
    for (const std::string& line : c.lines) expected += stamp + line + "\r\n";
    expected += stamp + "---- End Of Pipe ----\r\n";
    EXPECT_TRUE(std::regex_match(CapturedOutput(), std::regex(expected)))
        << ::testing::PrintToString(c.blocks) << CapturedOutput();
    EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Input/output error\"\r\n");
    EXPECT_EQ(feed.reads, static_cast<int>(c.blocks.size()) + 1) << "no read after the failure";
  }
}

TEST_F(FaultTest, AnInputThatCannotBeRead) {
  StandardInputReader = platform::ReadInput;
  close(0);  // the input handle names nothing
  EXPECT_EQ(ts(u"/F"), 2);
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Bad file descriptor\"\r\n");
  EXPECT_NE(CapturedOutput().find("---- End Of Pipe ----\r\n"), std::string::npos);
}

}  // namespace
}  // namespace horalin
