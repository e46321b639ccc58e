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
uint64_t CurrentUtcFileTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

void CurrentLocalTime(horalin::SYSTEMTIME* local) { GetLocalTime(Native(local)); }

bool LocalTimeFromUtc(const horalin::SYSTEMTIME& utc, horalin::SYSTEMTIME* local) {
  return SystemTimeToTzSpecificLocalTime(nullptr, Native(&utc), Native(local)) != 0;
}

}  // namespace horalin::platform
