// POSIX backend: the time zone, from the tz database through libc. TZ is honoured as
// date(1) honours it, and a change of TZ between two calls shows in the second.
#include <time.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

// What the zone is known as in one year: whether it keeps daylight saving time at
// all, and the names of its standard and daylight time.
struct ZoneYear {
  char tz[256];  // the TZ value it was taken under ("\x01" before the first use)
  bool valid;
  int year;  // tm_year
  bool hasDaylight;
  char16_t standardName[32];
  char16_t daylightName[32];
};

ZoneYear Cache = {"\x01", false, 0, false, {}, {}};

void CopyZoneName(char16_t (&target)[32], const char* abbreviation) {
  if (!abbreviation) abbreviation = "";
  Utf16FromUtf8(abbreviation, strnlen(abbreviation, 64), target, 32);
}

// tzset reads the tz database again; localtime_r does not, so it is called here, and
// only when TZ has changed since the last snapshot. The year's names go with it.
void FollowTz() {
  const char* tz = std::getenv("TZ");
  char current[sizeof Cache.tz];
  if (!tz)
    current[0] = 0;
  else if (std::strlen(tz) + 1 >= sizeof current)
    current[0] = '\x02';  // too long to remember: read it every time
  else
    std::strcpy(current, tz);
  if (current[0] != '\x02' && std::strcmp(current, Cache.tz) == 0) return;
  tzset();
  std::strcpy(Cache.tz, current);
  Cache.valid = false;
}

// The zone in mid-January and mid-July of the year of `local`: a zone with daylight
// saving time keeps it at one of them.
const ZoneYear& YearOf(const tm& local) {
  if (Cache.valid && Cache.year == local.tm_year) return Cache;
  Cache.valid = true;
  Cache.year = local.tm_year;
  Cache.hasDaylight = false;
  Cache.standardName[0] = Cache.daylightName[0] = 0;
  tm mid{};
  mid.tm_year = local.tm_year;
  mid.tm_mday = 15;
  mid.tm_hour = 12;
  for (int month : {0, 6}) {
    mid.tm_mon = month;
    time_t instant = timegm(&mid) - local.tm_gmtoff;
    tm probe;
    if (!localtime_r(&instant, &probe)) continue;
    if (probe.tm_isdst > 0) {
      Cache.hasDaylight = true;
      CopyZoneName(Cache.daylightName, probe.tm_zone);
    } else {
      CopyZoneName(Cache.standardName, probe.tm_zone);
    }
  }
  return Cache;
}

bool OffsetAt(time_t t, tm* local) { return localtime_r(&t, local) != nullptr; }

// The instant of a local time and the zone's state there. A local time that the clocks
// show twice (the hour after a change back) is taken at its first occurrence; one that
// they skip (the hour of a change forward) is read with the offset in force before the
// change, as glibc's mktime reads it with tm_isdst = -1: 02:30 on 2024-03-10 in New York
// is 02:30 EST, the instant also shown as 03:30 EDT. Returns false when libc has no answer.
bool ResolveLocalTime(const SYSTEMTIME& t, long* offset, tm* at) {
  tm fields{};
  fields.tm_year = t.wYear - 1900;
  fields.tm_mon = t.wMonth - 1;
  fields.tm_mday = t.wDay;
  fields.tm_hour = t.wHour;
  fields.tm_min = t.wMinute;
  fields.tm_sec = t.wSecond;
  time_t asUtc = timegm(&fields);
  tm before, after;
  if (!OffsetAt(asUtc - 86400, &before) || !OffsetAt(asUtc + 86400, &after)) return false;
  bool found = false;
  for (const tm* side : {&before, &after}) {
    tm there;
    if (!OffsetAt(asUtc - side->tm_gmtoff, &there) || there.tm_gmtoff != side->tm_gmtoff) continue;
    // Of two instants, the earlier is the one with the larger offset.
    if (!found || there.tm_gmtoff > *offset) *offset = there.tm_gmtoff, *at = there;
    found = true;
  }
  if (!found) *offset = before.tm_gmtoff, *at = before;  // a gap
  return true;
}

}  // namespace

void TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime, ZoneSnapshot* zone) {
  *zone = ZoneSnapshot{};
  if (utc) {
    CopyText(zone->standardName, 32, u"UTC");
    return;
  }
  FollowTz();
  long offset = 0;  // seconds east of UTC
  tm at;
  bool resolved;
  if (localTime) {
    resolved = ResolveLocalTime(*localTime, &offset, &at);
  } else {
    time_t now = time(nullptr);
    resolved = OffsetAt(now, &at);
    offset = at.tm_gmtoff;
  }
  if (!resolved) {
    zone->state = ZoneInvalid;
    return;
  }
  zone->bias = static_cast<int32_t>(-offset / 60);

  const ZoneYear& year = YearOf(at);
  bool daylight = at.tm_isdst > 0;
  zone->state = daylight ? ZoneDaylight : year.hasDaylight ? ZoneStandard : ZoneUnknown;
  CopyText(zone->standardName, 32, year.standardName);
  CopyText(zone->daylightName, 32, year.daylightName);
  // The name in force at the time itself wins over the year's.
  CopyZoneName(daylight ? zone->daylightName : zone->standardName, at.tm_zone);
}

}  // namespace horalin::platform
