#include "common/utf.h"

#include <cstring>

#include "common/scans.h"
#include "common/words.h"

namespace horalin {

namespace {

// The leading 7-bit units of `text` as their bytes; how many.
size_t NarrowAscii(const char16_t* text, size_t length, char* out) {
  size_t i = 0;
  for (uint64_t a, b;
       i + 8 <= length && (a = words::Load(text + i), b = words::Load(text + i + 4), !words::HasNonAsciiUnit(a | b));
       i += 8) {
    const uint64_t packed = words::PackAsciiUnits(a, b);
    std::memcpy(out + i, &packed, sizeof packed);
  }
  for (; i < length && text[i] < 0x80; ++i) out[i] = static_cast<char>(text[i]);
  return i;
}

}  // namespace

size_t EncodeUtf8(Utf8Encoder* encoder, const char16_t* text, size_t length, char* out) {
  char* start = out;
  size_t i = 0;
  if (encoder->heldHigh && length) {
    const bool pair = IsLowSurrogate(text[0]);
    out = AppendUtf8(out, pair ? CodePointFromSurrogates(encoder->heldHigh, text[0]) : 0xFFFD);
    encoder->heldHigh = 0;
    i = pair ? 1 : 0;
  }
  while (i < length) {
    const size_t ascii = NarrowAscii(text + i, length - i, out);
    i += ascii, out += ascii;
    if (i == length) break;
    uint32_t c = text[i++];
    if (IsHighSurrogate(c)) {
      if (i == length) {
        encoder->heldHigh = static_cast<char16_t>(c);  // the low half may come with the next piece
        break;
      }
      if (IsLowSurrogate(text[i])) c = CodePointFromSurrogates(c, text[i++]);
    }
    out = AppendUtf8(out, IsSurrogate(c) ? 0xFFFD : c);
  }
  return static_cast<size_t>(out - start);
}

size_t Utf8FromUtf16(const char16_t* text, size_t length, char* out) {
  Utf8Encoder encoder{};
  const size_t n = EncodeUtf8(&encoder, text, length, out);
  return n + FinishUtf8(&encoder, out + n);
}

size_t DecodeUtf8(const char* text, size_t length, char16_t* out, size_t capacity, bool final, size_t* used) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0, n = 0;
  while (i < length && n < capacity) {
    const size_t ascii =
        scans::fast::WidenAscii(text + i, length - i < capacity - n ? length - i : capacity - n, out + n);
    i += ascii, n += ascii;
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

namespace {

// The value of a base64 digit, or -1.
int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// A UTF-7 state: bit 31 inside a run, bits 16-20 the number of bits held, bits 0-15 the
// bits themselves (fewer than 16: a whole unit is written at once).
constexpr uint32_t kInRun = 1u << 31;

}  // namespace

size_t DecodeUtf7(uint32_t* state, const char* text, size_t length, char16_t* out, size_t capacity, bool final,
                  size_t* used) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  uint32_t run = *state & kInRun, count = *state >> 16 & 0x1F, bits = *state & 0xFFFF;
  size_t i = 0, n = 0;
  for (; i < length && n < capacity; ++i) {
    const unsigned char c = s[i];
    if (run) {
      const int value = Base64Value(c);
      if (value >= 0) {
        bits = bits << 6 | static_cast<uint32_t>(value), count += 6;
        if (count >= 16) count -= 16, out[n++] = static_cast<char16_t>(bits >> count), bits &= (1u << count) - 1;
        continue;
      }
      run = 0;
      if (c < 0x80) count = 0, bits = 0;  // after a byte from 80 the next run goes on with them
      if (c == '-') continue;
    } else if (c == '+') {
      if (i + 1 == length) {
        if (!final) break;
        continue;
      }
      if (s[i + 1] == '-') {
        out[n++] = u'+', ++i;
      } else {
        run = kInRun;
      }
      continue;
    }
    out[n++] = c;
  }
  *state = final && i == length ? 0 : run | count << 16 | bits;
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
