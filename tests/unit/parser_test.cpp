// The date and time argument parser: every accepted form, every error with its message
// (as its caller reports it) and result code, and a walk over the whole calendar.
#include "datetime/parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "datetime/calendar.h"
#include "datetime/stamp_forms.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "plugin/errors.h"
#include "tests/support/test_host.h"
#include "tests/support/test_services.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::kServicesIn;
using testing::U16;

// Outside a batch file: messages follow the prefix directly.
void ResetHost(std::vector<std::pair<std::string, std::string>> variables = {{"_batch", "0"}}) {
  testing::ResetHost(std::move(variables));
}

// Parses as @DATEFMT does: the parser itself writes nothing, and its caller reports a
// refusal with the message and the caret display.
// `t` receives the record's local time.
int32_t ParseAndReport(const char16_t* text, SYSTEMTIME* t, const char16_t** end, int32_t* utc,
                       const Services& services = kServicesIn<testing::kUtc>) {
  const std::string before = CapturedErrors();
  ParseError error{};
  DateTime record{};
  int32_t result = ParseDateTime(text, t ? &record : nullptr, end, utc, &error, services);
  if (result == 0 && t) *t = record.local;
  EXPECT_EQ(CapturedErrors(), before) << "the parser writes nothing";
  if (result > 0) ReportParseError(text, error);
  return result;
}

struct Accepted {
  const char* input;
  uint16_t year, month, day, dayOfWeek, hour, minute, second, milliseconds;
  int32_t utc;
  int end;  // units from the start to the end position
};

void ExpectAccepted(std::initializer_list<Accepted> cases) {
  for (const Accepted& c : cases) {
    std::string input = c.input;
    std::u16string text = U16(input);
    SYSTEMTIME t;
    const char16_t* end = nullptr;
    int32_t utc = -1;
    ResetHost();
    ASSERT_EQ(ParseAndReport(text.c_str(), &t, &end, &utc), 0) << input << "\n" << CapturedErrors();
    EXPECT_EQ(CapturedErrors(), "") << input;
    EXPECT_EQ(t.wYear, c.year) << input;
    EXPECT_EQ(t.wMonth, c.month) << input;
    EXPECT_EQ(t.wDay, c.day) << input;
    EXPECT_EQ(t.wDayOfWeek, c.dayOfWeek) << input;
    EXPECT_EQ(t.wHour, c.hour) << input;
    EXPECT_EQ(t.wMinute, c.minute) << input;
    EXPECT_EQ(t.wSecond, c.second) << input;
    EXPECT_EQ(t.wMilliseconds, c.milliseconds) << input;
    EXPECT_EQ(utc, c.utc) << input;
    EXPECT_EQ(end - text.c_str(), c.end) << input;
  }
}

TEST(ParseDateTimeTest, CalendarOrdinalAndWeekDates) {
  ExpectAccepted({
      // Calendar dates; no width is required.
      {"2024-02-29", 2024, 2, 29, 4, 0, 0, 0, 0, 0, 10},
      {"2024-2-5", 2024, 2, 5, 1, 0, 0, 0, 0, 0, 8},
      {"2024-1-1 1:2:3", 2024, 1, 1, 1, 1, 2, 3, 0, 0, 14},
      {"2024-001-0031 010:005:0059", 2024, 1, 31, 3, 10, 5, 59, 0, 0, 26},
      {"0002024-01-01", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 13},
      {"1601-01-01", 1601, 1, 1, 1, 0, 0, 0, 0, 0, 10},
      {"9999-12-31", 9999, 12, 31, 5, 0, 0, 0, 0, 0, 10},
      // Ordinal dates: a number after the year's hyphen without a hyphen after it.
      {"2024-12", 2024, 1, 12, 5, 0, 0, 0, 0, 0, 7},
      {"2024-060", 2024, 2, 29, 4, 0, 0, 0, 0, 0, 8},
      {"2023-060", 2023, 3, 1, 3, 0, 0, 0, 0, 0, 8},
      {"2024-366", 2024, 12, 31, 2, 0, 0, 0, 0, 0, 8},
      {"2023-365", 2023, 12, 31, 0, 0, 0, 0, 0, 0, 8},
      // ISO week dates, into the year before and the year after.
      {"2024-W01-1", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 10},
      {"2020-W01-1", 2019, 12, 30, 1, 0, 0, 0, 0, 0, 10},
      {"2015-W01-4", 2015, 1, 1, 4, 0, 0, 0, 0, 0, 10},
      {"2026-W53-7", 2027, 1, 3, 0, 0, 0, 0, 0, 0, 10},
      {"2024-W05-3", 2024, 1, 31, 3, 0, 0, 0, 0, 0, 10},
      {"2024-w05-3", 2024, 1, 31, 3, 0, 0, 0, 0, 0, 10},
      {"2024-W1-7", 2024, 1, 7, 0, 0, 0, 0, 0, 0, 9},
      {"1601-W01-1", 1601, 1, 1, 1, 0, 0, 0, 0, 0, 10},
      {"9999-W52-5", 9999, 12, 31, 5, 0, 0, 0, 0, 0, 10},
  });
}

TEST(ParseDateTimeTest, TimesAndUtcMarkers) {
  ExpectAccepted({
      // Times: "T" or blanks before the hour, seconds, fractions truncated to milliseconds.
      {"2024-01-01T10:30", 2024, 1, 1, 1, 10, 30, 0, 0, 0, 16},
      {"2024-01-01t23:59:59", 2024, 1, 1, 1, 23, 59, 59, 0, 0, 19},
      {"2024-01-01   10:30", 2024, 1, 1, 1, 10, 30, 0, 0, 0, 18},
      {"2024-01-01 10:30:15.5", 2024, 1, 1, 1, 10, 30, 15, 500, 0, 21},
      {"2024-01-01 10:30:15.1239", 2024, 1, 1, 1, 10, 30, 15, 123, 0, 24},
      {"2024-01-01 10:30:15.", 2024, 1, 1, 1, 10, 30, 15, 0, 0, 20},
      {"2024-01-01 00:00:00.007", 2024, 1, 1, 1, 0, 0, 0, 7, 0, 23},
      {"2024-W05-3T08:15", 2024, 1, 31, 3, 8, 15, 0, 0, 0, 16},
      {"2024-060 23:00", 2024, 2, 29, 4, 23, 0, 0, 0, 0, 14},
      // A "." after the minute is not a fraction; the parse stops there.
      {"2024-01-01 10:30.5", 2024, 1, 1, 1, 10, 30, 0, 0, 0, 16},
      // UTC markers.
      {"2024-01-01 10:30Z", 2024, 1, 1, 1, 10, 30, 0, 0, 1, 17},
      {"2024-01-01 10:30 z", 2024, 1, 1, 1, 10, 30, 0, 0, 1, 18},
      {"2024-01-01 10:30 utc", 2024, 1, 1, 1, 10, 30, 0, 0, 1, 20},
      {"2024-01-01 10:30 UtC  ", 2024, 1, 1, 1, 10, 30, 0, 0, 1, 22},
      {"2024-01-01Z", 2024, 1, 1, 1, 0, 0, 0, 0, 1, 11},
      {"2024-01-01 Zulu", 2024, 1, 1, 1, 0, 0, 0, 0, 1, 12},
      {"2024-01-01 UT", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 11},
  });
}

TEST(ParseDateTimeTest, WhereTheParseStopsAndTheFormOfLogs) {
  ExpectAccepted({
      // The parse stops before what is not its own; blanks after it are skipped.
      {"2024-01-01T", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 10},
      {"2024-01-01T 10:30", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 10},
      {"2024-01-01 noon", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 11},
      {"2024-01-01 \t ,%F", 2024, 1, 1, 1, 0, 0, 0, 0, 0, 13},
      {"2024-01-01 10:30 ;x", 2024, 1, 1, 1, 10, 30, 0, 0, 0, 17},
      // The form of logs, read by position, and its neighbours, read the general way.
      {"2024-02-29 23:59:59", 2024, 2, 29, 4, 23, 59, 59, 0, 0, 19},
      {"9999-12-31T00:00:00Z,%s", 9999, 12, 31, 5, 0, 0, 0, 0, 1, 20},
      {"2024-01-01 10:30:15 UTC ,%F", 2024, 1, 1, 1, 10, 30, 15, 0, 1, 24},
      {"2024-01-01 10:30:15.250", 2024, 1, 1, 1, 10, 30, 15, 250, 0, 23},
      {"2024-01-01 10:30:015", 2024, 1, 1, 1, 10, 30, 15, 0, 0, 20},
      {"2024-01-01  10:30:15", 2024, 1, 1, 1, 10, 30, 15, 0, 0, 20},
      {"2024-01-01 10:30:15:16", 2024, 1, 1, 1, 10, 30, 15, 0, 0, 19},
      {"2024-01-01 10:6x:00", 2024, 1, 1, 1, 10, 6, 0, 0, 0, 15},
  });
}

struct Rejected {
  const char* input;
  int32_t result;
  const char* message;  // after the prefix
  int caret;            // column of the caret, -1 for no caret display
};

std::string ExpectedReport(const Rejected& c) {
  std::string report = std::string("Horalin plugin: ") + c.message;
  if (c.caret >= 0)
    report += "\r\n" + std::string(c.input) + "\r\n" + std::string(static_cast<size_t>(c.caret), ' ') + "^\r\n";
  return report;
}

// Each refused: its result, the report with its caret, and the end and UTC marker untouched.
void ExpectRejected(std::initializer_list<Rejected> cases) {
  for (const Rejected& c : cases) {
    std::u16string text = U16(c.input);
    SYSTEMTIME t;
    const char16_t* end = u"untouched";
    const char16_t* const before = end;
    int32_t utc = 7;
    ResetHost();
    EXPECT_EQ(ParseAndReport(text.c_str(), &t, &end, &utc), c.result) << c.input;
    EXPECT_EQ(CapturedErrors(), ExpectedReport(c)) << c.input;
    EXPECT_EQ(end, before) << c.input;
    EXPECT_EQ(utc, 7) << c.input;
  }
}

TEST(ParseDateTimeTest, YearAndWeekErrors) {
  ExpectRejected({
      {"x", 100, "Bad year\r\n", 0},
      {"", 100, "Bad year\r\n", 0},
      {" 2024-01-01", 100, "Bad year\r\n", 0},
      {"+x", 100, "Bad year\r\n", 0},
      {"99999999999-01-01", 100, "Bad year\r\n", 0},
      // The largest number that 32 bits hold, and one more.
      {"4294967295-01-01", 100, "Year must be 1601 - 9999: 4294967295\r\n", -1},
      {"4294967296-01-01", 100, "Bad year\r\n", 0},
      {"2024-01-01 004294967295:00", 200, "Hour must be 0 - 23: 4294967295\r\n", -1},
      {"2024-01-01 4294967296:00", 200, "Bad hour\r\n", 11},
      // Digits of other scripts are not numbers: fullwidth and Arabic-Indic digits.
      {"\xEF\xBC\x92\xEF\xBC\x90\xEF\xBC\x92\xEF\xBC\x94-01-01", 100, "Bad year\r\n", 0},
      {"\xD9\xA2\xD9\xA0\xD9\xA2\xD9\xA4-01-01", 100, "Bad year\r\n", 0},
      {"1600-12-31", 100, "Year must be 1601 - 9999: 1600\r\n", -1},
      {"10000-01-01", 100, "Year must be 1601 - 9999: 10000\r\n", -1},
      {"12:00", 100, "Year must be 1601 - 9999: 12\r\n", -1},
      {"2024", 100, "Syntax error (expected a hyphen)\r\n", 4},
      {"2024/01/01", 100, "Syntax error (expected a hyphen)\r\n", 4},
      {"2024-W99999999999-1", 110, "Bad week number\r\n", 6},
      {"2024-W53-1", 110, "Week number must be 1 - 52: 53\r\n", -1},
      {"2026-W54-1", 110, "Week number must be 1 - 53: 54\r\n", -1},
      {"2024-W00-1", 110, "Week number must be 1 - 52: 0\r\n", -1},
      {"2024-W05", 110, "Syntax error (expected a hyphen)\r\n", 8},
      {"2024-W05 -3", 110, "Syntax error (expected a hyphen)\r\n", 8},
      {"2024-W05-", 111, "Bad day number\r\n", 9},
      {"2024-W05-x", 111, "Bad day number\r\n", 9},
      {"2024-W05-99999999999", 111, "Bad day number\r\n", 9},
      {"2024-W05-8", 111, "Day number must be 1 - 7: 8\r\n", -1},
      {"2024-W05-0", 111, "Day number must be 1 - 7: 0\r\n", -1},
      {"9999-W52-6", 112, "Date out of range: 9999-W52-6 \r\n   (Calendar year would be 10000)\r\n", -1},
      {"9999-W52-7", 112, "Date out of range: 9999-W52-7 \r\n   (Calendar year would be 10000)\r\n", -1},
  });
}

TEST(ParseDateTimeTest, MonthDayAndDayNumberErrors) {
  ExpectRejected({
      {"2024-W", 101, "Bad month\r\n", 5},
      {"2024-Wx", 101, "Bad month\r\n", 5},
      {"2024-", 101, "Bad month\r\n", 5},
      {"2024- 01-01", 101, "Bad month\r\n", 5},
      {"2024-99999999999-01", 101, "Bad month\r\n", 5},
      {"2024-13-01", 101, "Month must be 1 - 12: 13\r\n", -1},
      {"2024-00-01", 101, "Month must be 1 - 12: 0\r\n", -1},
      {"2024-13-45", 101, "Month must be 1 - 12: 13\r\n", -1},  // the leftmost fault
      {"2024-02-", 102, "Bad day\r\n", 8},
      {"2024-02-x", 102, "Bad day\r\n", 8},
      {"2024-02-99999999999", 102, "Bad day\r\n", 8},
      {"2023-02-29", 102, "Day must be 1 - 28: 29\r\n", -1},
      {"2024-04-31", 102, "Day must be 1 - 30: 31\r\n", -1},
      {"2024-01-00", 102, "Day must be 1 - 31: 0\r\n", -1},
      {"2024-02-30 25:00", 102, "Day must be 1 - 29: 30\r\n", -1},
      {"2023-366", 120, "Day number is 1 - 365: 366\r\n", -1},
      {"2024-367", 120, "Day number is 1 - 366: 367\r\n", -1},
      {"2024-000", 120, "Day number is 1 - 366: 0\r\n", -1},
  });
}

TEST(ParseDateTimeTest, TimeAndDateOffsetErrors) {
  ExpectRejected({
      {"2024-01-01 99999999999:00", 200, "Bad hour\r\n", 11},
      {"2024-01-01 24:00", 200, "Hour must be 0 - 23: 24\r\n", -1},
      {"2024-01-01 10", 200, "Syntax error (expected a colon)\r\n", 13},
      {"2024-01-01T10", 200, "Syntax error (expected a colon)\r\n", 13},
      {"2024-01-01 10,%H", 200, "Syntax error (expected a colon)\r\n", 13},
      {"2024-01-01 10:", 201, "Bad minute\r\n", 14},
      {"2024-01-01 10:x", 201, "Bad minute\r\n", 14},
      {"2024-01-01 10:99999999999", 201, "Bad minute\r\n", 14},
      {"2024-01-01 10:60", 201, "Minute must be 0 - 59: 60\r\n", -1},
      {"2024-01-01 10:30:", 203, "Bad second\r\n", 17},
      {"2024-01-01 10:30:,%F", 203, "Bad second\r\n", 17},
      {"2024-01-01 10:30:99999999999", 203, "Bad second\r\n", 17},
      {"2024-01-01 10:30:60", 203, "Second must be 0 - 59: 60\r\n", -1},
      {"2024-01-01 10:30:159", 203, "Second must be 0 - 59: 159\r\n", -1},
      {"2023-02-29 10:30:15", 102, "Day must be 1 - 28: 29\r\n", -1},
      {"1600-12-31 23:59:59", 100, "Year must be 1601 - 9999: 1600\r\n", -1},
      {"2024-01-01 24:00:00", 200, "Hour must be 0 - 23: 24\r\n", -1},
      {"+99999999999", 130, "Bad date offset\r\n", 0},
      {"-2147483649", 130, "Bad date offset\r\n", 0},
      {"+-99999999999", 130, "Bad date offset\r\n", 1},
      {"+3000000", 131, "Date out of range: +3000000\r\n", -1},
      {"-200000", 131, "Date out of range: -200000\r\n", -1},
      {"+2147483647", 131, "Date out of range: +2147483647\r\n", -1},
      {"-2147483648 Z", 131, "Date out of range: -2147483648\r\n", -1},
      {"+3000000 25:00", 200, "Hour must be 0 - 23: 25\r\n", -1},  // the time is read first
  });
}

TEST(ParseDateTimeTest, ErrorsInsideABatchFileShowTheLocation) {
  ResetHost({{"_batch", "1"}, {"_batchname", "C:\\jobs\\d.btm"}, {"_batchline", "7"}});
  SYSTEMTIME t;
  EXPECT_EQ(ParseAndReport(u"2024-02-", &t, nullptr, nullptr), 102);
  EXPECT_EQ(CapturedErrors(), "Horalin plugin: C:\\jobs\\d.btm [7]  Bad day\r\n\r\n2024-02-\r\n        ^\r\n");
}

TEST(ParseDateTimeTest, MissingRecordOrText) {
  ResetHost();
  const char16_t* end = nullptr;
  EXPECT_EQ(ParseAndReport(u"2024-01-01", nullptr, &end, nullptr), -1);
  EXPECT_EQ(end, nullptr);
  SYSTEMTIME t;
  EXPECT_EQ(ParseAndReport(nullptr, &t, nullptr, nullptr), -1);
  EXPECT_EQ(CapturedErrors(), "");
}

TEST(ParseDateTimeTest, EndAndUtcAreOptional) {
  SYSTEMTIME t;
  EXPECT_EQ(ParseAndReport(u"2024-01-01 10:00 Z", &t, nullptr, nullptr), 0);
  EXPECT_EQ(t.wHour, 10);
}

// The fields of a date and time, as "2026-12-07 1 13:30:15.250" (the weekday after the date).
std::string Fields(const SYSTEMTIME& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wDayOfWeek,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

// The tests' clock stands at 2026-12-06 23:30:15.250 UTC, 2026-12-07 13:30:15.250 local
// time: a day offset or a star read from the wrong clock shows in the date.
TEST(ParseDateTimeTest, TheClockByTheMarker) {
  struct Relative {
    const char* input;
    const char* fields;
    int32_t utc;
    int end;
  } cases[] = {
      {"+0", "2026-12-07 1 00:00:00.000", 0, 2},
      {"+1T12:00", "2026-12-08 2 12:00:00.000", 0, 8},
      {"+-2", "2026-12-05 6 00:00:00.000", 0, 3},
      {"-2", "2026-12-05 6 00:00:00.000", 0, 2},
      {"-1 Z", "2026-12-05 6 00:00:00.000", 1, 4},
      {"+0 12:00", "2026-12-07 1 12:00:00.000", 0, 8},
      {"+0 23:59 UTC", "2026-12-06 0 23:59:00.000", 1, 12},
      {"+7 ,%F", "2026-12-14 1 00:00:00.000", 0, 3},
      {"-0", "2026-12-07 1 00:00:00.000", 0, 2},
      // The star forms take the time too, and nothing after the stars.
      {"*", "2026-12-07 1 13:30:15.250", 0, 1},
      {"**", "2026-12-06 0 23:30:15.250", 1, 2},
      {"* 10:00", "2026-12-07 1 13:30:15.250", 0, 2},
      {"*  ,%F", "2026-12-07 1 13:30:15.250", 0, 3},
      {"**Z", "2026-12-06 0 23:30:15.250", 1, 2},
      {"***", "2026-12-06 0 23:30:15.250", 1, 2},
  };
  for (const Relative& c : cases) {
    const std::u16string text = U16(c.input);
    SYSTEMTIME t{};
    const char16_t* end = nullptr;
    int32_t utc = -1;
    ResetHost();
    ASSERT_EQ(ParseAndReport(text.c_str(), &t, &end, &utc, kServicesIn<testing::kLineIslands>), 0)
        << c.input << CapturedErrors();
    EXPECT_EQ(Fields(t), c.fields) << c.input;
    EXPECT_EQ(utc, c.utc) << c.input;
    EXPECT_EQ(end - text.c_str(), c.end) << c.input;
  }
}

// Every day of the calendar as an ISO week date and as an ordinal date comes back as the
// same date.
TEST(ParseDateTimeTest, EveryDayAsWeekDateOrdinalDateAndLogForm) {
  for (DayNumber n = kFirstDay; n <= kLastDay; ++n) {
    uint32_t year, month, day, isoYear, week, weekday;
    DateFromDayNumber(n, &year, &month, &day);
    IsoWeekFromDate(static_cast<int32_t>(year), month, day, &isoYear, &week, &weekday);
    uint32_t dayOfYear = DaysBeforeMonth[month][IsLeapYear(static_cast<int32_t>(year))] + day;
    char forms[3][32];
    std::snprintf(forms[0], sizeof forms[0], "%u-W%02u-%u", isoYear, week, weekday);
    std::snprintf(forms[1], sizeof forms[1], "%u-%03u", year, dayOfYear);
    std::snprintf(forms[2], sizeof forms[2], "%u-%02u-%02u 23:59:59", year, month, day);
    for (const char* form : forms) {
      char16_t text[32];
      for (size_t i = 0; i < sizeof text / sizeof text[0]; ++i)
        if (!(text[i] = static_cast<char16_t>(form[i]))) break;
      SYSTEMTIME t;
      ASSERT_EQ(ParseAndReport(text, &t, nullptr, nullptr), 0) << form;
      ASSERT_TRUE(t.wYear == year && t.wMonth == month && t.wDay == day && t.wDayOfWeek == n % 7) << form;
    }
  }
}

}  // namespace
}  // namespace horalin
