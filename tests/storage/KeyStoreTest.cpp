#include "storage/KeyStore.h"

#include "fakes/FakeSecretStore.h"
#include "storage/DebugLogFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Status = SecretStore::Status;

const QFileDevice::Permissions kUserOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;

class KeyStoreTest : public ::testing::Test
{
protected:
    // A key store over a fresh fake credential store answering `status`,
    // its initial load finished.
    std::unique_ptr<KeyStore> start(Status status, const QHash<QString, QByteArray>& items = {})
    {
        auto secrets = std::make_unique<FakeSecretStore>();
        secrets->setStatus(status);
        for (auto it = items.begin(); it != items.end(); ++it)
            secrets->putItem(it.key(), it.value());
        m_secrets = secrets.get();
        auto keys = std::make_unique<KeyStore>(std::move(secrets), m_keyFile, m_log);
        QSignalSpy loaded(keys.get(), &KeyStore::keysLoaded);
        EXPECT_TRUE(loaded.wait());
        return keys;
    }

    static void save(KeyStore& keys, const QString& key, const QString& account)
    {
        QSignalSpy written(&keys, &KeyStore::keyWritten);
        keys.saveKey(key, account);
        ASSERT_TRUE(written.wait());
    }

    QJsonObject keyFileContents() const
    {
        QFile file(m_keyFile);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    QStringList logLines()
    {
        m_logFile.flush();
        QFile file(*m_logFile.path());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir m_dir;
    QString m_keyFile = m_dir.filePath(QStringLiteral("data/Vell/api-keys.json"));
    DebugLogFile m_logFile{m_dir.filePath(QStringLiteral("logs")), QStringLiteral("test")};
    VellLog m_log{"keychain", &m_logFile};
    FakeSecretStore* m_secrets = nullptr;
};

TEST_F(KeyStoreTest, WithoutASecretServiceKeysGoToAPrivateFileAndSurviveARestart)
{
    {
        auto keys = start(Status::noService);
        EXPECT_EQ(keys->location(), KeyStore::Location::privateFile);
        save(*keys, QStringLiteral("sk-soniox-secret"), QStringLiteral("soniox"));
        save(*keys, QStringLiteral("sk-ant-secret"), QStringLiteral("anthropic"));
        EXPECT_EQ(keys->loadKey(QStringLiteral("soniox")), QStringLiteral("sk-soniox-secret"));
    }

    // Only the user may read the file, or enter its folder.
    const QFileInfo file(m_keyFile);
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.permissions() & ~kUserOnly, QFileDevice::Permissions());
    EXPECT_EQ(QFileInfo(file.absolutePath()).permissions() & ~kUserOnly, QFileDevice::Permissions());
    EXPECT_TRUE(QFileInfo(file.absolutePath()).permissions().testFlag(QFileDevice::ExeOwner));

    auto keys = start(Status::noService);
    EXPECT_EQ(keys->loadKey(QStringLiteral("soniox")), QStringLiteral("sk-soniox-secret"));
    EXPECT_EQ(keys->loadKey(QStringLiteral("anthropic")), QStringLiteral("sk-ant-secret"));
    EXPECT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), std::nullopt);

    // Said once per run, and never with a key in it.
    const QStringList lines = logLines();
    EXPECT_EQ(lines.filter(QStringLiteral("No Secret Service answered")).size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("sk-")).isEmpty());
}

TEST_F(KeyStoreTest, AKeyTheKeyringRefusesIsKeptAndMovedThereLater)
{
    {
        auto keys = start(Status::locked);
        save(*keys, QStringLiteral("sk-soniox-secret"), QStringLiteral("soniox"));
        EXPECT_EQ(keys->location(), KeyStore::Location::privateFile);
        EXPECT_EQ(keyFileContents().value(QStringLiteral("soniox")).toString(), QStringLiteral("sk-soniox-secret"));
        const QStringList lines = logLines();
        EXPECT_EQ(
            lines
                .filter(
                    QStringLiteral("keychain: ERROR Saving soniox key failed: %1").arg(FakeSecretStore::kFailureCode))
                .size(),
            1)
            << lines.join(u'\n').toStdString();
        EXPECT_TRUE(lines.filter(QStringLiteral("sk-")).isEmpty());
    }

    // Unlocked at the next start, with an older key still in it.
    auto keys = start(Status::ok, {{QStringLiteral("soniox"), "sk-soniox-older"}});
    EXPECT_EQ(keys->loadKey(QStringLiteral("soniox")), QStringLiteral("sk-soniox-secret"));
    EXPECT_EQ(m_secrets->items().value(QStringLiteral("soniox")), QByteArray("sk-soniox-secret"));
    EXPECT_FALSE(QFileInfo::exists(m_keyFile));
    EXPECT_EQ(keys->location(), KeyStore::Location::keyring);
}

TEST_F(KeyStoreTest, ARemovalTheKeyringCouldNotTakeHidesItsOldCopy)
{
    {
        auto keys = start(Status::ok, {{QStringLiteral("assemblyAI"), "sk-old"}});
        ASSERT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), QStringLiteral("sk-old"));
        m_secrets->setStatus(Status::noService); // the keyring went away
        save(*keys, QString(), QStringLiteral("assemblyAI"));
        EXPECT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), std::nullopt);
    }

    auto keys = start(Status::ok, {{QStringLiteral("assemblyAI"), "sk-old"}});
    EXPECT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), std::nullopt);
    EXPECT_FALSE(m_secrets->items().contains(QStringLiteral("assemblyAI")));
    EXPECT_FALSE(QFileInfo::exists(m_keyFile));
}

TEST_F(KeyStoreTest, AKeyringThatAnswersKeepsKeysOutOfTheFile)
{
    auto keys = start(Status::ok);
    EXPECT_EQ(keys->location(), KeyStore::Location::keyring);
    save(*keys, QStringLiteral("sk-1"), QStringLiteral("mock"));
    EXPECT_EQ(m_secrets->items().value(QStringLiteral("mock")), QByteArray("sk-1"));
    EXPECT_FALSE(QFileInfo::exists(m_keyFile));

    // Saving an empty key deletes the item; nothing is left to load.
    save(*keys, QString(), QStringLiteral("mock"));
    EXPECT_TRUE(m_secrets->items().isEmpty());
    auto next = start(Status::ok);
    EXPECT_EQ(next->loadKey(QStringLiteral("mock")), std::nullopt);
}

TEST_F(KeyStoreTest, AStoredKeyThatIsNotUtf8ReadsAsNone)
{
    auto keys = start(Status::ok, {{QStringLiteral("soniox"), QByteArray("sk-\xff\xfe", 5)},
                                   {QStringLiteral("anthropic"), QByteArray("sk-caf\xc3\xa9")}});
    EXPECT_EQ(keys->loadKey(QStringLiteral("soniox")), std::nullopt);
    EXPECT_EQ(keys->loadKey(QStringLiteral("anthropic")), QStringLiteral("sk-caf\u00e9"));
}

TEST_F(KeyStoreTest, AStoreWaitingForAnUnlockPromptBlocksNeitherReadsNorSaves)
{
    auto secrets = std::make_unique<FakeSecretStore>();
    secrets->putItem(QStringLiteral("soniox"), "sk-before");
    secrets->hold();
    FakeSecretStore* fake = secrets.get();
    KeyStore keys(std::move(secrets), m_keyFile, m_log);
    QSignalSpy loaded(&keys, &KeyStore::keysLoaded);
    QSignalSpy written(&keys, &KeyStore::keyWritten);

    EXPECT_FALSE(keys.isLoaded());
    EXPECT_EQ(keys.loadKey(QStringLiteral("soniox")), std::nullopt);
    keys.saveKey(QStringLiteral("sk-typed-meanwhile"), QStringLiteral("soniox"));
    EXPECT_EQ(keys.loadKey(QStringLiteral("soniox")), QStringLiteral("sk-typed-meanwhile"));

    fake->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.size() == 1 && written.size() == 1; }));
    // The load found the older key, but the key saved meanwhile wins.
    EXPECT_EQ(keys.loadKey(QStringLiteral("soniox")), QStringLiteral("sk-typed-meanwhile"));
    EXPECT_EQ(fake->items().value(QStringLiteral("soniox")), QByteArray("sk-typed-meanwhile"));
}

TEST_F(KeyStoreTest, AnUnreadableKeyFileIsMovedAsideNotOverwritten)
{
    QDir().mkpath(QFileInfo(m_keyFile).absolutePath());
    {
        QFile file(m_keyFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{not json");
    }
    auto keys = start(Status::noService);
    EXPECT_EQ(keys->loadKey(QStringLiteral("soniox")), std::nullopt);
    save(*keys, QStringLiteral("sk-new"), QStringLiteral("soniox"));

    const QStringList aside =
        QDir(QFileInfo(m_keyFile).absolutePath()).entryList({QStringLiteral("api-keys-*.json")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile old(QFileInfo(m_keyFile).absoluteDir().filePath(aside.first()));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("{not json"));
    EXPECT_EQ(keyFileContents().value(QStringLiteral("soniox")).toString(), QStringLiteral("sk-new"));
}

TEST_F(KeyStoreTest, AKeyInALockedKeyringIsToldApartAndUnlockedOnlyWhenAsked)
{
    auto keys = start(Status::locked, {{QStringLiteral("assemblyAI"), "sk-kept"}});
    EXPECT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), std::nullopt);
    EXPECT_TRUE(keys->isLocked(QStringLiteral("assemblyAI")));
    EXPECT_FALSE(keys->isLocked(QStringLiteral("soniox"))); // nothing kept for it
    EXPECT_EQ(m_secrets->unlocks(), 0);

    QSignalSpy finished(keys.get(), &KeyStore::unlockFinished);
    keys->unlock(); // the user dismisses the prompt
    ASSERT_TRUE(finished.wait());
    EXPECT_TRUE(keys->isLocked(QStringLiteral("assemblyAI")));

    m_secrets->acceptUnlock(true);
    keys->unlock();
    ASSERT_TRUE(finished.wait());
    EXPECT_FALSE(keys->isLocked(QStringLiteral("assemblyAI")));
    EXPECT_EQ(keys->loadKey(QStringLiteral("assemblyAI")), QStringLiteral("sk-kept"));
    EXPECT_EQ(m_secrets->unlocks(), 2);

    // A new key typed while locked replaces the hidden one at once.
    auto relocked = start(Status::locked, {{QStringLiteral("assemblyAI"), "sk-kept"}});
    ASSERT_TRUE(relocked->isLocked(QStringLiteral("assemblyAI")));
    save(*relocked, QStringLiteral("sk-typed"), QStringLiteral("assemblyAI"));
    EXPECT_FALSE(relocked->isLocked(QStringLiteral("assemblyAI")));
    EXPECT_EQ(relocked->loadKey(QStringLiteral("assemblyAI")), QStringLiteral("sk-typed"));
}

TEST_F(KeyStoreTest, QuittingDoesNotWaitForAnUnansweredPromptAndKeepsTheKeys)
{
    auto keys = start(Status::ok);
    m_secrets->hold(); // the keyring shows a prompt nobody answers
    FakeSecretStore* prompted = m_secrets;
    keys->saveKey(QStringLiteral("sk-typed"), QStringLiteral("soniox"));
    keys->saveKey(QStringLiteral("sk-cleanup"), QStringLiteral("anthropic"));

    // Answers the prompt after a long while, so that a quit that waits for it
    // fails here instead of hanging.
    std::atomic<bool> quit{false};
    std::atomic<bool> answeredForTheQuit{false};
    std::thread promptAnswerer([&] {
        for (int i = 0; i < 400 && !quit; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        answeredForTheQuit = !quit;
        prompted->release(); // gone with the worker thread afterwards
    });
    keys.reset();
    quit = true;
    promptAnswerer.join();
    EXPECT_FALSE(answeredForTheQuit) << "quitting waited for the keyring";

    EXPECT_EQ(keyFileContents().value(QStringLiteral("soniox")).toString(), QStringLiteral("sk-typed"));
    EXPECT_EQ(keyFileContents().value(QStringLiteral("anthropic")).toString(), QStringLiteral("sk-cleanup"));

    // The next start finds both and moves them to the keyring.
    auto next = start(Status::ok);
    EXPECT_EQ(next->loadKey(QStringLiteral("soniox")), QStringLiteral("sk-typed"));
    EXPECT_EQ(next->loadKey(QStringLiteral("anthropic")), QStringLiteral("sk-cleanup"));
    EXPECT_EQ(m_secrets->items().value(QStringLiteral("soniox")), QByteArray("sk-typed"));
}

} // namespace
