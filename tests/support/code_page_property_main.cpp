// The reader's property over every code page that the build accepts, as a program of
// the Windows build, run under Wine by the end-to-end tests; UTF-7, which the backend
// reads by itself, also against the system's conversion. Prints each code page that
// fails and the count checked; exit status 1 after a failure.
#include <windows.h>

#include <cstdio>

#include "lines/encoding.h"
#include "tests/support/code_page_property.h"

namespace {

bool SystemConversion(uint32_t codePage, const std::string& bytes, std::u16string* text) {
  if (codePage != 65000) return false;
  text->resize(bytes.size() + 16);
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    reinterpret_cast<LPWSTR>(text->data()), static_cast<int>(text->size()));
  text->resize(n > 0 ? static_cast<size_t>(n) : 0);
  return true;
}

}  // namespace

int main() {
  std::mt19937 random(20261207);
  int checked = 0, failed = 0;
  for (uint32_t codePage = 1; codePage < 70000; ++codePage) {
    if (!horalin::IsCodePageSupported(codePage)) continue;
    ++checked;
    const std::string failure = horalin::testing::CheckCodePageReading(codePage, random, SystemConversion);
    if (failure.empty()) continue;
    ++failed;
    std::printf("code page %u: %s\n", static_cast<unsigned>(codePage), failure.c_str());
  }
  std::printf("%d code pages checked, %d failed\n", checked, failed);
  return failed ? 1 : 0;
}
