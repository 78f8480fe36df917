#pragma once

#include "storage/HistoryRetention.h"
#include "text/CleanupModel.h"
#include "transcription/TranscriptionProvider.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <optional>

class KeyStore;
class QSettings;

// The platform-neutral preferences. Each field is read once from the
// preference store at construction, with its own fallback; every assignment
// writes the store at once, and the field's change signal fires only when the
// value differs. API keys go to the key store, never to the preferences.
// Main thread only.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TranscriptionProvider provider READ provider WRITE setProvider NOTIFY providerChanged)
    Q_PROPERTY(
        std::optional<QString> pinnedLanguage READ pinnedLanguage WRITE setPinnedLanguage NOTIFY pinnedLanguageChanged)
    Q_PROPERTY(QStringList vocabulary READ vocabulary WRITE setVocabulary NOTIFY vocabularyChanged)
    Q_PROPERTY(bool cleanupEnabled READ cleanupEnabled WRITE setCleanupEnabled NOTIFY cleanupEnabledChanged)
    Q_PROPERTY(CleanupModel cleanupModel READ cleanupModel WRITE setCleanupModel NOTIFY cleanupModelChanged)
    Q_PROPERTY(bool aiSharingAllowed READ aiSharingAllowed WRITE setAiSharingAllowed NOTIFY aiSharingAllowedChanged)
    Q_PROPERTY(bool interactionSounds READ interactionSounds WRITE setInteractionSounds NOTIFY interactionSoundsChanged)
    Q_PROPERTY(bool preferBuiltInMic READ preferBuiltInMic WRITE setPreferBuiltInMic NOTIFY preferBuiltInMicChanged)
    Q_PROPERTY(HistoryRetention historyRetention READ historyRetention WRITE setHistoryRetention NOTIFY
                   historyRetentionChanged)
    Q_PROPERTY(QStringList dismissedSuggestions READ dismissedSuggestions WRITE setDismissedSuggestions NOTIFY
                   dismissedSuggestionsChanged)
    Q_PROPERTY(int keysVersion READ keysVersion NOTIFY keysVersionChanged)

public:
    struct Language
    {
        QLatin1String code;
        QLatin1String name;
    };
    // The languages a dictation can be pinned to, in picker order (after "Automatic").
    static const std::array<Language, 13> kLanguages;

    static constexpr QLatin1String kAnthropicAccount{"anthropic"};

    // `store` and `keys` must outlive the settings.
    AppSettings(QSettings& store, KeyStore& keys, QObject* parent = nullptr);

    TranscriptionProvider provider() const { return m_provider; }
    void setProvider(TranscriptionProvider provider);

    // None: detect the language automatically.
    std::optional<QString> pinnedLanguage() const { return m_pinnedLanguage; }
    void setPinnedLanguage(const std::optional<QString>& language);

    QStringList vocabulary() const { return m_vocabulary; }
    void setVocabulary(const QStringList& vocabulary);

    bool cleanupEnabled() const { return m_cleanupEnabled; }
    void setCleanupEnabled(bool enabled);

    CleanupModel cleanupModel() const { return m_cleanupModel; }
    void setCleanupModel(CleanupModel model);

    bool aiSharingAllowed() const { return m_aiSharingAllowed; }
    void setAiSharingAllowed(bool allowed);

    bool interactionSounds() const { return m_interactionSounds; }
    void setInteractionSounds(bool enabled);

    bool preferBuiltInMic() const { return m_preferBuiltInMic; }
    void setPreferBuiltInMic(bool prefer);

    HistoryRetention historyRetention() const { return m_historyRetention; }
    void setHistoryRetention(HistoryRetention retention);

    QStringList dismissedSuggestions() const { return m_dismissedSuggestions; }
    void setDismissedSuggestions(const QStringList& suggestions);

    // Counts key saves (and the key store's first load) in this run, so views
    // that show keys know to read them again. Never stored.
    int keysVersion() const { return m_keysVersion; }

    // The stored key of a speech service; empty when none is stored.
    QString apiKey(TranscriptionProvider provider) const;
    // Trims white space and line breaks from both ends and saves; an empty key
    // removes the stored one.
    void setAPIKey(const QString& key, TranscriptionProvider provider);
    // Whether the service's key is kept in a keyring that is locked, so it
    // reads as empty until the user unlocks it.
    bool isAPIKeyLocked(TranscriptionProvider provider) const;
    QString anthropicKey() const;
    void setAnthropicKey(const QString& key);

    // The dictionary editor's text as a list: one entry per non-empty line,
    // spaces and tabs trimmed, order, repeats and case kept.
    static QStringList parseVocabulary(const QString& text);

Q_SIGNALS:
    void providerChanged(TranscriptionProvider provider);
    void pinnedLanguageChanged(const std::optional<QString>& language);
    void vocabularyChanged(const QStringList& vocabulary);
    void cleanupEnabledChanged(bool enabled);
    void cleanupModelChanged(CleanupModel model);
    void aiSharingAllowedChanged(bool allowed);
    void interactionSoundsChanged(bool enabled);
    void preferBuiltInMicChanged(bool prefer);
    void historyRetentionChanged(HistoryRetention retention);
    void dismissedSuggestionsChanged(const QStringList& suggestions);
    void keysVersionChanged(int version);

private:
    void saveKey(const QString& key, const QString& account);
    void bumpKeysVersion();

    QSettings& m_store;
    KeyStore& m_keys;

    TranscriptionProvider m_provider = TranscriptionProvider::assemblyAI;
    std::optional<QString> m_pinnedLanguage;
    QStringList m_vocabulary;
    bool m_cleanupEnabled = true;
    CleanupModel m_cleanupModel = CleanupModel::haiku;
    bool m_aiSharingAllowed = false;
    bool m_interactionSounds = true;
    bool m_preferBuiltInMic = false;
    HistoryRetention m_historyRetention = HistoryRetention::forever;
    QStringList m_dismissedSuggestions;
    int m_keysVersion = 0;
};
