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

// Whether none of eight 7-bit units is a CR.
bool HasNoCr8(const char16_t* units) {
  constexpr uint64_t kCr = 0x000D000D000D000Dull, kOne = 0x0001000100010001ull, kTop = 0x8000800080008000ull;
  uint64_t w[2];
  std::memcpy(w, units, sizeof w);
  uint64_t x = w[0] ^ kCr, y = w[1] ^ kCr;  // a CR becomes a zero unit
  return ((((x - kOne) & ~x) | ((y - kOne) & ~y)) & kTop) == 0;
}

// Copies the leading run of ASCII units other than CR straight into the buffer, the
// usual text, and returns its length; the rest takes the general way.
size_t PutAsciiRun(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t done = 0;
  for (; done + 8 <= length && AreAsciiUnits8(text + done) && HasNoCr8(text + done); done += 8) {
    if (sizeof s->buffer - s->used < 8) Drain(s);  // eight at a time while they are all plain
    PutAsciiUnits8(text + done, s->buffer + s->used);
    s->used += 8;
  }
  while (done < length) {
    if (s->used == sizeof s->buffer) Drain(s);
    size_t room = sizeof s->buffer - s->used;
    size_t end = done + (length - done < room ? length - done : room);
    char* out = s->buffer + s->used;
    size_t i = done;
    for (; i < end && text[i] < 0x80 && text[i] != u'\r'; ++i) *out++ = static_cast<char>(text[i]);
    s->used += i - done;
    if (i < end) return i;
    done = i;
  }
  return done;
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
    size_t n = PutAsciiRun(s, text, length);
    text += n, length -= n;
  }
  if (!s->lineFeedsOnly) {
    PutUnits(s, text, length, false);
  } else {
    // CR LF becomes LF; a CR at the end waits for what follows it.
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
      if (s->pendingCr) {
        s->pendingCr = false;
        if (text[i] != u'\n') PutUnits(s, u"\r", 1, true);
      }
      if (text[i] == u'\r') {
        PutUnits(s, text + start, i - start, true);
        s->pendingCr = true;
        start = i + 1;
      }
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
  constexpr size_t kRoom = sizeof sink->units / sizeof sink->units[0];
  if (length > kRoom - sink->used) {
    FlushFormatted(sink);
    if (length > kRoom / 2) {  // a long piece goes on its own
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
  FormatSink sink;          // its units are written before they are read
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
