#include "lines/stamp.h"

#include "common/text.h"
#include "datetime/calendar.h"
#include "datetime/format.h"
#include "datetime/instant.h"
#include "lines/platform_services.h"
#include "platform/platform.h"

namespace horalin {

namespace {

constexpr uint64_t kUnitsPerMillisecond = 10000;
constexpr uint64_t kUnitsPerSecond = 10000000;

// The record of `now`, from the cache's record of its second (made with the cache's flags).
bool RecordOf(Instant now, bool utc, StampCache* cache, DateTime* record) {
  if (!cache) return DateTimeAt(now, utc, kPlatformServices, record);
  if (!cache->recordKnown || cache->second != now.seconds) {
    cache->recordKnown = DateTimeAt(now, utc, kPlatformServices, &cache->record);
    cache->second = now.seconds;
    if (!cache->recordKnown) return false;
  }
  *record = cache->record;
  record->instant.nanoseconds = now.nanoseconds;
  record->local.wMilliseconds = static_cast<uint16_t>(now.nanoseconds / 1000000);
  return true;
}

// The rendering of `now` into the stamp text; its length, or -1 when the instant is refused.
int64_t Render(char16_t* stamp, const char16_t* format, uint32_t formatFlags, Instant now, StampCache* cache) {
  const bool utc = (formatFlags & FDT_UTC) != 0;
  DateTime record;
  if (!cache) {
    if (!DateTimeAt(now, utc, kPlatformServices, &record)) return -1;
    return FormatDateTime(stamp, format, record, formatFlags, kPlatformServices);
  }
  if (cache->format != format || cache->formatFlags != formatFlags) {
    cache->format = format;
    cache->formatFlags = formatFlags;
    cache->compiled = CompileFormat(format, formatFlags, &cache->steps);
    cache->rendered = cache->recordKnown = false;
  }
  const uint32_t resolution = cache->compiled ? cache->steps.resolution : 1;
  const int64_t unit = now.seconds * (1000000000 / resolution) + now.nanoseconds / resolution;
  if (cache->rendered && cache->unit == unit) {
    // The stamp text still holds this rendering and its terminator, but for elapsed times
    // appended after it, which are cut off.
    stamp[cache->renderedLength] = 0;
    return cache->renderedLength;
  }
  // The zone's answer is the record's, kept for the second; a change of zone shows from
  // the next second on.
  cache->rendered = false;
  if (!RecordOf(now, (cache->formatFlags & FDT_UTC) != 0, cache, &record)) return -1;
  const int64_t length = cache->compiled ? RenderFormat(stamp, cache->steps, record, kPlatformServices)
                                         : FormatDateTime(stamp, format, record, formatFlags, kPlatformServices);
  cache->rendered = true;
  ++cache->renderings;
  cache->unit = unit;
  cache->renderedAt = now;
  cache->renderedLength = static_cast<int32_t>(length);
  return length;
}

// The time from `then` to `now`, after a separator. The steady clock does not go back; a
// reading older than `then` (one that a caller took later, or from another clock) shows
// no time elapsed, not a wrapped count, unless `isSigned` asks for it with its "-".
void AppendGap(char16_t* stamp, uint64_t now, uint64_t then, bool isSigned) {
  AppendStampSeparator(stamp);
  if (isSigned && now < then) AppendText(stamp, kFormatText, u"-");
  AppendElapsedText(stamp, now > then ? now - then : isSigned ? then - now : 0);
}

}  // namespace

int AppendStampSeparator(char16_t* stamp) {
  if (!stamp) return -1;
  size_t length = TextLength(stamp);
  if (length == 0 || length >= kFormatText - 1 || IsSpace(stamp[length - 1])) return 0;
  stamp[length] = u' ';
  stamp[length + 1] = 0;
  return 1;
}

void AppendElapsedText(char16_t* stamp, uint64_t difference) {
  char16_t text[40];
  char16_t* p = PutDecimal(text, difference / 36000000000ull, 2);  // hours, not wrapped at 24
  *p++ = u':';
  p = PutDecimal(p, difference / 600000000 % 60, 2);
  *p++ = u':';
  p = PutDecimal(p, difference / kUnitsPerSecond % 60, 2);
  *p++ = u'.';
  p = PutDecimal(p, difference / kUnitsPerMillisecond % 1000, 3);
  *p = 0;
  AppendText(stamp, kFormatText, text);
}

int RenderLineStamp(char16_t* stamp, const char16_t* format, uint32_t stampFlags, uint32_t formatFlags,
                    const Moment& now, uint64_t startTime, uint64_t* previousTime, StampCache* cache) {
  if (!stamp || !format || !previousTime) return -1;
  if (RenderedAlready(format, formatFlags, now.wall, cache))  // elapsed times after it are cut off
    stamp[cache->renderedLength] = 0;
  else if (Render(stamp, format, formatFlags, now.wall, cache) < 0)
    return 1;
  if (!(stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE))) return 0;
  if (stampFlags & TSF_INCREMENTAL) AppendGap(stamp, now.steady, *previousTime, stampFlags & TSF_SIGNED);
  if (stampFlags & TSF_CUMULATIVE) AppendGap(stamp, now.steady, startTime, stampFlags & TSF_SIGNED);
  *previousTime = now.steady;
  return 0;
}

}  // namespace horalin
