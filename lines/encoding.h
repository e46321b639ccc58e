// Input encodings of TS: the names a user may give, the test that a code page can be
// converted, and the decision, block by block, from signatures and byte statistics.
#pragma once

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
// the block reads as text, ends with a line end or holds more zero high bytes. Returns
// true when it decided (and set *encoding).
bool DetectUtf16(const uint8_t* block, uint32_t count, TextEncoding* encoding);

// Complete UTF-8 sequences and no broken one: UTF-8 (code page 65001); a broken one:
// code-page text (code page 0 becomes the OEM code page). Plain 7-bit text decides
// nothing. Returns true when it decided.
bool DetectUtf8(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage);

// The decision for the first bytes of the input (`firstBlock`: signatures and both tests)
// and for each later line of byte text (the UTF-8 test while undecided). Returns the
// length of a signature to skip.
uint32_t DecideBlockEncoding(const uint8_t* block, uint32_t count, bool firstBlock, TextEncoding* encoding,
                             uint32_t* codePage);

}  // namespace horalin
