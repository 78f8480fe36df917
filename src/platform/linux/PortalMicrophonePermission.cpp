#include "platform/linux/PortalMicrophonePermission.h"

#include "storage/VellLog.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

const QStringList PortalMicrophonePermission::kApplicationIds = {QString(), QStringLiteral("org.brightfold.Vell")};

PortalMicrophonePermission::PortalMicrophonePermission(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus)
{
    askPortal();
}

MicrophonePermission::Status PortalMicrophonePermission::status()
{
    return m_portalDenies ? Status::denied : Status::granted;
}

void PortalMicrophonePermission::request()
{
    askPortal();
}

void PortalMicrophonePermission::askPortal()
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage lookup = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                                         QStringLiteral("/org/freedesktop/impl/portal/PermissionStore"),
                                                         QStringLiteral("org.freedesktop.impl.portal.PermissionStore"),
                                                         QStringLiteral("Lookup"));
    lookup << QStringLiteral("devices") << QStringLiteral("microphone");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(lookup, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return; // no portal, or no entry: nothing was denied
        QMap<QString, QStringList> permissions;
        reply.arguments().first().value<QDBusArgument>() >> permissions;
        bool denies = false;
        for (const QString& id : kApplicationIds)
            if (permissions.value(id).contains(QStringLiteral("no")))
                denies = true;
        if (denies != m_portalDenies)
            VellLog::audio().info(denies ? QStringLiteral("The desktop portal has the microphone turned off for Vell")
                                         : QStringLiteral("The desktop portal allows the microphone"));
        m_portalDenies = denies;
    });
}
