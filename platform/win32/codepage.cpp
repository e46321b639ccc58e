// Win32 backend: code pages.
#include <windows.h>

#include <initializer_list>

#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

constexpr uint32_t kUtf8 = 65001, kGb18030 = 54936;

int Convert(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity) {
  if (count == 0) return 0;
  return MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), reinterpret_cast<LPWSTR>(out),
                             static_cast<int>(capacity));
}

// The bytes at the end that begin a character and lack its last bytes. The conversion
// here keeps no state from call to call, so its own lead bytes tell where characters
// begin, from the first byte, which begins one.
size_t CutLength(uint32_t codePage, const char* bytes, size_t count) {
  CPINFO info;
  if (!GetCPInfo(codePage, &info) || info.MaxCharSize < 2) return 0;
  size_t i = 0, start = 0;
  while (i < count) {
    start = i;
    const auto b = static_cast<BYTE>(bytes[i]);
    size_t size = IsDBCSLeadByteEx(codePage, b) ? 2 : 1;
    if (size == 2 && codePage == kGb18030 && i + 1 < count && bytes[i + 1] >= '0' && bytes[i + 1] <= '9') size = 4;
    i += size;
  }
  return i > count ? count - start : 0;
}

}  // namespace

uint32_t AnsiCodePage() { return GetACP(); }
uint32_t OemCodePage() { return GetOEMCP(); }

size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error) {
  size_t used = 0;
  if (codePage == kUtf8) return DecodeUtf8(bytes, count, out, capacity, true, &used);
  int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), reinterpret_cast<LPWSTR>(out),
                              static_cast<int>(capacity));
  if (n <= 0) {
    *error = GetLastError();
    return 0;
  }
  return static_cast<size_t>(n);
}

// UTF-8 is read by our own decoder, as in every build: the system's takes the byte after
// a bad lead byte with it (E0 0D gives one U+FFFD, and the line end is lost).
bool OpenByteDecoder(ByteDecoder* decoder, uint32_t codePage) {
  *decoder = ByteDecoder{};
  if (codePage == kUtf8) {
    *decoder = {codePage, -1, nullptr, true, false};
    return true;
  }
  char16_t units[4];
  const char probe = 'a';
  if (Convert(codePage, &probe, 1, units, 4) <= 0) return false;
  bool keepsAscii = true;
  for (unsigned b = 1; b < 0x80 && keepsAscii; ++b) {
    const char byte = static_cast<char>(b);
    keepsAscii = Convert(codePage, &byte, 1, units, 4) == 1 && units[0] == b;
  }
  for (unsigned b = 0x80; b < 0x100 && keepsAscii; ++b)
    for (char end : {'\r', '\n', '\0'}) {
      const char pair[2] = {static_cast<char>(b), end};
      const int n = Convert(codePage, pair, 2, units, 4);
      if (n <= 0 || units[n - 1] != static_cast<unsigned char>(end)) keepsAscii = false;
    }
  *decoder = {codePage, -1, nullptr, keepsAscii, false};
  return true;
}

void CloseByteDecoder(ByteDecoder* decoder) { *decoder = ByteDecoder{}; }

size_t DecodeBytes(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                   bool final) {
  if (decoder->codePage == kUtf8) return DecodeUtf8(bytes, count, out, capacity, final, used);
  const size_t take = final ? count : count - CutLength(decoder->codePage, bytes, count);
  const int n = Convert(decoder->codePage, bytes, take, out, capacity);
  *used = n > 0 || take == 0 ? take : 0;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace horalin::platform
