// Records and constants shared by every part of the library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace horalin {

// The Windows date and time record; the engine holds every date and time in it.
struct SYSTEMTIME {
  uint16_t wYear;
  uint16_t wMonth;
  uint16_t wDayOfWeek;  // 0 Sunday to 6 Saturday
  uint16_t wDay;
  uint16_t wHour;
  uint16_t wMinute;
  uint16_t wSecond;
  uint16_t wMilliseconds;
};

// One reading of the clocks, both taken at the same instant: the wall clock as a file time
// (100-nanosecond units since 1601-01-01 00:00 UTC), and a steady count in the same units
// from an arbitrary origin, which no setting of the system's date and time moves. Times
// shown are taken from `utc`; times elapsed are differences of `steady`.
struct Moment {
  uint64_t utc;
  uint64_t steady;
};

// Days of the proleptic Gregorian calendar: 1 for 1601-01-01, 3067671 for 9999-12-31.
using DayNumber = int32_t;

// Flags of FormatDateTime.
inline constexpr uint32_t FDT_UTC = 1;
inline constexpr uint32_t FDT_NO_DOUBLE_PERCENT = 2;

// Buffer capacities, in UTF-16 units with the terminator.
inline constexpr size_t kSmallText = 1024;
inline constexpr size_t kFormatText = 8192;
inline constexpr size_t kPathText = 32768;

// The plug-in's identity.
inline constexpr char16_t kPluginName[] = u"Horalin";
inline constexpr unsigned kVersionMajor = 0;
inline constexpr unsigned kVersionMinor = 93;
inline constexpr unsigned kVersionBuild = 1;
inline constexpr char16_t kVersionText[] = u"0.93.1.0";

// System error codes that the library tells apart.
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;

}  // namespace horalin
