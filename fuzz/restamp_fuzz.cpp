// Restamp's reading of a log's stamps on arbitrary lines, forms and zones: a stamp found
// lies within the line and names a form that was offered; the form found is found again
// when it is tried first or alone (the first that matches wins, whatever the order); and
// its instant, in any zone, lies within the calendar; the first form's quick reading
// agrees with its full one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/types.h"
#include "datetime/calendar.h"
#include "datetime/stamp_forms.h"
#include "fuzz/fuzz_support.h"
#include "lines/platform_services.h"

using namespace horalin;
using horalin::fuzz::Check;

namespace {

constexpr const char* kZones[] = {"UTC", "Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe"};

// Bytes below F0 are units of their own, F0 and above take the next two bytes as one.
std::u16string Line(fuzz::Bytes& in) {
  std::u16string text;
  while (in.size > 0 && text.size() < 4096) {
    uint8_t b = in.Byte();
    text += b < 0xF0 ? char16_t{b} : static_cast<char16_t>(in.Byte() << 8 | in.Byte());
  }
  return text;
}

// The same line read with the choice changed: the same form, as long.
void CheckFoundAgain(StampChoice choice, const char16_t* line, size_t length, size_t which, size_t used) {
  StampFields f;
  size_t again = 0, whichAgain = SIZE_MAX;
  choice.first = which;
  Check(RecognizeStampIn(choice, line, length, &f, &again, &whichAgain) == StampMatch::Stamp && whichAgain == which &&
            again == used,
        "the form found is found again when tried first");
  if (choice.count) return;
  choice.rows = 1u << which;
  choice.first = SIZE_MAX;
  Check(RecognizeStampIn(choice, line, length, &f, &again, &whichAgain) == StampMatch::Stamp && whichAgain == which &&
            again == used,
        "the form found is found again when tried alone");
}

// The first form's quick reading, where it answers, gives what the form's full reading
// gives: on the units, and on the line as bytes (a unit from 0x80 a byte of 0xC3, which
// the full reading sees as U+FFFD).
void CheckQuickReading(const std::u16string& text, StampHeads& heads) {
  const size_t n = text.size();
  std::unique_ptr<char16_t[]> wide(new char16_t[n + 1]);
  std::unique_ptr<char[]> bytes(new char[n + 1]);
  for (size_t k = 0; k < 3; ++k) {
    for (size_t i = 0; i < n; ++i) {
      const bool ascii = text[i] < 0x80;
      wide[i] = ascii || k == 0 ? text[i] : u'\uFFFD';
      bytes[i] = ascii ? static_cast<char>(text[i]) : '\xC3';
    }
    StampFields quick, full;
    size_t quickUsed = 0, fullUsed = 0;
    // Bytes: alone, then with the reader's minute kept from the inputs before.
    const bool read = k == 0 ? QuickIsoStamp(wide.get(), n, &quick, &quickUsed)
                             : QuickIsoStamp(bytes.get(), n, &quick, &quickUsed, k == 2 ? &heads : nullptr);
    if (!read) continue;
    Check(MatchStampPattern(kStampForms[0].pattern, wide.get(), n, &full, &fullUsed) == StampMatch::Stamp &&
              quickUsed == fullUsed && std::memcmp(&quick.time, &full.time, sizeof full.time) == 0 &&
              quick.nanoseconds == full.nanoseconds && quick.offset == full.offset &&
              quick.hasOffset == full.hasOffset && quick.usedBeforeWord == full.usedBeforeWord && !full.zoneWord[0],
          "the quick reading gives the first form's");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Bytes in{data, size};
  const uint8_t setting = in.Byte();
  setenv("TZ", kZones[setting % 4], 1);
  const StampZone zone{static_cast<StampZoneKind>(setting / 4 % 3), (setting / 12 % 4) * 3600 * 7 - 50400};
  uint32_t rows = (uint32_t{in.Byte()} << 16 | uint32_t{in.Byte()} << 8 | in.Byte()) & kEveryStampForm;
  if (!rows) rows = kEveryStampForm;
  const size_t first = in.Byte() % (kStampFormCount + 1);  // kStampFormCount: none first
  const uint64_t notBefore = uint64_t{in.Number(65536)} << 40;
  const std::u16string text = Line(in);
  static StampHeads heads;  // kept from input to input, as a log's reader keeps them from line to line
  // A user's pattern: the line's first part before "|", when it can read stamps.
  const size_t split = text.find(u'|');
  const std::u16string form = split == std::u16string::npos ? u"" : text.substr(0, split);
  const char16_t* patterns[] = {form.c_str()};
  const bool own = !form.empty() && !CheckStampPattern(form.c_str());
  const StampChoice choice{patterns, own ? size_t{1} : 0, rows, own ? 0 : first, &heads};
  // Exactly as long as the line, without a terminator, so that a read past it is caught.
  std::unique_ptr<char16_t[]> line(new char16_t[text.size() + 1]);
  std::copy(text.begin(), text.end(), line.get());
  CheckQuickReading(text, heads);
  StampFields f;
  size_t used = 0, which = SIZE_MAX;
  if (RecognizeStampIn(choice, line.get(), text.size(), &f, &used, &which) != StampMatch::Stamp) return 0;
  Check(used > 0 && used <= text.size(), "a stamp lies within the line");
  Check(own ? which == 0 : which < kStampFormCount && (rows >> which & 1), "the form found was offered");
  Check(f.lead < used && f.usedBeforeWord <= used, "the stamp's parts lie within it");
  CheckFoundAgain(choice, line.get(), text.size(), which, used);
  if (!f.isUnix && f.time.wYear == 0) f.time.wYear = 2024;
  if (f.timeOnly) f.time.wYear = 2024, f.time.wMonth = 3, f.time.wDay = 31;
  uint64_t instant = 0;
  bool wordRead = false;
  if (StampInstant(f, zone, &instant, kPlatformServices, notBefore, &wordRead)) {
    Check(instant < uint64_t{kLastDay} * 86400 * 10000000, "an instant lies within the calendar");
    Check(!wordRead || f.zoneWord[0], "only a zone word decides by a zone word");
  }
  return 0;
}
