// POSIX backend: the time zone. (Interim: UTC only.)
#include "common/text.h"
#include "platform/platform.h"

namespace horalin::platform {

void TakeZoneSnapshot(bool utc, const SYSTEMTIME*, ZoneSnapshot* zone) {
  *zone = ZoneSnapshot{};
  CopyText(zone->standardName, 32, u"UTC");
  (void)utc;
}

}  // namespace horalin::platform
