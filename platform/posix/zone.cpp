// POSIX backend: the time zone, from the tz database through Abseil's time zone library
// (the zone files, their rule strings for the years past their last change, and the
// abbreviations). TZ is read as the C library reads it (zone_source.h); a change of TZ
// between two calls shows in the second. The zone is turned into a table of intervals
// (zone_table.h), from which this file makes the snapshots that the engine asks for:
// those of the year in use kept ready, so that a local time of that year costs one
// entry of its days and a comparison.
#include <absl/time/time.h>

#include <cstdint>
#include <cstring>

#include "common/days.h"
#include "platform/platform.h"
#include "platform/posix/environment_watch.h"
#include "platform/posix/zone_source.h"
#include "platform/posix/zone_table.h"

namespace horalin::platform {

namespace {

EnvironmentWatch<1> TzWatch{{Watching("TZ=")}, nullptr};

// Loads the zone that TZ names, when TZ has changed since the last call; whether it has.
bool FollowTz() {
  if (!LookAgain(TzWatch)) return false;  // set again to the same value
  absl::TimeZone zone;
  RuleZone fixed;
  if (LoadZone(ValueOf(TzWatch.variables[0]), &zone, &fixed))
    UseZone(zone);
  else
    UseFixedZone(fixed.name.c_str(), fixed.offset, fixed.daylight);
  return true;
}

// The snapshot for a state.
void FillSnapshot(const InForce& state, ZoneSnapshot* zone) {
  // The offset in whole minutes towards zero (as %z shows it), and the seconds left over,
  // with those by which local time is behind the offset in a zone with leap seconds.
  zone->bias = -state.offset / 60;
  zone->biasSeconds = -state.offset % 60 + state.leap;
  zone->state = state.daylight ? ZoneDaylight : ZoneStandard;
  std::memcpy(zone->name, Names[state.name], sizeof zone->name);
}

// The snapshots of every interval of one year, for the local times of the year that
// comes again and again (a log, a clock read line after line): a lookup is then one entry
// of the year's days and a comparison with the time of day. Made once two lookups in a
// row fall in the same year.
constexpr size_t kYearSlots = 8;  // war time and Ramadan rules change four times a year at most
constexpr uint8_t kNoDay = 0xFF;  // not a day of the year, or one with more than one change
struct YearDay {
  int32_t change;  // the second of the day at which the next interval begins (kDay: none)
  uint8_t zone;    // the interval in force when the day begins; kNoDay: the long way
};
struct YearSnapshots {
  int32_t year;          // 0: none
  int32_t lastMissYear;  // the year of the last lookup that went the long way
  int32_t refused;       // a year that MakeYearSnapshots could not make
  YearDay days[12][31];
  ZoneSnapshot zone[kYearSlots];
};
YearSnapshots ThisYear;

// Makes ThisYear for `year` (1601 to 9999), unless the year reaches the folded or
// unlisted part of the table or changes too often.
void MakeYearSnapshots(int32_t year) {
  ThisYear.year = 0;
  ThisYear.refused = year;
  const int64_t first = (DayNumberFromDate(static_cast<uint32_t>(year), 1, 1) - kUnixEpochDay) * kDay;
  const int leap = IsLeapYear(year);
  const int64_t end = first + (365 + leap) * kDay;
  if (end > Table.end) return;
  int64_t at[kYearSlots];  // where each interval after the first begins, from the year's start
  size_t i = IntervalAt(first);
  size_t n = 0;
  FillSnapshot(States[i], &ThisYear.zone[0]);
  for (; i + 1 < Table.count && Starts[i + 1] < end; ++i) {
    if (++n == kYearSlots) return;
    at[n - 1] = Starts[i + 1] - first;
    FillSnapshot(States[i + 1], &ThisYear.zone[n]);
  }
  at[n] = INT64_MAX;  // ends each walk below: k never passes n, and at[k + 1] is read only while at[k] is a change
  size_t k = 0;       // the interval in force at the day's start
  for (unsigned month = 1; month <= 12; ++month) {
    for (unsigned day = 1; day <= 31; ++day) {
      YearDay& entry = ThisYear.days[month - 1][day - 1];
      entry = {kDay, kNoDay};
      if (day > DaysInMonth[month][leap]) continue;
      const int64_t start = (DaysBeforeMonth[month][leap] + day - 1) * kDay;
      while (at[k] <= start) ++k;
      if (at[k] < start + kDay && at[k + 1] < start + kDay) continue;  // two changes in a day
      entry = {static_cast<int32_t>(at[k] < start + kDay ? at[k] - start : kDay), static_cast<uint8_t>(k)};
    }
  }
  ThisYear.year = year;
  ThisYear.refused = 0;
}

// The snapshot for a local time (now, when null) outside the year's snapshots.
__attribute__((noinline)) const ZoneSnapshot& LookUpSnapshot(const SYSTEMTIME* localTime) {
  static const ZoneSnapshot kInvalid{0, ZoneInvalid, u"", 0};
  static ZoneSnapshot made;
  if (!localTime) {
    FillSnapshot(StateNow(), &made);
    return made;
  }
  DayNumber day = DayNumberFromDate(localTime->wYear, localTime->wMonth, localTime->wDay);
  if (day < 0) return kInvalid;
  int64_t local = (day - kUnixEpochDay) * kDay + int64_t{localTime->wHour} * 3600 + int64_t{localTime->wMinute} * 60 +
                  localTime->wSecond;
  size_t i = IntervalAt(local);
  FillSnapshot(i == kNoInterval ? ResolveDirectly(local) : States[i], &made);
  if (i != kNoInterval && localTime->wYear == ThisYear.lastMissYear && localTime->wYear != ThisYear.refused &&
      localTime->wYear != ThisYear.year)
    MakeYearSnapshots(localTime->wYear);
  ThisYear.lastMissYear = localTime->wYear;
  return made;
}

__attribute__((noinline)) void FollowTzChange() {
  if (FollowTz()) ThisYear.year = ThisYear.lastMissYear = ThisYear.refused = 0;
}

}  // namespace

const ZoneSnapshot& TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime) {
  static const ZoneSnapshot kUtc{0, ZoneStandard, u"UTC", 0};
  if (utc) return kUtc;
  if (!Unchanged(TzWatch)) FollowTzChange();
  // A local time of the year in use: the year's snapshot in force there.
  if (localTime && localTime->wYear == ThisYear.year) {
    const unsigned month = localTime->wMonth, monthDay = localTime->wDay;
    // Below 2^31 whatever the fields hold.
    const int32_t second = localTime->wHour * 3600 + localTime->wMinute * 60 + localTime->wSecond;
    // A month or day of 0 wraps around to far above 12 and 31 (the operands are unsigned),
    // so each comparison keeps both ends of the range.
    if (month - 1 < 12 && monthDay - 1 < 31 && second < kDay) {
      const YearDay& day = ThisYear.days[month - 1][monthDay - 1];
      if (day.zone != kNoDay) {
        ThisYear.lastMissYear = 0;  // misses of another year are no longer in a row
        return ThisYear.zone[day.zone + (second >= day.change)];
      }
    }
  }
  return LookUpSnapshot(localTime);
}

}  // namespace horalin::platform
