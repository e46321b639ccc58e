#include "hostkit/output.h"

#include <cstdint>

#include "common/text.h"
#include "common/utf.h"
#include "common/words.h"

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
      // Four units at a time while none of them needs a closer look.
      for (; k + 4 <= n; k += 4) {
        uint64_t v = words::Load(in + k);
        if (words::HasNonAsciiUnit(v) || words::HasUnit(v, u'\r')) break;
        words::NarrowAscii(in + k, out + k);
      }
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
struct FormatSink {
  TextSink base;
  Utf8Stream* stream;
};
void PutFormatted(TextSink* sink, const char16_t* text, size_t length) {
  StreamText(reinterpret_cast<FormatSink*>(sink)->stream, text, length);
}
}  // namespace

void StreamFormat(Utf8Stream* stream, const char16_t* format, va_list args) {
  bool buffered = stream->buffered;
  stream->buffered = true;  // one write for the whole formatted text
  FormatSink sink{{PutFormatted}, stream};
  FormatToSink(&sink.base, format, args);
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
