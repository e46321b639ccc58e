// What the fuzz targets share: a fixed environment, a reader of the fuzzer's bytes, and
// a check that stops the run with a message when a property fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// The fuzz host (fuzz_host.cpp): what the plug-in wrote since the last reset (units above
// 7F shown as "?"), and the number of error reports, told by their prefix.
void ResetHost();
std::string CapturedOutput();
std::string CapturedErrors();
size_t ErrorReports();

// Aborts with `what` and the captured output and errors when `holds` is false.
void Check(bool holds, const char* what);
void Check(bool holds, const std::string& what);

}  // namespace horalin::fuzz
