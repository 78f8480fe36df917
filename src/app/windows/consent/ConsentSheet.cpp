#include "app/windows/consent/ConsentSheet.h"

#include "app/shell/ProductLinks.h"
#include "app/widgets/WindowStyle.h"
#include "app/windows/consent/VoicePath.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ConsentSheet::ConsentSheet(DictationController& controller, const PlatformVocabulary& words,
                           std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : QDialog(parent), m_controller(controller), m_settings(controller.settings()), m_decline(new QPushButton(this)),
      m_accept(new QPushButton(this))
{
    setWindowTitle(QStringLiteral("Where your voice goes"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 18);
    layout->setSpacing(10);
    layout->addWidget(WindowStyle::heading(QStringLiteral("Where your voice goes"), this));
    layout->addWidget(WindowStyle::paragraph(
        QStringLiteral("Vell has no servers and no accounts. Each dictation takes this path, using keys you own."),
        this));
    layout->addSpacing(4);
    layout->addWidget(new VoicePath(words, this));
    layout->addWidget(WindowStyle::link(QStringLiteral("Privacy policy"), ProductLinks::privacy(), openUrl, this));
    layout->addSpacing(6);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_decline);
    buttons->addWidget(m_accept);
    layout->addLayout(buttons);

    connect(m_decline, &QPushButton::clicked, this, [this] {
        if (m_settings.aiSharingAllowed())
            m_settings.setAiSharingAllowed(false);
        reject();
    });
    connect(m_accept, &QPushButton::clicked, this, [this] {
        if (!m_settings.aiSharingAllowed())
            m_settings.setAiSharingAllowed(true);
        accept();
    });
    connect(&m_settings, &AppSettings::aiSharingAllowedChanged, this, &ConsentSheet::refreshButtons);
    refreshButtons();
    setFixedWidth(440);
}

QList<QPushButton*> ConsentSheet::buttons() const
{
    return {m_decline, m_accept};
}

void ConsentSheet::refreshButtons()
{
    const bool allowed = m_settings.aiSharingAllowed();
    m_decline->setText(allowed ? QStringLiteral("Stop Sending") : QStringLiteral("Not Now"));
    m_accept->setText(allowed ? QStringLiteral("Done") : QStringLiteral("Allow"));
    m_accept->setDefault(true);
}

void ConsentSheet::done(int result)
{
    // Escape and the window's close button count as "Not Now" or "Done":
    // otherwise the sheet would come straight back.
    m_controller.setWantsConsent(false);
    QDialog::done(result);
}
