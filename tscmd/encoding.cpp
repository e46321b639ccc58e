#include "tscmd/encoding.h"

#include <cstring>

#include "common/text.h"
#include "common/types.h"
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

bool DetectUtf16(const uint8_t* block, uint32_t count, TextEncoding* encoding) {
  if (!block || count < 2) return false;
  uint32_t zeros[2] = {0, 0};  // at even, at odd offsets
  for (uint32_t i = 0; i < count; ++i)
    if (block[i] == 0) ++zeros[i & 1];
  if (zeros[1] > 0 && zeros[0] == 0) {
    *encoding = EncodingUtf16LE;
    return true;
  }
  if (zeros[0] > 0 && zeros[1] == 0) {
    *encoding = EncodingUtf16BE;
    return true;
  }
  return false;
}

namespace {

bool IsContinuation(uint8_t b) { return b >= 0x80 && b <= 0xBF; }

}  // namespace

bool DetectUtf8(const uint8_t* block, uint32_t count, TextEncoding* encoding, uint32_t* codePage) {
  if (!block || count < 2) return false;
  uint32_t i = 0;
  while (i < count && IsContinuation(block[i])) ++i;  // the tail of a sequence begun before
  if (i == count) return false;
  uint32_t valid = 0, invalid = 0;
  while (i < count) {
    for (uint64_t words[4]; i + 32 <= count; i += 32) {  // long runs of 7-bit text, 32 bytes at a time
      std::memcpy(words, block + i, sizeof words);
      if ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) break;
    }
    for (uint64_t word; i + 8 <= count; i += 8) {  // then eight bytes at a time
      std::memcpy(&word, block + i, 8);
      if (word & 0x8080808080808080ull) break;
    }
    if (i == count) break;
    uint8_t b = block[i];
    uint32_t trail = b < 0x80                 ? 0
                     : b >= 0xC0 && b <= 0xDF ? 1
                     : b >= 0xE0 && b <= 0xEF ? 2
                     : b >= 0xF0 && b <= 0xF7 ? 3
                                              : 99;
    if (trail == 0) {
      ++i;
      continue;
    }
    if (trail == 99) {  // a stray continuation byte, or F8 to FF
      ++invalid, ++i;
      continue;
    }
    uint32_t k = 1;
    while (k <= trail && i + k < count && IsContinuation(block[i + k])) ++k;
    if (k > trail)
      ++valid;
    else if (i + k < count)  // broken inside the block; cut off by its end counts neither way
      ++invalid;
    i += k;
  }
  if (invalid > 0) {
    *encoding = EncodingCodePage;
    if (*codePage == 0) *codePage = platform::OemCodePage();
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
