// The TS driver with its input fed block by block: read errors, results, and what one
// call leaves for the next.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "common/types.h"
#include "host/host.h"
#include "platform/posix/error_code.h"
#include "plugin/TSCmd.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;

struct Feed {
  std::vector<std::string> blocks;
  uint32_t error = 0;  // after the blocks
  size_t next = 0;
  int reads = 0;
};
Feed* CurrentFeed = nullptr;

uint32_t ReadFeed(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  Feed& f = *CurrentFeed;
  ++f.reads;
  *bytesRead = 0;
  if (f.next == f.blocks.size()) return f.error;
  const std::string& b = f.blocks[f.next++];
  *bytesRead = static_cast<uint32_t>(std::min<size_t>(b.size(), capacity));
  std::memcpy(block, b.data(), *bytesRead);
  return 0;
}

class TsDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Standard input is /dev/null while the feed stands in for it: no console prompt.
    savedInput = dup(0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    close(null);
    TsInputReader = ReadFeed;
    CurrentFeed = &feed;
    ResetHost({{"_batch", "0"}});
  }
  void TearDown() override {
    TsInputReader = platform::ReadInput;
    CurrentFeed = nullptr;
    dup2(savedInput, 0);
    close(savedInput);
  }
  int Run(const char16_t* arguments, std::vector<std::string> blocks, uint32_t error = 0) {
    feed = Feed{std::move(blocks), error};
    return ts(arguments);
  }
  Feed feed;
  int savedInput = -1;
};

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

TEST_F(TsDriverTest, ReadErrorComesAfterThePartialLineAndBeforeTheFooter) {
  EXPECT_EQ(Run(u"/F", {"one\ntw"}, platform::CodeOfErrno(EIO)), 2);
  EXPECT_TRUE(std::regex_match(
      CapturedOutput(), std::regex(kStamp + " one\r\n" + kStamp + " tw\r\n" + kStamp + " ---- End Of Pipe ----\r\n")))
      << CapturedOutput();
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: Error reading from pipe: \"Input/output error\"\r\n");
}

TEST_F(TsDriverTest, ABrokenPipeIsTheEndOfInput) {
  EXPECT_EQ(Run(u"/T", {"a\n", "b"}, kErrorBrokenPipe), 0);
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
    EXPECT_EQ(Run(c.arguments, {"never read\n"}), c.result);
    EXPECT_EQ(feed.reads, 0);
    EXPECT_EQ(CapturedOutput().find("never read"), std::string::npos);
  }
  ResetHost();
  EXPECT_EQ(ts(nullptr), 87);
  EXPECT_EQ(CapturedOutput(), "");
  EXPECT_EQ(CapturedErrors(), "");
}

TEST_F(TsDriverTest, EveryCallStartsAfresh) {
  EXPECT_EQ(Run(u"/I /S /F /U:UTF-16BE \"[%Y]\"", {std::string("\0x\0\n", 4)}), 0);
  EXPECT_TRUE(std::regex_search(CapturedOutput(), std::regex("End Of Pipe")));
  ResetHost();
  EXPECT_EQ(Run(u"", {"plain\n"}), 0);
  EXPECT_TRUE(std::regex_match(CapturedOutput(), std::regex(kStamp + " plain\r\n"))) << CapturedOutput();
}

}  // namespace
}  // namespace horalin
