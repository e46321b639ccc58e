// The date and time argument of @DATEFMT: the current moment, a calendar date, an ISO 8601
// week date, an ordinal date or a day offset from today, with an optional time of day and
// UTC marker.
#pragma once

#include <cstdint>

#include "common/types.h"

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

// Reads the date and time at the start of `text` into `dateTime` (fields not given stay
// 0). On success returns 0 and hands back, where asked, the position after the date,
// time and following white space (`end`) and 1 for UTC, 0 for local time (`utc`).
// On failure the message is written to standard error and a result code above is
// returned; `end` and `utc` are not written. A null `dateTime` gives -1.
int32_t ParseDateTime(const char16_t* text, SYSTEMTIME* dateTime, const char16_t** end, int32_t* utc);

// The first position at or after `p` that is not white space (as iswspace decides).
const char16_t* SkipWhiteSpace(const char16_t* p);

// Writes an empty line, the text from `start` to its end, and a caret under `position`
// to standard error. Returns -1 for a null pointer, -2 when `position` lies before
// `start` (nothing written), 0 otherwise.
int32_t ShowErrorPosition(const char16_t* start, const char16_t* position);

}  // namespace horalin
