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

// How the last dictation (or attempt at one) ended, for whoever shows Vell's
// state outside its own windows.
enum class DictationOutcome {
    pasted,        // the text went where the cursor was
    onClipboard,   // not pasted; left on the clipboard
    inHistoryOnly, // not pasted, and the clipboard would not take it
    cancelled,     // cancelled; the text, if any, is in history
    nothingHeard,  // the dictation ended without text
    refused,       // a start was refused, with a notice saying why
};

inline QLatin1String outcomeName(DictationOutcome outcome)
{
    switch (outcome) {
    case DictationOutcome::pasted:
        return QLatin1String("pasted");
    case DictationOutcome::onClipboard:
        return QLatin1String("clipboard");
    case DictationOutcome::inHistoryOnly:
        return QLatin1String("history");
    case DictationOutcome::cancelled:
        return QLatin1String("cancelled");
    case DictationOutcome::nothingHeard:
        return QLatin1String("empty");
    case DictationOutcome::refused:
        return QLatin1String("refused");
    }
    return QLatin1String("empty");
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
