// Stamps already written in a log's lines: the forms they come in, one table row each, a
// pattern in the format language whose directives are read by their rows of the one
// table that writes them (datetime/directives.h). A new form is one row of kStampForms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

// What a stamp holds.
struct StampFields {
  SYSTEMTIME time;       // the date and time as written; wYear 0 when the form has no year
  uint32_t nanoseconds;  // within the second, every digit written (to nine)
  int32_t offset;        // seconds east of UTC, with hasOffset
  bool hasOffset;        // "Z" or an offset: the stamp is an instant
  bool isUnix;           // a count since 1970: `unixTime` holds the instant
  uint64_t unixTime;     // file time
  // A word after the stamp that may name its zone ("CET"): it decides the instant when
  // it names an offset of the stamp's zone or stands in kZoneWords (StampInstant), and
  // is otherwise text, the stamp then ending at `usedBeforeWord`.
  char16_t zoneWord[8];
  size_t usedBeforeWord;
  size_t lead;  // units of literal text before the stamp's first field ("Start-Date: ")
  // Read on the way to the date and time: an ISO week and its day (1 Monday to 7), a day
  // of the year, the 12-hour clock and its PM.
  uint16_t week, weekday, yearDay;
  bool twelveHour, pm, timeOnly;  // timeOnly: no date (TS's /T); the caller gives it
};

enum class StampMatch {
  None,   // no stamp of the pattern
  Stamp,  // a stamp; *used units long
  Bad,    // the shape of a stamp with a value out of range or an offset cut short
};

struct StampForm {
  const char16_t* name;
  const char16_t* pattern;
  bool number;              // a bare count: a stamp only where a log's stamps are numbers
  const char16_t* example;  // as restamp's help shows the form
};
inline constexpr size_t kStampFormCount = 18;
// In the order they are tried: the first that matches wins.
extern const StampForm kStampForms[kStampFormCount];
// Bit k for kStampForms[k].
inline constexpr uint32_t kEveryStampForm = (1u << kStampFormCount) - 1;
uint32_t NumberStampForms();

// Abbreviations that name one offset wherever they are written, for stamps followed by
// one; an abbreviation not among them decides a stamp only in a zone that uses it.
struct ZoneWord {
  const char16_t* word;
  int32_t offset;  // seconds east of UTC
};
extern const ZoneWord kZoneWords[];
extern const size_t kZoneWordCount;

// Where a log's stamp may stand past the line's start, looked for within its first
// kStampLookUnits units when none is at its start: inside the first "[" "]", and in a JSON
// line (one that begins with "{") the value of the first of these fields that it has.
inline constexpr size_t kStampLookUnits = 160;
inline constexpr const char16_t* kStampFieldNames[] = {u"\"ts\":", u"\"time\":", u"\"timestamp\":", u"\"@timestamp\":"};

// The fixed head of a pattern, compiled once: the digits of %Y %m %d %H %M %S (four or
// two, each in its slot) and the literal characters between them (not blanks, which take
// one or more), and %_T; it ends before a %S that a fraction may follow. A stamp's head
// is then read by one loop whose turns are the same on every line, instead of directive
// by directive.
inline constexpr size_t kStampHeadUnits = 40;
inline constexpr size_t kStampHeadSlots = 6;  // Y m d H M S
struct StampHead {
  const char16_t* pattern;         // as given; null: free
  char16_t text[kStampHeadUnits];  // a copy of a caller's pattern, to tell a changed one
  uint8_t length;
  uint8_t lead;                       // literal units before the first field
  char16_t literal[kStampHeadUnits];  // 0: a digit of slot[k]
  uint8_t slot[kStampHeadUnits];
  bool ends[kStampHeadUnits];       // the last digit of its slot
  uint8_t starts[kStampHeadUnits];  // where the slot of a digit (or the literal) begins
  uint32_t has;
  char first;  // what the first unit of a stamp must be: 'd' a digit, 'a' an ASCII letter, 0 anything
  // The last head read and its values: the stamps of a log share most of their head
  // ("2026-12-07T17:39:"), which is then compared, not read again.
  bool lastValid;
  char16_t last[kStampHeadUnits];
  uint32_t lastValues[kStampHeadSlots];
  const char16_t* rest;  // the pattern after the head
};

// The heads that a reader of a log's stamps keeps from line to line: the rows', and those
// of the last patterns that its caller gave (/FORM), reused while a pattern stays the
// same. Zeroed, it holds none.
// And for the quick reading of bytes (QuickIsoStamp), the date, hour and minute of the
// last stamp read, with the 16 bytes they were read from.
struct StampMinute {
  uint64_t date;  // "YYYY-MM-"
  uint64_t time;  // "DDThh:mm"
  bool known;
  SYSTEMTIME fields;  // wSecond aside
};
inline constexpr size_t kCallerStampHeads = 8;
struct StampHeads {
  StampHead rows[kStampFormCount];
  StampHead callers[kCallerStampHeads];
  size_t nextCaller;
  StampMinute minute;
};

// The forms a reading tries: the `count` patterns given, in turn, or when there are none
// the rows of kStampForms whose bits are in `rows`; the pattern or row `first` before the
// others (a log's last form, which its next stamp most likely has too).
struct StampChoice {
  const char16_t* const* patterns;
  size_t count;
  uint32_t rows;
  size_t first = SIZE_MAX;
  StampHeads* heads = nullptr;  // the reader's; none: each pattern compiled for the one reading
};

// Reads a stamp of `pattern` at the start of text[0, length), never past it. A stamp
// must not run on into a letter or digit. `heads`: the reader's (else the pattern is
// compiled for this reading alone).
StampMatch MatchStampPattern(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                             size_t* used, StampHeads* heads = nullptr);

// The first form of kStampForms that the text begins with (or only `pattern`, when it is
// given). Bad when no form matched and one found a stamp's shape with a bad value.
StampMatch RecognizeStamp(const char16_t* pattern, const char16_t* text, size_t length, StampFields* fields,
                          size_t* used);
// The same for a choice of forms; *which is the index of the pattern or row that matched.
StampMatch RecognizeStampIn(const StampChoice& choice, const char16_t* text, size_t length, StampFields* fields,
                            size_t* used, size_t* which);

// The first row's stamp in its usual shapes, read at once on a log's known form: the
// date and time at their fixed places ("2026-12-07T17:39:42", "T", "t" or a blank
// between), a fraction of 1 to 9 digits, then "Z", "+hh:mm" or no offset before anything
// that reads as none. True with the fields and length that MatchStampPattern gives for
// the row; false for any other text (a value out of range among it), which the full
// reading then judges. One overload reads bytes (a byte of 0x80 or above as a unit that
// no form reads), keeping the last minute read in the reader's `heads`; the other units.
bool QuickIsoStamp(const char* text, size_t length, StampFields* fields, size_t* used, StampHeads* heads = nullptr);
bool QuickIsoStamp(const char16_t* text, size_t length, StampFields* fields, size_t* used);

// An offset as %z reads it in a stamp ("+01:00", "+0100", "+01", "Z"), and nothing after
// it: seconds east of UTC.
bool ReadStampOffset(const char16_t* text, int32_t* offset);

// Null when a user's pattern can read stamps (it names a date, or %s, and only the
// directives a stamp is read by); otherwise the position of the fault.
const char16_t* CheckStampPattern(const char16_t* pattern);

// The zone of stamps that carry no offset.
enum class StampZoneKind { Local, Utc, Fixed };
struct StampZone {
  StampZoneKind kind;
  int32_t offset;  // seconds east of UTC, for Fixed
};

// The instant of a stamp with a year, as a file time: a stamp with an offset or a Unix
// time as it stands, one with a zone word in the offset that the word names, a local one
// in `zone` (the zone of `services`). A local time that the clocks skip is read as the
// format interpreter reads it; of the two readings of one that they show twice, the
// first that is not before `notBefore` (the stamp before it, in a log), else the first.
// *wordRead: whether the zone word decided it. False when it is no date or falls
// outside 1601 to 9999.
bool StampInstant(const StampFields& fields, const StampZone& zone, uint64_t* fileTime, const Services& services,
                  uint64_t notBefore = 0, bool* wordRead = nullptr);

// The year of a stamp without one (syslog), month and day as written: `today`'s year,
// or the year before when that date would lie more than a day after today.
uint16_t SyslogYear(uint16_t month, uint16_t day, const SYSTEMTIME& today);

}  // namespace horalin
