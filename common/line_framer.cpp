#include "common/line_framer.h"

namespace horalin {

LinePiece NextLinePiece(LineFramer* framer, const char16_t* span, uint32_t n) {
  return framing::NextPiece(framer, span, n, nullptr);
}

}  // namespace horalin
