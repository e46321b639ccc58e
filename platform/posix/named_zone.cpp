// POSIX backend: a zone of the tz database named for reading a log's stamps
// ("/ZONE:Europe/Berlin"), beside the zone that TZ names, which stays the zone of what
// is shown. Looked up in the zone library at each local time: a log's stamps are read
// once each.
#include <absl/time/civil_time.h>
#include <absl/time/time.h>

#include <cstring>

#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

absl::TimeZone Named;
bool HaveNamed = false;

}  // namespace

const char16_t kZoneNamesTaken[] = u" or a zone such as Europe/Berlin";

bool SelectNamedZone(const char16_t* name) {
  char utf8[256];
  size_t n = 0;
  for (; name[n] && n + 1 < sizeof utf8; ++n) {
    if (name[n] >= 0x80) return false;  // the database's names are ASCII
    utf8[n] = static_cast<char>(name[n]);
  }
  utf8[n] = 0;
  // A name of the database, not a rule string: it holds a letter and no digit-led offset.
  if (n == 0 || name[n] || std::strchr(utf8, ',')) return false;
  absl::TimeZone zone;
  if (!absl::LoadTimeZone(utf8, &zone)) return false;
  Named = zone;
  HaveNamed = true;
  return true;
}

// A local time that the clocks skip takes the offset before the change, and one that
// they show twice its first occurrence, which has that offset too: as the zone of TZ
// is read.
const ZoneSnapshot& NamedZoneSnapshot(const SYSTEMTIME* localTime, LocalKind* kind) {
  static ZoneSnapshot made;
  made = ZoneSnapshot{0, ZoneInvalid, u"", 0};
  if (kind) *kind = LocalKind::Unsure;
  if (!HaveNamed || !localTime) return made;
  const absl::CivilSecond civil(localTime->wYear, localTime->wMonth, localTime->wDay, localTime->wHour,
                                localTime->wMinute, localTime->wSecond);
  const absl::TimeZone::TimeInfo info = Named.At(civil);
  if (kind)
    *kind = info.kind == absl::TimeZone::TimeInfo::UNIQUE    ? LocalKind::Unique
            : info.kind == absl::TimeZone::TimeInfo::SKIPPED ? LocalKind::Skipped
                                                             : LocalKind::Repeated;
  const absl::Time at = info.kind == absl::TimeZone::TimeInfo::UNIQUE ? info.pre : info.trans - absl::Seconds(1);
  const absl::TimeZone::CivilInfo state = Named.At(at);
  made.bias = -state.offset / 60;
  made.biasSeconds = -state.offset % 60;
  made.state = state.is_dst ? ZoneDaylight : ZoneStandard;
  Utf16FromUtf8(state.zone_abbr, std::strlen(state.zone_abbr), made.name, 32);
  made.name[31] = 0;
  return made;
}

}  // namespace horalin::platform
