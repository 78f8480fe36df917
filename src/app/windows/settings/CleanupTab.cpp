#include "app/windows/settings/CleanupTab.h"

#include "app/widgets/WindowStyle.h"
#include "app/windows/settings/KeyRow.h"
#include "app/windows/settings/KeyringLockNote.h"
#include "app/windows/settings/WebLinks.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>

CleanupTab::CleanupTab(const WindowServices& services, QWidget* parent) : QWidget(parent), m_services(services)
{
    DictationController& controller = m_services.controller;
    AppSettings& settings = controller.settings();

    auto* form = new QFormLayout(this);
    form->setContentsMargins(20, 18, 20, 18);
    form->setVerticalSpacing(12);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    m_enabled = new QCheckBox(QStringLiteral("Clean up with AI before pasting"), this);
    m_enabled->setChecked(settings.cleanupEnabled());
    connect(m_enabled, &QCheckBox::toggled, this,
            [this](bool on) { m_services.controller.settings().setCleanupEnabled(on); });
    connect(&settings, &AppSettings::cleanupEnabledChanged, m_enabled, &QCheckBox::setChecked);
    form->addRow(QString(), m_enabled);

    m_model = new QComboBox(this);
    for (CleanupModel model : {CleanupModel::haiku, CleanupModel::opus})
        m_model->addItem(CleanupModels::title(model), int(model));
    m_model->setCurrentIndex(m_model->findData(int(settings.cleanupModel())));
    connect(m_model, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.settings().setCleanupModel(CleanupModel(m_model->itemData(index).toInt()));
    });
    connect(&settings, &AppSettings::cleanupModelChanged, this,
            [this](CleanupModel model) { m_model->setCurrentIndex(m_model->findData(int(model))); });
    form->addRow(QStringLiteral("Model"), m_model);

    m_key = new KeyRow(
        QStringLiteral("Anthropic API key"), KeyService::anthropic, controller.keyChecks(),
        [&settings] { return settings.anthropicKey(); },
        [&settings](const QString& key) { settings.setAnthropicKey(key); }, {}, this);
    connect(&settings, &AppSettings::keysVersionChanged, m_key, &KeyRow::reload);
    form->addRow(m_key->title(), WindowStyle::noted(m_key, WindowStyle::link(QStringLiteral("Get an Anthropic API key"),
                                                                             WebLinks::keyPage(KeyService::anthropic),
                                                                             m_services.openUrl)));
    if (m_services.keys) {
        m_lockNote = new KeyringLockNote(*m_services.keys, this);
        m_lockNote->setAccount(KeyServices::rawValue(KeyService::anthropic));
        form->addRow(QString(), m_lockNote);
    }
    form->addRow(QString(),
                 WindowStyle::secondary(
                     QStringLiteral("Removes filler words, applies corrections like “at 3, no wait, 4”, fixes "
                                    "punctuation and formats lists. Adds a moment before the text is pasted. If it "
                                    "fails, the raw transcript is pasted, and History keeps both versions."),
                     this));
}
