// The engine's services from the platform: what TS, run, restamp and @DATEFMT hand the
// engine. Each is the platform's own function, called straight through the record.
#pragma once

#include "datetime/services.h"
#include "platform/platform.h"

namespace horalin {

inline constexpr Services kPlatformServices = {
    .now = platform::CurrentInstant,
    .zoneAtInstant = platform::ZoneAtInstant,
    .zoneAt = platform::TakeZoneSnapshot,
    .followLocale = platform::RefreshLocale,
    .localeText = platform::LocaleText,
    .localeDate = platform::LocaleDate,
    .localeTime = platform::LocaleTime,
    .mapToUpperCase = platform::MapToUpperCase,
    .mapToLowerCase = platform::MapToLowerCase,
};

}  // namespace horalin
