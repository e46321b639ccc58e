// TS's input fed block by block in place of standard input, for the tests of its driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/block_feed.h"

namespace horalin::testing {

// A test whose TS reads `feed`, with standard input /dev/null meanwhile (no console
// prompt), and the shell's batch flag off.
class TsFeedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // TS run over the blocks; its result.
  int RunTs(const char16_t* arguments, std::vector<std::string> blocks, uint32_t error = 0);
  BlockFeed feed;
  int savedInput = -1;
};

}  // namespace horalin::testing
