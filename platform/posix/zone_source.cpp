// POSIX backend: the zone that TZ names (zone_source.h), through the zone library's hook
// for the data of the zones it loads.
#include "platform/posix/zone_source.h"

#include <absl/time/internal/cctz/include/cctz/zone_info_source.h>
#include <absl/time/time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

namespace horalin::platform {

namespace {

// The data of a zone that the library reads from memory.
class DataSource : public absl::time_internal::cctz::ZoneInfoSource {
 public:
  explicit DataSource(const std::string& data) : data_(data) {}
  size_t Read(void* ptr, size_t size) override {
    size = std::min(size, data_.size() - position_);
    std::memcpy(ptr, data_.data() + position_, size);
    position_ += size;
    return size;
  }
  int Skip(size_t offset) override {
    if (offset > data_.size() - position_) return -1;
    position_ += offset;
    return 0;
  }

 private:
  const std::string& data_;
  size_t position_ = 0;
};

// The zone of a rule string for the library to load, while it loads it under `name`.
const RuleZone* Pending;
const std::string* PendingName;

std::unique_ptr<absl::time_internal::cctz::ZoneInfoSource> ZoneSource(
    const std::string& name,
    const std::function<std::unique_ptr<absl::time_internal::cctz::ZoneInfoSource>(const std::string&)>& files) {
  if (auto source = files(name)) return source;
  if (Pending && *PendingName == name) return std::make_unique<DataSource>(Pending->data);
  return nullptr;
}

}  // namespace

bool LoadZone(const char* tz, absl::TimeZone* zone, RuleZone* fixed) {
  if (tz && *tz == ':') ++tz;
  if (tz && !*tz) tz = "Universal";
  // Always a path: it keeps the library's own names ("localtime", "Fixed/...") out of it.
  std::string fileName;
  if (!tz) {
    fileName = "/etc/localtime";
  } else if (*tz == '/') {
    fileName = tz;
  } else {
    const char* dir = std::getenv("TZDIR");
    fileName = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + '/' + tz;
  }
  RuleZone rules;
  if (tz)
    rules = ReadRuleString(tz);
  else
    rules.name = "UTC";
  // The library asks for a name once and remembers the answer, a failure too.
  Pending = rules.data.empty() ? nullptr : &rules;
  PendingName = &fileName;
  bool loaded = absl::LoadTimeZone(fileName, zone);
  Pending = nullptr;
  if (!loaded) *fixed = rules;
  return loaded;
}

}  // namespace horalin::platform

namespace absl {
ABSL_NAMESPACE_BEGIN
namespace time_internal::cctz_extension {
// The library asks this for the data of every zone it loads, once per name.
ZoneInfoSourceFactory zone_info_source_factory = horalin::platform::ZoneSource;
}  // namespace time_internal::cctz_extension
ABSL_NAMESPACE_END
}  // namespace absl
