// The word tricks of common/words.h, each read against the units or bytes one by one.
#include "common/words.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace horalin {
namespace {

// Each word trick read against the units or bytes one by one, on words made of the values
// where a borrow or a carry between lanes would show: a zero below a one (whose lane the
// borrow reaches), units at the edges of 7 bits, CR in the low and the high byte.
TEST(WordsTest, EachTrickReadsAsTheUnitsOneByOne) {
  const char16_t values[] = {0x0000, 0x0001, 0x0100, 0x000D, 0x010D, 0x0D00, 0x007F, 0x0080, 0xFF80, 0x8000};
  for (char16_t a : values)
    for (char16_t b : values)
      for (char16_t c : values)
        for (char16_t d : values) {
          const char16_t units[4] = {a, b, c, d};
          const uint64_t v = words::Load(units);
          size_t firstZero = 4;
          bool cr = false, nonAscii = false, inRun = true;
          for (size_t k = 4; k-- > 0;) {
            if (units[k] == 0) firstZero = k;
            cr |= units[k] == u'\r';
            nonAscii |= units[k] >= 0x80;
            inRun &= units[k] >= 1 && units[k] < 0x80 && units[k] != u'\r';
          }
          ASSERT_EQ(words::FirstZeroUnit(v), firstZero) << std::hex << v;
          ASSERT_EQ(words::HasZeroUnit(v), firstZero < 4) << std::hex << v;
          ASSERT_EQ(words::HasUnit(v, u'\r'), cr) << std::hex << v;
          ASSERT_EQ(words::HasNonAsciiUnit(v), nonAscii) << std::hex << v;
          ASSERT_EQ(words::AreUnitsInAsciiRun(v, u'\r'), inRun) << std::hex << v;
        }
  const char16_t text[8] = {u'a', u'\r', u'\x7f', u'0', u'\x01', u'Z', u' ', u'~'};
  char packed[8];
  const uint64_t bytes = words::PackAsciiUnits(words::Load(text), words::Load(text + 4));
  std::memcpy(packed, &bytes, sizeof packed);
  EXPECT_EQ(std::string(packed, 8), std::string("a\r\x7f"
                                                "0\x01Z ~"));
  uint32_t four;
  std::memcpy(&four, packed + 4, sizeof four);
  const uint64_t spread = words::SpreadBytesToUnits(four);
  EXPECT_EQ(std::memcmp(&spread, text + 4, sizeof spread), 0);
}

TEST(WordsTest, AsciiWordsLengthStopsAtTheWordOfTheFirstHighByte) {
  struct Case {
    size_t count;
    size_t high;  // where a byte from 0x80 is, or count for none
    size_t expected;
  } cases[] = {{0, 0, 0},    {7, 7, 0},    {8, 8, 8},    {8, 7, 0},  {40, 40, 40}, {40, 31, 24},
               {40, 32, 32}, {70, 65, 64}, {70, 70, 64}, {64, 8, 8}, {64, 0, 0},   {33, 33, 32}};
  for (const Case& c : cases) {
    std::string bytes(c.count, 'x');
    if (c.high < c.count) bytes[c.high] = '\x80';
    EXPECT_EQ(words::AsciiWordsLength(reinterpret_cast<const unsigned char*>(bytes.data()), c.count), c.expected)
        << c.count << " " << c.high;
  }
}

}  // namespace
}  // namespace horalin
