#include "tests/support/ts_feed.h"

#include <fcntl.h>
#include <unistd.h>

#include "host/host.h"
#include "plugin/stamped_lines.h"
#include "tests/support/test_host.h"

namespace horalin::testing {

namespace {

BlockFeed* Current = nullptr;

// TS reads standard input's handle: the feed is the one the running test set.
uint32_t ReadCurrentFeed(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  return ReadFromFeed(Current, block, capacity, bytesRead);
}

}  // namespace

void TsFeedTest::SetUp() {
  savedInput = dup(0);
  int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  close(null);
  StandardInputReader = ReadCurrentFeed;
  Current = &feed;
  ResetHost({{"_batch", "0"}});
}

void TsFeedTest::TearDown() {
  StandardInputReader = platform::ReadInput;
  Current = nullptr;
  dup2(savedInput, 0);
  close(savedInput);
}

int TsFeedTest::RunTs(const char16_t* arguments, std::vector<std::string> blocks, uint32_t error) {
  feed = BlockFeed{std::move(blocks), error};
  return ts(arguments);
}

}  // namespace horalin::testing
