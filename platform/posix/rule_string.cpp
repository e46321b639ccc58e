// POSIX backend: TZ read as a POSIX rule string, step by step as the C library reads it,
// so that a string it refuses in part gives what date(1) shows: the names and offsets
// read before the fault stand, a rule whose reading failed keeps the fields read so far
// (the others zero), and the second rule is not read after the first failed. The
// changes are then listed year by year as the C library computes them, so that the zone
// library needs no rule string of its own.
#include "platform/posix/rule_string.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "common/days.h"
#include "platform/posix/zone_source.h"

namespace horalin::platform {

namespace {

constexpr int64_t kDay = 86400;

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits as an unsigned number, saturated far above any value that matters.
uint32_t Number(const char*& p) {
  uint32_t value = 0;
  while (IsDigit(*p)) value = std::min<uint32_t>(value * 10 + static_cast<uint32_t>(*p++ - '0'), 1000000);
  return value;
}

// A zone name: three or more letters, or three or more letters, digits and signs in
// angle brackets (copied without them).
bool ParseName(const char*& p, std::string* name) {
  const char* q = p;
  while (IsLetter(*q)) ++q;
  if (q - p >= 3) {
    name->assign(p, q);
    p = q;
    return true;
  }
  if (*p != '<') return false;
  q = p + 1;
  while (IsLetter(*q) || IsDigit(*q) || *q == '+' || *q == '-') ++q;
  if (*q != '>' || q - p - 1 < 3) return false;
  name->assign(p + 1, q);
  p = q + 1;
  return true;
}

// hh[:mm[:ss]] as far as it reads: the seconds, and whether any digit came. In an
// offset, hours are cut to 24 and minutes and seconds to 59; in a rule's time of day,
// nothing is cut.
bool ParseClock(const char*& p, bool offset, int64_t* seconds) {
  if (!IsDigit(*p)) return false;
  *seconds = int64_t{std::min<uint32_t>(Number(p), offset ? 24 : UINT32_MAX)} * 3600;
  for (int64_t unit : {60, 1}) {
    if (*p != ':' || !IsDigit(p[1])) break;
    ++p;
    *seconds += int64_t{std::min<uint32_t>(Number(p), offset ? 59 : UINT32_MAX)} * unit;
  }
  return true;
}

// [+-]hh[:mm[:ss]], POSIX's offsets west of UTC, as seconds east. Hours are cut to 24.
// Without digits the standard time has none (and offset 0); daylight time is then an
// hour ahead of standard time, though a sign was read.
bool ParseOffset(const char*& p, bool daylight, int32_t standard, int32_t* east) {
  if (!daylight && *p != '+' && *p != '-' && !IsDigit(*p)) return false;
  const int64_t sign = *p == '-' ? 1 : -1;
  if (*p == '+' || *p == '-') ++p;
  int64_t seconds = 0;
  if (ParseClock(p, true, &seconds)) {
    *east = static_cast<int32_t>(sign * seconds);
    return true;
  }
  *east = daylight ? standard + 3600 : 0;
  return daylight;
}

// A rule: the day of a change, "Jn" (1 to 365, no 29 February), "n" (0 to 365) or
// "Mm.w.d", and the time of day "/[-]hh[:mm[:ss]]" (2:00 when none).
struct Rule {
  enum Kind { DayFrom0, JulianDay, MonthWeekDay } kind = DayFrom0;
  uint32_t month = 0, week = 0, day = 0;
  int64_t seconds = 0;
};

// Reads a rule into `rule`, which keeps what was read when it fails. "" gives the United
// States' rule: the second Sunday of March for the first, the first of November for the
// second.
bool ParseRule(const char*& p, bool second, Rule* rule) {
  const char* q = p + (*p == ',');
  if (*q == 'J' || IsDigit(*q)) {
    rule->kind = *q == 'J' ? Rule::JulianDay : Rule::DayFrom0;
    if (rule->kind == Rule::JulianDay && !IsDigit(*++q)) return false;
    const uint32_t day = Number(q);
    if (day > 365 || (rule->kind == Rule::JulianDay && day == 0)) return false;
    rule->day = day;
  } else if (*q == 'M') {
    rule->kind = Rule::MonthWeekDay;
    ++q;
    uint32_t* fields[] = {&rule->month, &rule->week, &rule->day};
    for (int i = 0; i < 3; ++i) {
      if ((i > 0 && *q++ != '.') || !IsDigit(*q)) return false;
      *fields[i] = Number(q);
    }
    if (rule->month < 1 || rule->month > 12 || rule->week < 1 || rule->week > 5 || rule->day > 6) return false;
  } else if (!*q) {
    *rule = {Rule::MonthWeekDay, second ? 11u : 3u, second ? 1u : 2u, 0, 0};
  } else {
    return false;
  }
  if (*q && *q != '/' && *q != ',') return false;
  rule->seconds = int64_t{2} * 3600;
  if (*q == '/') {
    if (!*++q) return false;
    const int64_t sign = *q == '-' ? -1 : 1;
    q += *q == '-';
    int64_t seconds = int64_t{2} * 3600;
    ParseClock(q, false, &seconds);
    rule->seconds = sign * seconds;
  }
  p = q;
  return true;
}

// When a rule's change falls, counted from the year's start, in the way of the C library:
// the years before 1970 are counted from 1970's start, and a month past 12 (left by a
// rule that failed) is the next January.
int64_t ChangeOf(const Rule& rule, int32_t year, int32_t offset) {
  const int leap = IsLeapYear(year);
  int64_t t = year > 1970 ? int64_t{DayNumberFromDate(static_cast<uint32_t>(year), 1, 1) - kUnixEpochDay} * kDay : 0;
  if (rule.kind == Rule::JulianDay) {
    t += (int64_t{rule.day} - 1 + (rule.day >= 60 && leap)) * kDay;
  } else if (rule.kind == Rule::DayFrom0) {
    t += int64_t{rule.day} * kDay;
  } else {
    const bool pastDecember = rule.month < 1 || rule.month > 12;
    const int64_t before = pastDecember ? int64_t{365} + leap : int64_t{DaysBeforeMonth[rule.month][leap]};
    const int64_t length = pastDecember ? 0 : int64_t{DaysInMonth[rule.month][leap]};
    const DayNumber first = pastDecember ? DayNumberFromDate(static_cast<uint32_t>(year) + 1, 1, 1)
                                         : DayNumberFromDate(static_cast<uint32_t>(year), rule.month, 1);
    int64_t d = int64_t{rule.day} - first % 7;  // the first such day of the week, from the month's first
    if (d < 0) d += 7;
    for (uint32_t week = 1; week < rule.week && d + 7 < length; ++week) d += 7;
    t += (before + d) * kDay;
  }
  return t - offset + rule.seconds;
}

struct Reading {
  std::string names[2];
  int32_t offsets[2] = {0, 0};
  Rule rules[2];
  bool daylight = false;  // a second state was read
  bool noRules = false;   // ... and no rules after it: the posixrules file's changes, if any
};

Reading Read(const char* tz) {
  Reading r;
  const char* p = tz;
  if (!ParseName(p, &r.names[0]) || !ParseOffset(p, false, 0, &r.offsets[0]) || !*p) return r;
  r.daylight = true;
  if (ParseName(p, &r.names[1])) {
    ParseOffset(p, true, r.offsets[0], &r.offsets[1]);
    r.noRules = !*p || (p[0] == ',' && !p[1]);
    if (r.noRules) p = "";  // no rules (and no posixrules file): the United States' rules
  }
  if (ParseRule(p, false, &r.rules[0])) ParseRule(p, true, &r.rules[1]);
  return r;
}

// Whether daylight time is in force at `t` (in the UTC year `year`), as the C library
// decides it: between the two changes of that year, or outside them when the first
// comes after the second.
bool IsDaylight(const Reading& r, int32_t year, int64_t t) {
  const int64_t start = ChangeOf(r.rules[0], year, r.offsets[0]), end = ChangeOf(r.rules[1], year, r.offsets[1]);
  return start > end ? t < end || t >= start : t >= start && t < end;
}

void PutBigEndian(std::string* out, uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) *out += static_cast<char>((value >> shift) & 0xFF);
}

int64_t YearStart(int32_t year) {
  return int64_t{DayNumberFromDate(static_cast<uint32_t>(year), 1, 1) - kUnixEpochDay} * kDay;
}

// The changes of a zone, in the two lists of the TZif form: each instant, and the state
// after it (0: the state in force before the first change).
struct Changes {
  std::string at, to;
  uint32_t count = 0;
  bool initial = false;  // true: daylight time before the first change
  bool state = false;
  int64_t last = INT64_MIN;
};

Changes StartChanges(bool initial) {
  // A change to the first state before the calendar's first year, as the library may
  // take a state of its own for the times before the first change.
  Changes c;
  c.initial = c.state = initial;
  PutBigEndian(&c.at, static_cast<uint64_t>(int64_t{-12000000000}), 8);
  c.to += '\0';
  c.count = 1;
  c.last = -12000000000;
  return c;
}

// A change at `t` to `daylight`, when that changes the state and comes after the last.
void AddChange(Changes* c, int64_t t, bool daylight) {
  if (daylight == c->state || t <= c->last) return;
  c->state = daylight;
  c->last = t;
  PutBigEndian(&c->at, static_cast<uint64_t>(t), 8);
  c->to += static_cast<char>(daylight != c->initial);
  ++c->count;
}

// The changes of the rules in the years from `from` to 2600.
void AddRuleChanges(const Reading& r, int32_t from, Changes* c) {
  for (int32_t year = from; r.daylight && year <= 2600; ++year) {
    const int64_t first = YearStart(year), next = YearStart(year + 1);
    int64_t at[3] = {first, ChangeOf(r.rules[0], year, r.offsets[0]), ChangeOf(r.rules[1], year, r.offsets[1])};
    std::sort(at + 1, at + 3);
    for (int64_t t : at)
      if (t >= first && t < next) AddChange(c, t, IsDaylight(r, year, t));
  }
}

// The changes of a string without rules, from the posixrules file, as the C library
// makes them: each of the file's changes moved by the difference between the string's
// offsets and the file's (its last standard offset, and for a change made in daylight
// wall-clock time a daylight offset of 0, as the C library takes it); a change that the
// file states in UTC is not moved. Past the file's last change, where the C library
// falls back to the file's own zone, the file's rule string holds, read with the
// string's names and offsets.
void AddDefaultChanges(const char* tz, const Reading& r, const ZoneFile& f, Changes* c) {
  int32_t fileStandard = 0;
  for (uint32_t i = f.count; i-- > 0;) {
    if (!TypeDaylight(f, f.kinds[i])) {
      fileStandard = TypeOffset(f, f.kinds[i]);
      break;
    }
  }
  bool daylight = false;  // the state before the change, by the file's own types
  for (uint32_t i = 0; i < f.count; ++i) {
    const uint32_t type = f.kinds[i];
    const bool universal = type < f.universalCount && f.universal[type];
    const bool standard = type < f.standardCount && f.standard[type];
    const int64_t shift = universal ? 0 : daylight && !standard ? r.offsets[1] : r.offsets[0] - fileStandard;
    daylight = TypeDaylight(f, type);
    AddChange(c, ChangeAt(f, i) + shift, daylight);
  }
  const size_t rules = f.footer.find(',');
  if (f.count == 0 || rules == std::string_view::npos) return;
  std::string_view own(tz);
  if (own.back() == ',') own.remove_suffix(1);
  const Reading later = Read((std::string(own) + std::string(f.footer.substr(rules))).c_str());
  int32_t year = 1970;
  while (year < 2600 && YearStart(year + 1) <= ChangeAt(f, f.count - 1)) ++year;
  AddRuleChanges(later, year + 1, c);
}

// The zone of two states and their changes, in the TZif form: an empty first block, then
// the changes, the two states (the first in force before the first change), their names,
// and no rule string for the years after.
RuleZone MakeZone(const Reading& r, const Changes& c) {
  RuleZone zone;
  const int i = c.initial ? 1 : 0;
  zone.name = r.names[i], zone.offset = r.offsets[i], zone.daylight = c.initial;
  if (c.count == 1) return zone;
  // The zone library takes offsets within a day: a string's that reach it go lowered.
  if (r.offsets[0] <= -kDay || r.offsets[0] >= kDay || r.offsets[1] <= -kDay || r.offsets[1] >= kDay)
    zone.offsetShift = static_cast<int32_t>((int64_t{r.offsets[0]} + r.offsets[1]) / 2);
  std::string& data = zone.data;
  const std::string& firstName = r.names[i];
  const std::string& otherName = r.names[1 - i];
  for (int block = 1; block <= 2; ++block) {
    data += "TZif2";
    data.append(15, '\0');
    const uint32_t names = block == 2 ? static_cast<uint32_t>(firstName.size() + otherName.size() + 2) : 0;
    for (uint32_t n : {0u, 0u, 0u, block == 2 ? c.count : 0u, block == 2 ? 2u : 0u, names}) PutBigEndian(&data, n, 4);
  }
  data += c.at;
  data += c.to;
  for (int k : {i, 1 - i}) {
    PutBigEndian(&data, static_cast<uint32_t>(r.offsets[k] - zone.offsetShift), 4);
    data += static_cast<char>(k == 1);
    data += static_cast<char>(k == i ? 0 : firstName.size() + 1);
  }
  data += firstName + '\0' + otherName + '\0';
  data += "\n\n";
  return zone;
}

}  // namespace

RuleZone ReadRuleString(const char* tz, const ZoneFile* defaults) {
  const Reading r = Read(tz);
  if (r.noRules && defaults && defaults->typeCount >= 2) {
    Changes c = StartChanges(false);  // before the file's first change, standard time
    AddDefaultChanges(tz, r, *defaults, &c);
    return MakeZone(r, c);
  }
  // The changes from 1970 to 2600; before 1970, the state of 1969 as the C library
  // computes it.
  Changes c = StartChanges(r.daylight && IsDaylight(r, 1969, -1));
  AddRuleChanges(r, 1970, &c);
  return MakeZone(r, c);
}

}  // namespace horalin::platform
