// The format interpreter is not built yet: every format renders as an empty text.
#include "datetime/format.h"

namespace horalin {

int64_t FormatDateTime(char16_t* out, const char16_t* format, const SYSTEMTIME&, uint32_t) {
  if (!format) return -1;
  out[0] = 0;
  return 0;
}

}  // namespace horalin
