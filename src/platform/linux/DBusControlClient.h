#pragma once

#include "platform/ControlClient.h"

#include <QDBusConnection>
#include <QString>

#include <optional>

// The running Vell's control interface over the session bus.
class DBusControlClient final : public ControlClient
{
    Q_OBJECT

public:
    explicit DBusControlClient(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    Reply call(const QString& method) override;
    std::optional<Status> status() override;
    // False without a bus.
    bool follow() override;

private Q_SLOTS:
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void onOwnerChanged(const QString& newOwner);

    QDBusConnection m_bus;
    std::optional<Status> m_status;
};
