// The loops over text that SSE2 runs sixteen bytes at a time, and the eight digits of a
// number that it writes in one store. Each has a plain twin of
// 64-bit words (common/words.h) that answers the same for every input; the build's choice
// is `scans::fast`, and tests/unit/text_test.cpp holds each pair against the other. The
// choice is made here, per function, so no loop elsewhere holds an #if.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/words.h"

namespace horalin::scans {

// Whether a unit goes out as its own byte in a run of the output: 1 to 7F but CR.
constexpr bool InOutputRun(char16_t c) { return c - 1u < 0x7Fu && c != u'\r'; }

namespace plain {

// Widens `bytes[from, count)` while they are 7-bit; the end of the widened bytes. The
// last few bytes go as the eight that end the text when all before them were 7-bit: the
// bytes taken twice are widened to the same units again.
inline size_t WidenAsciiFrom(const char* bytes, size_t from, size_t count, char16_t* out) {
  size_t i = from;
  for (; i + 8 <= count; i += 8) {
    const uint64_t v = words::Load(bytes + i);
    if (words::HasNonAsciiByte(v)) break;
    for (size_t half = 0; half < 2; ++half) {
      const uint64_t x = words::SpreadBytesToUnits(static_cast<uint32_t>(v >> 32 * half));
      std::memcpy(out + i + 4 * half, &x, sizeof x);
    }
  }
  if (i < count && i + 8 > count && count >= 8 && !words::HasNonAsciiByte(words::Load(bytes + count - 8)))
    return WidenAsciiFrom(bytes, count - 8, count, out);
  for (; i < count && static_cast<unsigned char>(bytes[i]) < 0x80; ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return i;
}

// The leading 7-bit bytes of `bytes` widened to their units in `out`; how many.
inline size_t WidenAscii(const char* bytes, size_t count, char16_t* out) {
  return WidenAsciiFrom(bytes, 0, count, out);
}

// The first byte from `pos` on that is below `n` (at most 0x80) or from 0x80, looked for a
// word at a time: its place, or the first place from which no whole word is left.
inline uint32_t SkipBytesFrom(const uint8_t* bytes, uint32_t pos, uint32_t stop, unsigned char n) {
  for (; pos + 8 <= stop; pos += 8) {
    const uint64_t marks = words::BelowOrNonAsciiMarks(words::Load(bytes + pos), n);
    if (marks) return pos + words::BytesBeforeFirstMark(marks);
  }
  return pos;
}

// Widens `count` bytes, all 7-bit, to their units and terminates them: `out` has room for
// `capacity` units, at least count + 1. Each group of eight units from the start is
// written whole, the last one with the terminator and zeros after it where `capacity`
// holds the whole group (the output reads the units back in such aligned groups, and a
// group put together from several smaller stores would make it wait).
inline void WidenAsciiLine(const uint8_t* bytes, uint32_t count, char16_t* out, uint32_t capacity) {
  uint32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const uint64_t v = words::Load(bytes + k);
    const uint64_t units[2] = {words::SpreadBytesToUnits(static_cast<uint32_t>(v)),
                               words::SpreadBytesToUnits(static_cast<uint32_t>(v >> 32))};
    std::memcpy(out + k, units, sizeof units);
  }
  for (; k < count; ++k) out[k] = bytes[k];
  for (out[k++] = 0; k % 8 != 0 && k < capacity; ++k) out[k] = 0;
}

// The first CR, LF or zero unit from `pos` on, or `stop`.
inline uint32_t FindLineStop(const char16_t* units, uint32_t pos, uint32_t stop) {
  for (; pos < stop; ++pos) {
    const char16_t u = units[pos];
    if (u == u'\r' || u == u'\n' || u == 0) break;
  }
  return pos;
}

// The first byte of `bytes` that is `a` or `b`, or `count`.
inline size_t FindEitherByte(const char* bytes, size_t count, char a, char b) {
  size_t i = 0;
  for (uint64_t v;
       i + 8 <= count && (v = words::Load(bytes + i), !words::HasByte(v, static_cast<unsigned char>(a)) &&
                                                          !words::HasByte(v, static_cast<unsigned char>(b)));)
    i += 8;
  while (i < count && bytes[i] != a && bytes[i] != b) ++i;
  return i;
}

// WidenAscii, and in `*first` the place of the first byte `a` or `b` among the bytes
// widened (their count when there is none).
inline size_t WidenAsciiFinding(const char* bytes, size_t count, char16_t* out, char a, char b, size_t* first) {
  const size_t n = WidenAscii(bytes, count, out);
  *first = FindEitherByte(bytes, n, a, b);
  return n;
}

// The first unit from `p` on that is zero or `unit`. Reads four units at a time: the
// caller's buffer holds the eight units that begin at any unit that can end the search.
inline char16_t* FindZeroOrUnit(char16_t* p, char16_t unit) {
  for (uint64_t v; v = words::Load(p), !words::HasZeroUnit(v) && !words::HasUnit(v, unit);) p += 4;
  while (*p && *p != unit) ++p;
  return p;
}

// Copies terminated text with its terminator, words at a time while they lie before
// `limit` (units after the terminator come along unused).
inline void CopyThroughZero(const char16_t* text, const char16_t* limit, char16_t* copy) {
  for (; limit - text >= 4; text += 4, copy += 4) {
    const uint64_t four = words::Load(text);
    std::memcpy(copy, &four, sizeof four);
    if (words::HasZeroUnit(four)) return;
  }
  while ((*copy++ = *text++) != 0) {
  }
}

// The leading units of `in` (n of them) that are InOutputRun, copied to `out` as bytes;
// their count.
inline size_t CopyOutputRun(const char16_t* in, size_t n, char* out) {
  size_t k = 0;
  for (uint64_t a, b; k + 8 <= n && (a = words::Load(in + k), b = words::Load(in + k + 4),
                                    words::AreUnitsInAsciiRun(a, u'\r') && words::AreUnitsInAsciiRun(b, u'\r'));
       k += 8) {
    const uint64_t packed = words::PackAsciiUnits(a, b);
    std::memcpy(out + k, &packed, sizeof packed);
  }
  for (; k < n && InOutputRun(in[k]); ++k) out[k] = static_cast<char>(in[k]);
  return k;
}

// One block of the output run of terminated text at `*p`, which lies at a multiple of 16
// bytes: the units in the run are copied to `buffer + *used`, which has room for 16, and
// `*p` and `*used` moved past them. Whether the whole block was in the run (then the next
// block follows).
inline bool CopyOutputBlock(const char16_t** p, char* buffer, size_t* used) {
  for (size_t k = 0; k < 8; ++k, ++*p) {
    if (!InOutputRun(**p)) return false;
    buffer[(*used)++] = static_cast<char>(**p);
  }
  return true;
}

// The first of `count` units that is `a` or `b`, or `count`.
inline size_t FindEitherUnit(const char16_t* units, size_t count, char16_t a, char16_t b) {
  size_t i = 0;
  for (uint64_t v; i + 4 <= count && (v = words::Load(units + i), !words::HasUnit(v, a) && !words::HasUnit(v, b));)
    i += 4;
  while (i < count && units[i] != a && units[i] != b) ++i;
  return i;
}

// Whether terminated `text` is the `length` units of `known`, none of them zero. Each
// unit of `text` is read only after those before it matched units of `known`, which are
// not zero: the reading stops at its terminator.
inline bool IsKnownText(const char16_t* text, const char16_t* known, size_t length) {
  size_t i = 0;
  while (i < length && text[i] == known[i]) ++i;
  return i == length && text[i] == 0;
}

// Exactly eight digits of v (v < 10^8), zero-padded, at `o`; where they end.
inline char16_t* PutEightDigits(char16_t* o, uint32_t v) {
  for (size_t i = 8; i-- > 0; v /= 10) o[i] = static_cast<char16_t>(u'0' + v % 10);
  return o + 8;
}

}  // namespace plain

#if defined(__SSE2__)
namespace sse2 {

inline __m128i Load16(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline unsigned Marks(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
inline unsigned First(unsigned marks) { return static_cast<unsigned>(std::countr_zero(marks)); }

inline void Widen16(__m128i v, char16_t* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, _mm_setzero_si128()));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, _mm_setzero_si128()));
}

// The last bytes as the sixteen that end the text, when it has as many: the bytes taken
// twice are widened to the same units again.
inline size_t WidenAscii(const char* bytes, size_t count, char16_t* out) {
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i v = Load16(bytes + i);
    if (Marks(v)) return plain::WidenAsciiFrom(bytes, i, count, out);  // the word steps find which
    Widen16(v, out + i);
  }
  if (i == count || count < 16) return plain::WidenAsciiFrom(bytes, i, count, out);
  const __m128i v = Load16(bytes + count - 16);
  if (Marks(v)) return plain::WidenAsciiFrom(bytes, i, count, out);
  Widen16(v, out + count - 16);
  return count;
}

// Sixteen bytes a step, then the rest as groups of eight: the last group's bytes are the
// eight that end the text moved down, those past its end becoming the terminator and zeros.
inline void WidenAsciiLine(const uint8_t* bytes, uint32_t count, char16_t* out, uint32_t capacity) {
  const __m128i zero = _mm_setzero_si128();
  uint32_t k = 0;
  for (; k + 16 <= count; k += 16) Widen16(Load16(bytes + k), out + k);
  for (;; k += 8) {
    const uint32_t left = count - k;
    if (left < 8 && k + 8 > capacity) return plain::WidenAsciiLine(bytes + k, left, out + k, capacity - k);
    uint64_t eight = 0;
    if (left >= 8) {
      std::memcpy(&eight, bytes + k, 8);
    } else if (count >= 8) {  // the last eight bytes, moved down: the ones past the text become 0
      std::memcpy(&eight, bytes + count - 8, 8);
      eight = left ? eight >> (8 * (8 - left)) : 0;
    } else {
      for (uint32_t i = 0; i < left; ++i) eight |= static_cast<uint64_t>(bytes[k + i]) << (8 * i);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                     _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&eight)), zero));
    if (left < 8) return;
  }
}

inline uint32_t SkipBytesFrom(const uint8_t* bytes, uint32_t pos, uint32_t stop, unsigned char n) {
  const __m128i below = _mm_set1_epi8(static_cast<char>(n));
  for (; pos + 16 <= stop; pos += 16) {
    // Compared as signed bytes, those from 80 are negative: below n like 00 to n - 1.
    if (const unsigned marks = Marks(_mm_cmplt_epi8(Load16(bytes + pos), below))) return pos + First(marks);
  }
  return plain::SkipBytesFrom(bytes, pos, stop, n);
}

inline uint32_t FindLineStop(const char16_t* units, uint32_t pos, uint32_t stop) {
  const __m128i cr = _mm_set1_epi16(u'\r'), lf = _mm_set1_epi16(u'\n'), zero = _mm_setzero_si128();
  for (; pos + 8 <= stop; pos += 8) {
    const __m128i eight = Load16(units + pos);
    const __m128i stops = _mm_or_si128(_mm_cmpeq_epi16(eight, zero),
                                       _mm_or_si128(_mm_cmpeq_epi16(eight, cr), _mm_cmpeq_epi16(eight, lf)));
    if (const unsigned marks = Marks(stops)) return pos + First(marks) / 2;
  }
  return plain::FindLineStop(units, pos, stop);
}

// One pass for both while the text is 7-bit, sixteen bytes at a time, the last sixteen
// overlapping those before; whether `a` or `b` came is gathered, and only then looked for.
inline size_t WidenAsciiFinding(const char* bytes, size_t count, char16_t* out, char a, char b, size_t* first) {
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
  unsigned seen = 0;
  size_t i = 0;
  bool ascii = true;
  for (; i + 16 <= count; i += 16) {
    const __m128i v = Load16(bytes + i);
    if ((ascii = !Marks(v)) == false) break;
    seen |= Marks(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
    Widen16(v, out + i);
  }
  if (ascii && i < count && count >= 16) {
    const __m128i v = Load16(bytes + count - 16);
    if (!Marks(v)) {
      seen |= Marks(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)));
      Widen16(v, out + count - 16);
      i = count;
    }
  }
  const size_t n = i == count ? count : plain::WidenAsciiFrom(bytes, i, count, out);
  *first = seen || n > i ? plain::FindEitherByte(bytes, n, a, b) : n;
  return n;
}

inline char16_t* FindZeroOrUnit(char16_t* p, char16_t unit) {
  const __m128i zero = _mm_setzero_si128(), wanted = _mm_set1_epi16(static_cast<short>(unit));
  for (__m128i v; v = Load16(p), !Marks(_mm_or_si128(_mm_cmpeq_epi16(v, zero), _mm_cmpeq_epi16(v, wanted)));) p += 8;
  return plain::FindZeroOrUnit(p, unit);
}

inline void CopyThroughZero(const char16_t* text, const char16_t* limit, char16_t* copy) {
  for (; limit - text >= 8; text += 8, copy += 8) {
    const __m128i eight = Load16(text);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(copy), eight);
    if (Marks(_mm_cmpeq_epi16(eight, _mm_setzero_si128()))) return;
  }
  plain::CopyThroughZero(text, limit, copy);
}

// Sixteen units packed into their bytes, stored at `out`, and the mask of those not in
// the output run. Packed with saturation, units 1 to 7F keep their value, 80 to 7FFF
// become FF and the rest 0: as signed bytes, the units not in the run are those below 1,
// and CR. The bytes before the first one marked are the units' own.
inline unsigned ClassifyOutputBlock(__m128i first, __m128i second, char* out) {
  const __m128i bytes = _mm_packus_epi16(first, second);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
  return Marks(_mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(1)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r'))));
}

// Sixteen at a time, the last sixteen overlapping those before (the units that both read
// are in the run, so the first one marked lies beyond them).
inline size_t CopyOutputRun(const char16_t* in, size_t n, char* out) {
  size_t k = 0;
  for (; k + 16 <= n; k += 16)
    if (const unsigned marks = ClassifyOutputBlock(Load16(in + k), Load16(in + k + 8), out + k))
      return k + First(marks);
  if (k == n) return n;
  if (n >= 16) {
    k = n - 16;
    const unsigned marks = ClassifyOutputBlock(Load16(in + k), Load16(in + k + 8), out + k);
    return marks ? k + First(marks) : n;
  }
  for (; k < n && InOutputRun(in[k]); ++k) out[k] = static_cast<char>(in[k]);
  return k;
}

// One aligned block of eight units. The block may reach past the terminator of the text
// it holds a unit of, but never past that unit's page (it starts at a multiple of 16), so
// the read cannot fault. The bytes beyond the terminator are read but never used. The
// address sanitizer would flag them as outside the string, so it leaves this one read
// unchecked: the sanitizer builds run the same reads as the shipped build, and
// Utf8StreamTest.TerminatedStringsThatEndAtAPagesEnd (strings whose terminator is the last
// unit before a page that cannot be read) checks in every build that they stay within
// the page. Finding the length first would read each string twice.
__attribute__((no_sanitize_address)) inline __m128i LoadAlignedBlock(const char16_t* p) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}

// 16 or 32 bytes that lie within one page (see LoadAlignedBlock).
inline bool CopyOutputBlock(const char16_t** p, char* buffer, size_t* used) {
  const bool both = (reinterpret_cast<uintptr_t>(*p) & 4095) <= 4096 - 32;
  const __m128i first = LoadAlignedBlock(*p);
  const unsigned marks = ClassifyOutputBlock(first, both ? LoadAlignedBlock(*p + 8) : first, buffer + *used);
  const size_t n = marks ? First(marks) : both ? 16 : 8;
  *p += n, *used += n;
  return !marks;
}

// Eight units at a time, the last eight overlapping those before.
inline size_t FindEitherUnit(const char16_t* units, size_t count, char16_t a, char16_t b) {
  const __m128i va = _mm_set1_epi16(static_cast<short>(a)), vb = _mm_set1_epi16(static_cast<short>(b));
  const auto marks = [&](size_t at) {
    const __m128i eight = Load16(units + at);
    return Marks(_mm_or_si128(_mm_cmpeq_epi16(eight, va), _mm_cmpeq_epi16(eight, vb)));
  };
  size_t i = 0;
  for (; i + 8 <= count; i += 8)
    if (const unsigned found = marks(i)) return i + First(found) / 2;
  if (i == count || count < 8) return i + plain::FindEitherUnit(units + i, count - i, a, b);
  const unsigned found = marks(count - 8);
  return found ? count - 8 + First(found) / 2 : count;
}

// Eight units at a time from the first place of `text` that lies at a multiple of 16
// bytes, while they lie within `known`: such a block of `text` may reach past its
// terminator, but not past its page (see LoadAlignedBlock); a block that holds the
// terminator differs from `known` there.
inline bool IsKnownText(const char16_t* text, const char16_t* known, size_t length) {
  size_t i = 0;
  for (; i < length && (reinterpret_cast<uintptr_t>(text + i) & 15) != 0; ++i)
    if (text[i] != known[i]) return false;
  for (; i + 8 <= length; i += 8)
    if (Marks(_mm_cmpeq_epi16(LoadAlignedBlock(text + i), Load16(known + i))) != 0xFFFF) return false;
  return plain::IsKnownText(text + i, known + i, length - i);
}

// Each digit in a lane of its own, stored at once.
inline char16_t* PutEightDigits(char16_t* o, uint32_t v) {
  const __m128i x = _mm_cvtsi32_si128(static_cast<int>(v));
  // v / 10000 by a multiply (0xD1B71759 / 2^45 is 1/10000 closely enough below 10^8), and v % 10000.
  const __m128i high = _mm_srli_epi64(_mm_mul_epu32(x, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i low = _mm_sub_epi32(x, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
  // Four times each half, times four: [high x4, low x4].
  __m128i halves = _mm_slli_epi64(_mm_unpacklo_epi16(high, low), 2);
  halves = _mm_unpacklo_epi16(halves, halves);
  halves = _mm_unpacklo_epi32(halves, halves);
  // Each divided by 1000, 100, 10 and 1 (two multiplies by fixed-point reciprocals): the
  // prefixes [a, ab, abc, abcd, e, ef, efg, efgh] of the digits abcdefgh.
  const __m128i reciprocals = _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768);
  const __m128i shifts = _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768);
  const __m128i prefixes = _mm_mulhi_epu16(_mm_mulhi_epu16(halves, reciprocals), shifts);
  // Each prefix less ten times the one before it: the digit.
  const __m128i digits = _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_add_epi16(digits, _mm_set1_epi16(u'0')));
  return o + 8;
}

}  // namespace sse2
namespace fast = sse2;
#else
namespace fast = plain;
#endif

}  // namespace horalin::scans
