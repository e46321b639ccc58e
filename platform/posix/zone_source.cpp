// POSIX backend: the zone that TZ names (zone_source.h), through the zone library's hook
// for the data of the zones it loads.
#include "platform/posix/zone_source.h"

#include <absl/time/internal/cctz/include/cctz/zone_info_source.h>
#include <absl/time/time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

// The data that the library is to load under `name`, while it loads it (a rule string's
// zone, or a zone file with its leap seconds taken out).
const std::string* Pending;
const std::string* PendingName;

std::unique_ptr<absl::time_internal::cctz::ZoneInfoSource> ZoneSource(
    const std::string& name,
    const std::function<std::unique_ptr<absl::time_internal::cctz::ZoneInfoSource>(const std::string&)>& files) {
  if (Pending && *PendingName == name) return std::make_unique<DataSource>(*Pending);
  return files(name);
}

uint32_t BigEndian(const unsigned char* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// The header of a TZif block: its six counts, and the size of the block's lists with
// instants of `timeBytes` bytes.
struct Header {
  uint32_t universal, standard, leaps, times, types, names;
  size_t Size(size_t timeBytes) const {
    return times * (timeBytes + 1) + size_t{types} * 6 + names + leaps * (timeBytes + 4) + standard + universal;
  }
};
constexpr size_t kHeaderBytes = 44;

bool ReadHeader(std::string_view data, size_t at, Header* h) {
  if (data.size() < at + kHeaderBytes || data.compare(at, 4, "TZif") != 0) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + at + 20;
  *h = {BigEndian(p, 4),      BigEndian(p + 4, 4),  BigEndian(p + 8, 4),
        BigEndian(p + 12, 4), BigEndian(p + 16, 4), BigEndian(p + 20, 4)};
  return h->types >= 1 && h->types <= 256 && h->times < 100000 && h->leaps < 100000 && h->names < 100000 &&
         h->standard <= h->types && h->universal <= h->types;
}

std::string ReadWholeFile(const std::string& path) {
  std::string data;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return data;
  char chunk[4096];
  for (size_t n; data.size() < (1 << 20) && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) data.append(chunk, n);
  std::fclose(file);
  return data;
}

// The zone file without its leap seconds, which the library does not read: a version 1
// block without data, then the version 2 block with every list but the leap seconds.
std::string WithoutLeapSeconds(std::string_view data, const ZoneFile& f) {
  std::string out(data.substr(0, 20));
  out.append(24, '\0');
  const size_t second = static_cast<size_t>(reinterpret_cast<const char*>(f.times) - data.data()) - kHeaderBytes;
  out.append(data.substr(second, 28));
  out.append(4, '\0');
  out.append(data.substr(second + 32, kHeaderBytes - 32));
  const auto* base = reinterpret_cast<const char*>(f.times);
  out.append(base, static_cast<size_t>(reinterpret_cast<const char*>(f.leaps) - base));
  const auto* flags = reinterpret_cast<const char*>(f.standard);
  out.append(flags, static_cast<size_t>(reinterpret_cast<const char*>(f.end) - flags));
  out.append(f.footer.empty() ? "\n\n" : "\n" + std::string(f.footer) + "\n");
  return out;
}

void TakeLeapSeconds(const ZoneFile& f) {
  Extras.leapCount = std::min<size_t>(f.leapCount, kMaxLeapSeconds);
  for (size_t i = 0; i < Extras.leapCount; ++i) {
    const unsigned char* p = f.leaps + 12 * i;
    Extras.leaps[i] = {static_cast<int64_t>(uint64_t{BigEndian(p, 4)} << 32 | BigEndian(p + 4, 4)),
                       static_cast<int32_t>(BigEndian(p + 8, 4))};
  }
}

std::string ZoneDirectory() {
  const char* dir = std::getenv("TZDIR");
  return dir && *dir ? dir : "/usr/share/zoneinfo";
}

}  // namespace

ZoneExtras Extras;

bool ReadZoneFile(std::string_view data, ZoneFile* f) {
  Header first, h;
  if (!ReadHeader(data, 0, &first) || data[4] < '2') return false;
  const size_t at = kHeaderBytes + first.Size(4);
  if (!ReadHeader(data, at, &h) || data.size() < at + kHeaderBytes + h.Size(8)) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + at + kHeaderBytes;
  *f = {};
  f->count = h.times, f->typeCount = h.types, f->leapCount = h.leaps;
  f->standardCount = h.standard, f->universalCount = h.universal, f->nameBytes = h.names;
  f->times = p;
  f->kinds = f->times + size_t{8} * h.times;
  f->types = f->kinds + h.times;
  f->leaps = f->types + size_t{6} * h.types + h.names;
  f->standard = f->leaps + size_t{12} * h.leaps;
  f->universal = f->standard + h.standard;
  f->end = f->universal + h.universal;
  for (uint32_t i = 0; i < h.times; ++i)
    if (f->kinds[i] >= h.types) return false;
  std::string_view rest = data.substr(static_cast<size_t>(reinterpret_cast<const char*>(f->end) - data.data()));
  if (rest.size() >= 2 && rest[0] == '\n') f->footer = rest.substr(1, rest.find('\n', 1) - 1);
  return true;
}

int64_t ChangeAt(const ZoneFile& f, uint32_t i) {
  const unsigned char* p = f.times + size_t{8} * i;
  return static_cast<int64_t>(uint64_t{BigEndian(p, 4)} << 32 | BigEndian(p + 4, 4));
}

int32_t TypeOffset(const ZoneFile& f, uint32_t type) {
  return static_cast<int32_t>(BigEndian(f.types + size_t{6} * type, 4));
}

bool TypeDaylight(const ZoneFile& f, uint32_t type) { return f.types[6 * type + 4] != 0; }

int32_t LeapCorrectionAt(int64_t instant) {
  size_t i = Extras.leapCount;
  while (i > 0 && instant < Extras.leaps[i - 1].at) --i;
  return i ? Extras.leaps[i - 1].correction : 0;
}

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
    fileName = ZoneDirectory() + '/' + tz;
  }
  Extras = {};
  // The library asks for a name once and remembers the answer, a failure too; the file
  // is read on every load for its leap seconds.
  const std::string data = ReadWholeFile(fileName);
  ZoneFile file;
  std::string load;
  RuleZone rules;
  if (ReadZoneFile(data, &file)) {
    if (file.leapCount > 0) load = WithoutLeapSeconds(data, file);
    TakeLeapSeconds(file);
    if (tz) rules = ReadRuleString(tz, nullptr);       // the state if the library refuses the file
  } else if (tz && data.compare(0, 4, "TZif") != 0) {  // no zone file: a rule string
    const std::string defaults = ReadWholeFile(ZoneDirectory() + "/posixrules");
    ZoneFile defaultFile;
    rules = ReadRuleString(tz, ReadZoneFile(defaults, &defaultFile) ? &defaultFile : nullptr);
    load = rules.data;
    Extras.offsetShift = rules.offsetShift;
  } else if (!tz) {
    rules.name = "UTC";
  }
  Pending = load.empty() ? nullptr : &load;
  PendingName = &fileName;
  bool loaded = absl::LoadTimeZone(fileName, zone);
  Pending = nullptr;
  if (!loaded) {
    *fixed = rules;
    Extras = {};
  }
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
