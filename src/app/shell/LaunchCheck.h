#pragma once

#include "transcription/TranscriptionProvider.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

class AppSettings;
class AudioBackend;
class KeyStore;
class KeyboardTap;
class MicrophonePermission;
class QSettings;
class WindowPresenter;

struct LaunchCheckTimings
{
    std::chrono::milliseconds delay{300};     // after start-up, so the tray is up first
    std::chrono::milliseconds patience{3000}; // for the keys and the sound server to answer
};

// Once per launch, shortly after start-up: opens the setup window on a first
// launch with setup incomplete, the settings window on a later one, and
// otherwise records that setup is done.
//
// Keys and the sound server answer asynchronously at start-up; until they
// have (or `patience` has run out) an empty key or a silent microphone is not
// taken as incomplete setup. Main thread only.
class LaunchCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr QLatin1String kSetupDoneKey{"macSetupDone"};

    enum class Outcome { nothing, openSetup, openSettings };

    using Timings = LaunchCheckTimings;

    LaunchCheck(AppSettings& settings, KeyStore& keys, KeyboardTap& keyboard, MicrophonePermission& microphone,
                AudioBackend& audio, QSettings& preferences, WindowPresenter& windows, Timings timings = {},
                QObject* parent = nullptr);

    static bool needsSetup(TranscriptionProvider provider, const QString& key, bool keyboardAccessGranted,
                           bool microphoneGranted);
    static Outcome decide(bool needsSetup, bool setupDone);

    // Where the shortcut may come without keyboard access, its absence is no
    // reason to open a window.
    void setKeyboardAccessRequired(bool required) { m_keyboardAccessRequired = required; }

    // Runs the check after the delay (once; later calls do nothing).
    void schedule();
    bool hasRun() const { return m_ran; }

Q_SIGNALS:
    void finished(LaunchCheck::Outcome outcome);

private:
    void attempt();
    void run();
    bool stillWaiting() const;

    bool m_keyboardAccessRequired = true;
    AppSettings& m_settings;
    KeyStore& m_keys;
    KeyboardTap& m_keyboard;
    MicrophonePermission& m_microphone;
    AudioBackend& m_audio;
    QSettings& m_preferences;
    WindowPresenter& m_windows;
    Timings m_timings;
    QTimer m_timer;
    QElapsedTimer m_sinceStart;
    bool m_scheduled = false;
    bool m_delayPassed = false;
    bool m_ran = false;
};
