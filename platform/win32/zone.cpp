// Win32 backend: the time zone at a given local time, and the registry's name for UTC.
#include <windows.h>

#include "common/text.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

const ::SYSTEMTIME* Native(const horalin::SYSTEMTIME* st) { return reinterpret_cast<const ::SYSTEMTIME*>(st); }

int64_t MinutesOf(const ::SYSTEMTIME& t) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&t, &ft)) return 0;
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 600000000);
}

void TakeUtcSnapshot(ZoneSnapshot* zone) {
  CopyText(zone->standardName, 32, u"UTC");
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\UTC", 0,
                    KEY_READ, &key) != ERROR_SUCCESS)
    return;
  wchar_t value[1024] = {};
  DWORD type = 0, size = sizeof value - sizeof(wchar_t);
  if (RegQueryValueExW(key, L"Dlt", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    value[0] = 0;
  RegCloseKey(key);
  size_t length = lstrlenW(value);
  if (length > 0 && length < 32) CopyText(zone->standardName, 32, reinterpret_cast<const char16_t*>(value));
}

}  // namespace

// The zone's rules for the year of `localTime` decide whether the zone keeps daylight
// saving time that year; TzSpecificLocalTimeToSystemTime gives the offset in force at
// that local time, and with it standard or daylight time.
void TakeZoneSnapshot(bool utc, const horalin::SYSTEMTIME* localTime, ZoneSnapshot* zone) {
  *zone = ZoneSnapshot{};
  if (utc) {
    TakeUtcSnapshot(zone);
    return;
  }
  TIME_ZONE_INFORMATION info;
  DWORD state = GetTimeZoneInformation(&info);
  if (state == TIME_ZONE_ID_INVALID) {
    zone->state = ZoneInvalid;
    return;
  }
  CopyText(zone->standardName, 32, reinterpret_cast<const char16_t*>(info.StandardName));
  CopyText(zone->daylightName, 32, reinterpret_cast<const char16_t*>(info.DaylightName));
  if (!localTime) {  // now
    zone->state = static_cast<int32_t>(state);
    zone->bias = info.Bias + (state == TIME_ZONE_ID_STANDARD   ? info.StandardBias
                              : state == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias
                                                               : 0);
    return;
  }

  TIME_ZONE_INFORMATION year = info;
  if (!GetTimeZoneInformationForYear(localTime->wYear, nullptr, &year)) year = info;
  if (year.StandardDate.wMonth == 0 || year.DaylightBias == year.StandardBias) {
    zone->state = ZoneUnknown;
    zone->bias = year.Bias;
    return;
  }
  ::SYSTEMTIME asUtc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, Native(localTime), &asUtc)) {
    zone->state = ZoneInvalid;
    return;
  }
  zone->bias = static_cast<int32_t>(MinutesOf(asUtc) - MinutesOf(*Native(localTime)));
  zone->state = zone->bias == year.Bias + year.DaylightBias ? ZoneDaylight : ZoneStandard;
}

}  // namespace horalin::platform
