#include "storage/DesktopSettings.h"

#include "platform/AppearancePort.h"
#include "storage/PreferenceValues.h"

#include <QSettings>

namespace {

const QString kShortcutKey = QStringLiteral("shortcut");
const QString kTriggerModeKey = QStringLiteral("triggerMode");
const QString kAppearanceKey = QStringLiteral("appearance");
const QString kInputDeviceUIDKey = QStringLiteral("inputDeviceUID");

std::optional<Shortcut> readShortcut(const QVariant& stored)
{
    if (stored.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return Shortcut::fromJson(stored.toByteArray());
}

} // namespace

DesktopSettings::DesktopSettings(QSettings& store, AppearancePort& appearancePort, QObject* parent)
    : QObject(parent), m_store(store), m_appearancePort(appearancePort)
{
    using PreferenceValues::toString;
    const std::optional<Shortcut> shortcut = readShortcut(store.value(kShortcutKey));
    m_shortcutStored = shortcut.has_value();
    m_shortcut = shortcut.value_or(Shortcut::defaultShortcut());
    m_triggerMode = TriggerModes::fromRawValue(toString(store.value(kTriggerModeKey)).value_or(QString()))
                        .value_or(TriggerMode::holdOrTap);
    m_appearance = AppearanceSettings::fromRawValue(toString(store.value(kAppearanceKey)).value_or(QString()))
                       .value_or(AppearanceSetting::system);
    m_inputDeviceUID = toString(store.value(kInputDeviceUIDKey));
    if (m_inputDeviceUID && m_inputDeviceUID->isEmpty())
        m_inputDeviceUID.reset();
}

void DesktopSettings::followLayout(ModifierKeys typingModifiers)
{
    if (m_shortcutStored)
        return;
    const Shortcut shortcut = Shortcut::defaultShortcut(typingModifiers);
    if (shortcut == m_shortcut)
        return;
    m_shortcut = shortcut;
    Q_EMIT shortcutChanged(shortcut);
}

void DesktopSettings::setShortcut(const Shortcut& shortcut)
{
    PreferenceValues::write(m_store, kShortcutKey, shortcut.toJson());
    m_shortcutStored = true;
    if (shortcut == m_shortcut)
        return;
    m_shortcut = shortcut;
    Q_EMIT shortcutChanged(shortcut);
}

void DesktopSettings::setTriggerMode(TriggerMode mode)
{
    PreferenceValues::write(m_store, kTriggerModeKey, TriggerModes::rawValue(mode));
    if (mode == m_triggerMode)
        return;
    m_triggerMode = mode;
    Q_EMIT triggerModeChanged(mode);
}

void DesktopSettings::setAppearance(AppearanceSetting appearance)
{
    PreferenceValues::write(m_store, kAppearanceKey, AppearanceSettings::rawValue(appearance));
    const bool changed = appearance != m_appearance;
    m_appearance = appearance;
    applyAppearance();
    if (changed)
        Q_EMIT appearanceChanged(appearance);
}

void DesktopSettings::setInputDeviceUID(const std::optional<QString>& uid)
{
    // An empty identifier names no device.
    const std::optional<QString> device = uid && !uid->isEmpty() ? uid : std::nullopt;
    if (device)
        PreferenceValues::write(m_store, kInputDeviceUIDKey, *device);
    else
        PreferenceValues::remove(m_store, kInputDeviceUIDKey);
    if (device == m_inputDeviceUID)
        return;
    m_inputDeviceUID = device;
    Q_EMIT inputDeviceUIDChanged(device);
}

void DesktopSettings::applyAppearance()
{
    m_appearancePort.apply(m_appearance);
}
