// FormatDateTime on arbitrary formats, valid dates and any flags, zones and locales: the
// output is terminated within its 8,192 units, its length is the result, and a format
// of whole characters gives an output of whole characters (no half surrogate pair).
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "common/text.h"
#include "common/types.h"
#include "datetime/calendar.h"
#include "datetime/format.h"
#include "datetime/instant.h"
#include "fuzz/fuzz_support.h"
#include "lines/platform_services.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

constexpr const char* kZones[] = {"UTC",
                                  "Europe/Berlin",
                                  "Asia/Kolkata",
                                  "America/St_Johns",
                                  "Pacific/Chatham",
                                  "Australia/Lord_Howe",
                                  "America/New_York",
                                  "Pacific/Kiritimati"};
constexpr const char* kLocales[] = {"C.UTF-8",     "de_DE.UTF-8", "ar_EG.UTF-8", "ja_JP.UTF-8",
                                    "tr_TR.UTF-8", "fa_IR.UTF-8", "el_GR.UTF-8", "en_US.UTF-8"};

bool WellFormed(const char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= length || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// A format that reaches the directives easily: bytes below F0 are units of their own,
// F0 to F7 a character above U+FFFF (a pair), F8 and above the next two bytes as a unit.
std::u16string Format(fuzz::Bytes& in) {
  std::u16string format;
  uint32_t repeat = 1 + in.Byte() % 32;
  while (in.size > 0) {
    uint8_t b = in.Byte();
    if (b < 0xF0) {
      if (b) format += char16_t{b};
    } else if (b < 0xF8) {
      uint32_t cp = 0x10000 + ((b & 7u) << 16 | uint32_t{in.Byte()} << 8 | in.Byte()) % 0x100000;
      format += static_cast<char16_t>(0xD800 | (cp - 0x10000) >> 10);
      format += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      char16_t u = static_cast<char16_t>(in.Byte() << 8 | in.Byte());
      if (u) format += u;
    }
  }
  std::u16string repeated;
  for (uint32_t i = 0; i < repeat && repeated.size() < 12000; ++i) repeated += format;
  return repeated;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  const uint8_t setting = in.Byte();
  setenv("TZ", kZones[setting % 8], 1);
  setenv("LC_ALL", kLocales[setting / 8 % 8], 1);
  const uint32_t flags = in.Byte();  // all bits: those beyond the two flags are ignored
  SYSTEMTIME t{};
  t.wYear = static_cast<uint16_t>(1601 + in.Number(9999 - 1601 + 1));
  t.wMonth = static_cast<uint16_t>(1 + in.Byte() % 12);
  t.wDay = static_cast<uint16_t>(1 + in.Byte() % DaysInMonth[t.wMonth][IsLeapYear(t.wYear)]);
  t.wDayOfWeek = static_cast<uint16_t>(DayNumberFromDate(t.wYear, t.wMonth, t.wDay) % 7);
  t.wHour = static_cast<uint16_t>(in.Byte() % 24);
  t.wMinute = static_cast<uint16_t>(in.Byte() % 60);
  t.wSecond = static_cast<uint16_t>(in.Byte() % 60);
  t.wMilliseconds = static_cast<uint16_t>(in.Number(1000));
  const std::u16string format = Format(in);
  DateTime record;
  if (!ResolveLocalTime(t, uint32_t{t.wMilliseconds} * 1000000 + in.Number(1000000), (flags & FDT_UTC) != 0,
                        kPlatformServices, &record))
    return 0;  // beyond 9999 once resolved

  fuzz::ResetHost();
  // Exactly the capacity, on the heap, so that a write past it is caught.
  std::unique_ptr<char16_t[]> out(new char16_t[kFormatText]);
  for (size_t i = 0; i < kFormatText; ++i) out[i] = u'?';
  int64_t result = FormatDateTime(out.get(), format.c_str(), record, flags, kPlatformServices);
  size_t length = 0;
  while (length < kFormatText && out[length]) ++length;
  Check(length < kFormatText, "the output is terminated within 8192 units");
  Check(result == static_cast<int64_t>(length), "the result is the output's length");
  Check(fuzz::CapturedOutput().empty() && fuzz::CapturedErrors().empty(), "the interpreter writes nothing");
  // Escapes such as \xD800 write lone halves on purpose; without them, a format of whole
  // characters gives whole characters, however the output is cut.
  const bool whole = WellFormed(format.data(), format.size()) && format.find(u'\\') == std::u16string::npos;
  if (whole) Check(WellFormed(out.get(), length), "whole characters in, whole characters out");
  static CompiledFormat compiled;
  if (CompileFormat(format.c_str(), flags, &compiled)) {
    std::unique_ptr<char16_t[]> again(new char16_t[kFormatText]);
    Check(RenderFormat(again.get(), compiled, record, kPlatformServices) == result &&
              std::char_traits<char16_t>::compare(again.get(), out.get(), length + 1) == 0,
          "the compiled format renders what the interpreter renders");
  }
  Check(FormatDateTime(out.get(), nullptr, record, flags, kPlatformServices) == -1, "a null format gives -1");
  return 0;
}
