// What the engine takes from outside itself: the clock, the zone and the locale. Its
// callers hand it a Services record; the exports fill it from the platform
// (lines/platform_services.h), tests from a zone and a clock of their own. The engine
// reads nothing of the system but through it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"

namespace horalin {

struct Services {
  // ---- Clock: the current instant, to the clock's full resolution.
  Instant (*now)();

  // ---- Zone, the one seam between instants and local times. In UTC mode both answer
  // offset 0 and UTC's name. The record may be the provider's own, valid until its next
  // call.
  // UTC to local: the offset, state and name in force at an instant (seconds since 1970).
  const ZoneSnapshot& (*zoneAtInstant)(bool utc, int64_t seconds);
  // Local to UTC: the offset, state and name in force at `localTime` read as local time
  // (now, when it is null), by the rule for the local times that the clocks skip or show
  // twice: the offset in force before the change (see ResolveLocalTime). `kind`, where
  // given, receives what the local time is.
  const ZoneSnapshot& (*zoneAt)(bool utc, const SYSTEMTIME* localTime, LocalKind* kind);

  // ---- Locale. Called once per format, before its first locale query, so that a change
  // of the user's settings shows from that format on.
  void (*followLocale)();
  // Each writes at most room - 1 units and a terminator and returns the units written;
  // 0 when the query failed.
  size_t (*localeText)(Locale locale, LocaleItem item, int index, char16_t* buffer, size_t room);
  size_t (*localeDate)(bool longDate, const SYSTEMTIME& date, char16_t* buffer, size_t room);
  // `force24`: the 24-hour form without the AM/PM marker.
  size_t (*localeTime)(bool force24, const SYSTEMTIME& time, char16_t* buffer, size_t room);
  // In place, under the user's language; a mapping that would change the number of units
  // is not made.
  void (*mapToUpperCase)(char16_t* text, size_t length);
  void (*mapToLowerCase)(char16_t* text, size_t length);
};

}  // namespace horalin
