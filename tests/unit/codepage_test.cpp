// The POSIX code page backend: conversions without dropped bytes, pieces decoded with
// their state, and the locale's ANSI and OEM code pages.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "common/types.h"
#include "platform/platform.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::ScopedEnv;
using testing::U16;

// The code page backend's conversion of a whole text.
std::u16string Convert(uint32_t codePage, const std::string& bytes, uint32_t* error = nullptr) {
  char16_t out[64];
  uint32_t e = 0;
  size_t n = platform::WideFromMultiByte(codePage, bytes.data(), bytes.size(), out, 64, &e);
  if (error) *error = e;
  return std::u16string(out, n);
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
