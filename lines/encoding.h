// Input encodings of TS: the names a user may give, the test that a code page can be
// converted, and the decision, block by block, from signatures and byte statistics.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin {

enum TextEncoding : int32_t {
  EncodingUndecided = 0,  // bytes, each line converted with the code page
  EncodingCodePage = 1,   // 8-bit (or double-byte) text in the code page
  EncodingUtf8 = 2,       // code page 65001
  EncodingUtf16LE = 3,
  EncodingUtf16BE = 4,
};

inline constexpr uint32_t kCodePageUtf8 = 65001;
// Marks a code page that failed to parse while the options are read.
inline constexpr uint32_t kBadCodePage = 0xFFFFFFFF;

// The encoding named by the value of an encoding option ("UTF-8", "U16BE", "CP1252",
// "ANSI"...); a "CP" name also sets *codePage (kBadCodePage when its number is bad).
// EncodingUndecided: the name is not recognised.
TextEncoding ParseEncodingName(const char16_t* name, uint32_t* codePage);

// Whether the system can convert text in the code page.
bool IsCodePageSupported(uint32_t codePage);

// Zero bytes only at odd offsets: little-endian; only at even offsets: big-endian. Zero
// bytes at both (as characters like U+4E00 or U+0100 give): the one byte order in which
// the block reads as text and holds a line end, or else holds more zero high bytes. A
// block whose reading holds no line end must besides read as text with Latin in it and
// hold no CR or LF byte after its first zero byte: 8-bit text with stray zero bytes is
// no UTF-16. Returns true when it decided (and set *encoding).
bool DetectUtf16(const uint8_t* block, uint32_t count, TextEncoding* encoding);

// Complete UTF-8 sequences and no broken one: UTF-8 (code page 65001); a broken one:
// code-page text (code page 0 becomes the OEM code page). 7-bit text decides
// nothing. Returns true when it decided.
bool DetectUtf8(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage);

// The decision for the first bytes of the input: signatures, then both tests. Returns
// the length of a signature to skip.
uint32_t DecideBlockEncoding(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage);

// Decodes a line of byte text as UTF-8 when it is well formed throughout (a sequence that
// the end cuts off is not, unless `cutMayEnd`: then it is left for the text that
// follows), into `out` (room for a unit per byte): true, with the units and the bytes
// taken. False at the first sequence that is not: the line is code-page text, and
// *units are its leading 7-bit bytes, written to `out` already (0 when a longer
// sequence came before).
bool DecodeWellFormedUtf8(const uint8_t* bytes, uint32_t count, bool cutMayEnd, char16_t* out, size_t* units,
                          size_t* used);

// Whether the bytes are well-formed UTF-8 throughout (a sequence that their end cuts off
// is not).
bool IsWellFormedUtf8(const uint8_t* bytes, uint32_t count);

}  // namespace horalin
