#pragma once

#include "platform/KeyboardTap.h"
#include "shortcut/Shortcut.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class SessionEvents;

struct HotkeyMonitorTimings
{
    std::chrono::milliseconds retryInterval{2000}; // between attempts to install the tap
};

// Watches every key the user types, recognises the dictation shortcut and
// reports it to one consumer: pressed, released, interrupted (spoiled by
// another key) and escape (while a dictation wants Escape). It swallows the
// key of a key shortcut and a captured Escape, never a modifier change, and
// ignores keystrokes this program posted. It retries installing the keyboard
// tap every two seconds until it may, and installs it again after wake and
// unlock. Main thread only; events reach the consumer synchronously.
class HotkeyMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isInstalled READ isInstalled NOTIFY isInstalledChanged)

public:
    enum class Event { pressed, released, interrupted, escape };
    Q_ENUM(Event)

    using Timings = HotkeyMonitorTimings;

    HotkeyMonitor(KeyboardTap& tap, SessionEvents& session, Timings timings = {}, QObject* parent = nullptr);
    ~HotkeyMonitor() override;

    bool isInstalled() const { return m_isInstalled; }
    const KeyboardTap& keyboardTap() const { return m_tap; }

    const Shortcut& shortcut() const { return m_shortcut; }
    void setShortcut(const Shortcut& shortcut);

    // While paused every event passes untouched and nothing is reported.
    // Every pause needs its own resume: two shortcut recorders (setup and
    // settings) may record at once, and the first to finish must not resume
    // the monitor under the other.
    bool isPaused() const { return m_pauses > 0; }
    void setPaused(bool paused);

    bool capturesEscape() const { return m_capturesEscape; }
    // Whether Escape can cancel a dictation here: the tap sees the keyboard
    // and can keep Escape from the app in front.
    bool escapeCancels() const { return m_isInstalled && m_tap.canSwallowKeys(); }
    void setCapturesEscape(bool captures);

    // The shortcut is held: its press was reported, its release not yet.
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }

    void setOnEvent(std::function<void(Event)> onEvent) { m_onEvent = std::move(onEvent); }

    // Installs the tap, or keeps retrying until it can.
    void start();
    bool install();
    void reinstall(const QString& reason);

Q_SIGNALS:
    void isInstalledChanged(bool isInstalled);

private:
    bool handle(const KeyEvent& event);
    bool handleKeyDown(const KeyEvent& event);
    bool handleKeyUp(const KeyEvent& event);
    void handleModifiersChanged(const KeyEvent& event);
    void report(Event event);
    void setInstalled(bool installed);
    void updateSwallowedKeys();

    KeyboardTap& m_tap;
    SessionEvents& m_session;
    Timings m_timings;

    bool m_isInstalled = false;
    Shortcut m_shortcut = Shortcut::defaultShortcut();
    int m_pauses = 0;
    bool m_capturesEscape = false;
    std::function<void(Event)> m_onEvent = [](Event) {};
    bool m_observing = false;
    QTimer m_retryTimer;
    bool m_active = false;
};
