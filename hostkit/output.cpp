#include "hostkit/output.h"

#include <cstring>

#include "common/text.h"
#include "common/utf.h"

namespace horalin::hostkit {

namespace {

constexpr size_t kChunk = 1024;  // units converted at a time; 3 bytes each at most

void Drain(Utf8Stream* s) {
  if (s->used && !s->failed && !s->write(s, s->buffer, s->used)) s->failed = true;
  s->used = 0;
}

void PutUnits(Utf8Stream* s, const char16_t* text, size_t length, bool final) {
  while (length) {
    size_t n = length < kChunk ? length : kChunk;
    if (n < length && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;  // keep pairs whole
    if (sizeof s->buffer - s->used < 3 * kChunk + 8) Drain(s);
    size_t consumed = n;
    s->used += Utf8FromUtf16(text, n, s->buffer + s->used, final || n < length, &consumed);
    if (consumed < n) s->pendingHigh = text[consumed];  // a high half at the very end
    text += n, length -= n;
  }
}

// The position of the first CR at or after `from`, or `length`.
size_t FindCr(const char16_t* text, size_t from, size_t length) {
  size_t i = from;
  for (uint64_t word; i + 4 <= length; i += 4) {  // four units at a time: is one of them a CR?
    std::memcpy(&word, text + i, sizeof word);
    uint64_t x = word ^ 0x000D000D000D000Dull;
    if ((x - 0x0001000100010001ull) & ~x & 0x8000800080008000ull) break;
  }
  while (i < length && text[i] != u'\r') ++i;
  return i;
}

// Writes the leading run of 7-bit units other than CR straight into the buffer, eight
// at a time, and returns its length; what follows goes the general way.
size_t PutPlainPrefix(Utf8Stream* s, const char16_t* text, size_t length) {
  constexpr uint64_t kCr = 0x000D000D000D000Dull, kOne = 0x0001000100010001ull, kTop = 0x8000800080008000ull;
  size_t i = 0;
  for (uint64_t w[2]; i + 8 <= length && AreAsciiUnits8(text + i); i += 8) {
    std::memcpy(w, text + i, sizeof w);
    uint64_t x = w[0] ^ kCr, y = w[1] ^ kCr;  // a CR becomes a zero unit
    if ((((x - kOne) & ~x) | ((y - kOne) & ~y)) & kTop) break;
    if (sizeof s->buffer - s->used < 8) Drain(s);
    PutAsciiUnits8(text + i, s->buffer + s->used);
    s->used += 8;
  }
  return i;
}

}  // namespace

void StreamText(Utf8Stream* s, const char16_t* text, size_t length) {
  char16_t joined[2];
  if (s->pendingHigh && length) {
    joined[0] = s->pendingHigh, joined[1] = text[0];
    s->pendingHigh = 0;
    bool pair = text[0] >= 0xDC00 && text[0] <= 0xDFFF;
    PutUnits(s, joined, pair ? 2 : 1, true);
    if (pair) ++text, --length;
  }
  if (!s->pendingCr) {
    size_t plain = PutPlainPrefix(s, text, length);
    text += plain, length -= plain;
  }
  if (!s->lineFeedsOnly) {
    PutUnits(s, text, length, false);
  } else {
    // CR LF becomes LF; a CR at the end waits for what follows it.
    size_t start = 0;
    if (s->pendingCr && length) {
      s->pendingCr = false;
      if (text[0] != u'\n') PutUnits(s, u"\r", 1, true);
    }
    for (size_t i = FindCr(text, 0, length); i < length; i = FindCr(text, i + 1, length)) {
      PutUnits(s, text + start, i - start, true);
      start = i + 1;
      if (start == length)
        s->pendingCr = true;
      else if (text[start] != u'\n')
        PutUnits(s, u"\r", 1, true);
    }
    PutUnits(s, text + start, length - start, false);
  }
  if (!s->buffered) Drain(s);
}

namespace {
// Formatted pieces are gathered and streamed together, so that a short line costs one
// pass through the stream rather than one per piece.
struct FormatSink {
  TextSink base;
  Utf8Stream* stream;
  size_t used;
  char16_t units[512];
};
void FlushFormatted(FormatSink* sink) {
  StreamText(sink->stream, sink->units, sink->used);
  sink->used = 0;
}
void PutFormatted(TextSink* base, const char16_t* text, size_t length) {
  auto* sink = reinterpret_cast<FormatSink*>(base);
  if (length > sizeof sink->units / sizeof sink->units[0] - sink->used) {
    FlushFormatted(sink);
    if (length > sizeof sink->units / sizeof sink->units[0] / 2) {
      StreamText(sink->stream, text, length);
      return;
    }
  }
  std::memcpy(sink->units + sink->used, text, length * sizeof(char16_t));
  sink->used += length;
}
}  // namespace

void StreamFormat(Utf8Stream* stream, const char16_t* format, va_list args) {
  bool buffered = stream->buffered;
  stream->buffered = true;  // one write for the whole formatted text
  FormatSink sink;          // the units are written before they are read
  sink.base.put = PutFormatted;
  sink.stream = stream;
  sink.used = 0;
  FormatToSink(&sink.base, format, args);
  FlushFormatted(&sink);
  stream->buffered = buffered;
  if (!buffered) Drain(stream);
}

void FlushStream(Utf8Stream* s, bool final) {
  if (final) {
    if (s->pendingCr) PutUnits(s, u"\r", 1, true);
    s->pendingCr = false;
    if (s->pendingHigh) PutUnits(s, &s->pendingHigh, 1, true);
    s->pendingHigh = 0;
  }
  Drain(s);
}

}  // namespace horalin::hostkit
