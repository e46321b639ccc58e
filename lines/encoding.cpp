#include "lines/encoding.h"

#include <cstring>

#include "common/scans.h"
#include "common/text.h"
#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"
#include "platform/platform.h"

namespace horalin {

TextEncoding ParseEncodingName(const char16_t* name, uint32_t* codePage) {
  if (!name) return EncodingUndecided;
  char16_t first = ToUpper(name[0]);
  if (first == u'A') return EncodingCodePage;  // ANSI, ASCII...: the code page as chosen
  if (first == u'C' && ToUpper(name[1]) == u'P' && IsDigit(name[2])) {
    uint32_t number;
    *codePage = ParseUnsignedNumber(name + 2, &number) == 0 ? number : kBadCodePage;
    return EncodingCodePage;
  }
  if (first != u'U') return EncodingUndecided;
  const char16_t* p = name + 1;
  if (ToUpper(p[0]) == u'T' && ToUpper(p[1]) == u'F') p += 2;
  if (*p == u'-') ++p;
  if (p[0] == u'8' && p[1] == 0) return EncodingUtf8;
  if (p[0] != u'1' || p[1] != u'6') return EncodingUndecided;
  p += 2;
  if (p[0] == 0) return EncodingUtf16LE;
  if (p[2] == 0 && ToUpper(p[1]) == u'E') {
    if (ToUpper(p[0]) == u'L') return EncodingUtf16LE;
    if (ToUpper(p[0]) == u'B') return EncodingUtf16BE;
  }
  return EncodingUndecided;
}

bool IsCodePageSupported(uint32_t codePage) {
  // Bytes that every 8-bit code page gives a meaning, or refuses, in its own way.
  static constexpr char kTest[] = "\x80\x81\x82\x83\x84\x85\x86\x87\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7";
  char16_t out[kSmallText];
  uint32_t error = 0;
  size_t n = platform::WideFromMultiByte(codePage, kTest, sizeof kTest, out, kSmallText, &error);
  if (n != 0 && out[0] != 0) return true;
  return error != kErrorInvalidParameter;
}

namespace {

// The block read as UTF-16 of one byte order.
struct Utf16Reading {
  // No zero unit, no control character but tab to CR, no noncharacter FFFE or FFFF, every
  // surrogate in a pair (a pair cut off by the block's end may be).
  bool text;
  bool lineEnd;                // a CR or LF unit
  bool latinPair;              // two units in a row with a zero high byte (as Latin words give)
  uint32_t units, latinUnits;  // whole units; those with a zero high byte
};

Utf16Reading ReadAsUtf16(const uint8_t* block, uint32_t count, bool bigEndian) {
  Utf16Reading r{true, false, false, 0, 0};
  bool highSurrogate = false, lastLatin = false;
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    const char16_t u = UnitFromBytes(block[i], block[i + 1], bigEndian);
    const bool low = IsLowSurrogate(u), latin = u < 0x100;
    if (highSurrogate != low) r.text = false;
    highSurrogate = IsHighSurrogate(u);
    if ((u < 0x20 && (u < 0x09 || u > 0x0D)) || (u >= 0x7F && u <= 0x9F) || u >= 0xFFFE) r.text = false;
    r.lineEnd = r.lineEnd || u == 13 || u == 10;
    r.latinPair = r.latinPair || (latin && lastLatin);
    lastLatin = latin;
    ++r.units;
    r.latinUnits += latin;
  }
  return r;
}

// Whether a reading without a line end is still UTF-16: 8-bit text with a stray zero
// byte (file names ended by zero bytes, a zero byte in a line) reads as characters of
// scattered scripts with no line end. So it must read as text, hold no CR or LF byte
// after its first zero byte (8-bit text whose line ends the zero byte's line), and hold
// Latin text (two units in a row with a zero high byte, or only such units), unless a CR
// or LF byte comes before any zero byte: that is then part of a character such as U+4E0A
// (a writer of UTF-16 whose line end has not come yet). The block holds a zero byte.
bool PlausibleWithoutLineEnd(const uint8_t* block, uint32_t count, const Utf16Reading& r) {
  if (!r.text) return false;
  const auto* zero = static_cast<const uint8_t*>(std::memchr(block, 0, count));
  const auto before = static_cast<size_t>(zero - block), after = static_cast<size_t>(block + count - zero);
  if (std::memchr(zero, 13, after) || std::memchr(zero, 10, after)) return false;
  return r.latinPair || r.latinUnits == r.units || std::memchr(block, 13, before) || std::memchr(block, 10, before);
}

}  // namespace

// Zero bytes at one kind of offset give the byte order; at both (as characters like U+4E00
// or U+0100 give), the one order in which the bytes read as text and hold a line end,
// or else hold more zero high bytes. A reading with a line end wins over one without, as
// the line end shows the order. A reading without one must be plausible text besides.
bool DetectUtf16(const uint8_t* block, uint32_t count, TextEncoding* encoding) {
  if (!block || count < 2) return false;
  uint32_t zeros[2] = {0, 0};  // at even, at odd offsets
  for (uint32_t i = 0; i < count; ++i)
    if (block[i] == 0) ++zeros[i & 1];
  if (zeros[0] == 0 && zeros[1] == 0) return false;
  const Utf16Reading le = ReadAsUtf16(block, count, false), be = ReadAsUtf16(block, count, true);
  bool little = zeros[0] == 0, big = zeros[1] == 0;
  if (!little && !big) {  // characters of either kind of zero byte, or no UTF-16 at all
    little = le.text && (le.lineEnd || zeros[1] > zeros[0]);
    big = be.text && (be.lineEnd || zeros[0] > zeros[1]);
    if (little && big) little = le.lineEnd, big = be.lineEnd;
  }
  if (little == big) return false;
  const Utf16Reading& chosen = little ? le : be;
  if (!chosen.lineEnd && !PlausibleWithoutLineEnd(block, count, chosen)) return false;
  *encoding = little ? EncodingUtf16LE : EncodingUtf16BE;
  return true;
}

bool DetectUtf8(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage) {
  if (!block || count < 2) return false;
  // Only what the decoder reads without a replacement counts as valid: a line called UTF-8
  // loses none of its bytes. A sequence cut off by the end counts neither way.
  uint32_t valid = 0, invalid = 0;
  for (uint32_t i = 0; i < count;) {
    i += static_cast<uint32_t>(words::AsciiWordsLength(block + i, count - i));  // runs of 7-bit text
    if (i == count) break;
    if (block[i] < 0x80) {
      ++i;
      continue;
    }
    const Utf8Sequence sequence = ReadUtf8Sequence(block + i, count - i);
    if (sequence.form == Utf8Form::Valid) ++valid;
    if (sequence.form == Utf8Form::Invalid) ++invalid;
    i += sequence.length;
  }
  if (invalid > 0) {
    *encoding = EncodingCodePage;
    if (*codePage == 0) *codePage = platform::DefaultCodePage();
    return true;
  }
  if (valid > 0) {
    *encoding = EncodingUtf8;
    *codePage = kCodePageUtf8;
    return true;
  }
  return false;
}

uint32_t DecideBlockEncoding(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage) {
  if (count >= 3 && block[0] == 0xEF && block[1] == 0xBB && block[2] == 0xBF) {
    *encoding = EncodingUtf8;  // the signature wins even over a forced encoding
    *codePage = kCodePageUtf8;
    return 3;
  }
  if (*encoding != EncodingUndecided) return 0;
  if (count >= 2 && block[0] == 0xFF && block[1] == 0xFE) {
    *encoding = EncodingUtf16LE;
    return 2;
  }
  if (count >= 2 && block[0] == 0xFE && block[1] == 0xFF) {
    *encoding = EncodingUtf16BE;
    return 2;
  }
  if (!DetectUtf16(block, count, encoding)) DetectUtf8(block, count, encoding, codePage);
  return 0;
}

bool DecodeWellFormedUtf8(const uint8_t* bytes, uint32_t count, bool cutMayEnd, char16_t* out, size_t* units,
                          size_t* used) {
  size_t i = 0, n = 0;
  bool longer = false;  // a sequence of more than one byte came
  while (i < count) {
    const size_t run = scans::fast::WidenAscii(reinterpret_cast<const char*>(bytes + i), count - i, out + n);
    i += run;
    n += run;
    if (i == count) break;
    const Utf8Sequence q = ReadUtf8Sequence(bytes + i, count - i);
    if (q.form == Utf8Form::Cut && cutMayEnd) break;
    if (q.form != Utf8Form::Valid) {
      *units = longer ? 0 : n;
      return false;
    }
    longer = longer || q.length > 1;
    if (q.codePoint >= 0x10000) {
      out[n++] = HighSurrogateOf(q.codePoint);
      out[n++] = LowSurrogateOf(q.codePoint);
    } else {
      out[n++] = static_cast<char16_t>(q.codePoint);
    }
    i += q.length;
  }
  *units = n;
  *used = i;
  return true;
}

bool IsWellFormedUtf8(const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    i = scans::fast::SkipBytesFrom(bytes, i, count, 0);  // to the first byte from 80, or the last few
    if (i == count) break;
    const Utf8Sequence q = ReadUtf8Sequence(bytes + i, count - i);
    if (q.form != Utf8Form::Valid) return false;
    i += q.length;
  }
  return true;
}

}  // namespace horalin
