// Registration, the load notice, Usage and error reporting.
#include "plugin/plugin.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "common/text.h"
#include "common/version.h"
#include "host/host.h"
#include "host/switches.h"
#include "platform/posix/error_code.h"
#include "plugin/errors.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::ResetHost;
using testing::U16;
using testing::U8;

TEST(PluginInfoTest, SameRecordEveryCall) {
  PluginInfo* first = GetPluginInfo();
  PluginInfo* second = GetPluginInfo();
  EXPECT_EQ(first, second);
  EXPECT_EQ(U8(first->name), "Horalin");
  EXPECT_EQ(U8(first->functions), "ts,@datefmt");
  EXPECT_EQ(U8(first->description), "Reimplements TS and @DATEFMT.");
  // The record's numbers are the version that the load notice and --version show.
  EXPECT_EQ(std::to_string(first->major) + "." + std::to_string(first->minor) + "." + std::to_string(first->build),
            HORALIN_VERSION_SHORT_TEXT);
  EXPECT_EQ(first->hostField1, nullptr);
  EXPECT_EQ(first->hostField2, nullptr);
}

struct NoticeCase {
  const char* transient;
  const char* pipe;
  const char* noloadmsg;  // null: unset
  bool shown;
};

TEST(InitializePluginTest, LoadNoticeOnlyInAnInteractiveShell) {
  const NoticeCase cases[] = {
      {"0", "0", nullptr, true},  {"0", "0", "", true},       {"0", "0", "0", false},      {"0", "0", "yes", false},
      {"1", "0", nullptr, false}, {"0", "1", nullptr, false}, {"10", "0", nullptr, false},
  };
  for (const NoticeCase& c : cases) {
    std::vector<std::pair<std::string, std::string>> variables = {{"_transient", c.transient}, {"_pipe", c.pipe}};
    if (c.noloadmsg) variables.push_back({"noloadmsg", c.noloadmsg});
    ResetHost(variables);
    EXPECT_EQ(InitializePlugin(), 0);
    EXPECT_EQ(CapturedOutput(), c.shown ? "Horalin v" HORALIN_VERSION_SHORT_TEXT " loaded.\r\n" : "")
        << c.transient << c.pipe << (c.noloadmsg ? c.noloadmsg : "(unset)");
  }
}

// A help viewer that runs on (as hh.exe does on Windows) is ended when the shell ends
// the plug-in, and only once; POSIX's handle of a process is its id.
TEST(ShutdownPluginTest, EndsTheViewerThatRunsOn) {
  const pid_t viewer = fork();
  if (viewer == 0) {
    pause();
    _exit(0);
  }
  Module.viewer = reinterpret_cast<void*>(static_cast<intptr_t>(viewer));
  EXPECT_EQ(ShutdownPlugin(), 0);
  EXPECT_EQ(Module.viewer, nullptr);
  int status = 0;
  ASSERT_EQ(waitpid(viewer, &status, 0), viewer);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(ShutdownPlugin(), 0);  // nothing left to end
}

TEST(UsageTest, SyntaxOfTsInAnyCase) {
  for (const char* name : {"ts", "TS", "Ts", "tS"}) {
    char16_t buffer[1024] = {};
    ASSERT_EQ(Usage(U16(name).c_str(), buffer), 1) << name;
    const std::u16string text = buffer;
    // The syntax line names TS's switches with help up to their value, and a line for each
    // follows in the table's order; then the format's line and the closing paragraph.
    std::u16string syntax = u"TS", lines;
    for (const TsSwitch& row : kTsSwitches) {
      if (!AcceptedByAll(row, kSwitchTs) || !row.help) continue;
      const std::u16string form = row.syntax;
      const size_t colon = form.find(u':');
      syntax.append(u" ").append(form, 0, colon == std::u16string::npos ? form.size() : colon + 1);
      lines.append(u"\t").append(form).append(u"\t").append(row.help).append(u" \n");
    }
    syntax.append(u" \"format\" \r\n\n").append(lines).append(u"\tformat\tformat string, as in @DATEFMT \n\n");
    EXPECT_EQ(text.rfind(syntax, 0), 0u) << U8(text);
    EXPECT_EQ(text.substr(text.size() - 21), u"\u2018PlugIns\u2019 directory.\n");
  }
}

TEST(UsageTest, OtherNamesLeaveTheBufferAlone) {
  for (const char* name : {"@DATEFMT", "_x", "t", "tsx", "", "datefmt"}) {
    char16_t buffer[1024];
    CopyText(buffer, 1024, u"untouched");
    EXPECT_EQ(Usage(U16(name).c_str(), buffer), 0) << name;
    EXPECT_EQ(std::u16string(buffer), u"untouched");
  }
}

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

}  // namespace
}  // namespace horalin
