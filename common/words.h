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
// Whether a byte is 0x80 or above; whether a unit is.
inline bool HasNonAsciiByte(uint64_t v) { return (v & kByteHighs) != 0; }
inline bool HasNonAsciiUnit(uint64_t v) { return (v & (kUnitOnes * 0xFF80)) != 0; }

// Eight ASCII bytes as eight units.
inline void WidenAscii(const char* bytes, char16_t* units) {
  if constexpr (std::endian::native == std::endian::little) {
    for (int half = 0; half < 2; ++half) {
      uint32_t four;
      std::memcpy(&four, bytes + 4 * half, 4);
      uint64_t v = four;
      v = (v | (v << 16)) & 0x0000FFFF0000FFFF;
      v = (v | (v << 8)) & 0x00FF00FF00FF00FF;
      std::memcpy(units + 4 * half, &v, 8);
    }
  } else {
    for (int i = 0; i < 8; ++i) units[i] = static_cast<unsigned char>(bytes[i]);
  }
}

// Four ASCII units as four bytes.
inline void NarrowAscii(const char16_t* units, char* bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    uint64_t v = Load(units);
    v = (v | (v >> 8)) & 0x0000FFFF0000FFFF;
    uint32_t four = static_cast<uint32_t>(v | (v >> 16));
    std::memcpy(bytes, &four, 4);
  } else {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(units[i]);
  }
}

}  // namespace horalin::words
