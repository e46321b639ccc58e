// Line stamps: the elapsed texts, the separator, and stamps for given moments.
#include "lines/stamp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/text.h"
#include "common/types.h"
#include "datetime/instant.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::ScopedEnv;
using testing::U16;
using testing::U8;

constexpr uint64_t kMs = 10000, kSecond = 10000000, kHour = 3600 * kSecond;

TEST(StampTest, ElapsedTexts) {
  struct Case {
    uint64_t difference;
    const char* text;
  } cases[] = {
      {0, "00:00:00.000"},
      {15 * kSecond / 10, "00:00:01.500"},
      {9000, "00:00:00.000"},  // 0.9 ms: remainders are dropped
      {59 * kSecond + 999 * kMs + 9999, "00:00:59.999"},
      {25 * kHour + 3 * 60 * kSecond, "25:03:00.000"},
      {100 * kHour, "100:00:00.000"},
      {UINT64_MAX, "512409557:36:10.955"},
  };
  for (const Case& c : cases) {
    char16_t stamp[kFormatText] = u"";
    AppendElapsedText(stamp, c.difference);
    EXPECT_EQ(U8(stamp), c.text);
  }
}

TEST(StampTest, ElapsedTextIsCutToTheRoomLeft) {
  std::u16string text(8185, u'x');
  char16_t stamp[kFormatText];
  CopyText(stamp, kFormatText, text.c_str());
  AppendElapsedText(stamp, 15 * kSecond / 10);
  EXPECT_EQ(std::u16string(stamp), text + u"00:00:");
}

TEST(StampTest, Separator) {
  struct Case {
    std::u16string text;
    int result;
  } cases[] = {
      {u"", 0}, {u"a", 1}, {u"a ", 0}, {u"a\t", 0}, {std::u16string(8190, u'a'), 1}, {std::u16string(8191, u'a'), 0},
  };
  for (const Case& c : cases) {
    char16_t stamp[kFormatText];
    CopyText(stamp, kFormatText, c.text.c_str());
    EXPECT_EQ(AppendStampSeparator(stamp), c.result) << c.text.size();
    EXPECT_EQ(std::u16string(stamp), c.result == 1 ? c.text + u" " : c.text);
  }
  EXPECT_EQ(AppendStampSeparator(nullptr), -1);
}

// 2024-02-29 13:45:06.789012345 UTC (19:15:06.789 in Kolkata), and a steady reading far
// from the wall clock's count, as it is on a real system.
constexpr Moment kNow = {{1709214306, 789012345}, 5 * kHour + 123 * kMs};

// kNow's wall clock moved by `units` (100 ns each), and its steady clock by `steady`.
Moment After(int64_t units, uint64_t steady) {
  return {InstantOfFileTime(static_cast<uint64_t>(static_cast<int64_t>(FileTimeOfInstant(kNow.wall)) + units)),
          kNow.steady + steady};
}

TEST(StampTest, StampsByFormatAndFlags) {
  const uint32_t both = TSF_INCREMENTAL | TSF_CUMULATIVE;
  struct Case {
    const char* format;
    uint32_t stampFlags, formatFlags;
    uint64_t sincePrevious;  // before kNow, on the steady clock
    const char* stamp;
  } cases[] = {
      {"%F %H:%M:%S.%L", 0, 0, 0, "2024-02-29 19:15:06.789"},
      {"%F %H:%M:%S.%L %z", 0, FDT_UTC, 0, "2024-02-29 13:45:06.789 +0000"},
      {"%T.%f %i %s %Z", 0, 0, 0, "19:15:06.789012 789012345 1709214306 IST"},  // the clock's every digit
      {"%H:%M %z", both, 0, 25 * kSecond / 10, "19:15 +0530 00:00:02.500 01:30:00.000"},
      {"%H:%M", TSF_CUMULATIVE, FDT_UTC, 0, "13:45 01:30:00.000"},
      {"", TSF_INCREMENTAL, 0, 9000, "00:00:00.000"},     // the elapsed text alone, no blank before it
      {" ", TSF_INCREMENTAL, 0, kHour, " 01:00:00.000"},  // a format of one blank stays
      {"x ", TSF_INCREMENTAL, 0, kMs, "x 00:00:00.001"},  // no second blank
      {"", 0, 0, kSecond, ""},
      {"%F", TSF_DATE | TSF_TIME, 0, 0, "2024-02-29"},                // date and time flags only choose defaults
      {"", both, 0, 90 * 60 * kSecond, "01:30:00.000 01:30:00.000"},  // the first stamp: both from the start
  };
  ScopedEnv zone("TZ", "Asia/Kolkata");
  for (const Case& c : cases) {
    char16_t stamp[kFormatText];
    uint64_t start = kNow.steady - 90 * 60 * kSecond, previous = kNow.steady - c.sincePrevious;
    ASSERT_EQ(MakeLineStamp(stamp, U16(c.format).c_str(), c.stampFlags, FDT_NO_DOUBLE_PERCENT | c.formatFlags, kNow,
                            start, &previous),
              0);
    EXPECT_EQ(U8(stamp), c.stamp) << c.format;
    EXPECT_EQ(previous, c.stampFlags & both ? kNow.steady : kNow.steady - c.sincePrevious) << c.format;
  }
}

TEST(StampTest, MissingParts) {
  char16_t stamp[kFormatText] = u"kept";
  uint64_t previous = 0;
  EXPECT_EQ(MakeLineStamp(stamp, nullptr, 0, 0, kNow, 0, &previous), -1);
  EXPECT_EQ(MakeLineStamp(stamp, u"%F", 0, 0, kNow, 0, nullptr), -1);
  EXPECT_EQ(U8(stamp), "kept");
}

// The wall clock set back an hour (or on) between stamps moves the stamp, not the times
// elapsed: those count on the steady clock.
TEST(StampTest, ElapsedTimesFollowTheSteadyClockNotTheWallClock) {
  struct Case {
    int64_t wallStep, steadyStep;  // from kNow
    const char* stamp;
  } cases[] = {
      {-static_cast<int64_t>(kHour - 300 * kMs), 300 * kMs, "12:45:07.089 00:00:00.300 00:00:00.300"},
      {static_cast<int64_t>(kHour), 2 * kSecond, "14:45:06.789 00:00:02.000 00:00:02.000"},
      {0, 0, "13:45:06.789 00:00:00.000 00:00:00.000"},
  };
  for (const Case& c : cases) {
    char16_t stamp[kFormatText];
    uint64_t start = kNow.steady, previous = start;
    const Moment later = After(c.wallStep, static_cast<uint64_t>(c.steadyStep));
    MakeLineStamp(stamp, u"%H:%M:%S.%L", TSF_INCREMENTAL | TSF_CUMULATIVE, FDT_UTC, later, start, &previous);
    EXPECT_EQ(U8(stamp), c.stamp);
  }
  // A previous reading ahead of now (not from this clock) shows nothing elapsed, not a wrap.
  char16_t stamp[kFormatText];
  uint64_t previous = kNow.steady + kHour;
  MakeLineStamp(stamp, u"", TSF_INCREMENTAL | TSF_CUMULATIVE, 0, kNow, previous, &previous);
  EXPECT_EQ(U8(stamp), "00:00:00.000 00:00:00.000");
  EXPECT_EQ(previous, kNow.steady);
}

TEST(StampTest, LocalTimeUnlessUtcWithOneCache) {
  ScopedEnv zone("TZ", "Asia/Kolkata");
  char16_t utc[kFormatText], local[kFormatText];
  uint64_t previous = 0;
  StampCache cache{};
  MakeLineStamp(utc, u"%H:%M", 0, FDT_UTC | FDT_NO_DOUBLE_PERCENT, kNow, 0, &previous, &cache);
  MakeLineStamp(local, u"%H:%M", 0, FDT_NO_DOUBLE_PERCENT, kNow, 0, &previous, &cache);
  EXPECT_EQ(U8(utc), "13:45");
  EXPECT_EQ(U8(local), "19:15");
}

TEST(StampTest, CachedStampsAreRebuiltFromTheirRenderedPart) {
  StampCache cache{};
  char16_t stamp[kFormatText];
  uint64_t start = kNow.steady, previous = start;
  for (uint64_t i = 0; i < 40; ++i) {  // four readings in each millisecond
    const Moment now = After(static_cast<int64_t>(i) * 2500, i * kSecond);
    MakeLineStamp(stamp, u"%S.%L", TSF_INCREMENTAL | TSF_CUMULATIVE, 0, now, start, &previous, &cache);
    char expected[64];
    std::snprintf(expected, sizeof expected, "06.%03u 00:00:%02u.000 00:00:%02u.000",
                  static_cast<unsigned>(789 + i / 4), static_cast<unsigned>(i ? 1 : 0), static_cast<unsigned>(i));
    ASSERT_EQ(U8(stamp), expected) << i;
  }
  // Another format, in the same millisecond: rendered anew.
  char16_t other[] = u"[%Y]";
  MakeLineStamp(stamp, other, 0, 0, kNow, start, &previous, &cache);
  EXPECT_EQ(U8(stamp), "[2024]");
}

}  // namespace
}  // namespace horalin
