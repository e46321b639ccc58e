// The TS driver when its input fails: the partial line is handed over, the error is
// reported once, the footer follows, and the result is 2; nothing is read after the
// failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/posix/error_code.h"
#include "plugin/TSCmd.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;

struct Source {
  std::vector<std::string> blocks;
  uint32_t error = 0;  // after the blocks
  size_t next = 0;
  int reads = 0;
};
Source Input;

uint32_t ReadSource(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  ++Input.reads;
  *bytesRead = 0;
  if (Input.next == Input.blocks.size()) return Input.error;
  const std::string& b = Input.blocks[Input.next++];
  *bytesRead = static_cast<uint32_t>(std::min<size_t>(b.size(), capacity));
  std::memcpy(block, b.data(), *bytesRead);
  return 0;
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedInput = dup(0);  // standard input is /dev/null: no console prompt
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close(null);
    ResetHost({{"_batch", "0"}});
  }
  void TearDown() override {
    TsInputReader = platform::ReadInput;
    dup2(savedInput, 0);
    close(savedInput);
  }
  int savedInput = -1;
};

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += c, out += '\0';
  return out;
}

TEST_F(FaultTest, AReadThatFailsEndsTheInputAfterWhatCame) {
  const std::string stamp = R"(\d\d:\d\d:\d\d\.\d{3} )";
  struct Case {
    std::vector<std::string> blocks;
    std::vector<std::string> lines;  // written before the footer
  } cases[] = {
      {{"one\ntw"}, {"one", "tw"}},                                  // mid-line
      {{"one\n", "two\nth", "r"}, {"one", "two", "thr"}},            // mid-line, after several blocks
      {{"one\n", "two\n"}, {"one", "two"}},                          // between lines
      {{}, {}},                                                      // on the first read
      {{"a\r"}, {"a"}},                                              // after a CR at a block's end
      {{"\xFF\xFE" + Utf16Le("one\ntw")}, {"one", "tw"}},            // UTF-16, mid-line
      {{"\xFF\xFE" + Utf16Le("x").substr(0, 1)}, {"\xEF\xBF\xBD"}},  // inside a UTF-16 unit
      {{"\xEF"}, {"\xC3\xAF"}},                                      // inside a cut signature
  };
  for (const Case& c : cases) {
    ResetHost({{"_batch", "0"}});
    Input = Source{c.blocks, platform::CodeOfErrno(EIO)};
    TsInputReader = ReadSource;
    EXPECT_EQ(ts(u"/F /T"), 2);
    std::string expected;
    for (const std::string& line : c.lines) expected += stamp + line + "\r\n";
    expected += stamp + "---- End Of Pipe ----\r\n";
    EXPECT_TRUE(std::regex_match(CapturedOutput(), std::regex(expected)))
        << ::testing::PrintToString(c.blocks) << CapturedOutput();
    EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Input/output error\"\r\n");
    EXPECT_EQ(Input.reads, static_cast<int>(c.blocks.size()) + 1) << "no read after the failure";
  }
}

TEST_F(FaultTest, AnInputThatCannotBeRead) {
  TsInputReader = platform::ReadInput;
  close(0);  // the input handle names nothing
  EXPECT_EQ(ts(u"/F"), 2);
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Bad file descriptor\"\r\n");
  EXPECT_NE(CapturedOutput().find("---- End Of Pipe ----\r\n"), std::string::npos);
}

}  // namespace
}  // namespace horalin
