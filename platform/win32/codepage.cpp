// Win32 backend: code pages.
#include <windows.h>

#include "platform/platform.h"

namespace horalin::platform {

uint32_t AnsiCodePage() { return GetACP(); }
uint32_t OemCodePage() { return GetOEMCP(); }

size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error) {
  int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), reinterpret_cast<LPWSTR>(out),
                              static_cast<int>(capacity));
  if (n <= 0) {
    *error = GetLastError();
    return 0;
  }
  return static_cast<size_t>(n);
}

bool IsLeadByte(uint32_t codePage, uint8_t byte) { return IsDBCSLeadByteEx(codePage, byte) != 0; }

}  // namespace horalin::platform
