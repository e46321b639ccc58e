// The date and time argument parser: every accepted form, every error with its message
// (as its caller reports it), result code and caret, and a walk over the whole calendar.
#include "datetime/parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>

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
using testing::U8;

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

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(ParseDateTimeTest, AcceptedForms) {
  const Accepted cases[] = {
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
  };
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

// NOLINTNEXTLINE(readability-function-size): its table of cases, until it moves out of the body
TEST(ParseDateTimeTest, ErrorsWithMessageResultAndCaret) {
  const Rejected cases[] = {
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
  };
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

TEST(ShowErrorPositionTest, CaretUnderThePosition) {
  const char16_t* text = u"2024-01-01 10,%H";
  ResetHost();
  EXPECT_EQ(ShowErrorPosition(text, text), 0);
  EXPECT_EQ(CapturedErrors(), "\r\n2024-01-01 10,%H\r\n^\r\n");
  ResetHost();
  EXPECT_EQ(ShowErrorPosition(text, text + 16), 0);
  EXPECT_EQ(CapturedErrors(), "\r\n2024-01-01 10,%H\r\n" + std::string(16, ' ') + "^\r\n");
}

TEST(ShowErrorPositionTest, MissingOrEarlierPositionWritesNothing) {
  const char16_t* text = u"abc";
  ResetHost();
  EXPECT_EQ(ShowErrorPosition(nullptr, text), -1);
  EXPECT_EQ(ShowErrorPosition(text, nullptr), -1);
  EXPECT_EQ(ShowErrorPosition(text + 1, text), -2);
  EXPECT_EQ(CapturedErrors(), "");
}

}  // namespace
}  // namespace horalin

namespace horalin {
namespace {

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
                              nullptr, nullptr, nullptr, nullptr,         nullptr};
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
