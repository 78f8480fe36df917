#include "storage/AppSettings.h"

#include "storage/KeyStore.h"
#include "storage/PreferenceValues.h"

#include <QSettings>

namespace {

const QString kProviderKey = QStringLiteral("provider");
const QString kPinnedLanguageKey = QStringLiteral("pinnedLanguage");
const QString kVocabularyKey = QStringLiteral("vocabulary");
const QString kCleanupEnabledKey = QStringLiteral("cleanupEnabled");
const QString kCleanupModelKey = QStringLiteral("cleanupModel");
const QString kAiSharingAllowedKey = QStringLiteral("aiSharingAllowed");
const QString kInteractionSoundsKey = QStringLiteral("interactionSounds");
const QString kPreferBuiltInMicKey = QStringLiteral("preferBuiltInMic");
const QString kHistoryRetentionKey = QStringLiteral("historyRetention");
const QString kDismissedSuggestionsKey = QStringLiteral("dismissedSuggestions");

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x0A: // line feed
    case 0x0B: // vertical tab
    case 0x0C: // form feed
    case 0x0D: // carriage return
    case 0x85: // next line
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

// An empty text is no choice at all.
std::optional<QString> nonEmpty(const std::optional<QString>& text)
{
    if (text && text->isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

const std::array<AppSettings::Language, 13> AppSettings::kLanguages{{
    {QLatin1String("en"), QLatin1String("English")},
    {QLatin1String("es"), QLatin1String("Spanish")},
    {QLatin1String("fr"), QLatin1String("French")},
    {QLatin1String("de"), QLatin1String("German")},
    {QLatin1String("it"), QLatin1String("Italian")},
    {QLatin1String("pt"), QLatin1String("Portuguese")},
    {QLatin1String("nl"), QLatin1String("Dutch")},
    {QLatin1String("ja"), QLatin1String("Japanese")},
    {QLatin1String("zh"), QLatin1String("Chinese")},
    {QLatin1String("ko"), QLatin1String("Korean")},
    {QLatin1String("hi"), QLatin1String("Hindi")},
    {QLatin1String("ar"), QLatin1String("Arabic")},
    {QLatin1String("ru"), QLatin1String("Russian")},
}};

AppSettings::AppSettings(QSettings& store, KeyStore& keys, QObject* parent)
    : QObject(parent), m_store(store), m_keys(keys)
{
    using namespace PreferenceValues;
    const auto text = [&store](const QString& key) { return toString(store.value(key)); };
    const auto flag = [&store](const QString& key, bool fallback) {
        return toBool(store.value(key)).value_or(fallback);
    };
    const auto list = [&store](const QString& key) { return toStringList(store.value(key)).value_or(QStringList()); };

    // A new user (or a name we do not know) gets the first real service, so
    // the first launch opens setup; the demo is one choice there, never a
    // silent default that would paste canned text into the user's document.
    m_provider = TranscriptionProviders::fromRawValue(text(kProviderKey).value_or(QString()))
                     .value_or(TranscriptionProvider::assemblyAI);
    m_pinnedLanguage = nonEmpty(text(kPinnedLanguageKey));
    m_vocabulary = list(kVocabularyKey);
    m_cleanupEnabled = flag(kCleanupEnabledKey, true);
    m_cleanupModel = text(kCleanupModelKey) == QStringLiteral("opus") ? CleanupModel::opus : CleanupModel::haiku;
    m_aiSharingAllowed = flag(kAiSharingAllowedKey, false);
    m_interactionSounds = flag(kInteractionSoundsKey, true);
    m_preferBuiltInMic = flag(kPreferBuiltInMicKey, false);
    m_historyRetention = historyRetentionFromRawValue(text(kHistoryRetentionKey).value_or(QString()))
                             .value_or(HistoryRetention::forever);
    m_dismissedSuggestions = list(kDismissedSuggestionsKey);

    // Keys read before the key store had loaded came back empty.
    connect(&m_keys, &KeyStore::keysLoaded, this, &AppSettings::bumpKeysVersion);
}

void AppSettings::setProvider(TranscriptionProvider provider)
{
    PreferenceValues::write(m_store, kProviderKey, TranscriptionProviders::rawValue(provider));
    if (provider == m_provider)
        return;
    m_provider = provider;
    Q_EMIT providerChanged(provider);
}

void AppSettings::setPinnedLanguage(const std::optional<QString>& language)
{
    const std::optional<QString> code = nonEmpty(language);
    if (code)
        PreferenceValues::write(m_store, kPinnedLanguageKey, *code);
    else
        PreferenceValues::remove(m_store, kPinnedLanguageKey);
    if (code == m_pinnedLanguage)
        return;
    m_pinnedLanguage = code;
    Q_EMIT pinnedLanguageChanged(code);
}

void AppSettings::setVocabulary(const QStringList& vocabulary)
{
    PreferenceValues::write(m_store, kVocabularyKey, vocabulary);
    if (vocabulary == m_vocabulary)
        return;
    m_vocabulary = vocabulary;
    Q_EMIT vocabularyChanged(vocabulary);
}

void AppSettings::setCleanupEnabled(bool enabled)
{
    PreferenceValues::write(m_store, kCleanupEnabledKey, enabled);
    if (enabled == m_cleanupEnabled)
        return;
    m_cleanupEnabled = enabled;
    Q_EMIT cleanupEnabledChanged(enabled);
}

void AppSettings::setCleanupModel(CleanupModel model)
{
    PreferenceValues::write(m_store, kCleanupModelKey, CleanupModels::rawValue(model));
    if (model == m_cleanupModel)
        return;
    m_cleanupModel = model;
    Q_EMIT cleanupModelChanged(model);
}

void AppSettings::setAiSharingAllowed(bool allowed)
{
    PreferenceValues::write(m_store, kAiSharingAllowedKey, allowed);
    if (allowed == m_aiSharingAllowed)
        return;
    m_aiSharingAllowed = allowed;
    Q_EMIT aiSharingAllowedChanged(allowed);
}

void AppSettings::setInteractionSounds(bool enabled)
{
    PreferenceValues::write(m_store, kInteractionSoundsKey, enabled);
    if (enabled == m_interactionSounds)
        return;
    m_interactionSounds = enabled;
    Q_EMIT interactionSoundsChanged(enabled);
}

void AppSettings::setPreferBuiltInMic(bool prefer)
{
    PreferenceValues::write(m_store, kPreferBuiltInMicKey, prefer);
    if (prefer == m_preferBuiltInMic)
        return;
    m_preferBuiltInMic = prefer;
    Q_EMIT preferBuiltInMicChanged(prefer);
}

void AppSettings::setHistoryRetention(HistoryRetention retention)
{
    PreferenceValues::write(m_store, kHistoryRetentionKey, toRawValue(retention));
    if (retention == m_historyRetention)
        return;
    m_historyRetention = retention;
    Q_EMIT historyRetentionChanged(retention);
}

void AppSettings::setDismissedSuggestions(const QStringList& suggestions)
{
    PreferenceValues::write(m_store, kDismissedSuggestionsKey, suggestions);
    if (suggestions == m_dismissedSuggestions)
        return;
    m_dismissedSuggestions = suggestions;
    Q_EMIT dismissedSuggestionsChanged(suggestions);
}

QString AppSettings::apiKey(TranscriptionProvider provider) const
{
    return m_keys.loadKey(TranscriptionProviders::rawValue(provider)).value_or(QString());
}

bool AppSettings::isAPIKeyLocked(TranscriptionProvider provider) const
{
    return m_keys.isLocked(TranscriptionProviders::rawValue(provider));
}

void AppSettings::setAPIKey(const QString& key, TranscriptionProvider provider)
{
    saveKey(key, TranscriptionProviders::rawValue(provider));
}

QString AppSettings::anthropicKey() const
{
    return m_keys.loadKey(kAnthropicAccount).value_or(QString());
}

void AppSettings::setAnthropicKey(const QString& key)
{
    saveKey(key, kAnthropicAccount);
}

void AppSettings::saveKey(const QString& key, const QString& account)
{
    m_keys.saveKey(key.trimmed(), account);
    bumpKeysVersion();
}

void AppSettings::bumpKeysVersion()
{
    ++m_keysVersion;
    Q_EMIT keysVersionChanged(m_keysVersion);
}

QStringList AppSettings::parseVocabulary(const QString& text)
{
    QStringList entries;
    qsizetype start = 0;
    const auto take = [&](qsizetype end) {
        qsizetype first = start;
        qsizetype last = end;
        while (first < last && isSpaceOrTab(text[first]))
            ++first;
        while (last > first && isSpaceOrTab(text[last - 1]))
            --last;
        if (last > first)
            entries.append(text.mid(first, last - first));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isLineBreak(text[i]))
            continue;
        take(i);
        start = i + 1;
    }
    take(text.size());
    return entries;
}
