// Win32 backend: the time zone at a given local time, and the registry's name for UTC.
#include <windows.h>

#include <cstring>

#include "common/text.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

const ::SYSTEMTIME* Native(const horalin::SYSTEMTIME* st) { return reinterpret_cast<const ::SYSTEMTIME*>(st); }

// Minutes since 1601-01-01 00:00; -1 for a time that is no date.
int64_t MinutesOf(const ::SYSTEMTIME& t) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&t, &ft)) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 600000000);
}

bool SystemTimeFromMinutes(int64_t minutes, ::SYSTEMTIME* t) {
  const uint64_t units = static_cast<uint64_t>(minutes) * 600000000;
  FILETIME ft{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  return FileTimeToSystemTime(&ft, t);
}

// The system's name for UTC where it has one that fits, else "UTC". The name belongs to
// the system's zone data, not to a setting, so the registry is read once, not per call.
void ReadUtcName(ZoneSnapshot* zone) {
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
  size_t length = static_cast<size_t>(lstrlenW(value));
  if (length > 0 && length < 32) CopyText(zone->standardName, 32, reinterpret_cast<const char16_t*>(value));
}

const ZoneSnapshot& UtcSnapshot() {
  static ZoneSnapshot utc;
  static bool read;
  if (!read) {
    read = true;
    ReadUtcName(&utc);
  }
  return utc;
}

// The zone's rules for one year, as GetTimeZoneInformationForYear gives them for the zone
// in force when they were asked for. That call reads the registry (under Wine it takes
// about 0.4 ms, a hundred times the rest of a stamp); the local times of a log fall in one
// year, so its answer is kept while the zone stays the same.
struct YearRules {
  DYNAMIC_TIME_ZONE_INFORMATION zone;  // the zone asked about
  WORD year;                           // 0: nothing kept
  TIME_ZONE_INFORMATION rules;
};
YearRules KeptYear;

bool SameTexts(const WCHAR* a, const WCHAR* b, size_t size) { return std::memcmp(a, b, size) == 0; }
bool SameDates(const ::SYSTEMTIME& a, const ::SYSTEMTIME& b) {
  return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDayOfWeek == b.wDayOfWeek && a.wDay == b.wDay &&
         a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}
// Whether two answers of GetDynamicTimeZoneInformation describe the same zone, field by
// field (the texts whole: the answers are written over zeroed records).
bool SameZone(const DYNAMIC_TIME_ZONE_INFORMATION& a, const DYNAMIC_TIME_ZONE_INFORMATION& b) {
  return a.Bias == b.Bias && a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
         a.DynamicDaylightTimeDisabled == b.DynamicDaylightTimeDisabled && SameDates(a.StandardDate, b.StandardDate) &&
         SameDates(a.DaylightDate, b.DaylightDate) &&
         SameTexts(a.StandardName, b.StandardName, sizeof a.StandardName) &&
         SameTexts(a.DaylightName, b.DaylightName, sizeof a.DaylightName) &&
         SameTexts(a.TimeZoneKeyName, b.TimeZoneKeyName, sizeof a.TimeZoneKeyName);
}

// The rules of `year` for `zone` (the zone in force), whose fields begin as those of
// `current`; `current` itself where the system has none for the year.
const TIME_ZONE_INFORMATION& RulesForYear(WORD year, const DYNAMIC_TIME_ZONE_INFORMATION& zone,
                                          const TIME_ZONE_INFORMATION& current) {
  if (KeptYear.year != year || !SameZone(KeptYear.zone, zone)) {
    KeptYear.zone = zone;
    KeptYear.year = year;
    if (!GetTimeZoneInformationForYear(year, nullptr, &KeptYear.rules)) KeptYear.rules = current;
  }
  return KeptYear.rules;
}

// The zone's rules for the year of `localTime` decide whether the zone keeps daylight
// saving time that year and which offset is in force. A local time that the clocks show
// twice is taken at its first occurrence; one that they skip is read with the offset in
// force before the change, as the POSIX build reads it: 02:30 on 2024-03-10 in New York
// is 02:30 EST, the instant also shown as 03:30 EDT.
void TakeLocalSnapshot(const horalin::SYSTEMTIME* localTime, ZoneSnapshot* zone) {
  // Zeroed first, so that two answers for the same zone have the same texts to their ends.
  DYNAMIC_TIME_ZONE_INFORMATION dynamic;
  std::memset(&dynamic, 0, sizeof dynamic);
  DWORD state = GetDynamicTimeZoneInformation(&dynamic);
  if (state == TIME_ZONE_ID_INVALID) {
    zone->state = ZoneInvalid;
    return;
  }
  TIME_ZONE_INFORMATION info{};
  info.Bias = dynamic.Bias;
  std::memcpy(info.StandardName, dynamic.StandardName, sizeof info.StandardName);
  info.StandardDate = dynamic.StandardDate;
  info.StandardBias = dynamic.StandardBias;
  std::memcpy(info.DaylightName, dynamic.DaylightName, sizeof info.DaylightName);
  info.DaylightDate = dynamic.DaylightDate;
  info.DaylightBias = dynamic.DaylightBias;
  CopyText(zone->standardName, 32, reinterpret_cast<const char16_t*>(info.StandardName));
  CopyText(zone->daylightName, 32, reinterpret_cast<const char16_t*>(info.DaylightName));
  if (!localTime) {  // now
    zone->state = static_cast<int32_t>(state);
    zone->bias = info.Bias + (state == TIME_ZONE_ID_STANDARD   ? info.StandardBias
                              : state == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias
                                                               : 0);
    return;
  }

  const TIME_ZONE_INFORMATION& year = RulesForYear(localTime->wYear, dynamic, info);
  if (year.StandardDate.wMonth == 0 || year.DaylightBias == year.StandardBias) {
    zone->state = ZoneUnknown;
    zone->bias = year.Bias;
    return;
  }
  // The offset in force at the local time read with the smaller of the two biases: for
  // an ordinary time that is its own offset; for a repeated one, the earlier instant's;
  // for a skipped one, the instant lies before the change and shows the offset before it.
  const int32_t standard = year.Bias + year.StandardBias, daylight = year.Bias + year.DaylightBias;
  const int64_t local = MinutesOf(*Native(localTime));
  // Near the first instant of 1601 the probe or its local time would fall before it; a
  // moment two days on stands in (no zone changes its offset then).
  int64_t probe = local + (daylight < standard ? daylight : standard);
  if (probe < 2 * int64_t{1440}) probe = 2 * int64_t{1440};
  ::SYSTEMTIME probeUtc, probeLocal;
  if (local < 0 || !SystemTimeFromMinutes(probe, &probeUtc) ||
      !SystemTimeToTzSpecificLocalTime(&year, &probeUtc, &probeLocal)) {
    zone->state = ZoneInvalid;
    return;
  }
  zone->bias = static_cast<int32_t>(probe - MinutesOf(probeLocal));
  zone->state = zone->bias == daylight ? ZoneDaylight : ZoneStandard;
}

}  // namespace

const ZoneSnapshot& TakeZoneSnapshot(bool utc, const horalin::SYSTEMTIME* localTime) {
  if (utc) return UtcSnapshot();
  static ZoneSnapshot taken;
  taken = ZoneSnapshot{};
  TakeLocalSnapshot(localTime, &taken);
  return taken;
}

}  // namespace horalin::platform
