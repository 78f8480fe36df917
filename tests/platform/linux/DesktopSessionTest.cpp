#include "platform/linux/DesktopSession.h"

#include "platform/linux/CompositorWorkspace.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

using Kind = DesktopSession::Kind;
using Facts = DesktopSession::Facts;

Facts wayland(const QStringList& globals, const QString& currentDesktop = {})
{
    Facts facts;
    facts.waylandDisplay = QStringLiteral("wayland-1");
    facts.x11Display = QStringLiteral(":1");
    facts.waylandConnected = true;
    facts.waylandGlobals = globals;
    facts.currentDesktop = currentDesktop;
    return facts;
}

const QStringList kWlrootsGlobals{u"wl_seat"_qs, u"zwlr_data_control_manager_v1"_qs,
                                  u"zwp_virtual_keyboard_manager_v1"_qs, u"zwlr_layer_shell_v1"_qs};

TEST(DesktopSessionTest, EachSessionKindIsToldAndLoggedWithItsReason)
{
    Facts x11;
    x11.x11Display = QStringLiteral(":0");
    EXPECT_EQ(DesktopSession::detect(x11).kind, Kind::x11);
    EXPECT_EQ(DesktopSession::detect(Facts{}).kind, Kind::none);

    // WAYLAND_DISPLAY left over from another session, with no compositor behind it.
    Facts stale = x11;
    stale.waylandDisplay = QStringLiteral("wayland-0");
    const DesktopSession staleSession = DesktopSession::detect(stale);
    EXPECT_EQ(staleSession.kind, Kind::x11);
    EXPECT_EQ(staleSession.logLine(), u"session: X11, because no compositor answers on WAYLAND_DISPLAY"_qs);

    Facts sway = wayland(kWlrootsGlobals);
    sway.swaySocket = QStringLiteral("/run/user/1000/sway-ipc.sock");
    const DesktopSession swaySession = DesktopSession::detect(sway);
    EXPECT_EQ(swaySession.kind, Kind::wlroots);
    EXPECT_TRUE(swaySession.swayIpc && swaySession.virtualKeyboard && swaySession.dataControl);
    EXPECT_EQ(swaySession.logLine(), u"session: Wayland (wlroots), because SWAYSOCK is set; XWayland, sway IPC, "
                                     "virtual keyboard, data control"_qs);

    Facts hyprland = wayland(kWlrootsGlobals);
    hyprland.hyprlandSignature = QStringLiteral("abc_123");
    EXPECT_TRUE(DesktopSession::detect(hyprland).hyprlandIpc);
    EXPECT_EQ(DesktopSession::detect(hyprland).kind, Kind::wlroots);
    // river and others: no IPC Vell knows, but the wlroots protocols.
    EXPECT_EQ(DesktopSession::detect(wayland(kWlrootsGlobals)).kind, Kind::wlroots);

    const DesktopSession gnome = DesktopSession::detect(wayland({u"wl_seat"_qs}, u"ubuntu:GNOME"_qs));
    EXPECT_EQ(gnome.kind, Kind::gnome);
    EXPECT_FALSE(gnome.virtualKeyboard || gnome.dataControl);
    EXPECT_EQ(DesktopSession::detect(wayland({u"wl_seat"_qs, u"zwlr_data_control_manager_v1"_qs}, u"KDE"_qs)).kind,
              Kind::kde);
    Facts bare = wayland({u"wl_seat"_qs});
    bare.x11Display.clear();
    const DesktopSession bareSession = DesktopSession::detect(bare);
    EXPECT_EQ(bareSession.kind, Kind::otherWayland);
    EXPECT_FALSE(bareSession.xwayland);
}

TEST(DesktopSessionTest, EachSessionKindGetsTheAdaptersThatWorkThere)
{
    using Adapters = DesktopSession::Adapters;
    const auto adaptersOf = [](const Facts& facts) { return DesktopSession::detect(facts).adapters(); };

    Facts x11;
    x11.x11Display = QStringLiteral(":0");
    EXPECT_EQ(adaptersOf(x11), Adapters{});
    EXPECT_EQ(Adapters{}.logLine(), u"adapters: keyboard X11, keystrokes XTest, front window X11, clipboard X11 "
                                    "selection"_qs);

    Facts sway = wayland(kWlrootsGlobals);
    sway.swaySocket = QStringLiteral("/run/user/1000/sway-ipc.sock");
    EXPECT_EQ(adaptersOf(sway), (Adapters{Adapters::Keyboard::evdev, Adapters::Keystrokes::virtualKeyboard,
                                          Adapters::FrontWindow::swayIpc, Adapters::Clipboard::dataControl, false}));
    Facts hyprland = wayland(kWlrootsGlobals);
    hyprland.hyprlandSignature = QStringLiteral("abc");
    EXPECT_EQ(adaptersOf(hyprland).frontWindow, Adapters::FrontWindow::hyprlandIpc);
    // Without an IPC the window in front has a name but no process.
    EXPECT_EQ(adaptersOf(wayland(kWlrootsGlobals)).frontWindow, Adapters::FrontWindow::foreignToplevel);

    const Adapters gnome = adaptersOf(wayland({u"wl_seat"_qs}, u"GNOME"_qs));
    EXPECT_EQ(gnome, (Adapters{Adapters::Keyboard::evdev, Adapters::Keystrokes::portal,
                               Adapters::FrontWindow::accessibility, Adapters::Clipboard::x11Selection, true}));
    EXPECT_EQ(gnome.logLine(), u"adapters: keyboard evdev, keystrokes RemoteDesktop portal, front window "
                               "accessibility bus, clipboard X11 selection, shortcut from the desktop portal"_qs);
    // KDE offers data control, and pastes through the portal like GNOME.
    const Adapters kde = adaptersOf(wayland({u"wl_seat"_qs, u"zwlr_data_control_manager_v1"_qs}, u"KDE"_qs));
    EXPECT_EQ(kde.clipboard, Adapters::Clipboard::dataControl);
    EXPECT_EQ(kde.keystrokes, Adapters::Keystrokes::portal);
    EXPECT_TRUE(kde.portalShortcut);
}

TEST(CompositorWorkspaceTest, TheFocusedWindowIsReadFromEitherCompositorsReply)
{
    // A trimmed get_tree: a native window, an X11 one through XWayland (floating), a workspace.
    const QByteArray tree = R"({"type":"root","nodes":[{"type":"output","nodes":[{"type":"workspace","name":"1",
        "nodes":[{"type":"con","focused":false,"pid":11,"app_id":"foot","name":"~ secret title"}],
        "floating_nodes":[{"type":"floating_con","focused":true,"pid":22,"app_id":null,"name":"doc",
        "window_properties":{"class":"Firefox-esr","instance":"Navigator"}}]}]}]})";
    const std::optional<RunningApplication> x11App = CompositorWorkspace::focusedInSwayTree(tree);
    ASSERT_TRUE(x11App);
    EXPECT_EQ(x11App->pid, 22);
    EXPECT_EQ(x11App->windowClass, u"Firefox-esr"_qs);
    EXPECT_EQ(x11App->name, u"Firefox-esr"_qs) << "a title carries the document's content";

    QByteArray native = tree;
    native.replace(R"("focused":false)", R"("focused":true)")
        .replace(R"("focused":true,"pid":22)", R"("focused":false,"pid":22)");
    EXPECT_EQ(CompositorWorkspace::focusedInSwayTree(native), (RunningApplication{11, u"foot"_qs, u"foot"_qs}));

    // An empty workspace has the focus: nobody to paste into.
    EXPECT_EQ(CompositorWorkspace::focusedInSwayTree(
                  R"({"nodes":[{"type":"workspace","focused":true,"name":"2","nodes":[]}]})"),
              std::nullopt);
    EXPECT_EQ(CompositorWorkspace::focusedInSwayTree("not json"), std::nullopt);

    EXPECT_EQ(CompositorWorkspace::activeHyprlandWindow(R"({"class":"kitty","title":"vim","pid":33})"),
              (RunningApplication{33, u"kitty"_qs, u"kitty"_qs}));
    EXPECT_EQ(CompositorWorkspace::activeHyprlandWindow("{}"), std::nullopt);
}

// A compositor IPC socket that answers the way sway or Hyprland frames it.
class IpcServer
{
public:
    explicit IpcServer(CompositorWorkspace::Ipc ipc, QByteArray payload, bool answers = true)
        : m_ipc(ipc), m_payload(std::move(payload)), m_answers(answers)
    {
        m_server.listen(m_dir.filePath(QStringLiteral("ipc.sock")));
        QObject::connect(&m_server, &QLocalServer::newConnection, [this] {
            QLocalSocket* client = m_server.nextPendingConnection();
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] { answer(client); });
        });
    }

    QString path() const { return m_server.fullServerName(); }
    QByteArray received() const { return m_received; }

private:
    void answer(QLocalSocket* client)
    {
        m_received += client->readAll();
        if (!m_answers)
            return;
        if (m_ipc == CompositorWorkspace::Ipc::hyprland) {
            client->write(m_payload);
            client->disconnectFromServer();
            return;
        }
        if (m_received.size() < 14)
            return;
        QByteArray reply("i3-ipc");
        const quint32 length = quint32(m_payload.size());
        const quint32 type = 4;
        reply.append(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<const char*>(&type), 4);
        // In two pieces, as a big tree arrives.
        client->write(reply + m_payload.left(10));
        client->flush();
        client->write(m_payload.mid(10));
    }

    QTemporaryDir m_dir;
    QLocalServer m_server;
    CompositorWorkspace::Ipc m_ipc;
    QByteArray m_payload;
    bool m_answers;
    QByteArray m_received;
};

// The socket is served from this thread, so each ask runs while the test
// thread waits: a helper thread asks instead.
std::optional<RunningApplication> askFromAnotherThread(CompositorWorkspace& workspace)
{
    std::optional<RunningApplication> answer;
    bool done = false;
    std::thread asker([&] {
        answer = workspace.frontmostApplication();
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
    asker.join();
    return answer;
}

TEST(CompositorWorkspaceTest, TheIpcIsFramedAsEachCompositorExpectsAndASilentOneIsLeftInTime)
{
    const QByteArray tree = R"({"nodes":[{"focused":true,"pid":44,"app_id":"org.gnome.TextEditor"}]})";
    IpcServer sway(CompositorWorkspace::Ipc::sway, tree);
    CompositorWorkspace swayWorkspace(CompositorWorkspace::Ipc::sway, sway.path());
    EXPECT_EQ(askFromAnotherThread(swayWorkspace),
              (RunningApplication{44, u"org.gnome.TextEditor"_qs, u"org.gnome.TextEditor"_qs}));
    QByteArray request("i3-ipc\0\0\0\0\4\0\0\0", 14);
    EXPECT_EQ(sway.received(), request);

    IpcServer hyprland(CompositorWorkspace::Ipc::hyprland, R"({"class":"firefox","pid":55})");
    CompositorWorkspace hyprlandWorkspace(CompositorWorkspace::Ipc::hyprland, hyprland.path());
    EXPECT_EQ(askFromAnotherThread(hyprlandWorkspace), (RunningApplication{55, u"firefox"_qs, u"firefox"_qs}));
    EXPECT_EQ(hyprland.received(), QByteArray("j/activewindow"));

    IpcServer silent(CompositorWorkspace::Ipc::sway, tree, false);
    CompositorWorkspace silentWorkspace(CompositorWorkspace::Ipc::sway, silent.path());
    EXPECT_EQ(askFromAnotherThread(silentWorkspace), std::nullopt);
    CompositorWorkspace gone(CompositorWorkspace::Ipc::sway, QStringLiteral("/nonexistent/sway.sock"));
    EXPECT_EQ(gone.frontmostApplication(), std::nullopt);
}

} // namespace
