#pragma once

#include "platform/PlatformVocabulary.h"
#include "shortcut/Shortcut.h"

#include <QObject>

#include <optional>

class HotkeyMonitor;

// The rules of recording a new dictation shortcut by pressing it. A key
// shortcut is taken on the key press itself; a modifier-only shortcut once
// every modifier is up again, made of every modifier that was down at any
// moment of the gesture.
//
// The control that shows it feeds key presses and modifier changes while
// isRecording() is true and keeps all of them from the rest of the
// application. The hotkey monitor is paused for the whole recording, so the
// current shortcut starts no dictation; every way back to idle resumes it.
// Main thread only. changed() fires on every change of what the control
// shows; recorded() carries each newly recorded shortcut, which the owner
// stores.
class ShortcutRecorder : public QObject
{
    Q_OBJECT

public:
    // `hotkey` and `words` must outlive the recorder.
    ShortcutRecorder(HotkeyMonitor& hotkey, const Shortcut& shortcut,
                     const PlatformVocabulary& words = PlatformVocabulary::native(), QObject* parent = nullptr);
    // Resumes the hotkey monitor if a recording is still going on.
    ~ShortcutRecorder() override;

    const Shortcut& shortcut() const { return m_shortcut; }
    void setShortcut(const Shortcut& shortcut);

    bool isRecording() const { return m_recording; }
    // The modifiers gathered so far in the current modifier gesture.
    ModifierKeys peak() const { return m_peak; }
    // Advice to show under the control; none when there is nothing to say.
    const std::optional<QString>& hint() const { return m_hint; }

    // The control's title: the shortcut, or while recording the modifiers
    // held so far or the request to press a shortcut.
    QString title() const;
    // Shown under the title while recording; empty otherwise.
    QString caption() const;

    // Starts recording when idle, cancels it when recording.
    void toggle();
    // Cancels without recording anything; the hint stays.
    void stopRecording();

    // A key went down with `held` modifiers; `characters` are what the key
    // types without modifiers. Ignored when not recording.
    void keyDown(quint16 keyCode, ModifierKeys held, const QString& characters);
    // The modifiers held changed to `held`. Ignored when not recording.
    void modifiersChanged(ModifierKeys held);

Q_SIGNALS:
    void changed();
    void recorded(const Shortcut& shortcut);

private:
    void setRecording(bool recording);
    void commit(const Shortcut& shortcut);

    HotkeyMonitor& m_hotkey;
    const PlatformVocabulary& m_words;
    Shortcut m_shortcut;
    bool m_recording = false;
    ModifierKeys m_peak;
    std::optional<QString> m_hint;
};
