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

struct CaptureSink {
  TextSink base;
  std::u16string* target;
};

void Capture(TextSink* sink, const char16_t* text, size_t length) {
  reinterpret_cast<CaptureSink*>(sink)->target->append(text, length);
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
  out.resize(Utf8FromUtf16(text.data(), text.size(), out.data(), true, nullptr));
  return out;
}

std::string CapturedOutput() { return U8(Output); }
std::string CapturedErrors() { return U8(Errors); }

void ResetHost(std::vector<std::pair<std::string, std::string>> variables) {
  Output.clear();
  Errors.clear();
  Variables = std::move(variables);
}

}  // namespace horalin::testing

using namespace horalin;
using namespace horalin::testing;

extern "C" int Printf(const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  CaptureSink sink{{Capture}, &Output};
  FormatToSink(&sink.base, format, args);
  va_end(args);
  return 0;
}

extern "C" int Qprintf(void* handle, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  bool error = handle == platform::StdHandle(platform::StdStream::Error);
  CaptureSink sink{{Capture}, error ? &Errors : &Output};
  FormatToSink(&sink.base, format, args);
  va_end(args);
  return 0;
}

extern "C" int QPuts(const char16_t* text) {
  Output += text;
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
