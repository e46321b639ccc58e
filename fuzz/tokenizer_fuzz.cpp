// TokenizeArguments on arbitrary text: the argument list keeps its invariants after every
// call, and the arguments are the text's characters less the white space between them.
#include <cstdint>
#include <string>

#include "common/text.h"
#include "fuzz/fuzz_support.h"
#include "plugin/tokenizer.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

// Bytes below F0 are units of their own (so that "/", quotes and blanks come easily);
// F0 and above take the next two bytes as one unit.
std::u16string Text(fuzz::Bytes& in, size_t limit) {
  std::u16string text;
  while (in.size > 0 && text.size() < limit) {
    uint8_t b = in.Byte();
    text += b < 0xF0 ? char16_t{b} : static_cast<char16_t>(in.Byte() << 8 | in.Byte());
  }
  return text;
}

ArgumentList Arguments;

std::u16string WithoutWhiteSpace(const char16_t* text, size_t length) {
  std::u16string out;
  for (size_t i = 0; i < length && text[i]; ++i)
    if (!IsSpace(text[i])) out += text[i];
  return out;
}

void CheckList(const std::u16string& text, int32_t result) {
  const ArgumentList& a = Arguments;
  if (result < 0) {
    Check(result == -1, "a failure is -1");
    Check(a.count == 0, "count is 0 after an overflow");
    Check(fuzz::ErrorReports() == 1, "an overflow is reported once");
    return;
  }
  Check(fuzz::ErrorReports() == 0, "no message without a failure");
  Check(result <= kMaxArguments && result == a.count, "the result is the count, 0 to 1024");
  size_t used = 0;
  std::u16string joined;
  for (int32_t k = 0; k < a.count; ++k) {
    const char16_t* arg = a.args[k];
    Check(arg != nullptr && arg >= a.buffer && arg < a.buffer + kArgumentUnits, "an argument lies in the buffer");
    Check(a.lengths[k] >= 1, "no argument is empty");
    Check(arg + a.lengths[k] < a.buffer + kArgumentUnits, "an argument and its terminator lie in the buffer");
    Check(arg[a.lengths[k]] == 0, "an argument is terminated");
    Check(!IsSpace(arg[0]), "no argument begins with white space");
    for (int32_t i = 0; i < a.lengths[k]; ++i) Check(arg[i] != 0, "no terminator inside an argument");
    const char16_t* expected = k == 0 ? a.buffer : a.args[k - 1] + a.lengths[k - 1] + 1;
    Check(arg >= expected, "arguments stand in order");
    for (const char16_t* p = expected; p < arg; ++p) Check(*p == 0, "only cut white space lies between arguments");
    used += static_cast<size_t>(a.lengths[k]) + 1;
    joined.append(arg, static_cast<size_t>(a.lengths[k]));
  }
  Check(used <= static_cast<size_t>(kArgumentUnits), "the arguments fit in the buffer");
  for (int32_t k = a.count; k < kMaxArguments; ++k)
    Check(a.args[k] == nullptr && a.lengths[k] == 0, "entries past the count are empty");
  if (a.count < kMaxArguments)  // nothing dropped: every visible character is in an argument
    Check(WithoutWhiteSpace(joined.data(), joined.size()) == WithoutWhiteSpace(text.c_str(), text.size()),
          "the arguments hold the text's characters less white space");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  // The first byte repeats the text, so that long command lines come cheaply.
  uint32_t repeat = 1 + in.Byte() % 64;
  std::u16string unit = Text(in, 20000);
  std::u16string text;
  for (uint32_t i = 0; i < repeat && text.size() < 20000; ++i) text += unit;
  // Two calls: the second starts from what the first left.
  for (const std::u16string& t : {text, text.substr(text.size() / 2)}) {
    fuzz::ResetHost();
    int32_t result = TokenizeArguments(t.c_str(), &Arguments);
    CheckList(t, result);
  }
  return 0;
}
