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

namespace {

constexpr size_t kChunk = 1024;  // units converted at a time; 3 bytes each at most

void Drain(Utf8Stream* s) {
  if (s->used && !s->failed && !s->write(s, s->buffer, s->used)) s->failed = true;
  s->used = 0;
}

void PutUnits(Utf8Stream* s, const char16_t* text, size_t length, bool final) {
  while (length) {
    size_t n = length < kChunk ? length : kChunk;
    if (n < length && IsHighSurrogate(text[n - 1])) --n;  // keep pairs whole
    if (sizeof s->buffer - s->used < 3 * kChunk + 8) Drain(s);
    size_t consumed = n;
    s->used += Utf8FromUtf16(text, n, s->buffer + s->used, final || n < length, &consumed);
    if (consumed < n) s->pendingHigh = text[consumed];  // a high half at the very end
    text += n, length -= n;
  }
}

// Whether none of eight 7-bit units is a CR.
bool HasNoCr8(const char16_t* units) {
  return !words::HasUnit(words::Load(units), u'\r') && !words::HasUnit(words::Load(units + 4), u'\r');
}

// Copies the leading run of ASCII units straight into the buffer, the usual text, and
// returns its length; the rest takes the general way. A CR goes straight in where it
// stays as it is, or where an LF follows it within the text, which it then joins.
size_t PutAsciiRun(Utf8Stream* s, const char16_t* text, size_t length) {
  const bool joinCrLf = s->lineFeedsOnly;
  size_t i = 0;
  for (;;) {
    if (s->used == sizeof s->buffer) Drain(s);
    char* const out = s->buffer + s->used;
    const size_t room = sizeof s->buffer - s->used;
    const size_t n = length - i < room ? length - i : room;  // units that may go in now
    const char16_t* const in = text + i;
    size_t k = 0;
#if defined(__SSE2__)
    // Sixteen units at a time while none of them needs a closer look. Packed with
    // saturation, units 1 to 7F keep their value, 80 to 7FFF become FF and the rest 0: as
    // signed bytes, the units to look at (beyond 7F, CR, and a zero unit, which is let
    // through one by one) are the ones below 1, and CR.
    const __m128i one = _mm_set1_epi8(1), cr = _mm_set1_epi8('\r');
    for (; k + 16 <= n; k += 16) {
      const __m128i bytes = _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k + 8)));
      if (_mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, one), _mm_cmpeq_epi8(bytes, cr)))) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), bytes);
    }
#endif
    // Eight units at a time while none of them needs a closer look.
    for (; k + 8 <= n && AreAsciiUnits8(in + k) && HasNoCr8(in + k); k += 8) PutAsciiUnits8(in + k, out + k);
    for (; k < n; ++k) {
      char16_t c = in[k];
      if (c >= 0x80 || c == u'\r') break;
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
      if (i == length && s->used < sizeof s->buffer) return i;  // the usual line end
    } else {
      return i;  // held for what follows, or a CR alone
    }
  }
}

// One unit of text after the bulk of it: joins a pair, or a CR LF when only LFs are
// wanted, with the unit before it, which waits in the stream until this one comes.
void PutUnit(Utf8Stream* s, char16_t c) {
  if (sizeof s->buffer - s->used < 8) Drain(s);
  char* out = s->buffer + s->used;
  if (s->pendingHigh) {
    const uint32_t high = s->pendingHigh;
    s->pendingHigh = 0;
    if (IsLowSurrogate(c)) {
      s->used = static_cast<size_t>(AppendUtf8(out, CodePointFromSurrogates(high, c)) - s->buffer);
      return;
    }
    out = AppendUtf8(out, 0xFFFD);
  }
  if (s->pendingCr) {
    s->pendingCr = false;
    if (c != u'\n') *out++ = '\r';
  }
  if (c == u'\r' && s->lineFeedsOnly)
    s->pendingCr = true;
  else if (IsHighSurrogate(c))
    s->pendingHigh = c;
  else
    out = AppendUtf8(out, IsLowSurrogate(c) ? 0xFFFD : c);
  s->used = static_cast<size_t>(out - s->buffer);
}

#if defined(__SSE2__)
// One aligned block of eight units. The block may reach past the terminator of the text
// it holds a unit of, but never past that unit's page (it starts at a multiple of 16), so
// the read cannot fault. The bytes beyond the terminator are read but never used. The
// address sanitizer would flag them as outside the string, so it leaves this one read
// unchecked: the sanitizer builds run the same reads as the shipped build, and
// Utf8StreamTest.PlainStringsThatEndAtAPagesEnd (strings whose terminator is the last
// unit before a page that cannot be read) checks in every build that they stay within
// the page. Finding the length first would read each string twice.
__attribute__((no_sanitize_address)) inline __m128i LoadBlock(const char16_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Streams text up to its terminator in one pass: 7-bit units other than CR go into the
// buffer sixteen at a time, the others one by one through PutUnit. The units are read in
// blocks of 16 or 32 bytes that start at a multiple of 16 and lie within one page; such
// a block holds a unit of the text, so its page is there to read (see LoadBlock).
void PutTerminated(Utf8Stream* s, const char16_t* text) {
  const char16_t* p = text;
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi8(1), cr = _mm_set1_epi8('\r');
#endif
  for (;;) {
#if defined(__SSE2__)
    if (!s->pendingCr && !s->pendingHigh) {
      size_t used = s->used;  // kept here: the stores into the buffer could otherwise alias it
      for (;;) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(p);
        if (address & 15) break;
        const bool both = (address & 4095) <= 4096 - 32;
        if (sizeof s->buffer - used < 16) {
          s->used = used;
          Drain(s);
          used = 0;
        }
        const __m128i first = LoadBlock(p);
        const __m128i second = both ? LoadBlock(p + 8) : first;
        // Packed with saturation, units 1 to 7F keep their value, 80 to 7FFF become FF and
        // the rest 0: as signed bytes, the units that need a closer look (the terminator,
        // those beyond 7F, CR) are the ones below 1, and CR.
        const __m128i bytes = _mm_packus_epi16(first, second);
        const unsigned special = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi8(bytes, one), _mm_cmpeq_epi8(bytes, cr))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s->buffer + used), bytes);
        if (special == 0) {
          const unsigned n = both ? 16 : 8;
          used += n, p += n;
          continue;
        }
        const unsigned n = static_cast<unsigned>(std::countr_zero(special));
        used += n, p += n;
        break;
      }
      s->used = used;
    }
#endif
    if (*p == 0) return;
    PutUnit(s, *p++);
  }
}

// Whether the format holds no conversion but plain "%s", which then takes the fast way.
bool OnlyPlainStrings(const char16_t* format) {
  for (const char16_t* p = format; *p; ++p)
    if (*p == u'%' && *++p != u's') return false;
  return true;
}

}  // namespace

void StreamText(Utf8Stream* s, const char16_t* text, size_t length) {
  char16_t joined[2];
  if (s->pendingHigh && length) {
    joined[0] = s->pendingHigh, joined[1] = text[0];
    s->pendingHigh = 0;
    bool pair = IsLowSurrogate(text[0]);
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
  if (!OnlyPlainStrings(format)) {
    StreamFormatPieces(stream, format, args);
    return;
  }
  // Literal text and strings straight into the buffer.
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      const char16_t c = *p;
      if (!stream->pendingCr && !stream->pendingHigh && sizeof stream->buffer - stream->used >= 8) {
        if (c >= 1 && c < 0x80 && c != u'\r') {
          stream->buffer[stream->used++] = static_cast<char>(c);
          continue;
        }
        if (c == u'\r' && p[1] == u'\n' && stream->lineFeedsOnly) {  // the usual line end
          stream->buffer[stream->used++] = '\n';
          ++p;
          continue;
        }
      }
      PutUnit(stream, c);
      continue;
    }
    ++p;
    const char16_t* text = va_arg(args, const char16_t*);
    PutTerminated(stream, text ? text : u"(null)");
  }
  if (!stream->buffered) Drain(stream);
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
