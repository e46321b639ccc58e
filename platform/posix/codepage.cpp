// POSIX backend: Windows code pages through glibc's iconv, and the code page of the
// locale's character set.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <bit>
#include <cstring>

#include "common/types.h"
#include "common/utf.h"
#include "platform/platform.h"

namespace horalin::platform {

namespace {

struct CodePageName {
  uint32_t codePage;
  const char* iconvName;
  bool doubleByte;  // has lead bytes
};

// Windows code page numbers and the iconv names of the same character sets.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037", false},
    {437, "IBM437", false},
    {500, "IBM500", false},
    {708, "ASMO-708", false},
    {737, "CP737", false},
    {775, "IBM775", false},
    {850, "IBM850", false},
    {852, "IBM852", false},
    {855, "IBM855", false},
    {857, "IBM857", false},
    {858, "IBM858", false},
    {860, "IBM860", false},
    {861, "IBM861", false},
    {862, "IBM862", false},
    {863, "IBM863", false},
    {864, "IBM864", false},
    {865, "IBM865", false},
    {866, "IBM866", false},
    {869, "IBM869", false},
    {870, "IBM870", false},
    {874, "WINDOWS-874", false},
    {875, "IBM875", false},
    {932, "WINDOWS-31J", true},
    {936, "WINDOWS-936", true},
    {949, "UHC", true},
    {950, "BIG5", true},
    {1026, "IBM1026", false},
    {1047, "IBM1047", false},
    {1140, "IBM1140", false},
    {1141, "IBM1141", false},
    {1142, "IBM1142", false},
    {1143, "IBM1143", false},
    {1144, "IBM1144", false},
    {1145, "IBM1145", false},
    {1146, "IBM1146", false},
    {1147, "IBM1147", false},
    {1148, "IBM1148", false},
    {1149, "IBM1149", false},
    {1250, "CP1250", false},
    {1251, "CP1251", false},
    {1252, "CP1252", false},
    {1253, "CP1253", false},
    {1254, "CP1254", false},
    {1255, "CP1255", false},
    {1256, "CP1256", false},
    {1257, "CP1257", false},
    {1258, "CP1258", false},
    {1361, "JOHAB", true},
    {10000, "MACINTOSH", false},
    {10007, "MAC-CYRILLIC", false},
    {10017, "MACUKRAINIAN", false},
    {10029, "MAC-CENTRALEUROPE", false},
    {10079, "MAC-IS", false},
    {20127, "US-ASCII", false},
    {20273, "IBM273", false},
    {20277, "IBM277", false},
    {20278, "IBM278", false},
    {20280, "IBM280", false},
    {20284, "IBM284", false},
    {20285, "IBM285", false},
    {20290, "IBM290", false},
    {20297, "IBM297", false},
    {20420, "IBM420", false},
    {20423, "IBM423", false},
    {20424, "IBM424", false},
    {20866, "KOI8-R", false},
    {20871, "IBM871", false},
    {20880, "IBM880", false},
    {20905, "IBM905", false},
    {20932, "EUC-JP", true},
    {21025, "IBM1025", false},
    {21866, "KOI8-U", false},
    {28591, "ISO-8859-1", false},
    {28592, "ISO-8859-2", false},
    {28593, "ISO-8859-3", false},
    {28594, "ISO-8859-4", false},
    {28595, "ISO-8859-5", false},
    {28596, "ISO-8859-6", false},
    {28597, "ISO-8859-7", false},
    {28598, "ISO-8859-8", false},
    {28599, "ISO-8859-9", false},
    {28603, "ISO-8859-13", false},
    {28605, "ISO-8859-15", false},
    {38598, "ISO-8859-8", false},
    {50220, "ISO-2022-JP", false},
    {50225, "ISO-2022-KR", false},
    {51932, "EUC-JP", true},
    {51936, "EUC-CN", true},
    {51949, "EUC-KR", true},
    {54936, "GB18030", true},
    {65000, "UTF-7", false},
};

// Locale character sets whose glibc names differ from the iconv names above.
constexpr CodePageName kLocaleCharsets[] = {
    {874, "TIS-620", false},
    {1252, "WINDOWS-1252", false},
};

const CodePageName* FindCodePage(uint32_t codePage) {
  for (const CodePageName& entry : kCodePages)
    if (entry.codePage == codePage) return &entry;
  return nullptr;
}

// Character set names compared without case, hyphens and underscores.
bool SameCharset(const char* a, const char* b) {
  auto next = [](const char*& p) {
    while (*p == '-' || *p == '_') ++p;
    char c = *p ? *p++ : 0;
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  };
  for (;;) {
    char ca = next(a), cb = next(b);
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

// TS converts every line: one converter per code page, opened on first use and kept.
struct Converter {
  uint32_t codePage;
  iconv_t cd;
  bool asciiCompatible;  // every byte 01 to 7F stands for itself, without shift states
};
Converter Converters[8];
size_t ConverterCount = 0;

constexpr const char* kUtf16Native = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Converts one byte alone, from the converter's initial state. Returns iconv's result
// (errno tells why it failed) and the units written.
size_t ConvertSingleByte(iconv_t cd, uint8_t byte, char16_t (&unit)[4], size_t* units) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char single = static_cast<char>(byte);
  char* in = &single;
  size_t inLeft = 1;
  char* target = reinterpret_cast<char*>(unit);
  size_t outLeft = sizeof unit;
  size_t result = iconv(cd, &in, &inLeft, &target, &outLeft);
  *units = static_cast<size_t>(target - reinterpret_cast<char*>(unit)) / sizeof(char16_t);
  return result;
}

bool IsAsciiCompatible(iconv_t cd) {
  for (unsigned b = 1; b < 0x80; ++b) {
    char16_t unit[4];
    size_t units = 0;
    if (ConvertSingleByte(cd, static_cast<uint8_t>(b), unit, &units) == static_cast<size_t>(-1) || units != 1 ||
        unit[0] != b)
      return false;
  }
  return true;
}

const Converter* ConverterFor(uint32_t codePage) {
  for (size_t i = 0; i < ConverterCount; ++i)
    if (Converters[i].codePage == codePage) return &Converters[i];
  const CodePageName* entry = FindCodePage(codePage);
  if (!entry) return nullptr;
  iconv_t cd = iconv_open(kUtf16Native, entry->iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  if (ConverterCount == sizeof Converters / sizeof Converters[0]) {  // full: the oldest goes
    iconv_close(Converters[0].cd);
    std::memmove(Converters, Converters + 1, sizeof Converters - sizeof Converters[0]);
    --ConverterCount;
  }
  Converters[ConverterCount] = {codePage, cd, IsAsciiCompatible(cd)};
  return &Converters[ConverterCount++];
}

// Copies the run of 7-bit bytes at the start; returns its length.
size_t CopyAsciiPrefix(const char* bytes, size_t count, char16_t* out, size_t capacity) {
  size_t n = count < capacity ? count : capacity;
  size_t i = 0;
  for (uint64_t word; i + 8 <= n; i += 8) {  // eight bytes at a time while none has its high bit
    std::memcpy(&word, bytes + i, 8);
    if (word & 0x8080808080808080ull) break;
    for (size_t k = 0; k < 8; ++k) out[i + k] = static_cast<char16_t>(bytes[i + k]);
  }
  while (i < count && i < capacity && static_cast<unsigned char>(bytes[i]) < 0x80) {
    out[i] = static_cast<char16_t>(bytes[i]);
    ++i;
  }
  return i;
}

// UTF-8 with a plain copy for the 7-bit runs that make up most text.
size_t WideFromUtf8(const char* bytes, size_t count, char16_t* out, size_t capacity) {
  size_t i = CopyAsciiPrefix(bytes, count, out, capacity);
  if (i == count || i == capacity) return i;
  // The rest; Utf16FromUtf8 keeps the last unit of the room for a terminator.
  return i + Utf16FromUtf8(bytes + i, count - i, out + i, capacity - i);
}

}  // namespace

uint32_t AnsiCodePage() {
  // The locale's character set when it is a single-byte one; otherwise (UTF-8, a
  // multi-byte set, or plain ASCII in the C locale) the Western European code page.
  const char* charset = nl_langinfo(CODESET);
  if (charset && *charset) {
    for (const CodePageName& entry : kLocaleCharsets)
      if (SameCharset(charset, entry.iconvName)) return entry.codePage;
    for (const CodePageName& entry : kCodePages)
      if (!entry.doubleByte && entry.codePage != 20127 && entry.codePage != 65000 &&
          SameCharset(charset, entry.iconvName))
        return entry.codePage;
  }
  return 1252;
}

uint32_t OemCodePage() { return AnsiCodePage(); }

size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error) {
  if (codePage == 65001) return WideFromUtf8(bytes, count, out, capacity);
  const Converter* converter = ConverterFor(codePage);
  if (!converter) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  size_t prefix = converter->asciiCompatible ? CopyAsciiPrefix(bytes, count, out, capacity) : 0;
  if (prefix == count || prefix == capacity) return prefix;
  iconv_t cd = converter->cd;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes + prefix);
  size_t inLeft = count - prefix;
  char* target = reinterpret_cast<char*>(out + prefix);
  size_t outLeft = (capacity - prefix) * sizeof(char16_t);
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &target, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || outLeft < sizeof(char16_t)) break;  // as much as fits
    // A byte that the code page does not map, or a sequence cut off at the end: it is
    // not dropped but shown as the replacement character.
    const char16_t replacement = 0xFFFD;
    std::memcpy(target, &replacement, sizeof replacement);
    target += sizeof replacement, outLeft -= sizeof replacement;
    ++in, --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv(cd, nullptr, nullptr, &target, &outLeft);  // the end of a shifted sequence
  return static_cast<size_t>(target - reinterpret_cast<char*>(out)) / sizeof(char16_t);
}

bool IsLeadByte(uint32_t codePage, uint8_t byte) {
  const CodePageName* entry = FindCodePage(codePage);
  if (!entry || !entry->doubleByte || byte < 0x80) return false;
  const Converter* converter = ConverterFor(codePage);
  if (!converter) return false;
  iconv_t cd = converter->cd;
  // A lead byte alone is an incomplete character.
  char16_t unit[4];
  size_t units = 0;
  bool incomplete = ConvertSingleByte(cd, byte, unit, &units) == static_cast<size_t>(-1) && errno == EINVAL;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return incomplete;
}

}  // namespace horalin::platform
