// Line stamps of TS: the current time rendered through the user's format, and the
// times elapsed since the previous stamp and since the start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"
#include "datetime/format.h"
#include "platform/platform.h"

namespace horalin {

inline constexpr uint32_t TSF_DATE = 1;
inline constexpr uint32_t TSF_TIME = 2;
inline constexpr uint32_t TSF_INCREMENTAL = 4;
inline constexpr uint32_t TSF_CUMULATIVE = 8;
// Elapsed times that go back (a log's clock stepped back) shown with a "-", not as none.
inline constexpr uint32_t TSF_SIGNED = 16;

// What the last stamps were made of: the format compiled once, the record of the last
// second, and the last rendering. The format is known by its address, not its text: the
// caller keeps the text at that address unchanged for as long as it passes the cache
// (TS's options hold the format for the whole run); one that changes it, or passes
// another format at the same address, starts with a cleared cache. Within the finest
// unit that the format shows (a millisecond, or the micro- or nanosecond of "%f" and
// "%i") the rendering cannot change, so the stamp text that still holds it is reused;
// within one second the record differs in its fraction only, so the zone is asked once
// per second.
// The stamp text in UTF-8 with the blank that parts it from its line, for lines that go
// out as their bytes (lines/line_bytes.h): made again when the text was rendered anew.
inline constexpr size_t kStampBytes = 512;
struct StampBytes {
  bool made;                         // `bytes` holds the stamp text of rendering `rendering`
  bool usable;                       // ...and it goes as bytes through `write`
  uint32_t rendering;                // the cache's count of renderings when it was made
  uint32_t length;                   // bytes, with the blank
  platform::OutputLineWriter write;  // the host's writer of lines of bytes
  char bytes[kStampBytes];
};

struct StampCache {
  const char16_t* format;  // the format compiled, with these flags
  uint32_t formatFlags;
  bool compiled;           // `steps` holds it (else it does not fit, and is interpreted)
  bool rendered;           // the stamp text begins with the rendering of `unit`
  int64_t unit;            // of the rendered time, in the format's resolution
  Instant renderedAt;      // the instant last rendered (lines of one read share it)
  int32_t renderedLength;  // units of the stamp text that hold the rendered time
  bool recordKnown;        // `record` holds the record of `second`
  int64_t second;
  DateTime record;
  uint32_t renderings;  // texts rendered: a new count, a new stamp text
  StampBytes asBytes;
  CompiledFormat steps;
};

// Fills `stamp` (kFormatText units) for the moment `now`: its wall-clock time rendered
// by `format` (local time unless formatFlags hold FDT_UTC), then with TSF_INCREMENTAL the
// time since *previousTime and with TSF_CUMULATIVE the time since `startTime`, each after
// a blank; then *previousTime becomes now.steady. The elapsed times are differences of
// steady-clock readings, so a change of the system's date and time does not touch them.
// Returns 0; -1 when the format or previousTime is missing; 1, with nothing written,
// when the local time of the instant falls outside 1601 to 9999. `cache`, if given, must
// come with the same stamp text on every call and lets a stamp reuse what the previous
// one made.
// Inline for its usual call, once for each line of a read, where the moment is the last
// stamp's: the text holds that stamp already (elapsed times after it are cut off).
int RenderLineStamp(char16_t* stamp, const char16_t* format, uint32_t stampFlags, uint32_t formatFlags,
                    const Moment& now, uint64_t startTime, uint64_t* previousTime, StampCache* cache);
inline bool RenderedAlready(const char16_t* format, uint32_t formatFlags, Instant now, const StampCache* cache) {
  return cache && cache->rendered && now.seconds == cache->renderedAt.seconds &&
         now.nanoseconds == cache->renderedAt.nanoseconds && cache->format == format &&
         cache->formatFlags == formatFlags;
}
inline int MakeLineStamp(char16_t* stamp, const char16_t* format, uint32_t stampFlags, uint32_t formatFlags,
                         const Moment& now, uint64_t startTime, uint64_t* previousTime, StampCache* cache = nullptr) {
  if (!stamp || !previousTime || (stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)) ||
      !RenderedAlready(format, formatFlags, now.wall, cache))
    return RenderLineStamp(stamp, format, stampFlags, formatFlags, now, startTime, previousTime, cache);
  stamp[cache->renderedLength] = 0;
  return 0;
}

// Appends one blank unless the stamp is empty, ends in white space or holds 8,191 units
// or more. Returns 1 when it appended, 0 when not, -1 when the stamp is missing.
int AppendStampSeparator(char16_t* stamp);

// Appends the elapsed text of `difference` (100-nanosecond units), "hh:mm:ss.mmm" with
// hours not wrapped at 24, cut to the room left in the stamp.
void AppendElapsedText(char16_t* stamp, uint64_t difference);

}  // namespace horalin
