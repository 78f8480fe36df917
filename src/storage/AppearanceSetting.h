#pragma once

#include "storage/EnumTable.h"

// Light or dark look of the windows; stored by its raw value.
enum class AppearanceSetting { system, light, dark };

struct AppearanceSettings : EnumTable<AppearanceSettings, AppearanceSetting>
{
    static constexpr Entry kEntries[] = {
        {AppearanceSetting::system, u"system", u"System"},
        {AppearanceSetting::light, u"light", u"Light"},
        {AppearanceSetting::dark, u"dark", u"Dark"},
    };
};
