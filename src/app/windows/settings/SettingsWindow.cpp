#include "app/windows/settings/SettingsWindow.h"

#include "app/widgets/Symbols.h"
#include "app/widgets/WindowStyle.h"
#include "app/windows/consent/ConsentSheet.h"
#include "app/windows/settings/CleanupTab.h"
#include "app/windows/settings/DictionaryTab.h"
#include "app/windows/settings/GeneralTab.h"
#include "app/windows/settings/PermissionsBanner.h"
#include "app/windows/settings/PrivacyTab.h"
#include "app/windows/settings/TranscriptionTab.h"
#include "control/DictationController.h"

#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(const WindowServices& services, std::function<void()> openSetup, QWidget* parent)
    : QWidget(parent), m_services(services),
      m_permissions(services.keyboardTap, services.microphone, services.permissionPoll)
{
    setWindowTitle(QStringLiteral("Vell Settings"));

    m_banner = new PermissionsBanner(m_permissions, *m_services.words, m_services.openUrl, this);
    m_noTrayNote = WindowStyle::paragraph(
        QStringLiteral("This desktop shows no tray icon for Vell. To come back here, launch Vell again from the "
                       "applications menu."),
        this);
    m_noTrayNote->setVisible(!m_services.trayAvailable());
    m_tabs = new QTabWidget(this);
    m_general = new GeneralTab(m_services, std::move(openSetup));
    m_transcription = new TranscriptionTab(m_services);
    m_cleanup = new CleanupTab(m_services);
    m_dictionary = new DictionaryTab(m_services);
    m_privacy = new PrivacyTab(m_services);

    using Symbol = Symbols::Symbol;
    m_tabs->addTab(m_general, Symbols::icon(Symbol::gearshape), QStringLiteral("General"));
    m_tabs->addTab(m_transcription, Symbols::icon(Symbol::waveform), QStringLiteral("Transcription"));
    m_tabs->addTab(m_cleanup, Symbols::icon(Symbol::sparkles), QStringLiteral("AI Cleanup"));
    m_tabs->addTab(m_dictionary, Symbols::icon(Symbol::characterBook), QStringLiteral("Dictionary"));
    m_tabs->addTab(m_privacy, Symbols::icon(Symbol::checkmarkShield), QStringLiteral("Privacy"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(m_banner);
    layout->addWidget(m_noTrayNote);
    layout->addWidget(m_tabs, 1);

    connect(&m_services.controller, &DictationController::wantsConsentChanged, this,
            &SettingsWindow::presentConsentIfWanted);
    resize(660, 600);
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_permissions.setPolling(true);
    // Once the window is on screen, so the sheet has something to cover.
    QTimer::singleShot(0, this, &SettingsWindow::presentConsentIfWanted);
}

void SettingsWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_permissions.setPolling(false);
}

void SettingsWindow::presentConsentIfWanted()
{
    if (!m_services.controller.wantsConsent() || !isVisible())
        return;
    if (!m_consent) {
        auto* sheet = new ConsentSheet(m_services.controller, *m_services.words, m_services.openUrl, this);
        m_consent = sheet;
        connect(sheet, &QDialog::finished, this, [this, sheet] {
            if (m_consent == sheet)
                m_consent = nullptr;
            sheet->deleteLater();
        });
    }
    m_consent->show();
    m_consent->raise();
    m_consent->activateWindow();
}
