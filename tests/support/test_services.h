// The engine's services as the tests hand them: a clock stopped at one moment, zones of
// the tests' own (a fixed offset, or one with daylight saving time by the United States'
// rules), and the platform's locale, which each test sets through LC_ALL.
#pragma once

#include "common/days.h"
#include "common/text.h"
#include "datetime/instant.h"
#include "datetime/services.h"
#include "platform/platform.h"

namespace horalin::testing {

// The clock's reading: Sunday 2026-12-06 23:30:15.250 UTC, which is Monday 2026-12-07
// 13:30:15.250 at UTC+14 (kLineIslands), so that a day offset read from the wrong clock
// shows.
inline constexpr Instant kNowInstant = {1796599815, 250000000};
inline Instant StoppedClock() { return kNowInstant; }

struct TestZone {
  int32_t bias;                  // of standard time, in minutes: UTC = local time + bias
  const char16_t* name;          // of standard time
  const char16_t* daylightName;  // null: none; else daylight saving time, an hour ahead
};

// Daylight saving time by the United States' rules since 2007, read on a clock of
// `t`'s fields: from hour `startHour` on the second Sunday of March to hour `endHour` on
// the first Sunday of November. On the local clock (3 and 2): 02:00 to 03:00 is skipped
// and read as standard time, and 01:00 to 02:00, shown twice, is read at its first
// occurrence, in daylight saving time. On the clock of standard time (2 and 1) it is the
// instant's.
inline bool InUsDaylightTime(const SYSTEMTIME& t, uint32_t startHour = 3, uint32_t endHour = 2) {
  auto sunday = [&](uint32_t month, uint32_t nth) {
    const uint32_t first = WeekdayOfDay(DayNumberFromDate(t.wYear, month, 1));
    return (7 - first) % 7 + 1 + 7 * (nth - 1);
  };
  const uint32_t at = t.wMonth * 100000u + t.wDay * 100u + t.wHour;  // month, day, hour
  return at >= 300000u + sunday(3, 2) * 100 + startHour && at < 1100000u + sunday(11, 1) * 100 + endHour;
}

inline void FillTestZone(const TestZone& z, bool utc, bool daylight, ZoneSnapshot* zone) {
  *zone = {utc ? 0 : z.bias - (daylight ? 60 : 0), daylight ? ZoneDaylight : ZoneStandard, {}, 0};
  CopyText(zone->name, 32, utc ? u"UTC" : daylight ? z.daylightName : z.name);
}

// The snapshot of zone Z at a local time (standard time for now).
template <const TestZone& Z>
const ZoneSnapshot& TestZoneAt(bool utc, const SYSTEMTIME* local, LocalKind* kind = nullptr) {
  static ZoneSnapshot zone;
  if (kind) *kind = LocalKind::Unsure;
  FillTestZone(Z, utc, !utc && Z.daylightName && local && InUsDaylightTime(*local), &zone);
  return zone;
}

// The snapshot of zone Z at an instant: its local time on the clock of standard time.
template <const TestZone& Z>
const ZoneSnapshot& TestZoneAtInstant(bool utc, int64_t seconds) {
  static ZoneSnapshot zone;
  SYSTEMTIME standard{};
  const bool known = !utc && Z.daylightName && CivilFromLocalSeconds(seconds - int64_t{Z.bias} * 60, 0, &standard);
  FillTestZone(Z, utc, known && InUsDaylightTime(standard, 2, 1), &zone);
  return zone;
}

inline constexpr TestZone kUtc = {0, u"UTC", nullptr};
inline constexpr TestZone kNewYork = {300, u"EST", u"EDT"};
inline constexpr TestZone kKolkata = {-330, u"IST", nullptr};
inline constexpr TestZone kStJohns = {210, u"NST", nullptr};
inline constexpr TestZone kTokyo = {-540, u"JST", nullptr};
inline constexpr TestZone kChatham = {-765, u"+1245", nullptr};
inline constexpr TestZone kLineIslands = {-840, u"+14", nullptr};

// The stopped clock, zone Z and the platform's locale.
template <const TestZone& Z>
inline constexpr Services kServicesIn = {
    .now = StoppedClock,
    .zoneAtInstant = TestZoneAtInstant<Z>,
    .zoneAt = TestZoneAt<Z>,
    .followLocale = platform::RefreshLocale,
    .localeText = platform::LocaleText,
    .localeDate = platform::LocaleDate,
    .localeTime = platform::LocaleTime,
    .mapToUpperCase = platform::MapToUpperCase,
    .mapToLowerCase = platform::MapToLowerCase,
};

}  // namespace horalin::testing
