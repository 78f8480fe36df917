#include "storage/AppSettings.h"

#include "fakes/FakeAppearance.h"
#include "fakes/FakeSecretStore.h"
#include "storage/DebugLogFile.h"
#include "storage/DesktopSettings.h"
#include "storage/KeyStore.h"

#include <QFile>
#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class SettingsTest : public ::testing::Test
{
protected:
    SettingsTest()
    {
        m_store = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
        auto secrets = std::make_unique<FakeSecretStore>();
        m_secrets = secrets.get();
        m_keys =
            std::make_unique<KeyStore>(std::move(secrets), m_dir.filePath(QStringLiteral("data/keys.json")), m_log);
    }

    // A store as the next start of the program sees it: parsed afresh from
    // the file on disk, not from this process's cache of it.
    QSettings& reopen()
    {
        m_store->sync();
        const QString copy = m_dir.filePath(QStringLiteral("Vell-%1.conf").arg(++m_generation));
        EXPECT_TRUE(QFile::copy(m_path, copy));
        m_store = std::make_unique<QSettings>(copy, QSettings::IniFormat);
        m_path = copy;
        return *m_store;
    }

    // Writes the preference file by hand, the way another program or an
    // older version might have left it.
    QSettings& storeWithText(const QByteArray& body)
    {
        QFile file(m_path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\n" + body + "\n");
        file.close();
        return reopen();
    }

    QString fileText() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral("Vell.conf"));
    int m_generation = 0;
    std::unique_ptr<QSettings> m_store;
    DebugLogFile m_logFile{m_dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog m_log{"keychain", &m_logFile};
    FakeSecretStore* m_secrets = nullptr;
    std::unique_ptr<KeyStore> m_keys;
    FakeAppearance m_appearance;
};

TEST_F(SettingsTest, AnEmptyStoreYieldsTheDefaults)
{
    AppSettings app(*m_store, *m_keys);
    EXPECT_EQ(app.provider(), TranscriptionProvider::assemblyAI);
    EXPECT_EQ(app.pinnedLanguage(), std::nullopt);
    EXPECT_TRUE(app.vocabulary().isEmpty());
    EXPECT_TRUE(app.cleanupEnabled());
    EXPECT_EQ(app.cleanupModel(), CleanupModel::haiku);
    EXPECT_FALSE(app.aiSharingAllowed());
    EXPECT_TRUE(app.interactionSounds());
    EXPECT_FALSE(app.preferBuiltInMic());
    EXPECT_EQ(app.historyRetention(), HistoryRetention::forever);
    EXPECT_TRUE(app.dismissedSuggestions().isEmpty());
    EXPECT_EQ(app.keysVersion(), 0);

    DesktopSettings desktop(*m_store, m_appearance);
    EXPECT_EQ(desktop.shortcut(), Shortcut::defaultShortcut());
    EXPECT_EQ(desktop.shortcut().modifiers.rawValue(), 8u);
    EXPECT_TRUE(desktop.shortcut().isModifierOnly());
    EXPECT_EQ(desktop.triggerMode(), TriggerMode::holdOrTap);
    EXPECT_EQ(desktop.appearance(), AppearanceSetting::system);
    EXPECT_EQ(desktop.inputDeviceUID(), std::nullopt);

    // Reading alone neither writes the store nor applies an appearance.
    EXPECT_TRUE(m_store->allKeys().isEmpty());
    EXPECT_TRUE(m_appearance.applied.isEmpty());
}

// What the program reads from a preference file as it lies on disk.
struct StoredValue
{
    const char* name;
    QByteArray line;
    std::function<void(const AppSettings&, const DesktopSettings&)> expect;

    friend void PrintTo(const StoredValue& value, std::ostream* out) { *out << value.line.toStdString(); }
};

class StoredValueTest : public SettingsTest, public ::testing::WithParamInterface<StoredValue>
{};

TEST_P(StoredValueTest, ReadsWithItsOwnFallback)
{
    QSettings& store = storeWithText(GetParam().line);
    const AppSettings app(store, *m_keys);
    const DesktopSettings desktop(store, m_appearance);
    GetParam().expect(app, desktop);
}

const StoredValue kStoredValues[] = {
    {"ModelOnlyOpusExactly", "cleanupModel=Opus",
     [](const AppSettings& app, const DesktopSettings&) { EXPECT_EQ(app.cleanupModel(), CleanupModel::haiku); }},
    {"UnknownProvider", "provider=deepgram",
     [](const AppSettings& app, const DesktopSettings&) {
         EXPECT_EQ(app.provider(), TranscriptionProvider::assemblyAI);
     }},
    {"UnknownRetention", "historyRetention=year",
     [](const AppSettings& app, const DesktopSettings&) {
         EXPECT_EQ(app.historyRetention(), HistoryRetention::forever);
     }},
    {"TextUnderTrueDefaultBoolean", "cleanupEnabled=no\ninteractionSounds=0",
     [](const AppSettings& app, const DesktopSettings&) {
         EXPECT_TRUE(app.cleanupEnabled());
         EXPECT_TRUE(app.interactionSounds());
     }},
    {"TextUnderFalseDefaultBoolean", "aiSharingAllowed=yes\npreferBuiltInMic=1",
     [](const AppSettings& app, const DesktopSettings&) {
         EXPECT_FALSE(app.aiSharingAllowed());
         EXPECT_FALSE(app.preferBuiltInMic());
     }},
    {"OneElementList", "vocabulary=Kubernetes\ndismissedSuggestions=teh",
     [](const AppSettings& app, const DesktopSettings&) {
         EXPECT_EQ(app.vocabulary(), QStringList{QStringLiteral("Kubernetes")});
         EXPECT_EQ(app.dismissedSuggestions(), QStringList{QStringLiteral("teh")});
     }},
    {"BlobUnderList", "vocabulary=@ByteArray(abc)",
     [](const AppSettings& app, const DesktopSettings&) { EXPECT_TRUE(app.vocabulary().isEmpty()); }},
    {"EmptyLanguageIsAutomatic", "pinnedLanguage=",
     [](const AppSettings& app, const DesktopSettings&) { EXPECT_EQ(app.pinnedLanguage(), std::nullopt); }},
    {"ListUnderLanguage", "pinnedLanguage=en, fr",
     [](const AppSettings& app, const DesktopSettings&) { EXPECT_EQ(app.pinnedLanguage(), std::nullopt); }},
    {"TextUnderShortcut", "shortcut={\\\"modifiers\\\":4}",
     [](const AppSettings&, const DesktopSettings& desktop) {
         EXPECT_EQ(desktop.shortcut(), Shortcut::defaultShortcut());
     }},
    {"UndecodableShortcut", "shortcut=@ByteArray({\\\"keyCode\\\":49})",
     [](const AppSettings&, const DesktopSettings& desktop) {
         EXPECT_EQ(desktop.shortcut(), Shortcut::defaultShortcut());
     }},
    {"UnknownTriggerAndAppearance", "triggerMode=Toggle\nappearance=purple",
     [](const AppSettings&, const DesktopSettings& desktop) {
         EXPECT_EQ(desktop.triggerMode(), TriggerMode::holdOrTap);
         EXPECT_EQ(desktop.appearance(), AppearanceSetting::system);
     }},
};

INSTANTIATE_TEST_SUITE_P(Settings, StoredValueTest, ::testing::ValuesIn(kStoredValues),
                         [](const auto& info) { return std::string(info.param.name); });

// One assignable property: its key, a value equal to the default and another one.
struct Field
{
    const char* property;
    const char* key;
    QVariant same;
    QVariant other;
    bool sameIsStored = true; // false where the default is "none", which removes the key

    friend void PrintTo(const Field& field, std::ostream* out) { *out << field.property; }
};

class FieldTest : public SettingsTest, public ::testing::WithParamInterface<Field>
{};

TEST_P(FieldTest, WritesThroughAlwaysAndSignalsOnlyAChange)
{
    AppSettings app(*m_store, *m_keys);
    DesktopSettings desktop(*m_store, m_appearance);
    QObject* object = app.metaObject()->indexOfProperty(GetParam().property) >= 0 ? static_cast<QObject*>(&app)
                                                                                  : static_cast<QObject*>(&desktop);
    const QMetaProperty property =
        object->metaObject()->property(object->metaObject()->indexOfProperty(GetParam().property));
    ASSERT_TRUE(property.isValid());
    QSignalSpy changes(object, property.notifySignal());
    const QString key = QString::fromLatin1(GetParam().key);

    // Equal to the current value: stored all the same, nobody told.
    ASSERT_TRUE(property.write(object, GetParam().same));
    EXPECT_EQ(changes.size(), 0);
    EXPECT_EQ(fileText().contains(key + QLatin1Char('=')), GetParam().sameIsStored) << fileText().toStdString();

    ASSERT_TRUE(property.write(object, GetParam().other));
    ASSERT_EQ(changes.size(), 1);
    EXPECT_EQ(property.read(object), GetParam().other);
    ASSERT_TRUE(property.write(object, GetParam().other));
    EXPECT_EQ(changes.size(), 1);

    // The next start reads back what was written.
    QSettings& next = reopen();
    AppSettings nextApp(next, *m_keys);
    DesktopSettings nextMac(next, m_appearance);
    QObject* nextObject = object == &app ? static_cast<QObject*>(&nextApp) : static_cast<QObject*>(&nextMac);
    EXPECT_EQ(property.read(nextObject), GetParam().other);
}

const Field kFields[] = {
    {"provider", "provider", QVariant::fromValue(TranscriptionProvider::assemblyAI),
     QVariant::fromValue(TranscriptionProvider::soniox)},
    {"pinnedLanguage", "pinnedLanguage", QVariant::fromValue(std::optional<QString>()),
     QVariant::fromValue(std::optional<QString>(QStringLiteral("ja"))), false},
    {"vocabulary", "vocabulary", QVariant(QStringList()), QVariant(QStringList{QStringLiteral("Vell")})},
    {"cleanupEnabled", "cleanupEnabled", QVariant(true), QVariant(false)},
    {"cleanupModel", "cleanupModel", QVariant::fromValue(CleanupModel::haiku), QVariant::fromValue(CleanupModel::opus)},
    {"aiSharingAllowed", "aiSharingAllowed", QVariant(false), QVariant(true)},
    {"interactionSounds", "interactionSounds", QVariant(true), QVariant(false)},
    {"preferBuiltInMic", "preferBuiltInMic", QVariant(false), QVariant(true)},
    {"historyRetention", "historyRetention", QVariant::fromValue(HistoryRetention::forever),
     QVariant::fromValue(HistoryRetention::week)},
    {"dismissedSuggestions", "dismissedSuggestions", QVariant(QStringList()),
     QVariant(QStringList{QStringLiteral("teh"), QStringLiteral("a, b")})},
    {"shortcut", "shortcut", QVariant::fromValue(Shortcut::defaultShortcut()),
     QVariant::fromValue(Shortcut{49, QStringLiteral("Space"), ModifierKeys::leftControl | ModifierKeys::leftShift})},
    {"triggerMode", "triggerMode", QVariant::fromValue(TriggerMode::holdOrTap), QVariant::fromValue(TriggerMode::hold)},
    {"appearance", "appearance", QVariant::fromValue(AppearanceSetting::system),
     QVariant::fromValue(AppearanceSetting::light)},
    {"inputDeviceUID", "inputDeviceUID", QVariant::fromValue(std::optional<QString>()),
     QVariant::fromValue(std::optional<QString>(QStringLiteral("mic-2"))), false},
};

INSTANTIATE_TEST_SUITE_P(Settings, FieldTest, ::testing::ValuesIn(kFields),
                         [](const auto& info) { return std::string(info.param.property); });

TEST_F(SettingsTest, OptionalFieldsSetToNoneRemoveTheirKeys)
{
    {
        AppSettings app(*m_store, *m_keys);
        DesktopSettings desktop(*m_store, m_appearance);
        app.setPinnedLanguage(QStringLiteral("de"));
        desktop.setInputDeviceUID(QStringLiteral("alsa_input.usb"));
        QSignalSpy languageChanges(&app, &AppSettings::pinnedLanguageChanged);
        app.setPinnedLanguage(std::nullopt);
        desktop.setInputDeviceUID(QString()); // an empty identifier names no device
        EXPECT_EQ(languageChanges.size(), 1);
        EXPECT_EQ(desktop.inputDeviceUID(), std::nullopt);
    }
    EXPECT_FALSE(fileText().contains(QStringLiteral("pinnedLanguage")));
    EXPECT_FALSE(fileText().contains(QStringLiteral("inputDeviceUID")));
    QSettings& next = reopen();
    EXPECT_EQ(AppSettings(next, *m_keys).pinnedLanguage(), std::nullopt);
}

TEST_F(SettingsTest, TheDefaultShortcutKeepsClearOfAltGrUntilOneIsStored)
{
    const Shortcut rightAlt{std::nullopt, std::nullopt, ModifierKeys::rightAlt};
    const Shortcut rightControl{std::nullopt, std::nullopt, ModifierKeys::rightControl};
    DesktopSettings desktop(*m_store, m_appearance);
    QSignalSpy changes(&desktop, &DesktopSettings::shortcutChanged);

    desktop.followLayout(ModifierKeys::rightAlt); // a layout with AltGr
    EXPECT_EQ(desktop.shortcut(), rightControl);
    desktop.followLayout({}); // back to US
    EXPECT_EQ(desktop.shortcut(), rightAlt);
    EXPECT_EQ(changes.size(), 2);
    EXPECT_TRUE(m_store->allKeys().isEmpty()) << "a default is never written";

    // A shortcut the user chose stays, whatever the layout, also after a restart.
    desktop.setShortcut(rightAlt);
    desktop.followLayout(ModifierKeys::rightAlt);
    EXPECT_EQ(desktop.shortcut(), rightAlt);
    DesktopSettings next(reopen(), m_appearance);
    next.followLayout(ModifierKeys::rightAlt);
    EXPECT_EQ(next.shortcut(), rightAlt);
}

TEST_F(SettingsTest, EveryAppearanceAssignmentIsApplied)
{
    DesktopSettings desktop(*m_store, m_appearance);
    desktop.applyAppearance();
    QSignalSpy changes(&desktop, &DesktopSettings::appearanceChanged);
    desktop.setAppearance(AppearanceSetting::dark);
    desktop.setAppearance(AppearanceSetting::dark);
    EXPECT_EQ(m_appearance.applied,
              (QList{AppearanceSetting::system, AppearanceSetting::dark, AppearanceSetting::dark}));
    EXPECT_EQ(changes.size(), 1);
}

TEST_F(SettingsTest, KeysAreTrimmedKeptOutOfThePreferencesAndCounted)
{
    AppSettings app(*m_store, *m_keys);
    ASSERT_TRUE(QSignalSpy(m_keys.get(), &KeyStore::keysLoaded).wait());
    const int loaded = app.keysVersion();
    QSignalSpy written(m_keys.get(), &KeyStore::keyWritten);

    app.setAPIKey(QStringLiteral(" sk-assembly-1234\n"), TranscriptionProvider::assemblyAI);
    EXPECT_EQ(app.keysVersion(), loaded + 1);
    EXPECT_EQ(app.apiKey(TranscriptionProvider::assemblyAI), QStringLiteral("sk-assembly-1234"));
    EXPECT_EQ(app.apiKey(TranscriptionProvider::mock), QString());

    app.setAnthropicKey(QStringLiteral("\tsk-ant-9876 \r\n"));
    EXPECT_EQ(app.keysVersion(), loaded + 2);
    EXPECT_EQ(app.anthropicKey(), QStringLiteral("sk-ant-9876"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return written.size() == 2; }));
    EXPECT_EQ(m_secrets->items().value(QStringLiteral("assemblyAI")), QByteArray("sk-assembly-1234"));
    EXPECT_EQ(m_secrets->items().value(QStringLiteral("anthropic")), QByteArray("sk-ant-9876"));
    m_store->sync();
    EXPECT_FALSE(fileText().contains(QStringLiteral("sk-")));

    // White space alone removes the key.
    app.setAPIKey(QStringLiteral("  \n"), TranscriptionProvider::assemblyAI);
    EXPECT_EQ(app.keysVersion(), loaded + 3);
    EXPECT_EQ(app.apiKey(TranscriptionProvider::assemblyAI), QString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return written.size() == 3; }));
    EXPECT_FALSE(m_secrets->items().contains(QStringLiteral("assemblyAI")));
}

TEST_F(SettingsTest, KeysLoadedAfterConstructionRaiseTheKeysVersion)
{
    auto secrets = std::make_unique<FakeSecretStore>();
    secrets->putItem(QStringLiteral("soniox"), "sk-soniox");
    secrets->hold(); // the credential store is slow to answer
    FakeSecretStore* fake = secrets.get();
    KeyStore keys(std::move(secrets), m_dir.filePath(QStringLiteral("data/other-keys.json")), m_log);
    AppSettings app(*m_store, keys);
    EXPECT_EQ(app.apiKey(TranscriptionProvider::soniox), QString());

    QSignalSpy versions(&app, &AppSettings::keysVersionChanged);
    fake->release();
    ASSERT_TRUE(versions.wait());
    EXPECT_EQ(app.keysVersion(), 1);
    EXPECT_EQ(app.apiKey(TranscriptionProvider::soniox), QStringLiteral("sk-soniox"));
}

TEST(ParseVocabulary, KeepsOneEntryPerNonEmptyLine)
{
    EXPECT_EQ(AppSettings::parseVocabulary(QStringLiteral(" Kubernetes \n\n\tPostgres\r\n")),
              (QStringList{QStringLiteral("Kubernetes"), QStringLiteral("Postgres")}));
    EXPECT_EQ(AppSettings::parseVocabulary(QStringLiteral("Vell\nvell\nVell")),
              (QStringList{QStringLiteral("Vell"), QStringLiteral("vell"), QStringLiteral("Vell")}));
    EXPECT_TRUE(AppSettings::parseVocabulary(QStringLiteral(" \t \r\n\r\n")).isEmpty());
    // Spaces inside an entry stay; non-breaking spaces at the ends go.
    EXPECT_EQ(AppSettings::parseVocabulary(QStringLiteral("\u00A0New York\u00A0")),
              QStringList{QStringLiteral("New York")});
}

TEST(ParseVocabulary, SplitsAtEveryKindOfLineBreak)
{
    const QString text = QStringLiteral("a\nb\u000Bc\u000Cd\re\r\nf\u0085g\u2028h\u2029i");
    EXPECT_EQ(AppSettings::parseVocabulary(text),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                           QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"),
                           QStringLiteral("i")}));
}

} // namespace
