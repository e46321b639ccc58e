#include "lines/line_bytes.h"

#include "common/scans.h"
#include "common/text.h"
#include "common/utf.h"
#include "platform/platform.h"

namespace horalin {

namespace {

// Whether the stamp text's UTF-8 is what the host's text makes of it before a blank: not
// for a CR (a host that turns CR LF into LF looks at the unit after it) or a lone
// surrogate (a console shows it as it is), each of which the host's text must take.
bool GoesAsBytes(const char16_t* text, size_t length) {
  for (size_t k = 0; k < length; ++k) {
    if (text[k] == u'\r') return false;
    if (!IsSurrogate(text[k])) continue;
    if (!IsHighSurrogate(text[k]) || k + 1 == length || !IsLowSurrogate(text[k + 1])) return false;
    ++k;
  }
  return true;
}

// The stamp's bytes and blank, made again when the stamp text may have changed: when it
// was rendered anew, and for every line when it shows elapsed times.
const StampBytes& StampAsBytes(const char16_t* stamp, uint32_t stampFlags, StampCache* cache) {
  StampBytes& b = cache->asBytes;
  if (b.made && b.rendering == cache->renderings && !(stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE))) return b;
  b.made = true;
  b.rendering = cache->renderings;
  b.write = platform::OutputLineBytes();
  const size_t length = TextLength(stamp);
  b.usable = b.write && 3 * length < kStampBytes;
  if (!b.usable) return b;
  size_t n = scans::fast::CopyOutputRun(stamp, length, b.bytes);  // 7-bit, the usual stamp
  if (n < length) {
    b.usable = GoesAsBytes(stamp + n, length - n);
    n += Utf8FromUtf16(stamp + n, length - n, b.bytes + n);
  }
  b.bytes[n] = ' ';
  b.length = static_cast<uint32_t>(n + 1);
  return b;
}

}  // namespace

bool LinesGoAsBytes() { return platform::OutputLineBytes() != nullptr; }

bool WriteLineAsBytesAnew(const char16_t* stamp, uint32_t stampFlags, StampCache* cache, const PipeReader& reader,
                          int32_t length, char16_t* line) {
  const uint8_t* bytes = reader.lineAsBytes;
  if (!bytes) return false;
  const StampBytes& head = StampAsBytes(stamp, stampFlags, cache);
  if (head.usable &&
      head.write(head.bytes, head.length, reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)))
    return true;
  Utf16FromUtf8(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length), line, kLineCapacity);
  return false;
}

}  // namespace horalin
