#pragma once

#include <QList>
#include <QString>

#include <optional>

// How the shortcut drives a dictation; stored by its raw value.
enum class TriggerMode { holdOrTap, hold, toggle };

namespace TriggerModes {

inline QList<TriggerMode> all()
{
    return {TriggerMode::holdOrTap, TriggerMode::hold, TriggerMode::toggle};
}

inline QString rawValue(TriggerMode mode)
{
    switch (mode) {
    case TriggerMode::holdOrTap:
        return QStringLiteral("holdOrTap");
    case TriggerMode::hold:
        return QStringLiteral("hold");
    case TriggerMode::toggle:
        return QStringLiteral("toggle");
    }
    return QStringLiteral("holdOrTap");
}

inline std::optional<TriggerMode> fromRawValue(const QString& raw)
{
    for (TriggerMode mode : all())
        if (rawValue(mode) == raw)
            return mode;
    return std::nullopt;
}

inline QString title(TriggerMode mode)
{
    switch (mode) {
    case TriggerMode::holdOrTap:
        return QStringLiteral("Hold to talk, or tap to toggle");
    case TriggerMode::hold:
        return QStringLiteral("Hold to talk");
    case TriggerMode::toggle:
        return QStringLiteral("Press to start, press again to stop");
    }
    return {};
}

} // namespace TriggerModes
