// Bytes handed to a reader as a pipe hands them over: each read takes the next block, or
// as much of it as the read has room for.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/types.h"
#include "platform/platform.h"

namespace horalin::testing {

struct BlockFeed {
  std::vector<std::string> blocks;
  uint32_t error = 0;  // answered once the blocks are used up (0: the end)
  size_t next = 0;
  size_t offset = 0;  // into blocks[next]
  int reads = 0;
  bool waits = false;  // every other read finds nothing yet, as a read without waiting may
};

inline uint32_t ReadFromFeed(BlockFeed* feed, void* block, uint32_t capacity, uint32_t* bytesRead) {
  ++feed->reads;
  *bytesRead = 0;
  if (feed->waits && feed->reads % 2) return kErrorIoPending;
  if (feed->next == feed->blocks.size()) return feed->error;
  const std::string& b = feed->blocks[feed->next];
  const size_t n = capacity < b.size() - feed->offset ? capacity : b.size() - feed->offset;
  std::memcpy(block, b.data() + feed->offset, n);
  feed->offset += n;
  if (feed->offset == b.size()) ++feed->next, feed->offset = 0;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

// A reader's read function whose handle is the feed.
inline uint32_t ReadBlockFeed(platform::Handle handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  return ReadFromFeed(static_cast<BlockFeed*>(handle), block, capacity, bytesRead);
}

}  // namespace horalin::testing
