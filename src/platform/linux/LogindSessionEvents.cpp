#include "platform/linux/LogindSessionEvents.h"

#include "storage/VellLog.h"

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
        const QString session = QStringLiteral("/org/freedesktop/login1/session/auto");
        const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
        systemBus.connect(login1, session, sessionInterface, QStringLiteral("Lock"), this, SLOT(onSessionLock()));
        systemBus.connect(login1, session, sessionInterface, QStringLiteral("Unlock"), this, SLOT(onSessionUnlock()));
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
