// The date format interpreter: one pass over the format. Literal units and escapes go
// out by the emission rule. A directive is read from its row of the directive table
// (datetime/directives.h) by one writer, RenderRow, compiled from the row: each kind of
// directive sets its number or writes its text there, and goes on to the two emitters
// that every directive shares. The number emitter applies Roman numerals and ordinal
// suffixes, the text emitter native digits and case. Each writer is compiled twice:
// once with its modifiers, and once for the usual directive, without modifiers on a
// valid date and time, where the checks of them fold away and the digits take their
// fixed forms.
#include "datetime/format.h"

#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <utility>

#include "common/scans.h"
#include "common/text.h"
#include "common/utf.h"
#include "common/words.h"
#include "datetime/calendar.h"
#include "datetime/directives.h"
#include "datetime/escapes.h"
#include "datetime/services.h"

namespace horalin {

namespace {

static_assert(std::endian::native == std::endian::little, "digits and names are moved as words of units");

constexpr size_t kOutputLimit = kFormatText - 1;  // units of text, without the terminator

// The room that a short directive (IsShortDirective) needs, whatever its modifiers: a
// zone name of 31 units and the word copy that ends it; 21 Roman digits and an ordinal
// suffix; a signed count of 20 digits. Any other directive needs a work buffer
// (kDirectiveText). A directive goes straight into the output while that much room is
// left; near the end of the output it renders aside and is cut to fit.
constexpr size_t kShortText = 32;

constexpr char16_t kWeekdayLetters[] = u"UMTWRFS";  // Sunday to Saturday

// Modifiers of one directive, as its writer takes them, with what it needs to know of
// the date and time.
enum : uint8_t {
  kAlternative = 1,  // "#"
  kEnglish = 2,      // "E"
  kRoman = 4,        // "O"
  kOrdinal = 8,      // "?"
  kNative = 16,      // "~"
  kUpper = 32,       // "^" or "!"
  kLower = 64,       // ","
  kInvalid = 128,    // not a modifier: the date and time is not valid (IsValidDateTime)
};
constexpr uint8_t kCase = kUpper | kLower;

// The modifier of each character below U+0080, 0 for the rest.
constexpr auto kModifiers = [] {
  std::array<uint8_t, 128> m{};
  m[u'#'] = kAlternative;
  m[u'E'] = kEnglish;
  m[u'O'] = kRoman;
  m[u'?'] = kOrdinal;
  m[u'~'] = kNative;
  m[u'!'] = m[u'^'] = kUpper;
  m[u','] = kLower;
  return m;
}();

// ---- Output -----------------------------------------------------------------------

// The emission rule for the character of an escape: nothing for 0 or a full output, a
// doubled "%" while doubling is on and there is room for the second, and a surrogate
// pair whole or not at all. Returns the new length.
size_t EmitCodePoint(char16_t* out, size_t length, uint32_t cp, bool doubling) {
  if (cp == 0 || length >= kOutputLimit) return length;
  if (cp <= 0xFFFF) {
    out[length++] = static_cast<char16_t>(cp);
    if (cp == u'%' && doubling && length < kOutputLimit) out[length++] = u'%';
  } else if (length + 1 < kOutputLimit) {
    out[length++] = HighSurrogateOf(cp);
    out[length++] = LowSurrogateOf(cp);
  }
  return length;
}

// A directive's text goes out as far as it fits, never ending in half a surrogate pair.
size_t PutCut(char16_t* out, size_t length, const char16_t* text, size_t count) {
  size_t room = kOutputLimit - length;
  if (count > room) count = CutAtCharacter(text, room);
  for (size_t i = 0; i < count; ++i) out[length + i] = text[i];
  return length + count;
}

// ---- What the directives share within one call ------------------------------------

// The zone snapshot, the native digits and the check of the user's locale settings are
// made on first use only: most formats (TS stamps one line after another) need none of
// them, and the system's answers cost more than the rest of the formatting.
struct Context {
  const Services& services;
  const DateTime& when;  // the instant and the zone in force there; `fields` reads its local time
  DateFields fields;
  bool doubling;
  bool localeFresh = false;
  bool digitsTaken = false;
  char16_t digits[10]{};  // digits[0] == 0: the locale has no digits of its own
};

// The zone in force at the instant, as the record carries it: nothing is looked up again.
const ZoneSnapshot& Zone(const Context& ctx) { return ctx.when.zone; }

// Every locale query of a call goes through here first.
void FollowLocale(Context& ctx) {
  if (ctx.localeFresh) return;
  ctx.localeFresh = true;
  ctx.services.followLocale();
}

const char16_t* NativeDigits(Context& ctx) {
  if (!ctx.digitsTaken) {
    FollowLocale(ctx);
    ctx.digitsTaken = true;
    ctx.digits[0] = 0;
    char16_t answer[64];
    size_t n = ctx.services.localeText(Locale::User, LocaleItem::NativeDigits, 0, answer, 64);
    // Fewer than ten, or the ASCII digits themselves: none. Digits beyond the
    // Basic Multilingual Plane are not taken, so that one digit stays one unit.
    bool usable = n >= 10 && answer[0] != u'0';
    for (size_t i = 0; usable && i < 10; ++i) usable = !IsSurrogate(answer[i]);
    if (usable)
      for (size_t i = 0; i < 10; ++i) ctx.digits[i] = answer[i];
  }
  return ctx.digits;
}

// ---- Digits -----------------------------------------------------------------------

// "00" to "99", two units each.
constexpr auto kDigitPairs = [] {
  std::array<char16_t, 200> pairs{};
  for (unsigned v = 0; v < 100; ++v) {
    pairs[2 * size_t{v}] = static_cast<char16_t>(u'0' + v / 10);
    pairs[2 * v + 1] = static_cast<char16_t>(u'0' + v % 10);
  }
  return pairs;
}();

void PutPair(char16_t* o, uint32_t v) { std::memcpy(o, &kDigitPairs[2 * size_t{v}], 2 * sizeof(char16_t)); }

// Exactly `Digits` digits of v (v < 10^Digits), zero-padded.
template <unsigned Digits>
char16_t* PutFixedDigits(char16_t* o, uint32_t v) {
  if constexpr (Digits == 1) {
    *o = static_cast<char16_t>(u'0' + v);
  } else if constexpr (Digits == 2) {
    PutPair(o, v);
  } else {
    PutFixedDigits<Digits - 2>(o, v / 100);
    PutPair(o + Digits - 2, v % 100);
  }
  return o + Digits;
}

// A number below 10^8 without padding, two digits at a time from its end.
char16_t* PutShortCount(char16_t* o, uint32_t v) {
  const unsigned digits =
      1u + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) + (v >= 1000000) + (v >= 10000000);
  char16_t* const end = o + digits;
  char16_t* q = end;
  for (; v >= 100; v /= 100) PutPair(q -= 2, v % 100);
  if (v >= 10)
    PutPair(q - 2, v);
  else
    q[-1] = static_cast<char16_t>(u'0' + v);
  return end;
}

// A count without padding: eight digits at a time.
char16_t* PutCount(char16_t* o, uint64_t v) {
  if (v < 100000000) return PutShortCount(o, static_cast<uint32_t>(v));
  const uint64_t high = v / 100000000;
  if (high < 100) {  // nine or ten digits: the instants from 1973 to 5138
    o = high < 10 ? PutFixedDigits<1>(o, static_cast<uint32_t>(high))
                  : PutFixedDigits<2>(o, static_cast<uint32_t>(high));
  } else {
    o = high < 100000000 ? PutShortCount(o, static_cast<uint32_t>(high)) : PutCount(o, high);
  }
  return scans::fast::PutEightDigits(o, static_cast<uint32_t>(v % 100000000));
}

// The digits that a field of a valid date and time has, fewest and most. A field not
// named here is written by PutDecimal.
struct DigitRange {
  unsigned fewest, most;
};
constexpr DigitRange DigitsOfValidField(Field field) {
  switch (field) {
    case Field::Year:
    case Field::IsoYear: return {4, 4};
    case Field::Century:
    case Field::MonthLength: return {2, 2};
    case Field::YearLength: return {3, 3};
    case Field::CenturyOrdinal: return {2, 3};  // 17 to 100
    case Field::DayOfYear:
    case Field::Millisecond: return {1, 3};
    case Field::Microsecond: return {1, 6};
    case Field::Nanosecond: return {1, 9};
    case Field::DayCount: return {1, 7};
    case Field::Weekday:
    case Field::WeekdayFrom1:
    case Field::IsoWeekday:
    case Field::IsoWeekWeekday:
    case Field::LeapYear: return {1, 1};
    case Field::Year2:
    case Field::Month:
    case Field::Day:
    case Field::Hour:
    case Field::Hour12:
    case Field::Minute:
    case Field::Second:
    case Field::IsoYear2:
    case Field::IsoWeek:
    case Field::SundayWeek:
    case Field::MondayWeek: return {1, 2};
  }
  return {1, 10};
}

// Whether field F by (Width, Pad) of a valid date and time has a fixed form: a fixed
// number of digits, or "%2u" of a field of one or two.
template <Field F, unsigned Width, char16_t Pad>
constexpr bool HasFixedForm() {
  constexpr DigitRange digits = DigitsOfValidField(F);
  return (digits.fewest == digits.most && digits.most >= Width) || (digits.most <= Width && Pad == u'0') ||
         (digits.most == 2 && Width <= 2);
}

// The digits of field F by (Width, Pad) of a valid date and time, as PutDecimal writes
// them, by its fixed form.
template <Field F, unsigned Width, char16_t Pad>
char16_t* PutFixedForm(char16_t* o, uint32_t v) {
  constexpr DigitRange digits = DigitsOfValidField(F);
  if constexpr (digits.fewest == digits.most && digits.most >= Width) {
    return PutFixedDigits<digits.most>(o, v);
  } else if constexpr (digits.most <= Width && Pad == u'0') {
    return PutFixedDigits<Width>(o, v);
  } else if constexpr (Width == 2) {  // "%2u" of one or two digits
    o[0] = v < 10 ? Pad : kDigitPairs[2 * size_t{v}];
    o[1] = kDigitPairs[2 * v + 1];
    return o + 2;
  } else {  // "%u" of one or two digits
    static_assert(digits.most == 2 && Width < 2);
    if (v < 10) {
      *o = static_cast<char16_t>(u'0' + v);
      return o + 1;
    }
    PutPair(o, v);
    return o + 2;
  }
}

// The same for a date and time of any fields (`Valid`: a valid one).
template <Field F, unsigned Width, char16_t Pad, bool Valid>
char16_t* PutFieldDigits(char16_t* o, uint32_t v) {
  if constexpr (Valid && HasFixedForm<F, Width, Pad>())
    return PutFixedForm<F, Width, Pad>(o, v);
  else
    return PutDecimal(o, v, Width, Pad);
}

// ---- The emitters -------------------------------------------------------------------

void MapNativeAndCase(Context& ctx, uint8_t mods, char16_t* text, size_t length) {
  if (mods & kNative) {
    const char16_t* digits = NativeDigits(ctx);
    if (digits[0])
      for (size_t i = 0; i < length; ++i)
        if (text[i] >= u'0' && text[i] <= u'9') text[i] = digits[text[i] - u'0'];
  }
  if (mods & kCase) {
    FollowLocale(ctx);
    if (mods & kUpper)
      ctx.services.mapToUpperCase(text, length);
    else
      ctx.services.mapToLowerCase(text, length);
  }
}

// The text emitter, for the text of any directive at `text`: native digits and case.
// Returns its length.
inline size_t EmitText(Context& ctx, uint8_t mods, char16_t* text, size_t length) {
  if (mods & (kNative | kCase)) [[unlikely]]
    MapNativeAndCase(ctx, mods, text, length);
  return length;
}

uint32_t RomanValue(Roman rule, uint32_t value, bool alt) {
  switch (rule) {
    case Roman::None: break;
    case Roman::Value: return value;
    case Roman::Hour24: return value ? value : 24;
    case Roman::Century: return alt ? value * 100 : value;
  }
  return 0;
}

size_t ApplyRomanAndOrdinal(uint8_t mods, char16_t* text, size_t length, uint32_t ordinal, Roman roman) {
  const bool alt = (mods & kAlternative) != 0;
  if (mods & kRoman)
    if (uint32_t value = RomanValue(roman, ordinal, alt)) RomanNumeral(value, alt, text, kShortText, &length);
  if (mods & kOrdinal) length = AppendOrdinalSuffix(ordinal, text, length, kShortText);
  return length;
}

// The number emitter, for the digits of a number at [o, end): Roman numerals ("O", by
// the rule `roman` from the value `ordinal`) and ordinal suffixes ("?", by `ordinal`),
// then the text emitter. Needs kShortText units of room at `o`.
size_t EmitNumber(Context& ctx, uint8_t mods, char16_t* o, char16_t* end, uint32_t ordinal, Roman roman = Roman::None) {
  size_t length = static_cast<size_t>(end - o);
  if (mods & (kRoman | kOrdinal)) length = ApplyRomanAndOrdinal(mods, o, length, ordinal, roman);
  return EmitText(ctx, mods, o, length);
}

// The modifiers that change the text of a number.
constexpr uint8_t kNumberModifiers = kRoman | kOrdinal | kNative | kCase;

// A numeric directive: its digits by its width and padding, and the number emitter. Out
// of line, so that the fixed forms of its callers keep no registers.
[[gnu::noinline]] size_t RenderNumber(Context& ctx, uint8_t mods, char16_t* o, uint32_t v, unsigned width, char16_t pad,
                                      Roman roman) {
  return EmitNumber(ctx, mods, o, PutDecimal(o, v, width, pad), v, roman);
}

// "%s": the instant in seconds since 1970 UTC. "?" takes its last two digits.
size_t PutUnixTime(Context& ctx, uint8_t mods, char16_t* o) {
  const int64_t seconds = ctx.when.instant.seconds;
  const uint64_t magnitude = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
  char16_t* digits = o;
  if (seconds < 0) *digits++ = u'-';
  return EmitNumber(ctx, mods, o, PutCount(digits, magnitude), static_cast<uint32_t>(magnitude % 100));
}

// ---- Texts of the directives --------------------------------------------------------

// "+hhmm" or "-hhmm" of a bias in minutes (UTC = local time + bias).
size_t PutOffset(char16_t* o, int32_t bias) {
  const uint32_t magnitude = bias < 0 ? 0u - static_cast<uint32_t>(bias) : static_cast<uint32_t>(bias);
  o[0] = bias <= 0 ? u'+' : u'-';
  PutPair(o + 3, magnitude % 60);
  if (magnitude < 100 * 60) {
    PutPair(o + 1, magnitude / 60);
    return 5;
  }
  char16_t* end = PutDecimal(o + 1, magnitude / 60);
  PutPair(end, magnitude % 60);
  return static_cast<size_t>(end + 2 - o);
}

// The zone's name in force, none when the zone is not known.
// Four units at a time: the name's array has 32, and the room is as many. The first eight
// go at once, so that names of up to seven units, nearly all, take no branch on their
// length (a zone's two names often differ in it: CET, CEST).
size_t PutZoneName(char16_t* o, const ZoneSnapshot& zone) {
  if (zone.state == ZoneInvalid) return 0;
  const char16_t* name = zone.name;
  const uint64_t first = words::Load(name), second = words::Load(name + 4);
  std::memcpy(o, &first, sizeof first);
  std::memcpy(o + 4, &second, sizeof second);
  const size_t inFirst = words::FirstZeroUnit(first);
  size_t n = inFirst < 4 ? inFirst : 4 + words::FirstZeroUnit(second);
  if (n == 8) {
    for (; n < 32; n += 4) {
      const uint64_t v = words::Load(name + n);
      std::memcpy(o + n, &v, sizeof v);
      if (const size_t inNext = words::FirstZeroUnit(v); inNext < 4) {
        n += inNext;
        break;
      }
    }
  }
  return n < 31 ? n : 31;
}

// The military letter of a whole-hour offset within twelve hours, else "-".
size_t PutMilitaryLetter(char16_t* o, const ZoneSnapshot& zone) {
  static constexpr char16_t kLetters[] = u"YXWVUTSRQPONZABCDEFGHIKLM";  // bias +720 ... -720
  const bool lettered = zone.state != ZoneInvalid && zone.bias % 60 == 0 && zone.biasSeconds == 0 &&
                        zone.bias >= -720 && zone.bias <= 720;
  o[0] = lettered ? kLetters[12 - zone.bias / 60] : u'-';
  return 1;
}

// A locale's text in a composite directive, at `o` up to `end` (where a terminator may
// still go); returns where it stopped.
char16_t* PutLocalePiece(Context& ctx, PieceKind kind, uint8_t mods, char16_t* o, char16_t* end) {
  FollowLocale(ctx);
  const SYSTEMTIME& t = ctx.fields.time;
  const size_t room = static_cast<size_t>(end - o + 1);
  if (kind == PieceKind::Designator)
    return o + ctx.services.localeText(Locale::User, t.wHour < 12 ? LocaleItem::AmDesignator : LocaleItem::PmDesignator,
                                       0, o, room);
  // The abbreviated month name, at most 15 units, cut where a character ends.
  const Locale names = (mods & kEnglish) ? Locale::English : Locale::User;
  size_t n = ctx.services.localeText(names, LocaleItem::AbbrevMonthName, t.wMonth, o, room);
  if (n > 15) n = CutAtCharacter(o, 15);
  return o + n;
}

// The text of a directive that the locale gives, at `o` (a work buffer of room).
size_t PutLocaleText(Context& ctx, DirectiveKind kind, uint8_t mods, char16_t* o) {
  FollowLocale(ctx);
  const Services& svc = ctx.services;
  const SYSTEMTIME& t = ctx.fields.time;
  const bool alt = (mods & kAlternative) != 0;
  const Locale names = (mods & kEnglish) ? Locale::English : Locale::User;
  const int weekday = static_cast<int>(WeekdayOf(t));
  constexpr size_t room = kDirectiveText;
  switch (kind) {
    case DirectiveKind::AbbrevDayName: {
      size_t n = svc.localeText(names, LocaleItem::AbbrevDayName, weekday, o, room);
      return alt && names == Locale::English && n > 2 ? 2 : n;
    }
    case DirectiveKind::DayName: return svc.localeText(names, LocaleItem::DayName, weekday, o, room);
    case DirectiveKind::AbbrevMonthName: return svc.localeText(names, LocaleItem::AbbrevMonthName, t.wMonth, o, room);
    case DirectiveKind::MonthName: return svc.localeText(names, LocaleItem::MonthName, t.wMonth, o, room);
    case DirectiveKind::LocaleDateTime: {
      size_t n = svc.localeDate(alt, t, o, room);
      if (n + 1 < room) o[n++] = u' ';
      return n + svc.localeTime(false, t, o + n, room - n);
    }
    case DirectiveKind::LocaleDate: return svc.localeDate(alt, t, o, room);
    case DirectiveKind::LocaleTime: return svc.localeTime(alt, t, o, room);
    case DirectiveKind::Designator:
    case DirectiveKind::LowerDesignator: {
      LocaleItem item = t.wHour < 12 ? LocaleItem::AmDesignator : LocaleItem::PmDesignator;
      size_t n = svc.localeText(Locale::User, item, 0, o, room);
      if (kind == DirectiveKind::LowerDesignator) svc.mapToLowerCase(o, n);
      return n;
    }
    default: return 0;
  }
}

// ---- The directives -----------------------------------------------------------------

// Renders a directive at `o`, where there is room for it (kShortText for a short one,
// else kDirectiveText), and returns its length.
using Writer = size_t (*)(Context& ctx, uint8_t mods, char16_t* o);

// A piece of a composite directive.
template <Piece P, bool Alt, bool Valid>
char16_t* PutPiece(Context& ctx, uint8_t mods, char16_t* o, char16_t* end) {
  constexpr ptrdiff_t kNumberText = 10;  // the digits of any field
  if constexpr (P.kind == PieceKind::Number) {
    if (end - o < kNumberText) return o;
    return PutFieldDigits < P.field, Alt ? P.altWidth : P.width, P.pad, Valid > (o, FieldValue(ctx.fields, P.field));
  } else if constexpr (P.kind == PieceKind::Literal) {
    if (o < end) *o++ = P.unit;
    return o;
  } else {
    return PutLocalePiece(ctx, P.kind, mods, o, end);
  }
}

template <size_t Row, bool Alt, bool Valid>
char16_t* PutPieces(Context& ctx, uint8_t mods, char16_t* o, char16_t* end) {
  constexpr std::span<const Piece> pieces = Alt ? kDirectives[Row].altPieces : kDirectives[Row].pieces;
  [&]<size_t... I>(std::index_sequence<I...>) { ((o = PutPiece<pieces[I], Alt, Valid>(ctx, mods, o, end)), ...); }
  (std::make_index_sequence<pieces.size()>());
  return o;
}

// The directive of row `Row` at `o`, where there is room for it (kShortText for a short
// one, else kDirectiveText); returns its length. Each kind sets its number, or writes its
// text, and goes on to the emitter.
template <size_t Row, bool Unmodified>
size_t RenderRow(Context& ctx, uint8_t modifiers, char16_t* o) {
  constexpr const Directive& d = kDirectives[Row];
  const uint8_t mods = Unmodified ? 0 : modifiers;
  const bool alt = (mods & kAlternative) != 0;
  if constexpr (d.kind == DirectiveKind::Number) {
    const uint32_t v = FieldValue(ctx.fields, d.field);
    // Without modifiers that change it, the number of a valid date and time takes the
    // fixed form of its digits.
    if (!(mods & (kNumberModifiers | kInvalid))) {
      if constexpr (HasFixedForm<d.field, d.width, d.pad>())
        if (!alt) return static_cast<size_t>(PutFixedForm<d.field, d.width, d.pad>(o, v) - o);
      if constexpr (HasFixedForm<d.field, d.altWidth, d.pad>())
        if (alt) return static_cast<size_t>(PutFixedForm<d.field, d.altWidth, d.pad>(o, v) - o);
    }
    return RenderNumber(ctx, mods, o, v, alt ? d.altWidth : d.width, d.pad, d.roman);
  } else if constexpr (d.kind == DirectiveKind::UnixTime) {
    return PutUnixTime(ctx, mods, o);
  } else if constexpr (d.kind == DirectiveKind::Composite) {
    char16_t* const end = o + (IsShortDirective(d) ? kShortText : kDirectiveText) - 1;
    char16_t* stop =
        !(mods & kInvalid)
            ? (alt ? PutPieces<Row, true, true>(ctx, mods, o, end) : PutPieces<Row, false, true>(ctx, mods, o, end))
            : (alt ? PutPieces<Row, true, false>(ctx, mods, o, end) : PutPieces<Row, false, false>(ctx, mods, o, end));
    return EmitText(ctx, mods, o, static_cast<size_t>(stop - o));
  } else if constexpr (d.kind == DirectiveKind::Percent) {
    o[0] = o[1] = u'%';
    return EmitText(ctx, mods, o, ctx.doubling ? 2 : 1);
  } else if constexpr (d.kind == DirectiveKind::WeekdayLetter) {
    o[0] = kWeekdayLetters[WeekdayOf(ctx.fields.time)];
    return EmitText(ctx, mods, o, 1);
  } else if constexpr (d.kind == DirectiveKind::Unit) {
    o[0] = d.unit;
    return EmitText(ctx, mods, o, 1);
  } else if constexpr (d.kind == DirectiveKind::Offset) {
    return EmitText(ctx, mods, o, PutOffset(o, Zone(ctx).state == ZoneInvalid ? 0 : Zone(ctx).bias));
  } else if constexpr (d.kind == DirectiveKind::ZoneName) {
    return EmitText(ctx, mods, o, alt ? PutMilitaryLetter(o, Zone(ctx)) : PutZoneName(o, Zone(ctx)));
  } else {
    return EmitText(ctx, mods, o, PutLocaleText(ctx, d.kind, mods, o));
  }
}

// The writer of each directive character below U+0100, compiled from its row, and the
// room it needs; none for the characters that render as themselves.
struct WriterEntry {
  Writer write;
  size_t room;
};
constexpr auto kWriters = []<size_t... Row>(std::index_sequence<Row...>) {
  std::array<WriterEntry, 256> writers{};
  ((writers[kDirectives[Row].c] = {&RenderRow<Row, false>,
                                   IsShortDirective(kDirectives[Row]) ? kShortText : kDirectiveText}),
   ...);
  return writers;
}
(std::make_index_sequence<std::size(kDirectives)>());

// The same writers compiled for a directive without modifiers on a valid date and time,
// where every check of them folds away; for the short directives only (kShortText of
// room), as the others take their time in the locale's services.
constexpr auto kUnmodifiedWriters = []<size_t... Row>(std::index_sequence<Row...>) {
  std::array<Writer, 256> writers{};
  ((writers[kDirectives[Row].c] = IsShortDirective(kDirectives[Row]) ? &RenderRow<Row, true> : nullptr), ...);
  return writers;
}
(std::make_index_sequence<std::size(kDirectives)>());

// ---- The format ---------------------------------------------------------------

// Where the format goes on, and the length of the output.
struct Position {
  const char16_t* p;
  size_t length;
};

// Near the end of the output a directive renders aside and goes out as far as it fits.
// A character that is no directive renders as itself, a surrogate pair whole.
Position PutDirectiveAside(Context& ctx, Writer write, uint8_t mods, const char16_t* p, char16_t* out, size_t length) {
  char16_t aside[kDirectiveText];
  size_t n = 1;
  if (write) {
    n = write(ctx, mods, aside);
  } else {
    aside[0] = *p;
    if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1])) aside[n++] = *++p;
    n = EmitText(ctx, mods, aside, n);
  }
  return {p + 1, PutCut(out, length, aside, n)};
}

// Reads the modifiers and the directive character after a "%" at `p`, renders the
// directive and appends it. Out of line: the usual directive takes the unmodified writer.
// The modifiers at `p`, added to `mods`; `p` moves past them. The last case modifier wins.
uint8_t ReadModifiers(const char16_t*& p, uint8_t mods) {
  for (uint8_t m; *p < kModifiers.size() && (m = kModifiers[*p]) != 0; ++p)
    mods = (m & kCase) ? static_cast<uint8_t>((mods & ~kCase) | m) : static_cast<uint8_t>(mods | m);
  return mods;
}

[[gnu::noinline]] Position PutDirective(Context& ctx, const char16_t* p, char16_t* out, size_t length) {
  const uint8_t mods = ReadModifiers(p, ctx.fields.valid ? 0 : kInvalid);
  const char16_t c = *p;
  if (c == 0) return {p, length};
  const WriterEntry entry = c < kWriters.size() ? kWriters[c] : WriterEntry{};
  if (entry.write && kOutputLimit - length >= entry.room) return {p + 1, length + entry.write(ctx, mods, out + length)};
  return PutDirectiveAside(ctx, entry.write, mods, p, out, length);
}

}  // namespace

int64_t FormatDateTime(char16_t* out, const char16_t* format, const DateTime& when, uint32_t flags,
                       const Services& services) {
  if (!format) return -1;
  Context ctx{
      .services = services,
      .when = when,
      .fields = {.time = when.local, .valid = IsValidDateTime(when.local), .nanoseconds = when.instant.nanoseconds},
      .doubling = (flags & FDT_NO_DOUBLE_PERCENT) == 0};
  // The length stays in a register from one unit or directive to the next.
  size_t length = 0;
  const char16_t* p = format;
  while (char16_t c = *p) {
    if (c == u'%') {
      // A short directive without modifiers, the usual case, goes straight to its unmodified writer.
      const Writer write = ctx.fields.valid && p[1] < kUnmodifiedWriters.size() ? kUnmodifiedWriters[p[1]] : nullptr;
      if (write && kOutputLimit - length >= kShortText) {
        length += write(ctx, 0, out + length);
        p += 2;
        continue;
      }
      Position next = PutDirective(ctx, p + 1, out, length);
      p = next.p;
      length = next.length;
    } else if (c == u'\\') {
      Escape e = ReadEscape(p + 1);
      length = EmitCodePoint(out, length, e.codePoint, ctx.doubling);
      p = e.next;
    } else if (IsHighSurrogate(c) && IsLowSurrogate(p[1])) {
      // A pair is copied whole or not at all, so that a full output never ends in half of one.
      length = EmitCodePoint(out, length, CodePointFromSurrogates(c, p[1]), false);
      p += 2;
    } else {
      if (length < kOutputLimit) out[length++] = c;
      ++p;
    }
  }
  out[length] = 0;
  return static_cast<int64_t>(length);
}

// ---- A format compiled once ----------------------------------------------------

namespace {

// Appends a unit of literal text to the last step's run (a step of its own before the
// first directive); false when the compiled format is full.
bool AddLiteral(CompiledFormat* f, char16_t unit) {
  if (f->literalCount == kFormatText) return false;
  if (f->stepCount == 0) f->steps[f->stepCount++] = FormatStep{0, 0, 0, 0, 0};
  f->literal[f->literalCount++] = unit;
  ++f->steps[f->stepCount - 1].count;
  return true;
}

// Appends the character of an escape or a pair by the emission rule, without its limit:
// nothing for 0, "%" doubled unless FDT_NO_DOUBLE_PERCENT, a pair as two units. False
// when the format is full, or for a lone half.
bool AddCodePoint(CompiledFormat* f, uint32_t cp) {
  if (cp == 0) return true;
  // A lone half (\xD800) goes out on its own where the run would take it for half of a
  // pair: such a format is interpreted instead.
  if (IsSurrogate(static_cast<char16_t>(cp)) && cp <= 0xFFFF) return false;
  if (cp > 0xFFFF) return AddLiteral(f, HighSurrogateOf(cp)) && AddLiteral(f, LowSurrogateOf(cp));
  return AddLiteral(f, static_cast<char16_t>(cp)) && (cp != u'%' || f->flags != 0 || AddLiteral(f, u'%'));
}

// Appends a directive step for the modifiers and character at `p`, its literal run to
// come; returns where the format goes on, or null when the compiled format is full.
const char16_t* AddDirective(CompiledFormat* f, const char16_t* p) {
  const uint8_t mods = ReadModifiers(p, 0);
  if (*p == 0) return p;
  if (f->stepCount == kMaxFormatSteps) return nullptr;
  FormatStep& step = f->steps[f->stepCount++];
  step = FormatStep{static_cast<uint16_t>(f->literalCount), 0, mods, p[0], 0};
  if (IsHighSurrogate(p[0]) && IsLowSurrogate(p[1])) step.low = *++p;
  if (p[0] == u'f') f->resolution = f->resolution < 1000 ? f->resolution : 1000;
  if (p[0] == u'i') f->resolution = 1;
  return p + 1;
}

// A literal run of the compiled format, as the scan writes its units: whole while there
// is room; near the end of the output unit by unit, a pair whole or not at all (a unit
// after a pair that did not fit may still go).
size_t PutLiteralRun(const CompiledFormat& f, const FormatStep& step, char16_t* out, size_t length) {
  const char16_t* u = f.literal + step.start;
  if (kOutputLimit - length >= step.count) {
    // Most runs are a separator or two: copied unit by unit, without a call.
    if (step.count <= 4) {
      for (size_t i = 0; i < step.count; ++i) out[length + i] = u[i];
    } else {
      std::memcpy(out + length, u, step.count * sizeof(char16_t));
    }
    return length + step.count;
  }
  for (const char16_t* const end = u + step.count; u < end; ++u) {
    if (IsHighSurrogate(*u) && u + 1 < end && IsLowSurrogate(u[1])) {
      if (length + 1 < kOutputLimit) {
        out[length++] = u[0];
        out[length++] = u[1];
      }
      ++u;
    } else if (length < kOutputLimit) {
      out[length++] = *u;
    }
  }
  return length;
}

// A directive step, rendered as the scan renders it.
size_t PutDirectiveStep(Context& ctx, const FormatStep& step, char16_t* out, size_t length) {
  const char16_t c = step.c;
  if (step.mods == 0 && ctx.fields.valid && c < kUnmodifiedWriters.size() && kUnmodifiedWriters[c] &&
      kOutputLimit - length >= kShortText)
    return length + kUnmodifiedWriters[c](ctx, 0, out + length);
  const uint8_t mods = static_cast<uint8_t>(step.mods | (ctx.fields.valid ? 0 : kInvalid));
  const WriterEntry entry = c < kWriters.size() ? kWriters[c] : WriterEntry{};
  if (entry.write && kOutputLimit - length >= entry.room) return length + entry.write(ctx, mods, out + length);
  const char16_t text[3] = {c, step.low, 0};
  return PutDirectiveAside(ctx, entry.write, mods, text, out, length).length;
}

// Whether steps i to i + 2 are "%H:%M:%S" without modifiers.
bool IsTimeOfDay(const CompiledFormat& f, size_t i) {
  const FormatStep* s = f.steps + i;
  const auto colonRun = [&](const FormatStep& step) { return step.count == 1 && f.literal[step.start] == u':'; };
  return i + 2 < f.stepCount && s[0].c == u'H' && s[1].c == u'M' && s[2].c == u'S' &&
         (s[0].mods | s[1].mods | s[2].mods) == 0 && colonRun(s[0]) && colonRun(s[1]);
}

// "%H:%M:%S" as one step of "%T", whose pieces are those three directives by the same
// widths and padding: it writes the same units for any date and time, and near the end
// of the output it is cut where the three would be.
void JoinTimesOfDay(CompiledFormat* f) {
  size_t kept = 0;
  for (size_t i = 0; i < f->stepCount; ++i) {
    if (IsTimeOfDay(*f, i)) {
      f->steps[i + 2].c = u'T';
      i += 2;
    }
    f->steps[kept++] = f->steps[i];
  }
  f->stepCount = kept;
}

// Whether a compiled format takes the direct way (CompiledFormat::direct): a literal
// step of its own only first, each directive one of the unmodified writers, and room for
// all of them at their longest, the literal text and the word that its last run copies.
bool IsDirect(const CompiledFormat& f) {
  size_t most = f.literalCount + 4;
  for (size_t i = 0; i < f.stepCount; ++i) {
    const FormatStep& step = f.steps[i];
    if (step.c == 0 && i == 0) continue;
    if (step.mods != 0 || step.c >= kUnmodifiedWriters.size() || !kUnmodifiedWriters[step.c]) return false;
    most += kShortText;
  }
  return most <= kOutputLimit;
}

// A literal run of a direct format at `o`: a short one as one word of four units (the
// literal text ends in four zero units, and the output has the room).
size_t PutDirectRun(const CompiledFormat& f, const FormatStep& step, char16_t* o) {
  const char16_t* u = f.literal + step.start;
  if (step.count <= 4) {
    const uint64_t four = words::Load(u);
    std::memcpy(o, &four, sizeof four);
  } else {
    std::memcpy(o, u, step.count * sizeof(char16_t));
  }
  return step.count;
}

// A valid date and time by a direct format: each step its writer and its run, unchecked.
size_t RenderDirect(Context& ctx, const CompiledFormat& f, char16_t* out) {
  const FormatStep* step = f.steps;
  const FormatStep* const end = f.steps + f.stepCount;
  size_t length = 0;
  if (step < end && step->c == 0) length = PutDirectRun(f, *step++, out);
  for (; step < end; ++step) {
    length += kUnmodifiedWriters[step->c](ctx, 0, out + length);
    length += PutDirectRun(f, *step, out + length);
  }
  return length;
}

}  // namespace

bool CompileFormat(const char16_t* format, uint32_t flags, CompiledFormat* f) {
  if (!format) return false;
  f->flags = flags & FDT_NO_DOUBLE_PERCENT;
  f->resolution = 1000000;
  f->direct = false;
  f->stepCount = f->literalCount = 0;
  for (const char16_t* p = format; *p;) {
    const char16_t c = *p;
    if (c == u'%') {
      if (!(p = AddDirective(f, p + 1))) return false;
    } else if (c == u'\\' || (IsHighSurrogate(c) && IsLowSurrogate(p[1]))) {
      uint32_t cp = 0;
      if (c == u'\\') {
        const Escape e = ReadEscape(p + 1);
        cp = e.codePoint;
        p = e.next;
      } else {
        cp = CodePointFromSurrogates(c, p[1]);
        p += 2;
      }
      if (!AddCodePoint(f, cp)) return false;
    } else {
      if (!AddLiteral(f, c)) return false;
      ++p;
    }
  }
  for (size_t i = f->literalCount; i < f->literalCount + 4 && i < kFormatText; ++i) f->literal[i] = 0;
  JoinTimesOfDay(f);
  f->direct = IsDirect(*f);
  return true;
}

int64_t RenderFormat(char16_t* out, const CompiledFormat& format, const DateTime& when, const Services& services) {
  Context ctx{
      .services = services,
      .when = when,
      .fields = {.time = when.local, .valid = IsValidDateTime(when.local), .nanoseconds = when.instant.nanoseconds},
      .doubling = format.flags == 0};
  if (format.direct && ctx.fields.valid) {
    const size_t length = RenderDirect(ctx, format, out);
    out[length] = 0;
    return static_cast<int64_t>(length);
  }
  size_t length = 0;
  for (size_t i = 0; i < format.stepCount; ++i) {
    const FormatStep& step = format.steps[i];
    if (step.c) length = PutDirectiveStep(ctx, step, out, length);
    if (step.count) length = PutLiteralRun(format, step, out, length);
  }
  out[length] = 0;
  return static_cast<int64_t>(length);
}

namespace {

// The two formats last compiled for FormatCached, by their text.
struct CachedFormat {
  bool used;
  size_t length;  // of `text`
  char16_t text[kSmallText];
  CompiledFormat steps;
};
CachedFormat Cached[2];
size_t Newest;  // the entry compiled last; the other one makes room

// FormatCached past the newest entry: the other one, else the format compiled in place of
// the older, else interpreted from a copy. Out of line, so that a hit on the newest entry
// costs no more than the comparison.
[[gnu::noinline]] int64_t FormatUncached(char16_t* out, const char16_t* format, const DateTime& when, uint32_t flags,
                                         const Services& services) {
  const CachedFormat& other = Cached[Newest ^ 1];
  if (other.used && other.steps.flags == flags && scans::fast::IsKnownText(format, other.text, other.length))
    return RenderFormat(out, other.steps, when, services);
  size_t length = TextLength(format);
  Newest ^= 1;
  CachedFormat& fresh = Cached[Newest];
  fresh.used = length < kSmallText && CompileFormat(format, flags, &fresh.steps);
  if (fresh.used) {
    fresh.length = length;
    std::memcpy(fresh.text, format, (length + 1) * sizeof(char16_t));
    return RenderFormat(out, fresh.steps, when, services);
  }
  char16_t copy[kFormatText];
  CopyText(copy, kFormatText, format);
  return FormatDateTime(out, copy, when, flags, services);
}

}  // namespace

int64_t FormatCached(char16_t* out, const char16_t* format, const DateTime& when, uint32_t flags,
                     const Services& services) {
  if (!format) return -1;
  flags &= FDT_NO_DOUBLE_PERCENT;
  // The format is read whole before `out` is written: it may lie there. The newest entry
  // first: a caller hands the same format line after line.
  const CachedFormat& newest = Cached[Newest];
  if (newest.used && newest.steps.flags == flags && scans::fast::IsKnownText(format, newest.text, newest.length))
    return RenderFormat(out, newest.steps, when, services);
  return FormatUncached(out, format, when, flags, services);
}

}  // namespace horalin
