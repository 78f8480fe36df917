#include "app/shell/LaunchCheck.h"

#include "app/shell/WindowPresenter.h"
#include "platform/AudioBackend.h"
#include "platform/KeyboardTap.h"
#include "platform/MicrophonePermission.h"
#include "storage/AppSettings.h"
#include "storage/KeyStore.h"
#include "storage/VellLog.h"

#include <QSettings>

LaunchCheck::LaunchCheck(AppSettings& settings, KeyStore& keys, KeyboardTap& keyboard, MicrophonePermission& microphone,
                         AudioBackend& audio, QSettings& preferences, WindowPresenter& windows, Timings timings,
                         QObject* parent)
    : QObject(parent), m_settings(settings), m_keys(keys), m_keyboard(keyboard), m_microphone(microphone),
      m_audio(audio), m_preferences(preferences), m_windows(windows), m_timings(timings)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_delayPassed = true;
        attempt();
    });
}

bool LaunchCheck::needsSetup(TranscriptionProvider provider, const QString& key, bool keyboardAccessGranted,
                             bool microphoneGranted)
{
    if (provider != TranscriptionProvider::mock && key.isEmpty())
        return true;
    return !keyboardAccessGranted || !microphoneGranted;
}

LaunchCheck::Outcome LaunchCheck::decide(bool needsSetup, bool setupDone)
{
    if (!needsSetup)
        return Outcome::nothing;
    return setupDone ? Outcome::openSettings : Outcome::openSetup;
}

void LaunchCheck::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    m_sinceStart.start();
    // Whatever answers first may settle the question early.
    connect(&m_keys, &KeyStore::keysLoaded, this, &LaunchCheck::attempt);
    connect(&m_audio, &AudioBackend::inputsChanged, this, &LaunchCheck::attempt);
    connect(&m_audio, &AudioBackend::defaultInputChanged, this, &LaunchCheck::attempt);
    m_timer.start(m_timings.delay);
}

bool LaunchCheck::stillWaiting() const
{
    if (m_sinceStart.elapsed() >= m_timings.patience.count())
        return false;
    if (!m_keys.isLoaded())
        return true;
    return m_microphone.status() != MicrophonePermission::Status::granted;
}

void LaunchCheck::attempt()
{
    if (m_ran || !m_delayPassed)
        return;
    if (stillWaiting()) {
        if (!m_timer.isActive())
            m_timer.start(std::max<qint64>(0, m_timings.patience.count() - m_sinceStart.elapsed()));
        return;
    }
    m_timer.stop();
    run();
}

void LaunchCheck::run()
{
    m_ran = true;
    disconnect(&m_keys, nullptr, this, nullptr);
    disconnect(&m_audio, nullptr, this, nullptr);

    const TranscriptionProvider provider = m_settings.provider();
    const bool incomplete =
        needsSetup(provider, m_settings.apiKey(provider), m_keyboard.hasKeyboardAccess() || !m_keyboardAccessRequired,
                   m_microphone.status() == MicrophonePermission::Status::granted);
    const bool setupDone = m_preferences.value(kSetupDoneKey, false).toBool();
    const Outcome outcome = decide(incomplete, setupDone);
    if (outcome != Outcome::openSetup)
        m_preferences.setValue(kSetupDoneKey, true);

    switch (outcome) {
    case Outcome::nothing:
        break;
    case Outcome::openSetup:
        VellLog::app().info(QStringLiteral("setup is incomplete; opening the setup window"));
        m_windows.show(WindowPresenter::Window::setup);
        break;
    case Outcome::openSettings:
        VellLog::app().info(QStringLiteral("setup is incomplete; opening the settings window"));
        m_windows.show(WindowPresenter::Window::settings);
        break;
    }
    Q_EMIT finished(outcome);
}
