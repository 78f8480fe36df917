#pragma once

#include "storage/EnumTable.h"

// How the shortcut drives a dictation; stored by its raw value.
enum class TriggerMode { holdOrTap, hold, toggle };

struct TriggerModes : EnumTable<TriggerModes, TriggerMode>
{
    static constexpr Entry kEntries[] = {
        {TriggerMode::holdOrTap, u"holdOrTap", u"Hold to talk, or tap to toggle"},
        {TriggerMode::hold, u"hold", u"Hold to talk"},
        {TriggerMode::toggle, u"toggle", u"Press to start, press again to stop"},
    };
};
