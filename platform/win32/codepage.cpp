// Win32 backend: code pages. Those of one or two bytes a character are read through a
// table filled from the system's conversion (platform/table_decoder.h); GB18030 through
// the conversion itself, which needs no state; UTF-8 and UTF-7 by our own decoders
// (common/utf.h). Other code pages that keep a state (ISO-2022, HZ) are refused.
#include <windows.h>

#include "common/utf.h"
#include "platform/platform.h"
#include "platform/table_decoder.h"

namespace horalin::platform {

namespace {

int Convert(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity) {
  if (count == 0) return 0;
  return MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), reinterpret_cast<LPWSTR>(out),
                             static_cast<int>(capacity));
}

// The system's reading of one cell: the character, or kBadCell where the bytes are no
// character of the code page. The system shows such bytes as its default character,
// which the code page may also map: the strict conversion tells the two apart.
char16_t CellOf(uint32_t codePage, char16_t defaultChar, const char* bytes, int count) {
  wchar_t units[4];
  if (MultiByteToWideChar(codePage, 0, bytes, count, units, 4) != 1) return kBadCell;
  if (units[0] == defaultChar && MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, count, units, 4) != 1)
    return kBadCell;
  return static_cast<char16_t>(units[0]);
}

bool FillFromSystem(uint32_t codePage, CodePageTable* table) {
  CPINFOEXW info;
  if (!GetCPInfoExW(codePage, 0, &info) || info.MaxCharSize > 2) return false;
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    for (unsigned b = info.LeadByte[i]; b <= info.LeadByte[i + 1]; ++b) table->lead[b] = b >= 0x81 && b <= 0xFE;
  if (info.LeadByte[0] != 0 && !TakePairRows(table)) return false;
  const auto defaultChar = static_cast<char16_t>(info.UnicodeDefaultChar);
  for (unsigned b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    if (!table->lead[b]) {
      table->single[b] = CellOf(codePage, defaultChar, &byte, 1);
      continue;
    }
    for (unsigned second = 0; second < 256; ++second) {
      const char pair[2] = {byte, static_cast<char>(second)};
      (*table->pairs)[b - 0x80][second] = CellOf(codePage, defaultChar, pair, 2);
    }
  }
  return true;
}

}  // namespace

uint32_t AnsiCodePage() { return GetACP(); }
uint32_t OemCodePage() { return GetOEMCP(); }
uint32_t DefaultCodePage() { return GetOEMCP(); }

// UTF-8 and UTF-7 are read by our own decoders, as in every build: the system's UTF-8
// takes the byte after a bad lead byte with it (E0 0D gives one U+FFFD, and the line end
// is lost), and its UTF-7 cannot carry a run from one call to the next.
bool OpenByteDecoder(ByteDecoder* decoder, uint32_t codePage) {
  *decoder = ByteDecoder{};
  if (codePage == kGb18030) {
    char16_t unit;
    if (Convert(codePage, "a", 1, &unit, 1) != 1) return false;
    *decoder = {codePage, -1, nullptr, true};
    return true;
  }
  return OpenSharedDecoder(decoder, codePage, FillFromSystem);
}

void CloseByteDecoder(ByteDecoder* decoder) { CloseSharedDecoder(decoder); }

size_t DecodeBytes(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                   bool final) {
  *used = 0;
  if (decoder->codePage == 0) return 0;
  if (size_t units; DecodeShared(decoder, bytes, count, used, out, capacity, final, &units)) return units;
  const size_t take = final ? count : count - Gb18030CutLength(bytes, count);
  const int n = Convert(decoder->codePage, bytes, take, out, capacity);
  *used = n > 0 || take == 0 ? take : 0;
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace horalin::platform
