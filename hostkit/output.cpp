#include "hostkit/output.h"

#include <cstdint>
#include <cstring>

#include "common/scans.h"
#include "common/text.h"
#include "common/utf.h"

namespace horalin::hostkit {

// Every way into the stream (counted text, terminated text, formats) is made of two parts:
// the run, which copies 7-bit units straight into the buffer as their bytes, and the step,
// which takes one unit that the run leaves and is the only code that knows what the
// stream holds from before (a CR waiting for an LF, a high half waiting for its low one).
// The run never starts while the stream holds a unit, so everything the step holds comes
// out in order.

namespace {

constexpr size_t kChunk = 1024;    // units converted at a time; 3 bytes each at most
constexpr size_t kStepRoom = 8;    // the most one step writes: a held unit (3) and a character (4)
constexpr size_t kBlockRoom = 16;  // the most one block of the run writes

void Drain(Utf8Stream* s) {
  if (s->used && !s->failed && !s->write(s, s->buffer, s->used)) s->failed = true;
  s->used = 0;
}

// ---- The run -----------------------------------------------------------------------
// A unit goes in the run when it is 1 to 7F and not CR (which may join an LF); the rest
// go to the step. The scans of common/scans.h apply this one rule (scans::InOutputRun),
// sixteen units, eight units or one unit at a time.

bool Holds(const Utf8Stream* s) { return s->pendingCr || s->encoder.heldHigh; }

// The run of `text` into the buffer, drained as it fills; the units it took.
size_t PutRun(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t i = 0;
  for (;;) {
    if (s->used == sizeof s->buffer) Drain(s);
    const size_t room = sizeof s->buffer - s->used;
    const size_t n = length - i < room ? length - i : room;
    const size_t k = scans::fast::CopyOutputRun(text + i, n, s->buffer + s->used);
    s->used += k, i += k;
    if (k < n || i == length) return i;
  }
}

// The run of terminated text; the units it took. Up to a multiple of 16 bytes one unit at
// a time, then block by block.
size_t PutTerminatedRun(Utf8Stream* s, const char16_t* text) {
  const char16_t* p = text;
  size_t used = s->used;  // kept here: the stores into the buffer could otherwise alias it
  for (; reinterpret_cast<uintptr_t>(p) & 15; ++p) {
    if (!scans::InOutputRun(*p)) {
      s->used = used;
      return static_cast<size_t>(p - text);
    }
    if (used == sizeof s->buffer) s->used = used, Drain(s), used = 0;
    s->buffer[used++] = static_cast<char>(*p);
  }
  do {
    if (sizeof s->buffer - used < kBlockRoom) s->used = used, Drain(s), used = 0;
  } while (scans::fast::CopyOutputBlock(&p, s->buffer, &used));
  s->used = used;
  return static_cast<size_t>(p - text);
}

// Units beyond 7 bits up to the next CR where CR LF becomes LF (else up to the end),
// encoded together; a high half at the very end stays in the encoder, which joins it to
// what follows. The units taken.
size_t PutWideRun(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t span = 0;
  if (s->lineFeedsOnly)
    while (span < length && text[span] != u'\r') ++span;
  else
    span = length;
  for (size_t taken = 0; taken < span; taken += kChunk) {
    const size_t n = span - taken < kChunk ? span - taken : kChunk;
    if (sizeof s->buffer - s->used < 3 * kChunk + 8) Drain(s);
    s->used += EncodeUtf8(&s->encoder, text + taken, n, s->buffer + s->used);
  }
  return span;
}

// ---- The step ----------------------------------------------------------------------

// Lets out the unit the stream holds, as it stands: a CR, or a lone high half as U+FFFD.
char* PutHeld(Utf8Stream* s, char* out) {
  if (s->pendingCr) *out++ = '\r';
  s->pendingCr = false;
  return out + FinishUtf8(&s->encoder, out);
}

// One unit that the run leaves, `c`, with `next` the unit after it (0 where the caller's
// text ends: 0 joins nothing). A held CR takes an LF (CR LF as LF) or goes out as it
// stands. Then `c` itself: a CR where CR LF becomes LF joins `next` or is held for the
// next call (after the encoder lets out a half it holds); a surrogate, or any unit while
// the encoder holds a half, goes to the encoder, which joins a pair, `c` and `next` or
// the half it holds and `c`, and holds a high half that ends what it is given. Returns
// the units taken, 1 or 2. At most one unit is held at a time: a CR here or a high half
// in the encoder.
size_t PutStep(Utf8Stream* s, char16_t c, char16_t next) {
  if (sizeof s->buffer - s->used < kStepRoom) Drain(s);
  char* out = s->buffer + s->used;
  if (s->pendingCr) {
    s->pendingCr = false;
    if (c == u'\n') {
      s->buffer[s->used++] = '\n';
      return 1;
    }
    *out++ = '\r';
  }
  size_t taken = 1;
  if (c == u'\r' && s->lineFeedsOnly) {
    out += FinishUtf8(&s->encoder, out);
    if (next == u'\n')
      *out++ = '\n', taken = 2;  // the usual line end
    else
      s->pendingCr = true;
  } else if (!IsSurrogate(c) && !s->encoder.heldHigh) {
    out = AppendUtf8(out, c);  // a character of one unit, the usual case, written here
  } else {
    const char16_t units[2] = {c, next};
    taken = IsHighSurrogate(c) && IsLowSurrogate(next) ? 2 : 1;
    out += EncodeUtf8(&s->encoder, units, taken, out);
  }
  s->used = static_cast<size_t>(out - s->buffer);
  return taken;
}

// ---- The ways in -------------------------------------------------------------------

void PutCounted(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    if (!Holds(s)) {
      i += PutRun(s, text + i, length - i);
      if (i < length && text[i] >= 0x80) i += PutWideRun(s, text + i, length - i);
      if (i == length) break;
    }
    i += PutStep(s, text[i], i + 1 < length ? text[i + 1] : 0);
  }
}

// Text up to its terminator in one pass. The unit after one the step takes is within the
// text or its terminator, so it can be read.
void PutTerminated(Utf8Stream* s, const char16_t* text) {
  const char16_t* p = text;
  for (;;) {
    if (!Holds(s)) p += PutTerminatedRun(s, p);
    if (*p == 0) return;
    p += PutStep(s, p[0], p[1]);
  }
}

}  // namespace

void StreamText(Utf8Stream* s, const char16_t* text, size_t length) {
  PutCounted(s, text, length);
  if (!s->buffered) Drain(s);
}

void StreamTerminatedText(Utf8Stream* s, const char16_t* text) {
  PutTerminated(s, text);
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

namespace {
// Any other format: the pieces gathered and streamed together.
__attribute__((noinline)) void StreamFormatPieces(Utf8Stream* stream, const char16_t* format, va_list args) {
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
}  // namespace

void StreamFormat(Utf8Stream* stream, const char16_t* format, va_list args) {
  // Literal text and "%s" straight into the buffer; the unit after a literal one is the
  // next of the format (or its terminator). At the first other conversion the rest of the
  // format, with the arguments not yet taken, goes the general way: the pieces come out
  // in the same order either way.
  for (const char16_t* p = format; *p;) {
    if (*p == u'%') {
      if (p[1] != u's') {
        StreamFormatPieces(stream, p, args);
        return;
      }
      const char16_t* text = va_arg(args, const char16_t*);
      PutTerminated(stream, text ? text : u"(null)");
      p += 2;
    } else if (!Holds(stream) && scans::InOutputRun(*p) && stream->used < sizeof stream->buffer) {
      stream->buffer[stream->used++] = static_cast<char>(*p++);
    } else {
      p += PutStep(stream, p[0], p[1]);
    }
  }
  if (!stream->buffered) Drain(stream);
}

namespace {
// Bytes as they are, after the unit the stream holds.
void PutBytes(Utf8Stream* s, const char* bytes, size_t count) {
  if (Holds(s)) {
    if (sizeof s->buffer - s->used < kStepRoom) Drain(s);
    s->used = static_cast<size_t>(PutHeld(s, s->buffer + s->used) - s->buffer);
  }
  while (count) {
    if (s->used == sizeof s->buffer) Drain(s);
    size_t n = count < sizeof s->buffer - s->used ? count : sizeof s->buffer - s->used;
    std::memcpy(s->buffer + s->used, bytes, n);
    s->used += n, bytes += n, count -= n;
  }
}
}  // namespace

void StreamBytes(Utf8Stream* s, const char* bytes, size_t count) {
  PutBytes(s, bytes, count);
  if (!s->buffered) Drain(s);
}

namespace {
// A line of bytes and its line end, the buffer drained as it fills.
__attribute__((noinline)) void PutLineBytes(Utf8Stream* s, const char* head, size_t headCount, const char* line,
                                            size_t lineCount) {
  PutBytes(s, head, headCount);
  PutBytes(s, line, lineCount);
  PutBytes(s, s->lineFeedsOnly ? "\n" : "\r\n", s->lineFeedsOnly ? 1 : 2);
}
}  // namespace

void StreamLineBytes(Utf8Stream* s, const char* head, size_t headCount, const char* line, size_t lineCount) {
  if (!Holds(s) && sizeof s->buffer - s->used >= headCount + lineCount + 2) {  // the usual line: one copy
    char* out = s->buffer + s->used;
    std::memcpy(out, head, headCount);
    out += headCount;
    std::memcpy(out, line, lineCount);
    out += lineCount;
    std::memcpy(out, s->lineFeedsOnly ? "\n" : "\r\n", 2);  // an LF alone: the byte after it is not taken
    s->used = static_cast<size_t>(out - s->buffer) + (s->lineFeedsOnly ? 1 : 2);
  } else {
    PutLineBytes(s, head, headCount, line, lineCount);
  }
  if (!s->buffered) Drain(s);
}

bool StreamAsciiLine(Utf8Stream* s, const char16_t* text, size_t length) {
  if (Holds(s) || sizeof s->buffer - s->used < length + 2) return false;
  char* out = s->buffer + s->used;
  if (scans::fast::CopyOutputRun(text, length, out) < length) return false;  // the bytes past `used` are not taken
  std::memcpy(out + length, s->lineFeedsOnly ? "\n" : "\r\n", 2);  // an LF alone: the byte after it is not taken
  s->used += length + (s->lineFeedsOnly ? 1 : 2);
  if (!s->buffered) Drain(s);
  return true;
}

void FlushStream(Utf8Stream* s, bool final) {
  if (final && Holds(s)) {
    if (sizeof s->buffer - s->used < kStepRoom) Drain(s);
    s->used = static_cast<size_t>(PutHeld(s, s->buffer + s->used) - s->buffer);
  }
  Drain(s);
}

int FailedOutputEnd(char16_t* systemText, const char* lineEnd, char* message, size_t capacity, size_t* length) {
  constexpr int kReaderGone = 128 + 13;
  *length = 0;
  if (!systemText) return kReaderGone;
  constexpr char kPrefix[] = "horalin: write error: ";
  const size_t ends = std::strlen(lineEnd);
  size_t n = CutAtCharacter(systemText, TrimTrailingSpace(systemText));
  if (n > (capacity - sizeof kPrefix - ends) / 3)
    n = CutAtCharacter(systemText, (capacity - sizeof kPrefix - ends) / 3);
  size_t used = sizeof kPrefix - 1;
  std::memcpy(message, kPrefix, used);
  used += Utf8FromUtf16(systemText, n, message + used);
  for (const char* end = lineEnd; *end;) message[used++] = *end++;
  *length = used;
  return 1;
}

}  // namespace horalin::hostkit
