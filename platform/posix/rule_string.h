// POSIX backend: TZ read as a POSIX rule string ("EST5EDT,M3.2.0,M11.1.0"), as the C
// library reads it, parts that it refuses included.
#pragma once

#include <cstdint>
#include <string>

namespace horalin::platform {

struct RuleZone {
  // The zone's data in the TZif form that the zone library reads (its changes listed
  // from 1970 to 2600); empty when the zone has one state for all time, below.
  std::string data;
  std::string name;
  int32_t offset = 0;  // seconds east of UTC
  bool daylight = false;
};

// What the C library makes of `tz` as a rule string.
RuleZone ReadRuleString(const char* tz);

}  // namespace horalin::platform
