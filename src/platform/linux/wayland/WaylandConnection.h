#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>

class QSocketNotifier;
struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;

// A connection to the Wayland compositor, shared by the adapters that speak
// its protocols. Its events are dispatched on the main thread from the event
// loop; requests are flushed before the loop sleeps. Once the compositor goes
// away (or ends the connection over a protocol error) it stays disconnected,
// and the adapters answer false or nothing. Main thread only.
class WaylandConnection final : public QObject
{
    Q_OBJECT

public:
    struct Global
    {
        uint32_t name = 0;
        QString interface;
        uint32_t version = 0;
    };

    // The compositor at $WAYLAND_DISPLAY, or at `display` (a socket name in
    // $XDG_RUNTIME_DIR or an absolute path); none when none answers within
    // `timeout`.
    static std::unique_ptr<WaylandConnection> open(const QString& display = {},
                                                   std::chrono::milliseconds timeout = std::chrono::seconds(2));
    ~WaylandConnection() override;

    bool hasGlobal(const QString& interface) const;
    // The interfaces offered, in the compositor's order.
    QStringList globals() const;
    QList<Global> globalsWithVersions() const { return m_globals; }
    // The version offered of `interface`; 0 when it is not offered.
    uint32_t version(const QString& interface) const;

    // Binds the global of `interface` at the lower of its offered version
    // and `maxVersion`; null when it is not offered or the connection is gone.
    void* bind(const wl_interface& interface, uint32_t maxVersion);

    wl_display* display() const { return m_display; }
    // The first seat; null when the compositor offers none.
    wl_seat* seat() const { return m_seat; }
    bool isConnected() const;

    // Sends what is queued, then dispatches events until the compositor has
    // answered everything sent so far. False when it did not answer within
    // `timeout` or the connection is gone. Other events arriving meanwhile are
    // dispatched as usual.
    bool roundtrip(std::chrono::milliseconds timeout = std::chrono::seconds(1));
    // Sends what is queued without waiting; the rest goes when the socket drains.
    void flush();

Q_SIGNALS:
    // The compositor went away or ended the connection.
    void disconnected();

private:
    explicit WaylandConnection(wl_display* display);

    void readAndDispatch();
    // Reads what the socket holds without waiting, then dispatches.
    bool readAvailable();
    void checkError();

    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, uint32_t name);

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    QList<Global> m_globals;
    QSocketNotifier* m_readable = nullptr;
    QSocketNotifier* m_writable = nullptr;
    bool m_lost = false;
};
