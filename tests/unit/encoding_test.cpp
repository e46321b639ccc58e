// Encoding names, the code page test, the UTF-16 and UTF-8 tests and the decision per
// block (the POSIX code page backend under them: codepage_test.cpp).
#include "lines/encoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "common/types.h"
#include "common/utf.h"
#include "platform/platform.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::U16;

TEST(EncodingNameTest, Names) {
  constexpr uint32_t kKept = 4242;  // the code page that "/CP" chose before
  struct Case {
    const char* name;
    TextEncoding encoding;
    uint32_t codePage;
  } cases[] = {
      {"UTF-8", EncodingUtf8, kKept},
      {"utf8", EncodingUtf8, kKept},
      {"U-8", EncodingUtf8, kKept},
      {"u8", EncodingUtf8, kKept},
      {"UTF-16", EncodingUtf16LE, kKept},
      {"utf-16le", EncodingUtf16LE, kKept},
      {"U16", EncodingUtf16LE, kKept},
      {"U16BE", EncodingUtf16BE, kKept},
      {"utf16be", EncodingUtf16BE, kKept},
      {"ANSI", EncodingCodePage, kKept},
      {"ascii", EncodingCodePage, kKept},
      {"A", EncodingCodePage, kKept},
      {"CP1252", EncodingCodePage, 1252},
      {"cp0x4E4", EncodingCodePage, 1252},
      {"CP0o2344", EncodingCodePage, 1252},
      {"CP1252X", EncodingCodePage, kBadCodePage},
      {"CP99999999999", EncodingCodePage, kBadCodePage},
      {"UTF-16-LE", EncodingUndecided, kKept},
      {"UTF-8X", EncodingUndecided, kKept},
      {"UTF-16XE", EncodingUndecided, kKept},
      {"UTF-16LEX", EncodingUndecided, kKept},
      {"UNICODE", EncodingUndecided, kKept},
      {"UTF--8", EncodingUndecided, kKept},
      {"CPX", EncodingUndecided, kKept},
      {"CP", EncodingUndecided, kKept},
      {"U", EncodingUndecided, kKept},
      {"", EncodingUndecided, kKept},
      {"X", EncodingUndecided, kKept},
  };
  for (const Case& c : cases) {
    uint32_t codePage = kKept;
    EXPECT_EQ(ParseEncodingName(U16(c.name).c_str(), &codePage), c.encoding) << c.name;
    EXPECT_EQ(codePage, c.codePage) << c.name;
  }
}

TEST(CodePageTest, SupportedCodePages) {
  for (uint32_t cp : {437u, 850u, 866u, 932u, 936u, 949u, 950u, 1250u, 1252u, 1258u, 20866u, 28591u, 28605u, 65000u,
                      65001u, 720u, 10004u, 20949u,  // the last three from ASCII or EUC-KR and the corrections
                      54936u})
    EXPECT_TRUE(IsCodePageSupported(cp)) << cp;
  // Code pages that Windows reads otherwise and that no table here corrects are refused.
  for (uint32_t cp : {1u, 1200u, 12345u, 99999u, 0xFFFFFFFEu, 858u, 1047u, 20273u, 50220u, 50225u, 51932u})
    EXPECT_FALSE(IsCodePageSupported(cp)) << cp;
}

TEST(DetectTest, Utf16ByZeroBytes) {
  struct Case {
    std::string bytes;
    bool decided;
    TextEncoding encoding;
  } cases[] = {
      {std::string("A\0B\0", 4), true, EncodingUtf16LE},
      {std::string("\0A\0B", 4), true, EncodingUtf16BE},
      {std::string("A\0\0B", 4), false, EncodingUndecided},  // zeros at both offsets
      {"AB", false, EncodingUndecided},
      {std::string("\0", 1), false, EncodingUndecided},  // too short
      // Characters with a zero low byte (U+4E00, U+0100) or a surrogate half (DE00) beside
      // those with a zero high byte: the byte order in which the text reads as text.
      {std::string("\0N \0\0\1\r\0", 8), true, EncodingUtf16LE},
      {std::string("N\0\0 \1\0\0\r", 8), true, EncodingUtf16BE},
      {std::string("h\0\xE9\0 \0=\xD8\0\xDE\r\0", 12), true, EncodingUtf16LE},
      {std::string("\0h\0\xE9\0 \xD8=\xDE\0\0\r", 12), true, EncodingUtf16BE},
      {std::string("\0Na\0b\0c\0", 8), true, EncodingUtf16LE},  // more zero high bytes
      // A line end shows the byte order, even where the other holds more zero high bytes.
      {std::string("\0N\0N\n\0", 6), true, EncodingUtf16LE},
      {std::string("N\0N\0\0\n", 6), true, EncodingUtf16BE},
      // Without a line end: Latin text is UTF-16, 8-bit text with stray zero bytes is not
      // (its CR or LF byte after a zero byte, or no two units in a row with a zero high byte).
      {std::string("\nNh\0i\0", 6), true, EncodingUtf16LE},
      {std::string("\xE9\0", 2), true, EncodingUtf16LE},
      {std::string("a\0b\nc\n", 6), false, EncodingUndecided},
      {std::string(".\0./a\0./b\0", 10), false, EncodingUndecided},
      {std::string("ab\0c", 4), false, EncodingUndecided},
      {std::string("\nNwm \0", 6), true, EncodingUtf16LE},  // U+4E0A: its line end is yet to come
      // Bytes with zeros at both offsets that read as text in neither order, or end with no
      // line end and as many zeros of each kind, decide nothing.
      {std::string("a\0b\n\0", 5), false, EncodingUndecided},
      {std::string("ab\0cd\0e\n", 8), false, EncodingUndecided},
      {std::string("\0\0a\0\r\0", 6), false, EncodingUndecided},       // a zero unit
      {std::string("a\0\x01\0\0b\r\0", 8), false, EncodingUndecided},  // a control character
      {std::string("a\0\0\xDC\r\0", 6), false, EncodingUndecided},     // a lone surrogate half
  };
  for (const Case& c : cases) {
    TextEncoding encoding = EncodingUndecided;
    auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(DetectUtf16(bytes, static_cast<uint32_t>(c.bytes.size()), &encoding), c.decided);
    EXPECT_EQ(encoding, c.encoding);
  }
}

TEST(DetectTest, Utf8ByValidAndBrokenSequences) {
  const uint32_t oem = platform::DefaultCodePage();
  struct Case {
    const char* bytes;
    bool decided;
    TextEncoding encoding;
    uint32_t codePage;  // from 0
  } cases[] = {
      {"7-bit text", false, EncodingUndecided, 0},
      {"caf\xC3\xA9", true, EncodingUtf8, 65001},
      {"\xE2\x82\xAC and \xF0\x9F\x98\x80", true, EncodingUtf8, 65001},
      {"caf\xC3\xA9 \xE2\x82", true, EncodingUtf8, 65001},  // cut off at the end: counts neither way
      {"caf\xE9 ok", true, EncodingCodePage, oem},          // a lone E9 breaks a sequence
      {"\xA9\xA9 a line that begins with continuation bytes", true, EncodingCodePage, oem},
      {"\x80\x80\x80", true, EncodingCodePage, oem},
      // Forms that the decoder refuses (overlong, surrogates, past U+10FFFF) are no UTF-8,
      // so that text called UTF-8 loses no byte; the borders of each are.
      {"Caf\xC0\xA9 ok", true, EncodingCodePage, oem},
      {"\xC1\xBF", true, EncodingCodePage, oem},
      {"\xE0\x9F\xBF", true, EncodingCodePage, oem},
      {"\xE0\xA0\x80", true, EncodingUtf8, 65001},
      {"\xED\xA0\x80", true, EncodingCodePage, oem},
      {"\xED\x9F\xBF\xEE\x80\x80", true, EncodingUtf8, 65001},
      {"\xF0\x8F\xBF\xBF", true, EncodingCodePage, oem},
      {"\xF0\x90\x80\x80", true, EncodingUtf8, 65001},
      {"\xF4\x8F\xBF\xBF", true, EncodingUtf8, 65001},
      {"\xF4\x90\x80\x80", true, EncodingCodePage, oem},
      {"\xF5\x80\x80\x80", true, EncodingCodePage, oem},
      {"\xE0\xA0 cut", true, EncodingCodePage, oem},  // a sequence cut short within the text
      {"ok \xE0\xA0", false, EncodingUndecided, 0},   // ...and by its end
      {"a\xF8"
       "b",
       true, EncodingCodePage, oem},
      {"\xC3\xA9\xBF", true, EncodingCodePage, oem},  // a stray continuation byte
      {"\xC3", false, EncodingUndecided, 0},          // too short
  };
  for (const Case& c : cases) {
    TextEncoding encoding = EncodingUndecided;
    uint32_t codePage = 0;
    auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes);
    EXPECT_EQ(DetectUtf8(bytes, static_cast<uint32_t>(strlen(c.bytes)), &encoding, &codePage), c.decided) << c.bytes;
    EXPECT_EQ(encoding, c.encoding) << c.bytes;
    EXPECT_EQ(codePage, c.codePage) << c.bytes;
    // The decoder agrees: text called UTF-8 comes without a replacement, other text with
    // one (a sequence that the end cuts off belongs to the text that follows).
    if (c.decided && Utf8CutLength(c.bytes, strlen(c.bytes)) == 0) {
      char16_t text[64];
      uint32_t error = 0;
      const size_t n = platform::WideFromMultiByte(65001, c.bytes, strlen(c.bytes), text, 64, &error);
      EXPECT_EQ(std::u16string(text, n).find(u'\uFFFD') == std::u16string::npos, encoding == EncodingUtf8) << c.bytes;
    }
  }
  // A code page chosen before is kept for code-page text.
  TextEncoding encoding = EncodingUndecided;
  uint32_t codePage = 1250;
  EXPECT_TRUE(DetectUtf8(reinterpret_cast<const uint8_t*>("caf\xE9 ok"), 7, &encoding, &codePage));
  EXPECT_EQ(codePage, 1250u);
}

TEST(DecideTest, SignaturesTestsAndForcedEncodings) {
  struct Case {
    std::string bytes;
    TextEncoding forced;
    TextEncoding encoding;
    uint32_t skip;
  } cases[] = {
      {"\xEF\xBB\xBFx", EncodingUndecided, EncodingUtf8, 3},
      {"\xEF\xBB\xBFx", EncodingUtf16BE, EncodingUtf8, 3},  // the UTF-8 signature wins
      {"\xEF\xBB\xBFx", EncodingCodePage, EncodingUtf8, 3},
      {std::string("\xFF\xFE"
                   "a\0",
                   4),
       EncodingUndecided, EncodingUtf16LE, 2},
      {std::string("\xFE\xFF\0a", 4), EncodingUndecided, EncodingUtf16BE, 2},
      {std::string("\xFF\xFE"
                   "a\0",
                   4),
       EncodingUtf16LE, EncodingUtf16LE, 0},  // forced: kept as U+FEFF
      {std::string("a\0b\0", 4), EncodingUndecided, EncodingUtf16LE, 0},
      {"caf\xC3\xA9", EncodingUndecided, EncodingUtf8, 0},
      {"7-bit", EncodingUndecided, EncodingUndecided, 0},
  };
  for (const Case& c : cases) {
    TextEncoding encoding = c.forced;
    uint32_t codePage = 0;
    auto* bytes = reinterpret_cast<const uint8_t*>(c.bytes.data());
    EXPECT_EQ(DecideBlockEncoding(bytes, static_cast<uint32_t>(c.bytes.size()), &encoding, &codePage), c.skip);
    EXPECT_EQ(encoding, c.encoding) << c.bytes;
  }
}

}  // namespace
}  // namespace horalin
