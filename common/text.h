// Zero-terminated UTF-16 text: bounded copies, classification, number parsing and
// bounded formatting. Every copy into a buffer is bounded by the buffer's capacity,
// counted in units with the terminator.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace horalin {

size_t TextLength(const char16_t* text);

// Copies (or appends) as much of `source` as fits, always leaving `target` terminated.
// Returns the length of the text in `target`.
size_t CopyText(char16_t* target, size_t capacity, const char16_t* source);
size_t AppendText(char16_t* target, size_t capacity, const char16_t* source);

// Classification and case of one unit, as the C library's wide functions give them.
bool IsSpace(char16_t c);
// Cuts the white space that ends the text (a system's error text may end with a blank or
// a line end); returns its new length.
size_t TrimTrailingSpace(char16_t* text);
bool IsDigit(char16_t c);
bool IsXDigit(char16_t c);
bool IsLetter(char16_t c);
char16_t ToUpper(char16_t c);
char16_t ToLower(char16_t c);
inline bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Whole-string comparison after towlower on both sides: <0, 0 or >0.
int CompareNoCase(const char16_t* a, const char16_t* b);
bool StartsWithNoCase(const char16_t* text, const char16_t* prefix);

// Whole text to a 32-bit unsigned value: decimal, "0x" hexadecimal or "0o" octal.
// Returns 0 and stores the value, or nonzero and leaves `value` untouched.
int ParseUnsignedNumber(const char16_t* text, uint32_t* value);
// Signed decimal (or "0x"/"0o" bits). With `end`, the number may be followed by other
// text and `end` receives the position after it; without, it must be the whole text.
int ParseSignedNumber(const char16_t* text, int32_t* value, const char16_t** end);

// Writes `value` in decimal, padded on the left with `pad` to `width` units, at `out`
// (room for the width or 20 units, whichever is more). Returns the end; no terminator.
inline char16_t* PutDecimal(char16_t* out, uint64_t value, unsigned width = 0, char16_t pad = u'0') {
  char16_t digits[20];
  unsigned n = 0;
  do digits[n++] = static_cast<char16_t>(u'0' + value % 10);
  while (value /= 10);
  for (; width > n; --width) *out++ = pad;
  while (n) *out++ = digits[--n];
  return out;
}

// A destination for formatted text.
struct TextSink {
  void (*put)(TextSink* sink, const char16_t* text, size_t length);
};

// The printf conventions of the host: %s is a UTF-16 string, %c a unit, %d and %u
// 32-bit numbers, %I64d and %I64u (also %lld, %llu) 64-bit ones, %x and %X hexadecimal;
// flags "-" and "0", a width, and "%%".
void FormatToSink(TextSink* sink, const char16_t* format, va_list args);

// swprintf with a capacity: at most capacity - 1 units and a terminator are written.
// Returns the length written.
size_t FormatText(char16_t* out, size_t capacity, const char16_t* format, ...);
size_t FormatTextV(char16_t* out, size_t capacity, const char16_t* format, va_list args);

}  // namespace horalin
