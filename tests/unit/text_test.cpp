// The shared text helpers: the number parsers, bounded formatting and copies, the word
// tricks, the line framer, and the stand-in hosts' variable expansion.
#include "common/text.h"

#include <gtest/gtest.h>

#include <algorithm>
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

bool LookUp(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  std::u16string key(name, length);
  const char16_t* found = key == u"name"      ? u"World"
                          : key == u"pct"     ? u"100%x%%"
                          : key == u"empty"   ? u""
                          : key == u"long"    ? u"0123456789012345678901234567890123456789"
                          : key == u"cmdspec" ? u"C:\\Tools\\shell\\tcc.exe"
                                              : nullptr;
  if (!found) return false;
  CopyText(value, capacity, found);
  return true;
}

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

// The output's scans of `units` (terminated after `length`, 16-byte aligned): their bytes
// are `bytes`, to the first unit out of the run.
void CheckOutputScans(const char16_t* units, const char* bytes, size_t length, const std::string& where) {
  size_t run = 0, terminatedRun = 0;
  while (run < length && scans::InOutputRun(units[run])) ++run;
  while (units[terminatedRun] && scans::InOutputRun(units[terminatedRun])) ++terminatedRun;
  char plainRun[64] = {}, fastRun[64] = {};
  ASSERT_EQ(scans::fast::CopyOutputRun(units, length, fastRun), run) << where;
  ASSERT_EQ(scans::plain::CopyOutputRun(units, length, plainRun), run) << where;
  ASSERT_EQ(std::string(fastRun, run), std::string(bytes, run)) << where;
  ASSERT_EQ(std::string(plainRun, run), std::string(bytes, run)) << where;
  for (const bool fast : {false, true}) {  // block by block to the first unit out of the run
    const char16_t* p = units;
    size_t used = 0;
    char out[96] = {};
    while (fast ? scans::fast::CopyOutputBlock(&p, out, &used) : scans::plain::CopyOutputBlock(&p, out, &used)) {
    }
    ASSERT_EQ(p - units, terminatedRun) << where << (fast ? " fast" : " plain");
    ASSERT_EQ(std::string(out, used), std::string(bytes, terminatedRun)) << where;
  }
}

// The search for either of two units; the text scan against `length` units "a" and
// against the first `at`, from both alignments of the text; and eight digits of a value
// that each text changes.
void CheckUnitScans(const char16_t* units, size_t length, size_t at, const std::string& where) {
  const size_t separator = std::min(std::u16string(units, length).find_first_of(u",;"), length);
  ASSERT_EQ(scans::fast::FindEitherUnit(units, length, u',', u';'), separator) << where;
  ASSERT_EQ(scans::plain::FindEitherUnit(units, length, u',', u';'), separator) << where;
  const std::u16string known(length, u'a');
  const bool all = std::u16string(units, length) == known, prefix = units[at] == 0;
  alignas(16) char16_t shifted[72] = {};
  std::memcpy(shifted + 1, units, 64 * sizeof(char16_t));
  for (const char16_t* text : {units, static_cast<const char16_t*>(shifted + 1)}) {
    ASSERT_EQ(scans::fast::IsKnownText(text, known.data(), length), all) << where;
    ASSERT_EQ(scans::plain::IsKnownText(text, known.data(), length), all) << where;
    ASSERT_EQ(scans::fast::IsKnownText(text, known.data(), at), prefix) << where;
    ASSERT_EQ(scans::plain::IsKnownText(text, known.data(), at), prefix) << where;
  }
  const uint32_t value = static_cast<uint32_t>(at * 100003 + length * 99999989 + units[at] * 7919u) % 100000000;
  char16_t plainDigits[8], fastDigits[8];
  scans::plain::PutEightDigits(plainDigits, value);
  scans::fast::PutEightDigits(fastDigits, value);
  char expected[9];
  std::snprintf(expected, sizeof expected, "%08u", static_cast<unsigned>(value));
  ASSERT_EQ(std::u16string(fastDigits, 8), std::u16string(expected, expected + 8)) << value;
  ASSERT_EQ(std::u16string(plainDigits, 8), std::u16string(expected, expected + 8)) << value;
}

// Each SSE2 scan against its plain twin and against the units read one by one: one
// special value placed at every position of texts of every length up to three blocks,
// where a scan changes from sixteen units to eight, four and one.
TEST(ScansTest, EachScanAnswersAsItsPlainTwinAndAsTheUnitsOneByOne) {
  const char16_t specials[] = {0, u'\r', u'\n', 0x0D, 0x0E, u',', u';', u'%', 0x7F, 0x80, 0xFF, 0x0D00, 0xD800};
  for (const char16_t special : specials)
    for (size_t length = 0; length <= 48; ++length)
      for (size_t at = 0; at <= length; ++at) {
        alignas(16) char16_t units[64] = {};  // zeros after the text: a terminator and room to read past it
        char bytes[64] = {};
        for (size_t k = 0; k < length; ++k) units[k] = k == at ? special : u'a';
        for (size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>(units[k]);
        const auto* ubytes = reinterpret_cast<const uint8_t*>(bytes);
        const std::string where =
            std::to_string(special) + " at " + std::to_string(at) + " of " + std::to_string(length);
        const auto first = [&](auto stops) {  // the first unit that stops a scan, or length
          size_t k = 0;
          while (k < length && !stops(units[k], static_cast<unsigned char>(bytes[k]))) ++k;
          return k;
        };
        const size_t nonAscii = first([](char16_t, unsigned char b) { return b >= 0x80; });
        const auto n = static_cast<uint32_t>(length);
        char16_t plainOut[64] = {}, fastOut[64] = {};
        ASSERT_EQ(scans::plain::WidenAscii(bytes, length, plainOut), nonAscii) << where;
        ASSERT_EQ(scans::fast::WidenAscii(bytes, length, fastOut), nonAscii) << where;
        ASSERT_EQ(std::u16string(fastOut, nonAscii), std::u16string(plainOut, nonAscii)) << where;
        ASSERT_EQ(std::u16string(fastOut, nonAscii), std::u16string(ubytes, ubytes + nonAscii)) << where;
        if (nonAscii == length)  // a line known to be 7-bit, in a buffer that ends after its terminator or later
          for (const auto capacity : {n + 1, n + 2, 64u}) {
            std::fill_n(plainOut, 64, u'?'), std::fill_n(fastOut, 64, u'?');
            scans::plain::WidenAsciiLine(ubytes, n, plainOut, capacity);
            scans::fast::WidenAsciiLine(ubytes, n, fastOut, capacity);
            ASSERT_EQ(std::u16string(fastOut, capacity), std::u16string(plainOut, capacity)) << where;
            ASSERT_EQ(std::u16string(fastOut, n + 1), std::u16string(ubytes, ubytes + n) + u'\0') << where;
          }

        const size_t below = first([](char16_t, unsigned char b) { return b < 14 || b >= 0x80; });
        const uint32_t skipped = scans::fast::SkipBytesFrom(ubytes, 0, n, 14);
        ASSERT_EQ(skipped, scans::plain::SkipBytesFrom(ubytes, 0, n, 14)) << where;
        ASSERT_TRUE(skipped == below || (skipped < below && skipped + 8 > length)) << where;
        const size_t separator = first([](char16_t, unsigned char b) { return b == ',' || b == ';'; });
        ASSERT_EQ(scans::plain::FindEitherByte(bytes, length, ',', ';'), separator) << where;
        size_t plainFirst = 0, fastFirst = 0;
        ASSERT_EQ(scans::fast::WidenAsciiFinding(bytes, length, fastOut, ',', ';', &fastFirst), nonAscii) << where;
        ASSERT_EQ(scans::plain::WidenAsciiFinding(bytes, length, plainOut, ',', ';', &plainFirst), nonAscii) << where;
        ASSERT_EQ(fastFirst, std::min(separator, nonAscii)) << where;
        ASSERT_EQ(plainFirst, std::min(separator, nonAscii)) << where;
        const size_t lineStop = first([](char16_t u, unsigned char) { return u == 0 || u == u'\r' || u == u'\n'; });
        ASSERT_EQ(scans::fast::FindLineStop(units, 0, n), lineStop) << where;
        ASSERT_EQ(scans::plain::FindLineStop(units, 0, n), lineStop) << where;
        const size_t percent = first([](char16_t u, unsigned char) { return u == 0 || u == u'%'; });
        ASSERT_EQ(scans::fast::FindZeroOrUnit(units, u'%') - units, percent) << where;
        ASSERT_EQ(scans::plain::FindZeroOrUnit(units, u'%') - units, percent) << where;
        const size_t zero = first([](char16_t u, unsigned char) { return u == 0; });
        scans::fast::CopyThroughZero(units, units + 64, fastOut);
        scans::plain::CopyThroughZero(units, units + 64, plainOut);
        ASSERT_EQ(std::u16string(fastOut, zero + 1), std::u16string(units, zero + 1)) << where;
        ASSERT_EQ(std::u16string(plainOut, zero + 1), std::u16string(units, zero + 1)) << where;

        CheckOutputScans(units, bytes, length, where);
        CheckUnitScans(units, length, at, where);
      }
}

// The lines that the framer makes of `text` in two spans cut at `cut`, as bytes or as
// units; ">" in front of a line that is the rest of a split one.
std::vector<std::u16string> Frame(const std::u16string& text, uint32_t limit, size_t cut, bool bytes) {
  const std::string narrow(text.begin(), text.end());
  LineFramer f = StartLineFramer(limit);
  std::vector<std::u16string> lines;
  std::u16string line;
  for (size_t from = 0, to = cut; from < text.size(); from = to, to = text.size()) {
    for (uint32_t at = 0; at < to - from;) {
      const uint32_t n = static_cast<uint32_t>(to - from - at);
      uint8_t seen = 0;
      const LinePiece p = bytes
                              ? NextLinePiece(&f, reinterpret_cast<const uint8_t*>(narrow.data() + from + at), n, &seen)
                              : NextLinePiece(&f, text.data() + from + at, n);
      EXPECT_EQ(p.at, line.size());
      line += text.substr(from + at + p.start, p.length);
      at += p.used;
      if (p.end != PieceEnd::kGoesOn) lines.push_back((p.restOfSplit ? u">" : u"") + line), line.clear();
    }
  }
  if (f.count > 0) lines.push_back((f.restOfSplit ? u">" : u"") + line);
  return lines;
}

// Lines of at most four units, in spans cut at every place, as bytes and as units.
TEST(LineFramerTest, LineEndsZerosAndSplitsWhereverTheSpansAreCut) {
  const struct {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"ab\r\ncd", {u"ab", u"cd"}},
      {u"ab\n\rcd\r", {u"ab", u"", u"cd"}},
      {std::u16string(u"a\0b\r\r\n", 6), {u"ab", u""}},
      {u"abcdef\nx", {u"abcd", u">ef", u"x"}},               // the rest of a split line
      {u"abcd\r\ne", {u"abcd", u"e"}},                       // a line end after a split is its own
      {std::u16string(u"abcd\0\0\ne", 8), {u"abcd", u"e"}},  // also after zeros
      {u"abcdefghij", {u"abcd", u">efgh", u">ij"}},
      {u"abc\U0001F600d\n", {u"abc", u">\U0001F600d"}},  // units: a pair is never parted
      {u"a\U0001F600\U0001F600\n", {u"a\U0001F600", u">\U0001F600"}},
  };
  for (const auto& c : cases) {
    const bool wide = c.text.find(u'\xD83D') != std::u16string::npos;  // no bytes for it
    for (size_t cut = 0; cut <= c.text.size(); ++cut) {
      EXPECT_EQ(Frame(c.text, 4, cut, false), c.lines) << U8(c.text) << ", cut at " << cut;
      if (!wide) {
        EXPECT_EQ(Frame(c.text, 4, cut, true), c.lines) << U8(c.text) << ", bytes cut at " << cut;
      }
    }
  }
}

TEST(ExpandVariablesTest, ReferencesFunctionsAndBounds) {
  struct Case {
    const char16_t* text;
    const char16_t* expected;
  } cases[] = {
      {u"Hello %name!", u"Hello World!"},
      {u"%[name]%[name]", u"WorldWorld"},
      {u"[%undefined][%[undefined]]", u"[][]"},
      {u"%[empty]x", u"x"},
      {u"100%% sure", u"100% sure"},
      {u"%pct", u"100%x%%"},  // a value is not expanded again
      {u"%@path[%cmdspec]help\\x.chm", u"C:\\Tools\\shell\\help\\x.chm"},
      {u"%@path[noslash]x", u"x"},
      {u"%@unknown[abc]y", u"y"},
      {u"a % b", u"a % b"},
      {u"%[unclosed", u"%[unclosed"},
      {u"%", u"%"},
  };
  for (const Case& c : cases) {
    char16_t buffer[hostkit::kExpansionCapacity];
    CopyText(buffer, hostkit::kExpansionCapacity, c.text);
    hostkit::ExpandVariableReferences(buffer, LookUp);
    EXPECT_EQ(std::u16string(buffer), c.expected) << U8(c.text);
  }
  // Expansion never grows past the smallest capacity a caller uses.
  std::u16string many;
  for (int i = 0; i < 60; ++i) many += u"%long";
  static char16_t big[kPathText];
  CopyText(big, kPathText, many.c_str());
  big[hostkit::kExpansionCapacity] = u'#';
  hostkit::ExpandVariableReferences(big, LookUp);
  EXPECT_EQ(TextLength(big), hostkit::kExpansionCapacity - 1);
  EXPECT_EQ(big[hostkit::kExpansionCapacity], u'#');
}

}  // namespace
}  // namespace horalin
