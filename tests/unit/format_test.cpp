// The format interpreter: every directive and modifier, the emission rule, escapes in
// context and the capacity of the output. Zones of the tests' own (UTC unless a test
// names another) and the locale C.UTF-8 throughout; the zone and locale backends have
// tests of their own.
#include "datetime/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "datetime/calendar.h"
#include "datetime/directives.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"
#include "tests/support/test_services.h"

namespace horalin {
namespace {

using testing::kServicesIn;
using testing::ScopedEnv;
using testing::U16;
using testing::U8;

// Sunday 2026-12-06 13:05:09.042.
constexpr SYSTEMTIME kSunday = {2026, 12, 0, 6, 13, 5, 9, 42};

class FormatTest : public ::testing::Test {
 protected:
  ScopedEnv locale{"LC_ALL", "C.UTF-8"};
};

constexpr const Services& kInUtc = kServicesIn<testing::kUtc>;

// The record of a local time (UTC under FDT_UTC) in the zone of `services`, through the
// one resolver; a date and time outside the contract stands as it is, at the instant its
// fields give read as UTC.
DateTime RecordOf(const SYSTEMTIME& time, uint32_t flags, const Services& services) {
  DateTime record{};
  const bool utc = (flags & FDT_UTC) != 0;
  if (ResolveLocalTime(time, uint32_t{time.wMilliseconds} * 1000000, utc, services, &record)) return record;
  record.local = time;
  record.zone = services.zoneAt(utc, &time, nullptr);
  record.instant = {SecondsSince1970(DateFields{.time = time, .valid = false, .nanoseconds = 0}), 0};
  return record;
}

// The format rendered by the interpreter, which must give what the compiled format gives.
std::u16string Format16(const std::u16string& format, const SYSTEMTIME& time, uint32_t flags = 0,
                        int64_t* result = nullptr, const Services& services = kInUtc) {
  static CompiledFormat compiled;
  std::vector<char16_t> out(kFormatText, u'#'), again(kFormatText, u'#');
  const DateTime record = RecordOf(time, flags, services);
  int64_t length = FormatDateTime(out.data(), format.c_str(), record, flags, services);
  if (result) *result = length;
  std::u16string text(out.data());
  EXPECT_EQ(static_cast<int64_t>(text.size()), length) << "result and terminator agree";
  if (CompileFormat(format.c_str(), flags, &compiled)) {
    EXPECT_EQ(RenderFormat(again.data(), compiled, record, services), length);
    EXPECT_EQ(std::u16string(again.data()), text) << "compiled";
  }
  return text;
}

std::string Format(const std::string& format, const SYSTEMTIME& time = kSunday, uint32_t flags = 0,
                   const Services& services = kInUtc) {
  return U8(Format16(U16(format), time, flags, nullptr, services));
}

struct Case {
  const char* format;
  const char* expected;
};

void ExpectFormats(const Case* cases, size_t count, const SYSTEMTIME& time, uint32_t flags = 0) {
  for (size_t i = 0; i < count; ++i)
    EXPECT_EQ(Format(cases[i].format, time, flags), cases[i].expected) << cases[i].format;
}

TEST_F(FormatTest, NumericDirectives) {
  const Case cases[] = {
      {"%C", "20"},        {"%#C", "20"},        {"%d", "06"},     {"%#d", "6"},     {"%e", " 6"},
      {"%#e", "6"},        {"%g", "26"},         {"%#g", "26"},    {"%G", "2026"},   {"%H", "13"},
      {"%#H", "13"},       {"%I", "01"},         {"%#I", "1"},     {"%j", "340"},    {"%#j", "340"},
      {"%J", "155568"},    {"%k", "13"},         {"%K", "1"},      {"%l", " 1"},     {"%#l", "1"},
      {"%L", "042"},       {"%#L", "42"},        {"%m", "12"},     {"%#m", "12"},    {"%M", "05"},
      {"%#M", "5"},        {"%N", "21"},         {"%S", "09"},     {"%#S", "9"},     {"%u", "7"},
      {"%U", "49"},        {"%#U", "49"},        {"%V", "49"},     {"%w", "0"},      {"%W", "48"},
      {"%y", "26"},        {"%#y", "26"},        {"%Y", "2026"},   {"%#Y", "2026"},  {"%\u00C6", "31"},
      {"%\u00E6", "365"},  {"%\u00E7", "0"},     {"%f", "042000"}, {"%#f", "42000"}, {"%i", "042000000"},
      {"%#i", "42000000"}, {"%O?f", "042000th"},
  };
  ExpectFormats(cases, std::size(cases), kSunday);
}

TEST_F(FormatTest, CompositeAndTextDirectives) {
  const Case cases[] = {
      {"%D", "12/06/26"},
      {"%#D", "12/6/26"},
      {"%F", "2026-12-06"},
      {"%#F", "2026-12-6"},
      {"%Q", "2026-340"},
      {"%#Q", "2026-W49-7"},
      {"%r", "01:05:09 PM"},
      {"%#r", "01:05:09 PM"},
      {"%R", "13:05"},
      {"%#R", "13:5"},
      {"%T", "13:05:09"},
      {"%#T", "13:5:9"},
      {"%@", "U"},
      {"%n", "\n"},
      {"%t", "\t"},
      {"%p", "PM"},
      {"%P", "pm"},
      {"%v", " 6-Dec-2026"},
      {"%#v", "6-Dec-2026"},
      {"%a", "Sun"},
      {"%#a", "Sun"},
      {"%A", "Sunday"},
      {"%b", "Dec"},
      {"%h", "Dec"},
      {"%B", "December"},
      {"%x", "12/06/26"},
      {"%X", "13:05:09"},
      {"%#X", "13:05:09"},
      {"%c", "12/06/26 13:05:09"},
      {"%#x", "Sunday December 6 2026"},
      {"%#c", "Sunday December 6 2026 13:05:09"},
      {"%z", "+0000"},
      {"%Z", "UTC"},
      {"%#Z", "Z"},
      {"%s", "1796562309"},
      // not in the table: the character itself
      {"%q", "q"},
      {"%o", "o"},
      {"%1", "1"},
      {"%.", "."},
      {"%\U0001F600", "\U0001F600"},
  };
  ExpectFormats(cases, std::size(cases), kSunday);
}

TEST_F(FormatTest, PercentSignsAndTheEndOfTheFormat) {
  const Case doubled[] = {{"%%", "%%"},     {"\\p", "%%"},     {"\\%", "%%"}, {"\\#37", "%%"},
                          {"a%%b", "a%%b"}, {"%^%", "%%"},     {"", ""},      {"%", ""},
                          {"%#", ""},       {"abc%#E", "abc"}, {"x\\", "x"}};
  ExpectFormats(doubled, std::size(doubled), kSunday);
  const Case single[] = {{"%%", "%"}, {"\\p", "%"}, {"\\x25", "%"}, {"100%% at %H", "100% at 13"}};
  ExpectFormats(single, std::size(single), kSunday, FDT_NO_DOUBLE_PERCENT);
}

TEST_F(FormatTest, RomanNumeralModifier) {
  const Case cases[] = {
      {"%OY", "MMXXVI"},     {"%OC", "XX"},   {"%O#C", "MM"}, {"%ON", "XXI"},       {"%O#N", "MMC"},
      {"%OG", "MMXXVI"},     {"%Og", "26"},   {"%Od", "VI"},  {"%O#d", "VJ"},       {"%Oe", "VI"},
      {"%Om", "XII"},        {"%OH", "XIII"}, {"%OI", "I"},   {"%O#I", "J"},        {"%Ol", "I"},
      {"%Oj", "CCCXL"},      {"%OV", "XLIX"}, {"%Ou", "VII"}, {"%O#u", "VIJ"},      {"%OK", "I"},
      {"%OM", "05"},         {"%OS", "09"},   {"%OL", "042"}, {"%OJ", "155568"},    {"%OU", "49"},
      {"%OW", "48"},         {"%Ow", "0"},    {"%Oy", "26"},  {"%O\u00C6", "XXXI"}, {"%O\u00E6", "CCCLXV"},
      {"%OF", "2026-12-06"}, {"%Oa", "Sun"},
  };
  ExpectFormats(cases, std::size(cases), kSunday);
}

TEST_F(FormatTest, OrdinalSuffixModifier) {
  const Case cases[] = {
      // after the Roman step
      {"%?d", "06th"},     {"%#?d", "6th"},       {"%O?d", "VIth"}, {"%?m", "12th"}, {"%?Y", "2026th"},
      {"%?j", "340th"},    {"%?K", "1st"},        {"%?u", "7th"},   {"%?H", "13th"}, {"%?I", "01st"},
      {"%?V", "49th"},     {"%?G", "2026th"},     {"%?g", "26th"},  {"%?y", "26th"}, {"%?M", "05th"},
      {"%?S", "09th"},     {"%?L", "042nd"},      {"%?w", "0th"},   {"%?C", "20th"}, {"%?N", "21st"},
      {"%?J", "155568th"}, {"%?F", "2026-12-06"}, {"%?a", "Sun"},   {"%?%", "%%"},
  };
  ExpectFormats(cases, std::size(cases), kSunday);
}

TEST_F(FormatTest, EnglishCaseAndDigitModifiersInAnyNumberAndOrder) {
  const Case cases[] = {
      // English names, and two letters with "#"
      {"%Ea", "Sun"},
      {"%#Ea", "Su"},
      {"%E#a", "Su"},
      {"%EA", "Sunday"},
      {"%Eb", "Dec"},
      {"%EB", "December"},
      {"%Ev", " 6-Dec-2026"},
      {"%Ep", "PM"},
      // case: the last case modifier wins; it applies to any text
      {"%^B", "DECEMBER"},
      {"%!A", "SUNDAY"},
      {"%,a", "sun"},
      {"%,^a", "SUN"},
      {"%^,a", "sun"},
      {"%^q", "Q"},
      {"%,Q", "2026-340"},
      {"%^#Q", "2026-W49-7"},
      {"%,p", "pm"},
      {"%^P", "PM"},
      {"%^O#d", "VJ"},
      {"%,Od", "vi"},
      {"%,?d", "06th"},
      {"%^?d", "06TH"},
      // native digits: the C locale has none
      {"%~d", "06"},
      {"%~F", "2026-12-06"},
      // any number and order of modifiers; repeats change nothing
      {"%##d", "6"},
      {"%?#?d", "6th"},
      {"%E^#a", "SU"},
      {"%~O?E#,d", "vjth"},
  };
  ExpectFormats(cases, std::size(cases), kSunday);
}

TEST_F(FormatTest, HoursOnBothClocks) {
  struct HourCase {
    uint16_t hour, minute;
    const char* format;
    const char* expected;
  };
  const HourCase cases[] = {
      {0, 5, "%H %I %k %l %p", "00 12  0 12 AM"},
      {0, 5, "%OH %Ok %OI", "XXIV XXIV XII"},
      {0, 5, "%r", "12:05:00 AM"},
      {0, 5, "%#H %#k", "0 0"},
      {11, 59, "%I %p", "11 AM"},
      {12, 30, "%I %l %p", "12 12 PM"},
      {13, 0, "%l", " 1"},
      {23, 59, "%I %OH", "11 XXIII"},
      {12, 0, "%P", "pm"},
  };
  for (const HourCase& c : cases) {
    SYSTEMTIME t = kSunday;
    t.wHour = c.hour;
    t.wMinute = c.minute;
    t.wSecond = 0;
    EXPECT_EQ(Format(c.format, t), c.expected) << c.hour << ":" << c.minute << " " << c.format;
  }
}

TEST_F(FormatTest, CalendarEdges) {
  struct DateCase {
    SYSTEMTIME time;
    const char* format;
    const char* expected;
  };
  const DateCase cases[] = {
      {{2024, 1, 1, 1, 0, 0, 0, 0}, "%W %U %V %j %\u00E6 %\u00E7", "01 00 01 001 366 1"},  // 1 January a Monday
      {{2023, 1, 0, 1, 0, 0, 0, 0}, "%W %U %V %G %g", "00 01 52 2022 22"},                 // 1 January a Sunday
      {{2024, 2, 4, 29, 0, 0, 0, 0}, "%\u00C6 %j %J", "29 060 154557"},
      {{2023, 2, 2, 28, 0, 0, 0, 0}, "%\u00C6 %O\u00C6", "28 XXVIII"},
      {{2000, 1, 6, 1, 0, 0, 0, 0}, "%C %N %O#C %O#N", "20 20 MM MM"},
      {{2001, 1, 1, 1, 0, 0, 0, 0}, "%C %N %y %D", "20 21 01 01/01/01"},
      {{1601, 1, 1, 1, 0, 0, 0, 0}, "%F %J %Q %#Q %@ %u %K", "1601-01-01 1 1601-001 1601-W01-1 M 1 2"},
      {{9999, 12, 5, 31, 23, 59, 59, 999}, "%J %#Q %OY %L %@", "3067671 9999-W52-5 MMMMMMMMMCMXCIX 999 F"},
      {{2020, 12, 4, 31, 0, 0, 0, 0}, "%V %#Q %j", "53 2020-W53-4 366"},
      {{2024, 12, 1, 30, 0, 0, 0, 0}, "%G-W%V %g", "2025-W01 25"},
      {{2026, 12, 0, 13, 0, 0, 0, 0}, "%?d %#?d %O?d", "13th 13th XIIIth"},
      {{2026, 12, 2, 22, 0, 0, 0, 0}, "%#?d %?e", "22nd 22nd"},
      {{2026, 3, 2, 3, 0, 0, 0, 0}, "%#?m %O#d %O#m %?d", "3rd IIJ IIJ 03rd"},
      {{2026, 12, 1, 21, 0, 0, 0, 0}, "%O?d", "XXIst"},
      {{2026, 12, 2, 1, 0, 0, 0, 0}, "%?d %Od", "01st I"},
      {{2026, 12, 3, 2, 0, 0, 0, 0}, "%@%@", "WW"},
      {{2026, 12, 4, 3, 0, 0, 0, 0}, "%@ %a", "R Thu"},
      {{2026, 12, 6, 5, 0, 0, 0, 0}, "%@ %A %u %w %K", "S Saturday 6 6 7"},
  };
  for (const DateCase& c : cases) EXPECT_EQ(Format(c.format, c.time), c.expected) << c.format;
}

TEST_F(FormatTest, UnixTime) {
  struct UnixCase {
    SYSTEMTIME time;
    const char* expected;
  };
  const UnixCase cases[] = {
      {{1970, 1, 4, 1, 0, 0, 0, 0}, "0 0th"},
      {{1969, 12, 3, 31, 23, 59, 59, 0}, "-1 -1st"},
      {{1601, 1, 1, 1, 0, 0, 0, 0}, "-11644473600 -11644473600th"},
      {{9999, 12, 5, 31, 23, 59, 59, 999}, "253402300799 253402300799th"},
      {{2038, 1, 2, 19, 3, 14, 8, 0}, "2147483648 2147483648th"},
      {{2001, 9, 0, 9, 1, 46, 40, 0}, "1000000000 1000000000th"},
      {{2001, 9, 0, 9, 1, 46, 52, 0}, "1000000012 1000000012th"},
      {{2001, 9, 0, 9, 1, 46, 39, 0}, "999999999 999999999th"},
      {{1973, 3, 6, 3, 9, 46, 40, 0}, "100000000 100000000th"},
      {{1973, 3, 6, 3, 9, 46, 39, 0}, "99999999 99999999th"},
      {{1938, 4, 0, 24, 22, 13, 21, 0}, "-999999999 -999999999th"},
  };
  for (const UnixCase& c : cases) {
    EXPECT_EQ(Format("%s %?s", c.time, FDT_UTC), c.expected);
    EXPECT_EQ(Format("%s %?s", c.time, 0), c.expected) << "in UTC, local time is UTC";
  }
  EXPECT_EQ(Format("%Os %~s", {1970, 1, 4, 1, 0, 0, 1, 0}), "1 1");
}

TEST_F(FormatTest, UtcMode) {
  EXPECT_EQ(Format("%z %Z %#Z %s", {2024, 7, 1, 15, 12, 0, 0, 0}, FDT_UTC, kServicesIn<testing::kNewYork>),
            "+0000 UTC Z 1721044800");
}

TEST_F(FormatTest, EscapesInContext) {
  const Case cases[] = {
      {"\\xyz", "xyz"},
      {"%d\\-1", "061"},
      {"\\#0", "\\0"},
      {"\\0", "\\"},
      {"\\x0", "\\0"},
      {"\\u0000", "\\0000"},
      {"\\U00110000", "\\00110000"},
      {"\\uD800", "\\D800"},
      {"\\#70000", "\\70000"},
      {"\\#123456", "\u30396"},
      {"\\x00410", "A0"},
      {"\\778", "?8"},
      {"\\777", "\u01FF"},
      {"\\u0080\\#128\\200", "\u20AC\u20AC\u20AC"},
      {"\\x81", " "},
      {"\\uZZ", "uZZ"},
      {"\\N", "N"},
      {"\\c\\q\\k\\s", ",\"` "},
      {"\\\\%d", "\\06"},
      {"\\U0001F600", "\U0001F600"},
      {"a\\tb\\nc", "a\tb\nc"},
      {"\\e\\a\\b\\f\\v\\r", "\x1b\a\b\f\v\r"},
      {"\\\u0085", "\u2026"},
      {"\u0085", "\u0085"},  // the table applies to escapes only
  };
  ExpectFormats(cases, std::size(cases), kSunday);
  EXPECT_EQ(Format16(u"\\xD800x", kSunday), std::u16string(u"\xD800x"));
  EXPECT_EQ(Format16(u"a\xDC00\xD800z", kSunday), std::u16string(u"a\xDC00\xD800z")) << "lone halves are copied";
}

TEST_F(FormatTest, NullAndEmptyFormats) {
  std::vector<char16_t> out(kFormatText, u'#');
  EXPECT_EQ(FormatDateTime(out.data(), nullptr, RecordOf(kSunday, 0, kInUtc), 0, kInUtc), -1);
  EXPECT_EQ(out[0], u'#') << "untouched";
  out[0] = u'x';
  EXPECT_EQ(FormatDateTime(out.data(), u"", RecordOf(kSunday, 0, kInUtc), 0, kInUtc), 0);
  EXPECT_EQ(out[0], 0);
}

// The output holds 8191 units. Literal units, escapes and directive texts all stop there
// and the scan runs on; a surrogate pair is written whole or not at all.
TEST_F(FormatTest, Capacity) {
  struct CapacityCase {
    size_t fill;  // letters before the tail
    std::u16string tail;
    uint32_t flags;
    std::u16string expectedEnd;  // what follows the letters
  };
  const CapacityCase cases[] = {
      {9000, u"", 0, u""},
      {8191, u"%F\\x41%%", 0, u""},
      {8190, u"%%", 0, u"%"},
      {8190, u"\\p", 0, u"%"},
      {8189, u"\\p", 0, u"%%"},
      {8190, u"%%", FDT_NO_DOUBLE_PERCENT, u"%"},
      {8185, u"%F", 0, u"2026-1"},
      {8185, u"%F!", 0, u"2026-1"},
      {8185, u"%H:%M:%S", 0, u"13:05:"},
      {8186, u"%H:%M:%S", 0, u"13:05"},
      {8189, u"\\U0001F600", 0, u"\U0001F600"},
      {8190, u"\\U0001F600", 0, u""},
      {8190, u"\U0001F600", 0, u""},
      {8190, u"%\U0001F600", 0, u""},
      {8190, u"\\\U0001F600", 0, u""},
      {8190, u"\U0001F600a", 0, u"a"},
      {8189, u"\U0001F600", 0, u"\U0001F600"},
  };
  for (const CapacityCase& c : cases) {
    std::u16string format(c.fill, u'a');
    format += c.tail;
    int64_t result = 0;
    std::u16string text = Format16(format, kSunday, c.flags, &result);
    std::u16string expected = std::u16string(std::min<size_t>(c.fill, 8191), u'a') + c.expectedEnd;
    EXPECT_EQ(result, static_cast<int64_t>(expected.size())) << c.fill << " + " << U8(c.tail);
    EXPECT_TRUE(text == expected) << c.fill << " + " << U8(c.tail) << " ends in " << U8(text.substr(8180));
  }
}

// Week numbers of every day of a full 400-year cycle and of the last years, against a
// walk that counts Sundays and Mondays and finds each week's Thursday.
TEST_F(FormatTest, WeekNumbersMatchANaiveWalk) {
  struct WalkDay {
    uint16_t year, month, day, dayOfYear;
  };
  std::vector<WalkDay> days(static_cast<size_t>(kLastDay) + 1);
  static const uint16_t lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  WalkDay walk{1601, 1, 1, 1};
  for (DayNumber n = kFirstDay; n <= kLastDay; ++n) {
    days[static_cast<size_t>(n)] = walk;
    bool leap = (walk.year % 4 == 0 && walk.year % 100 != 0) || walk.year % 400 == 0;
    ++walk.dayOfYear;
    if (++walk.day > (walk.month == 2 && leap ? 29 : lengths[walk.month])) {
      walk.day = 1;
      if (++walk.month > 12) walk.month = 1, ++walk.year, walk.dayOfYear = 1;
    }
  }
  int mismatches = 0;
  unsigned sundays = 0, mondays = 0;
  for (DayNumber n = kFirstDay; n <= kLastDay && mismatches < 5; ++n) {
    const WalkDay& d = days[static_cast<size_t>(n)];
    if (d.dayOfYear == 1) sundays = mondays = 0;
    unsigned weekday = static_cast<unsigned>(n % 7);  // 0 Sunday
    sundays += weekday == 0;
    mondays += weekday == 1;
    if (d.year > 2000 && d.year < 9990) continue;
    const WalkDay& thursday = days[static_cast<size_t>(n - (weekday == 0 ? 7 : static_cast<DayNumber>(weekday)) + 4)];
    char expected[64];
    std::snprintf(expected, sizeof expected, "%02u %02u %02u %04u %02u %03u", sundays, mondays,
                  (thursday.dayOfYear - 1u) / 7 + 1, unsigned{thursday.year}, thursday.year % 100u,
                  unsigned{d.dayOfYear});
    SYSTEMTIME t{d.year, d.month, static_cast<uint16_t>(weekday), d.day, 0, 0, 0, 0};
    std::string got = Format("%U %W %V %G %g %j", t);
    if (got != expected) {
      ++mismatches;
      ADD_FAILURE() << d.year << "-" << d.month << "-" << d.day << ": expected " << expected << ", got " << got;
    }
  }
}

// The zone's directives with every modifier, in zones east and west of UTC and with
// offsets of half hours: a modifier takes the same writer as the directive without it,
// so a sign or an offset read wrongly would show in every column.
TEST_F(FormatTest, ZoneDirectivesWithEveryModifierInSeveralZones) {
  struct ZoneCase {
    const Services& zone;
    SYSTEMTIME time;
    const char* expected;
  };
  const char* format = "%z %#z %Ez %Oz %?z %~z %^z %,z|%Z %^Z %,Z %EZ %#Z %E#Z|%s %?s %Os %#s %Es %~s";
  const SYSTEMTIME summer = {2024, 7, 1, 15, 12, 0, 0, 0};  // 1721044800 as UTC
  const ZoneCase cases[] = {
      {kInUtc, kSunday,
       "+0000 +0000 +0000 +0000 +0000 +0000 +0000 +0000|UTC UTC utc UTC Z Z|"
       "1796562309 1796562309th 1796562309 1796562309 1796562309 1796562309"},
      {kServicesIn<testing::kNewYork>, kSunday,
       "-0500 -0500 -0500 -0500 -0500 -0500 -0500 -0500|EST EST est EST R R|"
       "1796580309 1796580309th 1796580309 1796580309 1796580309 1796580309"},
      {kServicesIn<testing::kNewYork>, summer,
       "-0400 -0400 -0400 -0400 -0400 -0400 -0400 -0400|EDT EDT edt EDT Q Q|"
       "1721059200 1721059200th 1721059200 1721059200 1721059200 1721059200"},
      {kServicesIn<testing::kKolkata>, kSunday,
       "+0530 +0530 +0530 +0530 +0530 +0530 +0530 +0530|IST IST ist IST - -|"
       "1796542509 1796542509th 1796542509 1796542509 1796542509 1796542509"},
      {kServicesIn<testing::kStJohns>, kSunday,
       "-0330 -0330 -0330 -0330 -0330 -0330 -0330 -0330|NST NST nst NST - -|"
       "1796574909 1796574909th 1796574909 1796574909 1796574909 1796574909"},
      {kServicesIn<testing::kTokyo>,
       {1970, 1, 4, 1, 8, 59, 58, 0},
       "+0900 +0900 +0900 +0900 +0900 +0900 +0900 +0900|JST JST jst JST I I|"
       "-2 -2nd -2 -2 -2 -2"},
  };
  for (const ZoneCase& c : cases) {
    EXPECT_EQ(Format(format, c.time, 0, c.zone), c.expected) << U8(c.zone.zoneAt(false, &c.time, nullptr).name);
  }
}

// Every directive of the table reads the same with the modifiers that change nothing in
// the C locale ("E" but for "%#Ea"; "~": the locale has no digits of its own) as
// without them, on every day of years at the calendar's turns and at both ends, at times
// from midnight to the last millisecond, in zones east and west of UTC. A directive
// without modifiers on a valid date takes its writer's unmodified form, with modifiers the
// general one: both must agree.
TEST_F(FormatTest, ModifiersThatChangeNothingChangeNothing) {
  std::u16string unmodified, english, native;
  for (const Directive& d : kDirectives) {
    unmodified += {u'%', d.c, u'|'};
    english += {u'%', u'E', d.c, u'|'};
    native += {u'%', u'~', d.c, u'|'};
  }
  const SYSTEMTIME times[] = {
      {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 23, 59, 59, 999}, {0, 0, 0, 0, 12, 30, 5, 7}, {0, 0, 0, 0, 1, 9, 10, 42}};
  const uint32_t years[] = {1601, 1602, 1700, 1900, 1999, 2000, 2004, 2026, 9900, 9901, 9998, 9999};
  int mismatches = 0;
  size_t i = 0;
  for (const Services* zone :
       {&kInUtc, &kServicesIn<testing::kNewYork>, &kServicesIn<testing::kKolkata>, &kServicesIn<testing::kChatham>}) {
    for (uint32_t year : years) {
      for (DayNumber n = DayNumberFromDate(year, 1, 1); n <= DayNumberFromDate(year, 12, 31) && mismatches < 5;
           n += zone == &kInUtc ? 1 : 5) {
        uint32_t y, m, d;
        DateFromDayNumber(n, &y, &m, &d);
        SYSTEMTIME t = times[i++ % std::size(times)];
        t.wYear = static_cast<uint16_t>(y), t.wMonth = static_cast<uint16_t>(m), t.wDay = static_cast<uint16_t>(d);
        t.wDayOfWeek = static_cast<uint16_t>(n % 7);
        for (uint32_t flags : {0u, FDT_NO_DOUBLE_PERCENT, FDT_UTC}) {
          const std::u16string expected = Format16(unmodified, t, flags, nullptr, *zone);
          for (const std::u16string* other : {&english, &native}) {
            if (std::u16string got = Format16(*other, t, flags, nullptr, *zone); got != expected) {
              ++mismatches;
              ADD_FAILURE() << U8(zone->zoneAt(false, &t, nullptr).name) << " " << y << "-" << m << "-" << d << ": "
                            << U8(got) << " instead of " << U8(expected);
            }
          }
        }
      }
    }
  }
}

// Dates outside the contract (month 0 or 14, weekday 9, year 0) format as nonsense but
// never read outside a table (run under the sanitizers this catches any such read), and
// every directive still ends where it should: each literal "|" of the format comes out.
TEST_F(FormatTest, DatesOutsideTheContractAreSafe) {
  const SYSTEMTIME odd[] = {{2026, 0, 9, 0, 25, 61, 61, 1000},
                            {2026, 14, 7, 40, 0, 0, 0, 0},
                            {0, 1, 0, 1, 0, 0, 0, 0},
                            {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}};
  std::u16string format;
  size_t bars = 0;
  for (char16_t c = 0x20; c < 0x7F; ++c)
    if (c != u'|') format += {u'%', c, u'|', u'%', u'O', u'?', u'#', u'E', u'^', c, u'|'}, bars += 2;
  format += u"%H:%M:%S|%H:%M%S|%\u00C6%\u00E6%\u00E7", bars += 2;
  for (const SYSTEMTIME& t : odd)
    for (const uint32_t flags : {0u, static_cast<uint32_t>(FDT_UTC)}) {
      const std::u16string text = Format16(format, t, flags);
      EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), u'|')), bars) << t.wYear << " " << t.wMonth;
    }
}

}  // namespace
}  // namespace horalin
