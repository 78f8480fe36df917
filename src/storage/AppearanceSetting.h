#pragma once

#include <QList>
#include <QString>

#include <optional>

// Light or dark look of the windows; stored by its raw value.
enum class AppearanceSetting { system, light, dark };

namespace AppearanceSettings {

inline QList<AppearanceSetting> all()
{
    return {AppearanceSetting::system, AppearanceSetting::light, AppearanceSetting::dark};
}

inline QString rawValue(AppearanceSetting appearance)
{
    switch (appearance) {
    case AppearanceSetting::system:
        return QStringLiteral("system");
    case AppearanceSetting::light:
        return QStringLiteral("light");
    case AppearanceSetting::dark:
        return QStringLiteral("dark");
    }
    return QStringLiteral("system");
}

inline std::optional<AppearanceSetting> fromRawValue(const QString& raw)
{
    for (AppearanceSetting appearance : all())
        if (rawValue(appearance) == raw)
            return appearance;
    return std::nullopt;
}

inline QString title(AppearanceSetting appearance)
{
    switch (appearance) {
    case AppearanceSetting::system:
        return QStringLiteral("System");
    case AppearanceSetting::light:
        return QStringLiteral("Light");
    case AppearanceSetting::dark:
        return QStringLiteral("Dark");
    }
    return {};
}

} // namespace AppearanceSettings
