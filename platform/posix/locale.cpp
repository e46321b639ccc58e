// POSIX backend: locale names, date and time forms, native digits and case mapping,
// from the user's POSIX locale (LC_ALL, LC_TIME, LC_CTYPE, LANG) through libc. English
// names come from the C locale. The locale object is opened once, and again only when
// RefreshLocale finds that one of those variables has changed.
#include <langinfo.h>
#include <locale.h>
#include <time.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>

#include "common/utf.h"
#include "platform/platform.h"
#include "platform/posix/broken_down.h"
#include "platform/posix/environment_watch.h"

namespace horalin::platform {

namespace {

// The C library's classes of a wide character (wint_t holds every wchar_t value).
bool IsSpace(wchar_t c, locale_t locale) { return iswspace_l(static_cast<wint_t>(c), locale); }
bool IsPunct(wchar_t c, locale_t locale) { return iswpunct_l(static_cast<wint_t>(c), locale); }

constexpr size_t kFormCapacity = 128;
constexpr size_t kNameCapacity = 256;

// The texts of a locale in UTF-16, taken when it is opened: abbreviated and full day
// names (Sunday first), abbreviated and full month names, the AM and PM designators
// and the output digits.
enum : int { kAbbrevDays = 0, kDays = 7, kAbbrevMonths = 14, kMonths = 26, kAm = 38, kPm = 39, kDigits = 40, kTexts };

struct LocaleTexts {
  char16_t text[kTexts][kNameCapacity];
  size_t length[kTexts];
};

// The locale of the user's LC_TIME and LC_CTYPE, and the forms derived from it.
struct UserLocale {
  locale_t locale;
  wchar_t shortDate[kFormCapacity];
  wchar_t longDate[kFormCapacity];
  wchar_t time[kFormCapacity];
  wchar_t time24[kFormCapacity];
  LocaleTexts texts;
};

UserLocale User{};
LocaleTexts EnglishTexts{};
bool EnglishTaken = false;

// The variables that choose the locale, as RefreshLocale last saw them.
EnvironmentWatch<4> LocaleWatch{{Watching("LC_ALL="), Watching("LC_TIME="), Watching("LC_CTYPE="), Watching("LANG=")},
                                nullptr};

// ---- Text out ----------------------------------------------------------------

// Wide (UTF-32) text to at most room - 1 units, cut where a character ends.
size_t PutWide(const wchar_t* text, char16_t* buffer, size_t room) {
  if (room == 0) return 0;
  size_t n = 0;
  for (; *text; ++text) {
    // NOLINTNEXTLINE(bugprone-signed-char-misuse): a wchar_t, which clang-tidy 14 takes for a char
    uint32_t c = static_cast<uint32_t>(*text);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      if (n + 2 >= room) break;
      buffer[n++] = HighSurrogateOf(c);
      buffer[n++] = LowSurrogateOf(c);
    } else {
      if (n + 1 >= room) break;
      buffer[n++] = static_cast<char16_t>(c > 0x10FFFF || IsSurrogate(c) ? 0xFFFD : c);
    }
  }
  buffer[n] = 0;
  return n;
}

size_t Empty(char16_t* buffer, size_t room) {
  if (room) buffer[0] = 0;
  return 0;
}

// The locale's ten output digits as UTF-16, when its character set is UTF-8.
size_t PutNativeDigits(locale_t locale, char16_t* buffer, size_t room) {
  if (std::strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") != 0) return Empty(buffer, room);
  size_t n = 0;
  for (int d = 0; d < 10; ++d) {
    const char* digit = nl_langinfo_l(_NL_CTYPE_OUTDIGIT0_MB + d, locale);
    char16_t unit[3];
    if (!digit || Utf16FromUtf8(digit, std::strlen(digit), unit, 3) != 1 || n + 1 >= room) return Empty(buffer, room);
    buffer[n++] = unit[0];
  }
  buffer[n] = 0;
  return n;
}

// ---- Locale forms ------------------------------------------------------------

// One piece of a strftime form: a conversion ("%-d", "%OH") or literal text.
struct Piece {
  const wchar_t* text;
  size_t length;
  wchar_t conversion;  // 0 for literal text
  int owner;           // index of the conversion piece that a literal belongs to, -1 none
};

enum class FormEdit { None, Time, Time24 };

bool IsTimeConversion(wchar_t c) { return c && wcschr(L"HIklMSpPrRTXsc", c); }
bool IsZoneConversion(wchar_t c) { return c == L'Z' || c == L'z'; }

bool Dropped(FormEdit edit, wchar_t c) {
  switch (edit) {
    case FormEdit::Time: return IsZoneConversion(c);
    case FormEdit::Time24: return IsZoneConversion(c) || c == L'p' || c == L'P';
    case FormEdit::None: break;
  }
  return false;
}

// Splits a form into conversions and literal text. A literal between two conversions
// is cut at its first blank: the part before it stays with the conversion before
// ("%d." or "%d日"), the rest goes with the conversion after (" %H" or " ساعت %H"), so that
// a dropped conversion takes its separators with it.
size_t SplitForm(locale_t locale, const wchar_t* form, Piece* pieces, size_t capacity) {
  size_t count = 0;
  int lastConversion = -1;
  const wchar_t* p = form;
  while (*p && count + 2 < capacity) {
    if (*p == L'%' && p[1] && p[1] != L'%') {
      const wchar_t* start = p++;
      while (*p && wcschr(L"_-0^#", *p)) ++p;
      while (*p >= L'0' && *p <= L'9') ++p;
      if (*p == L'E' || *p == L'O') ++p;
      if (!*p) break;
      pieces[count] = {start, static_cast<size_t>(p + 1 - start), *p, -1};
      lastConversion = static_cast<int>(count++);
      ++p;
      continue;
    }
    const wchar_t* start = p;
    while (*p && !(p[0] == L'%' && p[1] && p[1] != L'%')) p += (p[0] == L'%' && p[1] == L'%') ? 2 : 1;
    const wchar_t* blank = start;
    while (blank < p && !IsSpace(*blank, locale)) ++blank;
    // The owner of the part after the blank is the next conversion; fixed up below.
    if (blank > start) pieces[count++] = {start, static_cast<size_t>(blank - start), 0, lastConversion};
    if (p > blank) pieces[count++] = {blank, static_cast<size_t>(p - blank), 0, -2};
  }
  // Parts waiting for the next conversion take it; at the end they stay with the last one.
  int next = -1;
  for (size_t i = count; i-- > 0;) {
    if (pieces[i].conversion) next = static_cast<int>(i);
    if (pieces[i].owner == -2) pieces[i].owner = next >= 0 ? next : lastConversion;
    if (pieces[i].owner == -1 && !pieces[i].conversion) pieces[i].owner = next;
  }
  return count;
}

// Builds the form that `edit` asks for from the locale's own: the time drops the zone;
// the 24-hour time also drops the AM/PM marker and reads the hour on the 24-hour clock.
void EditForm(locale_t locale, const wchar_t* form, FormEdit edit, wchar_t* out, size_t capacity) {
  Piece pieces[64];
  size_t count = SplitForm(locale, form, pieces, 64);
  size_t n = 0;
  auto put = [&](wchar_t c) {
    if (n + 1 < capacity) out[n++] = c;
  };
  bool droppedAfterLast = false;
  size_t lastKeptEnd = 0;
  bool lastKeptLiteral = false;
  for (size_t i = 0; i < count; ++i) {
    const Piece& piece = pieces[i];
    wchar_t c = piece.conversion ? piece.conversion : piece.owner >= 0 ? pieces[piece.owner].conversion : 0;
    if (Dropped(edit, c)) {
      droppedAfterLast = true;
      continue;
    }
    droppedAfterLast = false;
    if (!piece.conversion) {
      for (size_t k = 0; k < piece.length; ++k) put(piece.text[k]);
      lastKeptLiteral = true;
      lastKeptEnd = n;
      continue;
    }
    lastKeptLiteral = false;
    const wchar_t* t = piece.text;
    size_t length = piece.length - 1;
    wchar_t conversion = piece.conversion;
    if (edit == FormEdit::Time24) {
      if (conversion == L'I') conversion = L'H';
      if (conversion == L'l') conversion = L'k';
      if (conversion == L'r') conversion = L'T';
    }
    for (size_t k = 0; k < length; ++k) put(t[k]);
    put(conversion);
  }
  // Separators left hanging where the dropped part began ("%Y،") go too.
  if (droppedAfterLast && lastKeptLiteral)
    while (n > 0 && n == lastKeptEnd && (IsSpace(out[n - 1], locale) || IsPunct(out[n - 1], locale))) lastKeptEnd = --n;
  while (n > 0 && IsSpace(out[n - 1], locale)) --n;
  size_t start = 0;
  while (start < n && IsSpace(out[start], locale)) ++start;
  if (start) std::memmove(out, out + start, (n - start) * sizeof(wchar_t));
  out[n - start] = 0;
}

// ---- The long date -------------------------------------------------------------

// One token of a form: a conversion ("%-d", "%OH", and "%1 ", which strftime copies as
// it stands) or a run of literal text.
struct Token {
  const wchar_t* text;
  size_t length;
  wchar_t conversion;       // 0 for literal text
  size_t keepFrom, keepTo;  // of a literal, the part that stays
  bool kept;
};

size_t Tokenize(const wchar_t* form, Token* tokens, size_t capacity) {
  size_t count = 0;
  for (const wchar_t* p = form; *p && count < capacity;) {
    const wchar_t* start = p;
    wchar_t conversion = 0;
    if (p[0] == L'%' && p[1] && p[1] != L'%') {
      ++p;
      while (*p && wcschr(L"_-0^#", *p)) ++p;
      while (*p >= L'0' && *p <= L'9') ++p;
      if (*p == L'E' || *p == L'O') ++p;
      if (!*p) break;
      conversion = *p++;
    } else {
      while (*p && !(p[0] == L'%' && p[1] && p[1] != L'%')) p += (p[0] == L'%' && p[1] == L'%') ? 2 : 1;
    }
    size_t length = static_cast<size_t>(p - start);
    tokens[count++] = {start, length, conversion, 0, length, true};
  }
  return count;
}

bool IsTimeOfDay(const Token& t) {
  return t.conversion && (IsTimeConversion(t.conversion) || IsZoneConversion(t.conversion));
}
bool IsDate(const Token& t) { return t.conversion && !IsTimeOfDay(t); }

// A comma that parts the date from the time ("%A, %H", "%Oy، ساعت %OH").
bool IsComma(wchar_t c) { return c == L',' || c == 0x060C || c == 0x1363 || c == 0x3001 || c == 0xFF0C; }
// Punctuation that ends what the date opened or abbreviated: "(%a) %X", "%d d. %T".
bool ClosesDate(wchar_t c) { return c == L'.' || c == L')' || c == L']' || c == 0xFF09 || c == 0x300D || c == 0x3011; }
// Marks of text direction, which pair with marks outside the time of day ("‫%A ... (%Z)‬").
bool IsDirectionMark(wchar_t c) {
  return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The literal text between the date and a time of day that ends the form: what the date
// wrote stays (a closing bracket, an abbreviation's full stop, a unit such as 日 or "d."),
// the separator and any word of the time ("klokkan", "ساعت") go. A comma parts the two.
size_t DatePartBeforeTime(locale_t locale, const Token& literal) {
  const wchar_t* t = literal.text;
  if (literal.length == 1 && t[0] == L'T') return 0;  // ISO 8601's "%Y-%m-%dT%T"
  size_t end = 0;
  for (size_t k = 0; k < literal.length; ++k)
    if (IsComma(t[k])) end = k + 1;
  if (end) {
    end -= 1;
  } else {
    while (end < literal.length && !IsSpace(t[end], locale)) ++end;  // attached to the date
    for (size_t k = end; k < literal.length; ++k)
      if (ClosesDate(t[k])) end = k + 1;
  }
  while (end > 0 && IsSpace(t[end - 1], locale)) --end;
  return end;
}

// The literal text between a time of day that begins the form and the date: only what
// is attached to the date's first field stays.
size_t DatePartAfterTime(locale_t locale, const Token& literal) {
  size_t start = literal.length;
  while (start > 0 && !IsSpace(literal.text[start - 1], locale) && !IsComma(literal.text[start - 1])) --start;
  return start;
}

// The long date: the locale's full date form (date_fmt) with the time of day and the zone
// cut out, each run of them with its own separators and words, and names spelled in full.
// A run between two date fields takes the text after it ("%b %e %r %Z %Y" gives
// "%B %-e %Y", "%B %e, %r %Z %Y" gives "%B %-e, %Y"); see the two helpers above for a run
// at either end.
void LongDateForm(locale_t locale, const wchar_t* form, wchar_t* out, size_t capacity) {
  Token tokens[64];
  size_t count = Tokenize(form, tokens, 64);
  for (size_t first = 0; first < count; ++first) {
    if (!IsTimeOfDay(tokens[first])) continue;
    size_t last = first;  // the run: time fields with only literal text between them
    for (size_t k = first + 1; k < count && !IsDate(tokens[k]); ++k)
      if (IsTimeOfDay(tokens[k])) last = k;
    bool dateBefore = false, dateAfter = false;
    for (size_t k = 0; k < first; ++k) dateBefore |= IsDate(tokens[k]);
    for (size_t k = last + 1; k < count; ++k) dateAfter |= IsDate(tokens[k]);
    for (size_t k = first; k <= last; ++k) tokens[k].kept = false;
    Token* before = first > 0 && !tokens[first - 1].conversion ? &tokens[first - 1] : nullptr;
    Token* after = last + 1 < count && !tokens[last + 1].conversion ? &tokens[last + 1] : nullptr;
    if (before && !dateBefore) before->kept = false;
    if (after && (!dateAfter || dateBefore)) after->kept = false;
    if (before && dateBefore && !dateAfter)
      before->keepTo = std::min(before->keepTo, DatePartBeforeTime(locale, *before));
    if (after && dateAfter && !dateBefore)
      after->keepFrom = std::max(after->keepFrom, DatePartAfterTime(locale, *after));
    first = last;
  }
  size_t n = 0;
  auto put = [&](wchar_t c) {
    if (n + 1 < capacity) out[n++] = c;
  };
  for (size_t i = 0; i < count; ++i) {
    const Token& t = tokens[i];
    if (!t.conversion) {
      for (size_t k = 0; k < t.length; ++k)
        if ((t.kept && k >= t.keepFrom && k < t.keepTo) || IsDirectionMark(t.text[k])) put(t.text[k]);
      continue;
    }
    if (!t.kept) continue;
    wchar_t conversion = t.conversion;
    if (conversion == L'a') conversion = L'A';
    if (conversion == L'b' || conversion == L'h') conversion = L'B';
    for (size_t k = 0; k + 1 < t.length; ++k) put(t.text[k]);
    if (conversion == L'e' && t.length == 2) put(L'-');  // "%e" pads with a blank
    put(conversion);
  }
  out[n] = 0;
}

const wchar_t* WideItem(locale_t locale, nl_item item) {
  return reinterpret_cast<const wchar_t*>(nl_langinfo_l(item, locale));
}

// ---- Opening the user's locale -----------------------------------------------

locale_t OpenLocale() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", nullptr);
  if (!locale) locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (!locale) locale = newlocale(LC_ALL_MASK, "C", nullptr);
  if (!locale) return nullptr;
  locale_t withTime = newlocale(LC_TIME_MASK, "", locale);
  return withTime ? withTime : locale;
}

void TakeTexts(locale_t locale, LocaleTexts& texts) {
  for (int i = 0; i < kTexts; ++i) {
    nl_item item = i < kDays           ? _NL_WABDAY_1 + i
                   : i < kAbbrevMonths ? _NL_WDAY_1 + (i - kDays)
                   // Month names in their own (nominative) form, as a name stands alone.
                   : i < kMonths ? _NL_WABALTMON_1 + (i - kAbbrevMonths)
                   : i < kAm     ? _NL_WALTMON_1 + (i - kMonths)
                   : i == kAm    ? _NL_WAM_STR
                                 : _NL_WPM_STR;
    texts.length[i] = i == kDigits ? PutNativeDigits(locale, texts.text[i], kNameCapacity)
                                   : PutWide(WideItem(locale, item), texts.text[i], kNameCapacity);
  }
}

void OpenUserLocale() {
  if (User.locale) freelocale(User.locale);
  User.locale = OpenLocale();
  if (User.locale) {
    EditForm(User.locale, WideItem(User.locale, _NL_WD_FMT), FormEdit::None, User.shortDate, kFormCapacity);
    LongDateForm(User.locale, WideItem(User.locale, _NL_W_DATE_FMT), User.longDate, kFormCapacity);
    // A time form of "%r" alone is the 12-hour form, spelt out so that its zone can go.
    const wchar_t* time = WideItem(User.locale, _NL_WT_FMT);
    if (wcscmp(time, L"%r") == 0) time = WideItem(User.locale, _NL_WT_FMT_AMPM);
    EditForm(User.locale, time, FormEdit::Time, User.time, kFormCapacity);
    EditForm(User.locale, time, FormEdit::Time24, User.time24, kFormCapacity);
    TakeTexts(User.locale, User.texts);
  } else {
    User.texts = LocaleTexts{};
  }
}

// The user's locale as last refreshed (opened on first use).
locale_t UserLocaleObject() {
  if (!User.locale) {
    LookAgain(LocaleWatch);
    OpenUserLocale();
  }
  return User.locale;
}

const LocaleTexts& Texts(Locale locale) {
  if (locale == Locale::User) {
    UserLocaleObject();
    return User.texts;
  }
  if (!EnglishTaken) {
    EnglishTaken = true;
    if (locale_t c = newlocale(LC_ALL_MASK, "C", nullptr)) {
      TakeTexts(c, EnglishTexts);
      freelocale(c);
    }
  }
  return EnglishTexts;
}

// ---- Forms and case --------------------------------------------------------

size_t PutForm(const wchar_t* form, const SYSTEMTIME& time, char16_t* buffer, size_t room) {
  locale_t locale = UserLocaleObject();
  if (!locale || !*form) return Empty(buffer, room);
  tm t = TmFromSystemTime(time);
  wchar_t text[1024];
  if (wcsftime_l(text, 1024, form, &t, locale) == 0) return Empty(buffer, room);
  return PutWide(text, buffer, room);
}

template <wint_t (*Map)(wint_t, locale_t)>
void MapCase(char16_t* text, size_t length) {
  locale_t locale = UserLocaleObject();
  if (!locale) return;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
      uint32_t cp = CodePointFromSurrogates(c, text[i + 1]);
      uint32_t mapped = static_cast<uint32_t>(Map(static_cast<wint_t>(cp), locale));
      if (mapped >= 0x10000 && mapped <= 0x10FFFF) {  // a mapping that changes the length is not taken
        text[i] = HighSurrogateOf(mapped);
        text[i + 1] = LowSurrogateOf(mapped);
      }
      ++i;
    } else if (!IsSurrogate(c)) {
      uint32_t mapped = static_cast<uint32_t>(Map(static_cast<wint_t>(c), locale));
      if (mapped <= 0xFFFF && !IsSurrogate(mapped)) text[i] = static_cast<char16_t>(mapped);
    }
  }
}

}  // namespace

size_t LocaleText(Locale locale, LocaleItem item, int index, char16_t* buffer, size_t room) {
  bool day = index >= 0 && index <= 6, month = index >= 1 && index <= 12;
  int i = -1;
  switch (item) {
    case LocaleItem::AbbrevDayName: i = day ? kAbbrevDays + index : -1; break;
    case LocaleItem::DayName: i = day ? kDays + index : -1; break;
    case LocaleItem::AbbrevMonthName: i = month ? kAbbrevMonths + index - 1 : -1; break;
    case LocaleItem::MonthName: i = month ? kMonths + index - 1 : -1; break;
    case LocaleItem::AmDesignator: i = kAm; break;
    case LocaleItem::PmDesignator: i = kPm; break;
    case LocaleItem::NativeDigits: i = kDigits; break;
  }
  if (i < 0 || room == 0) return Empty(buffer, room);
  const LocaleTexts& texts = Texts(locale);
  size_t n = texts.length[i];
  if (n >= room) n = CutAtCharacter(texts.text[i], room - 1);
  for (size_t k = 0; k < n; ++k) buffer[k] = texts.text[i][k];
  buffer[n] = 0;
  return n;
}

size_t LocaleDate(bool longDate, const SYSTEMTIME& date, char16_t* buffer, size_t room) {
  if (!UserLocaleObject()) return Empty(buffer, room);
  return PutForm(longDate ? User.longDate : User.shortDate, date, buffer, room);
}

size_t LocaleTime(bool force24, const SYSTEMTIME& time, char16_t* buffer, size_t room) {
  if (!UserLocaleObject()) return Empty(buffer, room);
  return PutForm(force24 ? User.time24 : User.time, time, buffer, room);
}

void RefreshLocale() {
  if (User.locale && Unchanged(LocaleWatch)) return;
  if (LookAgain(LocaleWatch) || !User.locale) OpenUserLocale();
}

void MapToUpperCase(char16_t* text, size_t length) { MapCase<towupper_l>(text, length); }
void MapToLowerCase(char16_t* text, size_t length) { MapCase<towlower_l>(text, length); }

}  // namespace horalin::platform
