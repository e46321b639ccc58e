// Error reports: the prefix and a batch file's location, the system's texts of error
// codes, and the caret under a refused argument's position.
#include "plugin/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "common/text.h"
#include "host/host.h"
#include "platform/posix/error_code.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;
using testing::U8;

TEST(ErrorReportTest, PrefixAndBatchLocation) {
  struct Case {
    const char* batch;
    const char* expected;
  } cases[] = {
      {"0", "Horalin plugin: Bad year\r\n"},
      {"01", "Horalin plugin: Bad year\r\n"},
      {"1", "Horalin plugin: C:\\b 100%.btm [12]  Bad year\r\n"},
      {"10", "Horalin plugin: C:\\b 100%.btm [12]  Bad year\r\n"},
  };
  for (const Case& c : cases) {
    ResetHost({{"_batch", c.batch}, {"_batchname", "C:\\b 100%.btm"}, {"_batchline", "12"}});
    ReportError(u"Bad year\r\n");
    EXPECT_EQ(CapturedErrors(), c.expected);
    EXPECT_EQ(CapturedOutput(), "");
  }
}

TEST(ErrorTextTest, KnownUnknownAndAllBits) {
  char16_t text[1024];
  ErrorCodeText(0xFFFFFFFFu, text);
  EXPECT_EQ(U8(text), "Unknown error");
  ErrorCodeText(0xE0001234u, text);
  EXPECT_EQ(U8(text), "Error -536866252");
  // An errno value is not taken for the Windows code of the same number (6: an invalid handle).
  ErrorCodeText(platform::CodeOfErrno(ENXIO), text);
  EXPECT_EQ(U8(text), "No such device or address");
  ErrorCodeText(kErrorInvalidHandle, text);
  EXPECT_EQ(U8(text), "Bad file descriptor");
  ErrorCodeText(platform::CodeOfErrno(EIO), text);
  std::string known = U8(text);
  EXPECT_FALSE(known.empty());
  EXPECT_FALSE(isspace(static_cast<unsigned char>(known.back())));
  EXPECT_EQ(known.find('\n'), std::string::npos);
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
