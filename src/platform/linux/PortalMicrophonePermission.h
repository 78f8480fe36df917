#pragma once

#include "platform/MicrophonePermission.h"

#include <QDBusConnection>
#include <QObject>

// Microphone access on a Linux desktop: granted unless the desktop portal's
// permission store has the microphone turned off for this program. The store
// is asked in the background. A sound server that does not answer is not a
// refusal: the capture reports that itself, in its own words, and the server
// may simply not have answered yet in the first moments after start-up.
class PortalMicrophonePermission final : public QObject, public MicrophonePermission
{
    Q_OBJECT

public:
    explicit PortalMicrophonePermission(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                        QObject* parent = nullptr);

    Status status() override;
    // Nothing to ask for outside a sandbox; the store is read again.
    void request() override;

    // Application ids whose entry in the store speaks for this program.
    static const QStringList kApplicationIds;

private:
    void askPortal();

    QDBusConnection m_bus;
    bool m_portalDenies = false;
};
