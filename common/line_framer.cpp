#include "common/line_framer.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/utf.h"
#include "common/words.h"

namespace horalin {

namespace {

constexpr char16_t kCr = 13, kLf = 10;

// Moves past bytes 0E to 7F, sixteen or eight at a time: none of them ends a line or
// starts a character of more than one byte, in any of the byte encodings.
uint32_t SkipAsciiBytes(const uint8_t* bytes, uint32_t pos, uint32_t stop) {
#if defined(__SSE2__)
  const __m128i fourteen = _mm_set1_epi8(14);
  for (; pos + 16 <= stop; pos += 16) {
    const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos));
    // Compared as signed bytes, those from 80 are negative: below 14 like 00 to 0D.
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(sixteen, fourteen)));
    if (marks) return pos + static_cast<uint32_t>(std::countr_zero(marks));
  }
#endif
  for (; pos + 8 <= stop; pos += 8) {
    const uint64_t marks = words::BelowOrNonAsciiMarks(words::Load(bytes + pos), 14);
    if (marks) return pos + words::BytesBeforeFirstMark(marks);
  }
  return pos;
}

// The first CR, LF or zero byte from `pos` on, or `stop`; the bits of the bytes looked
// at one by one go into `*seen`.
uint32_t FindLineStop(const uint8_t* bytes, uint32_t pos, uint32_t stop, uint8_t* seen) {
  uint8_t bits = 0;
  for (;; ++pos) {
    pos = SkipAsciiBytes(bytes, pos, stop);
    if (pos >= stop) break;
    const uint8_t b = bytes[pos];
    bits |= b;
    if (b == 0 || b == kCr || b == kLf) break;
  }
  *seen |= bits;
  return pos < stop ? pos : stop;
}

// The first CR, LF or zero unit from `pos` on, or `stop`.
uint32_t FindLineStop(const char16_t* units, uint32_t pos, uint32_t stop, uint8_t*) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi16(kCr), lf = _mm_set1_epi16(kLf), zero = _mm_setzero_si128();
  for (; pos + 8 <= stop; pos += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + pos));
    const __m128i stops = _mm_or_si128(_mm_cmpeq_epi16(eight, zero),
                                       _mm_or_si128(_mm_cmpeq_epi16(eight, cr), _mm_cmpeq_epi16(eight, lf)));
    const unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (marks) return pos + static_cast<uint32_t>(std::countr_zero(marks)) / 2;
  }
#endif
  for (; pos < stop; ++pos) {
    const char16_t u = units[pos];
    if (u == kCr || u == kLf || u == 0) break;
  }
  return pos;
}

// The one step for the first unit of a span while a line end may still be pending:
// whether it is taken with the last line. After a CR, an LF is. After a split at the
// limit, a line end is (a CR then waits for its LF), and so is a zero unit, which is
// dropped and leaves the question open, as if it were not there.
bool TakenByPendingEnd(LineFramer* f, char16_t unit) {
  const PendingLineEnd pending = f->pendingEnd;
  f->pendingEnd = kNoPendingEnd;
  if (unit == kLf) {
    if (pending == kAfterSplit) f->restOfSplit = false;
    return true;
  }
  if (pending != kAfterSplit) return false;
  if (unit == kCr) f->restOfSplit = false;
  f->pendingEnd = unit == kCr ? kAfterCr : unit == 0 ? kAfterSplit : kNoPendingEnd;
  return unit == kCr || unit == 0;
}

// The one step at a CR, LF or zero unit that stopped the piece (`next`: the unit after
// it in the span, or -1 at the span's end). A zero is dropped and the line goes on. A CR
// takes the LF after it; at the span's end, the next span's first LF is taken too.
void EndPieceAt(LineFramer* f, LinePiece* piece, char16_t stop, int32_t next) {
  piece->used = piece->start + piece->length + 1;
  if (stop == 0) {
    f->count += piece->length;
    return;
  }
  if (stop == kCr && next < 0) f->pendingEnd = kAfterCr;
  if (stop == kCr && next == kLf) ++piece->used;
  piece->end = PieceEnd::kLineEnd;
  f->count = 0;
  f->restOfSplit = false;
}

template <typename Unit>
LinePiece NextPiece(LineFramer* f, const Unit* span, uint32_t n, uint8_t* seen) {
  uint32_t start = 0;
  while (f->pendingEnd != kNoPendingEnd && start < n && TakenByPendingEnd(f, span[start])) ++start;
  const uint32_t room = f->limit - f->count;
  const uint32_t stop = n - start < room ? n : start + room;
  const uint32_t pos = FindLineStop(span, start, stop, seen);
  LinePiece piece{start, pos - start, pos, f->count, PieceEnd::kGoesOn, f->restOfSplit};
  if (pos < stop) {
    EndPieceAt(f, &piece, span[pos], pos + 1 < n ? span[pos + 1] : -1);
  } else if (pos - start == room) {  // the limit: room is at least 1, so the piece holds a unit
    if constexpr (sizeof(Unit) == 2) {
      if (IsHighSurrogate(span[pos - 1])) --piece.length, --piece.used;  // keep the pair whole
    }
    piece.end = PieceEnd::kSplit;
    f->count = 0;
    f->pendingEnd = kAfterSplit;
    f->restOfSplit = true;
  } else {
    f->count += piece.length;
  }
  return piece;
}

}  // namespace

LinePiece NextLinePiece(LineFramer* framer, const uint8_t* span, uint32_t n, uint8_t* seen) {
  return NextPiece(framer, span, n, seen);
}

LinePiece NextLinePiece(LineFramer* framer, const char16_t* span, uint32_t n) {
  return NextPiece(framer, span, n, nullptr);
}

}  // namespace horalin
