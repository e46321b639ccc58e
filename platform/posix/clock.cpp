// POSIX backend: the clock, through libc and the tz database.
#include <time.h>

#include "platform/platform.h"

namespace horalin::platform {

namespace {

void FromTm(const tm& t, long nanoseconds, SYSTEMTIME* st) {
  st->wYear = static_cast<uint16_t>(t.tm_year + 1900);
  st->wMonth = static_cast<uint16_t>(t.tm_mon + 1);
  st->wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
  st->wDay = static_cast<uint16_t>(t.tm_mday);
  st->wHour = static_cast<uint16_t>(t.tm_hour);
  st->wMinute = static_cast<uint16_t>(t.tm_min);
  st->wSecond = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  st->wMilliseconds = static_cast<uint16_t>(nanoseconds / 1000000);
}

}  // namespace

void CurrentUtcTime(SYSTEMTIME* utc) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm t;
  gmtime_r(&now.tv_sec, &t);
  FromTm(t, now.tv_nsec, utc);
}

uint64_t CurrentUtcFileTime() {
  constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<uint64_t>(now.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

void CurrentLocalTime(SYSTEMTIME* local) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm t;
  localtime_r(&now.tv_sec, &t);
  FromTm(t, now.tv_nsec, local);
}

bool LocalTimeFromUtc(const SYSTEMTIME& utc, SYSTEMTIME* local) {
  tm t{};
  t.tm_year = utc.wYear - 1900;
  t.tm_mon = utc.wMonth - 1;
  t.tm_mday = utc.wDay;
  t.tm_hour = utc.wHour;
  t.tm_min = utc.wMinute;
  t.tm_sec = utc.wSecond;
  time_t seconds = timegm(&t);
  tm lt;
  if (!localtime_r(&seconds, &lt)) return false;
  FromTm(lt, static_cast<long>(utc.wMilliseconds) * 1000000, local);
  return true;
}

}  // namespace horalin::platform
