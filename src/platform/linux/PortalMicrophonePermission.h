#pragma once

#include "platform/MicrophonePermission.h"

#include <QDBusConnection>
#include <QObject>

#include <functional>

// Microphone access on a Linux desktop: granted while the sound server
// answers, unless the desktop portal's permission store has the microphone
// turned off for this program. The store is asked in the background; until it
// answers, only the sound server counts.
class PortalMicrophonePermission final : public QObject, public MicrophonePermission
{
    Q_OBJECT

public:
    PortalMicrophonePermission(std::function<bool()> soundServerAnswers,
                               const QDBusConnection& bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    Status status() override;
    // Nothing to ask for outside a sandbox; the store is read again.
    void request() override;

    // Application ids whose entry in the store speaks for this program.
    static const QStringList kApplicationIds;

private:
    void askPortal();

    std::function<bool()> m_soundServerAnswers;
    QDBusConnection m_bus;
    bool m_portalDenies = false;
};
