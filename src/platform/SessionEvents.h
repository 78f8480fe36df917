#pragma once

#include <QObject>
#include <QString>

// Sleep, wake, screen lock and unlock of the user's session, on the main
// thread. `source` names the platform notification, for the log.
class SessionEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    void goingToSleep();
    void wokeUp(const QString& source);
    void screenLocked();
    void screenUnlocked(const QString& source);
};
