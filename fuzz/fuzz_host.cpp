// The host for the fuzz targets: it keeps what the plug-in writes, counts the error
// reports by the prefix that begins each of them, and has no shell variables but
// _batch (0: not in a batch file).
#include <cstdarg>
#include <string>

#include "common/text.h"
#include "common/types.h"
#include "fuzz/fuzz_support.h"
#include "host/host.h"
#include "platform/platform.h"

namespace horalin::fuzz {

namespace {

std::u16string Output, Errors;
size_t Reports = 0;

struct Sink {
  TextSink base;
  std::u16string* target;
};

void Put(TextSink* sink, const char16_t* text, size_t length) {
  reinterpret_cast<Sink*>(sink)->target->append(text, length);
}

// Whole calls are kept up to about a million units, enough to show a failure; a call
// is never cut, so the text still ends where a call of the plug-in ended.
void Write(std::u16string* target, const char16_t* format, va_list args) {
  if (target->size() >= 1000000) return;
  Sink sink{{Put}, target};
  FormatToSink(&sink.base, format, args);
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += u < 0x80 ? static_cast<char>(u) : '?';
  return out;
}

}  // namespace

void ResetHost() {
  Output.clear();
  Errors.clear();
  Reports = 0;
}
size_t ErrorReports() { return Reports; }
std::string CapturedOutput() { return Utf8(Output); }
std::string CapturedErrors() { return Utf8(Errors); }

}  // namespace horalin::fuzz

using namespace horalin;

extern "C" int Printf(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  fuzz::Write(&fuzz::Output, format, args);
  va_end(args);
  return 0;
}

extern "C" int Qprintf(void* handle, const char16_t* format, ...) {
  const bool error = handle == platform::StdHandle(platform::StdStream::Error);
  // Every report begins with the plug-in's prefix, written on its own.
  if (error && CompareNoCase(format, u"%s plugin: ") == 0) ++fuzz::Reports;
  va_list args;
  va_start(args, format);
  fuzz::Write(error ? &fuzz::Errors : &fuzz::Output, format, args);
  va_end(args);
  return 0;
}

extern "C" int QPuts(const char16_t* text) {
  fuzz::Output += text;
  return 0;
}

extern "C" int ExpandVariables(char16_t* buffer, int) {
  if (CompareNoCase(buffer, u"%_batch") == 0) CopyText(buffer, kFormatText, u"0");
  return 0;
}

extern "C" int QueryTrueName(const char16_t* path, char16_t* result) {
  CopyText(result, kPathText, path);
  return 0;
}
