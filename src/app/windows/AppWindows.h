#pragma once

#include "app/shell/WindowPresenter.h"
#include "app/windows/WindowServices.h"

#include <QPointer>

class HistoryWindow;
class SettingsWindow;
class SetupWindow;
class UsageStatsView;

// The setup, settings, history and statistics windows: each is created when
// it is opened, brought to the front when it is opened again, and deleted
// when the user closes it. Consent is asked in a sheet over the settings
// window. Owns the windows it makes; main thread only.
class AppWindows final : public WindowPresenter
{
public:
    explicit AppWindows(const WindowServices& services);
    ~AppWindows() override;
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    void showSetup() override;
    void showSettings() override;
    void showHistory() override;
    void showStatistics() override;
    // Opens the settings window with the consent sheet over it.
    void showConsent() override;

    // The open windows; none when closed.
    SetupWindow* setupWindow() const;
    SettingsWindow* settingsWindow() const;
    HistoryWindow* historyWindow() const;
    UsageStatsView* statisticsWindow() const;

private:
    WindowServices m_services;
    QPointer<SetupWindow> m_setup;
    QPointer<SettingsWindow> m_settings;
    QPointer<HistoryWindow> m_history;
    QPointer<UsageStatsView> m_statistics;
};
