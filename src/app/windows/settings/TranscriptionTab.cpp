#include "app/windows/settings/TranscriptionTab.h"

#include "app/widgets/WindowStyle.h"
#include "app/windows/settings/KeyRow.h"
#include "app/windows/settings/KeyringLockNote.h"
#include "app/windows/settings/WebLinks.h"
#include "control/DictationController.h"
#include "storage/AppSettings.h"
#include "storage/KeyStore.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

KeyRow* keyRowFor(TranscriptionProvider provider, KeyService service, DictationController& controller, QWidget* parent)
{
    AppSettings& settings = controller.settings();
    auto* row = new KeyRow(
        QStringLiteral("API key"), service, controller.keyChecks(),
        [&settings, provider] { return settings.apiKey(provider); },
        [&settings, provider](const QString& key) { settings.setAPIKey(key, provider); }, {}, parent);
    QObject::connect(&settings, &AppSettings::keysVersionChanged, row, &KeyRow::reload);
    return row;
}

} // namespace

TranscriptionTab::TranscriptionTab(const WindowServices& services, QWidget* parent)
    : QWidget(parent), m_services(services)
{
    DictationController& controller = m_services.controller;
    AppSettings& settings = controller.settings();

    auto* form = new QFormLayout(this);
    form->setContentsMargins(20, 18, 20, 18);
    form->setVerticalSpacing(12);
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);

    m_provider = new QComboBox(this);
    for (TranscriptionProvider provider : TranscriptionProviders::all())
        m_provider->addItem(TranscriptionProviders::title(provider), int(provider));
    form->addRow(QStringLiteral("Provider"), m_provider);

    m_assemblyAI = keyRowFor(TranscriptionProvider::assemblyAI, KeyService::assemblyAI, controller, this);
    m_soniox = keyRowFor(TranscriptionProvider::soniox, KeyService::soniox, controller, this);
    m_assemblyAILink = WindowStyle::link(QStringLiteral("Get an API key"), WebLinks::keyPage(KeyService::assemblyAI),
                                         m_services.openUrl, this);
    m_sonioxLink = WindowStyle::link(QStringLiteral("Get an API key"), WebLinks::keyPage(KeyService::soniox),
                                     m_services.openUrl, this);
    auto* keys = new QWidget(this);
    auto* keysLayout = new QVBoxLayout(keys);
    keysLayout->setContentsMargins(0, 0, 0, 0);
    keysLayout->setSpacing(3);
    keysLayout->addWidget(m_assemblyAI);
    keysLayout->addWidget(m_soniox);
    keysLayout->addWidget(m_assemblyAILink);
    keysLayout->addWidget(m_sonioxLink);
    if (m_services.keys) {
        m_lockNote = new KeyringLockNote(*m_services.keys, keys);
        keysLayout->addWidget(m_lockNote);
    }
    form->addRow(QStringLiteral("API key"), keys);
    m_keyLabel = form->labelForField(keys);

    m_language = new QComboBox(this);
    m_language->addItem(QStringLiteral("Automatic"));
    for (const AppSettings::Language& language : AppSettings::kLanguages)
        m_language->addItem(QString(language.name), QString(language.code));
    const std::optional<QString> pinned = settings.pinnedLanguage();
    m_language->setCurrentIndex(pinned ? qMax(0, m_language->findData(*pinned)) : 0);
    connect(m_language, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QVariant code = m_language->itemData(index);
        m_services.controller.settings().setPinnedLanguage(code.isValid() ? std::optional<QString>(code.toString())
                                                                          : std::nullopt);
    });
    form->addRow(QStringLiteral("Language"), m_language);

    m_help = WindowStyle::secondary(QString(), this);
    form->addRow(QString(), m_help);
    describeKeyStorage();
    if (m_services.keys)
        connect(m_services.keys, &KeyStore::locationChanged, this, &TranscriptionTab::describeKeyStorage);

    m_provider->setCurrentIndex(m_provider->findData(int(settings.provider())));
    connect(m_provider, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_services.controller.settings().setProvider(TranscriptionProvider(m_provider->itemData(index).toInt()));
    });
    connect(&settings, &AppSettings::providerChanged, this, &TranscriptionTab::showProvider);
    showProvider();
}

KeyRow* TranscriptionTab::keyRow() const
{
    switch (m_services.controller.settings().provider()) {
    case TranscriptionProvider::assemblyAI:
        return m_assemblyAI;
    case TranscriptionProvider::soniox:
        return m_soniox;
    case TranscriptionProvider::mock:
        return nullptr;
    }
    return nullptr;
}

void TranscriptionTab::showProvider()
{
    const TranscriptionProvider provider = m_services.controller.settings().provider();
    m_provider->setCurrentIndex(m_provider->findData(int(provider)));
    const bool assemblyAI = provider == TranscriptionProvider::assemblyAI;
    const bool soniox = provider == TranscriptionProvider::soniox;
    m_assemblyAI->setVisible(assemblyAI);
    m_assemblyAILink->setVisible(assemblyAI);
    m_soniox->setVisible(soniox);
    m_sonioxLink->setVisible(soniox);
    if (m_lockNote)
        m_lockNote->setAccount(assemblyAI || soniox ? TranscriptionProviders::rawValue(provider) : QString());
    m_assemblyAI->parentWidget()->setVisible(assemblyAI || soniox);
    if (m_keyLabel)
        m_keyLabel->setVisible(assemblyAI || soniox);
}

void TranscriptionTab::describeKeyStorage()
{
    const bool inFile = m_services.keys && m_services.keys->location() == KeyStore::Location::privateFile;
    const QString place = inFile ? QStringLiteral("a file only you can read, because no keyring answered")
                                 : m_services.words->keyStoreName;
    m_help->setText(QStringLiteral("The key is checked when you press Return or leave the field, and stored in %1. "
                                   "Automatic detects the language as you speak, including switching mid-sentence.")
                        .arg(place));
}
