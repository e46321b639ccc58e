// POSIX backend: the zone that TZ names, read as the C library reads TZ, so that the
// results are date(1)'s: unset is /etc/localtime, empty is "Universal", a leading colon
// is dropped, a relative name is looked up under TZDIR or /usr/share/zoneinfo, and a
// value that names no file is read as a POSIX rule string ("EST5EDT,M3.2.0,M11.1.0"),
// whose changes the zone library reads as the data of a zone file. Two readings that
// the zone library refuses are handed to it in a form that it takes, and what it then
// lacks is kept beside it (ZoneExtras): a zone file with leap seconds (right/...), whose
// local time the C library shows behind by the leap seconds so far, and a rule string
// with an offset of a day or more (EST24EDT).
#pragma once

#include <absl/time/time.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/rule_string.h"

namespace horalin::platform {

// The version 2 part of a zone file (TZif), where each of its lists lies in the data.
struct ZoneFile {
  const unsigned char* times;      // `count` instants, 8 bytes each
  const unsigned char* kinds;      // `count` indices of the types
  const unsigned char* types;      // `typeCount` types, 6 bytes each: offset, daylight flag, name
  const unsigned char* leaps;      // `leapCount` leap seconds, 12 bytes each: instant, correction
  const unsigned char* standard;   // `standardCount` flags: the type's changes are in standard time
  const unsigned char* universal;  // `universalCount` flags: the type's changes are in UTC
  const unsigned char* end;        // where the lists end and the rule string line begins
  uint32_t count, typeCount, leapCount, standardCount, universalCount, nameBytes;
  std::string_view footer;  // the rule string for the times after the last change (may be empty)
};

// Finds the lists of the zone file in `data`; false when it is no zone file of version 2
// or later, or is cut short.
bool ReadZoneFile(std::string_view data, ZoneFile* file);

int64_t ChangeAt(const ZoneFile& file, uint32_t i);
int32_t TypeOffset(const ZoneFile& file, uint32_t type);
bool TypeDaylight(const ZoneFile& file, uint32_t type);

struct LeapSecond {
  int64_t at;          // from this instant on (read as the C library reads the clock) ...
  int32_t correction;  // ... local time is this many seconds behind
};
inline constexpr size_t kMaxLeapSeconds = 64;

// What the zone library's reading of the zone that LoadZone loaded last lacks; UseZone
// (zone_table.h) builds the table with it.
struct ZoneExtras {
  int32_t offsetShift;  // every offset is this much more than the zone library's
  size_t leapCount;
  LeapSecond leaps[kMaxLeapSeconds];
};
extern ZoneExtras Extras;

// The leap seconds' correction in force at `instant` (0 for a zone without them).
int32_t LeapCorrectionAt(int64_t instant);

// Loads the zone that `tz` (TZ's value; null when it is not set) names into `zone`, and
// sets Extras. False when the library has none: `fixed` then holds the zone's one state.
bool LoadZone(const char* tz, absl::TimeZone* zone, RuleZone* fixed);

}  // namespace horalin::platform
