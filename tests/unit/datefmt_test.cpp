// The @DATEFMT export (datefmt --lines: datefmt_lines_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "host/host.h"
#include "hostkit/cli.h"
#include "plugin/errors.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ScopedEnv;
using testing::U16;
using testing::U8;

void ResetHost() { testing::ResetHost({{"_batch", "0"}, {"_transient", "1"}}); }

struct Call {
  int result;
  std::string buffer;  // the result, or the argument left as it was
};

Call DateFmt(const std::string& argument) {
  static char16_t buffer[8192];
  CopyText(buffer, 8192, U16(argument).c_str());
  int result = f_datefmt(buffer);
  return {result, U8(buffer)};
}

struct Formatted {
  const char* argument;
  const char* result;
};

TEST(DateFmtTest, FormatsTheParsedDate) {
  const Formatted cases[] = {
      {"2024-02-29,%F", "2024-02-29"},
      {"2024-02-29;%Y", "2024"},
      {"  \t2024-02-29 ,%Y", "2024"},
      {"2024-02-29, %Y", " 2024"},
      {"2024-02-29,%d,%m", "29,02"},
      {"2024-02-29;%d;%m", "29;02"},
      {"2024-02-29,%%", "%%"},
      {"2024-W05-3T08:15,%F %R", "2024-01-31 08:15"},
      {"2024-060 23:59:59.999,%F %T.%L", "2024-02-29 23:59:59.999"},
  };
  for (const Formatted& c : cases) {
    ResetHost();
    Call call = DateFmt(c.argument);
    EXPECT_EQ(call.result, 0) << c.argument << CapturedErrors();
    EXPECT_EQ(call.buffer, c.result) << c.argument;
    EXPECT_EQ(CapturedErrors(), "") << c.argument;
    EXPECT_EQ(CapturedOutput(), "") << c.argument;
  }
}

TEST(DateFmtTest, TheUtcMarkerReachesTheFormatter) {
  ScopedEnv zone("TZ", "Etc/GMT+5");
  ResetHost();
  EXPECT_EQ(DateFmt("2024-02-29,%z").buffer, "-0500");
  EXPECT_EQ(DateFmt("2024-02-29 Z,%z").buffer, "+0000");
  EXPECT_EQ(DateFmt("2024-02-29 10:00 utc,%H%z").buffer, "10+0000");
  EXPECT_EQ(DateFmt("**,%z").buffer, "+0000");
  EXPECT_EQ(DateFmt("*,%z").buffer, "-0500");
}

struct Failing {
  const char* argument;
  const char* errors;
};

TEST(DateFmtTest, ErrorsLeaveTheBufferAndReturnMinusOne) {
  const Failing cases[] = {
      {"", "Horalin plugin: Missing date and time\r\n"},
      {"   ", "Horalin plugin: Missing date and time\r\n"},
      {",%Y", "Horalin plugin: Missing date and time\r\n"},
      {" ;%Y", "Horalin plugin: Missing date and time\r\n"},
      {"2024-02-29", "Horalin plugin: Syntax error (expected a comma)\r\n\r\n2024-02-29\r\n          ^\r\n"},
      {"  2024-02-29", "Horalin plugin: Syntax error (expected a comma)\r\n\r\n  2024-02-29\r\n            ^\r\n"},
      {"2024-02-29 noon,%H",
       "Horalin plugin: Syntax error (expected a comma)\r\n\r\n2024-02-29 noon,%H\r\n           ^\r\n"},
      {"* 10:00,%H", "Horalin plugin: Syntax error (expected a comma)\r\n\r\n* 10:00,%H\r\n  ^\r\n"},
      {"2024-W05-3 T08:15,%R",  // "T" after a blank is no time
       "Horalin plugin: Syntax error (expected a comma)\r\n\r\n2024-W05-3 T08:15,%R\r\n           ^\r\n"},
      {"2024-02-29,", "Horalin plugin: Missing format string\r\n"},
      {"2024-02-29 ;", "Horalin plugin: Missing format string\r\n"},
      {"2024-13-01,%F", "Horalin plugin: Month must be 1 - 12: 13\r\n"},
      {" x,%F", "Horalin plugin: Bad year\r\n\r\nx,%F\r\n^\r\n"},  // the parser shows its own text
  };
  for (const Failing& c : cases) {
    ResetHost();
    Call call = DateFmt(c.argument);
    EXPECT_EQ(call.result, -1) << c.argument;
    EXPECT_EQ(call.buffer, c.argument);
    EXPECT_EQ(CapturedErrors(), c.errors) << c.argument;
    EXPECT_EQ(CapturedOutput(), "") << c.argument;
  }
}

TEST(DateFmtTest, NoBuffer) {
  ResetHost();
  EXPECT_EQ(f_datefmt(nullptr), 1);
  EXPECT_EQ(CapturedErrors(), "");
}

TEST(DateFmtTest, FormatFillsTheWholeBuffer) {
  std::string format(8192 - 12, 'x');  // with "2024-02-29," the buffer is full
  ResetHost();
  Call call = DateFmt("2024-02-29," + format);
  EXPECT_EQ(call.result, 0);
  EXPECT_EQ(call.buffer, format);
}

}  // namespace
}  // namespace horalin
