// Line stamps of TS: the current time rendered through the user's format, and the
// times elapsed since the previous stamp and since the start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"

namespace horalin {

inline constexpr uint32_t TSF_DATE = 1;
inline constexpr uint32_t TSF_TIME = 2;
inline constexpr uint32_t TSF_INCREMENTAL = 4;
inline constexpr uint32_t TSF_CUMULATIVE = 8;
// Elapsed times that go back (a log's clock stepped back) shown with a "-", not as none.
inline constexpr uint32_t TSF_SIGNED = 16;

// What the last stamp rendered. Within one millisecond (the finest unit a format shows)
// the rendered time cannot change, so the stamp text that still holds it is reused;
// the local time is looked up once per second. The rendering is known by the format's
// address, not its text: the caller keeps the text at that address unchanged for as
// long as it passes the cache (TS's options hold the format for the whole run); one that
// changes it, or passes another format at the same address, starts with a cleared cache.
struct StampCache {
  bool rendered;           // the stamp text begins with the rendering of `millisecond`
  uint64_t millisecond;    // of the rendered time, counted like a file time / 10,000
  int32_t renderedLength;  // units of the stamp text that hold the rendered time
  const char16_t* format;  // the rendering was made with this format and these flags
  uint32_t formatFlags;
  bool converted;     // `shown` holds the time to display for `second`
  uint64_t second;    // file time / 10,000,000
  uint32_t shownUtc;  // FDT_UTC when `shown` is UTC
  SYSTEMTIME shown;
  // The zone's offset over a quarter of an hour of UTC, when it is the same at both ends
  // of it: zones change their offsets at whole quarters of an hour (local mean time's
  // odd offsets, older, show different ends), so it holds within.
  bool quarterKnown;
  uint64_t quarter;       // file time / 9,000,000,000
  int64_t quarterOffset;  // 100-nanosecond units, local time less UTC
};

// Fills `stamp` (kFormatText units) for the moment `now`: its wall-clock time rendered
// by `format` (local time unless formatFlags hold FDT_UTC), then with TSF_INCREMENTAL the
// time since *previousTime and with TSF_CUMULATIVE the time since `startTime`, each after
// a blank; then *previousTime becomes now.steady. The elapsed times are differences of
// steady-clock readings, so a change of the system's date and time does not touch them.
// Returns 0, or -1 when the format or previousTime is missing. `cache`, if given, must
// come with the same stamp text on every call and lets a stamp reuse the previous one's
// rendering.
int MakeLineStamp(char16_t* stamp, const char16_t* format, uint32_t stampFlags, uint32_t formatFlags, const Moment& now,
                  uint64_t startTime, uint64_t* previousTime, StampCache* cache = nullptr);

// Appends one blank unless the stamp is empty, ends in white space or holds 8,191 units
// or more. Returns 1 when it appended, 0 when not, -1 when the stamp is missing.
int AppendStampSeparator(char16_t* stamp);

// Appends the elapsed text of `difference` (100-nanosecond units), "hh:mm:ss.mmm" with
// hours not wrapped at 24, cut to the room left in the stamp.
void AppendElapsedText(char16_t* stamp, uint64_t difference);

}  // namespace horalin
