// POSIX backend: TZ read as a POSIX rule string ("EST5EDT,M3.2.0,M11.1.0"), as the C
// library reads it, parts that it refuses included, and a string with a daylight name
// but no rules ("AAA3BBB") with the changes of the system's posixrules file.
#pragma once

#include <cstdint>
#include <string>

namespace horalin::platform {

struct RuleZone {
  // The zone's data in the TZif form that the zone library reads (its changes listed
  // from 1970 to 2600); empty when the zone has one state for all time, below. Its
  // offsets are the zone's lowered by `offsetShift`, which keeps them within the day
  // that the zone library takes (EST24EDT: -24 and -23 hours are handed over as 0 and 1).
  std::string data;
  int32_t offsetShift = 0;
  std::string name;
  int32_t offset = 0;  // seconds east of UTC
  bool daylight = false;
};

struct ZoneFile;

// What the C library makes of `tz` as a rule string; `defaults`, the posixrules file
// (null when there is none), gives the changes of a string without rules.
RuleZone ReadRuleString(const char* tz, const ZoneFile* defaults);

}  // namespace horalin::platform
