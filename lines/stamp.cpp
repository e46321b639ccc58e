#include "lines/stamp.h"

#include "common/text.h"
#include "datetime/calendar.h"
#include "datetime/format.h"
#include "lines/platform_services.h"
#include "platform/platform.h"

namespace horalin {

namespace {

constexpr uint64_t kUnitsPerMillisecond = 10000;
constexpr uint64_t kUnitsPerSecond = 10000000;
constexpr uint64_t kUnitsPerQuarter = 900 * kUnitsPerSecond;

// Local time less UTC at a UTC file time, in 100-nanosecond units; false on failure.
bool LocalOffsetAt(uint64_t utc, int64_t* offset) {
  SYSTEMTIME local;
  if (!platform::LocalTimeFromUtc(SystemTimeFromFileTime(utc), &local)) return false;
  *offset = static_cast<int64_t>(FileTimeFromSystemTime(local) / kUnitsPerSecond * kUnitsPerSecond) -
            static_cast<int64_t>(utc / kUnitsPerSecond * kUnitsPerSecond);
  return true;
}

// The local time of `now` through the quarter hour's offset, when the cache knows it or
// learns it now. Times of a log come a second or more apart, a local time each.
bool LocalTimeInQuarter(uint64_t now, StampCache* cache, SYSTEMTIME* shown) {
  uint64_t quarter = now / kUnitsPerQuarter;
  if (!cache->quarterKnown || cache->quarter != quarter) {
    int64_t first = 0, last = 0;
    uint64_t start = quarter * kUnitsPerQuarter;
    cache->quarterKnown = LocalOffsetAt(start, &first) &&
                          LocalOffsetAt(start + kUnitsPerQuarter - kUnitsPerSecond, &last) && first == last &&
                          (first >= 0 || static_cast<uint64_t>(-first) <= start);
    cache->quarter = quarter;
    cache->quarterOffset = first;
    if (!cache->quarterKnown) return false;
  }
  *shown = SystemTimeFromFileTime(static_cast<uint64_t>(static_cast<int64_t>(now) + cache->quarterOffset));
  return true;
}

// The time to display for `now`: UTC, or local time. Zone offsets change only at whole
// seconds, so the conversion is made once per second.
SYSTEMTIME ShownTime(uint64_t now, uint32_t formatFlags, StampCache* cache) {
  uint64_t second = now / kUnitsPerSecond;
  uint32_t utcFlag = formatFlags & FDT_UTC;
  SYSTEMTIME shown;
  if (cache && cache->converted && cache->second == second && cache->shownUtc == utcFlag) {
    shown = cache->shown;
  } else {
    if (utcFlag || !cache || !LocalTimeInQuarter(now, cache, &shown)) {
      shown = SystemTimeFromFileTime(now);
      SYSTEMTIME local;
      if (!utcFlag && platform::LocalTimeFromUtc(shown, &local)) shown = local;
    }
    if (cache) {
      cache->converted = true;
      cache->second = second;
      cache->shownUtc = utcFlag;
      cache->shown = shown;
    }
  }
  shown.wMilliseconds = static_cast<uint16_t>(now / kUnitsPerMillisecond % 1000);
  return shown;
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

// The time from `then` to `now`, after a separator. The steady clock does not go back; a
// reading older than `then` (one that a caller took later, or from another clock) shows
// no time elapsed, not a wrapped count, unless `isSigned` asks for it with its "-".
namespace {
void AppendGap(char16_t* stamp, uint64_t now, uint64_t then, bool isSigned) {
  AppendStampSeparator(stamp);
  if (isSigned && now < then) AppendText(stamp, kFormatText, u"-");
  AppendElapsedText(stamp, now > then ? now - then : isSigned ? then - now : 0);
}
}  // namespace

int MakeLineStamp(char16_t* stamp, const char16_t* format, uint32_t stampFlags, uint32_t formatFlags, const Moment& now,
                  uint64_t startTime, uint64_t* previousTime, StampCache* cache) {
  if (!stamp || !format || !previousTime) return -1;
  uint64_t millisecond = now.utc / kUnitsPerMillisecond;
  if (cache && cache->rendered && cache->millisecond == millisecond && cache->format == format &&
      cache->formatFlags == formatFlags) {
    // The stamp text still holds this rendering and its terminator, but for elapsed times
    // appended after it, which are cut off.
    if (stamp[cache->renderedLength] != 0) stamp[cache->renderedLength] = 0;
  } else {
    int64_t length =
        FormatDateTime(stamp, format, ShownTime(now.utc, formatFlags, cache), formatFlags, kPlatformServices);
    if (cache) {
      cache->rendered = length >= 0;
      cache->millisecond = millisecond;
      cache->renderedLength = static_cast<int32_t>(length);
      cache->format = format;
      cache->formatFlags = formatFlags;
    }
  }
  if (!(stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE))) return 0;
  if (stampFlags & TSF_INCREMENTAL) AppendGap(stamp, now.steady, *previousTime, stampFlags & TSF_SIGNED);
  if (stampFlags & TSF_CUMULATIVE) AppendGap(stamp, now.steady, startTime, stampFlags & TSF_SIGNED);
  *previousTime = now.steady;
  return 0;
}

}  // namespace horalin
