// Win32 backend: the clock, as precise as the system keeps it.
#include <windows.h>

#include "platform/platform.h"

namespace horalin::platform {

namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

// The system's precise time (100-nanosecond units since 1601) as an instant.
Instant InstantFromFileTime(const FILETIME& wall) {
  const uint64_t units = static_cast<uint64_t>(wall.dwHighDateTime) << 32 | wall.dwLowDateTime;
  return {static_cast<int64_t>(units / 10000000) - kSecondsFrom1601To1970,
          static_cast<uint32_t>(units % 10000000 * 100)};
}

}  // namespace

Moment CurrentMoment(bool steady) {
  FILETIME wall;
  GetSystemTimePreciseAsFileTime(&wall);
  Moment now{InstantFromFileTime(wall), 0};
  if (steady) {
    static uint64_t frequency = 0;  // counts per second, fixed at the system's start
    if (frequency == 0) {
      LARGE_INTEGER f;
      QueryPerformanceFrequency(&f);
      frequency = static_cast<uint64_t>(f.QuadPart);
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t count = static_cast<uint64_t>(counter.QuadPart);
    // In two steps, so that count * 10^7 cannot overflow: the remainder is below the frequency.
    now.steady = count / frequency * 10000000 + count % frequency * 10000000 / frequency;
  }
  return now;
}

Instant CurrentInstant() {
  FILETIME wall;
  GetSystemTimePreciseAsFileTime(&wall);
  return InstantFromFileTime(wall);
}

}  // namespace horalin::platform
