// The stand-in hosts' expansion of variables and functions in a text.
#include "hostkit/expand.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/types.h"
#include "tests/support/test_host.h"

namespace horalin {
namespace {

using testing::U8;

bool LookUp(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  std::u16string key(name, length);
  const char16_t* found = key == u"name"      ? u"World"
                          : key == u"pct"     ? u"100%x%%"
                          : key == u"empty"   ? u""
                          : key == u"long"    ? u"0123456789012345678901234567890123456789"
                          : key == u"cmdspec" ? u"C:\\Tools\\shell\\tcc.exe"
                                              : nullptr;
  if (!found) return false;
  CopyText(value, capacity, found);
  return true;
}

TEST(ExpandVariablesTest, ReferencesFunctionsAndBounds) {
  struct Case {
    const char16_t* text;
    const char16_t* expected;
  } cases[] = {
      {u"Hello %name!", u"Hello World!"},
      {u"%[name]%[name]", u"WorldWorld"},
      {u"[%undefined][%[undefined]]", u"[][]"},
      {u"%[empty]x", u"x"},
      {u"100%% sure", u"100% sure"},
      {u"%pct", u"100%x%%"},  // a value is not expanded again
      {u"%@path[%cmdspec]help\\x.chm", u"C:\\Tools\\shell\\help\\x.chm"},
      {u"%@path[noslash]x", u"x"},
      {u"%@unknown[abc]y", u"y"},
      {u"a % b", u"a % b"},
      {u"%[unclosed", u"%[unclosed"},
      {u"%", u"%"},
  };
  for (const Case& c : cases) {
    char16_t buffer[hostkit::kExpansionCapacity];
    CopyText(buffer, hostkit::kExpansionCapacity, c.text);
    hostkit::ExpandVariableReferences(buffer, LookUp);
    EXPECT_EQ(std::u16string(buffer), c.expected) << U8(c.text);
  }
  // Expansion never grows past the smallest capacity a caller uses.
  std::u16string many;
  for (int i = 0; i < 60; ++i) many += u"%long";
  static char16_t big[kPathText];
  CopyText(big, kPathText, many.c_str());
  big[hostkit::kExpansionCapacity] = u'#';
  hostkit::ExpandVariableReferences(big, LookUp);
  EXPECT_EQ(TextLength(big), hostkit::kExpansionCapacity - 1);
  EXPECT_EQ(big[hostkit::kExpansionCapacity], u'#');
}

}  // namespace
}  // namespace horalin
