// Text read a 64-bit word at a time: eight bytes, or four UTF-16 units, per test. For
// the hot loops over lines of text; every word is read from within the caller's buffer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace horalin::words {

inline constexpr uint64_t kByteOnes = 0x0101010101010101;
inline constexpr uint64_t kByteHighs = 0x8080808080808080;
inline constexpr uint64_t kUnitOnes = 0x0001000100010001;
inline constexpr uint64_t kUnitHighs = 0x8000800080008000;

inline uint64_t Load(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Whether a byte (a unit) of the word is zero. Exact: a borrow crosses into the next
// lane only from a lane that is zero itself.
inline bool HasZeroByte(uint64_t v) { return ((v - kByteOnes) & ~v & kByteHighs) != 0; }
inline bool HasZeroUnit(uint64_t v) { return ((v - kUnitOnes) & ~v & kUnitHighs) != 0; }
inline bool HasByte(uint64_t v, unsigned char b) { return HasZeroByte(v ^ (kByteOnes * b)); }
inline bool HasUnit(uint64_t v, char16_t u) { return HasZeroUnit(v ^ (kUnitOnes * u)); }
// Whether a byte is 0x80 or above.
inline bool HasNonAsciiByte(uint64_t v) { return (v & kByteHighs) != 0; }
// The high bit of each byte below `n` (at most 0x80) or from 0x80. A borrow marks a byte
// wrongly only above one rightly marked, so on a little-endian machine the lowest mark is
// the first such byte; elsewhere only whether there is one holds.
inline uint64_t BelowOrNonAsciiMarks(uint64_t v, unsigned char n) {
  return (((v - kByteOnes * n) & ~v) | v) & kByteHighs;
}

// How many bytes of the word, from its first in memory, a scan may pass over once
// BelowOrNonAsciiMarks has marked some (`marks` not 0): on a little-endian machine all
// before the lowest mark, which is a right one, as a borrow marks wrongly only bytes
// above a rightly marked one; elsewhere none, since a wrong mark may come before the
// first right one in memory, and the caller looks at the word's bytes one by one.
inline unsigned BytesBeforeFirstMark(uint64_t marks) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<unsigned>(std::countr_zero(marks)) / 8;
  else
    return 0;
}

}  // namespace horalin::words
