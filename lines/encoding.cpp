#include "lines/encoding.h"

#include <cstring>

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

// Whether the block reads as text in UTF-16 of the byte order: no zero unit, no control
// character but tab to CR, no noncharacter FFFE or FFFF, every surrogate in a pair (a
// pair cut off by the block's end may be). `last` receives the last whole unit read.
bool ReadsAsUtf16Text(const uint8_t* block, uint32_t count, bool bigEndian, char16_t* last) {
  bool highSurrogate = false;
  *last = 0;
  for (uint32_t i = 0; i + 1 < count; i += 2) {
    const char16_t u = static_cast<char16_t>(bigEndian ? block[i] << 8 | block[i + 1] : block[i + 1] << 8 | block[i]);
    const bool low = u >= 0xDC00 && u <= 0xDFFF;
    if (highSurrogate != low) return false;
    highSurrogate = u >= 0xD800 && u <= 0xDBFF;
    if ((u < 0x20 && (u < 0x09 || u > 0x0D)) || (u >= 0x7F && u <= 0x9F) || u >= 0xFFFE) return false;
    *last = u;
  }
  return true;
}

// Text with zero bytes at both kinds of offset is UTF-16 in one byte order when it reads
// as text only in that order and either ends with a line end there (the zero bytes of
// characters such as U+4E00 or a surrogate half then need not be fewer) or has more zero
// bytes where that order puts the high bytes.
bool IsLikelyUtf16(const uint8_t* block, uint32_t count, bool bigEndian, uint32_t highZeros, uint32_t lowZeros) {
  char16_t last;
  if (!ReadsAsUtf16Text(block, count, bigEndian, &last)) return false;
  if (last == 13 || last == 10) return highZeros >= lowZeros;
  return highZeros > lowZeros;
}

}  // namespace

bool DetectUtf16(const uint8_t* block, uint32_t count, TextEncoding* encoding) {
  if (!block || count < 2) return false;
  uint32_t zeros[2] = {0, 0};  // at even, at odd offsets
  for (uint32_t i = 0; i < count; ++i)
    if (block[i] == 0) ++zeros[i & 1];
  if (zeros[0] == 0 && zeros[1] == 0) return false;
  bool little = zeros[0] == 0, big = zeros[1] == 0;
  if (!little && !big) {  // characters of either kind of zero byte, or no UTF-16 at all
    little = IsLikelyUtf16(block, count, false, zeros[1], zeros[0]);
    big = IsLikelyUtf16(block, count, true, zeros[0], zeros[1]);
  }
  if (little == big) return false;
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

uint32_t DecideBlockEncoding(const uint8_t* block, uint32_t count, bool firstBlock, TextEncoding* encoding,
                             uint32_t* codePage) {
  if (!firstBlock) {
    if (*encoding == EncodingUndecided) DetectUtf8(block, count, encoding, codePage);
    return 0;
  }
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

}  // namespace horalin
