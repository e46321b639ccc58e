// Stamps already written at the start of a log's lines: the forms they come in, one
// table row each, read by one small matcher of patterns in the format language's own
// directives. A new form is one row of kStampForms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

// What a stamp holds.
struct StampFields {
  SYSTEMTIME time;    // the date and time as written; wYear 0 when the form has no year
  uint32_t fraction;  // 100-nanosecond units within the second
  int32_t offset;     // seconds east of UTC, with hasOffset
  bool hasOffset;     // "Z" or an offset: the stamp is an instant
  bool isUnix;        // a count since 1970: `unixTime` holds the instant
  uint64_t unixTime;  // file time
};

enum class StampMatch {
  None,   // no stamp of the pattern
  Stamp,  // a stamp; *used units long
  Bad,    // the shape of a stamp with a value out of range or an offset cut short
};

struct StampForm {
  const char16_t* name;
  const char16_t* pattern;
};
inline constexpr size_t kStampFormCount = 5;
// In the order they are tried: the first that matches wins.
extern const StampForm kStampForms[kStampFormCount];

// Reads a stamp of `pattern` at the start of text[0, length), never past it. A stamp
// must not run on into a letter or digit.
StampMatch MatchStampPattern(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                             size_t* used);

// The first form of kStampForms that the text begins with (or only `pattern`, when it is
// given). Bad when no form matched and one found a stamp's shape with a bad value.
StampMatch RecognizeStamp(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                          size_t* used);

// Null when a user's pattern can read stamps (it names a date, or %s, and only the
// directives a stamp is read by); otherwise the position of the fault.
const char16_t* CheckStampPattern(const char16_t* pattern);

// The zone of stamps that carry no offset.
enum class StampZoneKind { Local, Utc, Fixed };
struct StampZone {
  StampZoneKind kind;
  int32_t offset;  // seconds east of UTC, for Fixed
};

// The instant of a stamp with a year, as a file time: a stamp with an offset or a Unix
// time as it stands, a local one in `zone` (the zone of `services`: a local time that
// the clocks skip or show twice is read as the format interpreter reads it). False when
// it is no date or falls outside 1601 to 9999.
bool StampInstant(const StampFields& fields, const StampZone& zone, uint64_t* fileTime, const Services& services);

// The year of a stamp without one (syslog), month and day as written: `today`'s year,
// or the year before when that date would lie more than a day after today.
uint16_t SyslogYear(uint16_t month, uint16_t day, const SYSTEMTIME& today);

}  // namespace horalin
