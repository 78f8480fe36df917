#include "platform/linux/PortalGlobalShortcuts.h"

#include "shortcut/CompositorBindings.h"
#include "storage/VellLog.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QRandomGenerator>

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct ShortcutEntry
{
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutEntry& entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutEntry& entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(ShortcutEntry)

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

void registerTypes()
{
    static const bool registered = [] {
        // QtDBus finds a slot's argument types by name, so a type nothing has
        // used yet leaves the slot unconnected.
        qRegisterMetaType<QDBusObjectPath>();
        qDBusRegisterMetaType<ShortcutEntry>();
        qDBusRegisterMetaType<QList<ShortcutEntry>>();
        return true;
    }();
    Q_UNUSED(registered);
}

QString pathOf(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

std::optional<QString> preferredTrigger(const Shortcut& shortcut)
{
    if (shortcut.isModifierOnly())
        return std::nullopt;
    const std::optional<QString> key = CompositorBindings::keysymOf(shortcut);
    if (!key)
        return std::nullopt;
    static const char* const kNames[] = {"CTRL", "ALT", "SHIFT", "LOGO"};
    QStringList parts;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (shortcut.modifiers.intersects(kind.mask))
            parts << QLatin1String(kNames[int(kind.kind)]);
    parts << *key;
    return parts.join(QLatin1Char('+'));
}

PortalShortcut::PortalShortcut(const Shortcut& shortcut, QObject* parent)
    : PortalShortcut(shortcut, QDBusConnection::sessionBus(), parent)
{}

PortalShortcut::PortalShortcut(const Shortcut& shortcut, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus), m_shortcut(shortcut)
{
    registerTypes();
    // QtDBus connects bus signals by slot signature only.
    m_bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    m_bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    start();
}

PortalShortcut::~PortalShortcut()
{
    closeSession();
}

QString PortalShortcut::describe(State state)
{
    switch (state) {
    case State::starting:
        return QStringLiteral("Vell is asking your desktop to pass the shortcut on.");
    case State::bound:
        return QStringLiteral("Your desktop starts a dictation while you hold the shortcut.");
    case State::unavailable:
        return QStringLiteral(
            "Your desktop has no global shortcuts service, so bind a key to vell toggle in its keyboard settings.");
    case State::modifierOnly:
        return QStringLiteral(
            "A lone modifier can't be a desktop shortcut: record a combination such as Ctrl+Alt+Space.");
    case State::refused:
        return QStringLiteral("Your desktop did not allow Vell's shortcut; record it again to be asked once more.");
    case State::closed:
        return QStringLiteral("Your desktop stopped passing on Vell's shortcut; record it again to restore it.");
    case State::failed:
        return QStringLiteral("Your desktop's global shortcuts service could not bind the shortcut, so bind a key "
                              "to vell toggle in its keyboard settings.");
    }
    return {};
}

void PortalShortcut::rebind(const Shortcut& shortcut)
{
    if (shortcut == m_shortcut && m_state == State::bound)
        return;
    m_shortcut = shortcut;
    ++m_generation;
    closeSession();
    // A dictation held through the old session must not stay held.
    releaseIfDown();
    start();
}

void PortalShortcut::start()
{
    m_triggerDescription.clear();
    setState(State::starting);
    // A portal that was missing may have been installed or started since.
    if (m_offered != true)
        checkVersion();
    else if (m_shortcut.isModifierOnly())
        setState(State::modifierOnly);
    else
        createSession();
}

void PortalShortcut::checkVersion()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({kInterface, QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    const int generation = m_generation;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, generation](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (generation != m_generation)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *call;
        m_offered = !reply.isError() && reply.value().variant().toUInt() >= 1;
        if (!*m_offered) {
            VellLog::app().info(QStringLiteral("No GlobalShortcuts portal: %1").arg(reply.error().message()));
            setState(State::unavailable);
            return;
        }
        start();
    });
}

void PortalShortcut::createSession()
{
    const QString token =
        QStringLiteral("vell_session_%1_%2").arg(++m_tokens).arg(QRandomGenerator::global()->bounded(1u << 30));
    request(Step::createSession, QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), token}});
}

void PortalShortcut::bind()
{
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Dictate (hold)")}};
    // Without a preference the desktop asks the user for a trigger.
    if (const std::optional<QString> trigger = preferredTrigger(m_shortcut))
        properties.insert(QStringLiteral("preferred_trigger"), *trigger);
    const QList<ShortcutEntry> shortcuts{{kShortcutId, properties}};
    request(Step::bind, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {});
}

void PortalShortcut::request(Step step, const QString& method, QList<QVariant> arguments, QVariantMap options)
{
    const QString token =
        QStringLiteral("vell_%1_%2").arg(++m_tokens).arg(QRandomGenerator::global()->bounded(1u << 30));
    options.insert(QStringLiteral("handle_token"), token);
    // The Response may come before the call returns the request's path, so
    // listen on the path the portal derives from the token first.
    const QString sender = m_bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString predicted = QStringLiteral("%1/request/%2/%3").arg(kPortalPath, sender, token);
    const int generation = m_generation;
    listenOnRequest(predicted, step, generation);

    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kInterface, method);
    arguments << options;
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, predicted, step, generation, method](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *call;
                if (reply.isError()) {
                    forgetRequest(predicted);
                    VellLog::app().error(
                        QStringLiteral("GlobalShortcuts %1 failed: %2").arg(method, reply.error().message()));
                    if (generation == m_generation)
                        setState(State::failed);
                    return;
                }
                // An older portal picks a path of its own.
                const QString path = reply.value().path();
                if (path != predicted && m_requests.contains(predicted)) {
                    forgetRequest(predicted);
                    listenOnRequest(path, step, generation);
                }
            });
}

void PortalShortcut::listenOnRequest(const QString& path, Step step, int generation)
{
    m_requests.insert(path, {step, generation});
    m_bus.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalShortcut::forgetRequest(const QString& path)
{
    if (m_requests.remove(path))
        m_bus.disconnect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap, QDBusMessage)));
}

void PortalShortcut::onResponse(uint code, const QVariantMap& results, const QDBusMessage& message)
{
    const auto found = m_requests.constFind(message.path());
    if (found == m_requests.cend())
        return;
    const Pending pending = *found;
    forgetRequest(message.path());

    if (pending.generation != m_generation) {
        // A session made for a shortcut since replaced.
        if (pending.step == Step::createSession && code == 0) {
            const QString stale = pathOf(results.value(QStringLiteral("session_handle")));
            m_bus.send(
                QDBusMessage::createMethodCall(kPortalService, stale, kSessionInterface, QStringLiteral("Close")));
        }
        return;
    }
    if (code != 0) {
        VellLog::app().info(QStringLiteral("GlobalShortcuts request answered %1").arg(code));
        // 1: the user cancelled; 2: the desktop ended it otherwise.
        setState(code == 1 ? State::refused : State::failed);
        return;
    }
    if (pending.step == Step::createSession) {
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        m_bus.connect(kPortalService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QVariantMap, QDBusMessage)));
        bind();
        return;
    }
    const auto shortcuts = qdbus_cast<QList<ShortcutEntry>>(results.value(QStringLiteral("shortcuts")));
    for (const ShortcutEntry& entry : shortcuts) {
        if (entry.id != kShortcutId)
            continue;
        m_triggerDescription = entry.properties.value(QStringLiteral("trigger_description")).toString();
        setState(State::bound);
        return;
    }
    // The desktop kept the session but left the shortcut out.
    setState(State::refused);
}

void PortalShortcut::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
{
    if (session.path() != m_session || id != kShortcutId || m_down)
        return;
    m_down = true;
    Q_EMIT pressed();
}

void PortalShortcut::onDeactivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
{
    if (session.path() != m_session || id != kShortcutId)
        return;
    releaseIfDown();
}

void PortalShortcut::onSessionClosed(const QVariantMap&, const QDBusMessage& message)
{
    if (message.path() != m_session)
        return;
    m_bus.disconnect(kPortalService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap, QDBusMessage)));
    m_session.clear();
    releaseIfDown();
    setState(State::closed);
}

void PortalShortcut::closeSession()
{
    if (!m_session.isEmpty()) {
        m_bus.disconnect(kPortalService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed(QVariantMap, QDBusMessage)));
        m_bus.send(
            QDBusMessage::createMethodCall(kPortalService, m_session, kSessionInterface, QStringLiteral("Close")));
        m_session.clear();
    }
}

void PortalShortcut::releaseIfDown()
{
    if (!m_down)
        return;
    m_down = false;
    Q_EMIT released();
}

void PortalShortcut::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
