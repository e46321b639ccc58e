// POSIX backend: the clock, through libc and the tz database.
#include <time.h>

#include "platform/platform.h"
#include "platform/posix/broken_down.h"

namespace horalin::platform {

void CurrentUtcTime(SYSTEMTIME* utc) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm t;
  gmtime_r(&now.tv_sec, &t);
  SystemTimeFromTm(t, now.tv_nsec, utc);
}

Moment CurrentMoment(bool steady) {
  constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
  timespec wall, count{};
  clock_gettime(CLOCK_REALTIME, &wall);
  if (steady) clock_gettime(CLOCK_MONOTONIC, &count);
  return {(static_cast<uint64_t>(wall.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
              static_cast<uint64_t>(wall.tv_nsec) / 100,
          static_cast<uint64_t>(count.tv_sec) * 10000000 + static_cast<uint64_t>(count.tv_nsec) / 100};
}

void CurrentLocalTime(SYSTEMTIME* local) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm t;
  localtime_r(&now.tv_sec, &t);
  SystemTimeFromTm(t, now.tv_nsec, local);
}

bool LocalTimeFromUtc(const SYSTEMTIME& utc, SYSTEMTIME* local) {
  // Counted by the calendar: timegm counts the leap seconds of a zone that has them.
  const time_t seconds = (DayNumberFromDate(utc.wYear, utc.wMonth, utc.wDay) - kUnixEpochDay) * int64_t{86400} +
                         int64_t{utc.wHour} * 3600 + int64_t{utc.wMinute} * 60 + utc.wSecond;
  tm lt;
  if (!localtime_r(&seconds, &lt)) return false;
  SystemTimeFromTm(lt, static_cast<long>(utc.wMilliseconds) * 1000000, local);
  return true;
}

}  // namespace horalin::platform
