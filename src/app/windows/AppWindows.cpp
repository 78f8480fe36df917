#include "app/windows/AppWindows.h"

#include "app/windows/history/HistoryWindow.h"
#include "app/windows/history/UsageStatsView.h"
#include "app/windows/settings/SettingsWindow.h"
#include "app/windows/setup/SetupWindow.h"
#include "control/DictationController.h"

namespace {

template <typename Window, typename Make> Window* present(QPointer<Window>& slot, Make make)
{
    if (!slot) {
        slot = make();
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (slot->isMinimized())
        slot->showNormal();
    else
        slot->show();
    slot->raise();
    slot->activateWindow();
    return slot;
}

} // namespace

AppWindows::AppWindows(const WindowServices& services) : m_services(services) {}

AppWindows::~AppWindows()
{
    delete m_setup;
    delete m_settings;
    delete m_history;
    delete m_statistics;
}

void AppWindows::showSetup()
{
    present(m_setup, [this] { return new SetupWindow(m_services); });
}

void AppWindows::showSettings()
{
    present(m_settings, [this] { return new SettingsWindow(m_services, [this] { showSetup(); }); });
}

void AppWindows::showHistory()
{
    present(m_history, [this] { return new HistoryWindow(m_services); });
}

void AppWindows::showStatistics()
{
    present(m_statistics, [this] { return new UsageStatsView(m_services.controller.usage()); });
}

void AppWindows::showConsent()
{
    // The settings window presents the sheet for as long as it is wanted.
    if (!m_services.controller.wantsConsent())
        m_services.controller.setWantsConsent(true);
    showSettings();
}

SetupWindow* AppWindows::setupWindow() const
{
    return m_setup;
}

SettingsWindow* AppWindows::settingsWindow() const
{
    return m_settings;
}

HistoryWindow* AppWindows::historyWindow() const
{
    return m_history;
}

UsageStatsView* AppWindows::statisticsWindow() const
{
    return m_statistics;
}
