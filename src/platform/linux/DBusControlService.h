#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QTimer>

#include <chrono>

class DictationCommands;

// Serves Vell's control interface (data/org.brightfold.Vell.Control.xml) on
// the session bus: owns the name org.brightfold.Vell, with the newest running
// copy taking it over, and serves the commands and the state at
// /org/brightfold/Vell. Only the user's own session reaches it. Without a
// bus it serves nothing and says so in the log once. Main thread only.
class DBusControlService : public QObject
{
    Q_OBJECT

public:
    static inline const QString kServiceName = QStringLiteral("org.brightfold.Vell");
    static inline const QString kObjectPath = QStringLiteral("/org/brightfold/Vell");
    static inline const QString kInterface = QStringLiteral("org.brightfold.Vell.Control");
    static inline const QString kRefusedError = QStringLiteral("org.brightfold.Vell.Error.Refused");
    static constexpr std::chrono::milliseconds kAnnouncementDelay{16};

    explicit DBusControlService(DictationCommands& commands, QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
    ~DBusControlService() override;

    // The name is ours and the object is served.
    bool isServing() const { return m_serving; }

private:
    void announceChanges();
    void sendAnnouncements();

    DictationCommands& m_commands;
    QDBusConnection m_bus;
    bool m_serving = false;
    QVariantMap m_announced;
    QList<QDBusMessage> m_unsent;
    QTimer m_sendTimer;
};
