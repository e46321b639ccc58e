#include "hostkit/output.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/text.h"
#include "common/utf.h"
#include "common/words.h"

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
// go to the step. Everything below applies this one rule, sixteen units, eight units or
// one unit at a time.

bool InRun(char16_t c) { return c - 1u < 0x7Fu && c != u'\r'; }

bool Holds(const Utf8Stream* s) { return s->pendingCr || s->pendingHigh; }

#if defined(__SSE2__)
// The classifier: sixteen units packed into their bytes, stored at `out`, and the mask of
// those not in the run. Packed with saturation, units 1 to 7F keep their value, 80 to
// 7FFF become FF and the rest 0: as signed bytes, the units not in the run are those below
// 1, and CR. The bytes before the first one marked are the units' own.
inline unsigned ClassifyBlock(__m128i first, __m128i second, char* out) {
  const __m128i bytes = _mm_packus_epi16(first, second);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(1)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')))));
}

inline __m128i LoadUnaligned(const char16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The leading units of `in` (n of them) that are in the run, copied to `out`; their count.
// Sixteen at a time, the last sixteen overlapping those before (the units that both read
// are in the run, so the first one marked lies beyond them).
size_t CopyRun(const char16_t* in, size_t n, char* out) {
  size_t k = 0;
  for (; k + 16 <= n; k += 16)
    if (const unsigned marks = ClassifyBlock(LoadUnaligned(in + k), LoadUnaligned(in + k + 8), out + k))
      return k + static_cast<size_t>(std::countr_zero(marks));
  if (k == n) return n;
  if (n >= 16) {
    k = n - 16;
    const unsigned marks = ClassifyBlock(LoadUnaligned(in + k), LoadUnaligned(in + k + 8), out + k);
    return marks ? k + static_cast<size_t>(std::countr_zero(marks)) : n;
  }
  for (; k < n && InRun(in[k]); ++k) out[k] = static_cast<char>(in[k]);
  return k;
}

// One aligned block of eight units. The block may reach past the terminator of the text
// it holds a unit of, but never past that unit's page (it starts at a multiple of 16), so
// the read cannot fault. The bytes beyond the terminator are read but never used. The
// address sanitizer would flag them as outside the string, so it leaves this one read
// unchecked: the sanitizer builds run the same reads as the shipped build, and
// Utf8StreamTest.TerminatedStringsThatEndAtAPagesEnd (strings whose terminator is the last
// unit before a page that cannot be read) checks in every build that they stay within
// the page. Finding the length first would read each string twice.
__attribute__((no_sanitize_address)) inline __m128i LoadBlock(const char16_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// One block of the run of terminated text at `*p`, a multiple of 16 bytes: 16 or 32
// bytes that lie within one page (see LoadBlock). Moves `*p` and `*used`, the buffer's
// fill, which has room for the block; whether every unit of it was in the run.
bool CopyAlignedBlock(const char16_t** p, char* buffer, size_t* used) {
  const bool both = (reinterpret_cast<uintptr_t>(*p) & 4095) <= 4096 - 32;
  const __m128i first = LoadBlock(*p);
  const unsigned marks = ClassifyBlock(first, both ? LoadBlock(*p + 8) : first, buffer + *used);
  const size_t n = marks ? static_cast<size_t>(std::countr_zero(marks)) : both ? 16 : 8;
  *p += n, *used += n;
  return !marks;
}
#else
size_t CopyRun(const char16_t* in, size_t n, char* out) {
  size_t k = 0;
  for (uint64_t a, b; k + 8 <= n && (a = words::Load(in + k), b = words::Load(in + k + 4),
                                    words::AreUnitsInAsciiRun(a, u'\r') && words::AreUnitsInAsciiRun(b, u'\r'));
       k += 8)
    PutAsciiUnits8(in + k, out + k);
  for (; k < n && InRun(in[k]); ++k) out[k] = static_cast<char>(in[k]);
  return k;
}

bool CopyAlignedBlock(const char16_t** p, char* buffer, size_t* used) {
  for (size_t k = 0; k < 8; ++k, ++*p) {
    if (!InRun(**p)) return false;
    buffer[(*used)++] = static_cast<char>(**p);
  }
  return true;
}
#endif

// The run of `text` into the buffer, drained as it fills; the units it took.
size_t PutRun(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t i = 0;
  for (;;) {
    if (s->used == sizeof s->buffer) Drain(s);
    const size_t room = sizeof s->buffer - s->used;
    const size_t n = length - i < room ? length - i : room;
    const size_t k = CopyRun(text + i, n, s->buffer + s->used);
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
    if (!InRun(*p)) {
      s->used = used;
      return static_cast<size_t>(p - text);
    }
    if (used == sizeof s->buffer) s->used = used, Drain(s), used = 0;
    s->buffer[used++] = static_cast<char>(*p);
  }
  do {
    if (sizeof s->buffer - used < kBlockRoom) s->used = used, Drain(s), used = 0;
  } while (CopyAlignedBlock(&p, s->buffer, &used));
  s->used = used;
  return static_cast<size_t>(p - text);
}

// Units beyond 7 bits up to the next CR where CR LF becomes LF (else up to the end),
// converted together; a high half at the very end is left for the step, which joins it to
// what follows. The units taken.
size_t PutWideRun(Utf8Stream* s, const char16_t* text, size_t length) {
  size_t span = 0;
  if (s->lineFeedsOnly)
    while (span < length && text[span] != u'\r') ++span;
  else
    span = length;
  size_t taken = 0;
  while (taken < span) {
    size_t n = span - taken < kChunk ? span - taken : kChunk;
    const bool last = n == span - taken;
    if (!last && IsHighSurrogate(text[taken + n - 1])) --n;  // keep pairs whole
    if (sizeof s->buffer - s->used < 3 * kChunk + 8) Drain(s);
    size_t consumed = n;
    s->used += Utf8FromUtf16(text + taken, n, s->buffer + s->used, !last, &consumed);
    taken += consumed;
    if (consumed < n) break;  // a high half at the very end
  }
  return taken;
}

// ---- The step ----------------------------------------------------------------------

// Lets out the unit the stream holds, as it stands: a CR, or a lone high half as U+FFFD.
char* PutHeld(Utf8Stream* s, char* out) {
  if (s->pendingCr) *out++ = '\r';
  if (s->pendingHigh) out = AppendUtf8(out, 0xFFFD);
  s->pendingCr = false;
  s->pendingHigh = 0;
  return out;
}

// One unit that the run leaves, `c`, with `next` the unit after it (0 where the caller's
// text ends: 0 joins nothing). A held unit joins `c` (a pair; CR LF as LF) or goes out as
// it stands. Then `c` itself: a CR where CR LF becomes LF, or a high half, joins `next` or
// is held for the next call; a lone low half becomes U+FFFD. Returns the units taken, 1 or
// 2. At most one unit is held at a time, so the state is the two fields of the stream.
size_t PutStep(Utf8Stream* s, char16_t c, char16_t next) {
  if (sizeof s->buffer - s->used < kStepRoom) Drain(s);
  char* out = s->buffer + s->used;
  if (Holds(s)) {
    if (s->pendingHigh && IsLowSurrogate(c)) {
      s->used = static_cast<size_t>(AppendUtf8(out, CodePointFromSurrogates(s->pendingHigh, c)) - s->buffer);
      s->pendingHigh = 0;
      return 1;
    }
    if (s->pendingCr && c == u'\n') {
      s->buffer[s->used++] = '\n';
      s->pendingCr = false;
      return 1;
    }
    out = PutHeld(s, out);
  }
  size_t taken = 1;
  if (c == u'\r' && s->lineFeedsOnly) {
    if (next == u'\n')
      *out++ = '\n', taken = 2;  // the usual line end
    else
      s->pendingCr = true;
  } else if (IsHighSurrogate(c)) {
    if (IsLowSurrogate(next))
      out = AppendUtf8(out, CodePointFromSurrogates(c, next)), taken = 2;
    else
      s->pendingHigh = c;
  } else {
    out = AppendUtf8(out, IsLowSurrogate(c) ? 0xFFFD : c);
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

// Whether the format holds no conversion but "%s", which then takes the fast way.
bool OnlyStringConversions(const char16_t* format) {
  for (const char16_t* p = format; *p; ++p)
    if (*p == u'%' && *++p != u's') return false;
  return true;
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
  if (!OnlyStringConversions(format)) {
    StreamFormatPieces(stream, format, args);
    return;
  }
  // Literal text and strings straight into the buffer; the unit after a literal one is
  // the next of the format (or its terminator).
  for (const char16_t* p = format; *p;) {
    if (*p == u'%') {
      const char16_t* text = va_arg(args, const char16_t*);
      PutTerminated(stream, text ? text : u"(null)");
      p += 2;
    } else if (!Holds(stream) && InRun(*p) && stream->used < sizeof stream->buffer) {
      stream->buffer[stream->used++] = static_cast<char>(*p++);
    } else {
      p += PutStep(stream, p[0], p[1]);
    }
  }
  if (!stream->buffered) Drain(stream);
}

void StreamBytes(Utf8Stream* s, const char* bytes, size_t count) {
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
  if (!s->buffered) Drain(s);
}

void FlushStream(Utf8Stream* s, bool final) {
  if (final && Holds(s)) {
    if (sizeof s->buffer - s->used < kStepRoom) Drain(s);
    s->used = static_cast<size_t>(PutHeld(s, s->buffer + s->used) - s->buffer);
  }
  Drain(s);
}

}  // namespace horalin::hostkit
