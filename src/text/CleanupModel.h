#pragma once

#include "storage/EnumTable.h"

// The model that cleans a transcript up; stored by its raw value.
enum class CleanupModel { opus, haiku };

// The titles are shown in the settings window's model picker.
struct CleanupModels : EnumTable<CleanupModels, CleanupModel>
{
    static constexpr Entry kEntries[] = {
        {CleanupModel::opus, u"opus", u"Claude Opus 5.5 (best)"},
        {CleanupModel::haiku, u"haiku", u"Claude Haiku 5.5 (fastest, cheapest)"},
    };

    // The model's name in a Messages API request.
    static QString identifier(CleanupModel model)
    {
        return model == CleanupModel::opus ? QStringLiteral("claude-opus-5-5") : QStringLiteral("claude-haiku-5-5");
    }
};
