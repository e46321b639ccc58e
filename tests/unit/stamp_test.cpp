// Line stamps: the elapsed texts, the separator, and stamps made from the real clock.
#include "tscmd/stamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

#include "common/text.h"
#include "common/types.h"
#include "platform/platform.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

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
    char16_t stamp[kStampCapacity] = u"";
    AppendElapsedText(stamp, c.difference);
    EXPECT_EQ(U8(stamp), c.text);
  }
}

TEST(StampTest, ElapsedTextIsCutToTheRoomLeft) {
  std::u16string text(8185, u'x');
  char16_t stamp[kStampCapacity];
  CopyText(stamp, kStampCapacity, text.c_str());
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
    char16_t stamp[kStampCapacity];
    CopyText(stamp, kStampCapacity, c.text.c_str());
    EXPECT_EQ(AppendStampSeparator(stamp), c.result) << c.text.size();
    EXPECT_EQ(std::u16string(stamp), c.result == 1 ? c.text + u" " : c.text);
  }
  EXPECT_EQ(AppendStampSeparator(nullptr), -1);
}

struct StampCase {
  const char* format;
  uint32_t flags;
  const char* pattern;
};

TEST(StampTest, StampsByFormatAndFlags) {
  const std::string elapsed = R"(\d\d:\d\d:\d\d\.\d{3})";
  const StampCase cases[] = {
      {"%F %H:%M:%S.%L", 0, R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})"},
      {"%H:%M", TSF_INCREMENTAL | TSF_CUMULATIVE, R"(\d\d:\d\d E E)"},
      {"%H:%M", TSF_CUMULATIVE, R"(\d\d:\d\d E)"},
      {"", TSF_INCREMENTAL, "E"},      // the elapsed text alone, no blank before it
      {" ", TSF_INCREMENTAL, " E"},    // a format of one blank stays
      {"x ", TSF_INCREMENTAL, "x E"},  // no second blank
      {"", 0, ""},
      {"%F", TSF_DATE | TSF_TIME, R"(\d{4}-\d\d-\d\d)"},  // date and time flags only choose defaults
  };
  for (const StampCase& c : cases) {
    char16_t stamp[kStampCapacity];
    uint64_t start = platform::CurrentUtcFileTime(), previous = start;
    ASSERT_EQ(MakeLineStamp(stamp, U16(c.format).c_str(), c.flags, FDT_NO_DOUBLE_PERCENT, start, &previous), 0);
    std::string pattern = std::regex_replace(std::string(c.pattern), std::regex("E"), elapsed);
    EXPECT_TRUE(std::regex_match(U8(stamp), std::regex(pattern))) << c.format << " gave '" << U8(stamp) << "'";
  }
}

TEST(StampTest, MissingParts) {
  char16_t stamp[kStampCapacity] = u"kept";
  uint64_t previous = 0;
  EXPECT_EQ(MakeLineStamp(stamp, nullptr, 0, 0, 0, &previous), -1);
  EXPECT_EQ(MakeLineStamp(stamp, u"%F", 0, 0, 0, nullptr), -1);
  EXPECT_EQ(U8(stamp), "kept");
}

TEST(StampTest, ElapsedTimesCountFromThePreviousStampAndTheStart) {
  char16_t stamp[kStampCapacity];
  uint64_t now = platform::CurrentUtcFileTime();
  uint64_t start = now - (90 * 60 * kSecond), previous = now - 25 * kSecond / 10;
  MakeLineStamp(stamp, u"", TSF_INCREMENTAL | TSF_CUMULATIVE, FDT_NO_DOUBLE_PERCENT, start, &previous);
  EXPECT_TRUE(std::regex_match(U8(stamp), std::regex(R"(00:00:02\.5\d\d 01:30:00\.\d{3})"))) << U8(stamp);
  EXPECT_GE(previous, now);
  EXPECT_LT(previous, now + 10 * kSecond);

  // The first stamp counts both from the start.
  start = previous = platform::CurrentUtcFileTime() - 7 * kSecond;
  MakeLineStamp(stamp, u"", TSF_INCREMENTAL | TSF_CUMULATIVE, 0, start, &previous);
  std::string text = U8(stamp);
  EXPECT_EQ(text.substr(0, 12), text.substr(13)) << text;
}

TEST(StampTest, ClockSetBackShowsNoTimeElapsed) {
  char16_t stamp[kStampCapacity];
  uint64_t later = platform::CurrentUtcFileTime() + kHour;  // times taken before the clock went back
  uint64_t previous = later;
  MakeLineStamp(stamp, u"", TSF_INCREMENTAL | TSF_CUMULATIVE, 0, later, &previous);
  EXPECT_EQ(U8(stamp), "00:00:00.000 00:00:00.000");
  EXPECT_LT(previous, later);  // it counts on from the clock as it now stands
}

// Runs `body` with TZ set to `zone`.
template <typename Body>
void InZone(const char* zone, Body body) {
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  setenv("TZ", zone, 1);
  tzset();
  body();
  if (saved)
    setenv("TZ", old.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

int MinutesOfDay(const std::string& hhmm) { return std::stoi(hhmm.substr(0, 2)) * 60 + std::stoi(hhmm.substr(3, 2)); }

TEST(StampTest, LocalTimeUnlessUtc) {
  InZone("Asia/Kolkata", [] {
    for (int attempt = 0; attempt < 3; ++attempt) {  // a minute may turn between the two stamps
      char16_t utc[kStampCapacity], local[kStampCapacity];
      uint64_t previous = 0;
      StampCache cache{};
      MakeLineStamp(utc, u"%H:%M", 0, FDT_UTC | FDT_NO_DOUBLE_PERCENT, 0, &previous, &cache);
      MakeLineStamp(local, u"%H:%M", 0, FDT_NO_DOUBLE_PERCENT, 0, &previous, &cache);  // same cache
      if ((MinutesOfDay(U8(utc)) + 330) % 1440 == MinutesOfDay(U8(local))) return;
    }
    ADD_FAILURE() << "local time is not UTC + 05:30";
  });
}

TEST(StampTest, CachedStampsAreRebuiltFromTheirRenderedPart) {
  StampCache cache{};
  char16_t stamp[kStampCapacity];
  uint64_t start = platform::CurrentUtcFileTime(), previous = start;
  const std::regex pattern(R"(\d\d:\d\d:\d\d\.\d{3} \d\d:\d\d:\d\d\.\d{3} \d\d:\d\d:\d\d\.\d{3})");
  for (int i = 0; i < 1000; ++i) {  // most of these fall within the same millisecond
    MakeLineStamp(stamp, u"%H:%M:%S.%L", TSF_INCREMENTAL | TSF_CUMULATIVE, 0, start, &previous, &cache);
    ASSERT_TRUE(std::regex_match(U8(stamp), pattern)) << U8(stamp);
  }
  // Another format, at once: rendered anew.
  char16_t other[] = u"[%Y]";
  MakeLineStamp(stamp, other, 0, 0, start, &previous, &cache);
  EXPECT_TRUE(std::regex_match(U8(stamp), std::regex(R"(\[\d{4}\])"))) << U8(stamp);
}

}  // namespace
}  // namespace horalin
