#include "datetime/escapes.h"

#include "common/text.h"
#include "common/utf.h"

namespace horalin {

namespace {

// The code points of the bytes 0x80 to 0x9F in Windows-1252; its five unassigned
// positions (0x81, 0x8D, 0x8F, 0x90, 0x9D) give a space.
constexpr char16_t kC1Table[32] = {
    0x20AC, 0x0020, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x0020, 0x017D, 0x0020,  // 0x88
    0x0020, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x0020, 0x017E, 0x0178,  // 0x98
};

// Roman digit forms by decimal place, indexed by the digit.
constexpr const char16_t* kRomanUnits[10] = {u"", u"I", u"II", u"III", u"IV", u"V", u"VI", u"VII", u"VIII", u"IX"};
constexpr const char16_t* kRomanTens[10] = {u"", u"X", u"XX", u"XXX", u"XL", u"L", u"LX", u"LXX", u"LXXX", u"XC"};
constexpr const char16_t* kRomanHundreds[10] = {u"", u"C", u"CC", u"CCC", u"CD", u"D", u"DC", u"DCC", u"DCCC", u"CM"};

// Ordinal suffixes, indexed by 0 ("th"), 1, 2, 3.
constexpr char16_t kOrdinalSuffixes[4][3] = {u"th", u"st", u"nd", u"rd"};

// The escape character and what it writes, for the named escapes ("\-" writes nothing).
struct NamedEscape {
  char16_t name;
  char16_t writes;
};
constexpr NamedEscape kNamedEscapes[] = {
    {u'a', 0x07}, {u'b', 0x08}, {u'c', u','}, {u'e', 0x1B}, {u'f', 0x0C}, {u'k', u'`'}, {u'n', 0x0A},
    {u'p', u'%'}, {u'q', u'"'}, {u'r', 0x0D}, {u's', u' '}, {u't', 0x09}, {u'v', 0x0B}, {u'-', 0},
};

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

int DigitOfBase(char16_t c, unsigned base) {
  if (base == 16) return HexValue(c);
  return c >= u'0' && c < u'0' + base ? c - u'0' : -1;
}

// The rules of one numeric escape: its base, how many digits it reads, the largest
// value, whether that limit is checked after each digit, and whether surrogates fail.
struct NumericRule {
  unsigned base;
  int maxDigits;
  uint32_t maxValue;
  bool checkEachDigit;
  bool rejectSurrogates;
};

Escape Failed(const char16_t* p) { return {u'\\', p + 1}; }

Escape ReadNumber(const char16_t* p, const char16_t* digits, const NumericRule& rule) {
  uint32_t value = 0;
  int count = 0;
  for (int d; count < rule.maxDigits && (d = DigitOfBase(digits[count], rule.base)) >= 0; ++count) {
    value = value * rule.base + static_cast<uint32_t>(d);
    if (rule.checkEachDigit && value > rule.maxValue) return Failed(p);
  }
  if (value == 0 || value > rule.maxValue || (rule.rejectSurrogates && IsSurrogate(value))) return Failed(p);
  return {MapC1Value(value), digits + count};
}

}  // namespace

uint32_t MapC1Value(uint32_t value) { return value >= 0x80 && value <= 0x9F ? kC1Table[value - 0x80] : value; }

Escape ReadEscape(const char16_t* p) {
  char16_t c = *p;
  if (c == 0) return {0, p};
  for (const NamedEscape& named : kNamedEscapes)
    if (named.name == c) return {named.writes, p + 1};
  switch (c) {
    case u'#':
      if (!IsDigit(p[1])) break;
      return ReadNumber(p, p + 1, {10, 5, 65535, true, false});
    case u'x':
      if (!IsXDigit(p[1])) break;
      return ReadNumber(p, p + 1, {16, 4, 0xFFFF, false, false});
    case u'u':
      if (!IsXDigit(p[1])) break;
      return ReadNumber(p, p + 1, {16, 4, 0xFFFF, false, true});
    case u'U':
      if (!IsXDigit(p[1])) break;
      return ReadNumber(p, p + 1, {16, 8, 0x10FFFF, true, true});
    default:
      if (c >= u'0' && c <= u'7') return ReadNumber(p, p, {8, 3, 511, false, false});
      // A surrogate pair escapes as the one character it encodes.
      if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) return {CodePointFromSurrogates(c, p[1]), p + 2};
      break;
  }
  return {MapC1Value(c), p + 1};
}

int RomanNumeral(uint32_t n, bool jEnding, char16_t* text, size_t capacity, size_t* length) {
  if (n == 0 || n > 9999 || capacity == 0) return -2;
  // At most nine "M", "DCCC", "LXXX" and "VIII" (9888): 21 units.
  char16_t numeral[21];
  size_t k = 0;
  for (uint32_t m = n / 1000; m; --m) numeral[k++] = u'M';
  const char16_t* forms[3] = {kRomanHundreds[n / 100 % 10], kRomanTens[n / 10 % 10], kRomanUnits[n % 10]};
  for (const char16_t* form : forms)
    while (*form) numeral[k++] = *form++;
  if (jEnding && numeral[k - 1] == u'I') numeral[k - 1] = u'J';
  size_t written = k < capacity ? k : capacity - 1;
  for (size_t i = 0; i < written; ++i) text[i] = numeral[i];
  text[written] = 0;
  if (length) *length = written;
  return 0;
}

size_t AppendOrdinalSuffix(uint32_t n, char16_t* text, size_t length, size_t capacity) {
  uint32_t r = n % 100;
  uint32_t d = r % 10;
  const char16_t* suffix = kOrdinalSuffixes[(r >= 10 && r <= 19) || d > 3 ? 0 : d];
  for (; *suffix && length + 1 < capacity; ++suffix) text[length++] = *suffix;
  if (length < capacity) text[length] = 0;
  return length;
}

}  // namespace horalin
