#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

// Reaches a running Vell's control interface over the session bus, for the
// `vell` commands. Main thread only.
class DBusControlClient : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        enum class Kind {
            done,       // the running Vell did it
            refused,    // it answered why not, in `message`
            notRunning, // no Vell answers on the bus
            failed,     // the bus failed otherwise; `message` says how
        };
        Kind kind = Kind::done;
        QString message;
    };

    struct Status
    {
        QString state;
        bool noticeShowing = false;
        QString lastOutcome;

        bool operator==(const Status&) const = default;
    };

    explicit DBusControlClient(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // Calls a method of the interface and waits for the answer.
    Reply call(const QString& method);
    // The state now; none when no Vell answers.
    std::optional<Status> status();

    // From here on, statusChanged() follows every change, and stopped() tells
    // when the running Vell went away (statusChanged() follows again once a
    // Vell is back). False without a bus.
    bool follow();

Q_SIGNALS:
    void statusChanged(const DBusControlClient::Status& status);
    void stopped();

private Q_SLOTS:
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void onOwnerChanged(const QString& newOwner);

    QDBusConnection m_bus;
    std::optional<Status> m_status;
};
