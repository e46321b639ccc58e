// POSIX backend: the time zone, from the tz database through Abseil's time zone library
// (the zone files, their rule strings for the years past their last change, and the
// abbreviations). TZ is read as the C library reads it, so that the results are date(1)'s:
// unset is /etc/localtime, empty is "Universal", a leading colon is dropped, a relative
// name is looked up under TZDIR or /usr/share/zoneinfo, and a value that names no file
// is read as a POSIX rule string ("EST5EDT,M3.2.0,M11.1.0"). A change of TZ between two
// calls shows in the second.
//
// Each zone is turned once into a table of the local times at which its offset, daylight
// flag or name change, so that a lookup is a search in that table, or no search at all
// when the local time falls in the interval of the previous one.
#include <absl/time/civil_time.h>
#include <absl/time/clock.h>
#include <absl/time/internal/cctz/include/cctz/zone_info_source.h>
#include <absl/time/time.h>
#include <unistd.h>  // environ

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/days.h"
#include "common/text.h"
#include "common/utf.h"
#include "common/words.h"
#include "platform/platform.h"
#include "platform/posix/rule_string.h"

namespace horalin::platform {

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kFourCenturies = 146097 * kDay;  // the Gregorian calendar and the rules repeat after this
// Local times from 2600 on are read 400 years (or a multiple) earlier, at the latest:
// 200 years past a zone's last change of its own (2037 or soon after in the tz
// database), its rule string holds.
constexpr int64_t kFoldFrom = 230103 * kDay;  // 2600-01-01 00:00

// What is in force over an interval: the offset and daylight flag, and the name by
// its index in Names.
struct InForce {
  int32_t offset;  // seconds east of UTC
  uint8_t name;
  bool daylight;
};

constexpr size_t kMaxIntervals = 4096;  // Europe/Berlin needs about 950 (to 2437)
constexpr size_t kMaxNames = 64;

// The zone as a partition of local time: interval i begins at Starts[i] (seconds since
// 1970 read as UTC; Starts[0] is the smallest value) and ends where the next begins. A
// local time that the clocks skip belongs to the interval before the change and one that
// they show twice to the earlier interval, so an interval begins at the later of the two
// local readings of its change.
struct ZoneTable {
  size_t count;
  int64_t end;      // local times from here on are folded back, or resolved directly
  bool direct;      // the table filled up before kFoldFrom: resolve past `end` directly
  size_t last;      // the interval of the previous lookup
  int64_t lastEnd;  // where it ends
  size_t names;
  int shift;  // Buckets[b]: the interval in force at Starts[1] + (b << shift)
};

// TZ's entry as last seen: "TZ=" and the value ("\x01" before the first call).
char SeenTz[259] = "TZ=\x01";
size_t SeenBytes = 5;
bool Loaded;  // Zone holds the zone (else the table holds one fixed interval)
absl::TimeZone Zone;
ZoneTable Table;
int64_t Starts[kMaxIntervals];
InForce States[kMaxIntervals];
char16_t Names[kMaxNames][32];
// Where to begin the search for a local time: a few intervals at most lie between.
constexpr size_t kMaxBuckets = 4096;
uint16_t Buckets[kMaxBuckets];

uint8_t NameIndex(const char* name) {
  char16_t wide[32]{};
  Utf16FromUtf8(name, strnlen(name, 64), wide, 32);
  for (size_t i = 0; i < Table.names; ++i)
    if (std::char_traits<char16_t>::compare(Names[i], wide, 32) == 0) return static_cast<uint8_t>(i);
  if (Table.names == kMaxNames) return kMaxNames - 1;  // more names than any zone has: the last slot is shared
  std::memcpy(Names[Table.names], wide, sizeof wide);
  return static_cast<uint8_t>(Table.names++);
}

InForce StateOf(const absl::TimeZone::CivilInfo& info) {
  return {static_cast<int32_t>(info.offset), NameIndex(info.zone_abbr), info.is_dst};
}

int64_t LocalSeconds(const absl::CivilSecond& civil) { return civil - absl::CivilSecond(1970); }

// The zone's state for a local time, asked of the library (past a table that filled up).
InForce ResolveDirectly(int64_t local) {
  absl::TimeZone::TimeInfo when = Zone.At(absl::CivilSecond(1970) + local);
  // Skipped: the state before the change; shown twice: the first occurrence.
  absl::Time instant = when.kind == absl::TimeZone::TimeInfo::SKIPPED ? when.trans - absl::Seconds(1) : when.pre;
  return StateOf(Zone.At(instant));
}

void SetFixed(const char* name, int32_t offset, bool daylight) {
  Loaded = false;
  Table = {1, INT64_MAX, false, 0, INT64_MAX, 0, 0};
  Starts[0] = INT64_MIN;
  States[0] = {offset, NameIndex(name), daylight};
}

void FillTable() {
  Table = {0, INT64_MAX, false, 0, INT64_MIN, 0, 0};
  absl::TimeZone::CivilTransition change;
  Starts[0] = INT64_MIN;
  Table.count = 1;
  if (!Zone.NextTransition(absl::InfinitePast(), &change)) {  // a zone without changes
    States[0] = StateOf(Zone.At(absl::UnixEpoch()));
    return;
  }
  absl::Time at = Zone.At(change.to).trans;
  States[0] = StateOf(Zone.At(at - absl::Seconds(1)));
  for (;;) {
    int64_t start = LocalSeconds(std::max(change.from, change.to));
    if (start >= kFoldFrom || Table.count == kMaxIntervals) {
      Table.end = std::min(start, kFoldFrom);
      Table.direct = start < kFoldFrom;
      return;
    }
    if (start > Starts[Table.count - 1]) Starts[Table.count++] = start;  // else the later change wins
    States[Table.count - 1] = StateOf(Zone.At(at));
    if (!Zone.NextTransition(at, &change)) break;
    at = Zone.At(change.to).trans;
  }
  // The library lists the changes of a zone's rule string for the 400 years that follow
  // the zone's last change of its own and then stops, though the rule goes on. When the
  // state still changes within a year of the last change listed, the table ends with that
  // change's year, and later years are read 400 years earlier, as the library reads them.
  const InForce& last = States[Table.count - 1];
  for (int week = 1; week <= 53; ++week) {
    InForce later = StateOf(Zone.At(at + absl::Hours(24 * 7 * week)));
    if (later.offset != last.offset || later.daylight != last.daylight || later.name != last.name) {
      Table.end = LocalSeconds(absl::CivilSecond(absl::CivilYear(Zone.At(at).cs) + 1));
      Table.count = static_cast<size_t>(std::lower_bound(Starts + 1, Starts + Table.count, Table.end) - Starts);
      return;
    }
  }
}

void BuildTable() {
  FillTable();
  if (Table.count < 3) return;
  int64_t span = Starts[Table.count - 1] - Starts[1];
  int shift = 24;  // about 194 days
  while ((span >> shift) >= static_cast<int64_t>(kMaxBuckets)) ++shift;
  Table.shift = shift;
  size_t i = 1;
  for (int64_t b = 0; b <= (span >> shift); ++b) {
    while (i + 1 < Table.count && Starts[i + 1] <= Starts[1] + (b << shift)) ++i;
    Buckets[b] = static_cast<uint16_t>(i);
  }
}

constexpr size_t kNoInterval = SIZE_MAX;

// The interval in force at a local time; kNoInterval past a table that filled up.
size_t IntervalAt(int64_t local) {
  if (local >= Table.end) {
    if (Table.direct) return kNoInterval;
    local -= ((local - Table.end) / kFourCenturies + 1) * kFourCenturies;
  }
  size_t i = Table.last;
  if (local < Starts[i] || local >= Table.lastEnd) {
    if (Table.count < 3 || local < Starts[1] || local >= Starts[Table.count - 1]) {
      i = local < Starts[1] || Table.count == 1 ? 0 : Table.count - 1;
    } else {
      // Starts[1] <= local < Starts[count - 1]: the walk stops by count - 2. Most buckets
      // hold a change or two: the first two steps take no branch.
      i = Buckets[(local - Starts[1]) >> Table.shift];
      i += Starts[i + 1] <= local;
      i += Starts[i + 1] <= local;
      while (Starts[i + 1] <= local) ++i;
    }
    Table.last = i;
    Table.lastEnd = i + 1 < Table.count ? Starts[i + 1] : INT64_MAX;
  }
  return i;
}

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

// Where TZ was found in the environment, so that a call can tell that it has not changed
// without a search: its entry, or, while it is not set, the end of the array, where
// setenv and putenv add an entry (unsetenv moves the later entries down; the C library
// never shrinks the array that it keeps, nor frees an entry that it made).
struct TzPlace {
  char** entries;       // environ when TZ was looked for (null: look again)
  size_t where;         // TZ's entry; while TZ is not set, the number of entries
  const char* lastOne;  // TZ's entry; while TZ is not set, the last entry (null when there is none)
  bool set;
};
TzPlace Place;

// Whether the n bytes (at least four) at a and b agree, a word at a time; words may
// overlap. Nearly every TZ entry has 8 to 24 bytes: three words.
bool SameBytes(const char* a, const char* b, size_t n) {
  auto differ = [&](size_t at) { return words::Load(a + at) ^ words::Load(b + at); };
  if (n - 8 <= 16) return (differ(0) | differ((n - 8) / 2) | differ(n - 8)) == 0;
  if (n < 8) {
    auto load4 = [](const char* p) {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    };
    return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
  }
  uint64_t any = 0;
  for (size_t i = 0; i + 8 < n; i += 8) any |= differ(i);
  return (any | differ(n - 8)) == 0;
}

// Whether TZ is where it was found, with the value last seen (putenv lets a program
// change a value in place). The entry is the one seen, so it still has the storage that
// held SeenTz and its terminator: the bytes compare without a search for the end.
bool TzUnchanged() {
  char** env = environ;
  if (!env || env != Place.entries) return false;
  if (!Place.set) return !env[Place.where] && (Place.where ? env[Place.where - 1] == Place.lastOne : true);
  return env[Place.where] == Place.lastOne && SameBytes(Place.lastOne, SeenTz, SeenBytes);
}

// getenv("TZ"), noting where it was found.
const char* TzVariable() {
  char** env = environ;
  Place = {env, 0, nullptr, false};
  if (!env) return nullptr;
  size_t i = 0;
  for (; env[i]; ++i) {
    if (std::strncmp(env[i], "TZ=", 3) == 0) {
      Place.where = i;
      Place.lastOne = env[i];
      Place.set = true;
      return env[i] + 3;
    }
  }
  Place.where = i;
  Place.lastOne = i ? env[i - 1] : nullptr;
  return nullptr;
}

// Loads the zone that TZ names, when TZ has changed since the last call; whether it has.
bool FollowTz() {
  const char* tz = TzVariable();
  const char* seen = tz ? tz : "\x01\x01";
  if (std::strcmp(seen, SeenTz + 3) == 0) return false;  // the value is "\x02" when too long to remember
  std::strcpy(SeenTz + 3, std::strlen(seen) < sizeof SeenTz - 3 ? seen : "\x02");
  SeenBytes = std::strlen(SeenTz) + 1;

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
  Loaded = absl::LoadTimeZone(fileName, &Zone);
  Pending = nullptr;
  Table.names = 0;
  if (Loaded)
    BuildTable();
  else
    SetFixed(rules.name.c_str(), rules.offset, rules.daylight);
  return true;
}

// The snapshot for a state.
void FillSnapshot(const InForce& state, ZoneSnapshot* zone) {
  // The offset in whole minutes towards zero (as %z shows it), and the seconds left over.
  zone->bias = -state.offset / 60;
  zone->biasSeconds = -state.offset % 60;
  zone->state = state.daylight ? ZoneDaylight : ZoneStandard;
  std::memcpy(zone->name, Names[state.name], sizeof zone->name);
}

// The snapshots of every interval of one year, for the local times of the year that
// comes again and again (a log, a clock read line after line): a lookup is then one entry
// of the year's days and a comparison with the time of day. Made once two lookups in a
// row fall in the same year.
constexpr size_t kYearSlots = 8;  // war time and Ramadan rules change four times a year at most
constexpr uint8_t kNoDay = 0xFF;  // not a day of the year, or one with more than one change
struct YearDay {
  int32_t change;  // the second of the day at which the next interval begins (kDay: none)
  uint8_t zone;    // the interval in force when the day begins; kNoDay: the long way
};
struct YearSnapshots {
  int32_t year;          // 0: none
  int32_t lastMissYear;  // the year of the last lookup that went the long way
  int32_t refused;       // a year that MakeYearSnapshots could not make
  YearDay days[12][31];
  ZoneSnapshot zone[kYearSlots];
};
YearSnapshots ThisYear;

// Makes ThisYear for `year` (1601 to 9999), unless the year reaches the folded or
// unlisted part of the table or changes too often.
void MakeYearSnapshots(int32_t year) {
  ThisYear.year = 0;
  ThisYear.refused = year;
  const int64_t first = (DayNumberFromDate(static_cast<uint32_t>(year), 1, 1) - kUnixEpochDay) * kDay;
  const int leap = IsLeapYear(year);
  const int64_t end = first + (365 + leap) * kDay;
  if (end > Table.end) return;
  int64_t at[kYearSlots];  // where each interval after the first begins, from the year's start
  size_t i = IntervalAt(first);
  size_t n = 0;
  FillSnapshot(States[i], &ThisYear.zone[0]);
  for (; i + 1 < Table.count && Starts[i + 1] < end; ++i) {
    if (++n == kYearSlots) return;
    at[n - 1] = Starts[i + 1] - first;
    FillSnapshot(States[i + 1], &ThisYear.zone[n]);
  }
  at[n] = INT64_MAX;
  size_t k = 0;  // the interval in force at the day's start
  for (unsigned month = 1; month <= 12; ++month) {
    for (unsigned day = 1; day <= 31; ++day) {
      YearDay& entry = ThisYear.days[month - 1][day - 1];
      entry = {kDay, kNoDay};
      if (day > DaysInMonth[month][leap]) continue;
      const int64_t start = (DaysBeforeMonth[month][leap] + day - 1) * kDay;
      while (at[k] <= start) ++k;
      if (at[k] < start + kDay && at[k + 1] < start + kDay) continue;  // two changes in a day
      entry = {static_cast<int32_t>(at[k] < start + kDay ? at[k] - start : kDay), static_cast<uint8_t>(k)};
    }
  }
  ThisYear.year = year;
  ThisYear.refused = 0;
}

// The snapshot for a local time (now, when null) outside the year's snapshots.
__attribute__((noinline)) const ZoneSnapshot& LookUpSnapshot(const SYSTEMTIME* localTime) {
  static const ZoneSnapshot kInvalid{0, ZoneInvalid, u"", 0};
  static ZoneSnapshot made;
  if (!localTime) {
    if (Loaded) {
      absl::TimeZone::CivilInfo now = Zone.At(absl::Now());
      FillSnapshot(StateOf(now), &made);
    } else {
      FillSnapshot(States[0], &made);
    }
    return made;
  }
  DayNumber day = DayNumberFromDate(localTime->wYear, localTime->wMonth, localTime->wDay);
  if (day < 0) return kInvalid;
  int64_t local = (day - kUnixEpochDay) * kDay + int64_t{localTime->wHour} * 3600 + int64_t{localTime->wMinute} * 60 +
                  localTime->wSecond;
  size_t i = IntervalAt(local);
  FillSnapshot(i == kNoInterval ? ResolveDirectly(local) : States[i], &made);
  if (i != kNoInterval && localTime->wYear == ThisYear.lastMissYear && localTime->wYear != ThisYear.refused &&
      localTime->wYear != ThisYear.year)
    MakeYearSnapshots(localTime->wYear);
  ThisYear.lastMissYear = localTime->wYear;
  return made;
}

__attribute__((noinline)) void FollowTzChange() {
  if (FollowTz()) ThisYear.year = ThisYear.lastMissYear = ThisYear.refused = 0;
}

}  // namespace

const ZoneSnapshot& TakeZoneSnapshot(bool utc, const SYSTEMTIME* localTime) {
  static const ZoneSnapshot kUtc{0, ZoneStandard, u"UTC", 0};
  if (utc) return kUtc;
  if (!TzUnchanged()) FollowTzChange();
  // A local time of the year in use: the year's snapshot in force there.
  if (localTime && localTime->wYear == ThisYear.year) {
    const unsigned month = localTime->wMonth, monthDay = localTime->wDay;
    // Below 2^31 whatever the fields hold.
    const int32_t second = localTime->wHour * 3600 + localTime->wMinute * 60 + localTime->wSecond;
    if (month - 1 < 12 && monthDay - 1 < 31 && second < kDay) {
      const YearDay& day = ThisYear.days[month - 1][monthDay - 1];
      if (day.zone != kNoDay) {
        ThisYear.lastMissYear = 0;  // misses of another year are no longer in a row
        return ThisYear.zone[day.zone + (second >= day.change)];
      }
    }
  }
  return LookUpSnapshot(localTime);
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
