// UTF-16 text as the bytes a writer of either byte order sends down a pipe.
#pragma once

#include <string>

namespace horalin::testing {

inline std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += static_cast<char>(u & 0xFF), out += static_cast<char>(u >> 8);
  return out;
}

inline std::string Utf16Be(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += static_cast<char>(u >> 8), out += static_cast<char>(u & 0xFF);
  return out;
}

}  // namespace horalin::testing
