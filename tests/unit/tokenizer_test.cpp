// The command-line tokenizer: switch splitting, quotes, URLs, limits.
#include "plugin/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::CapturedErrors;
using testing::ResetHost;
using testing::U16;
using testing::U8;

// The list every test splits into (large for the stack of a test).
ArgumentList Arguments;

// The arguments of the list as UTF-8, checking the layout of the buffer on the way.
std::vector<std::string> ListedArguments() {
  std::vector<std::string> out;
  const char16_t* expected = Arguments.buffer;
  for (int32_t k = 0; k < Arguments.count; ++k) {
    EXPECT_EQ(Arguments.args[k], expected) << "argument " << k << " is not packed after the previous one";
    std::u16string arg(Arguments.args[k]);
    EXPECT_EQ(static_cast<int32_t>(arg.size()), Arguments.lengths[k]);
    EXPECT_GE(Arguments.lengths[k], 1);
    out.push_back(U8(arg));
    expected = Arguments.args[k] + Arguments.lengths[k] + 1;
  }
  for (int32_t k = Arguments.count; k < kMaxArguments; ++k) {
    EXPECT_EQ(Arguments.args[k], nullptr);
    EXPECT_EQ(Arguments.lengths[k], 0);
  }
  return out;
}

TEST(TokenizerTest, SplitsSwitchesQuotesAndWords) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  } cases[] = {
      {R"(/D /T "%H:%M:%S")", {"/D", "/T", R"("%H:%M:%S")"}},
      {"/D/T", {"/D", "/T"}},
      {"/CP:1252 /U", {"/CP:1252", "/U"}},
      {"/u:utf-8/d", {"/u:utf-8", "/d"}},
      {"//x", {"//x"}},
      {"///x", {"//", "/x"}},
      {"/X:x://a/b", {"/X:x://a/b"}},
      {"/X:C:/a/b", {"/X:C:", "/a", "/b"}},
      {"/a:b//c", {"/a:b", "//c"}},
      {R"(/F"a/b"/D)", {R"(/F"a/b")", "/D"}},
      {R"("a b"/D)", {R"("a b"/D)"}},
      {"ab/cd/ef", {"ab/cd/ef"}},
      {"a,b=c [x]", {"a,b=c", "[x]"}},
      {"\"a b   ", {"\"a b"}},
      {"a\tb", {"a", "b"}},
      {"  \t x  y\t", {"x", "y"}},
      {"/F \"x y\"/D", {"/F", "\"x y\"/D"}},
      {"", {}},
      {"   \t  ", {}},
  };
  for (const Case& c : cases) {
    ResetHost();
    int32_t n = TokenizeArguments(U16(c.line).c_str(), &Arguments);
    EXPECT_EQ(n, static_cast<int32_t>(c.args.size())) << c.line;
    EXPECT_EQ(Arguments.count, n);
    EXPECT_EQ(ListedArguments(), c.args) << c.line;
    EXPECT_EQ(CapturedErrors(), "");
  }
}

TEST(TokenizerTest, NullTextLeavesTheListAlone) {
  TokenizeArguments(u"a b", &Arguments);
  EXPECT_EQ(TokenizeArguments(nullptr, &Arguments), -1);
  EXPECT_EQ(Arguments.count, 2);
}

TEST(TokenizerTest, BufferHoldsExactly8191Units) {
  struct Case {
    std::u16string line;
    int32_t result;
    const char* errors;
  } cases[] = {
      {std::u16string(8191, u'x'), 1, ""},
      {std::u16string(8191, u'x') + u"   ", 1, ""},
      {std::u16string(8192, u'x'), -1, "Horalin plugin: Buffer overflow: b = 8191, MAX_ARG_LEN = 8192 \r\n"},
      {std::u16string(8191, u'x') + u" y", -1, "Horalin plugin: Buffer overflow: b = 8192, MAX_ARG_LEN = 8192 \r\n"},
  };
  for (const Case& c : cases) {
    ResetHost({{"_batch", "0"}});
    EXPECT_EQ(TokenizeArguments(c.line.c_str(), &Arguments), c.result) << c.line.size();
    EXPECT_EQ(CapturedErrors(), c.errors);
    if (c.result < 0) {
      EXPECT_EQ(Arguments.count, 0);
    }
  }
}

TEST(TokenizerTest, ArgumentsPastThe1024thAreDropped) {
  std::u16string line;
  for (int i = 0; i < 1030; ++i) line += i < 1024 ? u"a " : u"b ";
  ResetHost();
  EXPECT_EQ(TokenizeArguments(line.c_str(), &Arguments), 1024);
  EXPECT_EQ(CapturedErrors(), "");
  EXPECT_EQ(std::u16string(Arguments.args[1023]), u"a");
}

}  // namespace
}  // namespace horalin
