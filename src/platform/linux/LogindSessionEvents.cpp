#include "platform/linux/LogindSessionEvents.h"

#include "storage/VellLog.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

LogindSessionEvents::LogindSessionEvents(QObject* parent)
    : LogindSessionEvents(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), parent)
{}

LogindSessionEvents::LogindSessionEvents(const QDBusConnection& systemBus, const QDBusConnection& sessionBus,
                                         QObject* parent)
    : SessionEvents(parent)
{
    subscribe(systemBus, sessionBus);
}

// QtDBus connects bus signals by slot signature only.
void LogindSessionEvents::subscribe(QDBusConnection systemBus, QDBusConnection sessionBus)
{
    const QString login1 = QStringLiteral("org.freedesktop.login1");
    if (systemBus.isConnected()) {
        systemBus.connect(login1, QStringLiteral("/org/freedesktop/login1"),
                          QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                          SLOT(onPrepareForSleep(bool)));
        // logind signals on the session's own path; ".../session/auto" is
        // only an alias for method calls.
        QDBusMessage ask = QDBusMessage::createMethodCall(login1, QStringLiteral("/org/freedesktop/login1"),
                                                          QStringLiteral("org.freedesktop.login1.Manager"),
                                                          QStringLiteral("GetSessionByPID"));
        ask.setArguments({uint(QCoreApplication::applicationPid())});
        auto* watcher = new QDBusPendingCallWatcher(systemBus.asyncCall(ask), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, systemBus](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *call;
            if (reply.isError()) {
                VellLog::app().info(QStringLiteral("No logind session; locking through it goes unnoticed"));
                return;
            }
            subscribeToSession(systemBus, reply.value().path());
        });
    } else {
        VellLog::app().info(QStringLiteral("No system bus; sleep and wake go unnoticed"));
    }
    if (sessionBus.isConnected()) {
        for (const QString& interface :
             {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver")})
            sessionBus.connect(QString(), QString(), interface, QStringLiteral("ActiveChanged"), this,
                               SLOT(onScreenSaverActiveChanged(bool)));
    } else {
        VellLog::app().info(QStringLiteral("No session bus; screen locking goes unnoticed"));
    }
}

void LogindSessionEvents::subscribeToSession(QDBusConnection systemBus, const QString& session)
{
    const QString login1 = QStringLiteral("org.freedesktop.login1");
    const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
    systemBus.connect(login1, session, sessionInterface, QStringLiteral("Lock"), this, SLOT(onSessionLock()));
    systemBus.connect(login1, session, sessionInterface, QStringLiteral("Unlock"), this, SLOT(onSessionUnlock()));
    // Another user's session taking the screen makes this one inactive.
    systemBus.connect(login1, session, QStringLiteral("org.freedesktop.DBus.Properties"),
                      QStringLiteral("PropertiesChanged"), this,
                      SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void LogindSessionEvents::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                     const QStringList&)
{
    if (interface != u"org.freedesktop.login1.Session" || !changed.contains(QStringLiteral("Active")))
        return;
    if (changed.value(QStringLiteral("Active")).toBool())
        Q_EMIT screenUnlocked(kActiveSignal);
    else
        Q_EMIT screenLocked();
}

void LogindSessionEvents::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT goingToSleep();
    else
        Q_EMIT wokeUp(kSleepSignal);
}

void LogindSessionEvents::onScreenSaverActiveChanged(bool active)
{
    if (active)
        Q_EMIT screenLocked();
    else
        Q_EMIT screenUnlocked(kScreenSaverSignal);
}

void LogindSessionEvents::onSessionLock()
{
    Q_EMIT screenLocked();
}

void LogindSessionEvents::onSessionUnlock()
{
    Q_EMIT screenUnlocked(kUnlockSignal);
}
