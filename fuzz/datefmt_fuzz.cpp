// ParseDateTime and f_datefmt on arbitrary arguments: success comes with a valid date
// and time and no message; failure with exactly one error report. And the stamp forms
// of restamp on the same text as a line: a stamp found lies within it and is a date.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "common/text.h"
#include "common/types.h"
#include "datetime/calendar.h"
#include "datetime/parser.h"
#include "datetime/stamp_forms.h"
#include "fuzz/fuzz_support.h"
#include "host/host.h"
#include "lines/platform_services.h"
#include "plugin/errors.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

// Bytes below F0 are units of their own, F0 and above take the next two bytes as one.
std::u16string Argument(fuzz::Bytes& in) {
  std::u16string text;
  while (in.size > 0 && text.size() < kFormatText - 1) {
    uint8_t b = in.Byte();
    char16_t u = b < 0xF0 ? char16_t{b} : static_cast<char16_t>(in.Byte() << 8 | in.Byte());
    if (u == 0) break;
    text += u;
  }
  return text;
}

bool ValidDateTime(const SYSTEMTIME& t) {
  if (t.wYear < 1601 || t.wYear > 9999 || t.wMonth < 1 || t.wMonth > 12) return false;
  if (t.wDay < 1 || t.wDay > DaysInMonth[t.wMonth][IsLeapYear(t.wYear)]) return false;
  if (t.wDayOfWeek != DayNumberFromDate(t.wYear, t.wMonth, t.wDay) % 7) return false;
  return t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

void CheckParser(const std::u16string& text) {
  fuzz::ResetHost();
  DateTime record{};
  const SYSTEMTIME& t = record.local;
  const char16_t* const kUntouched = u"untouched";
  const char16_t* end = kUntouched;
  int32_t utc = 7;
  ParseError error{};
  int32_t result = ParseDateTime(text.c_str(), &record, &end, &utc, &error, kPlatformServices);
  Check(fuzz::ErrorReports() == 0 && fuzz::CapturedOutput().empty(), "the parser writes nothing");
  if (result == 0) {
    Check(ValidDateTime(t), "success comes with a valid date and time");
    Check(end >= text.c_str() && end <= text.c_str() + text.size(), "the end lies within the text");
    Check(utc == 0 || utc == 1, "the UTC flag is 0 or 1");
  } else {
    Check(result > 0, "a failure has a positive result code");
    Check(error.message != nullptr, "a failure has a message");
    Check(!error.position || (error.position >= text.c_str() && error.position <= text.c_str() + text.size()),
          "the caret points into the text");
    ReportParseError(text.c_str(), error);
    Check(fuzz::ErrorReports() == 1, "a failure is reported once");
    Check(end == kUntouched && utc == 7, "a failure hands back nothing");
  }
  Check(ParseDateTime(text.c_str(), nullptr, &end, &utc, &error, kPlatformServices) == -1, "no record gives -1");
}

void CheckFunction(const std::u16string& text) {
  fuzz::ResetHost();
  // Exactly the host's capacity, on the heap, so that a write past it is caught.
  std::unique_ptr<char16_t[]> buffer(new char16_t[kFormatText]);
  CopyText(buffer.get(), kFormatText, text.c_str());
  int result = f_datefmt(buffer.get());
  size_t length = 0;
  while (length < kFormatText && buffer[length]) ++length;
  Check(length < kFormatText, "the buffer stays terminated");
  if (result == 0) {
    Check(fuzz::ErrorReports() == 0 && fuzz::CapturedErrors().empty(), "a result comes without a message");
  } else {
    Check(result == -1, "a failure is -1");
    Check(fuzz::ErrorReports() == 1, "a failure is reported once");
  }
  Check(fuzz::CapturedOutput().empty(), "the function writes nothing to standard output");
}

// The line exactly as long as the text, without a terminator, so that a read past it is
// caught; every known form, then the text's first part as a form of its own.
void CheckStampForms(const std::u16string& text) {
  std::unique_ptr<char16_t[]> line(new char16_t[text.size() + 1]);
  std::copy(text.begin(), text.end(), line.get());
  size_t split = text.find(u'|');
  std::u16string form = split == std::u16string::npos ? u"" : text.substr(0, split);
  const char16_t* patterns[] = {nullptr, form.empty() || CheckStampPattern(form.c_str()) ? nullptr : form.c_str()};
  for (const char16_t* pattern : patterns) {
    StampFields f;
    size_t used = 0;
    if (RecognizeStamp(pattern, line.get(), text.size(), &f, &used) != StampMatch::Stamp) continue;
    Check(used > 0 && used <= text.size(), "a stamp lies within the line");
    if (!f.isUnix && f.time.wYear == 0) f.time.wYear = 2024;
    uint64_t instant = 0;
    if (StampInstant(f, StampZone{StampZoneKind::Utc, 0}, &instant, kPlatformServices))
      Check(instant < uint64_t{kLastDay} * 86400 * 10000000, "an instant lies within the calendar");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  const std::u16string text = Argument(in);
  CheckParser(text);
  CheckFunction(text);
  CheckStampForms(text);
  return 0;
}
