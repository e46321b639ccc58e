// POSIX backend: the time zone, from the tz database through libc. TZ is honoured as
// date(1) honours it, and a change of TZ between two calls shows in the second.
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

// The zone in force over a stretch of time: its offset, whether it is daylight saving
// time, and its name.
struct InForce {
  long offset;  // seconds east of UTC
  bool daylight;
  char16_t name[32];
};

// Instants first to last (seconds since 1970) over which the zone stays in one state,
// as found by the last lookup; most calls fall inside it.
struct ZoneWindow {
  bool valid;
  int64_t first, last;
  InForce state;
};

// What the zone is known as in one year: whether it keeps daylight saving time at
// all, and the names of its standard and daylight time.
struct ZoneYear {
  bool valid;
  int64_t year;
  bool hasDaylight;
  char16_t standardName[32];
  char16_t daylightName[32];
};

char SeenTz[256] = "\x01";  // TZ as last seen ("\x01" before the first call)
ZoneWindow Window{};
ZoneYear Year{};

constexpr int64_t kDay = 86400;
// Offsets of two states on both sides of one change differ by less than this, and a
// zone changes state at most once within a day of any instant.
constexpr int64_t kMaxShift = 12 * 3600;

// tzset reads the tz database again; localtime_r does not, so it is called here, and
// only when TZ has changed since the last snapshot. What was learnt of the zone goes.
void FollowTz() {
  const char* tz = std::getenv("TZ");
  if (tz && std::strlen(tz) + 1 >= sizeof SeenTz) tz = "\x02";  // too long to remember: read it every time
  if (!tz) tz = "";
  if (tz[0] != '\x02' && std::strcmp(tz, SeenTz) == 0) return;
  tzset();
  std::strcpy(SeenTz, tz);
  Window.valid = false;
  Year.valid = false;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);             // [0, 399]
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;  // [0, 365]
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool StateAt(int64_t instant, InForce* state, int64_t* year = nullptr) {
  time_t t = static_cast<time_t>(instant);
  tm local;
  if (!localtime_r(&t, &local)) return false;
  state->offset = local.tm_gmtoff;
  state->daylight = local.tm_isdst > 0;
  const char* name = local.tm_zone ? local.tm_zone : "";
  Utf16FromUtf8(name, strnlen(name, 64), state->name, 32);
  if (year) *year = local.tm_year + 1900;
  return true;
}

bool SameState(const InForce& a, const InForce& b) {
  if (a.offset != b.offset || a.daylight != b.daylight) return false;
  for (size_t i = 0; i < 32; ++i) {
    if (a.name[i] != b.name[i]) return false;
    if (!a.name[i]) break;
  }
  return true;
}

// The zone's state for a local time, given as seconds since 1970 read as if it were UTC.
// A local time that the clocks show twice (the hour after a change back) is taken at its
// first occurrence; one that they skip (the hour of a change forward) is read with the
// state in force before the change, as glibc's mktime reads it with tm_isdst = -1:
// 02:30 on 2024-03-10 in New York is 02:30 EST, the instant also shown as 03:30 EDT.
bool ResolveLocalTime(int64_t asUtc, InForce* state) {
  if (Window.valid) {
    int64_t instant = asUtc - Window.state.offset;
    if (instant >= Window.first + kMaxShift && instant <= Window.last - kMaxShift) {
      *state = Window.state;
      return true;
    }
  }
  InForce before, after;
  if (!StateAt(asUtc - kDay, &before) || !StateAt(asUtc + kDay, &after)) return false;
  Window = {SameState(before, after), asUtc - kDay, asUtc + kDay, before};
  bool found = false;
  for (const InForce* side : {&before, &after}) {
    InForce there;
    if (!StateAt(asUtc - side->offset, &there) || there.offset != side->offset) continue;
    // Of two instants, the earlier is the one with the larger offset.
    if (!found || there.offset > state->offset) *state = there;
    found = true;
  }
  if (!found) *state = before;  // a gap
  return true;
}

// Whether the zone keeps daylight saving time in a year, and its names there, from
// mid-January and mid-July: a zone with daylight saving time keeps it at one of them.
const ZoneYear& YearOf(int64_t year, long offset) {
  if (Year.valid && Year.year == year) return Year;
  Year = {true, year, false, {}, {}};
  for (unsigned month : {1u, 7u}) {
    InForce probe;
    if (!StateAt(DaysFromCivil(year, month, 15) * kDay + 43200 - offset, &probe)) continue;
    Year.hasDaylight |= probe.daylight;
    CopyText(probe.daylight ? Year.daylightName : Year.standardName, 32, probe.name);
  }
  return Year;
}

}  // namespace

void TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime, ZoneSnapshot* zone) {
  *zone = ZoneSnapshot{};
  if (utc) {
    CopyText(zone->standardName, 32, u"UTC");
    return;
  }
  FollowTz();
  InForce state;
  int64_t year;
  bool resolved;
  if (localTime) {
    year = localTime->wYear;
    int64_t asUtc = DaysFromCivil(year, localTime->wMonth, localTime->wDay) * kDay + localTime->wHour * 3600 +
                    localTime->wMinute * 60 + localTime->wSecond;
    resolved = ResolveLocalTime(asUtc, &state);
  } else {
    resolved = StateAt(time(nullptr), &state, &year);
  }
  if (!resolved) {
    zone->state = ZoneInvalid;
    return;
  }
  zone->bias = static_cast<int32_t>(-state.offset / 60);
  const ZoneYear& names = YearOf(year, state.offset);
  zone->state = state.daylight ? ZoneDaylight : names.hasDaylight ? ZoneStandard : ZoneUnknown;
  CopyText(zone->standardName, 32, names.standardName);
  CopyText(zone->daylightName, 32, names.daylightName);
  // The name in force at the time itself wins over the year's.
  CopyText(state.daylight ? zone->daylightName : zone->standardName, 32, state.name);
}

}  // namespace horalin::platform
