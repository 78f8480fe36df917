#include "app/shell/CommandLine.h"
#include "app/shell/PaletteAppearance.h"
#include "app/shell/RunningCopies.h"
#include "app/shell/VellApp.h"
#include "app/windows/AppWindows.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/DBusControlService.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/LogindSessionEvents.h"
#include "platform/linux/PortalMicrophonePermission.h"
#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/PulseAudioBackend.h"
#include "platform/linux/PulseSoundPlayer.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11KeyboardTap.h"
#include "platform/linux/X11KeystrokePoster.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbConnection.h"
#include "storage/DebugLogFile.h"
#include "storage/VellLog.h"

#include <QApplication>
#include <QClipboard>
#include <QNetworkAccessManager>
#include <QSettings>

// Creates the Linux adapters of the platform services and hands them to the
// application, which does everything else.
int main(int argc, char** argv)
{
    // `vell <command>` talks to the running copy and never starts a second one.
    if (CommandLine::isCommand(argc, argv))
        return CommandLine::run(argc, argv, VELL_VERSION);

    // Vell pastes through the X server; without one there is nothing it can do.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !XcbConnection::open()) {
        VellLog::app().error(QStringLiteral("No X display is reachable; quitting"));
        std::fputs("Vell needs a graphical desktop session, and no X display is reachable.\n", stderr);
        DebugLogFile::shared().flush();
        return 1;
    }

    // Without a session bus, D-Bus clients would launch a stray one of their own
    // and wait for it; a bus address that fails at once keeps them quick.
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vell-no-session-bus");

    QApplication application(argc, argv);
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

    QSettings preferences;
    PaletteAppearance appearance(application);
    PostedKeystrokes postedKeystrokes;
    X11KeyboardTap keyboardTap(postedKeystrokes);
    LogindSessionEvents sessionEvents;
    PulseAudioBackend audio;
    X11Workspace workspace;
    QtClipboard clipboard(*QGuiApplication::clipboard());
    QtClipboard primarySelection(*QGuiApplication::clipboard(), QClipboard::Selection);
    AtspiAccessibility accessibility;
    X11KeystrokePoster keystrokes(postedKeystrokes);
    PulseSoundPlayer soundPlayer;
    PortalMicrophonePermission microphone;
    QNetworkAccessManager network;

    const DictationPlatform platform{
        keyboardTap, sessionEvents, audio,
        workspace,   clipboard,     accessibility,
        keystrokes,  soundPlayer,   microphone,
        network,     preferences,   QGuiApplication::clipboard()->supportsSelection() ? &primarySelection : nullptr};
    VellAppOptions options;
    options.runningCopiesFolder = RunningCopies::defaultFolder();
    options.makeWindows = [&](VellApp& app) -> std::unique_ptr<WindowPresenter> {
        return std::make_unique<AppWindows>(
            WindowServices{app.controller(), keyboardTap, microphone, clipboard, preferences, &app.keys()});
    };
    VellApp app(platform, appearance, std::make_unique<LibsecretStore>(), std::move(options));
    QObject::connect(&app, &VellApp::quitRequested, &application, &QCoreApplication::quit);
    DBusControlService control(app.commands());

    const int status = QCoreApplication::exec();
    VellLog::app().info(QStringLiteral("Vell quitting"));
    DebugLogFile::shared().flush();
    return status;
}
