// Backslash escapes, Roman numerals and ordinal suffixes.
#include "datetime/escapes.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tests/support/test_host.h"

namespace horalin {
namespace {

struct EscapeCase {
  std::u16string text;  // what follows the backslash
  uint32_t codePoint;   // 0: nothing written
  size_t consumed;      // units after the backslash that the escape takes
};

void ExpectEscapes(std::initializer_list<EscapeCase> cases) {
  for (const EscapeCase& c : cases) {
    Escape e = ReadEscape(c.text.c_str());
    EXPECT_EQ(e.codePoint, c.codePoint) << testing::U8(c.text);
    EXPECT_EQ(static_cast<size_t>(e.next - c.text.c_str()), c.consumed) << testing::U8(c.text);
  }
}

TEST(EscapeTest, NamedEscapesAndCharactersThatStandForThemselves) {
  ExpectEscapes({
      // the end of the format
      {u"", 0, 0},
      // named escapes, case-sensitive
      {u"a", 0x07, 1},
      {u"b", 0x08, 1},
      {u"c", u',', 1},
      {u"e", 0x1B, 1},
      {u"f", 0x0C, 1},
      {u"k", u'`', 1},
      {u"n", 0x0A, 1},
      {u"p", u'%', 1},
      {u"q", u'"', 1},
      {u"r", 0x0D, 1},
      {u"s", u' ', 1},
      {u"t", 0x09, 1},
      {u"v", 0x0B, 1},
      {u"-1", 0, 1},
      {u"N", u'N', 1},
      // any other character stands for itself
      {u"\\", u'\\', 1},
      {u"%", u'%', 1},
      {u",", u',', 1},
      {u"z", u'z', 1},
      {u"8", u'8', 1},
      {u"\u0085", 0x2026, 1},
      {u"\U0001F600x", 0x1F600, 2},
      // no digit after the escape character: the character alone
      {u"xyz", u'x', 1},
      {u"xG", u'x', 1},
      {u"uZZ", u'u', 1},
      {u"U", u'U', 1},
      {u"#a", u'#', 1},
  });
}

TEST(EscapeTest, DecimalAndOctalEscapes) {
  ExpectEscapes({
      // decimal
      {u"#65", u'A', 3},
      {u"#65535", 0xFFFF, 6},
      {u"#123456", 0x3039, 6},
      {u"#128", 0x20AC, 4},
      {u"#65536", u'\\', 1},
      {u"#70000", u'\\', 1},
      {u"#0", u'\\', 1},
      {u"#00065x", u'A', 6},
      // octal, the escape character being the first digit
      {u"101", u'A', 3},
      {u"777", 0x1FF, 3},
      {u"778", u'?', 2},
      {u"200", 0x20AC, 3},
      {u"0", u'\\', 1},
      {u"000", u'\\', 1},
      {u"7", 0x07, 1},
      {u"08", u'\\', 1},
  });
}

TEST(EscapeTest, HexadecimalEscapes) {
  ExpectEscapes({
      {u"x41", u'A', 3},
      {u"x00410", u'A', 5},
      {u"xD800", 0xD800, 5},
      {u"x81", u' ', 3},
      {u"x0", u'\\', 1},
      {u"xffff", 0xFFFF, 5},
      {u"u0041", u'A', 5},
      {u"u0080", 0x20AC, 5},
      {u"uD800", u'\\', 1},
      {u"uDFFF", u'\\', 1},
      {u"u0000", u'\\', 1},
      {u"U0001F600", 0x1F600, 9},
      {u"U10FFFF", 0x10FFFF, 7},
      {u"U00110000", u'\\', 1},
      {u"U0000D800", u'\\', 1},
      {u"U41", u'A', 3},
      {u"U000000410", u'A', 9},
  });
}

TEST(EscapeTest, C1ValuesFollowTheWindows1252Table) {
  const std::pair<uint32_t, uint32_t> cases[] = {{0x80, 0x20AC}, {0x81, 0x20}, {0x8A, 0x160},  {0x8D, 0x20},
                                                 {0x8F, 0x20},   {0x90, 0x20}, {0x91, 0x2018}, {0x9D, 0x20},
                                                 {0x9F, 0x178},  {0x7F, 0x7F}, {0xA0, 0xA0},   {0x20AC, 0x20AC}};
  for (auto [value, codePoint] : cases) EXPECT_EQ(MapC1Value(value), codePoint) << std::hex << value;
}

TEST(EscapeTest, RomanNumerals) {
  const std::pair<uint32_t, std::u16string> cases[] = {
      {1, u"I"},         {4, u"IV"},           {9, u"IX"},
      {14, u"XIV"},      {40, u"XL"},          {90, u"XC"},
      {400, u"CD"},      {900, u"CM"},         {1994, u"MCMXCIV"},
      {2026, u"MMXXVI"}, {3999, u"MMMCMXCIX"}, {9999, u"MMMMMMMMMCMXCIX"},
      {24, u"XXIV"},     {366, u"CCCLXVI"},    {9888, u"MMMMMMMMMDCCCLXXXVIII"}};  // the longest numeral: 21 units
  for (const auto& [n, numeral] : cases) {
    char16_t text[kDirectiveText] = u"old";
    size_t length = 0;
    EXPECT_EQ(RomanNumeral(n, false, text, kDirectiveText, &length), 0);
    EXPECT_EQ(std::u16string(text), numeral) << n;
    EXPECT_EQ(length, numeral.size());
  }
  const std::pair<uint32_t, std::u16string> jCases[] = {
      {1, u"J"}, {3, u"IIJ"}, {4, u"IV"}, {2026, u"MMXXVJ"}, {10, u"X"}};
  for (const auto& [n, numeral] : jCases) {
    char16_t text[kDirectiveText] = u"old";
    RomanNumeral(n, true, text);
    EXPECT_EQ(std::u16string(text), numeral) << n;
  }
  for (uint32_t n : {0u, 10000u, 4294967295u}) {
    char16_t text[kDirectiveText] = u"2026";
    EXPECT_EQ(RomanNumeral(n, false, text), -2);
    EXPECT_EQ(std::u16string(text), u"2026");
  }
  char16_t small[4];
  RomanNumeral(8, false, small, 4);
  EXPECT_EQ(std::u16string(small), u"VII") << "cut to the capacity, terminated";
}

TEST(EscapeTest, OrdinalSuffixes) {
  const std::pair<uint32_t, std::u16string> cases[] = {
      {0, u"th"},   {1, u"st"},   {2, u"nd"},   {3, u"rd"},   {4, u"th"},    {11, u"th"},
      {12, u"th"},  {13, u"th"},  {21, u"st"},  {22, u"nd"},  {23, u"rd"},   {100, u"th"},
      {101, u"st"}, {111, u"th"}, {112, u"th"}, {113, u"th"}, {1001, u"st"}, {4294967295u, u"th"}};
  for (const auto& [n, suffix] : cases) {
    char16_t text[kDirectiveText] = u"XX";
    size_t length = AppendOrdinalSuffix(n, text, 2);
    EXPECT_EQ(std::u16string(text), u"XX" + suffix) << n;
    EXPECT_EQ(length, 4u);
  }
  char16_t full[4] = u"abc";
  EXPECT_EQ(AppendOrdinalSuffix(1, full, 3, 4), 3u) << "no room: the text stays as it was";
  EXPECT_EQ(std::u16string(full), u"abc");
}

}  // namespace
}  // namespace horalin
