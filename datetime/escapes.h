// Text-level pieces of the format language: backslash escapes, Roman numerals and
// English ordinal suffixes. Pure functions over UTF-16 text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin {

// The work buffer of one directive, in units with the terminator.
inline constexpr size_t kDirectiveText = 1024;

struct Escape {
  uint32_t codePoint;    // what to write; 0 writes nothing
  const char16_t* next;  // where the scan goes on
};

// Reads the escape whose escape character is at `p` (the unit after a backslash).
// At the terminator it writes nothing and `next` is the terminator itself.
//  - named: \a \b \c(,) \e \f \k(`) \n \p(%) \q(") \r \s(space) \t \v, and \- (nothing);
//  - numeric: \#ddddd (decimal, 1-65535), \ooo (octal, 1-511), \xhhhh (1-FFFF, lone
//    surrogates pass), \uhhhh (1-FFFF, no surrogates), \Uhhhhhhhh (1-10FFFF, no surrogates).
//    A number that fails writes a backslash and the scan goes on after the escape
//    character, so its digits are read again as literal text. When the unit after
//    #, x, u or U is no digit of the C library's wide classification, the escape
//    character is written alone;
//  - any other unit writes itself (a surrogate pair as one code point).
// Values 0x80 to 0x9F become the code points of the Windows-1252 table.
Escape ReadEscape(const char16_t* p);

// The code point that the value 0x80 to 0x9F stands for; any other value is returned as it is.
uint32_t MapC1Value(uint32_t value);

// Replaces `text` (capacity `capacity`) by the Roman numeral of n, 1 to 9999, with a final
// "I" written "J" when `jEnding` is set. Returns 0, or -2 with `text` untouched when n is
// out of range. Returns the length through `length` when given.
int RomanNumeral(uint32_t n, bool jEnding, char16_t* text, size_t capacity = kDirectiveText, size_t* length = nullptr);

// Appends "st", "nd", "rd" or "th" for n to the text of `length` units in `text`
// (capacity `capacity`), as far as it fits. Returns the new length.
size_t AppendOrdinalSuffix(uint32_t n, char16_t* text, size_t length, size_t capacity = kDirectiveText);

}  // namespace horalin
