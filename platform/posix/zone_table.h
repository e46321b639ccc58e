// POSIX backend: a zone as a table of the local times at which its offset, daylight flag
// or name change, built once per zone, so that a lookup is a search in that table, or no
// search at all when the local time falls in the interval of the previous one.
#pragma once

#include <absl/time/time.h>

#include <cstddef>
#include <cstdint>

namespace horalin::platform {

inline constexpr int64_t kDay = 86400;
inline constexpr int64_t kFourCenturies = 146097 * kDay;  // the Gregorian calendar and the rules repeat after this
// Local times from 2600 on are read 400 years (or a multiple) earlier, at the latest:
// 200 years past a zone's last change of its own (2037 or soon after in the tz
// database), its rule string holds.
inline constexpr int64_t kFoldFrom = 230103 * kDay;  // 2600-01-01 00:00

// What is in force over an interval: the offset and daylight flag, the name by its
// index in Names, and in a zone with leap seconds the seconds by which local time is
// behind the offset (local time = the instant + offset - leap).
struct InForce {
  int32_t offset;  // seconds east of UTC
  uint8_t name;
  bool daylight;
  int16_t leap;
};

inline constexpr size_t kMaxIntervals = 4096;  // Europe/Berlin needs about 950 (to 2437)
inline constexpr size_t kMaxNames = 64;
// Where to begin the search for a local time: a few intervals at most lie between.
inline constexpr size_t kMaxBuckets = 4096;

// The zone as a partition of local time: interval i begins at Starts[i] (seconds since
// 1970 read as UTC; Starts[0] is the smallest value) and ends where the next begins. A
// local time that the clocks skip belongs to the interval before the change and one that
// they show twice to the earlier interval, so an interval begins at the later of the two
// local readings of its change.
struct ZoneTable {
  size_t count;
  int64_t end;      // local times from here on are folded back, or resolved directly
  bool direct;      // the table filled up before kFoldFrom: resolve past `end` directly
  size_t last;      // the interval of the previous lookup
  int64_t lastEnd;  // where it ends
  size_t names;
  int shift;  // Buckets[b]: the interval in force at Starts[1] + (b << shift)
};

extern ZoneTable Table;
extern int64_t Starts[kMaxIntervals];
extern InForce States[kMaxIntervals];
extern char16_t Names[kMaxNames][32];
extern uint16_t Buckets[kMaxBuckets];

// The table of a zone that the library loaded, which it keeps for lookups past the table,
// with what the library's reading lacks (Extras, zone_source.h).
void UseZone(const absl::TimeZone& zone);
// The table of a zone with one state for all time.
void UseFixedZone(const char* name, int32_t offset, bool daylight);
// The state in force now, and at an instant (seconds since 1970 UTC), asked of the library.
InForce StateNow();
InForce StateAt(int64_t seconds);
// The zone's state for a local time, asked of the library (past a table that filled up).
InForce ResolveDirectly(int64_t local);

inline constexpr size_t kNoInterval = SIZE_MAX;

// The interval in force at a local time; kNoInterval past a table that filled up.
inline size_t IntervalAt(int64_t local) {
  if (local >= Table.end) {
    if (Table.direct) return kNoInterval;
    local -= ((local - Table.end) / kFourCenturies + 1) * kFourCenturies;
  }
  size_t i = Table.last;
  if (local < Starts[i] || local >= Table.lastEnd) {
    if (Table.count < 3 || local < Starts[1] || local >= Starts[Table.count - 1]) {
      i = local < Starts[1] || Table.count == 1 ? 0 : Table.count - 1;
    } else {
      // Starts[1] <= local < Starts[count - 1]: the walk stops by count - 2. Most buckets
      // hold a change or two: the first two steps take no branch.
      i = Buckets[(local - Starts[1]) >> Table.shift];
      i += Starts[i + 1] <= local;
      i += Starts[i + 1] <= local;
      while (Starts[i + 1] <= local) ++i;
    }
    Table.last = i;
    Table.lastEnd = i + 1 < Table.count ? Starts[i + 1] : INT64_MAX;
  }
  return i;
}

}  // namespace horalin::platform
