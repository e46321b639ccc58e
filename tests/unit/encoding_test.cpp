// Encoding names, the code page test, the UTF-16 and UTF-8 tests and the decision per
// block; and the POSIX code page backend under them.
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
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::ScopedEnv;
using testing::U16;
using testing::U8;

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

// The code page backend's conversion of a whole text.
std::u16string Convert(uint32_t codePage, const std::string& bytes, uint32_t* error = nullptr) {
  char16_t out[64];
  uint32_t e = 0;
  size_t n = platform::WideFromMultiByte(codePage, bytes.data(), bytes.size(), out, 64, &e);
  if (error) *error = e;
  return std::u16string(out, n);
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
      EXPECT_EQ(Convert(65001, c.bytes).find(u'\uFFFD') == std::u16string::npos, encoding == EncodingUtf8) << c.bytes;
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

// ---- The POSIX code page backend ---------------------------------------------------

TEST(CodePageBackendTest, ConvertsWithoutDroppingBytes) {
  struct Case {
    uint32_t codePage;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {1252, "caf\xE9 \x80", u"caf\u00E9 \u20AC"},
      {1252,
       "a\x81"
       "b",
       u"a\u0081"
       "b"},                                        // undefined: kept, as Windows keeps it
      {20127, "\xE9\x8A\x8D\xBF", u"i\n\r\uFFFD"},  // Windows takes the low seven bits (but of BF)
      // GB18030: two and four bytes, beyond the BMP; a byte that begins no character
      {54936, "\xC4\xE3\x81\x30\x81\x30\x95\x32\x82\x36", u"\u4F60\u0080\U00020000"},
      {54936, "\x81 \xFF\x81\x30z", u"\uFFFD \uFFFD\uFFFD0z"},
      {949, "\x81 \xB0\xA1", u"\uFFFD \uAC00"},  // a lead byte without its pair takes no neighbour
      {437, "\xB0\x82", u"\u2591\u00E9"},
      {850, "\x82", u"\u00E9"},
      {866, "\x80", u"\u0410"},
      {20866, "\xE1", u"\u0410"},
      {28591, "\xE9\xFF", u"\u00E9\u00FF"},
      {1251, "\xC0", u"\u0410"},
      {932, "\x82\xA0x", u"\u3042x"},
      {932, "x\x82", u"x\uFFFD"},  // a lead byte cut off at the end
      {936, "\xC4\xE3", u"\u4F60"},
      {65001, "caf\xC3\xA9 \xF0\x9F\x98\x80", u"caf\u00E9 \U0001F600"},
      {65001,
       "a\xE9"
       "b",
       u"a\uFFFD"
       "b"},
      // One U+FFFD for each bad byte, or for a lead and what still fitted after it: a byte
      // that does not fit begins anew, so no line end or blank is taken along.
      {65001, "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {65001, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {65001, "\xE0\r\xF0\x9F\x98 z", u"\uFFFD\r\uFFFD z"},
      {65001, "\xC0\xA9\xF4\x90", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Convert(c.codePage, c.bytes), c.text) << c.codePage << " " << c.bytes;
  uint32_t error = 0;
  EXPECT_EQ(Convert(12345, "abc", &error), u"");
  EXPECT_EQ(error, kErrorInvalidParameter);
}

TEST(CodePageBackendTest, OutputStopsAtTheCapacity) {
  char16_t out[4] = {u'-', u'-', u'-', u'-'};
  uint32_t error = 0;
  EXPECT_EQ(platform::WideFromMultiByte(1252, "\xE9\xE9\xE9\xE9\xE9\xE9", 6, out, 3, &error), 3u);
  EXPECT_EQ(out[3], u'-');
}

// Text in pieces: a character that a piece cuts off is left for the next piece, a byte
// that the code page does not map takes no neighbour with it, a UTF-7 run goes on;
// whether lines can be told in the bytes.
TEST(CodePageBackendTest, DecodesPiecesWithTheirState) {
  struct Case {
    uint32_t codePage;
    std::vector<std::string> pieces;  // the last one final
    std::vector<size_t> used;
    std::u16string text;
    bool keepsAscii;
  } cases[] = {
      {932, {"a\x82", "\x82\xA0"}, {1, 2}, u"a\u3042", true},
      {20932, {"a\x8F\xA4", "\xA4\xA2"}, {2, 2}, u"a\u008F\u3042", true},
      {65001, {"a\xF0\x9F", "\xF0\x9F\x98\x80"}, {1, 4}, U16("a\xF0\x9F\x98\x80"), true},
      {1255, {"\xF9\xEC\xE5\xED", "\xFB!"}, {4, 2}, u"\u05E9\u05DC\u05D5\u05DD\uF894!", true},
      {1258, {"hello\x81world"}, {11}, u"hello\u0081world", true},
      {1258, {"hello", "\xCCx"}, {5, 2}, u"hello\u0300x", true},  // the mark is not composed
      {932, {"a\x81\r\x81"}, {4}, u"a\uFFFD\r\uFFFD", true},      // no line end in a pair
      {932, {"x\x82"}, {2}, u"x\uFFFD", true},                    // cut off at the end of the text
      {65000, {"+AG", "UAZQ-x"}, {3, 6}, u"\u0065\u0065x", false},
      {37, {"\x88\x25\x0D"}, {3}, u"h\n\r", false},
      {20127, {"a\x8A\xE9"}, {3}, u"a\ni", false},
      {54936, {"a\x81\x30", "\x81\x30\x81\x30\xC4", "\xC4\xE3"}, {1, 4, 2}, u"a\u0080\u4F60", true},
  };
  for (const Case& c : cases) {
    platform::ByteDecoder decoder;
    ASSERT_TRUE(platform::OpenByteDecoder(&decoder, c.codePage)) << c.codePage;
    EXPECT_EQ(decoder.keepsAscii, c.keepsAscii) << c.codePage;
    std::u16string text;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      char16_t out[64];
      size_t used = 99;
      const bool final = i + 1 == c.pieces.size();
      text.append(out, platform::DecodeBytes(&decoder, c.pieces[i].data(), c.pieces[i].size(), &used, out, 64, final));
      EXPECT_EQ(used, c.used[i]) << c.codePage << " piece " << i;
    }
    EXPECT_EQ(text, c.text) << c.codePage;
    platform::CloseByteDecoder(&decoder);
  }
  platform::ByteDecoder decoder;
  EXPECT_FALSE(platform::OpenByteDecoder(&decoder, 12345));
}

// The ANSI and OEM code pages of the locale's language, as Windows gives them; the ANSI
// one is the locale's own character set where that is a single-byte set. 8-bit text is
// read with the ANSI one by default.
TEST(CodePageBackendTest, LocaleGivesTheAnsiAndOemCodePages) {
  struct Case {
    const char* locale;
    uint32_t ansi, oem;
  } cases[] = {
      {"C.UTF-8", 1252, 437},      {"C", 1252, 437},
      {"en_US.UTF-8", 1252, 437},  {"en_GB.UTF-8", 1252, 850},
      {"de_DE.UTF-8", 1252, 850},  {"fr_FR.UTF-8", 1252, 850},
      {"pl_PL.UTF-8", 1250, 852},  {"ru_RU.UTF-8", 1251, 866},
      {"ru_UA.UTF-8", 1251, 866},  {"el_GR.UTF-8", 1253, 737},
      {"tr_TR.UTF-8", 1254, 857},  {"he_IL.UTF-8", 1255, 862},
      {"ar_SA.UTF-8", 1256, 720},  {"th_TH.UTF-8", 874, 874},
      {"vi_VN.UTF-8", 1258, 1258}, {"ja_JP.UTF-8", 932, 932},
      {"zh_CN.UTF-8", 936, 936},   {"zh_TW.UTF-8", 950, 950},
      {"ko_KR.UTF-8", 949, 949},   {"sr_RS.UTF-8@latin", 1250, 852},
      {"sr_RS.UTF-8", 1251, 855},  {"hi_IN.UTF-8", 65001, 65001},
      {"xx_YY.UTF-8", 1252, 437},  {"de_DE", 28591, 850},  // the locale's own single-byte set
      {"de_DE@euro", 28605, 850},  {"ru_RU.koi8r", 20866, 866},
      {"ru_RU.cp1251", 1251, 866}, {"ja_JP.eucjp", 932, 932},  // a multi-byte set: the language's
  };
  ScopedEnv ctype("LC_CTYPE", nullptr), lang("LANG", "ja_JP.UTF-8");
  for (const Case& c : cases) {
    ScopedEnv all("LC_ALL", c.locale);
    EXPECT_EQ(platform::AnsiCodePage(), c.ansi) << c.locale;
    EXPECT_EQ(platform::OemCodePage(), c.oem) << c.locale;
    EXPECT_EQ(platform::DefaultCodePage(), c.ansi) << c.locale;
  }
  ScopedEnv all("LC_ALL", nullptr);
  EXPECT_EQ(platform::OemCodePage(), 932u);  // LANG, after LC_ALL and LC_CTYPE
  ctype.Set("el_GR.UTF-8");
  EXPECT_EQ(platform::OemCodePage(), 737u);
}

// Every character of the BMP but the surrogates, and some beyond it, that the C library
// writes in GB18030, read back.
TEST(CodePageBackendTest, Gb18030RoundTrips) {
  iconv_t cd = iconv_open("GB18030", "UTF-16LE");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::u16string text;
  std::string bytes;
  for (char32_t c = 1; c < 0x110000; c += c < 0x10000 ? 1 : 997) {
    if (c >= 0xD800 && c < 0xE000) continue;
    char16_t units[2] = {static_cast<char16_t>(c), 0};
    if (c >= 0x10000) units[0] = static_cast<char16_t>(0xD7C0 + (c >> 10)), units[1] = 0xDC00 | (c & 0x3FF);
    char encoded[8];
    char* in = reinterpret_cast<char*>(units);
    char* out = encoded;
    size_t inLeft = c < 0x10000 ? 2 : 4, outLeft = sizeof encoded;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1)) continue;  // a few private-use ones
    text.append(units, c < 0x10000 ? 1 : 2);
    bytes.append(encoded, sizeof encoded - outLeft);
  }
  iconv_close(cd);
  EXPECT_GT(text.size(), 63000u);
  std::u16string back(text.size(), u'\0');
  uint32_t error = 0;
  back.resize(platform::WideFromMultiByte(54936, bytes.data(), bytes.size(), back.data(), back.size(), &error));
  EXPECT_TRUE(back == text) << "read " << back.size() << " of " << text.size() << " units";
}

}  // namespace
}  // namespace horalin
