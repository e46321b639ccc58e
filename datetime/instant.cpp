#include "datetime/instant.h"

#include "common/days.h"
#include "datetime/calendar.h"

namespace horalin {

bool CivilFromLocalSeconds(int64_t local, uint32_t nanoseconds, SYSTEMTIME* t) {
  if (local < kFirstLocalSecond || local > kLastLocalSecond) return false;
  const int64_t fromFirst = local - kFirstLocalSecond;                                   // [0, 265046774399]
  const DayNumber day = static_cast<DayNumber>(fromFirst / kSecondsPerDay) + kFirstDay;  // [1, 3067671]
  const uint32_t second = static_cast<uint32_t>(fromFirst % kSecondsPerDay);             // [0, 86399]
  uint32_t year = 0, month = 0, monthDay = 0;
  DateFromDayNumber(day, &year, &month, &monthDay);
  *t = SYSTEMTIME{static_cast<uint16_t>(year),
                  static_cast<uint16_t>(month),
                  WeekdayOfDay(day),
                  static_cast<uint16_t>(monthDay),
                  static_cast<uint16_t>(second / 3600),
                  static_cast<uint16_t>(second / 60 % 60),
                  static_cast<uint16_t>(second % 60),
                  static_cast<uint16_t>(nanoseconds / 1000000)};
  return true;
}

bool DateTimeAt(Instant instant, bool utc, const Services& services, DateTime* out) {
  const ZoneSnapshot& zone = services.zoneAtInstant(utc, instant.seconds);
  SYSTEMTIME local;
  // An unknown zone shows the instant as UTC.
  const int32_t offset = zone.state == ZoneInvalid ? 0 : OffsetSeconds(zone);
  if (!CivilFromLocalSeconds(instant.seconds + offset, instant.nanoseconds, &local)) return false;
  out->instant = instant;
  out->zone = zone;
  out->local = local;
  return true;
}

namespace {

// The resolver's rule, for fields known valid, the day they count, and the weekday and
// milliseconds that the record shows. Compiled into both entries.
inline bool ResolveFields(const SYSTEMTIME& local, DayNumber day, uint16_t weekday, uint16_t milliseconds,
                          uint32_t nanoseconds, bool utc, const Services& services, DateTime* out) {
  LocalKind kind = LocalKind::Unsure;
  const ZoneSnapshot& before = services.zoneAt(utc, &local, &kind);
  const bool known = before.state != ZoneInvalid;
  const int32_t offset = known ? OffsetSeconds(before) : 0;  // read now: the next call may reuse the record
  const int64_t localSeconds = (int64_t{day} - kUnixEpochDay) * kSecondsPerDay + int64_t{local.wHour} * 3600 +
                               int64_t{local.wMinute} * 60 + local.wSecond;
  const Instant instant{localSeconds - offset, nanoseconds};
  // A time shown once or twice is the instant of that offset, in the zone's state found;
  // of another (skipped, or not told), the zone in force at the instant decides: where it
  // has the same offset the local time stands as given, and a skipped one moves past the
  // change.
  const bool settled = !known || kind == LocalKind::Unique || kind == LocalKind::Repeated;
  const ZoneSnapshot& at = settled ? before : services.zoneAtInstant(utc, instant.seconds);
  if (!settled && (at.state == ZoneInvalid || OffsetSeconds(at) != offset))
    return DateTimeAt(instant, utc, services, out);
  out->instant = instant;
  out->zone = at;
  out->local = local;
  out->local.wDayOfWeek = weekday;
  out->local.wMilliseconds = milliseconds;
  return true;
}

}  // namespace

bool ResolveLocalTime(const SYSTEMTIME& local, uint32_t nanoseconds, bool utc, const Services& services,
                      DateTime* out) {
  if (!IsValidDateTime(local)) return false;
  const DayNumber day = DayNumberOfValidDate(local.wYear, local.wMonth, local.wDay);  // [1, 3067671]
  return ResolveFields(local, day, WeekdayOfDay(day), static_cast<uint16_t>(nanoseconds / 1000000), nanoseconds, utc,
                       services, out);
}

bool ResolveValidLocalTime(const SYSTEMTIME& local, DayNumber day, uint32_t nanoseconds, bool utc,
                           const Services& services, DateTime* out) {
  return ResolveFields(local, day, local.wDayOfWeek, local.wMilliseconds, nanoseconds, utc, services, out);
}

}  // namespace horalin
