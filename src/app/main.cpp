#include "app/shell/CommandLine.h"
#include "app/shell/PaletteAppearance.h"
#include "app/shell/RunningCopies.h"
#include "app/shell/VellApp.h"
#include "app/windows/AppWindows.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/CompositorWorkspace.h"
#include "platform/linux/DBusControlClient.h"
#include "platform/linux/DBusControlService.h"
#include "platform/linux/DesktopSession.h"
#include "platform/linux/EvdevKeyboardTap.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/LogindSessionEvents.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "platform/linux/PortalKeystrokePoster.h"
#include "platform/linux/PortalMicrophonePermission.h"
#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/PulseAudioBackend.h"
#include "platform/linux/PulseSoundPlayer.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/X11KeyboardTap.h"
#include "platform/linux/X11KeystrokePoster.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbConnection.h"
#include "platform/linux/wayland/ToplevelWorkspace.h"
#include "platform/linux/wayland/VirtualKeyboardPoster.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "platform/linux/wayland/WlrDataControlClipboard.h"
#include "storage/DebugLogFile.h"
#include "storage/DesktopSettings.h"
#include "storage/VellLog.h"

#include <QApplication>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QStandardPaths>

#include <memory>
#include <vector>

namespace {

int refuseToStart(const char* logLine, const char* sentence)
{
    VellLog::app().error(QString::fromLatin1(logLine));
    std::fputs(sentence, stderr);
    DebugLogFile::shared().flush();
    return 1;
}

// What the user runs to reach this Vell from a compositor binding: `vell`
// when that is this program, its full path otherwise.
QString vellCommand()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("vell"));
    const QString self = QCoreApplication::applicationFilePath();
    return !onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == QFileInfo(self).canonicalFilePath()
               ? QStringLiteral("vell")
               : self;
}

} // namespace

// Tells the desktop session apart, creates the Linux adapters that serve it
// and hands them to the application, which does everything else.
int main(int argc, char** argv)
{
    // `vell <command>` talks to the running copy and never starts a second one.
    if (CommandLine::isCommand(argc, argv))
        return CommandLine::run(argc, argv, VELL_VERSION, [] { return std::make_unique<DBusControlClient>(); });

    // The panel, the tray and the windows are X11 windows, through XWayland on
    // Wayland: there the panel stays on top without taking the focus, which a
    // native Wayland window cannot. Passed as an argument, so programs Vell
    // opens (a browser) still pick their own platform.
    std::vector<char*> arguments(argv, argv + argc);
    char platformOption[] = "-platform";
    char xcb[] = "xcb";
    const bool platformChosen = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (!platformChosen) {
        if (!XcbConnection::open()) {
            if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
                return refuseToStart("Wayland without XWayland; quitting",
                                     "Vell shows its panel and windows through XWayland, which this Wayland session "
                                     "doesn't offer: turn XWayland on in your compositor's settings.\n");
            return refuseToStart("No X display is reachable; quitting",
                                 "Vell needs a graphical desktop session, and no X display is reachable.\n");
        }
        arguments.push_back(platformOption);
        arguments.push_back(xcb);
    }
    arguments.push_back(nullptr);
    int argumentCount = int(arguments.size()) - 1;

    // Without a session bus, D-Bus clients would launch a stray one of their own
    // and wait for it; a bus address that fails at once keeps them quick.
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vell-no-session-bus");

    // Shared-memory painting makes every repaint wait for the X server to
    // let go of the last one, a round trip on the way from the release to
    // the paste; Vell's few small windows go as well over the socket. Unset
    // again so that programs Vell opens keep it.
    const bool sharedMemoryChosen = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (!sharedMemoryChosen)
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication application(argumentCount, arguments.data());
    if (!sharedMemoryChosen)
        qunsetenv("QT_XCB_NO_MITSHM");
    QCoreApplication::setOrganizationName(QStringLiteral("Vell"));
    QCoreApplication::setApplicationName(QStringLiteral("Vell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELL_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.brightfold.Vell"));
    QApplication::setQuitOnLastWindowClosed(false);

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &application, [](int signalNumber) {
        VellLog::app().info(QStringLiteral("Quitting on signal %1").arg(signalNumber));
        QCoreApplication::quit();
    });

    VellLog::app().info(QStringLiteral("Vell %1 starting").arg(QStringLiteral(VELL_VERSION)));

    DesktopSession::Facts facts = DesktopSession::Facts::fromEnvironment();
    std::unique_ptr<WaylandConnection> wayland;
    if (!facts.waylandDisplay.isEmpty() && !platformChosen)
        wayland = WaylandConnection::open();
    facts.waylandConnected = wayland != nullptr;
    if (wayland)
        facts.waylandGlobals = wayland->globals();
    const DesktopSession session = DesktopSession::detect(facts);

    QSettings preferences;
    PaletteAppearance appearance(application);
    PostedKeystrokes postedKeystrokes;
    LogindSessionEvents sessionEvents;
    PulseAudioBackend audio;
    AtspiAccessibility accessibility;
    PulseSoundPlayer soundPlayer;
    PortalMicrophonePermission microphone;
    QNetworkAccessManager network;

    // One adapter per port, for the session in front of us; where one cannot
    // start after all, the X11 one stands in, and the log says which served.
    DesktopSession::Adapters chosen = session.adapters();
    using Adapters = DesktopSession::Adapters;

    std::unique_ptr<KeyboardTap> keyboardTap;
    if (chosen.keyboard == Adapters::Keyboard::evdev)
        keyboardTap = std::make_unique<EvdevKeyboardTap>();
    else
        keyboardTap = std::make_unique<X11KeyboardTap>(postedKeystrokes);

    std::unique_ptr<KeystrokePoster> keystrokes;
    if (chosen.keystrokes == Adapters::Keystrokes::portal) {
        keystrokes = std::make_unique<PortalKeystrokePoster>(preferences);
    } else if (chosen.keystrokes == Adapters::Keystrokes::virtualKeyboard && wayland) {
        auto poster = std::make_unique<VirtualKeyboardPoster>(*wayland);
        if (poster->isAvailable())
            keystrokes = std::move(poster);
    }
    X11KeystrokePoster* x11Keystrokes = nullptr;
    if (!keystrokes) {
        auto poster = std::make_unique<X11KeystrokePoster>(postedKeystrokes);
        x11Keystrokes = poster.get();
        keystrokes = std::move(poster);
        chosen.keystrokes = Adapters::Keystrokes::xtest;
    }

    std::unique_ptr<Workspace> workspace;
    std::optional<CompositorWorkspace> ipc;
    switch (chosen.frontWindow) {
    case Adapters::FrontWindow::swayIpc:
        ipc = CompositorWorkspace::forSway();
        break;
    case Adapters::FrontWindow::hyprlandIpc:
        ipc = CompositorWorkspace::forHyprland();
        break;
    case Adapters::FrontWindow::foreignToplevel:
        if (wayland) {
            auto toplevels = std::make_unique<ToplevelWorkspace>(*wayland);
            if (toplevels->isAvailable())
                workspace = std::move(toplevels);
        }
        break;
    case Adapters::FrontWindow::accessibility:
        workspace = std::make_unique<AtspiWorkspace>(accessibility);
        break;
    case Adapters::FrontWindow::x11:
        break;
    }
    if (ipc)
        workspace = std::make_unique<CompositorWorkspace>(std::move(*ipc));
    if (!workspace) {
        workspace = std::make_unique<X11Workspace>();
        chosen.frontWindow = Adapters::FrontWindow::x11;
    }

    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<Clipboard> primarySelection;
    if (chosen.clipboard == Adapters::Clipboard::dataControl && wayland) {
        auto dataControl = std::make_unique<WlrDataControlClipboard>(*wayland);
        if (dataControl->isAvailable()) {
            clipboard = std::move(dataControl);
            auto primary =
                std::make_unique<WlrDataControlClipboard>(*wayland, WlrDataControlClipboard::Mode::primarySelection);
            if (primary->isAvailable())
                primarySelection = std::move(primary);
        }
    }
    if (!clipboard) {
        chosen.clipboard = Adapters::Clipboard::x11Selection;
        auto x11Clipboard = std::make_unique<X11Clipboard>();
        // The paste keys follow the clipboard's taking on its own connection,
        // with no round trip between them.
        if (x11Keystrokes)
            x11Keystrokes->sendPasteKeysOn(x11Clipboard->connectionForKeys());
        clipboard = std::move(x11Clipboard);
        primarySelection = std::make_unique<X11Clipboard>(X11Clipboard::Selection::primary);
    }
    VellLog::app().info(session.logLine());
    VellLog::app().info(chosen.logLine());

    const PlatformVocabulary& words =
        session.isWayland() ? PlatformVocabulary::forLinuxWayland() : PlatformVocabulary::native();
    const DictationPlatform platform{*keyboardTap, sessionEvents, audio,       *workspace,
                                     *clipboard,   accessibility, *keystrokes, soundPlayer,
                                     microphone,   network,       preferences, primarySelection.get()};
    VellAppOptions options;
    options.runningCopiesFolder = RunningCopies::defaultFolder();
    options.controller.words = &words;
    // The tray icon and the shortcut don't wait for a long history.
    options.controller.storedFileLoading = StoredFileLoading::inBackground;
    // Bindings in the compositor may be all there is; nothing here can see them.
    options.keyboardAccessRequired = !session.isWayland();
    std::optional<CompositorBindings::Compositor> compositor;
    if (session.swayIpc)
        compositor = CompositorBindings::Compositor::sway;
    else if (session.hyprlandIpc)
        compositor = CompositorBindings::Compositor::hyprland;
    const bool portalShortcut = chosen.portalShortcut;
    // Created once the app is; the windows ask it later, when they show.
    std::unique_ptr<PortalShortcut> globalShortcut;
    options.makeWindows = [&](VellApp& app) -> std::unique_ptr<WindowPresenter> {
        WindowServices services{app.controller(), *keyboardTap, microphone, *clipboard, preferences, &app.keys()};
        services.words = &words;
        services.compositor = compositor;
        services.vellCommand = vellCommand();
        if (portalShortcut)
            services.shortcutAdvice = [&globalShortcut](const Shortcut& shortcut) -> std::optional<QString> {
                if (globalShortcut && globalShortcut->state() == PortalShortcut::State::unavailable)
                    return globalShortcut->description();
                if (!preferredTrigger(shortcut))
                    return PortalShortcut::describe(PortalShortcut::State::modifierOnly);
                return std::nullopt;
            };
        return std::make_unique<AppWindows>(services);
    };
    VellApp app(platform, appearance, std::make_unique<LibsecretStore>(), std::move(options));
    QObject::connect(&app, &VellApp::quitRequested, &application, &QCoreApplication::quit);
    DBusControlService control(app.commands());

    if (portalShortcut) {
        globalShortcut = std::make_unique<PortalShortcut>(app.desktopSettings().shortcut());
        DictationController& controller = app.controller();
        QObject::connect(globalShortcut.get(), &PortalShortcut::pressed, &controller, [&controller] {
            controller.handle(HotkeyMonitor::Event::pressed, DictationController::EventSource::command);
        });
        QObject::connect(globalShortcut.get(), &PortalShortcut::released, &controller, [&controller] {
            controller.handle(HotkeyMonitor::Event::released, DictationController::EventSource::command);
        });
        QObject::connect(&app.desktopSettings(), &DesktopSettings::shortcutChanged, globalShortcut.get(),
                         &PortalShortcut::rebind);
        QObject::connect(globalShortcut.get(), &PortalShortcut::stateChanged, [](PortalShortcut::State state) {
            VellLog::hotkey().info(QStringLiteral("desktop shortcut: %1").arg(QVariant::fromValue(state).toString()));
        });
    }

    const int status = QCoreApplication::exec();
    VellLog::app().info(QStringLiteral("Vell quitting"));
    DebugLogFile::shared().flush();
    return status;
}
