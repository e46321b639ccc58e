#include "common/days.h"

namespace horalin {

// Month lengths and the days before each month, common year then leap year.
const uint32_t DaysInMonth[14][2] = {{0, 0},   {31, 31}, {28, 29}, {31, 31}, {30, 30}, {31, 31}, {30, 30},
                                     {31, 31}, {31, 31}, {30, 30}, {31, 31}, {30, 30}, {31, 31}, {0, 0}};
const uint32_t DaysBeforeMonth[14][2] = {{0, 0},     {0, 0},     {31, 31},   {59, 60},   {90, 91},
                                         {120, 121}, {151, 152}, {181, 182}, {212, 213}, {243, 244},
                                         {273, 274}, {304, 305}, {334, 335}, {0, 0}};

uint32_t MonthOfDayOfYear(uint32_t dayOfYear, int leap) {
  uint32_t month = 1;
  while (month < 12 && DaysBeforeMonth[month + 1][leap] < dayOfYear) ++month;
  return month;
}

int DateFromDayNumber(DayNumber n, uint32_t* year, uint32_t* month, uint32_t* day) {
  if (n > kLastDay || n < kFirstDay) return -1;
  // No year is longer than 366 days, so the guess never passes the true year.
  uint32_t y = 1601 + static_cast<uint32_t>(n) / 366;
  while (DaysBeforeYear(y) + 365 + IsLeapYear(static_cast<int32_t>(y)) < n) ++y;  // at most 18 steps
  uint32_t dayOfYear = static_cast<uint32_t>(n - DaysBeforeYear(y));              // [1, 366]
  int leap = IsLeapYear(static_cast<int32_t>(y));
  uint32_t m = MonthOfDayOfYear(dayOfYear, leap);
  *year = y;
  *month = m;
  *day = dayOfYear - DaysBeforeMonth[m][leap];
  return 0;
}

}  // namespace horalin
