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

size_t DecodeUtf8(const char* text, size_t length, char16_t* out, size_t capacity, bool final, size_t* used) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, n = 0;
  while (i < length && n < capacity) {
    for (; i + 8 <= length && n + 8 <= capacity; i += 8, n += 8) {  // 7-bit runs, eight bytes at a time
      uint64_t word;
      std::memcpy(&word, s + i, sizeof word);
      if (word & 0x8080808080808080ull) break;
      PutAsciiBytes8(text + i, out + n);
    }
    if (i == length || n == capacity) break;
    const Utf8Sequence q = ReadUtf8Sequence(s + i, length - i);
    if (q.form == Utf8Form::Cut && !final) break;
    const uint32_t codePoint = q.form == Utf8Form::Valid ? q.codePoint : 0xFFFD;
    if (codePoint >= 0x10000) {
      if (n + 2 > capacity) break;
      out[n++] = HighSurrogateOf(codePoint);
      out[n++] = LowSurrogateOf(codePoint);
    } else {
      out[n++] = static_cast<char16_t>(codePoint);
    }
    i += q.length;
  }
  *used = i;
  return n;
}

size_t Utf16FromUtf8(const char* text, size_t length, char16_t* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t used = 0;
  const size_t n = DecodeUtf8(text, length, out, capacity - 1, true, &used);
  out[n] = 0;
  return n;
}

}  // namespace horalin
