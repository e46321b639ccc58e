// Win32 backend: the clock.
#include <windows.h>

#include "platform/platform.h"

namespace horalin::platform {

namespace {
static_assert(sizeof(::SYSTEMTIME) == sizeof(horalin::SYSTEMTIME));
::SYSTEMTIME* Native(horalin::SYSTEMTIME* st) { return reinterpret_cast<::SYSTEMTIME*>(st); }
const ::SYSTEMTIME* Native(const horalin::SYSTEMTIME* st) { return reinterpret_cast<const ::SYSTEMTIME*>(st); }
}  // namespace

void CurrentUtcTime(horalin::SYSTEMTIME* utc) { GetSystemTime(Native(utc)); }
Moment CurrentMoment(bool steady) {
  FILETIME wall;
  GetSystemTimeAsFileTime(&wall);
  Moment now{static_cast<uint64_t>(wall.dwHighDateTime) << 32 | wall.dwLowDateTime, 0};
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

void CurrentLocalTime(horalin::SYSTEMTIME* local) { GetLocalTime(Native(local)); }

bool LocalTimeFromUtc(const horalin::SYSTEMTIME& utc, horalin::SYSTEMTIME* local) {
  return SystemTimeToTzSpecificLocalTime(nullptr, Native(&utc), Native(local)) != 0;
}

}  // namespace horalin::platform
