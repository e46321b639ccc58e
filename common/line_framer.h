// Lines framed from a stream of text that comes a span at a time: bytes of text whose
// line ends are bytes of their own (ASCII, UTF-8, the code pages that keep ASCII), framed
// before they are decoded, or UTF-16 units (UTF-16 input, and byte text decoded first).
// A line ends at CR LF, a lone CR or a lone LF; a zero unit is dropped; a line that
// reaches its limit is split there, its rest coming as the next line, and a line end
// right after the split ends the split line, not an empty one. The spans may cut the
// text anywhere, a CR LF pair too, and give the same lines. The caller keeps the units of
// a line that spans several spans; the framer says where each piece of it lies in the
// span and how the piece ended.
#pragma once

#include <cstdint>

#include "common/scans.h"
#include "common/utf.h"

namespace horalin {

// What the start of the next span may hold that still belongs to the last line.
enum PendingLineEnd : uint8_t {
  kNoPendingEnd = 0,
  kAfterCr = 1,     // a CR that ended the last span ended the line: an LF after it is that line end's
  kAfterSplit = 2,  // the last line was split at its limit: a line end that follows is its end
};

struct LineFramer {
  uint32_t limit;  // most units a line holds, at least 2
  // Units of the line so far, which the caller holds: they wait for the line's end (or
  // for its limit). Below `limit` between calls: a line that reaches it is split at once.
  uint32_t count;
  PendingLineEnd pendingEnd;
  bool restOfSplit;  // the line so far is the rest of a line split at the limit
};

enum class PieceEnd : uint8_t {
  kGoesOn,   // the span ended, or a zero unit was dropped: the line goes on after the piece
  kLineEnd,  // a line end ended the line
  kSplit,    // the line reached its limit (at a UTF-16 high surrogate: one unit before it)
};

// A run of a line's units within the span: span[start, start + length), after `at` units
// of the line that the caller holds. `used`: the units of the span that the framer took,
// those before the piece (a line end pending from the last span), the piece and what
// ended it; the next piece is looked for after them.
struct LinePiece {
  uint32_t start;
  uint32_t length;
  uint32_t used;
  uint32_t at;
  PieceEnd end;
  bool restOfSplit;  // the piece's line is the rest of a line split at the limit
};

inline LineFramer StartLineFramer(uint32_t limit) { return LineFramer{limit, 0, kNoPendingEnd, false}; }

// The framer's steps, for both kinds of text; NextLinePiece below is the way in.
namespace framing {

inline constexpr char16_t kCr = 13, kLf = 10;

// The first CR, LF or zero byte from `pos` on, or `stop`; the bits of the bytes looked
// at one by one go into `*seen`.
inline uint32_t FindLineStop(const uint8_t* bytes, uint32_t pos, uint32_t stop, uint8_t* seen) {
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
inline uint32_t FindLineStop(const char16_t* units, uint32_t pos, uint32_t stop, uint8_t*) {
  return scans::fast::FindLineStop(units, pos, stop);
}

// The one step for the first unit of a span while a line end may still be pending:
// whether it is taken with the last line. After a CR, an LF is. After a split at the
// limit, a line end is (a CR then waits for its LF), and so is a zero unit, which is
// dropped and leaves the question open, as if it were not there.
inline bool TakenByPendingEnd(LineFramer* f, char16_t unit) {
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
inline void EndPieceAt(LineFramer* f, LinePiece* piece, char16_t stop, int32_t next) {
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
inline LinePiece NextPiece(LineFramer* f, const Unit* span, uint32_t n, uint8_t* seen) {
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

}  // namespace framing

// The next piece of the line in `span` (n units; n may be 0). Bytes: the bits of the
// bytes that the scan looks at one by one (CR, LF, zero and those from 80) are added to
// `*seen`, so that no bit 7 in it means 7-bit text. UTF-16: a split never parts a
// surrogate pair; the high unit begins the next line. The one for bytes is inline: it is
// the reader's step for each line of byte text, most of them short.
inline LinePiece NextLinePiece(LineFramer* framer, const uint8_t* span, uint32_t n, uint8_t* seen) {
  return framing::NextPiece(framer, span, n, seen);
}
LinePiece NextLinePiece(LineFramer* framer, const char16_t* span, uint32_t n);

// The line so far ends where it stands (at the end of the input, or handed over as it
// is): what comes next begins a line of its own.
inline void EndLineHere(LineFramer* framer) {
  framer->count = 0;
  framer->pendingEnd = kNoPendingEnd;
  framer->restOfSplit = false;
}

// After a split, the caller keeps the last `count` units of the split line for the next
// line (the bytes of a character that the limit cut off). The next line begins with them,
// so a line end that follows is its own.
inline void StartLineWith(LineFramer* framer, uint32_t count) {
  framer->count = count;
  framer->pendingEnd = kNoPendingEnd;
}

}  // namespace horalin
