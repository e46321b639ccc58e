// Win32 backend: the time zone at an instant and at a local time, and the registry's name
// for UTC.
#include <windows.h>

#include <cstdint>
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
  CopyText(zone->name, 32, u"UTC");
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
  if (length > 0 && length < 32) CopyText(zone->name, 32, reinterpret_cast<const char16_t*>(value));
}

const ZoneSnapshot& UtcSnapshot() {
  static ZoneSnapshot utc{0, ZoneStandard, u"", 0};
  static bool read;
  if (!read) {
    read = true;
    ReadUtcName(&utc);
  }
  return utc;
}

// The zone's rules for each year, as GetTimeZoneInformationForYear gives them for the
// zone in force when they were asked for. That call reads the registry (under Wine it
// takes about 0.3 ms, a hundred times the rest of a stamp), so each year's answer is kept
// while the zone stays the same: any mix of years costs what one year costs. A zone has
// few distinct rules over the years, so a year keeps the number of its rules in a table
// of those; a zone with more than the table holds starts it afresh.
constexpr WORD kFirstYear = 1601, kLastYear = 30827;  // the years that SYSTEMTIME holds
constexpr int kRuleCapacity = 64;
struct KeptRules {
  DYNAMIC_TIME_ZONE_INFORMATION zone;              // the zone asked about
  bool kept;                                       // whether anything below is
  uint8_t ruleOfYear[kLastYear - kFirstYear + 1];  // 0: not asked yet; else 1 + index in `rules`
  int ruleCount;
  TIME_ZONE_INFORMATION rules[kRuleCapacity];  // without names: the zone's are used
};
KeptRules Kept;

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
bool SameRules(const TIME_ZONE_INFORMATION& a, const TIME_ZONE_INFORMATION& b) {
  return a.Bias == b.Bias && a.StandardBias == b.StandardBias && a.DaylightBias == b.DaylightBias &&
         SameDates(a.StandardDate, b.StandardDate) && SameDates(a.DaylightDate, b.DaylightDate);
}

// The number in Kept.rules of `rules` (added when new), 1 and up.
uint8_t RuleNumber(const TIME_ZONE_INFORMATION& rules) {
  for (int i = 0; i < Kept.ruleCount; ++i)
    if (SameRules(Kept.rules[i], rules)) return static_cast<uint8_t>(i + 1);
  if (Kept.ruleCount == kRuleCapacity) {
    std::memset(Kept.ruleOfYear, 0, sizeof Kept.ruleOfYear);
    Kept.ruleCount = 0;
  }
  TIME_ZONE_INFORMATION& added = Kept.rules[Kept.ruleCount++];
  std::memset(&added, 0, sizeof added);
  added.Bias = rules.Bias;
  added.StandardDate = rules.StandardDate;
  added.StandardBias = rules.StandardBias;
  added.DaylightDate = rules.DaylightDate;
  added.DaylightBias = rules.DaylightBias;
  return static_cast<uint8_t>(Kept.ruleCount);
}

// The rules of `year` for `zone` (the zone in force), whose fields begin as those of
// `current`; `current`'s where the system has none for the year.
const TIME_ZONE_INFORMATION& RulesForYear(WORD year, const DYNAMIC_TIME_ZONE_INFORMATION& zone,
                                          const TIME_ZONE_INFORMATION& current) {
  if (year < kFirstYear || year > kLastYear) return current;
  if (!Kept.kept || !SameZone(Kept.zone, zone)) {
    Kept.zone = zone;
    Kept.kept = true;
    std::memset(Kept.ruleOfYear, 0, sizeof Kept.ruleOfYear);
    Kept.ruleCount = 0;
  }
  uint8_t& number = Kept.ruleOfYear[year - kFirstYear];
  if (number == 0) {
    TIME_ZONE_INFORMATION rules;
    number = RuleNumber(GetTimeZoneInformationForYear(year, nullptr, &rules) ? rules : current);
  }
  return Kept.rules[number - 1];
}

// The state, and the zone's name for it.
void SetState(bool daylight, const TIME_ZONE_INFORMATION& info, ZoneSnapshot* zone) {
  zone->state = daylight ? ZoneDaylight : ZoneStandard;
  CopyText(zone->name, 32, reinterpret_cast<const char16_t*>(daylight ? info.DaylightName : info.StandardName));
}

// The zone's rules for the year of `localTime` decide whether the zone keeps daylight
// saving time that year and which offset is in force. A local time that the clocks show
// twice is taken at its first occurrence; one that they skip is read with the offset in
// force before the change, as the POSIX build reads it: 02:30 on 2024-03-10 in New York
// is 02:30 EST, the instant also shown as 03:30 EDT.
// The zone in force, and its current rules as a TIME_ZONE_INFORMATION with its names;
// TIME_ZONE_ID_INVALID when the system cannot say.
DWORD ReadZoneInForce(DYNAMIC_TIME_ZONE_INFORMATION* dynamic, TIME_ZONE_INFORMATION* info) {
  // Zeroed first, so that two answers for the same zone have the same texts to their ends.
  std::memset(dynamic, 0, sizeof *dynamic);
  DWORD state = GetDynamicTimeZoneInformation(dynamic);
  if (state == TIME_ZONE_ID_INVALID) return state;
  std::memset(info, 0, sizeof *info);
  info->Bias = dynamic->Bias;
  std::memcpy(info->StandardName, dynamic->StandardName, sizeof info->StandardName);
  info->StandardDate = dynamic->StandardDate;
  info->StandardBias = dynamic->StandardBias;
  std::memcpy(info->DaylightName, dynamic->DaylightName, sizeof info->DaylightName);
  info->DaylightDate = dynamic->DaylightDate;
  info->DaylightBias = dynamic->DaylightBias;
  return state;
}

void TakeLocalSnapshot(const horalin::SYSTEMTIME* localTime, ZoneSnapshot* zone) {
  DYNAMIC_TIME_ZONE_INFORMATION dynamic;
  TIME_ZONE_INFORMATION info;
  DWORD state = ReadZoneInForce(&dynamic, &info);
  if (state == TIME_ZONE_ID_INVALID) {
    zone->state = ZoneInvalid;
    return;
  }
  if (!localTime) {  // now
    SetState(state == TIME_ZONE_ID_DAYLIGHT, info, zone);
    zone->bias = info.Bias + (state == TIME_ZONE_ID_STANDARD   ? info.StandardBias
                              : state == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias
                                                               : 0);
    return;
  }

  const TIME_ZONE_INFORMATION& year = RulesForYear(localTime->wYear, dynamic, info);
  if (year.StandardDate.wMonth == 0 || year.DaylightBias == year.StandardBias) {
    SetState(false, info, zone);
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
  SetState(zone->bias == daylight, info, zone);
}

// The offset, state and name in force at an instant (seconds since 1970 UTC), by the
// zone's rules for the instant's year. Within two days of the ends of the years 1601 to
// 9999 a moment two days within stands in (no zone changes its offset then), so that the
// offset is known where the local time falls outside them, and the instant is refused.
void TakeInstantSnapshot(int64_t seconds, ZoneSnapshot* zone) {
  DYNAMIC_TIME_ZONE_INFORMATION dynamic;
  TIME_ZONE_INFORMATION info;
  if (ReadZoneInForce(&dynamic, &info) == TIME_ZONE_ID_INVALID) {
    zone->state = ZoneInvalid;
    return;
  }
  constexpr int64_t kSecondsFrom1601 = 11644473600, kTwoDays = int64_t{2} * 86400;
  constexpr int64_t kFirstProbe = -kSecondsFrom1601 + kTwoDays, kLastProbe = 253402300799 - kTwoDays;
  const int64_t probe = seconds < kFirstProbe ? kFirstProbe : seconds > kLastProbe ? kLastProbe : seconds;
  ::SYSTEMTIME utc, local;
  const int64_t minutes = (probe + kSecondsFrom1601) / 60;
  if (!SystemTimeFromMinutes(minutes, &utc)) {
    zone->state = ZoneInvalid;
    return;
  }
  utc.wSecond = static_cast<WORD>((probe + kSecondsFrom1601) % 60);
  const TIME_ZONE_INFORMATION& year = RulesForYear(utc.wYear, dynamic, info);
  if (!SystemTimeToTzSpecificLocalTime(&year, &utc, &local)) {
    zone->state = ZoneInvalid;
    return;
  }
  zone->bias = static_cast<int32_t>(minutes - MinutesOf(local));
  const bool keepsDaylight = year.StandardDate.wMonth != 0 && year.DaylightBias != year.StandardBias;
  SetState(keepsDaylight && zone->bias == year.Bias + year.DaylightBias, info, zone);
}

}  // namespace

const ZoneSnapshot& ZoneAtInstant(bool utc, int64_t seconds) {
  if (utc) return UtcSnapshot();
  static ZoneSnapshot taken;
  taken = ZoneSnapshot{};
  TakeInstantSnapshot(seconds, &taken);
  return taken;
}

const ZoneSnapshot& TakeZoneSnapshot(bool utc, const horalin::SYSTEMTIME* localTime, LocalKind* kind) {
  if (kind) *kind = utc ? LocalKind::Unique : LocalKind::Unsure;
  if (utc) return UtcSnapshot();
  static ZoneSnapshot taken;
  taken = ZoneSnapshot{};
  TakeLocalSnapshot(localTime, &taken);
  return taken;
}

}  // namespace horalin::platform

namespace horalin::platform {

// The zones of Windows have names of their own, not the tz database's; restamp takes
// LOCAL, UTC or an offset there.
const char16_t kZoneNamesTaken[] = u"";

bool SelectNamedZone(const char16_t*) { return false; }

const ZoneSnapshot& NamedZoneSnapshot(const horalin::SYSTEMTIME*, LocalKind*) {
  static const ZoneSnapshot kInvalid{0, ZoneInvalid, u"", 0};
  return kInvalid;
}

}  // namespace horalin::platform
