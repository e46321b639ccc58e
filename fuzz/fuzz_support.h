// What the fuzz targets share: a fixed environment, a reader of the fuzzer's bytes, and
// a check that stops the run with a message when a property fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/test_host.h"

namespace horalin::fuzz {

// Fixes the zone, the locale and standard input (no terminal: TS never prompts).
void SetUpEnvironment();

// Takes the fuzzer's bytes from the front.
struct Bytes {
  const uint8_t* data;
  size_t size;

  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  uint32_t Number(uint32_t below) { return below ? (uint32_t{Byte()} << 8 | Byte()) % below : 0; }
};

// The capturing host of the tests (tests/support/test_host.cpp), with the shell's
// batch flag off and no other variable.
inline void ResetHost() { testing::ResetHost({{"_batch", "0"}}); }
using testing::CapturedErrors;
using testing::CapturedOutput;
using testing::CapturedOutputTail;
using testing::ErrorReports;

// Aborts with `what` and the captured output and errors when `holds` is false.
void Check(bool holds, const char* what);
void Check(bool holds, const std::string& what);

}  // namespace horalin::fuzz
