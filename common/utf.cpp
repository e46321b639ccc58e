#include "common/utf.h"

namespace horalin {

size_t Utf8FromUtf16(const char16_t* text, size_t length, char* out, bool final, size_t* consumed) {
  char* start = out;
  size_t i = 0;
  while (i < length) {
    for (; i + 8 <= length && AreAsciiUnits8(text + i); i += 8, out += 8) PutAsciiUnits8(text + i, out);
    if (i == length) break;
    uint32_t c = text[i];
    if (c < 0x80) {
      *out++ = static_cast<char>(c);
      ++i;
      continue;
    }
    if (IsHighSurrogate(c)) {
      if (i + 1 == length && !final) break;  // the low half may come with the next piece
      if (i + 1 < length && IsLowSurrogate(text[i + 1])) {
        out = AppendUtf8(out, CodePointFromSurrogates(c, text[i + 1]));
        i += 2;
        continue;
      }
      c = 0xFFFD;
    } else if (IsLowSurrogate(c)) {
      c = 0xFFFD;
    }
    out = AppendUtf8(out, c);
    ++i;
  }
  if (consumed) *consumed = i;
  return static_cast<size_t>(out - start);
}

size_t Utf16FromUtf8(const char* text, size_t length, char16_t* out, size_t capacity) {
  if (capacity == 0) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, n = 0;
  while (i < length && n + 1 < capacity) {
    uint32_t b = s[i];
    uint32_t cp = 0xFFFD;
    size_t need = b < 0x80                 ? 0
                  : b >= 0xC2 && b <= 0xDF ? 1
                  : b >= 0xE0 && b <= 0xEF ? 2
                  : b >= 0xF0 && b <= 0xF4 ? 3
                                           : 99;
    if (need == 0) {
      cp = b, i += 1;
    } else if (need == 99) {
      i += 1;
    } else {
      uint32_t v = b & (0x3F >> need);
      size_t k = 1;
      for (; k <= need && i + k < length && (s[i + k] & 0xC0) == 0x80; ++k) v = v << 6 | (s[i + k] & 0x3F);
      bool overlong = (need == 2 && v < 0x800) || (need == 3 && v < 0x10000);
      if (k == need + 1 && !overlong && v <= 0x10FFFF && !IsSurrogate(v)) cp = v;
      i += k;
    }
    if (cp >= 0x10000) {
      if (n + 2 >= capacity) break;
      out[n++] = HighSurrogateOf(cp);
      out[n++] = LowSurrogateOf(cp);
    } else {
      out[n++] = static_cast<char16_t>(cp);
    }
  }
  out[n] = 0;
  return n;
}

}  // namespace horalin
