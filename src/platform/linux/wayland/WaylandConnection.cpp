#include "platform/linux/wayland/WaylandConnection.h"

#include "storage/VellLog.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline)
{
    return int(std::max<qint64>(0, std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

// Waits for `events` on the display's socket; false when the deadline passed first.
bool waitForSocket(wl_display* display, short events, Clock::time_point deadline)
{
    pollfd descriptor{wl_display_get_fd(display), events, 0};
    for (;;) {
        const int ready = ::poll(&descriptor, 1, millisecondsUntil(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const QString& display, std::chrono::milliseconds timeout)
{
    const QByteArray name = display.toLocal8Bit();
    wl_display* connected = wl_display_connect(display.isEmpty() ? nullptr : name.constData());
    if (!connected)
        return nullptr;
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(connected));
    connection->m_registry = wl_display_get_registry(connected);
    static const wl_registry_listener listener = {.global = &onGlobal, .global_remove = &onGlobalRemove};
    wl_registry_add_listener(connection->m_registry, &listener, connection.get());
    // The globals come before the answer; the seat is bound as it is announced.
    if (!connection->roundtrip(timeout))
        return nullptr;
    return connection;
}

WaylandConnection::WaylandConnection(wl_display* display) : m_display(display)
{
    const int fd = wl_display_get_fd(m_display);
    m_readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &WaylandConnection::readAndDispatch);
    m_writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &WaylandConnection::flush);
    // Requests made anywhere during an iteration leave before the loop sleeps.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &WaylandConnection::flush);
}

WaylandConnection::~WaylandConnection()
{
    delete m_readable;
    delete m_writable;
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_disconnect(m_display);
}

void WaylandConnection::onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                                 uint32_t version)
{
    auto* self = static_cast<WaylandConnection*>(data);
    self->m_globals.append({name, QString::fromUtf8(interface), version});
    // The seat's own events are not needed: version 1 and no listener.
    if (!self->m_seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        self->m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}

void WaylandConnection::onGlobalRemove(void* data, wl_registry*, uint32_t name)
{
    auto* self = static_cast<WaylandConnection*>(data);
    self->m_globals.removeIf([name](const Global& global) { return global.name == name; });
}

bool WaylandConnection::hasGlobal(const QString& interface) const
{
    return version(interface) != 0;
}

QStringList WaylandConnection::globals() const
{
    QStringList names;
    for (const Global& global : m_globals)
        names.append(global.interface);
    return names;
}

uint32_t WaylandConnection::version(const QString& interface) const
{
    for (const Global& global : m_globals)
        if (global.interface == interface)
            return global.version;
    return 0;
}

void* WaylandConnection::bind(const wl_interface& interface, uint32_t maxVersion)
{
    if (!isConnected())
        return nullptr;
    for (const Global& global : std::as_const(m_globals))
        if (global.interface == QLatin1String(interface.name))
            return wl_registry_bind(m_registry, global.name, &interface, std::min(global.version, maxVersion));
    return nullptr;
}

bool WaylandConnection::isConnected() const
{
    return !m_lost && wl_display_get_error(m_display) == 0;
}

bool WaylandConnection::roundtrip(std::chrono::milliseconds timeout)
{
    if (!isConnected())
        return false;
    const Clock::time_point deadline = Clock::now() + timeout;
    bool answered = false;
    static const wl_callback_listener listener = {
        .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
    };
    wl_callback* callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &listener, &answered);
    while (!answered) {
        if (wl_display_dispatch_pending(m_display) < 0 || answered)
            break;
        if (wl_display_flush(m_display) < 0) {
            if (errno != EAGAIN || !waitForSocket(m_display, POLLOUT, deadline))
                break;
            continue;
        }
        if (wl_display_prepare_read(m_display) != 0)
            continue; // events queued meanwhile; dispatch them first
        if (!waitForSocket(m_display, POLLIN, deadline)) {
            wl_display_cancel_read(m_display);
            break;
        }
        if (wl_display_read_events(m_display) < 0)
            break;
    }
    // An answer that comes later goes to a destroyed proxy and is dropped.
    wl_callback_destroy(callback);
    checkError();
    return answered && isConnected();
}

void WaylandConnection::flush()
{
    if (m_lost)
        return;
    if (wl_display_flush(m_display) < 0 && errno == EAGAIN) {
        m_writable->setEnabled(true); // the socket is full; the rest goes when it drains
        return;
    }
    m_writable->setEnabled(false);
    checkError();
}

void WaylandConnection::readAndDispatch()
{
    if (m_lost)
        return;
    // Another reader (a roundtrip) may have taken the events already; reading
    // then finds nothing and does not wait.
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            checkError();
            return;
        }
    }
    if (wl_display_read_events(m_display) < 0) {
        checkError();
        return;
    }
    wl_display_dispatch_pending(m_display);
    flush();
}

void WaylandConnection::checkError()
{
    if (m_lost)
        return;
    const int error = wl_display_get_error(m_display);
    if (error == 0)
        return;
    m_lost = true;
    m_readable->setEnabled(false);
    m_writable->setEnabled(false);
    VellLog::insert().error(
        QStringLiteral("The Wayland connection ended: %1").arg(QString::fromLocal8Bit(strerror(error))));
    Q_EMIT disconnected();
}
