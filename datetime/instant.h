// Instants and the local times that show them: the two ways into the record that the
// format interpreter renders (DateTime, common/types.h). An instant looked up in the zone
// gives its offset, state and name, and the civil fields follow from the two; a local
// time without an instant goes through the one resolver below first.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

inline constexpr int64_t kSecondsPerDay = 86400;
// The first and the last second of the years 1601 to 9999, as local seconds (seconds
// since 1970-01-01 00:00 read on the same clock).
inline constexpr int64_t kFirstLocalSecond = -11644473600;
inline constexpr int64_t kLastLocalSecond = 253402300799;

// The civil fields of local seconds and nanoseconds, the weekday computed; false outside
// 1601 to 9999 (then `t` is not written).
bool CivilFromLocalSeconds(int64_t local, uint32_t nanoseconds, SYSTEMTIME* t);

// Between instants and file times (100-nanosecond units since 1601-01-01 00:00 UTC), for
// an instant from 1601 on.
inline constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
inline Instant InstantOfFileTime(uint64_t fileTime) {
  return {static_cast<int64_t>(fileTime / 10000000) - kSecondsFrom1601To1970,
          static_cast<uint32_t>(fileTime % 10000000 * 100)};
}
inline uint64_t FileTimeOfInstant(Instant t) {
  return static_cast<uint64_t>(t.seconds + kSecondsFrom1601To1970) * 10000000 + t.nanoseconds / 100;
}

// The zone's offset as seconds east of UTC (local time = UTC + offset).
inline int32_t OffsetSeconds(const ZoneSnapshot& zone) { return -(zone.bias * 60 + zone.biasSeconds); }

// The record of an instant: in UTC under `utc`, else in the zone of `services`. False
// when its local time falls outside 1601 to 9999: such an instant is refused, not moved.
bool DateTimeAt(Instant instant, bool utc, const Services& services, DateTime* out);

// The one resolver of a local time that comes without an instant (a parsed date, a stamp
// without an offset): it becomes the instant that the zone's offset in force there gives,
// by the rule for the local times that the clocks skip or show twice: the offset in force
// before the change. A time shown twice is taken at its first occurrence, and a skipped
// one is read on the clock that was in force, so that it becomes the instant just as far
// past the change: in New York, 01:30 on 2024-11-03 is 01:30 EDT (05:30 UTC), and 02:30
// on 2024-03-10 is 02:30 EST, the instant 07:30 UTC, which the record shows as 03:30 EDT.
// Under `utc` the local time is UTC. False when `local` is no valid date and time or the
// result falls outside 1601 to 9999.
bool ResolveLocalTime(const SYSTEMTIME& local, uint32_t nanoseconds, bool utc, const Services& services, DateTime* out);
// The same for a local time that its reader has found valid (IsValidDateTime) and whose
// day number (`day`, of its date) it has at hand, with the weekday of that day and the
// milliseconds of `nanoseconds` in its fields.
bool ResolveValidLocalTime(const SYSTEMTIME& local, DayNumber day, uint32_t nanoseconds, bool utc,
                           const Services& services, DateTime* out);

}  // namespace horalin
