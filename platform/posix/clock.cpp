// POSIX backend: the clock, to the nanosecond.
#include <time.h>

#include "platform/platform.h"

namespace horalin::platform {

Moment CurrentMoment(bool steady) {
  timespec wall, count{};
  clock_gettime(CLOCK_REALTIME, &wall);
  if (steady) clock_gettime(CLOCK_MONOTONIC, &count);
  return {{static_cast<int64_t>(wall.tv_sec), static_cast<uint32_t>(wall.tv_nsec)},
          static_cast<uint64_t>(count.tv_sec) * 10000000 + static_cast<uint64_t>(count.tv_nsec) / 100};
}

Instant CurrentInstant() {
  timespec wall;
  clock_gettime(CLOCK_REALTIME, &wall);
  return {static_cast<int64_t>(wall.tv_sec), static_cast<uint32_t>(wall.tv_nsec)};
}

}  // namespace horalin::platform
