// The TS driver on arbitrary command lines over a small input, whose read may fail at the
// end: the result is 0, 1 or 2; an argument error reads nothing; every failure is
// reported once and a success not at all.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/types.h"
#include "fuzz/fuzz_support.h"
#include "host/host.h"
#include "plugin/stamped_lines.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

struct Feed {
  const uint8_t* bytes = nullptr;
  size_t size = 0, next = 0;
  uint32_t block = 1, error = 0;
  int reads = 0;
};
Feed Input;

uint32_t ReadFeed(platform::Handle, void* block, uint32_t capacity, uint32_t* bytesRead) {
  ++Input.reads;
  *bytesRead = 0;
  if (Input.next == Input.size) return Input.error;
  size_t n = Input.block < capacity ? Input.block : capacity;
  if (n > Input.size - Input.next) n = Input.size - Input.next;
  std::memcpy(block, Input.bytes + Input.next, n);
  Input.next += n;
  *bytesRead = static_cast<uint32_t>(n);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  StandardInputReader = ReadFeed;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  const uint8_t setting = in.Byte();
  // The command line: bytes below F0 are units of their own, F0 and above take the next
  // two bytes as one unit; a zero unit ends it and the input follows.
  std::u16string line;
  while (in.size > 0) {
    uint8_t b = in.Byte();
    char16_t u = b < 0xF0 ? char16_t{b} : static_cast<char16_t>(in.Byte() << 8 | in.Byte());
    if (u == 0) break;
    line += u;
  }
  Input = Feed{in.data, in.size, 0, 1u + setting % 64u * 16u, setting & 0x80 ? 5u : 0u, 0};

  fuzz::ResetHost();
  int result = ts(line.c_str());
  const size_t reports = fuzz::ErrorReports();
  Check(result == 0 || result == 1 || result == 2, "TS returns 0, 1 or 2");
  if (result == 1) {
    Check(reports == 1, "an argument error is reported once");
    Check(Input.reads == 0, "an argument error reads nothing");
  } else if (result == 2) {
    Check(Input.error != 0, "only a failed read gives 2");
    Check(reports == 1, "a read error is reported once");
  } else {
    Check(reports == 0, "success writes no error");
    Check(Input.error == 0 || Input.reads == 0, "a failed read is not passed over");
  }
  if (Input.reads > 0 && result != 1) Check(Input.next == Input.size, "all input is read");
  const std::u16string end = fuzz::CapturedOutputTail(2);
  if (Input.reads > 0 && !end.empty()) Check(end == u"\r\n", "whole lines");
  return 0;
}
