#pragma once

#include <QDateTime>
#include <QLatin1String>
#include <QString>

#include <optional>

// Where the dictation is: the tray icon and the panel draw it.
enum class DictationState { idle, starting, listening, finishing };

inline QLatin1String stateName(DictationState state)
{
    switch (state) {
    case DictationState::idle:
        return QLatin1String("idle");
    case DictationState::starting:
        return QLatin1String("starting");
    case DictationState::listening:
        return QLatin1String("listening");
    case DictationState::finishing:
        return QLatin1String("finishing");
    }
    return QLatin1String("idle");
}

// A dictation that could not be pasted and was left on the clipboard.
struct UnpastedDictation
{
    QString text;
    std::optional<QString> appName;
    QString reason;
    QDateTime date;

    bool operator==(const UnpastedDictation&) const = default;
};
