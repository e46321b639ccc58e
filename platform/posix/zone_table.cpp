// POSIX backend: the zone table (zone_table.h), built from the zone that the library
// loaded.
#include "platform/posix/zone_table.h"

#include <absl/time/civil_time.h>
#include <absl/time/clock.h>
#include <absl/time/time.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/utf.h"
#include "platform/posix/zone_source.h"

namespace horalin::platform {

ZoneTable Table;
int64_t Starts[kMaxIntervals];
InForce States[kMaxIntervals];
char16_t Names[kMaxNames][32];
uint16_t Buckets[kMaxBuckets];

namespace {

bool Loaded;  // Zone holds the zone (else the table holds one fixed interval)
absl::TimeZone Zone;

uint8_t NameIndex(const char* name) {
  char16_t wide[32]{};
  Utf16FromUtf8(name, strnlen(name, 64), wide, 32);
  for (size_t i = 0; i < Table.names; ++i)
    if (std::char_traits<char16_t>::compare(Names[i], wide, 32) == 0) return static_cast<uint8_t>(i);
  if (Table.names == kMaxNames) return kMaxNames - 1;  // more names than any zone has: the last slot is shared
  std::memcpy(Names[Table.names], wide, sizeof wide);
  return static_cast<uint8_t>(Table.names++);
}

// The state in force at an instant, with what the library's reading lacks.
InForce StateAtTime(absl::Time at) {
  const absl::TimeZone::CivilInfo info = Zone.At(at);
  return {static_cast<int32_t>(info.offset) + Extras.offsetShift, NameIndex(info.zone_abbr), info.is_dst,
          static_cast<int16_t>(LeapCorrectionAt(absl::ToUnixSeconds(at)))};
}

int64_t LocalSeconds(const absl::CivilSecond& civil) { return civil - absl::CivilSecond(1970); }

// The next change of state after `at`: the library's next change or the next leap second,
// whichever comes first; false when there is neither.
bool NextChange(absl::Time at, absl::Time* next) {
  absl::TimeZone::CivilTransition change;
  const bool listed = Zone.NextTransition(at, &change);
  absl::Time first = listed ? Zone.At(change.to).trans : absl::InfiniteFuture();
  for (size_t i = 0; i < Extras.leapCount; ++i) {
    const absl::Time leap = absl::FromUnixSeconds(Extras.leaps[i].at);
    if (leap > at) {
      first = std::min(first, leap);
      break;
    }
  }
  if (first == absl::InfiniteFuture()) return false;
  *next = first;
  return true;
}

void SetFixed(const char* name, int32_t offset, bool daylight) {
  Table = {1, INT64_MAX, false, 0, INT64_MAX, 0, 0};
  Starts[0] = INT64_MIN;
  States[0] = {offset, NameIndex(name), daylight, 0};
}

void FillTable() {
  Table = {0, INT64_MAX, false, 0, INT64_MIN, 0, 0};
  Starts[0] = INT64_MIN;
  Table.count = 1;
  absl::Time at;
  if (!NextChange(absl::InfinitePast(), &at)) {  // a zone without changes
    States[0] = StateAtTime(absl::UnixEpoch());
    return;
  }
  States[0] = StateAtTime(at - absl::Seconds(1));
  for (;;) {
    // The later of the two local readings of the change: the clocks skip or repeat the
    // local times between them.
    const InForce after = StateAtTime(at);
    const InForce& before = States[Table.count - 1];
    const int64_t start = absl::ToUnixSeconds(at) + std::max(before.offset - before.leap, after.offset - after.leap);
    if (start >= kFoldFrom || Table.count == kMaxIntervals) {
      Table.end = std::min(start, kFoldFrom);
      Table.direct = start < kFoldFrom;
      return;
    }
    if (start > Starts[Table.count - 1]) Starts[Table.count++] = start;  // else the later change wins
    States[Table.count - 1] = after;
    if (!NextChange(at, &at)) break;
  }
  // The library lists the changes of a zone's rule string for the 400 years that follow
  // the zone's last change of its own and then stops, though the rule goes on. When the
  // state still changes within a year of the last change listed, the table ends with that
  // change's year, and later years are read 400 years earlier, as the library reads them.
  const InForce& last = States[Table.count - 1];
  for (int week = 1; week <= 53; ++week) {
    InForce later = StateAtTime(at + absl::Hours(24 * 7 * week));
    if (later.offset != last.offset || later.daylight != last.daylight || later.name != last.name) {
      Table.end = LocalSeconds(absl::CivilSecond(absl::CivilYear(Zone.At(at).cs + Extras.offsetShift) + 1));
      Table.count = static_cast<size_t>(std::lower_bound(Starts + 1, Starts + Table.count, Table.end) - Starts);
      return;
    }
  }
}

void BuildTable() {
  FillTable();
  if (Table.count < 3) return;
  int64_t span = Starts[Table.count - 1] - Starts[1];
  int shift = 24;  // about 194 days
  while ((span >> shift) >= static_cast<int64_t>(kMaxBuckets)) ++shift;
  Table.shift = shift;
  size_t i = 1;
  for (int64_t b = 0; b <= (span >> shift); ++b) {
    while (i + 1 < Table.count && Starts[i + 1] <= Starts[1] + (b << shift)) ++i;
    Buckets[b] = static_cast<uint16_t>(i);
  }
}

}  // namespace

void UseZone(const absl::TimeZone& zone) {
  Loaded = true;
  Zone = zone;
  Table.names = 0;
  BuildTable();
}

void UseFixedZone(const char* name, int32_t offset, bool daylight) {
  Loaded = false;
  Table.names = 0;
  SetFixed(name, offset, daylight);
}

InForce StateNow() { return Loaded ? StateAtTime(absl::Now()) : States[0]; }

InForce StateAt(int64_t seconds) { return Loaded ? StateAtTime(absl::FromUnixSeconds(seconds)) : States[0]; }

InForce ResolveDirectly(int64_t local) {
  // Past the table, the last leap second's correction holds.
  const int32_t leap = Extras.leapCount ? Extras.leaps[Extras.leapCount - 1].correction : 0;
  absl::TimeZone::TimeInfo when = Zone.At(absl::CivilSecond(1970) + (local - Extras.offsetShift + leap));
  // Skipped: the state before the change; shown twice: the first occurrence.
  absl::Time instant = when.kind == absl::TimeZone::TimeInfo::SKIPPED ? when.trans - absl::Seconds(1) : when.pre;
  return StateAtTime(instant);
}

}  // namespace horalin::platform
