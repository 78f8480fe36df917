#pragma once

#include "control/DictationState.h"
#include "platform/PlatformVocabulary.h"
#include "storage/HistoryEntry.h"
#include "storage/UsageLog.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QUuid>

#include <optional>

class DictationController;

// What the tray's drop-down shows, top to bottom, as plain rows: the popup
// and the plain context menu draw the same rows. Built from a snapshot of the
// controller, so the rules are checked without widgets.
class TrayMenuModel
{
public:
    static constexpr int kRecentRows = 5;

    enum class Symbol { none, warning, lock, notPasted };

    enum class Action {
        none,
        copyEntry,
        copyUnpasted,
        dismissUnpasted,
        history,
        stats,
        settings,
        about,
        checkForUpdates,
        setup,
        quit
    };

    struct Row
    {
        enum class Kind {
            title,    // "Vell"
            caption,  // what the controller is doing
            summary,  // the week's words and time saved
            warning,  // why the shortcut does not work
            unpasted, // the card of the last dictation that was not pasted
            hint,     // how to dictate, while history is empty
            heading,  // "Recent"
            recent,   // one history entry; copies its text
            more,     // the "More" menu button
            moreItem, // an entry of the "More" menu
            action,   // a plain menu command
            divider,
        };

        Kind kind = Kind::action;
        QString text{};
        Symbol symbol = Symbol::none;
        Action action = Action::none;
        QUuid entry{};       // recent rows
        bool copied = false; // recent rows and the card: its text was copied last

        bool operator==(const Row&) const = default;
    };

    struct Inputs
    {
        DictationState state = DictationState::idle;
        QString shortcutLabel;
        UsageLog::Totals week;
        bool hotkeyInstalled = true;
        std::optional<QString> keyboardGrabApp;
        std::optional<UnpastedDictation> unseenFailure;
        QList<HistoryEntry> recent; // newest first; only the first five are shown
        std::optional<QUuid> copiedEntry;
        bool unpastedCopied = false;
        const PlatformVocabulary* words = &PlatformVocabulary::native();
        QLocale locale;
    };

    static Inputs snapshot(DictationController& controller, const PlatformVocabulary& words);
    static QList<Row> rows(const Inputs& inputs);

    static QString caption(DictationState state, const QString& shortcutLabel);
    // None when nothing was dictated this week.
    static std::optional<QString> weeklySummary(const UsageLog::Totals& week, const QLocale& locale);
    // "Not pasted · 14:05 in Editor".
    static QString unpastedTitle(const UnpastedDictation& failure, const QLocale& locale);
    // An entry's text on one line, as a recent row shows it.
    static QString oneLine(const QString& text);

    // The shortcut cannot start a dictation, or an unpasted dictation waits.
    static bool needsAttention(DictationController& controller);
};
