// POSIX backend: the zone that TZ names, read as the C library reads TZ, so that the
// results are date(1)'s: unset is /etc/localtime, empty is "Universal", a leading colon
// is dropped, a relative name is looked up under TZDIR or /usr/share/zoneinfo, and a
// value that names no file is read as a POSIX rule string ("EST5EDT,M3.2.0,M11.1.0"),
// whose changes the zone library reads as the data of a zone file.
#pragma once

#include <absl/time/time.h>

#include "platform/posix/rule_string.h"

namespace horalin::platform {

// Loads the zone that `tz` (TZ's value; null when it is not set) names into `zone`.
// False when the library has none: `fixed` then holds the zone's one state.
bool LoadZone(const char* tz, absl::TimeZone* zone, RuleZone* fixed);

}  // namespace horalin::platform
