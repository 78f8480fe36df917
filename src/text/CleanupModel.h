#pragma once

#include <QList>
#include <QString>

#include <optional>

// The model that cleans a transcript up; stored by its raw value.
enum class CleanupModel { opus, haiku };

namespace CleanupModels {

inline QList<CleanupModel> all()
{
    return {CleanupModel::opus, CleanupModel::haiku};
}

inline QString rawValue(CleanupModel model)
{
    return model == CleanupModel::opus ? QStringLiteral("opus") : QStringLiteral("haiku");
}

inline std::optional<CleanupModel> fromRawValue(const QString& raw)
{
    for (CleanupModel model : all())
        if (rawValue(model) == raw)
            return model;
    return std::nullopt;
}

// The model's name in a Messages API request.
inline QString identifier(CleanupModel model)
{
    return model == CleanupModel::opus ? QStringLiteral("claude-opus-5-5") : QStringLiteral("claude-haiku-5-5");
}

// Shown in the settings window's model picker.
inline QString title(CleanupModel model)
{
    return model == CleanupModel::opus ? QStringLiteral("Claude Opus 5.5 (best)")
                                       : QStringLiteral("Claude Haiku 5.5 (fastest, cheapest)");
}

} // namespace CleanupModels
