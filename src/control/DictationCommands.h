#pragma once

#include "control/DictationState.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class DictationController;

// What other programs may ask of Vell (a desktop or compositor key binding,
// a status bar), and the state they may read. Every command goes through the
// controller's own paths, exactly as the shortcut and the tray menu do: the
// same checks, notices, history and checkpoint. No command takes text to
// paste, and nothing here carries the user's words. Main thread only.
class DictationCommands : public QObject
{
    Q_OBJECT

public:
    enum class Command {
        toggle,  // starts when idle, stops while dictating
        start,   // starts when idle
        stop,    // stops while dictating; the text is delivered
        cancel,  // ends without pasting; the text goes to history
        press,   // the shortcut went down
        release, // the shortcut came up
        showSettings,
        showHistory,
        showSetup,
        quit,
    };
    enum class Window { settings, history, setup };

    struct Hooks
    {
        std::function<void(Window)> show;
        std::function<void()> quit;
    };

    DictationCommands(DictationController& controller, Hooks hooks, QObject* parent = nullptr);

    // Carries out the command; none when it was done, otherwise the one
    // sentence saying why nothing happened.
    std::optional<QString> run(Command command);

    // "idle", "starting", "listening" or "finishing".
    QString state() const;
    bool isNoticeShowing() const;
    // "pasted", "clipboard", "history", "cancelled", "empty", "refused";
    // empty before the first dictation.
    QString lastOutcome() const;

Q_SIGNALS:
    // state(), isNoticeShowing() or lastOutcome() changed; once per change.
    void statusChanged();

private:
    std::optional<QString> startNow();

    DictationController& m_controller;
    Hooks m_hooks;
    std::optional<DictationOutcome> m_endedDuringCommand;
};
