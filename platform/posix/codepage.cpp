// POSIX backend: Windows code pages through glibc's iconv, and the code page of the
// locale's character set.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include <bit>
#include <cstring>
#include <initializer_list>

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

// Converters, opened on first use and kept, idle, for the next decoder of the same code
// page: opening one costs far more than a line's conversion, and tests and fuzzing open
// readers by the thousand. Room for every code page of the table, and a few more for
// readers that convert the same code page at the same time.
struct Converter {
  uint32_t codePage;  // 0: a free slot
  iconv_t cd;
  bool inUse;
  bool copiesAscii;  // each byte 01 to 7F alone gives itself at once: runs of them are copied
  bool keepsAscii;   // see ByteDecoder
};
constexpr int32_t kConverterSlots = 128;
Converter Converters[kConverterSlots];

constexpr const char* kUtf16Native = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
constexpr char16_t kReplacement = 0xFFFD;
constexpr uint32_t kUtf8 = 65001, kUtf7 = 65000;

// Converts a few bytes from the converter's initial state, and with `flush` lets out what
// it holds back. Returns the units written; -1 when the conversion failed.
int ConvertFew(iconv_t cd, const char* bytes, size_t count, bool flush, char16_t (&units)[8]) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes);
  char* target = reinterpret_cast<char*>(units);
  size_t inLeft = count, outLeft = sizeof units;
  bool failed = iconv(cd, &in, &inLeft, &target, &outLeft) == static_cast<size_t>(-1);
  if (flush && !failed) failed = iconv(cd, nullptr, nullptr, &target, &outLeft) == static_cast<size_t>(-1);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return failed ? -1 : static_cast<int>(static_cast<size_t>(target - reinterpret_cast<char*>(units)) / 2);
}

// Asks the conversion itself how the code page treats 7-bit bytes and line ends.
void LearnConverter(Converter* c) {
  char16_t units[8];
  c->copiesAscii = c->keepsAscii = true;
  for (unsigned b = 1; b < 0x80; ++b) {
    const char byte = static_cast<char>(b);
    if (ConvertFew(c->cd, &byte, 1, false, units) != 1 || units[0] != b) c->copiesAscii = false;
    if (ConvertFew(c->cd, &byte, 1, true, units) != 1 || units[0] != b) c->keepsAscii = c->copiesAscii = false;
  }
  // No byte takes a following CR, LF or zero byte into its character.
  for (unsigned b = 0x80; b < 0x100 && c->keepsAscii; ++b)
    for (char end : {'\r', '\n', '\0'}) {
      const char pair[2] = {static_cast<char>(b), end};
      char* in = const_cast<char*>(pair);
      char* target = reinterpret_cast<char*>(units);
      size_t inLeft = 2, outLeft = sizeof units;
      iconv(c->cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(c->cd, &in, &inLeft, &target, &outLeft) == static_cast<size_t>(-1)) {
        if (errno != EILSEQ) {  // the pair may begin a longer character
          c->keepsAscii = false;
          break;
        }
        ++in, --inLeft;  // the byte is refused: the line end after it must still stand alone
        iconv(c->cd, &in, &inLeft, &target, &outLeft);
      }
      iconv(c->cd, nullptr, nullptr, &target, &outLeft);
      const char16_t* last = reinterpret_cast<char16_t*>(target) - 1;
      if (target == reinterpret_cast<char*>(units) || *last != static_cast<unsigned char>(end)) c->keepsAscii = false;
    }
  iconv(c->cd, nullptr, nullptr, nullptr, nullptr);
}

// A converter for the code page, idle until now; the slot, or -1 for one outside the
// table (every slot busy), handed back through ReleaseConverter.
iconv_t AcquireConverter(uint32_t codePage, int32_t* slot, bool* keepsAscii) {
  for (int32_t i = 0; i < kConverterSlots; ++i) {
    Converter& c = Converters[i];
    if (c.codePage == codePage && !c.inUse) {
      iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
      c.inUse = true;
      *slot = i;
      *keepsAscii = c.keepsAscii;
      return c.cd;
    }
  }
  const CodePageName* entry = FindCodePage(codePage);
  if (!entry) return nullptr;
  iconv_t cd = iconv_open(kUtf16Native, entry->iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  int32_t free = -1;
  for (int32_t i = 0; i < kConverterSlots && free < 0; ++i)
    if (Converters[i].codePage == 0) free = i;
  for (int32_t i = 0; i < kConverterSlots && free < 0; ++i)
    if (!Converters[i].inUse) free = i;
  Converter learned{codePage, cd, true, true, true};
  LearnConverter(&learned);
  *keepsAscii = learned.keepsAscii;
  *slot = free;
  if (free >= 0) {
    if (Converters[free].codePage != 0) iconv_close(Converters[free].cd);
    Converters[free] = learned;
  }
  return cd;
}

// Copies the run of 7-bit bytes at the start; returns its length.
size_t CopyAsciiPrefix(const char* bytes, size_t count, char16_t* out, size_t capacity) {
  size_t n = count < capacity ? count : capacity;
  size_t i = 0;
  for (uint64_t word; i + 8 <= n; i += 8) {  // eight bytes at a time while none has its high bit
    std::memcpy(&word, bytes + i, 8);
    if (word & 0x8080808080808080ull) break;
    PutAsciiBytes8(bytes + i, out + i);
  }
  while (i < count && i < capacity && static_cast<unsigned char>(bytes[i]) < 0x80) {
    out[i] = static_cast<char16_t>(bytes[i]);
    ++i;
  }
  return i;
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

bool OpenByteDecoder(ByteDecoder* decoder, uint32_t codePage) {
  *decoder = ByteDecoder{};
  if (codePage == kUtf8 || codePage == kUtf7) {  // our own decoders; UTF-7 keeps its state in the slot
    *decoder = {codePage, codePage == kUtf7 ? 0 : -1, nullptr, codePage == kUtf8, false};
    return true;
  }
  bool keepsAscii = false;
  int32_t slot = -1;
  iconv_t cd = AcquireConverter(codePage, &slot, &keepsAscii);
  if (!cd) return false;
  *decoder = {codePage, slot, slot < 0 ? cd : nullptr, keepsAscii, false};
  return true;
}

void CloseByteDecoder(ByteDecoder* decoder) {
  if (decoder->codePage != 0 && decoder->codePage != kUtf8 && decoder->codePage != kUtf7) {
    if (decoder->slot >= 0)
      Converters[decoder->slot].inUse = false;
    else
      iconv_close(static_cast<iconv_t>(decoder->converter));
  }
  *decoder = ByteDecoder{};
}

size_t DecodeBytes(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                   bool final) {
  *used = 0;
  if (decoder->codePage == kUtf8) return DecodeUtf8(bytes, count, out, capacity, final, used);
  if (decoder->codePage == kUtf7) {
    auto state = static_cast<uint32_t>(decoder->slot);
    const size_t units = DecodeUtf7(&state, bytes, count, out, capacity, final, used);
    decoder->slot = static_cast<int32_t>(state);
    return units;
  }
  if (decoder->codePage == 0) return 0;
  const Converter* pooled = decoder->slot >= 0 ? &Converters[decoder->slot] : nullptr;
  iconv_t cd = pooled ? pooled->cd : static_cast<iconv_t>(decoder->converter);
  // A run of 7-bit bytes is copied, unless a character held back must come first.
  size_t prefix = pooled && pooled->copiesAscii && !decoder->pending ? CopyAsciiPrefix(bytes, count, out, capacity) : 0;
  char* in = const_cast<char*>(bytes + prefix);
  size_t inLeft = count - prefix;
  char* target = reinterpret_cast<char*>(out + prefix);
  size_t outLeft = (capacity - prefix) * sizeof(char16_t);
  bool full = false;
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &target, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || outLeft < 2 * sizeof(char16_t)) {  // room for a held character and U+FFFD
      full = true;
      break;
    }
    if (errno == EINVAL && !final) break;  // a character cut off at the end: the caller keeps it
    // A byte that the code page does not map, or a character cut off at the end of the
    // text, shows as U+FFFD. Where 7-bit bytes stand for themselves, what the converter
    // holds back is a character waiting for a combining mark: it comes out first, or the
    // bad byte would take it with it. Elsewhere the state is a shift state that the bytes
    // after the bad one still need.
    if (decoder->keepsAscii) iconv(cd, nullptr, nullptr, &target, &outLeft);
    std::memcpy(target, &kReplacement, sizeof kReplacement);
    target += sizeof kReplacement, outLeft -= sizeof kReplacement;
    ++in, --inLeft;
  }
  *used = static_cast<size_t>(in - bytes);
  if (final && !full && inLeft == 0) {
    iconv(cd, nullptr, nullptr, &target, &outLeft);  // what is held back, and the initial state
    decoder->pending = false;
  } else if (*used > prefix) {
    decoder->pending = true;
  }
  return static_cast<size_t>(target - reinterpret_cast<char*>(out)) / sizeof(char16_t);
}

size_t WideFromMultiByte(uint32_t codePage, const char* bytes, size_t count, char16_t* out, size_t capacity,
                         uint32_t* error) {
  ByteDecoder decoder;
  if (!OpenByteDecoder(&decoder, codePage)) {
    *error = kErrorInvalidParameter;
    return 0;
  }
  size_t used = 0;
  size_t units = DecodeBytes(&decoder, bytes, count, &used, out, capacity, true);
  CloseByteDecoder(&decoder);
  return units;
}

}  // namespace horalin::platform
