// POSIX backend: locale names and forms. (Interim: nothing.)
#include "platform/platform.h"

namespace horalin::platform {

size_t LocaleText(Locale, LocaleItem, int, char16_t* buffer, size_t room) {
  if (room) buffer[0] = 0;
  return 0;
}
size_t LocaleDate(bool, const SYSTEMTIME&, char16_t* buffer, size_t room) {
  if (room) buffer[0] = 0;
  return 0;
}
size_t LocaleTime(bool, const SYSTEMTIME&, char16_t* buffer, size_t room) {
  if (room) buffer[0] = 0;
  return 0;
}
void MapToUpperCase(char16_t*, size_t) {}
void MapToLowerCase(char16_t*, size_t) {}

}  // namespace horalin::platform
