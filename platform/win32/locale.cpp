// Win32 backend: locale names, date and time forms, case mapping.
#include <windows.h>

#include "platform/platform.h"

namespace horalin::platform {

namespace {

LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }
const ::SYSTEMTIME* Native(const horalin::SYSTEMTIME* st) { return reinterpret_cast<const ::SYSTEMTIME*>(st); }

// Windows counts the terminator in its results; ours do not.
size_t Finish(int result, char16_t* buffer, size_t room) {
  if (room == 0) return 0;
  if (result <= 0) {
    buffer[0] = 0;
    return 0;
  }
  buffer[result - 1] = 0;
  return static_cast<size_t>(result - 1);
}

LCTYPE ItemType(LocaleItem item, int index) {
  // Windows numbers its day names from Monday (1) to Sunday (7).
  int day = index == 0 ? 6 : index - 1;
  switch (item) {
    case LocaleItem::AbbrevDayName: return LOCALE_SABBREVDAYNAME1 + static_cast<LCTYPE>(day);
    case LocaleItem::DayName: return LOCALE_SDAYNAME1 + static_cast<LCTYPE>(day);
    case LocaleItem::AbbrevMonthName: return LOCALE_SABBREVMONTHNAME1 + static_cast<LCTYPE>(index - 1);
    case LocaleItem::MonthName: return LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(index - 1);
    case LocaleItem::AmDesignator: return LOCALE_S1159;
    case LocaleItem::PmDesignator: return LOCALE_S2359;
    case LocaleItem::NativeDigits: return LOCALE_SNATIVEDIGITS;
  }
  return 0;
}

}  // namespace

size_t LocaleText(Locale locale, LocaleItem item, int index, char16_t* buffer, size_t room) {
  bool dayName = item == LocaleItem::AbbrevDayName || item == LocaleItem::DayName;
  bool monthName = item == LocaleItem::AbbrevMonthName || item == LocaleItem::MonthName;
  if ((dayName && (index < 0 || index > 6)) || (monthName && (index < 1 || index > 12))) return Finish(0, buffer, room);
  LCID id = locale == Locale::English ? 0x0409 : LOCALE_USER_DEFAULT;
  return Finish(GetLocaleInfoW(id, ItemType(item, index), Wide(buffer), static_cast<int>(room)), buffer, room);
}

size_t LocaleDate(bool longDate, const horalin::SYSTEMTIME& date, char16_t* buffer, size_t room) {
  DWORD flags = longDate ? DATE_LONGDATE : DATE_SHORTDATE;
  return Finish(
      GetDateFormatW(LOCALE_USER_DEFAULT, flags, Native(&date), nullptr, Wide(buffer), static_cast<int>(room)), buffer,
      room);
}

size_t LocaleTime(bool force24, const horalin::SYSTEMTIME& time, char16_t* buffer, size_t room) {
  DWORD flags = force24 ? TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT : 0;
  return Finish(
      GetTimeFormatW(LOCALE_USER_DEFAULT, flags, Native(&time), nullptr, Wide(buffer), static_cast<int>(room)), buffer,
      room);
}

void RefreshLocale() {}

void MapToUpperCase(char16_t* text, size_t length) { CharUpperBuffW(Wide(text), static_cast<DWORD>(length)); }
void MapToLowerCase(char16_t* text, size_t length) { CharLowerBuffW(Wide(text), static_cast<DWORD>(length)); }

}  // namespace horalin::platform
