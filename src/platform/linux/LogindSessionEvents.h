#pragma once

#include "platform/SessionEvents.h"

#include <QDBusConnection>

// Sleep and wake from logind's PrepareForSleep on the system bus; lock and
// unlock from the screensaver's ActiveChanged on the session bus (the
// freedesktop and the GNOME interface) and from logind's Lock and Unlock of
// this session. A bus that is not there simply delivers nothing.
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

private Q_SLOTS:
    void onPrepareForSleep(bool sleeping);
    void onScreenSaverActiveChanged(bool active);
    void onSessionLock();
    void onSessionUnlock();

private:
    void subscribe(QDBusConnection systemBus, QDBusConnection sessionBus);
};
