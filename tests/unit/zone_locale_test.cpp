// The zone and locale services of the POSIX backend, alone and through the format
// interpreter: real zones of the tz database and real locales, set for each test.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "datetime/format.h"
#include "platform/platform.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using platform::Locale;
using platform::LocaleItem;
using platform::ZoneSnapshot;
using testing::ScopedEnv;
using testing::U16;
using testing::U8;

SYSTEMTIME At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  timegm(&t);
  return {year, month, static_cast<uint16_t>(t.tm_wday), day, hour, minute, 0, 0};
}

std::string Format(const std::string& format, const SYSTEMTIME& time, uint32_t flags = 0) {
  std::vector<char16_t> out(kFormatOutputCapacity);
  FormatDateTime(out.data(), U16(format).c_str(), time, flags);
  return U8(out.data());
}

struct ZoneCase {
  const char* tz;
  SYSTEMTIME local;
  int32_t bias;
  int32_t state;
  const char* standardName;
  const char* daylightName;
  const char* formatted;  // "%z %Z %#Z %s"
};

TEST(ZoneTest, SnapshotAtTheFormattedLocalTime) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  using platform::ZoneDaylight, platform::ZoneStandard, platform::ZoneUnknown;
  const ZoneCase cases[] = {
      {"UTC", At(2024, 1, 15, 12, 0), 0, ZoneUnknown, "UTC", "", "+0000 UTC Z 1705320000"},
      {"America/New_York", At(2024, 1, 15, 12, 0), 300, ZoneStandard, "EST", "EDT", "-0500 EST R 1705338000"},
      {"America/New_York", At(2024, 7, 15, 12, 0), 240, ZoneDaylight, "EST", "EDT", "-0400 EDT Q 1721059200"},
      // the hour skipped in spring: read with the offset in force before it
      {"America/New_York", At(2024, 3, 10, 2, 30), 300, ZoneStandard, "EST", "EDT", "-0500 EST R 1710055800"},
      // the hour shown twice in autumn: its first occurrence
      {"America/New_York", At(2024, 11, 3, 1, 30), 240, ZoneDaylight, "EST", "EDT", "-0400 EDT Q 1730611800"},
      {"America/New_York", At(2024, 11, 3, 2, 30), 300, ZoneStandard, "EST", "EDT", "-0500 EST R 1730619000"},
      {"Asia/Kolkata", At(2024, 7, 15, 12, 0), -330, ZoneUnknown, "IST", "", "+0530 IST - 1721025000"},
      // a daylight saving time of thirty minutes
      {"Australia/Lord_Howe", At(2024, 1, 15, 12, 0), -660, ZoneDaylight, "+1030", "+11", "+1100 +11 L 1705280400"},
      {"Australia/Lord_Howe", At(2024, 7, 15, 12, 0), -630, ZoneStandard, "+1030", "+11", "+1030 +1030 - 1721007000"},
      {"Australia/Lord_Howe", At(2024, 10, 6, 2, 15), -630, ZoneStandard, "+1030", "+11", "+1030 +1030 - 1728143100"},
      {"Australia/Lord_Howe", At(2024, 4, 7, 1, 45), -660, ZoneDaylight, "+1030", "+11", "+1100 +11 L 1712414700"},
  };
  for (const ZoneCase& c : cases) {
    ScopedEnv tz("TZ", c.tz);
    SCOPED_TRACE(::testing::Message() << c.tz << " " << Format("%F %R", c.local));
    ZoneSnapshot zone{};
    platform::TakeZoneSnapshot(false, &c.local, &zone);
    EXPECT_EQ(zone.bias, c.bias);
    EXPECT_EQ(zone.state, c.state);
    EXPECT_EQ(U8(zone.standardName), c.standardName);
    EXPECT_EQ(U8(zone.daylightName), c.daylightName);
    EXPECT_EQ(Format("%z %Z %#Z %s", c.local), c.formatted);
  }
}

TEST(ZoneTest, UtcModeIgnoresTheZone) {
  ScopedEnv tz("TZ", "America/New_York");
  ZoneSnapshot zone{};
  zone.bias = 99;
  SYSTEMTIME summer = At(2024, 7, 15, 12, 0);
  platform::TakeZoneSnapshot(true, &summer, &zone);
  EXPECT_EQ(zone.bias, 0);
  EXPECT_EQ(zone.state, platform::ZoneUnknown);
  EXPECT_EQ(U8(zone.standardName), "UTC");
  EXPECT_EQ(U8(zone.daylightName), "");
  EXPECT_EQ(Format("%z %Z %#Z %s", summer, FDT_UTC), "+0000 UTC Z 1721044800");
}

TEST(ZoneTest, NowFollowsTheZone) {
  for (const char* name : {"Asia/Kolkata", "UTC"}) {
    ScopedEnv tz("TZ", name);
    ZoneSnapshot zone{};
    platform::TakeZoneSnapshot(false, nullptr, &zone);
    EXPECT_EQ(zone.bias, name[0] == 'A' ? -330 : 0) << name;
  }
}

// Every quarter hour of a year, shown as local time and formatted back with "%s", gives
// the instant again; where the local time occurs twice, its first occurrence.
TEST(ZoneTest, UnixTimeOfEveryLocalQuarterHour) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  for (const char* name : {"America/New_York", "Australia/Lord_Howe"}) {
    ScopedEnv tz("TZ", name);
    int mismatches = 0;
    for (time_t t = 1704067200; t < 1735689600 && mismatches < 5; t += 900) {  // 2024
      tm local, earlier;
      localtime_r(&t, &local);
      SYSTEMTIME st{static_cast<uint16_t>(local.tm_year + 1900),
                    static_cast<uint16_t>(local.tm_mon + 1),
                    static_cast<uint16_t>(local.tm_wday),
                    static_cast<uint16_t>(local.tm_mday),
                    static_cast<uint16_t>(local.tm_hour),
                    static_cast<uint16_t>(local.tm_min),
                    0,
                    0};
      time_t expected = t;
      for (time_t back : {1800, 3600}) {  // the same local time shown before?
        time_t then = t - back;
        localtime_r(&then, &earlier);
        if (earlier.tm_hour == local.tm_hour && earlier.tm_min == local.tm_min && earlier.tm_mday == local.tm_mday)
          expected = then;
      }
      std::string got = Format("%s", st);
      if (got != std::to_string(expected)) {
        ++mismatches;
        ADD_FAILURE() << name << " " << Format("%F %T", st) << ": " << got << ", expected " << expected;
      }
    }
  }
}

struct LocaleCase {
  const char* locale;
  const char* format;
  const char* expected;
};

// Sunday 2026-12-06 13:05:09.
constexpr SYSTEMTIME kSunday = {2026, 12, 0, 6, 13, 5, 9, 42};

TEST(LocaleTest, NamesFormsAndDigits) {
  ScopedEnv tz("TZ", "UTC");
  const LocaleCase cases[] = {
      {"C.UTF-8", "%a %A %b %B %p|%x|%#x|%X|%c",
       "Sun Sunday Dec December PM|12/06/26|Sunday December 6 2026|13:05:09|"
       "12/06/26 13:05:09"},
      {"en_US.UTF-8", "%x|%#x|%X|%#X|%c|%r",
       "12/06/2026|Sunday December 6 2026|01:05:09 PM|13:05:09|"
       "12/06/2026 01:05:09 PM|01:05:09 PM"},
      {"de_DE.UTF-8", "%a %A %b %B|%p|%x|%#x|%X|%#c",
       "So Sonntag Dez Dezember||06.12.2026|Sonntag 6. Dezember 2026|"
       "13:05:09|Sonntag 6. Dezember 2026 13:05:09"},
      {"de_DE.UTF-8", "%Ea %EA %Eb %EB %#Ea %Ev|%v", "Sun Sunday Dec December Su  6-Dec-2026| 6-Dez-2026"},
      {"fr_FR.UTF-8", "%^B %,A %^a %#x", "DÉCEMBRE dimanche DIM. dimanche 06 décembre 2026"},
      {"ru_RU.UTF-8", "%B %^B %,B", "Декабрь ДЕКАБРЬ декабрь"},
      {"ja_JP.UTF-8", "%p|%X|%#x", "午後|13時05分09秒|2026年 12月 6日 日曜日"},
      {"ar_EG.UTF-8", "%~d|%p|%#x|%#X", "06|م|06 ديسمبر, 2026|13:05:09"},
      {"fa_IR.UTF-8", "%~d %~F %~?d %~OY %~Z %d", "۰۶ ۲۰۲۶-۱۲-۰۶ ۰۶th MMXXVI UTC 06"},
      {"fa_IR.UTF-8", "%x", "۲۶/۱۲/۰۶"},
      {"xx_YY.UTF-8", "%a %B %x %~d", "Sun December 12/06/26 06"},  // no such locale: the C locale's forms
  };
  for (const LocaleCase& c : cases) {
    ScopedEnv locale("LC_ALL", c.locale);
    EXPECT_EQ(Format(c.format, kSunday), c.expected) << c.locale << " " << c.format;
  }
}

TEST(LocaleTest, CaseMappingFollowsTheUsersLanguage) {
  ScopedEnv tz("TZ", "UTC");
  SYSTEMTIME april = {2026, 4, 3, 1, 0, 0, 0, 0};
  {
    ScopedEnv locale("LC_ALL", "tr_TR.UTF-8");
    EXPECT_EQ(Format("%^B %,^B", april), "NİSAN NİSAN");
  }
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  EXPECT_EQ(Format("%^B", april), "APRIL");
  std::u16string text = u"\U00010428x\xD801\u00DF\u00E9";  // Deseret small letter, a lone half, sharp s
  platform::MapToUpperCase(text.data(), text.size());
  EXPECT_TRUE(text == u"\U00010400X\xD801\u00DF\u00C9");
  platform::MapToLowerCase(text.data(), text.size());
  EXPECT_TRUE(text == u"\U00010428x\xD801\u00DF\u00E9");
}

// LC_ALL wins over LC_TIME, which wins over LANG; a change shows in the next call.
TEST(LocaleTest, VariablesAndTheirOrder) {
  ScopedEnv all("LC_ALL", nullptr), time("LC_TIME", nullptr), lang("LANG", "de_DE.UTF-8");
  EXPECT_EQ(Format("%B", kSunday), "Dezember");
  time.Set("fr_FR.UTF-8");
  EXPECT_EQ(Format("%B", kSunday), "décembre");
  all.Set("C.UTF-8");
  EXPECT_EQ(Format("%B", kSunday), "December");
  all.Set("de_DE.UTF-8");
  EXPECT_EQ(Format("%B", kSunday), "Dezember");
}

TEST(LocaleTest, QueriesStayWithinTheirRoom) {
  ScopedEnv locale("LC_ALL", "fa_IR.UTF-8");
  platform::RefreshLocale();
  char16_t buffer[16];
  EXPECT_EQ(platform::LocaleText(Locale::User, LocaleItem::NativeDigits, 0, buffer, 16), 10u);
  EXPECT_EQ(U8(buffer), "۰۱۲۳۴۵۶۷۸۹");
  EXPECT_EQ(platform::LocaleText(Locale::English, LocaleItem::MonthName, 9, buffer, 5), 4u);
  EXPECT_EQ(U8(buffer), "Sept");
  EXPECT_EQ(platform::LocaleText(Locale::English, LocaleItem::DayName, 3, buffer, 16), 9u);
  EXPECT_EQ(U8(buffer), "Wednesday");
  for (int index : {-1, 7, 13}) {
    buffer[0] = u'x';
    EXPECT_EQ(platform::LocaleText(Locale::English, LocaleItem::DayName, index, buffer, 16), 0u) << index;
    EXPECT_EQ(buffer[0], 0);
  }
  EXPECT_EQ(platform::LocaleText(Locale::English, LocaleItem::MonthName, 0, buffer, 16), 0u);
  EXPECT_EQ(platform::LocaleDate(true, kSunday, buffer, 4), 3u);
  buffer[0] = u'x';
  EXPECT_EQ(platform::LocaleTime(false, kSunday, buffer, 1), 0u);
  EXPECT_EQ(buffer[0], 0);
  ScopedEnv english("LC_ALL", "C.UTF-8");
  platform::RefreshLocale();
  EXPECT_EQ(platform::LocaleText(Locale::User, LocaleItem::NativeDigits, 0, buffer, 16), 10u);
  EXPECT_EQ(U8(buffer), "0123456789");
}

}  // namespace
}  // namespace horalin
