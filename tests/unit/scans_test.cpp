// The SSE2 scans of common/scans.h, each against its plain twin and the units one by one.
#include "common/scans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace horalin {
namespace {

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

}  // namespace
}  // namespace horalin
