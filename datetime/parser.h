// The date and time argument of @DATEFMT: the current moment, a calendar date, an ISO 8601
// week date, an ordinal date or a day offset from today, with an optional time of day and
// UTC marker.
#pragma once

#include <cstdint>

#include "common/text.h"
#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

// Result codes of ParseDateTime, grouped by the field that failed.
inline constexpr int32_t kParseYear = 100;
inline constexpr int32_t kParseMonth = 101;
inline constexpr int32_t kParseDay = 102;
inline constexpr int32_t kParseWeek = 110;
inline constexpr int32_t kParseWeekday = 111;
inline constexpr int32_t kParseWeekDateRange = 112;
inline constexpr int32_t kParseDayOfYear = 120;
inline constexpr int32_t kParseOffset = 130;
inline constexpr int32_t kParseOffsetRange = 131;
inline constexpr int32_t kParseHour = 200;
inline constexpr int32_t kParseMinute = 201;
inline constexpr int32_t kParseSecond = 203;

// What went wrong in a date and time argument, for the caller to report: the message,
// a format of the host's printf whose numbers (%u) come from `values` in order and
// which ends in "\r\n", and the character that a caret display points at (null: the
// message goes without one).
struct ParseError {
  const char16_t* message;
  uint32_t values[4];
  const char16_t* position;
};

// Reads the date and time at the start of `text` into `dateTime`: fields not given are
// 0, and a local time becomes its instant through ResolveLocalTime (datetime/instant.h),
// so that a time that the clocks skip shows as the time past the change. On success returns 0 and hands back, where
// asked, the position after the date, time and following white space (`end`) and 1 for UTC, 0 for local time (`utc`).
// On failure returns a result code above and describes the fault in `error`, where
// asked; `end` and `utc` are not written. It writes no message itself. A null
// `dateTime` or `text` gives -1. The star forms and day offsets read the clock of
// `services`.
int32_t ParseDateTime(const char16_t* text, DateTime* dateTime, const char16_t** end, int32_t* utc, ParseError* error,
                      const Services& services);

// The first position at or after `p` that is not white space (as iswspace decides; the
// ASCII characters, nearly all that it meets, are decided here).
inline const char16_t* SkipWhiteSpace(const char16_t* p) {
  for (;; ++p) {
    const char16_t c = *p;
    if (c < 0x80 ? c != u' ' && (c < u'\t' || c > u'\r') : !IsSpace(c)) return p;
  }
}

}  // namespace horalin
