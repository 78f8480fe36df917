#include "platform/linux/PortalKeystrokePoster.h"

#include "platform/linux/X11KeyCodes.h"
#include "storage/VellLog.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QSettings>

#include <atomic>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kCancelledByUser = 1;
constexpr int kX11Offset = 8;

constexpr int kControlL = 0xffe3;
constexpr int kShiftL = 0xffe1;
constexpr int kInsert = 0xff63;
constexpr int kLowerV = 0x76;

// Request paths are made of a token of ours; one counter for every instance
// on a connection keeps them from meeting a request still in flight.
std::atomic<quint64> nextToken{0};

QString pathOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

PortalKeystrokePoster::PortalKeystrokePoster(QSettings& store, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_store(store), m_bus(bus)
{}

PortalKeystrokePoster::~PortalKeystrokePoster()
{
    unwatchRequest();
    closeSession();
}

void PortalKeystrokePoster::requestAccess()
{
    if (m_access == Access::asking || m_access == Access::granted)
        return;
    setAccess(Access::asking);
    if (!m_bus.isConnected()) {
        fail(QStringLiteral("no session bus"));
        return;
    }
    askVersion();
}

void PortalKeystrokePoster::setAccess(Access access)
{
    if (access == m_access)
        return;
    m_access = access;
    Q_EMIT accessChanged(access);
}

namespace {
constexpr char kDeclined[] = "the user said no";
} // namespace

void PortalKeystrokePoster::fail(const QString& why)
{
    // The user saying no is an answer, not a fault.
    const bool declined = why == QLatin1String(kDeclined);
    const QString line = QStringLiteral("The RemoteDesktop portal gave no keyboard: %1").arg(why);
    if (declined)
        VellLog::insert().info(line);
    else
        VellLog::insert().error(line);
    unwatchRequest();
    closeSession();
    m_step = Step::none;
    setAccess(Access::refused);
}

// Only portals of version 2 or later know persist_mode and restore tokens.
void PortalKeystrokePoster::askVersion()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (reply.isError()) {
            fail(reply.error().message());
            return;
        }
        m_version = reply.value().variant().toUInt();
        VellLog::insert().info(QStringLiteral("RemoteDesktop portal version %1").arg(m_version));
        createSession();
    });
}

void PortalKeystrokePoster::createSession()
{
    const QString token = QStringLiteral("vell_session_%1").arg(++nextToken);
    callWithRequest(Step::createSession, QStringLiteral("CreateSession"),
                    {QVariantMap{{QStringLiteral("session_handle_token"), token}}});
}

void PortalKeystrokePoster::selectDevices()
{
    QVariantMap options{{QStringLiteral("types"), kKeyboard}};
    if (m_version >= 2) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString token = m_store.value(kRestoreTokenKey).toString();
        if (!token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
    }
    callWithRequest(Step::selectDevices, QStringLiteral("SelectDevices"),
                    {QVariant::fromValue(QDBusObjectPath(m_session)), options});
}

void PortalKeystrokePoster::start()
{
    callWithRequest(Step::start, QStringLiteral("Start"),
                    {QVariant::fromValue(QDBusObjectPath(m_session)), QString(), QVariantMap()});
}

void PortalKeystrokePoster::callWithRequest(Step step, const QString& method, QVariantList arguments)
{
    const QString token = QStringLiteral("vell_%1").arg(++nextToken);
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);

    // The Response may come before the call's reply: subscribe to the path the
    // portal will use first.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    m_step = step;
    watchRequest(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    call.setArguments(arguments);
    // The dialog waits for the user; the Response ends it, not the reply.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, method, step](QDBusPendingCallWatcher* pending) {
        pending->deleteLater();
        if (m_step != step)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *pending;
        if (reply.isError()) {
            fail(QStringLiteral("%1: %2").arg(method, reply.error().message()));
            return;
        }
        // Older portals named the request otherwise.
        if (reply.value().path() != m_request) {
            unwatchRequest();
            watchRequest(reply.value().path());
        }
    });
}

void PortalKeystrokePoster::watchRequest(const QString& path)
{
    m_request = path;
    m_bus.connect(kService, path, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void PortalKeystrokePoster::unwatchRequest()
{
    if (m_request.isEmpty())
        return;
    m_bus.disconnect(kService, m_request, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    m_request.clear();
}

void PortalKeystrokePoster::onResponse(uint code, const QVariantMap& results)
{
    if (m_request.isEmpty() || (calledFromDBus() && message().path() != m_request))
        return;
    unwatchRequest();
    const Step step = m_step;
    if (code != 0) {
        if (code == kCancelledByUser && step == Step::start)
            m_store.remove(kRestoreTokenKey);
        fail(code == kCancelledByUser ? QString::fromLatin1(kDeclined) : QStringLiteral("the portal failed"));
        return;
    }
    switch (step) {
    case Step::none:
        return;
    case Step::createSession:
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty()) {
            fail(QStringLiteral("no session handle"));
            return;
        }
        m_bus.connect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed(QVariantMap)));
        selectDevices();
        return;
    case Step::selectDevices:
        start();
        return;
    case Step::start:
        m_step = Step::none;
        // GNOME grants the session without the keyboard when "remote
        // interaction" is left unticked.
        if (!(results.value(QStringLiteral("devices")).toUInt() & kKeyboard)) {
            fail(QStringLiteral("the session has no keyboard (devices %1)")
                     .arg(results.value(QStringLiteral("devices")).toString()));
            return;
        }
        if (const QString token = results.value(QStringLiteral("restore_token")).toString(); !token.isEmpty())
            m_store.setValue(kRestoreTokenKey, token);
        VellLog::insert().info(QStringLiteral("The RemoteDesktop portal gave a keyboard"));
        setAccess(Access::granted);
        return;
    }
}

void PortalKeystrokePoster::onSessionClosed(const QVariantMap&)
{
    // A refused Start closes the session too, after its Response.
    if (m_session.isEmpty() || (calledFromDBus() && message().path() != m_session))
        return;
    VellLog::insert().info(QStringLiteral("The desktop closed the RemoteDesktop session"));
    m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap)));
    m_session.clear();
    m_step = Step::none;
    setAccess(Access::refused); // the desktop ended it
}

void PortalKeystrokePoster::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(kService, m_session, kSessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed(QVariantMap)));
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, QStringLiteral("Close")));
    m_session.clear();
}

bool PortalKeystrokePoster::postChord(ModifierKeys modifiers, quint16 keyCode)
{
    const std::optional<uint8_t> key = X11KeyCodes::fromModel(keyCode);
    if (m_access != Access::granted || !key || *key < kX11Offset)
        return false;
    std::vector<int> held;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (modifiers.intersects(kind.mask))
            held.push_back(X11KeyCodes::leftKeyOf(kind.kind) - kX11Offset);
    for (int modifier : held)
        sendKeycode(modifier, true);
    sendKeycode(*key - kX11Offset, true);
    sendKeycode(*key - kX11Offset, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        sendKeycode(*it, false);
    return true;
}

bool PortalKeystrokePoster::paste(PasteKeys keys)
{
    if (m_access != Access::granted)
        return false;
    std::vector<int> held;
    int key = kLowerV;
    switch (keys) {
    case PasteKeys::ctrlV:
        held = {kControlL};
        break;
    case PasteKeys::ctrlShiftV:
        held = {kControlL, kShiftL};
        break;
    case PasteKeys::shiftInsert:
        held = {kShiftL};
        key = kInsert;
        break;
    }
    for (int modifier : held)
        sendKeysym(modifier, true);
    sendKeysym(key, true);
    sendKeysym(key, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        sendKeysym(*it, false);
    return true;
}

void PortalKeystrokePoster::sendKeysym(int keysym, bool down)
{
    send(QStringLiteral("NotifyKeyboardKeysym"), keysym, down);
}

void PortalKeystrokePoster::sendKeycode(int evdevCode, bool down)
{
    send(QStringLiteral("NotifyKeyboardKeycode"), evdevCode, down);
}

// Each key goes once the previous one was handed on: sent all at once,
// mutter sometimes applies a modifier after the key it should hold.
void PortalKeystrokePoster::send(const QString& method, int key, bool down)
{
    m_queue.push_back({method, key, down});
    if (m_queue.size() == 1)
        sendFirst();
}

void PortalKeystrokePoster::sendFirst()
{
    if (m_queue.empty())
        return;
    const Key& next = m_queue.front();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, next.method);
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap() << next.key << uint(next.down ? 1 : 0);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* pending) {
        pending->deleteLater();
        if (pending->isError())
            VellLog::insert().error(QStringLiteral("%1: %2").arg(m_queue.front().method, pending->error().message()));
        m_queue.pop_front();
        sendFirst();
    });
}
