#pragma once

#include "shortcut/Shortcut.h"
#include "storage/AppearanceSetting.h"
#include "storage/TriggerMode.h"

#include <QObject>

#include <optional>

class AppearancePort;
class QSettings;

// The desktop preferences: the dictation shortcut, how it triggers, the
// windows' appearance and the chosen microphone. Read once from the
// preference store at construction, each with its own fallback; every
// assignment writes the store at once and signals only a change. Main thread
// only.
class DesktopSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Shortcut shortcut READ shortcut WRITE setShortcut NOTIFY shortcutChanged)
    Q_PROPERTY(TriggerMode triggerMode READ triggerMode WRITE setTriggerMode NOTIFY triggerModeChanged)
    Q_PROPERTY(AppearanceSetting appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(
        std::optional<QString> inputDeviceUID READ inputDeviceUID WRITE setInputDeviceUID NOTIFY inputDeviceUIDChanged)

public:
    using TriggerMode = ::TriggerMode;

    // `store` and `appearancePort` must outlive the settings.
    DesktopSettings(QSettings& store, AppearancePort& appearancePort, QObject* parent = nullptr);

    const Shortcut& shortcut() const { return m_shortcut; }
    void setShortcut(const Shortcut& shortcut);

    TriggerMode triggerMode() const { return m_triggerMode; }
    void setTriggerMode(TriggerMode mode);

    // Every assignment also applies the appearance, even an unchanged one.
    AppearanceSetting appearance() const { return m_appearance; }
    void setAppearance(AppearanceSetting appearance);

    // Until a shortcut is stored, the default follows the keyboard layout:
    // `typingModifiers` are the modifiers the layout types characters with.
    void followLayout(ModifierKeys typingModifiers);

    // None: follow the system's default input.
    std::optional<QString> inputDeviceUID() const { return m_inputDeviceUID; }
    void setInputDeviceUID(const std::optional<QString>& uid);

    // Hands `appearance` to the application; the shell calls it once at start-up.
    void applyAppearance();

Q_SIGNALS:
    void shortcutChanged(const Shortcut& shortcut);
    void triggerModeChanged(TriggerMode mode);
    void appearanceChanged(AppearanceSetting appearance);
    void inputDeviceUIDChanged(const std::optional<QString>& uid);

private:
    QSettings& m_store;
    AppearancePort& m_appearancePort;

    Shortcut m_shortcut = Shortcut::defaultShortcut();
    bool m_shortcutStored = false;
    TriggerMode m_triggerMode = TriggerMode::holdOrTap;
    AppearanceSetting m_appearance = AppearanceSetting::system;
    std::optional<QString> m_inputDeviceUID;
};
