// POSIX backend: code pages. (Interim: UTF-8 only.)
#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

uint32_t AnsiCodePage() { return 1252; }
uint32_t OemCodePage() { return 1252; }

size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out,
                         size_t capacity, uint32_t* error) {
  if (codePage != 65001) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  (void)out, (void)capacity, (void)bytes, (void)count;
  *error = kErrorInvalidParameter;
  return 0;
}

}  // namespace horalin::platform
