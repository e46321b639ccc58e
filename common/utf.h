// Conversions between UTF-16 and UTF-8 at the edges of the program.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin {

// UTF-16 surrogates: a code point above U+FFFF is a high unit (D800-DBFF) then a low
// unit (DC00-DFFF).
constexpr bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
constexpr bool IsSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
// The code point of a high and a low surrogate.
constexpr uint32_t CodePointFromSurrogates(uint32_t high, uint32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}
// The two units of a code point from U+10000 to U+10FFFF.
constexpr char16_t HighSurrogateOf(uint32_t codePoint) {
  return static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
}
constexpr char16_t LowSurrogateOf(uint32_t codePoint) { return static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)); }

// The units of `text` up to `length` that a cut there leaves whole: `length`, or one
// less when the unit before the cut is a high half (whose low half it would part from
// it). The one rule for cutting UTF-16 text short.
constexpr size_t CutAtCharacter(const char16_t* text, size_t length) {
  return length && IsHighSurrogate(text[length - 1]) ? length - 1 : length;
}

// A UTF-16 unit from its two bytes in the order given.
constexpr char16_t UnitFromBytes(uint8_t first, uint8_t second, bool bigEndian) {
  return static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
}

// UTF-16 to UTF-8 written in pieces: a high half that ends one piece waits in the
// encoder for the low half that may begin the next. A lone surrogate becomes U+FFFD.
struct Utf8Encoder {
  char16_t heldHigh;  // 0: none
};
// Encodes `text` after what the encoder holds; returns the bytes written, at most 3 per
// unit and 3 more (a held half let out as U+FFFD).
size_t EncodeUtf8(Utf8Encoder* encoder, const char16_t* text, size_t length, char* out);

// Whole text from UTF-16 to UTF-8, through one encoder: a high half that ends the text
// becomes U+FFFD (text in pieces goes through EncodeUtf8, whose encoder carries it).
// Returns the bytes written, at most 3 a unit.
size_t Utf8FromUtf16(const char16_t* text, size_t length, char* out);

// Writes one code point (below U+110000) as its 1 to 4 UTF-8 bytes; returns the end.
inline char* AppendUtf8(char* out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    *out++ = static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    *out++ = static_cast<char>(0xC0 | (codePoint >> 6));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (codePoint >> 12));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (codePoint >> 18));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (codePoint & 0x3F));
  }
  return out;
}

// Lets out the half the encoder holds, as U+FFFD; the bytes written (0 or 3).
inline size_t FinishUtf8(Utf8Encoder* encoder, char* out) {
  if (!encoder->heldHigh) return 0;
  encoder->heldHigh = 0;
  return static_cast<size_t>(AppendUtf8(out, 0xFFFD) - out);
}

// ---- UTF-8 -------------------------------------------------------------------------
// The well-formed sequences, the only ones read as characters (the detector of TS and
// every decoder ask this one function): a byte 00-7F alone; a lead byte C2-F4 and one to
// three bytes 80-BF, the first of them narrowed after E0 (A0-BF: no overlong form), ED
// (80-9F: no surrogate), F0 (90-BF: no overlong form) and F4 (80-8F: nothing past
// U+10FFFF). C0, C1 and F5-FF never begin one, and 80-BF never stand alone.
enum class Utf8Form : uint8_t {
  Valid,
  Invalid,  // `length` bytes stand for one U+FFFD: the lead and what still fitted after it
  Cut,      // the text ends inside a sequence that was well formed so far
};
struct Utf8Sequence {
  Utf8Form form;
  uint32_t length;  // 1 to 4
  uint32_t codePoint;
};

// The sequence that begins the text (`left` >= 1 bytes). A byte that does not fit the
// sequence begun before it is not taken into it: it begins the next one.
inline Utf8Sequence ReadUtf8Sequence(const unsigned char* s, size_t left) {
  const uint32_t b = s[0];
  if (b < 0x80) return {Utf8Form::Valid, 1, b};
  uint32_t trail, low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    trail = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    trail = 2, low = b == 0xE0 ? 0xA0 : low, high = b == 0xED ? 0x9F : high;
  } else if (b >= 0xF0 && b <= 0xF4) {
    trail = 3, low = b == 0xF0 ? 0x90 : low, high = b == 0xF4 ? 0x8F : high;
  } else {
    return {Utf8Form::Invalid, 1, 0};
  }
  uint32_t codePoint = b & (0x3Fu >> trail);
  for (uint32_t k = 1; k <= trail; ++k, low = 0x80, high = 0xBF) {
    if (k == left) return {Utf8Form::Cut, k, 0};
    const uint32_t c = s[k];
    if (c < low || c > high) return {Utf8Form::Invalid, k, 0};
    codePoint = codePoint << 6 | (c & 0x3F);
  }
  return {Utf8Form::Valid, trail + 1, codePoint};
}

// Decodes UTF-8 into at most `capacity` units (not terminated); each malformed sequence
// becomes one U+FFFD. Stops before a sequence that the end cuts off unless `final`, and
// before a character that no longer fits. *used receives the bytes taken.
size_t DecodeUtf8(const char* text, size_t length, char16_t* out, size_t capacity, bool final, size_t* used);

// ---- UTF-7 -------------------------------------------------------------------------
// Read as Windows reads it: a '+' opens a run of base64 digits that stands for UTF-16
// units, "+-" stands for '+'; any other byte ends the run and stands for itself ('-' is
// taken with the run), a byte from 80 for the character of its value. Bits of a unit
// left unfinished when a run ends are dropped (but for a byte from 80, after which the
// next run goes on with them), and so is a '+' that ends the text.
// `*state` carries a run from one piece to the next (0: outside a run, as at the start).
// Stops before a '+' that the end cuts off unless `final`, and before a unit that no
// longer fits. *used receives the bytes taken.
size_t DecodeUtf7(uint32_t* state, const char* text, size_t length, char16_t* out, size_t capacity, bool final,
                  size_t* used);

// UTF-8 to UTF-16, as DecodeUtf8 reads it. Returns the units written, at most
// capacity - 1, and terminates the output.
size_t Utf16FromUtf8(const char* text, size_t length, char16_t* out, size_t capacity);

// The bytes at the end of UTF-8 text that begin a well-formed sequence and lack its last
// bytes: a character cut off by the end of a piece, for the caller to join to the next.
inline size_t Utf8CutLength(const char* text, size_t length) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  for (size_t k = 1; k <= 3 && k <= length; ++k) {
    const uint32_t b = s[length - k];
    if (b < 0x80 || b > 0xBF) return ReadUtf8Sequence(s + length - k, k).form == Utf8Form::Cut ? k : 0;
  }
  return 0;
}

}  // namespace horalin
