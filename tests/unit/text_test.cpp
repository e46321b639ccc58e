// The shared text helpers of common/text.h: the number parsers, bounded formatting and
// copies.
#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/line_framer.h"
#include "common/scans.h"
#include "common/types.h"
#include "common/words.h"
#include "hostkit/expand.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::U16;
using testing::U8;

struct UnsignedCase {
  const char* text;
  bool ok;
  uint32_t value;
};

TEST(ParseUnsignedNumberTest, WholeTextInThreeBases) {
  const UnsignedCase cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"010", true, 10},  // a leading zero alone does not select octal
      {"4294967295", true, 4294967295u},
      {"4294967296", false, 0},
      {"99999999999999999999", false, 0},
      {"0x4E4", true, 1252},
      {"0X4e4", true, 1252},
      {"0xFFFFFFFF", true, 4294967295u},
      {"0x100000000", false, 0},
      {"0o17", true, 15},
      {"0O17", true, 15},
      {"0o8", false, 0},  // no octal digit after the prefix: read as decimal, "o8" is left over
      {"0x", false, 0},   // no hexadecimal digit after the prefix
      {"0xG", false, 0},
      {"0x0x5", false, 0},  // the digits after the prefix are the whole rest
      {"12x", false, 0},
      {"", false, 0},
      {" 1", false, 0},
      {"+1", false, 0},
      {"-1", false, 0},
  };
  for (const UnsignedCase& c : cases) {
    uint32_t value = 777;
    int result = ParseUnsignedNumber(U16(c.text).c_str(), &value);
    EXPECT_EQ(result == 0, c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 777u) << c.text << ": a failure leaves the value alone";
  }
  EXPECT_NE(ParseUnsignedNumber(u"5", nullptr), 0);
  EXPECT_NE(ParseUnsignedNumber(nullptr, nullptr), 0);
}

struct SignedCase {
  const char* text;
  bool withEnd;
  bool ok;
  int32_t value;
  size_t endAt;  // with an end: where the number stopped
};

TEST(ParseSignedNumberTest, SignsRangesPrefixesAndTheEnd) {
  const SignedCase cases[] = {
      {"7", false, true, 7, 0},
      {"+7", false, true, 7, 0},
      {"-7", false, true, -7, 0},
      {"2147483647", false, true, 2147483647, 0},
      {"-2147483648", false, true, INT32_MIN, 0},
      {"2147483648", false, false, 0, 0},
      {"-2147483649", false, false, 0, 0},
      {"+99999999999", true, false, 0, 0},
      {"0xFFFFFFFF", false, true, -1, 0},  // eight F digits: the same bits
      {"0x7fffffff", false, true, 2147483647, 0},
      {"0o777", false, true, 511, 0},
      {"12abc", false, false, 0, 0},
      {"12abc", true, true, 12, 2},
      {"-3 12:00", true, true, -3, 2},
      {"+-3", true, false, 0, 0},
      {"--1", true, false, 0, 0},
      {"-", true, false, 0, 0},
      {"+", true, false, 0, 0},
      {"", true, false, 0, 0},
      {" 1", true, false, 0, 0},
      {"x", true, false, 0, 0},
  };
  for (const SignedCase& c : cases) {
    std::u16string text = U16(c.text);
    int32_t value = 777;
    const char16_t* end = u"untouched";
    const char16_t* before = end;
    int result = ParseSignedNumber(text.c_str(), &value, c.withEnd ? &end : nullptr);
    EXPECT_EQ(result == 0, c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 777) << c.text;
    if (c.withEnd) {
      EXPECT_EQ(end, c.ok ? text.c_str() + c.endAt : before) << c.text;
    }
  }
}

TEST(FormatTextTest, ConversionsAsTheHostUsesThem) {
  char16_t out[64];
  EXPECT_EQ(U8(std::u16string(out, FormatText(out, 64, u"%02u:%02u:%03u", 7u, 5u, 42u))), "07:05:042");
  FormatText(out, 64, u"[%2u|%-4s|%5s|%c]", 3u, u"ab", u"xyz", u'Q');
  EXPECT_EQ(U8(out), "[ 3|ab  |  xyz|Q]");
  FormatText(out, 64, u"%d %05d %I64d %I64u %02I64u", -12, -42, static_cast<int64_t>(-11644473600),
             static_cast<uint64_t>(18446744073709551615u), static_cast<uint64_t>(5));
  EXPECT_EQ(U8(out), "-12 -0042 -11644473600 18446744073709551615 05");
  FormatText(out, 64, u"%x %X 100%% %s %q", 255u, 255u, static_cast<const char16_t*>(nullptr));
  EXPECT_EQ(U8(out), "ff FF 100% (null) %q");
}

TEST(FormatTextTest, CutToTheCapacityAndTerminated) {
  char16_t out[8];
  for (char16_t& c : out) c = u'#';
  EXPECT_EQ(FormatText(out, 5, u"%s", u"abcdefgh"), 4u);
  EXPECT_EQ(std::u16string(out), u"abcd");
  EXPECT_EQ(out[5], u'#') << "nothing past the capacity";
  EXPECT_EQ(FormatText(out, 1, u"%u", 12345u), 0u);
  EXPECT_EQ(out[0], 0);
}

// The decimal writer against the C library's, across the turns of its pairs and of its
// eight-digit steps, with padding.
TEST(PutDecimalTest, AsPrintfWritesIt) {
  const uint64_t values[] = {
      0,           7,         9, 10, 99, 100, 999, 1000, 2026, 99999999, 100000000, 100000007, 1234567890123456789u,
      11644473600, UINT64_MAX};
  for (uint64_t v : values) {
    for (unsigned width : {0u, 2u, 4u}) {
      for (char16_t pad : {u'0', u' '}) {
        char16_t out[32];
        char expected[32];
        std::snprintf(expected, sizeof expected, pad == u'0' ? "%0*llu" : "%*llu", static_cast<int>(width),
                      static_cast<unsigned long long>(v));
        EXPECT_EQ(U8(std::u16string(out, PutDecimal(out, v, width, pad))), expected) << v << " " << width;
      }
    }
  }
}

TEST(CopyTextTest, BoundedCopiesAndAppends) {
  char16_t buffer[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
  EXPECT_EQ(CopyText(buffer, 4, u"abcdef"), 3u);
  EXPECT_EQ(std::u16string(buffer), u"abc");
  EXPECT_EQ(buffer[4], u'#');
  EXPECT_EQ(AppendText(buffer, 6, u"xyz"), 5u);
  EXPECT_EQ(std::u16string(buffer), u"abcxy");
  EXPECT_EQ(AppendText(buffer, 6, u"more"), 5u);
  EXPECT_EQ(std::u16string(buffer), u"abcxy");
}

}  // namespace
}  // namespace horalin
