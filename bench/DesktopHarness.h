#pragma once

// What the benchmarks that start the real program share: waiting while the
// event loop runs, the tray host and the shortcut key on the X server, a
// process's processor time and context switches from /proc, and Vell itself
// in folders of its own.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace desktop {

using namespace std::chrono_literals;

constexpr uint8_t kRightAlt = 108; // Vell's default shortcut

inline void runEventLoopFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Whether `condition` came true within `limit`, checked every millisecond
// while this thread's event loop runs (a loopback server here must answer).
inline bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > limit.count())
            return false;
        runEventLoopFor(1ms);
    }
    return true;
}

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&free)>;

// A window's WM_CLASS, both parts joined by a NUL.
inline QByteArray windowClass(xcb_connection_t* connection, xcb_window_t window)
{
    const auto cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr), &free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

inline QList<xcb_window_t> children(xcb_connection_t* connection, xcb_window_t window)
{
    const ReplyPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr), &free);
    if (!tree)
        return {};
    const xcb_window_t* list = xcb_query_tree_children(tree.get());
    return QList<xcb_window_t>(list, list + xcb_query_tree_children_length(tree.get()));
}

inline bool isViewable(xcb_connection_t* connection, xcb_window_t window)
{
    const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr), &free);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// The tray host's panel window, found by its class (the window manager may
// have framed it).
inline std::optional<xcb_window_t> findTray(xcb_connection_t* connection, xcb_window_t parent)
{
    for (xcb_window_t window : children(connection, parent)) {
        if (windowClass(connection, window) == QByteArray("panel\0trayer\0", 13))
            return window;
        if (const std::optional<xcb_window_t> inside = findTray(connection, window))
            return inside;
    }
    return std::nullopt;
}

// Whether a window of Vell's is shown inside the tray.
inline bool trayShowsVell(xcb_connection_t* connection, xcb_window_t window)
{
    for (xcb_window_t child : children(connection, window)) {
        if (windowClass(connection, child).startsWith(QByteArray("vell\0", 5)) && isViewable(connection, child))
            return true;
        if (trayShowsVell(connection, child))
            return true;
    }
    return false;
}

// The X server with a tray host: the one already running (with-desktop
// --tray), or a trayer started here and ended by its pid.
class Desktop
{
public:
    Desktop()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        m_tray = findTray(m_connection, m_root);
        if (m_tray)
            return;
        m_trayer.start(QStringLiteral("trayer"),
                       {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                        QStringLiteral("--height"), QStringLiteral("24")});
        spinUntil([this] { return (m_tray = findTray(m_connection, m_root)).has_value(); }, 10s);
    }
    ~Desktop()
    {
        if (m_trayer.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_trayer.processId()), SIGTERM);
            m_trayer.waitForFinished(5000);
        }
        xcb_disconnect(m_connection);
    }

    bool hasTray() const { return m_tray.has_value(); }
    bool trayShowsVell() const { return m_tray && desktop::trayShowsVell(m_connection, *m_tray); }

    // Presses or releases a key as a keyboard would.
    void key(uint8_t code, bool down)
    {
        xcb_test_fake_input(m_connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, m_root, 0, 0,
                            0);
        xcb_flush(m_connection);
    }
    void shortcutKey(bool down) { key(kRightAlt, down); }

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    QProcess m_trayer;
    std::optional<xcb_window_t> m_tray;
};

// What a process has used so far, over all its threads.
struct ProcessLoad
{
    qint64 cpuNs = 0;           // time on a processor
    qint64 contextSwitches = 0; // voluntary and not

    static ProcessLoad of(qint64 pid)
    {
        ProcessLoad load;
        const QString tasks = QStringLiteral("/proc/%1/task/").arg(pid);
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile schedstat(tasks + task + QStringLiteral("/schedstat"));
            if (schedstat.open(QIODevice::ReadOnly))
                load.cpuNs += schedstat.readAll().split(' ').value(0).toLongLong();
            QFile status(tasks + task + QStringLiteral("/status"));
            if (!status.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.contains("ctxt_switches:"))
                    load.contextSwitches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        return load;
    }

    ProcessLoad operator-(const ProcessLoad& earlier) const
    {
        return {cpuNs - earlier.cpuNs, contextSwitches - earlier.contextSwitches};
    }
};

// Vell with the demo transcriber, in folders of its own that a benchmark may
// fill (preferences, data) before start().
class Vell
{
public:
    Vell()
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char* folder : {"config", "data", "state", "cache"}) {
            const QString path = m_home.filePath(QString::fromLatin1(folder));
            QDir().mkpath(path);
            m_environment.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(folder).toUpper()), path);
        }
        m_environment.insert(QStringLiteral("HOME"), m_home.path());
        setPreference(QStringLiteral("provider"), QStringLiteral("mock"));
        setPreference(QStringLiteral("macSetupDone"), true);
        m_process.setStandardErrorFile(m_home.filePath(QStringLiteral("vell.stderr")));
    }
    ~Vell() { stop(); }

    // Where history.json, usage.json and the private key file go; created 0700 as Vell would.
    QString dataFolder() const
    {
        const QString folder = m_home.filePath(QStringLiteral("data/Vell"));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return folder;
    }

    void setPreference(const QString& key, const QVariant& value)
    {
        QSettings preferences(m_home.filePath(QStringLiteral("config/Vell/Vell.conf")), QSettings::IniFormat);
        preferences.setValue(key, value);
    }
    void setEnvironment(const QString& name, const QString& value) { m_environment.insert(name, value); }

    void start()
    {
        m_process.setProcessEnvironment(m_environment);
        m_process.start(QStringLiteral(VELL_BINARY));
        m_process.waitForStarted(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    ProcessLoad load() const { return ProcessLoad::of(pid()); }

    double residentMb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        return -1;
    }

    QByteArray log() const
    {
        QFile log(m_home.filePath(QStringLiteral("state/Vell/debug.log")));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
    bool logContains(const char* text) const { return log().contains(text); }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QProcess m_process;
};

} // namespace desktop
