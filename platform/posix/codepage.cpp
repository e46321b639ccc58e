// POSIX backend: Windows code pages, and the ANSI and OEM code pages of the locale.
// Those of one or two bytes a character are read through a table (platform/
// table_decoder.h) filled from glibc's iconv and corrected where Windows reads a cell
// otherwise (codepage_cells.h); GB18030 through iconv itself, which needs no state from
// one piece to the next; UTF-8 and UTF-7 by our own decoders (common/utf.h).
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/types.h"
#include "common/utf.h"
#include "common/words.h"
#include "platform/platform.h"
#include "platform/posix/codepage_cells.h"
#include "platform/table_decoder.h"

namespace horalin::platform {

namespace {

struct CodePageName {
  uint32_t codePage;
  const char* iconvName;
  bool doubleByte;  // has lead bytes
};

// A code page that the C library does not have is read as ASCII and the corrections,
// which give its upper half.
constexpr const char* kAsciiBase = "US-ASCII";

// Windows code page numbers and the iconv names of the same character sets (or of a
// set close to them: the corrections do the rest). Not here:
// code pages that Windows reads as the C library does not and that no table here
// corrects (858; the EBCDIC pages 870, 1047, 1140 to 1149, 20273 to 20905 and 21025;
// 38598; ISO-2022 50220 and 50225; EUC 51932, 51936, 51949): they are refused rather
// than read otherwise. GB18030 (54936) is read apart, through iconv.
constexpr CodePageName kCodePages[] = {
    {37, "IBM037", false},
    {437, "IBM437", false},
    {500, "IBM500", false},
    {708, "ASMO-708", false},
    {720, kAsciiBase, false},
    {737, "CP737", false},
    {775, "IBM775", false},
    {850, "IBM850", false},
    {852, "IBM852", false},
    {855, "IBM855", false},
    {857, "IBM857", false},
    {860, "IBM860", false},
    {861, "IBM861", false},
    {862, "IBM862", false},
    {863, "IBM863", false},
    {864, "IBM864", false},
    {865, "IBM865", false},
    {866, "IBM866", false},
    {869, "IBM869", false},
    {874, "WINDOWS-874", false},
    {875, "IBM875", false},
    {932, "WINDOWS-31J", true},
    {936, "WINDOWS-936", true},
    {949, "UHC", true},
    {950, "BIG5", true},
    {1026, "IBM1026", false},
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
    {10004, kAsciiBase, false},
    {10005, kAsciiBase, false},
    {10006, kAsciiBase, false},
    {10007, "MAC-CYRILLIC", false},
    {10010, kAsciiBase, false},
    {10017, "MACUKRAINIAN", false},
    {10021, kAsciiBase, false},
    {10029, "MAC-CENTRALEUROPE", false},
    {10079, "MAC-IS", false},
    {10081, kAsciiBase, false},
    {10082, kAsciiBase, false},
    {20127, kAsciiBase, false},
    {20866, "KOI8-R", false},
    {20932, "EUC-JP", true},
    {20949, "EUC-KR", true},
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

constexpr const char* kUtf16Native = "UTF-16LE";  // the machine's order (common/words.h: little-endian only)
constexpr uint32_t kUtf7 = 65000;

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

// The C library's reading of one cell: kBadCell unless it gives one unit of all the bytes.
char16_t LibraryCell(iconv_t cd, const char* bytes, size_t count) {
  char16_t units[8];
  return ConvertFew(cd, bytes, count, true, units) == 1 ? units[0] : kBadCell;
}

// The corrections, cell by cell, where Windows reads the code page otherwise.
bool CorrectCells(uint32_t codePage, CodePageTable* table) {
  for (const CellCorrection& fix : kCellCorrections) {
    if (fix.codePage != codePage) continue;
    for (uint32_t i = 0; i < fix.count; ++i) {
      const uint32_t cell = fix.first + i;
      const char16_t unit = fix.unit == kBadCell ? kBadCell : static_cast<char16_t>(fix.unit + i);
      if (cell < 0x100) {
        table->single[cell] = unit;
        continue;
      }
      const uint32_t lead = cell >> 8;
      if (!table->pairs && !TakePairRows(table)) return false;
      char16_t* row = (*table->pairs)[lead - 0x80];
      if (!table->lead[lead])
        for (unsigned second = 0; second < 256; ++second) row[second] = kBadCell;
      table->lead[lead] = true;
      row[cell & 0xFF] = unit;
    }
  }
  return true;
}

bool FillFromLibrary(uint32_t codePage, CodePageTable* table) {
  const CodePageName* entry = FindCodePage(codePage);
  if (!entry || codePage == kUtf7) return false;
  iconv_t cd = iconv_open(kUtf16Native, entry->iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  if (entry->doubleByte && !TakePairRows(table)) {
    iconv_close(cd);
    return false;
  }
  for (unsigned b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    table->single[b] = LibraryCell(cd, &byte, 1);
    if (!entry->doubleByte || b < 0x81 || b > 0xFE) continue;
    table->lead[b] = true;
    for (unsigned second = 0; second < 256; ++second) {
      const char pair[2] = {byte, static_cast<char>(second)};
      (*table->pairs)[b - 0x80][second] = LibraryCell(cd, pair, 2);
    }
  }
  iconv_close(cd);
  return CorrectCells(codePage, table);
}

// The ANSI and OEM code pages that Windows gives a user of each language, as the Windows
// program reports them under Wine with LANG set to a locale of it: a row's names are
// languages ("de"), a language in a territory ("en_GB") or in a script ("sr@latin"),
// tried in that order, most particular first. A locale of none of them (C, POSIX, en_US
// and other English, a language without a row) takes 1252 and 437. Where Windows knows
// no locale for a language in a territory (ru_UA, de_BE), the language's pages hold.
// 65001 (UTF-8) is the pages of the languages that Windows writes only in Unicode.
struct LanguagePages {
  uint16_t ansi, oem;
  const char* names;  // separated by blanks
};
constexpr LanguagePages kLanguagePages[] = {
    {1252, 850,
     "af br ca cy da de dsb es eu ff fi fo fr fy ga gd gl hsb id is it kl lb ms nb nl nn nso oc pt quz se sv tn "
     "wo xh zu en_AU en_CA en_GB en_HK en_IE en_NZ"},
    {1250, 852, "cs hr hu pl ro sk sl sq tk sr@latin bs@latin"},
    {1251, 866, "be bg ky mk mn ru sah tg tt uk az@cyrillic uz@cyrillic"},
    {1251, 855, "sr bs@cyrillic"},
    {1253, 737, "el"},
    {1254, 857, "tr az uz"},
    {1255, 862, "he"},
    {1256, 720, "ar ckb fa ug ur"},
    {1257, 775, "et lt lv"},
    {1258, 1258, "vi"},
    {874, 874, "th"},
    {932, 932, "ja"},
    {936, 936, "zh"},
    {949, 949, "ko"},
    {950, 950, "zh_TW zh_HK zh_MO"},
    {65001, 65001,
     "am as bn bo chr dv dz gu hi hy ka kk km kn kok ks lo mi ml mni mr mt my ne om or pa ps sa sd si so st syr "
     "ta te ti ts ve"},
};

struct LocalePages {
  uint32_t ansi, oem;
  uint32_t charset;  // the locale's own single-byte character set; 0 when it has none
};

// The row that names the language with `detail` ("_GB", "@latin", or none); null when
// none does.
const LanguagePages* RowNaming(std::string_view language, std::string_view detail) {
  for (const LanguagePages& row : kLanguagePages) {
    for (std::string_view names = row.names; !names.empty();) {
      const size_t blank = names.find(' ');
      const std::string_view name = names.substr(0, blank);
      if (name.size() == language.size() + detail.size() && name.starts_with(language) &&
          name.substr(language.size()) == detail)
        return &row;
      names = blank == std::string_view::npos ? std::string_view() : names.substr(blank + 1);
    }
  }
  return nullptr;
}

// The single-byte character set of a locale, as a code page number; 0 for any other set
// (UTF-8, a multi-byte set, ASCII) or a locale that is not installed.
uint32_t SingleByteCharset(const char* name) {
  locale_t locale = newlocale(LC_CTYPE_MASK, name, nullptr);
  if (!locale) return 0;
  const char* charset = nl_langinfo_l(CODESET, locale);
  uint32_t codePage = 0;
  for (const CodePageName& entry : kLocaleCharsets)
    if (!codePage && SameCharset(charset, entry.iconvName)) codePage = entry.codePage;
  for (const CodePageName& entry : kCodePages)
    if (!codePage && !entry.doubleByte && entry.iconvName != kAsciiBase && entry.codePage != kUtf7 &&
        SameCharset(charset, entry.iconvName))
      codePage = entry.codePage;
  freelocale(locale);
  return codePage;
}

// The pages of the locale of the user's character type (LC_ALL, LC_CTYPE, LANG), read
// from its name: language[_territory][.charset][@modifier].
LocalePages PagesOfLocale() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"})
    if (const char* value = std::getenv(variable); !name && value && *value) name = value;
  LocalePages pages{1252, 437, 0};
  if (!name) return pages;
  const std::string_view whole(name);
  const std::string_view language = whole.substr(0, whole.find_first_of("_.@"));
  const size_t at = whole.find('@');
  const std::string_view modifier = at == std::string_view::npos ? std::string_view() : whole.substr(at);
  const size_t underscore = whole.find('_');
  const std::string_view territory = underscore < at
                                         ? whole.substr(underscore, whole.find_first_of(".@", underscore) - underscore)
                                         : std::string_view();
  const LanguagePages* row = nullptr;
  if (!territory.empty()) row = RowNaming(language, territory);
  if (!row && !modifier.empty()) row = RowNaming(language, modifier);
  if (!row) row = RowNaming(language, {});
  if (row) pages = {row->ansi, row->oem, 0};
  pages.charset = SingleByteCharset(name);
  return pages;
}

// GB18030, converted by iconv a piece at a time: a character that the piece cuts off
// waits for the next piece; a byte that begins no character shows as U+FFFD and the byte
// after it is read on its own.
size_t DecodeGb18030(iconv_t cd, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                     bool final) {
  const size_t take = final ? count : count - Gb18030CutLength(bytes, count);
  char* in = const_cast<char*>(bytes);
  char* target = reinterpret_cast<char*>(out);
  size_t inLeft = take, outLeft = capacity * sizeof(char16_t);
  while (inLeft > 0) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &target, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || outLeft < sizeof(char16_t)) break;
    constexpr char16_t kReplacement = 0xFFFD;  // EILSEQ, or EINVAL at the end of the text
    std::memcpy(target, &kReplacement, sizeof kReplacement);
    target += sizeof kReplacement, outLeft -= sizeof kReplacement;
    ++in, --inLeft;
  }
  *used = static_cast<size_t>(in - bytes);
  return static_cast<size_t>(target - reinterpret_cast<char*>(out)) / sizeof(char16_t);
}

}  // namespace

uint32_t AnsiCodePage() {
  const LocalePages pages = PagesOfLocale();
  return pages.charset ? pages.charset : pages.ansi;
}

uint32_t OemCodePage() { return PagesOfLocale().oem; }

uint32_t DefaultCodePage() { return AnsiCodePage(); }

bool OpenByteDecoder(ByteDecoder* decoder, uint32_t codePage) {
  if (codePage == kGb18030) {
    iconv_t cd = iconv_open(kUtf16Native, "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    *decoder = {codePage, -1, cd, true};
    return true;
  }
  return OpenSharedDecoder(decoder, codePage, FillFromLibrary);
}

void CloseByteDecoder(ByteDecoder* decoder) {
  if (decoder->codePage == kGb18030) {
    iconv_close(static_cast<iconv_t>(decoder->converter));
    *decoder = ByteDecoder{};
    return;
  }
  CloseSharedDecoder(decoder);
}

size_t DecodeBytes(ByteDecoder* decoder, const char* bytes, size_t count, size_t* used, char16_t* out, size_t capacity,
                   bool final) {
  *used = 0;
  if (decoder->codePage == kGb18030)
    return DecodeGb18030(static_cast<iconv_t>(decoder->converter), bytes, count, used, out, capacity, final);
  size_t units = 0;
  DecodeShared(decoder, bytes, count, used, out, capacity, final, &units);
  return units;
}

}  // namespace horalin::platform
