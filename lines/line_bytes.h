// A stamped line written as its bytes: for a line that the reader handed over as UTF-8
// (PipeReader::passUtf8) and a host that writes bytes, the stamp's UTF-8 and the line's
// bytes go to the host's buffer as they are, with no widening to UTF-16 and back.
#pragma once

#include <cstdint>

#include "lines/reader.h"
#include "lines/stamp.h"

namespace horalin {

// Whether lines can go as bytes: the host has a writer of lines of bytes. The caller then
// sets the reader's passUtf8.
bool LinesGoAsBytes();

// Writes the line that ReadPipeLine just handed over (`length`) after `stamp`, the text
// that MakeLineStamp made for it with `cache` and `stampFlags`, exactly as "%s %s\r\n" of
// the two through the host's text would write them. False when it wrote nothing and the
// caller writes the line as text from `line`: the line came in `line`, or the stamp holds
// what its bytes could not give as the host's text gives it, or the host took no bytes;
// a line that came as bytes is then widened into `line` (kLineCapacity units).
bool WriteLineAsBytesAnew(const char16_t* stamp, uint32_t stampFlags, StampCache* cache, const PipeReader& reader,
                          int32_t length, char16_t* line);
// Inline for the usual line, whose stamp is the last line's.
inline bool WriteLineAsBytes(const char16_t* stamp, uint32_t stampFlags, StampCache* cache, const PipeReader& reader,
                             int32_t length, char16_t* line) {
  if (!reader.lineAsBytes) return false;
  const StampBytes& b = cache->asBytes;
  if (b.made && b.usable && b.rendering == cache->renderings && !(stampFlags & (TSF_INCREMENTAL | TSF_CUMULATIVE)) &&
      b.write(b.bytes, b.length, reinterpret_cast<const char*>(reader.lineAsBytes), static_cast<size_t>(length)))
    return true;
  return WriteLineAsBytesAnew(stamp, stampFlags, cache, reader, length, line);
}

}  // namespace horalin
