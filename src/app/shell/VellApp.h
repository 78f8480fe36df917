#pragma once

#include "app/shell/LaunchCheck.h"
#include "app/shell/Updater.h"
#include "app/shell/WindowPresenter.h"
#include "control/DictationCommands.h"
#include "control/DictationController.h"
#include "storage/KeyStore.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppSettings;
class AppearancePort;
class HUDPanel;
class DesktopSettings;
class TrayItem;
class RunningCopies;
class SecretStore;
class VellApp;

// What tests and main() may choose; the defaults are the real thing.
struct VellAppOptions
{
    DictationControllerOptions controller;
    QString keyFilePath = KeyStore::defaultKeyFilePath();
    // Where running copies find each other; none leaves other copies alone.
    std::optional<QString> runningCopiesFolder;
    // The windows the menu and the launch check open; placeholders when unset.
    std::function<std::unique_ptr<WindowPresenter>(VellApp&)> makeWindows;
    Updater::Opener openUrl = Updater::desktopOpener();
    LaunchCheckTimings launchCheck;
    // Whether the launch check asks for keyboard access; not where the
    // compositor's bindings may bring the shortcut instead.
    bool keyboardAccessRequired = true;
    bool showTrayIcon = true;
    // Without a tray after this long, the settings window opens, so Vell can be reached at all.
    std::chrono::milliseconds trayGrace{5000};
    std::function<bool()> trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
};

// The application: creates, in order, the updater, then (after asking older
// copies to quit) the settings, the history and the dictation controller,
// then the heads-up panel and the tray item, and runs the launch check
// shortly after. Everything lives until the process ends. The platform
// services must outlive it. Main thread only.
class VellApp : public QObject
{
    Q_OBJECT

public:
    VellApp(const DictationPlatform& platform, AppearancePort& appearance, std::unique_ptr<SecretStore> secrets,
            VellAppOptions options = {}, QObject* parent = nullptr);
    ~VellApp() override;

    DictationController& controller() { return *m_controller; }
    Updater& updater() { return *m_updater; }
    HUDPanel& hud() { return *m_hud; }
    TrayItem& trayItem() { return *m_trayItem; }
    WindowPresenter& windows() { return *m_windows; }
    LaunchCheck& launchCheck() { return *m_launchCheck; }
    KeyStore& keys() { return *m_keys; }
    AppSettings& settings() { return *m_settings; }
    DesktopSettings& desktopSettings() { return *m_desktopSettings; }
    HistoryStore& history() { return *m_history; }
    DictationCommands& commands() { return *m_commands; }

Q_SIGNALS:
    // The user chose Quit, or a newer copy took over.
    void quitRequested();

private:
    // Where the desktop shows no tray, the settings window is the way in.
    void openSettingsWithoutTray();

    // In the order of creation, so they go in reverse: the windows before the
    // controller and stores they show.
    VellAppOptions m_options;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<RunningCopies> m_copies;
    std::unique_ptr<DesktopSettings> m_desktopSettings;
    std::unique_ptr<KeyStore> m_keys;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<HistoryStore> m_history;
    std::unique_ptr<DictationController> m_controller;
    std::unique_ptr<HUDPanel> m_hud;
    std::unique_ptr<WindowPresenter> m_windows;
    std::unique_ptr<WindowPresenter> m_idleWindows; // for the windows Vell opens by itself
    std::unique_ptr<TrayItem> m_trayItem;
    std::unique_ptr<LaunchCheck> m_launchCheck;
    std::unique_ptr<DictationCommands> m_commands;
};
