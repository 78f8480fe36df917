#include "platform/linux/DBusControlService.h"

#include "control/DictationCommands.h"
#include "storage/VellLog.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <utility>

namespace {

using Command = DictationCommands::Command;

// The interface as the bus sees it; QtDBus builds its introspection from
// these slots and properties, so they must match the contract file.
class ControlAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.brightfold.Vell.Control")
    Q_PROPERTY(QString State READ state)
    Q_PROPERTY(bool NoticeShowing READ noticeShowing)
    Q_PROPERTY(QString LastOutcome READ lastOutcome)

public:
    ControlAdaptor(DictationCommands& commands, QDBusConnection bus, QObject* parent)
        : QDBusAbstractAdaptor(parent), m_commands(commands), m_bus(std::move(bus))
    {}

    QString state() const { return m_commands.state(); }
    bool noticeShowing() const { return m_commands.isNoticeShowing(); }
    QString lastOutcome() const { return m_commands.lastOutcome(); }

public Q_SLOTS:
    void Toggle(const QDBusMessage& call) { run(Command::toggle, call); }
    void Start(const QDBusMessage& call) { run(Command::start, call); }
    void Stop(const QDBusMessage& call) { run(Command::stop, call); }
    void Cancel(const QDBusMessage& call) { run(Command::cancel, call); }
    void ShortcutPressed(const QDBusMessage& call) { run(Command::press, call); }
    void ShortcutReleased(const QDBusMessage& call) { run(Command::release, call); }
    void ShowSettings(const QDBusMessage& call) { run(Command::showSettings, call); }
    void ShowHistory(const QDBusMessage& call) { run(Command::showHistory, call); }
    void ShowSetup(const QDBusMessage& call) { run(Command::showSetup, call); }
    void Quit(const QDBusMessage& call) { run(Command::quit, call); }

private:
    void run(Command command, const QDBusMessage& call)
    {
        VellLog::app().info(QStringLiteral("control: %1 from the bus").arg(call.member()));
        const std::optional<QString> refusal = m_commands.run(command);
        if (!refusal)
            return; // the empty reply goes out by itself
        call.setDelayedReply(true);
        m_bus.send(call.createErrorReply(DBusControlService::kRefusedError, *refusal));
    }

    DictationCommands& m_commands;
    QDBusConnection m_bus;
};

} // namespace

DBusControlService::DBusControlService(DictationCommands& commands, QDBusConnection bus, QObject* parent)
    : QObject(parent), m_commands(commands), m_bus(std::move(bus))
{
    new ControlAdaptor(m_commands, m_bus, this);
    if (!m_bus.isConnected()) {
        VellLog::app().info(QStringLiteral("control: no session bus; `vell` commands can't reach this copy"));
        return;
    }
    if (!m_bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        VellLog::app().error(QStringLiteral("control: serving %1 failed").arg(kObjectPath));
        return;
    }
    // The newest copy takes the name over, as it takes over from older copies.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> registered = m_bus.interface()->registerService(
        kServiceName, QDBusConnectionInterface::ReplaceExistingService, QDBusConnectionInterface::AllowReplacement);
    if (!registered.isValid() || registered.value() == QDBusConnectionInterface::ServiceNotRegistered) {
        VellLog::app().error(QStringLiteral("control: the bus name %1 could not be taken").arg(kServiceName));
        m_bus.unregisterObject(kObjectPath);
        return;
    }
    m_serving = true;
    VellLog::app().info(QStringLiteral("control: serving %1 on the session bus").arg(kServiceName));

    m_sendTimer.setSingleShot(true);
    m_sendTimer.setInterval(kAnnouncementDelay);
    connect(&m_sendTimer, &QTimer::timeout, this, &DBusControlService::sendAnnouncements);
    m_announced = {{QStringLiteral("State"), m_commands.state()},
                   {QStringLiteral("NoticeShowing"), m_commands.isNoticeShowing()},
                   {QStringLiteral("LastOutcome"), m_commands.lastOutcome()}};
    connect(&m_commands, &DictationCommands::statusChanged, this, &DBusControlService::announceChanges);
}

DBusControlService::~DBusControlService()
{
    if (!m_serving)
        return;
    sendAnnouncements(); // the last state, as a copy that quits leaves it
    m_bus.unregisterObject(kObjectPath);
    m_bus.interface()->unregisterService(kServiceName);
}

void DBusControlService::announceChanges()
{
    const QVariantMap now = {{QStringLiteral("State"), m_commands.state()},
                             {QStringLiteral("NoticeShowing"), m_commands.isNoticeShowing()},
                             {QStringLiteral("LastOutcome"), m_commands.lastOutcome()}};
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    if (changed.isEmpty())
        return;
    m_announced = now;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kInterface << changed << QStringList();
    // Every change is told, in order, but a frame later: handing a message
    // to the bus wakes its thread and the bus, and a change comes on the way
    // to the service's answer and to the paste.
    m_unsent.append(signal);
    if (!m_sendTimer.isActive())
        m_sendTimer.start();
}

void DBusControlService::sendAnnouncements()
{
    for (const QDBusMessage& signal : std::exchange(m_unsent, {}))
        m_bus.send(signal);
}

#include "DBusControlService.moc"
