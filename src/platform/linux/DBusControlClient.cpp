#include "platform/linux/DBusControlClient.h"

#include "platform/linux/DBusControlService.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {

constexpr int kCallTimeoutMs = 10'000;
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

bool isNotRunning(const QString& errorName)
{
    return errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           errorName == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

void apply(DBusControlClient::Status& status, const QVariantMap& values)
{
    if (values.contains(QStringLiteral("State")))
        status.state = values.value(QStringLiteral("State")).toString();
    if (values.contains(QStringLiteral("NoticeShowing")))
        status.noticeShowing = values.value(QStringLiteral("NoticeShowing")).toBool();
    if (values.contains(QStringLiteral("LastOutcome")))
        status.lastOutcome = values.value(QStringLiteral("LastOutcome")).toString();
}

} // namespace

DBusControlClient::DBusControlClient(QDBusConnection bus, QObject* parent)
    : ControlClient(parent), m_bus(std::move(bus))
{}

DBusControlClient::Reply DBusControlClient::call(const QString& method)
{
    if (!m_bus.isConnected())
        return {Reply::Kind::notRunning, {}};
    const QDBusMessage message = QDBusMessage::createMethodCall(
        DBusControlService::kServiceName, DBusControlService::kObjectPath, DBusControlService::kInterface, method);
    const QDBusMessage answer = m_bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage)
        return {Reply::Kind::done, {}};
    if (answer.errorName() == DBusControlService::kRefusedError)
        return {Reply::Kind::refused, answer.errorMessage()};
    if (isNotRunning(answer.errorName()))
        return {Reply::Kind::notRunning, {}};
    return {Reply::Kind::failed, answer.errorMessage()};
}

std::optional<DBusControlClient::Status> DBusControlClient::status()
{
    if (!m_bus.isConnected())
        return std::nullopt;
    QDBusMessage message =
        QDBusMessage::createMethodCall(DBusControlService::kServiceName, DBusControlService::kObjectPath,
                                       kPropertiesInterface, QStringLiteral("GetAll"));
    message << DBusControlService::kInterface;
    const QDBusMessage answer = m_bus.call(message, QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return std::nullopt;
    Status status;
    apply(status, qdbus_cast<QVariantMap>(answer.arguments().constFirst()));
    return status;
}

bool DBusControlClient::follow()
{
    if (!m_bus.isConnected())
        return false;
    // Subscribed before reading, so no change falls between the two.
    m_bus.connect(DBusControlService::kServiceName, DBusControlService::kObjectPath, kPropertiesInterface,
                  QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    auto* watcher = new QDBusServiceWatcher(DBusControlService::kServiceName, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { onOwnerChanged(newOwner); });
    m_status = status();
    if (m_status)
        Q_EMIT statusChanged(*m_status);
    return true;
}

void DBusControlClient::onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                            const QStringList& invalidated)
{
    if (interface != DBusControlService::kInterface)
        return;
    if (!m_status || !invalidated.isEmpty()) {
        m_status = status();
        if (!m_status)
            return;
    }
    Status next = *m_status;
    apply(next, changed);
    m_status = next;
    Q_EMIT statusChanged(next);
}

void DBusControlClient::onOwnerChanged(const QString& newOwner)
{
    if (newOwner.isEmpty()) {
        m_status.reset();
        Q_EMIT stopped();
        return;
    }
    m_status = status();
    if (m_status)
        Q_EMIT statusChanged(*m_status);
}
