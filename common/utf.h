// Conversions between UTF-16 and UTF-8 at the edges of the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin {

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD. A high surrogate that ends the
// input is left unconverted and counted in `*consumed`'s complement, so that a caller
// writing in pieces can join it to the next piece. Returns the bytes written; the
// output needs up to 3 bytes per unit.
size_t Utf8FromUtf16(const char16_t* text, size_t length, char* out, bool final,
                     size_t* consumed);

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD. Returns the units written,
// at most capacity - 1, and terminates the output.
size_t Utf16FromUtf8(const char* text, size_t length, char16_t* out, size_t capacity);

}  // namespace horalin
