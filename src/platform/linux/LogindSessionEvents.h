#pragma once

#include "platform/SessionEvents.h"

#include <QDBusConnection>

// Sleep and wake from logind's PrepareForSleep on the system bus; lock and
// unlock from the screensaver's ActiveChanged on the session bus (the
// freedesktop and the GNOME interface), from logind's Lock and Unlock of this
// session, and from the session turning inactive and active again (another
// user took the screen, and gave it back). A bus that is not there simply
// delivers nothing.
class LogindSessionEvents final : public SessionEvents
{
    Q_OBJECT

public:
    explicit LogindSessionEvents(QObject* parent = nullptr);
    // For tests: both services on the given buses.
    LogindSessionEvents(const QDBusConnection& systemBus, const QDBusConnection& sessionBus, QObject* parent = nullptr);

    static inline const QString kSleepSignal = QStringLiteral("org.freedesktop.login1.Manager.PrepareForSleep");
    static inline const QString kScreenSaverSignal = QStringLiteral("org.freedesktop.ScreenSaver.ActiveChanged");
    static inline const QString kUnlockSignal = QStringLiteral("org.freedesktop.login1.Session.Unlock");
    static inline const QString kActiveSignal = QStringLiteral("org.freedesktop.login1.Session.Active");

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);
    void onSessionLock();
    void onSessionUnlock();
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&);

private:
    void subscribe(QDBusConnection systemBus, QDBusConnection sessionBus);
    void subscribeToSession(QDBusConnection systemBus, const QString& session);
};
