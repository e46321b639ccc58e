#include "tests/support/ts_feed.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "host/host.h"
#include "plugin/TSCmd.h"
#include "tests/support/test_host.h"

namespace horalin::testing {

namespace {

BlockFeed* Current = nullptr;

uint32_t ReadBlock(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  BlockFeed& f = *Current;
  ++f.reads;
  *bytesRead = 0;
  if (f.next == f.blocks.size()) return f.error;
  const std::string& b = f.blocks[f.next++];
  *bytesRead = static_cast<uint32_t>(std::min<size_t>(b.size(), capacity));
  std::memcpy(block, b.data(), *bytesRead);
  return 0;
}

}  // namespace

void TsFeedTest::SetUp() {
  savedInput = dup(0);
  int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  close(null);
  TsInputReader = ReadBlock;
  Current = &feed;
  ResetHost({{"_batch", "0"}});
}

void TsFeedTest::TearDown() {
  TsInputReader = platform::ReadInput;
  Current = nullptr;
  dup2(savedInput, 0);
  close(savedInput);
}

int TsFeedTest::RunTs(const char16_t* arguments, std::vector<std::string> blocks, uint32_t error) {
  feed = BlockFeed{std::move(blocks), error};
  return ts(arguments);
}

}  // namespace horalin::testing
