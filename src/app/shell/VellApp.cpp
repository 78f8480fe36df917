#include "app/shell/VellApp.h"

#include "app/panel/HUDPanel.h"
#include "app/shell/IdleWindowPresenter.h"
#include "app/shell/PlaceholderWindows.h"
#include "app/shell/RunningCopies.h"
#include "app/tray/TrayItem.h"
#include "platform/SecretStore.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"

#include <QSystemTrayIcon>
#include <QTimer>

VellApp::VellApp(const DictationPlatform& platform, AppearancePort& appearance, std::unique_ptr<SecretStore> secrets,
                 VellAppOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
    m_updater = std::make_unique<Updater>(m_options.openUrl);

    if (m_options.runningCopiesFolder) {
        m_copies = std::make_unique<RunningCopies>(*m_options.runningCopiesFolder);
        connect(m_copies.get(), &RunningCopies::quitRequested, this, &VellApp::quitRequested, Qt::QueuedConnection);
        m_copies->start();
    }

    // Crash reports come from the desktop's own crash handler (systemd-coredump,
    // apport); there is no in-process collector to register with.

    m_desktopSettings = std::make_unique<DesktopSettings>(platform.preferences, appearance);
    m_desktopSettings->applyAppearance();
    m_keys = std::make_unique<KeyStore>(std::move(secrets), m_options.keyFilePath);
    m_settings = std::make_unique<AppSettings>(platform.preferences, *m_keys);
    m_history = std::make_unique<HistoryStore>(m_options.controller.dataFolder, VellLog::history(), nullptr,
                                               m_options.controller.storedFileLoading);
    m_controller = std::make_unique<DictationController>(*m_settings, *m_desktopSettings, *m_history, platform,
                                                         m_options.controller);

    m_hud = std::make_unique<HUDPanel>(*m_controller);

    m_windows = m_options.makeWindows ? m_options.makeWindows(*this) : std::make_unique<PlaceholderWindows>();
    m_idleWindows = std::make_unique<IdleWindowPresenter>(*m_windows, *m_controller);
    m_trayItem = std::make_unique<TrayItem>(*m_controller, *m_windows, *m_updater, platform.clipboard,
                                            *m_options.controller.words);
    connect(m_trayItem.get(), &TrayItem::quitRequested, this, &VellApp::quitRequested, Qt::QueuedConnection);
    if (m_options.showTrayIcon) {
        m_trayItem->show();
        if (QSystemTrayIcon::isSystemTrayAvailable())
            VellLog::app().info(QStringLiteral("tray icon shown"));
        else
            VellLog::app().info(QStringLiteral("no system tray yet; the icon appears when one starts"));
        // A desktop may bring its tray up a little after the programs it starts.
        QTimer::singleShot(m_options.trayGrace, this, &VellApp::openSettingsWithoutTray);
    }

    connect(m_updater.get(), &Updater::failed, this,
            [this](const QUrl& url) { m_controller->notice().show(NoticeMessage::browserFailed(url.toString())); });
    // The refused dictation already said why; this is where the user can answer.
    connect(m_controller.get(), &DictationController::wantsConsentChanged, this, [this] {
        if (m_controller->wantsConsent())
            m_windows->showConsent();
    });

    m_launchCheck =
        std::make_unique<LaunchCheck>(*m_settings, *m_keys, platform.keyboardTap, platform.microphone, platform.audio,
                                      platform.preferences, *m_idleWindows, m_options.launchCheck);
    m_launchCheck->setKeyboardAccessRequired(m_options.keyboardAccessRequired);
    m_launchCheck->schedule();

    // What key bindings and status bars outside Vell ask for; a user's request,
    // so the windows open at once.
    DictationCommands::Hooks hooks;
    hooks.show = [this](DictationCommands::Window window) {
        switch (window) {
        case DictationCommands::Window::settings:
            m_windows->showSettings();
            break;
        case DictationCommands::Window::history:
            m_windows->showHistory();
            break;
        case DictationCommands::Window::setup:
            m_windows->showSetup();
            break;
        }
    };
    hooks.quit = [this] { QMetaObject::invokeMethod(this, &VellApp::quitRequested, Qt::QueuedConnection); };
    m_commands = std::make_unique<DictationCommands>(*m_controller, std::move(hooks));
}

VellApp::~VellApp() = default;

void VellApp::openSettingsWithoutTray()
{
    if (m_options.trayAvailable())
        return;
    VellLog::app().info(QStringLiteral("no system tray; opening the settings window"));
    m_idleWindows->showSettings();
}
