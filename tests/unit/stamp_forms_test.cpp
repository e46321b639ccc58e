// The stamp forms that restamp and datefmt --lines read at the start of a log's lines:
// each form with its near misses and bad values, stamps without an offset in their zone,
// each row's example and its help line, and patterns that cannot read a stamp.
#include "datetime/stamp_forms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "datetime/calendar.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "plugin/errors.h"
#include "tests/support/test_host.h"
#include "tests/support/test_services.h"

namespace horalin {
namespace {

using testing::kServicesIn;
using testing::ResetHost;
using testing::U8;

// ---- Stamps at the start of a log's lines -------------------------------------------

// The instant of a line's stamp as "YYYY-MM-DD HH:MM:SS.fffffffff" UTC (the digits of
// the fraction as read), stamps without an offset read in `zone` (UTC unless given), a
// repeated local time as in a log whose stamp before it was `notBefore`; "-" for no
// stamp, "bad" for a stamp's shape with a bad value. A zone word that names no zone is
// not part of the stamp.
std::string StampOf(const char16_t* pattern, const std::u16string& text, size_t* used,
                    StampZone zone = {StampZoneKind::Utc, 0}, const Services& services = kServicesIn<testing::kUtc>,
                    uint64_t notBefore = 0) {
  StampFields f;
  StampMatch m = RecognizeStamp(pattern, text.data(), text.size(), &f, used);
  if (m == StampMatch::None) return "-";
  if (m == StampMatch::Bad) return "bad";
  if (!f.isUnix && f.time.wYear == 0) f.time.wYear = 2026;
  uint64_t t = 0;
  bool wordRead = false;
  if (!StampInstant(f, zone, &t, services, notBefore, &wordRead)) return "bad";
  if (f.zoneWord[0] && !wordRead) *used = f.usedBeforeWord;
  SYSTEMTIME s = SystemTimeFromFileTime(t);
  char out[64];
  std::snprintf(out, sizeof out, "%04u-%02u-%02u %02u:%02u:%02u.%09u", s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute,
                s.wSecond, static_cast<unsigned>(f.isUnix ? t % 10000000 * 100 : f.nanoseconds));
  return out;
}

// Each form, its near misses and its bad values: the instant read (or "-" for no stamp,
// "bad" for a bad value) and the units the stamp takes.
struct StampFormCase {
  const char16_t* pattern;  // null: every known form
  std::u16string text;
  std::string instant;
  size_t used;
};
const StampFormCase kStampFormCases[] = {
    {nullptr, u"2026-12-07T17:39:42Z x", "2026-12-07 17:39:42.000000000", 20},
    {nullptr, u"2026-12-07 17:39:42.125 TS", "2026-12-07 17:39:42.125000000", 23},
    {nullptr, u"2026-12-07t17:39:42,5+01:00", "2026-12-07 16:39:42.500000000", 27},
    {nullptr, u"2026-12-07T17:39:42.123456789-0530", "2026-12-07 23:09:42.123456789", 34},
    {nullptr, u"2026-12-07T17:39:42+01 x", "2026-12-07 16:39:42.000000000", 22},
    {nullptr, u"2026-12-07 17:39:42 +0100 x", "2026-12-07 16:39:42.000000000", 25},
    {nullptr, u"2026-12-07 17:39:42 UTC", "2026-12-07 17:39:42.000000000", 23},
    {nullptr, u"2026-12-07 17:39:42 +5 items", "2026-12-07 17:39:42.000000000", 19},
    {nullptr, u"2026-12-07 17:39:42.", "2026-12-07 17:39:42.000000000", 19},
    {nullptr, u"07/Dec/2026:17:39:42 +0100]", "2026-12-07 16:39:42.000000000", 26},
    {nullptr, u"Mon, 7 Dec 2026 17:39:42 +0000", "2026-12-07 17:39:42.000000000", 30},
    {nullptr, u"Dec  7 17:39:42 host", "2026-12-07 17:39:42.000000000", 15},
    {nullptr, u"dec 17 07:09:02", "2026-12-17 07:09:02.000000000", 15},
    {nullptr, u"1796665182 x", "2026-12-07 17:39:42.000000000", 10},
    {nullptr, u"1796665182125", "2026-12-07 17:39:42.125000000", 13},
    {nullptr, u"1796665182.5", "2026-12-07 17:39:42.500000000", 12},
    {nullptr, u"1796665182250000 x", "2026-12-07 17:39:42.250000000", 16},
    {nullptr, u"1796665182250000100]", "2026-12-07 17:39:42.250000100", 19},
    {nullptr, u"Mar 28 23:30:00.319431 db-2", "2026-03-28 23:30:00.319431000", 22},
    {nullptr, u"2026/03/28 23:30:03.179028 go", "2026-03-28 23:30:03.179028000", 26},
    {nullptr, u"2026-12-07 17:39:42.123456789 x", "2026-12-07 17:39:42.123456789", 29},
    {nullptr, u"2026-03-29 00:30:00.096 CET [9847]", "2026-03-28 23:30:00.096000000", 27},
    {nullptr, u"2026-07-01 12:00:00 EDT", "2026-07-01 16:00:00.000000000", 23},
    {nullptr, u"2026-07-01 12:00:00 INFO x", "2026-07-01 12:00:00.000000000", 19},
    {nullptr, u"2026-07-01 12:00:00 CST x", "2026-07-01 12:00:00.000000000", 19},
    {nullptr, u"2026-12-07T17:39:42.1Z\tx", "2026-12-07 17:39:42.100000000", 22},
    {nullptr, u"2026-12-07 17:39:42,000000001-00:00]", "2026-12-07 17:39:42.000000001", 35},
    {nullptr, u"2026-12-07T17:39:42+23:59 x", "2026-12-06 17:40:42.000000000", 25},
    {nullptr, u"2026-12-07T17:39:42.5 z", "2026-12-07 17:39:42.500000000", 23},
    {nullptr, u"2026-12-07T17:39:42 -05:00 x", "2026-12-07 22:39:42.000000000", 26},
    {nullptr, u"2026-12-07T17:39:42 - x", "2026-12-07 17:39:42.000000000", 19},
    {nullptr, u"2026-12-07T17:39:42\u00E9", "2026-12-07 17:39:42.000000000", 19},
    {nullptr, u"2024-02-29T23:59:59.999Z", "2024-02-29 23:59:59.999000000", 24},
    // The forms of common logs, each beside a near miss.
    {nullptr, u"<34>1 2026-03-29T00:30:02.123Z host app", "2026-03-29 00:30:02.123000000", 30},
    {nullptr, u"<34>1 2026-03-29 host", "-", 0},
    {nullptr, u"20260329T003002.5+0100 x", "2026-03-28 23:30:02.500000000", 22},
    {nullptr, u"20260329003002 x", "-", 0},
    {nullptr, u"2026-W13-7T00:30:02Z", "2026-03-29 00:30:02.000000000", 20},
    {nullptr, u"2026-W54-1T00:30:02Z", "bad", 0},
    {nullptr, u"2026-088 00:30:02", "2026-03-29 00:30:02.000000000", 17},
    {nullptr, u"2026-088 items", "-", 0},
    {nullptr, u"Sun 2026-03-29 00:30:02 CET", "2026-03-28 23:30:02.000000000", 27},
    {nullptr, u"Sun Mar 29 00:30:02.123456 2026] [core", "2026-03-29 00:30:02.123456000", 31},
    {nullptr, u"Sun Mar 29 00:30:02 CET 2026", "2026-03-28 23:30:02.000000000", 28},
    {nullptr, u"Sun Mar 29 00:30:02 2026x", "-", 0},
    {nullptr, u"29 Mar 2026 00:30:02,123 INFO", "2026-03-29 00:30:02.123000000", 24},
    {nullptr, u"29 Mar 2026 release notes", "-", 0},
    {nullptr, u"12:M 29 Mar 2026 00:30:02.123 * Ready", "2026-03-29 00:30:02.123000000", 29},
    {nullptr, u"I0329 00:30:02.123456   12 file.go:34]", "2026-03-29 00:30:02.123456000", 21},
    {nullptr, u"X0329 00:30:02.123456", "-", 0},
    {nullptr, u"03-29 00:30:02.123  1234 I Tag: x", "2026-03-29 00:30:02.123000000", 18},
    {nullptr, u"1.2-3 00:30:02", "-", 0},
    {nullptr, u"1.2.3-29 00:30:02", "-", 0},
    // Near misses: no stamp.
    {nullptr, u"2026-12-7T17:39:42Z", "-", 0},
    {nullptr, u"2026-12-07T17:39Z", "-", 0},
    {nullptr, u"2026-12-07x17:39:42", "-", 0},
    {nullptr, u"2026-12-07T17:39:42Zulu", "-", 0},
    {nullptr, u"2026-12-07T17:39:42+01:001", "-", 0},
    {nullptr, u"2026-12-07T17:39:421", "-", 0},
    {nullptr, u"2026-12-07T17:39:4\u0662", "-", 0},
    {nullptr, u"2026-12-07 17:39:42x", "-", 0},
    {nullptr, u"179666518", "-", 0},
    {nullptr, u"17966651821", "-", 0},
    {nullptr, u"4155550123,John,Doe", "-", 0},
    {nullptr, u"1796665182.5.1 version", "-", 0},
    {nullptr, u"203.0.113.8 - -", "-", 0},
    {nullptr, u"2026.03.28 release", "-", 0},
    {nullptr, u"1796665182-12", "-", 0},
    {nullptr, u"Dez  7 17:39:42", "-", 0},
    {nullptr, u"Decimal 7 17:39:42", "-", 0},
    {nullptr, u"2026-12-07", "-", 0},
    {nullptr, u"", "-", 0},
    // The shape of a stamp with a bad value.
    {nullptr, u"2026-13-07T17:39:42Z", "bad", 0},
    {nullptr, u"2026-02-29 17:39:42", "bad", 0},
    {nullptr, u"2026-12-07 24:00:00", "bad", 0},
    {nullptr, u"2026-12-07 23:60:00", "bad", 0},
    {nullptr, u"1600-12-07 23:00:00", "bad", 0},
    {nullptr, u"2026-12-07T17:39:42+01:0", "bad", 0},
    {nullptr, u"2026-12-07T17:39:42+1", "bad", 0},
    {nullptr, u"2026-12-07T17:39:42+24:00", "bad", 0},
    {nullptr, u"2026-12-07T17:39:42.1234567890Z", "bad", 0},
    {nullptr, u"2026-12-07T17:39:60Z", "bad", 0},
    {nullptr, u"2026-04-31T17:39:42Z", "bad", 0},
    {nullptr, u"2026-12-07T17:39:42-01:60", "bad", 0},
    {nullptr, u"07/Dec/2026:17:39:42 +010", "bad", 0},
    {nullptr, u"Dec 32 17:39:42", "bad", 0},
    // A form named in the format's directives.
    {u"%d/%m/%Y %H:%M:%S", u"07/12/2026  17:39:42 x", "2026-12-07 17:39:42.000000000", 20},
    {u"%#d.%#m.%y %T.%L %z", u"7.1.26 17:39:42.007 -01:00", "2026-01-07 18:39:42.007000000", 26},
    {u"%A %d %B %Y %T", u"monday 07 december 2026 17:39:42", "2026-12-07 17:39:42.000000000", 32},
    {u"%s", u"1796665182", "2026-12-07 17:39:42.000000000", 10},
    {u"%d/%m/%Y %T.%L", u"07/12/2026 17:39:42.123456 x", "2026-12-07 17:39:42.123456000", 26},
    {u"%Y/%m/%d %T", u"2026/12/07 17:39:42,5 x", "2026-12-07 17:39:42.500000000", 21},
    {u"Start-Date: %F  %T", u"Start-Date: 2026-12-07  17:39:42", "2026-12-07 17:39:42.000000000", 32},
    {u"%F %T %Z", u"2026-12-07 17:39:42 CET", "2026-12-07 16:39:42.000000000", 23},
    {u"%m/%d/%Y %I:%M:%S %p", u"12/07/2026 05:39:42 PM", "2026-12-07 17:39:42.000000000", 22},
    {u"%m/%d/%Y %I:%M:%S %p", u"12/07/2026 12:09:42 a.m.", "2026-12-07 00:09:42.000000000", 24},
    {u"%m/%d/%Y %I:%M:%S %p", u"12/07/2026 13:09:42 PM", "bad", 0},
    // Composite directives, read by the pieces they are written with.
    {u"%D %r", u"12/07/26 05:39:42 PM x", "2026-12-07 17:39:42.000000000", 20},
    {u"%#Q %R", u"2026-W50-1 17:39 x", "2026-12-07 17:39:00.000000000", 16},
    {u"%v %T", u" 7-Dec-2026 17:39:42", "2026-12-07 17:39:42.000000000", 20},
    {u"%d/%m/%Y %H:%M:%S", u"2026-12-07T17:39:42Z", "-", 0},
};

// The quick reading of the first form, where it answers, gives what the form's full
// reading gives, on units and on bytes (a unit from 0x80 a byte that no form reads).
void ExpectQuickAsFull(const std::u16string& text) {
  StampFields quick, full;
  size_t quickUsed = 0, fullUsed = 0;
  const bool read = QuickIsoStamp(text.data(), text.size(), &quick, &quickUsed);
  std::string bytes;
  for (char16_t u : text) bytes += u < 0x80 ? static_cast<char>(u) : '\xE9';
  StampFields fromBytes;
  size_t bytesUsed = 0;
  // Twice with a reader's heads, the second time from the minute it keeps.
  static StampHeads heads;
  for (int k = 0; k < 3; ++k)
    EXPECT_EQ(QuickIsoStamp(bytes.data(), bytes.size(), &fromBytes, &bytesUsed, k ? &heads : nullptr), read);
  if (!read) return;
  ASSERT_EQ(MatchStampPattern(kStampForms[0].pattern, text.data(), text.size(), &full, &fullUsed), StampMatch::Stamp);
  EXPECT_EQ(std::memcmp(&quick.time, &full.time, sizeof full.time), 0);
  EXPECT_EQ(std::memcmp(&fromBytes.time, &full.time, sizeof full.time), 0);
  EXPECT_EQ(std::tie(quick.nanoseconds, quick.offset, quick.hasOffset, quick.usedBeforeWord, quickUsed),
            std::tie(full.nanoseconds, full.offset, full.hasOffset, full.usedBeforeWord, fullUsed));
  EXPECT_EQ(std::tie(fromBytes.nanoseconds, fromBytes.offset, fromBytes.hasOffset, bytesUsed),
            std::tie(full.nanoseconds, full.offset, full.hasOffset, fullUsed));
  EXPECT_EQ(full.zoneWord[0], 0);
}

TEST(StampFormsTest, EachFormItsNearMissesAndBadValues) {
  for (const StampFormCase& c : kStampFormCases) {
    size_t used = 0;
    EXPECT_EQ(StampOf(c.pattern, c.text, &used), c.instant) << c.instant;
    if (c.instant.size() > 3) {
      EXPECT_EQ(used, c.used) << c.instant;
    }
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    ExpectQuickAsFull(c.text);
  }
}

// A stamp without an offset, in a zone of its own or in the local zone of the services:
// the hour that the clocks skip is read with the offset before it, the one they show
// twice at its first occurrence.
TEST(StampFormsTest, StampsWithoutAnOffsetInTheirZone) {
  constexpr StampZone kLocal{StampZoneKind::Local, 0}, kIndia{StampZoneKind::Fixed, 19800};
  const Services& newYork = kServicesIn<testing::kNewYork>;
  struct Case {
    const char16_t* text;
    StampZone zone;
    const Services& services;
    const char* instant;
    const char16_t* before = nullptr;  // the log's stamp before it
  } cases[] = {
      {u"2024-01-15 12:00:00", kLocal, newYork, "2024-01-15 17:00:00.000000000"},
      {u"2024-07-15 12:00:00.5", kLocal, newYork, "2024-07-15 16:00:00.500000000"},
      {u"2024-03-10 02:30:00", kLocal, newYork, "2024-03-10 07:30:00.000000000"},
      {u"2024-11-03 01:30:00", kLocal, newYork, "2024-11-03 05:30:00.000000000"},
      {u"2024-07-15 12:00:00", kLocal, kServicesIn<testing::kKolkata>, "2024-07-15 06:30:00.000000000"},
      {u"2024-07-15 12:00:00", kIndia, newYork, "2024-07-15 06:30:00.000000000"},
      {u"2024-07-15 12:00:00+02:00", kLocal, newYork, "2024-07-15 10:00:00.000000000"},
      // The repeated hour: its second reading where the first would go back in the log.
      {u"2024-11-03 01:10:00", kLocal, newYork, "2024-11-03 06:10:00.000000000", u"2024-11-03 05:59:00Z"},
      {u"2024-11-03 01:10:00", kLocal, newYork, "2024-11-03 05:10:00.000000000", u"2024-11-03 05:00:00Z"},
      {u"2024-11-03 00:59:00", kLocal, newYork, "2024-11-03 04:59:00.000000000", u"2024-11-03 05:59:00Z"},
      {u"2024-11-03 01:10:00 EST", kLocal, newYork, "2024-11-03 06:10:00.000000000"},
      {u"2024-11-03 01:10:00 EDT", kLocal, newYork, "2024-11-03 05:10:00.000000000", u"2024-11-03 05:59:00Z"},
  };
  for (const Case& c : cases) {
    size_t used = 0, beforeUsed = 0;
    uint64_t notBefore = 0;
    StampFields before;
    if (c.before && RecognizeStamp(nullptr, c.before, TextLength(c.before), &before, &beforeUsed) == StampMatch::Stamp)
      StampInstant(before, kLocal, &notBefore, newYork);
    EXPECT_EQ(StampOf(nullptr, c.text, &used, c.zone, c.services, notBefore), c.instant) << U8(c.text);
  }
}

// Each row reads its example, which no row before it takes, and restamp's help shows it:
// the help's table of forms is the code's.
TEST(StampFormsTest, EachRowReadsItsExampleAndTheHelpShowsIt) {
  ResetHost();
  hostkit::HostFunctions host{Printf,  Qprintf, QPuts,   ExpandVariables, QueryTrueName, StdErrorHandle(),
                              nullptr, nullptr, nullptr, nullptr,         nullptr,       nullptr};
  hostkit::PluginExports plugin{
      GetPluginInfo, InitializePlugin, ShutdownPlugin, Usage,         Help,           ts, f_datefmt, nullptr,
      RestampLog,    DateLine,         OpenInputLines, ReadInputLine, CloseInputLines};
  std::u16string words[] = {u"restamp", u"--help"};
  char16_t* argv[] = {words[0].data(), words[1].data()};
  hostkit::RunCommandLine(2, argv, host, plugin);
  const std::string help = testing::CapturedOutput();
  for (size_t k = 0; k < kStampFormCount; ++k) {
    const StampForm& form = kStampForms[k];
    const std::u16string example = form.example;
    StampFields f;
    size_t used = 0, which = 0;
    EXPECT_EQ(
        RecognizeStampIn(StampChoice{nullptr, 0, kEveryStampForm}, example.data(), example.size(), &f, &used, &which),
        StampMatch::Stamp)
        << U8(form.name);
    EXPECT_EQ(which, k) << U8(form.name);
    EXPECT_NE(help.find(U8(example)), std::string::npos) << U8(form.name);
  }
}

TEST(StampFormsTest, NeverReadsPastTheLine) {
  // Each prefix of a stamp, copied alone, so that a read past it would show.
  const std::u16string full = u"2026-12-07T17:39:42.125+01:00";
  for (size_t n = 0; n <= full.size(); ++n) {
    std::unique_ptr<char16_t[]> copy(new char16_t[n + 1]);
    std::copy(full.begin(), full.begin() + static_cast<ptrdiff_t>(n), copy.get());
    StampFields f;
    size_t used = 0;
    if (RecognizeStamp(nullptr, copy.get(), n, &f, &used) == StampMatch::Stamp) {
      EXPECT_LE(used, n);
    }
    ExpectQuickAsFull(std::u16string(copy.get(), n));
  }
}

TEST(StampFormsTest, SyslogYearRollsBackAcrossNewYear) {
  SYSTEMTIME jan2{2027, 1, 6, 2, 8, 0, 0, 0}, dec31{2026, 12, 4, 31, 23, 0, 0, 0};
  EXPECT_EQ(SyslogYear(12, 31, jan2), 2026);
  EXPECT_EQ(SyslogYear(1, 2, jan2), 2027);
  EXPECT_EQ(SyslogYear(1, 3, jan2), 2027);  // a day's grace
  EXPECT_EQ(SyslogYear(1, 4, jan2), 2026);
  EXPECT_EQ(SyslogYear(12, 31, dec31), 2026);
}

TEST(StampFormsTest, PatternsThatCannotReadAStamp) {
  EXPECT_EQ(CheckStampPattern(u"%d/%m/%Y %T"), nullptr);
  EXPECT_EQ(CheckStampPattern(u"%s"), nullptr);
  const char16_t* noDate = u"%H:%M:%S";
  EXPECT_EQ(CheckStampPattern(noDate), noDate + 8);
  const char16_t* unknown = u"%F %U";  // a week from Sunday names no day
  EXPECT_EQ(CheckStampPattern(unknown), unknown + 3);
}

}  // namespace
}  // namespace horalin
