#pragma once

#include "platform/MicrophonePermission.h"
#include "storage/VellLog.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class KeyboardTap;

// Whether Vell may watch the keyboard (the keyboard tap can be installed) and
// record the microphone (the sound server answers and no desktop portal
// denies it), for the windows that show it. Each window that shows them keeps
// its own instance and polls it every second while it is on screen. Main
// thread only; each change signal fires only on a change.
//
// Also the one place that turns launching at login on and off, through an
// XDG autostart entry.
class Permissions : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool keyboardAccess READ keyboardAccess NOTIFY keyboardAccessChanged)
    Q_PROPERTY(bool microphone READ microphone NOTIFY microphoneChanged)

public:
    static constexpr std::chrono::milliseconds kPollInterval{1000};

    // `tap` and `microphone` must outlive the instance. Reads both at once.
    Permissions(KeyboardTap& tap, MicrophonePermission& microphone,
                std::chrono::milliseconds pollInterval = kPollInterval, QObject* parent = nullptr);

    bool keyboardAccess() const { return m_keyboardAccess; }
    bool microphone() const { return m_microphone; }
    // What the platform last said about the microphone, undetermined included.
    MicrophonePermission::Status microphoneStatus() const { return m_microphoneStatus; }

    void refresh();
    // Asks for the microphone; the answer shows at the next refresh.
    void requestMicrophone();
    // There is nothing to prompt for on this desktop: looks again.
    void recheckKeyboardAccess();

    // Refreshes now and then every poll interval while on.
    void setPolling(bool polling);
    bool isPolling() const { return m_poll.isActive(); }

    // $XDG_CONFIG_HOME/autostart/vell.desktop
    static QString autostartPath();
    // Whether the autostart entry exists and is not switched off.
    static bool launchesAtLogin();
    // Writes (atomically) or removes the autostart entry. A failure is logged
    // as "launch at login: " and the reason, and false comes back.
    static bool setLaunchAtLogin(bool on, const VellLog& log = VellLog::app());
    // The autostart entry that starts `program`.
    static QByteArray autostartEntry(const QString& program);

Q_SIGNALS:
    void keyboardAccessChanged(bool granted);
    void microphoneChanged(bool granted);

private:
    KeyboardTap& m_tap;
    MicrophonePermission& m_microphonePort;
    QTimer m_poll;
    bool m_keyboardAccess = false;
    bool m_microphone = false;
    MicrophonePermission::Status m_microphoneStatus = MicrophonePermission::Status::undetermined;
};
