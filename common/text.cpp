#include "common/text.h"

#include <cwctype>

namespace horalin {

size_t TextLength(const char16_t* text) {
  // Four units a round, never reading past the terminator.
  const char16_t* p = text;
  for (;; p += 4) {
    if (!p[0]) return static_cast<size_t>(p - text);
    if (!p[1]) return static_cast<size_t>(p + 1 - text);
    if (!p[2]) return static_cast<size_t>(p + 2 - text);
    if (!p[3]) return static_cast<size_t>(p + 3 - text);
  }
}

size_t CopyText(char16_t* target, size_t capacity, const char16_t* source) {
  if (capacity == 0) return 0;
  size_t n = 0;
  while (n + 1 < capacity && source[n]) {
    target[n] = source[n];
    ++n;
  }
  target[n] = 0;
  return n;
}

size_t AppendText(char16_t* target, size_t capacity, const char16_t* source) {
  size_t length = TextLength(target);
  if (length >= capacity) return length;
  return length + CopyText(target + length, capacity - length, source);
}

bool IsSpace(char16_t c) { return std::iswspace(c) != 0; }

size_t TrimTrailingSpace(char16_t* text) {
  size_t length = TextLength(text);
  while (length > 0 && IsSpace(text[length - 1])) text[--length] = 0;
  return length;
}
bool IsDigit(char16_t c) { return std::iswdigit(c) != 0; }
bool IsXDigit(char16_t c) { return std::iswxdigit(c) != 0; }
bool IsLetter(char16_t c) { return std::iswalpha(c) != 0; }
char16_t ToUpper(char16_t c) { return static_cast<char16_t>(std::towupper(c)); }
char16_t ToLower(char16_t c) { return static_cast<char16_t>(std::towlower(c)); }

int CompareNoCase(const char16_t* a, const char16_t* b) {
  for (;; ++a, ++b) {
    int ca = ToLower(*a), cb = ToLower(*b);
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text == 0 || ToLower(*text) != ToLower(*prefix)) return false;
  return true;
}

namespace {

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'z') return c - u'a' + 10;
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  return 99;
}

// The digits of `base` at `text`, as many as stand there; false on 32-bit overflow or
// when no digit stands there.
bool ReadDigits(const char16_t* text, unsigned base, uint32_t* value, const char16_t** end) {
  uint64_t v = 0;
  const char16_t* p = text;
  bool overflow = false;
  for (; DigitValue(*p) < static_cast<int>(base); ++p) {
    v = v * base + static_cast<unsigned>(DigitValue(*p));
    if (v > UINT32_MAX) overflow = true, v = UINT32_MAX;
  }
  if (p == text || overflow) return false;
  *value = static_cast<uint32_t>(v);
  *end = p;
  return true;
}

// "0x" with a hexadecimal digit, or "0o" with an octal one: the base, else 0.
unsigned PrefixBase(const char16_t* text) {
  if (text[0] != u'0') return 0;
  char16_t letter = ToUpper(text[1]);
  if (letter == u'X' && IsXDigit(text[2])) return 16;
  if (letter == u'O' && text[2] >= u'0' && text[2] <= u'7') return 8;
  return 0;
}

}  // namespace

int ParseUnsignedNumber(const char16_t* text, uint32_t* value) {
  if (!text || !value) return -1;
  unsigned base = PrefixBase(text);
  const char16_t* digits = text;
  if (base)
    digits += 2;
  else if (IsDigit(text[0]))
    base = 10;
  else
    return -1;
  uint32_t v;
  const char16_t* end;
  if (!ReadDigits(digits, base, &v, &end) || *end) return -1;
  *value = v;
  return 0;
}

int ParseSignedNumber(const char16_t* text, int32_t* value, const char16_t** end) {
  if (!text || !value) return -1;
  uint32_t magnitude;
  const char16_t* after;
  int32_t result;
  if (unsigned base = PrefixBase(text)) {
    if (!ReadDigits(text + 2, base, &magnitude, &after)) return -1;
    result = static_cast<int32_t>(magnitude);
  } else {
    bool negative = text[0] == u'-';
    const char16_t* digits = (text[0] == u'-' || text[0] == u'+') ? text + 1 : text;
    if (!IsDigit(digits[0]) || !ReadDigits(digits, 10, &magnitude, &after)) return -1;
    if (magnitude > (negative ? 2147483648u : 2147483647u)) return -1;
    result = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
  }
  if (end)
    *end = after;
  else if (*after)
    return -1;
  *value = result;
  return 0;
}

namespace {

struct BoundedSink {
  TextSink base;
  char16_t* out;
  size_t capacity;
  size_t length;
};

void PutBounded(TextSink* sink, const char16_t* text, size_t length) {
  auto* s = reinterpret_cast<BoundedSink*>(sink);
  size_t room = s->capacity - 1 - s->length;
  if (length > room) length = room;
  for (size_t i = 0; i < length; ++i) s->out[s->length + i] = text[i];
  s->length += length;
}

void PutPadded(TextSink* sink, const char16_t* text, size_t length, int width, bool left, char16_t pad) {
  static constexpr char16_t kPads[] = u"                ";
  static constexpr char16_t kZeros[] = u"0000000000000000";
  const char16_t* fill = pad == u'0' ? kZeros : kPads;
  size_t padding = width > 0 && static_cast<size_t>(width) > length ? static_cast<size_t>(width) - length : 0;
  // A minus sign stays in front of zero padding.
  if (!left && padding && pad == u'0' && length && text[0] == u'-') {
    sink->put(sink, text, 1);
    ++text, --length;
  }
  if (!left)
    for (; padding; padding -= padding < 16 ? padding : 16) sink->put(sink, fill, padding < 16 ? padding : 16);
  sink->put(sink, text, length);
  if (left)
    for (; padding; padding -= padding < 16 ? padding : 16) sink->put(sink, kPads, padding < 16 ? padding : 16);
}

// What stands between "%" and the conversion letter.
struct Spec {
  bool left = false;    // "-"
  char16_t pad = u' ';  // "0"
  int width = 0;
  bool wide = false;  // "ll" or "I64"
};

const char16_t* ReadSpec(const char16_t* p, Spec* spec) {
  for (;; ++p) {
    if (*p == u'-')
      spec->left = true;
    else if (*p == u'0')
      spec->pad = u'0';
    else
      break;
  }
  while (IsAsciiDigit(*p)) spec->width = spec->width * 10 + (*p++ - u'0');
  if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4')
    spec->wide = true, p += 3;
  else if (p[0] == u'l' && p[1] == u'l')
    spec->wide = true, p += 2;
  else if (p[0] == u'l' || p[0] == u'h')
    ++p;
  return p;
}

// %d, %i, %u, %x or %X of the next argument.
void PutInteger(TextSink* sink, char16_t conversion, const Spec& spec, va_list* ap) {
  bool is_signed = conversion == u'd' || conversion == u'i';
  unsigned base = (conversion == u'x' || conversion == u'X') ? 16 : 10;
  const char16_t* alphabet = conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
  uint64_t magnitude;
  bool negative = false;
  if (is_signed) {
    int64_t v = spec.wide ? va_arg(*ap, int64_t) : va_arg(*ap, int);
    negative = v < 0;
    magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  } else {
    magnitude = spec.wide ? va_arg(*ap, uint64_t) : va_arg(*ap, unsigned);
  }
  char16_t digits[24];
  char16_t* end = digits + 24;
  char16_t* q = end;
  do *--q = alphabet[magnitude % base];
  while (magnitude /= base);
  if (negative) *--q = u'-';
  PutPadded(sink, q, static_cast<size_t>(end - q), spec.width, spec.left, spec.left ? u' ' : spec.pad);
}

}  // namespace

void FormatToSink(TextSink* sink, const char16_t* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  const char16_t* p = format;
  while (*p) {
    const char16_t* literal = p;
    while (*p && *p != u'%') ++p;
    if (p > literal) sink->put(sink, literal, static_cast<size_t>(p - literal));
    if (!*p) break;
    const char16_t* directive = p++;
    Spec spec;
    p = ReadSpec(p, &spec);
    switch (*p) {
      case u'%': sink->put(sink, u"%", 1); break;
      case u's': {
        const char16_t* s = va_arg(ap, const char16_t*);
        if (!s) s = u"(null)";
        PutPadded(sink, s, TextLength(s), spec.width, spec.left, u' ');
        break;
      }
      case u'c': {
        char16_t c = static_cast<char16_t>(va_arg(ap, int));
        PutPadded(sink, &c, 1, spec.width, spec.left, u' ');
        break;
      }
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X': PutInteger(sink, *p, spec, &ap); break;
      case 0:
        sink->put(sink, directive, static_cast<size_t>(p - directive));
        va_end(ap);
        return;
      default:  // not a conversion: written as it stands
        sink->put(sink, directive, static_cast<size_t>(p + 1 - directive));
        break;
    }
    ++p;
  }
  va_end(ap);
}

size_t FormatTextV(char16_t* out, size_t capacity, const char16_t* format, va_list args) {
  if (capacity == 0) return 0;
  BoundedSink sink{{PutBounded}, out, capacity, 0};
  FormatToSink(&sink.base, format, args);
  out[sink.length] = 0;
  return sink.length;
}

size_t FormatText(char16_t* out, size_t capacity, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = FormatTextV(out, capacity, format, args);
  va_end(args);
  return n;
}

}  // namespace horalin
