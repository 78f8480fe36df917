// The application as a user meets it: how long from starting the program
// until its icon is in the tray, how much processor time it takes while
// idle, and how much memory it holds idle and while listening.
//
// Needs a desktop with a sound server; run it as
//   tests/support/with-pulseaudio tests/support/with-desktop build/bin/bench_AppShellBench
// It starts its own tray host (trayer) and ends everything it started by pid.
// Targets: under 300 ms to the icon, under 0.1 % of a core idle, under 60 MB
// resident.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <csignal>
#include <cstring>
#include <memory>

using namespace std::chrono;

namespace {

constexpr uint8_t kRightAlt = 108;

void runEventLoopFor(milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// A window's WM_CLASS, both parts joined by a NUL.
QByteArray windowClass(xcb_connection_t* connection, xcb_window_t window)
{
    const auto cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

QList<xcb_window_t> children(xcb_connection_t* connection, xcb_window_t window)
{
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr), &free);
    if (!tree)
        return {};
    const xcb_window_t* list = xcb_query_tree_children(tree.get());
    return QList<xcb_window_t>(list, list + xcb_query_tree_children_length(tree.get()));
}

bool isViewable(xcb_connection_t* connection, xcb_window_t window)
{
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr), &free);
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
}

// The tray host's panel window, found by its class (the window manager may
// have framed it).
std::optional<xcb_window_t> findTray(xcb_connection_t* connection, xcb_window_t parent)
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
bool trayShowsVell(xcb_connection_t* connection, xcb_window_t window)
{
    for (xcb_window_t child : children(connection, window)) {
        if (windowClass(connection, child).startsWith(QByteArray("vell\0", 5)) && isViewable(connection, child))
            return true;
        if (trayShowsVell(connection, child))
            return true;
    }
    return false;
}

struct Desktop
{
    Desktop()
    {
        connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection))
            return;
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"),
                    QStringLiteral("24")});
        QElapsedTimer waited;
        waited.start();
        while (!(trayWindow = findTray(connection, root)) && waited.elapsed() < 10000)
            runEventLoopFor(20ms);
    }
    ~Desktop()
    {
        if (tray.state() != QProcess::NotRunning) {
            ::kill(pid_t(tray.processId()), SIGTERM);
            tray.waitForFinished(5000);
        }
        xcb_disconnect(connection);
    }

    bool ready() const { return trayWindow.has_value(); }

    void key(bool down)
    {
        xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, kRightAlt, XCB_CURRENT_TIME, root, 0, 0,
                            0);
        xcb_flush(connection);
    }

    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    QProcess tray;
    std::optional<xcb_window_t> trayWindow;
};

// Vell with the demo transcriber, in folders of its own.
class Vell
{
public:
    Vell()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* folder : {"config", "data", "state", "cache"}) {
            const QString path = m_home.filePath(QString::fromLatin1(folder));
            QDir().mkpath(path);
            environment.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(folder).toUpper()), path);
        }
        environment.insert(QStringLiteral("HOME"), m_home.path());
        QSettings preferences(m_home.filePath(QStringLiteral("config/Vell/Vell.conf")), QSettings::IniFormat);
        preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
        preferences.setValue(QStringLiteral("macSetupDone"), true);
        preferences.sync();
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~Vell()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    void start() { m_process.start(QStringLiteral(VELL_BINARY)); }
    qint64 pid() const { return m_process.processId(); }

    // Time on a processor, all threads, in nanoseconds.
    qint64 cpuNs() const
    {
        qint64 total = 0;
        const QString tasks = QStringLiteral("/proc/%1/task").arg(pid());
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(tasks + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
            if (stat.open(QIODevice::ReadOnly))
                total += stat.readAll().split(' ').value(0).toLongLong();
        }
        return total;
    }

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

    bool logContains(const char* text) const
    {
        QFile log(m_home.filePath(QStringLiteral("state/Vell/debug.log")));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains(text);
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};

bool waitFor(const std::function<bool()>& condition, milliseconds limit, milliseconds step = 1ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > limit.count())
            return false;
        QThread::usleep(quint64(duration_cast<microseconds>(step).count()));
    }
    return true;
}

void BM_StartToTrayIcon(benchmark::State& state)
{
    Desktop desktop;
    if (!desktop.ready()) {
        state.SkipWithError("no tray host; run under with-desktop");
        return;
    }
    for (auto _ : state) {
        Vell vell;
        QElapsedTimer clock;
        clock.start();
        vell.start();
        const bool shown = waitFor([&] { return trayShowsVell(desktop.connection, *desktop.trayWindow); }, 10s);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (!shown) {
            state.SkipWithError("the icon never showed");
            return;
        }
        state.SetIterationTime(seconds);
        // The next copy would ask this one to quit; let it go first.
    }
}
BENCHMARK(BM_StartToTrayIcon)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_IdleAndListening(benchmark::State& state)
{
    Desktop desktop;
    if (!desktop.ready()) {
        state.SkipWithError("no tray host; run under with-desktop");
        return;
    }
    for (auto _ : state) {
        Vell vell;
        vell.start();
        if (!waitFor([&] { return vell.logContains("hotkey: Event tap installed"); }, 10s, 10ms)) {
            state.SkipWithError("Vell did not start");
            return;
        }
        runEventLoopFor(3s); // the launch check and the sound server's first answers
        const qint64 cpuBefore = vell.cpuNs();
        QElapsedTimer clock;
        clock.start();
        runEventLoopFor(60s);
        const double idleCpu = double(vell.cpuNs() - cpuBefore) / double(clock.nsecsElapsed()) * 100.0;
        const double idleRss = vell.residentMb();

        desktop.key(true);
        double listeningRss = 0;
        if (!waitFor([&] { return vell.logContains("dictation started"); }, 5s, 10ms)) {
            desktop.key(false);
            state.SkipWithError("the shortcut started no dictation");
            return;
        }
        for (int i = 0; i < 30; ++i) { // three seconds of dictation
            runEventLoopFor(100ms);
            listeningRss = std::max(listeningRss, vell.residentMb());
        }
        desktop.key(false);

        state.counters["idle_cpu_percent"] = idleCpu;
        state.counters["idle_rss_MB"] = idleRss;
        state.counters["listening_rss_MB"] = listeningRss;
    }
}
BENCHMARK(BM_IdleAndListening)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
