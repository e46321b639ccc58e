// POSIX backend: the time zone, from the tz database through Abseil's time zone library
// (the zone files, their rule strings for the years past their last change, and the
// abbreviations). TZ is read as the C library reads it (zone_source.h); a change of TZ
// between two calls shows in the second. The zone is turned into a table of intervals
// (zone_table.h), from which this file makes the snapshots that the engine asks for:
// those of the year in use kept ready, so that a local time of that year costs one
// entry of its days and a comparison.
#include <absl/time/time.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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
  // The days that a change's window (the local times that its clocks skip or show twice)
  // touches go the long way, which tells what such a time is; so does the window of the
  // first change after the year, which may reach back into it.
  bool nearChange[366] = {};
  for (size_t change = i + 1 - n; change <= i + 1 && change < Table.count; ++change) {
    if (change == 0) continue;
    const int64_t startOf = Starts[change] - first;  // the later local reading of the change
    const int64_t window = std::abs(int64_t{States[change].offset} - States[change - 1].offset);
    for (int64_t d = std::max<int64_t>(0, (startOf - window) / kDay); d <= (startOf - 1) / kDay && d < 366; ++d)
      nearChange[d] = true;
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
      if (nearChange[start / kDay]) continue;
      entry = {static_cast<int32_t>(at[k] < start + kDay ? at[k] - start : kDay), static_cast<uint8_t>(k)};
    }
  }
  ThisYear.year = year;
  ThisYear.refused = 0;
}

// The snapshot for a local time (now, when null) outside the year's snapshots.
// What a local time in interval i is: a change's window lies before the change's later
// local reading, which begins the next interval. Past the table's end, not told.
LocalKind KindIn(size_t i, int64_t local) {
  if (i == kNoInterval || (i + 1 >= Table.count && Table.end != INT64_MAX)) return LocalKind::Unsure;
  if (local >= Table.end) local -= ((local - Table.end) / kFourCenturies + 1) * kFourCenturies;
  if (i + 1 >= Table.count) return LocalKind::Unique;
  const int32_t before = States[i].offset, after = States[i + 1].offset;
  if (local < Starts[i + 1] - std::abs(int64_t{after} - before)) return LocalKind::Unique;
  return after > before ? LocalKind::Skipped : LocalKind::Repeated;
}

__attribute__((noinline)) const ZoneSnapshot& LookUpSnapshot(const SYSTEMTIME* localTime, LocalKind* kind) {
  static const ZoneSnapshot kInvalid{0, ZoneInvalid, u"", 0};
  static ZoneSnapshot made;
  if (kind) *kind = LocalKind::Unsure;
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
  if (kind) *kind = KindIn(i, local);
  if (i != kNoInterval && localTime->wYear == ThisYear.lastMissYear && localTime->wYear != ThisYear.refused &&
      localTime->wYear != ThisYear.year)
    MakeYearSnapshots(localTime->wYear);
  ThisYear.lastMissYear = localTime->wYear;
  return made;
}

// The intervals of instants [from, to) that the last instants looked up fell in, and their
// snapshots: the instants of a log or a clock follow one another within one, and the
// random dates of a year fall in its three or four.
struct InstantInterval {
  int64_t from, to;
  ZoneSnapshot zone;
};
constexpr size_t kInstantIntervals = 4;
InstantInterval LastInstants[kInstantIntervals];  // from > to: empty
size_t NextInstantSlot;                           // the one that the next miss replaces

void ForgetInstants() {
  for (InstantInterval& kept : LastInstants) kept.from = 1, kept.to = 0;
}

// The instant at which interval i (1 to count - 1) begins: Starts[i] is the later of the
// two local readings of its change.
int64_t ChangeInstant(size_t i) {
  return Starts[i] - std::max(States[i - 1].offset - States[i - 1].leap, States[i].offset - States[i].leap);
}

// Instants this far from 1970 (31,000 years) lie beyond any local time of 1601 to 9999;
// they are looked up at this distance, so that no sum below overflows.
constexpr int64_t kFarInstant = int64_t{1} << 40;

// The snapshot of an instant outside LastInstants, which takes the place of the one kept longest: the interval that the
// local reading by the last interval's offset falls in, or its neighbour (a change lies between).
__attribute__((noinline)) const ZoneSnapshot& LookUpInstant(int64_t seconds) {
  InstantInterval& made = LastInstants[NextInstantSlot];
  NextInstantSlot = (NextInstantSlot + 1) % kInstantIntervals;
  const int64_t t0 = std::clamp(seconds, -kFarInstant, kFarInstant);
  int64_t local = t0 + States[Table.last].offset, fold = 0;
  if (local >= Table.end) {
    if (Table.direct) {  // past a table that filled up: the library's answer for this second
      FillSnapshot(StateAt(t0), &made.zone);
      made.from = made.to = 1;
      return made.zone;
    }
    fold = ((local - Table.end) / kFourCenturies + 1) * kFourCenturies;  // the rules repeat after 400 years
  }
  const int64_t t = t0 - fold;
  size_t i = IntervalAt(local - fold);
  while (i + 1 < Table.count && ChangeInstant(i + 1) <= t) ++i;
  while (i > 0 && ChangeInstant(i) > t) --i;
  FillSnapshot(States[i], &made.zone);
  int64_t to = i + 1 < Table.count ? ChangeInstant(i + 1) : INT64_MAX;
  if (Table.end != INT64_MAX) to = std::min(to, Table.end - States[i].offset);  // then folded or direct
  made.from = i > 0 ? ChangeInstant(i) + fold : (fold ? t0 : INT64_MIN);
  made.to = to == INT64_MAX ? INT64_MAX : to + fold;
  if (seconds != t0) made.from = made.to = 1;  // a far instant is not kept
  return made.zone;
}

__attribute__((noinline)) void FollowTzChange() {
  if (FollowTz()) {
    ThisYear.year = ThisYear.lastMissYear = ThisYear.refused = 0;
    ForgetInstants();
  }
}

const ZoneSnapshot kUtc{0, ZoneStandard, u"UTC", 0};

}  // namespace

const ZoneSnapshot& ZoneAtInstant(bool utc, int64_t seconds) {
  if (utc) return kUtc;
  if (!Unchanged(TzWatch)) FollowTzChange();
  for (const InstantInterval& kept : LastInstants)
    if (seconds >= kept.from && seconds < kept.to) return kept.zone;
  return LookUpInstant(seconds);
}

const ZoneSnapshot& TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime, LocalKind* kind) {
  if (kind) *kind = LocalKind::Unique;  // UTC, and the days of the year's snapshots away from a change
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
  return LookUpSnapshot(localTime, kind);
}

}  // namespace horalin::platform
