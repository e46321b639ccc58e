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

// The next piece of the line in `span` (n units; n may be 0). Bytes: the bits of the
// bytes that the scan looks at one by one (CR, LF, zero and those from 80) are added to
// `*seen`, so that no bit 7 in it means 7-bit text. UTF-16: a split never parts a
// surrogate pair; the high unit begins the next line.
LinePiece NextLinePiece(LineFramer* framer, const uint8_t* span, uint32_t n, uint8_t* seen);
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
