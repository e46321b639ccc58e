// The date format interpreter: one date and time rendered through a format string of
// literal text, backslash escapes and percent directives.
#pragma once

#include <cstdint>

#include "common/types.h"
#include "datetime/services.h"

namespace horalin {

// Renders `datetime` (a valid date and time) by `format` into `out` (kFormatText units), which
// it empties first and keeps terminated. `flags`: FDT_UTC, FDT_NO_DOUBLE_PERCENT.
// Returns the units in `out`, or -1 (out untouched) when `format` is null.
// "%s", "%z" and "%Z" take the zone's offset, state and names in force at `datetime`
// read as local time (as UTC under FDT_UTC), not those of the moment of the call.
// Text that does not fit is cut where a character ends: no surrogate pair is split.
// `format` must not lie within `out`. The zone, the locale's texts and case mapping come
// from `services`.
int64_t FormatDateTime(char16_t* out, const char16_t* format, const SYSTEMTIME& datetime, uint32_t flags,
                       const Services& services);

}  // namespace horalin
