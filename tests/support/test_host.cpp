#include "tests/support/test_host.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>

#include "common/text.h"
#include "common/utf.h"
#include "host/host.h"
#include "hostkit/expand.h"
#include "platform/platform.h"

namespace horalin::testing {

namespace {

std::u16string Output, Errors;
std::vector<std::pair<std::string, std::string>> Variables;
size_t Reports = 0;

struct CaptureSink {
  TextSink base;
  std::u16string* target;
};

void Capture(TextSink* sink, const char16_t* text, size_t length) {
  reinterpret_cast<CaptureSink*>(sink)->target->append(text, length);
}

// Whole calls are kept up to about a million units, enough to show a failure (a fuzz
// input may make a great deal more); a call is never cut, so the text still ends where
// a call of the plug-in ended.
void Write(std::u16string* target, const char16_t* format, va_list args) {
  if (target->size() >= 1000000) return;
  CaptureSink sink{{Capture}, target};
  FormatToSink(&sink.base, format, args);
}

bool Lookup(const char16_t* name, size_t length, char16_t* value, size_t capacity) {
  std::string key = U8(std::u16string(name, length));
  for (auto& [k, v] : Variables)
    if (strcasecmp(k.c_str(), key.c_str()) == 0) {
      CopyText(value, capacity, U16(v).c_str());
      return true;
    }
  return false;
}

}  // namespace

std::u16string U16(const std::string& utf8) {
  std::u16string out(utf8.size() + 1, u'\0');
  out.resize(Utf16FromUtf8(utf8.data(), utf8.size(), out.data(), out.size()));
  return out;
}

std::string U8(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  out.resize(Utf8FromUtf16(text.data(), text.size(), out.data()));
  return out;
}

std::string CapturedOutput() { return U8(Output); }
std::string CapturedErrors() { return U8(Errors); }
std::u16string CapturedOutputTail(size_t count) {
  return Output.substr(Output.size() > count ? Output.size() - count : 0);
}
size_t ErrorReports() { return Reports; }

void ResetHost(std::vector<std::pair<std::string, std::string>> variables) {
  Output.clear();
  Errors.clear();
  Reports = 0;
  Variables = std::move(variables);
}

}  // namespace horalin::testing

using namespace horalin;
using namespace horalin::testing;

extern "C" int Printf(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  Write(&Output, format, args);
  va_end(args);
  return 0;
}

extern "C" int Qprintf(void* handle, const char16_t* format, ...) {
  const bool error = handle == platform::StdHandle(platform::StdStream::Error);
  if (error && CompareNoCase(format, u"%s plugin: ") == 0) ++Reports;  // every report begins so
  va_list args;
  va_start(args, format);
  Write(error ? &Errors : &Output, format, args);
  va_end(args);
  return 0;
}

extern "C" int QPuts(const char16_t* text) {
  if (Output.size() < 1000000) Output += text;
  return 0;
}

extern "C" int ExpandVariables(char16_t* buffer, int) {
  hostkit::ExpandVariableReferences(buffer, Lookup);
  return 0;
}

extern "C" int QueryTrueName(const char16_t* path, char16_t* result) {
  CopyText(result, kPathText, path);
  return 0;
}
