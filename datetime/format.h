// The date format interpreter: one date and time rendered through a format string of
// literal text, backslash escapes and percent directives.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

// Renders `when` by `format` into `out` (kFormatText units), which it empties first and
// keeps terminated. `flags`: FDT_NO_DOUBLE_PERCENT (FDT_UTC is for the makers of the
// record: it holds the zone). Returns the units in `out`, or -1 (out untouched) when
// `format` is null. "%s" shows the record's instant, "%z" and "%Z" the offset, state
// and name in force there; every other directive its local time.
// Text that does not fit is cut where a character ends: no surrogate pair is split.
// `format` must not lie within `out`. The zone, the locale's texts and case mapping come
// from `services`.
int64_t FormatDateTime(char16_t* out, const char16_t* format, const DateTime& when, uint32_t flags,
                       const Services& services);

// A format compiled once into steps, to run per record: each a directive with its
// modifiers read (none in a first step of literal text alone), then the literal run that
// follows it (escapes read, "%" doubled unless FDT_NO_DOUBLE_PERCENT).
struct FormatStep {
  uint16_t start;  // the literal run: its first unit in `literal`
  uint16_t count;  // and its units
  uint8_t mods;    // the directive's modifiers
  char16_t c;      // the directive's character; 0: none
  char16_t low;    // the low half when `c` is the high half of a pair; else 0
};
inline constexpr size_t kMaxFormatSteps = kFormatText;
struct CompiledFormat {
  uint32_t flags;       // FDT_NO_DOUBLE_PERCENT or 0
  uint32_t resolution;  // the finest unit that its directives show, in nanoseconds: 1,000,000, 1,000 or 1
  // Every directive short and without modifiers, and all of them at their longest far
  // from the output's limit: a valid date and time renders step by step without a check.
  bool direct;
  size_t stepCount;
  size_t literalCount;
  FormatStep steps[kMaxFormatSteps];
  char16_t literal[kFormatText];
};

// Compiles `format` with `flags`; false for a null format or one that does not fit
// (longer than the output can show), which FormatDateTime renders instead.
bool CompileFormat(const char16_t* format, uint32_t flags, CompiledFormat* compiled);
// What FormatDateTime renders of the format that was compiled.
int64_t RenderFormat(char16_t* out, const CompiledFormat& format, const DateTime& when, const Services& services);

// FormatDateTime through a small cache of compiled formats keyed by their text, for the
// callers that are handed the same format again and again (@DATEFMT, datefmt --lines).
// Unlike FormatDateTime's, `format` may lie within `out` (the host's buffer holds both):
// it is read whole before anything is written.
int64_t FormatCached(char16_t* out, const char16_t* format, const DateTime& when, uint32_t flags,
                     const Services& services);

}  // namespace horalin
