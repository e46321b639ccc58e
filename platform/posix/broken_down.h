// Between the library's SYSTEMTIME and the C library's broken-down time.
#pragma once

#include <time.h>

#include "common/days.h"
#include "common/types.h"

namespace horalin::platform {

// Every field, the day of the year included; tm_isdst -1 (the zone decides).
inline tm TmFromSystemTime(const SYSTEMTIME& t) {
  tm out{};
  out.tm_year = t.wYear - 1900;
  out.tm_mon = t.wMonth - 1;
  out.tm_mday = t.wDay;
  out.tm_hour = t.wHour;
  out.tm_min = t.wMinute;
  out.tm_sec = t.wSecond;
  out.tm_wday = t.wDayOfWeek % 7;
  out.tm_yday = t.wMonth >= 1 && t.wMonth <= 12
                    ? static_cast<int>(DaysBeforeMonth[t.wMonth][IsLeapYear(t.wYear)]) + t.wDay - 1
                    : 0;
  out.tm_isdst = -1;
  return out;
}

// A leap second (tm_sec 60) shows as 59.
inline void SystemTimeFromTm(const tm& t, long nanoseconds, SYSTEMTIME* st) {
  st->wYear = static_cast<uint16_t>(t.tm_year + 1900);
  st->wMonth = static_cast<uint16_t>(t.tm_mon + 1);
  st->wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
  st->wDay = static_cast<uint16_t>(t.tm_mday);
  st->wHour = static_cast<uint16_t>(t.tm_hour);
  st->wMinute = static_cast<uint16_t>(t.tm_min);
  st->wSecond = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  st->wMilliseconds = static_cast<uint16_t>(nanoseconds / 1000000);
}

}  // namespace horalin::platform
