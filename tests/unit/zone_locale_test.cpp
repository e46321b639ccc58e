// The zone and locale services of the POSIX backend, alone and through the format
// interpreter: real zones of the tz database and real locales, set for each test.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <time.h>
#include <wchar.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "datetime/format.h"
#include "datetime/instant.h"
#include "lines/platform_services.h"
#include "platform/platform.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::ScopedEnv;
using testing::U16;
using testing::U8;

SYSTEMTIME At(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second = 0) {
  tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  timegm(&t);
  return {year, month, static_cast<uint16_t>(t.tm_wday), day, hour, minute, second, 0};
}

// The local time (UTC under FDT_UTC) through the one resolver, formatted.
std::string Format(const std::string& format, const SYSTEMTIME& time, uint32_t flags = 0) {
  std::vector<char16_t> out(kFormatText);
  DateTime record;
  if (!ResolveLocalTime(time, uint32_t{time.wMilliseconds} * 1000000, (flags & FDT_UTC) != 0, kPlatformServices,
                        &record))
    return "refused";
  FormatDateTime(out.data(), U16(format).c_str(), record, flags, kPlatformServices);
  return U8(out.data());
}

struct ZoneCase {
  const char* tz;
  SYSTEMTIME local;
  int32_t bias;
  int32_t state;
  LocalKind kind;
  const char* formatted;  // "%z %Z %#Z %s"
};

TEST(ZoneTest, SnapshotAtTheFormattedLocalTime) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  using enum LocalKind;
  const ZoneCase cases[] = {
      {"UTC", At(2024, 1, 15, 12, 0), 0, ZoneStandard, Unique, "+0000 UTC Z 1705320000"},
      {"America/New_York", At(2024, 1, 15, 12, 0), 300, ZoneStandard, Unique, "-0500 EST R 1705338000"},
      {"America/New_York", At(2024, 7, 15, 12, 0), 240, ZoneDaylight, Unique, "-0400 EDT Q 1721059200"},
      // the hour skipped in spring: read with the offset in force before it, the instant
      // that the clocks show as 03:30 EDT
      {"America/New_York", At(2024, 3, 10, 2, 30), 300, ZoneStandard, Skipped, "-0400 EDT Q 1710055800"},
      {"America/New_York", At(2024, 3, 10, 1, 59, 59), 300, ZoneStandard, Unique, "-0500 EST R 1710053999"},
      {"America/New_York", At(2024, 3, 10, 3, 0), 240, ZoneDaylight, Unique, "-0400 EDT Q 1710054000"},
      // the hour shown twice in autumn: its first occurrence
      {"America/New_York", At(2024, 11, 3, 1, 30), 240, ZoneDaylight, Repeated, "-0400 EDT Q 1730611800"},
      {"America/New_York", At(2024, 11, 3, 0, 59, 59), 240, ZoneDaylight, Unique, "-0400 EDT Q 1730609999"},
      {"America/New_York", At(2024, 11, 3, 2, 30), 300, ZoneStandard, Unique, "-0500 EST R 1730619000"},
      {"Asia/Kolkata", At(2024, 7, 15, 12, 0), -330, ZoneStandard, Unique, "+0530 IST - 1721025000"},
      // a daylight saving time of thirty minutes
      {"Australia/Lord_Howe", At(2024, 1, 15, 12, 0), -660, ZoneDaylight, Unique, "+1100 +11 L 1705280400"},
      {"Australia/Lord_Howe", At(2024, 7, 15, 12, 0), -630, ZoneStandard, Unique, "+1030 +1030 - 1721007000"},
      {"Australia/Lord_Howe", At(2024, 10, 6, 2, 15), -630, ZoneStandard, Skipped, "+1100 +11 L 1728143100"},
      {"Australia/Lord_Howe", At(2024, 4, 7, 1, 45), -660, ZoneDaylight, Repeated, "+1100 +11 L 1712414700"},
  };
  for (const ZoneCase& c : cases) {
    ScopedEnv tz("TZ", c.tz);
    SCOPED_TRACE(::testing::Message() << c.tz << " " << Format("%F %R", c.local));
    for (int pass = 0; pass < 3; ++pass) {  // the long way, then the year's snapshots once made
      LocalKind kind = Unsure;
      const ZoneSnapshot& zone = platform::TakeZoneSnapshot(false, &c.local, &kind);
      EXPECT_EQ(zone.bias, c.bias);
      EXPECT_EQ(zone.state, c.state);
      EXPECT_EQ(kind, c.kind) << pass;
    }
    EXPECT_EQ(Format("%z %Z %#Z %s", c.local), c.formatted);
  }
}

// What date(1) prints for the same TZ and local time: offsets of local mean time to the
// second, years past the zone's last change of its own, and TZ in each form it takes.
TEST(ZoneTest, AsDatePrintsIt) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  struct Case {
    const char* tz;
    SYSTEMTIME local;
    const char* formatted;  // "%z %Z %s"
  };
  const Case cases[] = {
      {"America/New_York", At(1601, 1, 1, 0, 0), "-0456 LMT -11644455838"},
      {"Europe/Berlin", At(1601, 1, 1, 0, 0), "+0053 LMT -11644476808"},
      {"Asia/Kolkata", At(1850, 6, 30, 18, 45, 10), "+0553 LMT -3771227298"},
      {"Europe/Amsterdam", At(1900, 1, 1, 0, 0), "+0019 AMT -2208989972"},
      {"Africa/Monrovia", At(1970, 1, 1, 0, 0), "-0044 MMT 2670"},
      {"Europe/Berlin", At(9000, 7, 1, 12, 0), "+0200 CEST 221861066400"},
      {"America/New_York", At(9999, 12, 31, 23, 59, 59), "-0500 EST 253402318799"},
      // rule strings: in force from 1970 on; before, the state in which 1970 begins
      {"EST5EDT,M3.2.0,M11.1.0", At(1700, 7, 1, 12, 0), "-0500 EST -8504636400"},
      {"EST5EDT,M3.2.0,M11.1.0", At(2024, 7, 1, 12, 0), "-0400 EDT 1719849600"},
      {"EST5EDT,M3.2.0,M11.1.0", At(2024, 3, 10, 2, 30), "-0400 EDT 1710055800"},  // skipped: date rejects it
      {"EST5EDT,M3.2.0,M11.1.0", At(9000, 7, 1, 12, 0), "-0400 EDT 221861088000"},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", At(1969, 12, 31, 23, 0), "+1100 AEDT -43200"},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", At(2024, 7, 1, 12, 0), "+1000 AEST 1719799200"},
      {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", At(2024, 7, 1, 12, 0), "-0200 -02 1719842400"},
      {"CET-1CEST,J60/2,J300/3", At(2024, 7, 1, 12, 0), "+0200 CEST 1719828000"},
      {"<+0530>-5:30", At(2024, 7, 1, 12, 0), "+0530 +0530 1719815400"},
      // a daylight name without rules: the changes of the posixrules file (New York's),
      // moved as the C library moves them (spring: by the difference of the standard
      // offsets; autumn: by the daylight offset), in war time too
      {"AAA3BBB", At(2006, 4, 1, 12, 0), "-0300 AAA 1143903600"},
      {"AAA3BBB", At(2024, 3, 10, 7, 0), "-0200 BBB 1710061200"},
      {"AAA3BBB", At(1943, 1, 1, 0, 0), "-0200 BBB -852069600"},
      {"AAA-9BBB,", At(2024, 11, 3, 2, 45), "+1000 BBB 1730565900"},
      {"EST5", At(2024, 7, 1, 12, 0), "-0500 EST 1719853200"},
      {"ABCDEFGHIJK-5", At(2024, 7, 1, 12, 0), "+0500 ABCDEFGHIJK 1719817200"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZABCD-5", At(2024, 7, 1, 12, 0), "+0500 ABCDEFGHIJKLMNOPQRSTUVWXYZABCD 1719817200"},
      {":Europe/Berlin", At(2024, 7, 1, 12, 0), "+0200 CEST 1719828000"},
      {"/usr/share/zoneinfo/Europe/Berlin", At(2024, 1, 1, 12, 0), "+0100 CET 1704106800"},
      // a zone file with leap seconds: local time behind by those so far, the offset as shown
      {"right/Europe/Berlin", At(2024, 7, 1, 12, 0), "+0200 CEST 1719828027"},
      {"right/Europe/Berlin", At(1999, 1, 1, 0, 0), "+0100 CET 915145221"},
      {"right/Europe/Berlin", At(1971, 1, 1, 0, 0), "+0100 CET 31532400"},
      {"", At(2024, 7, 1, 12, 0), "+0000 UTC 1719835200"},
      {":", At(2024, 7, 1, 12, 0), "+0000 UTC 1719835200"},
      {"Foo/Bar", At(2024, 7, 1, 12, 0), "+0000 Foo 1719835200"},  // no such file, nor a rule string
  };
  for (const Case& c : cases) {
    ScopedEnv tz("TZ", c.tz);
    EXPECT_EQ(Format("%z %Z %s", c.local), c.formatted) << c.tz << " " << Format("%F %T", c.local);
  }
}

TEST(ZoneTest, UtcModeIgnoresTheZone) {
  ScopedEnv tz("TZ", "America/New_York");
  SYSTEMTIME summer = At(2024, 7, 15, 12, 0);
  const ZoneSnapshot& zone = platform::TakeZoneSnapshot(true, &summer);
  EXPECT_EQ(zone.bias, 0);
  EXPECT_EQ(zone.state, ZoneStandard);
  EXPECT_EQ(U8(zone.name), "UTC");
  EXPECT_EQ(Format("%z %Z %#Z %s", summer, FDT_UTC), "+0000 UTC Z 1721044800");
}

TEST(ZoneTest, NowFollowsTheZone) {
  for (const char* name : {"Asia/Kolkata", "UTC"}) {
    ScopedEnv tz("TZ", name);
    EXPECT_EQ(platform::TakeZoneSnapshot(false, nullptr).bias, name[0] == 'A' ? -330 : 0) << name;
  }
}

// A change of TZ shows in the next call however it is made: also after calls in the same
// year, which take the year's snapshots, and after calls without TZ.
TEST(ZoneTest, FollowsEveryChangeOfTz) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  ScopedEnv tz("TZ", "America/New_York");
  const SYSTEMTIME summer = At(2024, 7, 15, 12, 0), winter = At(2024, 1, 15, 12, 0);
  auto formatTwice = [&] { return Format("%z", winter) + " " + Format("%z %Z", summer); };
  EXPECT_EQ(formatTwice(), "-0500 -0400 EDT");
  tz.Set("Europe/Berlin");
  EXPECT_EQ(formatTwice(), "+0100 +0200 CEST");
  tz.Set(nullptr);
  formatTwice();
  {
    ScopedEnv other("HORALIN_ZONE_TEST", "1");  // an entry added at the end, then TZ after it
    tz.Set("Asia/Kolkata");
    EXPECT_EQ(formatTwice(), "+0530 +0530 IST");
  }
  static char entry[] = "TZ=Asia/Tokyo\0\0\0\0\0";
  putenv(entry);
  EXPECT_EQ(formatTwice(), "+0900 +0900 JST");
  std::memcpy(entry + 3, "Asia/Kolkata", 13);  // changed in place
  EXPECT_EQ(formatTwice(), "+0530 +0530 IST");
  std::memcpy(entry + 3, "UTC", 4);  // shorter, the rest of the old value after its end
  EXPECT_EQ(formatTwice(), "+0000 +0000 UTC");
  std::string far;  // values too long to remember, which differ only at their ends
  for (int i = 0; i < 140; ++i) far += "./";
  tz.Set((far + "Asia/Tokyo").c_str());
  EXPECT_EQ(formatTwice(), "+0900 +0900 JST");
  tz.Set((far + "Asia/Kolkata").c_str());
  EXPECT_EQ(formatTwice(), "+0530 +0530 IST");
  locale.Set("de_DE.UTF-8");  // the locale changed beside TZ, between the same two calls
  tz.Set("Europe/Berlin");
  EXPECT_EQ(Format("%z %Z %B", summer), "+0200 CEST Juli");
}

// Every quarter hour of a year, shown as local time and formatted back with "%s %z %Z",
// gives the instant again, with the C library's offset and name; where the local time
// occurs twice, its first occurrence. One rule string changes twice within one day; the
// others are refused by the C library in part, and read as it reads them.
TEST(ZoneTest, UnixTimeOfEveryLocalQuarterHour) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  for (const char* name :
       {"America/New_York", "Australia/Lord_Howe", "AAA3BBB,J100/2,J100/20", "EST5EDT,M13.1.0,M11.1.0",
        "EST5EDT,M3.2.0,M11.1.0x", "EST5EDT,M3.2.0", "EST5EDT,M3.6.0,M11.1.0", "EST5EDT,J0,J100",
        "EST5EDT,M3.2.0,M11.1.0,", "EST5X", "EST5EDT,0,100", "EST5EDT,366,100", "EST5EDT,M3.2.0/25,M11.1.0/-1",
        "EST5EDT,M3.2.7,M11.1.0", "EST5EDT,M3.2", "EST5EDT,J365,J1", "<+03>-3<+04>,M3.5.0,M10.5.0/x",
        // offsets of a day and more
        "EST24EDT,M3.2.0,M11.1.0", "EST-24EDT,M3.2.0,M11.1.0", "EST5EDT-24,M3.2.0,M11.1.0"}) {
    ScopedEnv tz("TZ", name);
    std::vector<long> offsets;  // of the year, and of the end of the one before
    for (time_t t = 1704067200 - 86400; t < 1735689600; t += 900) {
      tm local;
      local = *localtime(&t);  // which reads TZ again, as localtime_r need not
      if (std::find(offsets.begin(), offsets.end(), local.tm_gmtoff) == offsets.end())
        offsets.push_back(local.tm_gmtoff);
    }
    int mismatches = 0;
    for (time_t t = 1704067200; t < 1735689600 && mismatches < 5; t += 900) {  // 2024
      tm local = *localtime(&t), earlier;
      SYSTEMTIME st{static_cast<uint16_t>(local.tm_year + 1900),
                    static_cast<uint16_t>(local.tm_mon + 1),
                    static_cast<uint16_t>(local.tm_wday),
                    static_cast<uint16_t>(local.tm_mday),
                    static_cast<uint16_t>(local.tm_hour),
                    static_cast<uint16_t>(local.tm_min),
                    0,
                    0};
      time_t expected = t;
      for (long offset : offsets) {  // the same local time shown before, at another offset?
        const time_t then = t + local.tm_gmtoff - offset;
        earlier = *localtime(&then);
        if (then < expected && earlier.tm_gmtoff == offset) expected = then;
      }
      earlier = *localtime(&expected);
      char zone[64];
      const long minutes = earlier.tm_gmtoff / 60;
      std::snprintf(zone, sizeof zone, " %c%02ld%02ld %s", minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                    std::labs(minutes) % 60, earlier.tm_zone);
      std::string got = Format("%s %z %Z", st);
      if (got != std::to_string(expected) + zone) {
        ++mismatches;
        ADD_FAILURE() << name << " " << Format("%F %T", st) << ": " << got << ", expected " << expected << zone;
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

// The long date keeps everything of the locale's full date form but the time of day,
// the zone and their own separators and words.
TEST(LocaleTest, LongDateKeepsTheLocalesOwnText) {
  ScopedEnv tz("TZ", "UTC");
  const SYSTEMTIME leapDay = {2024, 2, 4, 29, 13, 45, 6, 0};
  const std::pair<const char*, const char*> cases[] = {
      {"ko_KR.UTF-8", "2024. 02. 29. (목요일)"},
      {"lt_LT.UTF-8", "2024 m. vasario 29 d."},
      {"bg_BG.UTF-8", "29.02.2024 (четвъртък)"},
      {"zh_TW.UTF-8", "西元2024年02月29日 (週四)"},
      {"hu_HU.UTF-8", "2024. február. 29., csütörtök"},
      {"fa_IR.UTF-8", "\u202B\u067E\u0646\u062C\u0634\u0646\u0628\u0647 ۲۹ \u0641\u0648\u0631\u06CC\u0647 ۲۴\u202C"},
      {"en_PH.UTF-8", "Thursday, 29 February, 2024"},
      {"so_KE.UTF-8", "Khamiis, Bisha Labaad 29, 2024"},  // the time between two date fields
      {"fo_FO.UTF-8", "%1 tann 29. februar 2024"},        // "klokkan" and "(UTC" go with the time
      {"en_DK.UTF-8", "2024-02-29"},
      {"dv_MV.UTF-8", "2024 ފެބްރުއަރީ 29 ބުރާސްފަތި"},  // the time first
      {"ky_KG.UTF-8", "бейшемби, 29-февраль 2024 ж"},
  };
  for (const auto& [locale, expected] : cases) {
    ScopedEnv lc("LC_ALL", locale);
    EXPECT_EQ(Format("%#x", leapDay), expected) << locale;
  }
}

// The long date's form by its rule, written over the text of the locale's date_fmt:
// names in full; a run of time and zone fields goes with the text inside it and after
// it; a run that ends the form also takes the separator before it, back to a comma or
// to what the date wrote (a closing mark, a unit attached to the field); one that
// begins the form takes the text up to what is attached to the first date field.
struct FormPart {
  std::wstring text;
  int kind;  // 0 literal, 1 date, 2 time
};

// A form's literal runs and its fields, each field told a date's or a time's.
std::vector<FormPart> FormParts(const std::wstring& form) {
  static const std::wregex token(L"(%[-_0^#]*[0-9]*[EO]?[^%])|((?:%%|[^%])+)");
  static const std::wregex time(L"%.*[HIklMSpPrRTXsczZ]");
  std::vector<FormPart> parts;
  for (std::wsregex_iterator i(form.begin(), form.end(), token), end; i != end; ++i) {
    std::wstring t = i->str();
    parts.push_back({t, !(*i)[1].matched ? 0 : std::regex_match(t, time) ? 2 : 1});
  }
  return parts;
}

// The parts written again, the date's names in full.
std::wstring JoinWithFullNames(const std::vector<FormPart>& parts) {
  std::wstring out;
  for (const FormPart& p : parts) {
    std::wstring t = p.text;
    if (p.kind == 1) {
      wchar_t& c = t.back();
      if (c == L'a') c = L'A';
      if (c == L'b' || c == L'h') c = L'B';
      if (t == L"%e") t = L"%-e";
    }
    out += t;
  }
  return out;
}

std::wstring LongDateByRule(const std::wstring& form) {
  std::vector<FormPart> parts = FormParts(form);
  auto has = [&](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k)
      if (parts[k].kind == 1) return true;
    return false;
  };
  const std::wstring marks = L"\u200E\u200F\u202A\u202B\u202C\u202D\u202E\u2066\u2067\u2068\u2069";
  auto onlyMarks = [&](const std::wstring& t) {
    std::wstring kept;
    for (wchar_t c : t)
      if (marks.find(c) != std::wstring::npos) kept += c;
    return kept;
  };
  for (size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].kind != 2) continue;
    size_t last = i;
    for (size_t k = i + 1; k < parts.size() && parts[k].kind != 1; ++k)
      if (parts[k].kind == 2) last = k;
    bool before = has(0, i), after = has(last + 1, parts.size());
    for (size_t k = i; k <= last; ++k) parts[k] = {onlyMarks(parts[k].text), 0};
    if (i > 0 && parts[i - 1].kind == 0) {
      std::wstring& t = parts[i - 1].text;
      if (!before) {
        t = onlyMarks(t);
      } else if (!after) {
        size_t comma = t.find_last_of(L",\u060C\u1363\u3001\uFF0C");
        size_t keep = t == L"T" ? 0 : comma != std::wstring::npos ? comma : std::min(t.find(L' '), t.size());
        size_t close = t.find_last_of(L".)]\uFF09\u300D\u3011");
        if (comma == std::wstring::npos && close != std::wstring::npos && close >= keep) keep = close + 1;
        while (keep > 0 && t[keep - 1] == L' ') --keep;
        t.resize(keep);
      }
    }
    if (last + 1 < parts.size() && parts[last + 1].kind == 0) {
      std::wstring& t = parts[last + 1].text;
      t = after && !before ? t.substr(t.find_last_of(L" ,\u060C") + 1) : onlyMarks(t);
    }
    i = last;
  }
  return JoinWithFullNames(parts);
}

std::string Narrow(const std::wstring& text) {
  std::u16string wide;
  for (wchar_t c : text)
    if (c < 0x10000) {
      wide += static_cast<char16_t>(c);
    } else {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  return U8(wide.c_str());
}

std::string Strftime(locale_t locale, const std::wstring& form, const SYSTEMTIME& t) {
  tm time{};
  time.tm_year = t.wYear - 1900, time.tm_mon = t.wMonth - 1, time.tm_mday = t.wDay;
  time.tm_hour = t.wHour, time.tm_min = t.wMinute, time.tm_sec = t.wSecond, time.tm_wday = t.wDayOfWeek;
  timegm(&time);
  wchar_t text[1024];
  size_t n = wcsftime_l(text, 1024, form.c_str(), &time, locale);
  return Narrow(std::wstring(text, n));
}

// Every installed locale, against the C library: %#x is the long date by its rule; %x and
// %X are the locale's forms as strftime renders them (%X without the zone, which the
// C library would give for the process, not for the time being formatted); %c is %x, a
// blank and %X.
TEST(LocaleTest, FormsMatchTheCLibraryInEveryLocale) {
  ScopedEnv tz("TZ", "UTC");
  FILE* list = popen("locale -a", "r");
  ASSERT_NE(list, nullptr);
  std::vector<std::string> names;
  for (char line[256]; std::fgets(line, sizeof line, list);)
    names.push_back(std::string(line, std::strcspn(line, "\n")));
  pclose(list);
  ASSERT_GT(names.size(), 100u) << "locales-all is not installed";
  const SYSTEMTIME dates[] = {
      {2024, 2, 4, 29, 13, 45, 6, 0}, {1999, 12, 5, 31, 0, 0, 0, 0}, {2026, 7, 0, 5, 9, 7, 5, 0}};
  const std::wregex zone(L"^%[EO]?[zZ] | ?%[EO]?[zZ]");  // with its blank
  for (const std::string& name : names) {
    locale_t c = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
    if (!c) continue;
    ScopedEnv lc("LC_ALL", name.c_str());
    auto item = [&](nl_item i) { return std::wstring(reinterpret_cast<const wchar_t*>(nl_langinfo_l(i, c))); };
    const std::wstring longDate = LongDateByRule(item(_NL_W_DATE_FMT));
    const std::wstring time =
        std::regex_replace(item(_NL_WT_FMT) == L"%r" ? item(_NL_WT_FMT_AMPM) : item(_NL_WT_FMT), zone, L"");
    for (const SYSTEMTIME& t : dates) {
      std::string x = Strftime(c, L"%x", t), X = Strftime(c, time, t);
      EXPECT_EQ(Format("%#x|%x|%X|%c", t), Strftime(c, longDate, t) + "|" + x + "|" + X + "|" + x + " " + X)
          << name << " " << Narrow(item(_NL_W_DATE_FMT)) << " " << t.wYear;
    }
    freelocale(c);
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
  static char entry[] = "LC_ALL=fr_FR.UTF-8";
  putenv(entry);
  EXPECT_EQ(Format("%B", kSunday), "décembre");
  std::memcpy(entry + 7, "de_DE", 5);  // changed in place
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
