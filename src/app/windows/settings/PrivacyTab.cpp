#include "app/windows/settings/PrivacyTab.h"

#include "app/shell/ProductLinks.h"
#include "app/widgets/WindowStyle.h"
#include "app/windows/history/DeleteAllDialog.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QString retentionTitle(HistoryRetention retention)
{
    switch (retention) {
    case HistoryRetention::forever:
        return QStringLiteral("Forever");
    case HistoryRetention::month:
        return QStringLiteral("30 days");
    case HistoryRetention::week:
        return QStringLiteral("7 days");
    case HistoryRetention::never:
        return QStringLiteral("Don't keep");
    }
    return {};
}

void addSection(QFormLayout& form, const QString& title, QWidget* parent, bool first = false)
{
    if (!first)
        form.addItem(new QSpacerItem(0, 10));
    form.addRow(WindowStyle::heading(title, parent));
}

} // namespace

PrivacyTab::PrivacyTab(const WindowServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    AppSettings& settings = m_services.controller.settings();
    const PlatformVocabulary& words = *m_services.words;

    auto* form = new QFormLayout(this);
    form->setContentsMargins(20, 18, 20, 18);
    form->setVerticalSpacing(8);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    addSection(*form, QStringLiteral("History"), this, true);
    m_retention = new QComboBox(this);
    for (HistoryRetention retention : kAllHistoryRetentions)
        m_retention->addItem(retentionTitle(retention), int(retention));
    m_retention->setCurrentIndex(m_retention->findData(int(settings.historyRetention())));
    connect(m_retention, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.settings().setHistoryRetention(HistoryRetention(m_retention->itemData(index).toInt()));
    });
    connect(&settings, &AppSettings::historyRetentionChanged, this, [this](HistoryRetention retention) {
        m_retention->setCurrentIndex(m_retention->findData(int(retention)));
    });
    form->addRow(QStringLiteral("Keep dictations"),
                 WindowStyle::noted(m_retention, WindowStyle::secondary(QStringLiteral("Dictations are stored only "
                                                                                       "on %1. Vell has no servers "
                                                                                       "and no accounts.")
                                                                            .arg(words.thisComputer))));

    addSection(*form, QStringLiteral("AI services"), this);
    m_sharing = new QCheckBox(QStringLiteral("Send voice to AI services"), this);
    m_sharing->setChecked(settings.aiSharingAllowed());
    connect(m_sharing, &QCheckBox::toggled, this,
            [this](bool on) { m_services.controller.settings().setAiSharingAllowed(on); });
    connect(&settings, &AppSettings::aiSharingAllowedChanged, m_sharing, &QCheckBox::setChecked);
    form->addRow(WindowStyle::noted(m_sharing, WindowStyle::secondary(QStringLiteral(
                                                   "Needed for transcription and cleanup. Audio goes to your speech "
                                                   "service, text to Anthropic if cleanup is on."))));
    form->addRow(
        WindowStyle::link(QStringLiteral("Privacy policy"), ProductLinks::privacy(), m_services.openUrl, this));

    addSection(*form, QStringLiteral("Debug log"), this);
    form->addRow(WindowStyle::secondary(
        QStringLiteral("What Vell did and why, without your words. Attach it when you contact support."), this));
    m_revealLog = new QPushButton(words.revealInFileManager, this);
    m_revealLog->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_revealLog, &QPushButton::clicked, this, &PrivacyTab::revealDebugLog);
    form->addRow(m_revealLog);
    m_revealProblem = WindowStyle::paragraph(QString(), this);
    m_revealProblem->hide();
    form->addRow(m_revealProblem);

    form->addItem(new QSpacerItem(0, 14));
    m_deleteAll = new QPushButton(QStringLiteral("Delete All Dictations…"), this);
    m_deleteAll->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_deleteAll, &QPushButton::clicked, this, [this] {
        HistoryStore& history = m_services.controller.history();
        DeleteAllDialog::ask(
            *m_services.words, [&history] { history.clear(); }, this);
    });
    form->addRow(m_deleteAll);
}

void PrivacyTab::revealDebugLog()
{
    // The log may not have been written yet; the folder is where it will be.
    const QString folder = m_services.debugLogFolder;
    QDir().mkpath(folder);
    const bool opened = m_services.openUrl(QUrl::fromLocalFile(folder));
    m_revealProblem->setText(
        opened ? QString() : QStringLiteral("No file manager could open %1.").arg(QDir::toNativeSeparators(folder)));
    m_revealProblem->setVisible(!opened);
}
