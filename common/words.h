// Text read a 64-bit word at a time: eight bytes, or four UTF-16 units, per test. For
// the hot loops over lines of text; every word is read from within the caller's buffer.
// Each trick is one function here, with what it relies on; callers elsewhere use these.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace horalin::words {

// The lanes of a word are its units and bytes in memory order on a little-endian machine,
// the only kind the program is built for.
static_assert(std::endian::native == std::endian::little, "the lanes of a word are read in memory order");

inline constexpr uint64_t kByteOnes = 0x0101010101010101;
inline constexpr uint64_t kByteHighs = 0x8080808080808080;
inline constexpr uint64_t kUnitOnes = 0x0001000100010001;
inline constexpr uint64_t kUnitHighs = 0x8000800080008000;
inline constexpr uint64_t kUnitNonAscii = 0xFF80FF80FF80FF80;  // the bits of a unit from 0x80

inline uint64_t Load(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// The high bit of each zero unit of the word, and perhaps of some units above one. A
// borrow crosses into the next lane only from a lane that is zero itself, so whether there
// is a mark is exact, and so is the lowest mark: the first zero unit (the lanes above it
// may be marked wrongly).
inline uint64_t ZeroUnitMarks(uint64_t v) { return (v - kUnitOnes) & ~v & kUnitHighs; }

// Whether a byte (a unit) of the word is zero. Exact, as above.
inline bool HasZeroByte(uint64_t v) { return ((v - kByteOnes) & ~v & kByteHighs) != 0; }
inline bool HasZeroUnit(uint64_t v) { return ZeroUnitMarks(v) != 0; }
inline bool HasByte(uint64_t v, unsigned char b) { return HasZeroByte(v ^ (kByteOnes * b)); }
inline bool HasUnit(uint64_t v, char16_t u) { return HasZeroUnit(v ^ (kUnitOnes * u)); }
// Whether a byte is 0x80 or above.
inline bool HasNonAsciiByte(uint64_t v) { return (v & kByteHighs) != 0; }
// Whether a unit is 0x80 or above.
inline bool HasNonAsciiUnit(uint64_t v) { return (v & kUnitNonAscii) != 0; }
// Whether every unit is from 1 to 0x7F and none is `stop`: a run of 7-bit text that
// can go out as its bytes (a zero `stop` asks nothing more).
inline bool AreUnitsInAsciiRun(uint64_t v, char16_t stop) {
  return !HasNonAsciiUnit(v) && !HasZeroUnit(v) && !HasUnit(v, stop);
}

// The place in memory of the first zero unit of the four that the word was loaded from,
// 4 when there is none. The lowest mark of ZeroUnitMarks is exact, and the lowest lane is
// the first unit.
inline size_t FirstZeroUnit(uint64_t v) {
  return static_cast<size_t>(std::countr_zero(ZeroUnitMarks(v))) / 16;  // 64 / 16 when none
}

// The high bit of each byte below `n` (at most 0x80) or from 0x80. A borrow marks a byte
// wrongly only above one rightly marked, so the lowest mark is the first such byte.
inline uint64_t BelowOrNonAsciiMarks(uint64_t v, unsigned char n) {
  return (((v - kByteOnes * n) & ~v) | v) & kByteHighs;
}

// The length of the leading 7-bit bytes of `bytes` (none from 0x80) in whole words: a
// multiple of 8, at most `count`; the byte after it, if a whole word follows, starts a
// word that holds one from 0x80. Four words a test while the text is long, then one.
inline size_t AsciiWordsLength(const unsigned char* bytes, size_t count) {
  size_t i = 0;
  for (; i + 32 <= count; i += 32)
    if (HasNonAsciiByte(Load(bytes + i) | Load(bytes + i + 8) | Load(bytes + i + 16) | Load(bytes + i + 24))) break;
  for (; i + 8 <= count && !HasNonAsciiByte(Load(bytes + i)); i += 8) {
  }
  return i;
}

// Eight 7-bit units (two words, in memory order) as their eight bytes, in memory order.
// Each unit's high byte is zero, so or-ing the word with itself shifted gathers the low
// bytes pairwise without carries.
inline uint64_t PackAsciiUnits(uint64_t first, uint64_t second) {
  auto four = [](uint64_t word) {
    const uint64_t x = (word | word >> 8) & 0x0000FFFF0000FFFFull;
    return (x | x >> 16) & 0xFFFFFFFFull;
  };
  return four(second) << 32 | four(first);
}

// Four bytes (in memory order) spread over the four units of a word, each in its low
// byte: the inverse of PackAsciiUnits for one word.
inline uint64_t SpreadBytesToUnits(uint32_t four) {
  uint64_t x = four;
  x = (x | x << 16) & 0x0000FFFF0000FFFFull;
  return (x | x << 8) & 0x00FF00FF00FF00FFull;
}

// How many bytes of the word, from its first in memory, a scan may pass over once
// BelowOrNonAsciiMarks has marked some (`marks` not 0): all before the lowest mark, which
// is a right one, as a borrow marks wrongly only bytes above a rightly marked one.
inline unsigned BytesBeforeFirstMark(uint64_t marks) { return static_cast<unsigned>(std::countr_zero(marks)) / 8; }

}  // namespace horalin::words
