#include "hostkit/output.h"

#include <cstdint>
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

// Copies the leading run of ASCII units straight into the buffer, the usual text, and
// returns its length; the rest takes the general way. A CR goes straight in where it
// stays as it is, or where an LF follows it within the text, which it then joins.
// `length` may be kUntilTerminator: the run then also ends at the text's terminator.
constexpr size_t kUntilTerminator = ~size_t{0};

size_t PutAsciiRun(Utf8Stream* s, const char16_t* text, size_t length) {
  const bool untilTerminator = length == kUntilTerminator;
  const bool joinCrLf = s->lineFeedsOnly;
  size_t i = 0;
  for (;;) {
    if (s->used == sizeof s->buffer) Drain(s);
    char* const out = s->buffer + s->used;
    const size_t room = sizeof s->buffer - s->used;
    const size_t n = length - i < room ? length - i : room;  // units that may go in now
    const char16_t* const in = text + i;
    size_t k = 0;
    if (!untilTerminator) {
      // Eight units at a time while none of them needs a closer look.
      for (; k + 8 <= n && AreAsciiUnits8(in + k) && HasNoCr8(in + k); k += 8) PutAsciiUnits8(in + k, out + k);
    }
    for (; k < n; ++k) {
      char16_t c = in[k];
      if (c >= 0x80 || c == u'\r' || (c == 0 && untilTerminator)) break;
      out[k] = static_cast<char>(c);
    }
    s->used += k, i += k;
    if (k == n) {
      if (i == length) return i;
      continue;  // the buffer is full
    }
    // A CR, with room for one byte.
    if (text[i] != u'\r') return i;
    if (!joinCrLf) {
      s->buffer[s->used++] = '\r';
      ++i;
    } else if (i + 1 < length && text[i + 1] == u'\n') {
      s->buffer[s->used++] = '\n';
      i += 2;
    } else {
      return i;  // held for what follows, or a CR alone
    }
  }
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
    if (!length) {
      if (!s->buffered) Drain(s);
      return;
    }
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

void StreamTerminatedText(Utf8Stream* s, const char16_t* text) {
  if (!s->pendingCr && !s->pendingHigh) {
    text += PutAsciiRun(s, text, kUntilTerminator);
    if (!*text) {
      if (!s->buffered) Drain(s);
      return;
    }
  }
  StreamText(s, text, TextLength(text));
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
