#include "common/line_framer.h"

#include "common/scans.h"
#include "common/utf.h"

namespace horalin {

namespace {

constexpr char16_t kCr = 13, kLf = 10;

// The first CR, LF or zero byte from `pos` on, or `stop`; the bits of the bytes looked
// at one by one go into `*seen`.
uint32_t FindLineStop(const uint8_t* bytes, uint32_t pos, uint32_t stop, uint8_t* seen) {
  uint8_t bits = 0;
  for (;; ++pos) {
    pos = scans::fast::SkipBytesFrom(bytes, pos, stop, 14);  // 0E to 7F: no line end, no lead byte
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
  return scans::fast::FindLineStop(units, pos, stop);
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
      const uint32_t whole = static_cast<uint32_t>(CutAtCharacter(span + start, piece.length));
      piece.used -= piece.length - whole, piece.length = whole;
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
