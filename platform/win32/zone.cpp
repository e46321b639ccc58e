// Win32 backend: the time zone and the registry's name for UTC.
#include <windows.h>

#include "common/text.h"
#include "platform/platform.h"

namespace horalin::platform {

void TakeZoneSnapshot(bool utc, const horalin::SYSTEMTIME*, ZoneSnapshot* zone) {
  *zone = ZoneSnapshot{};
  if (utc) {
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
    return;
  }
  TIME_ZONE_INFORMATION info;
  DWORD state = GetTimeZoneInformation(&info);
  zone->state = static_cast<int32_t>(state);
  switch (state) {
    case TIME_ZONE_ID_STANDARD: zone->bias = info.Bias + info.StandardBias; break;
    case TIME_ZONE_ID_DAYLIGHT: zone->bias = info.Bias + info.DaylightBias; break;
    case TIME_ZONE_ID_UNKNOWN: zone->bias = info.Bias; break;
    default: zone->state = ZoneInvalid; return;
  }
  CopyText(zone->standardName, 32, reinterpret_cast<const char16_t*>(info.StandardName));
  CopyText(zone->daylightName, 32, reinterpret_cast<const char16_t*>(info.DaylightName));
}

}  // namespace horalin::platform
