#include "storage/KeyStore.h"

#include "platform/SecretStore.h"
#include "storage/KeyFile.h"
#include "storage/PrivateFiles.h"

#include <QStringDecoder>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Owns the credential store and the private file; runs jobs one at a time, in
// order, on its own thread.
class KeyStore::Worker
{
public:
    Worker(std::unique_ptr<SecretStore> secrets, const QString& keyFilePath, const VellLog& log)
        : m_secrets(std::move(secrets)), m_file(keyFilePath, log), m_log(log), m_thread([this] { run(); })
    {}

    ~Worker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    void enqueue(std::function<void()> job)
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_one();
    }

    // Worker thread only, from here on.

    QHash<QString, QString> loadAll(const QStringList& accounts)
    {
        QHash<QString, QString> keys;
        for (const QString& account : accounts)
            if (const std::optional<QString> key = load(account))
                keys.insert(account, *key);
        return keys;
    }

    void persist(const QString& account, const QString& key)
    {
        if (key.isEmpty()) {
            const SecretStore::Result result = m_secrets->remove(account);
            noteAnswer(result.status);
            if (result.status == SecretStore::Status::ok || result.status == SecretStore::Status::noItem) {
                m_file.drop(account);
                return;
            }
            if (result.status != SecretStore::Status::noService)
                m_log.error(QStringLiteral("Removing %1 key failed: %2").arg(account).arg(result.code));
            // Remembered, so that a copy the credential store still holds is not used again.
            if (!m_file.put(account, QString()))
                m_log.error(QStringLiteral("Recording the removal of the %1 key failed").arg(account));
            return;
        }

        const SecretStore::Result result = m_secrets->save(account, key.toUtf8());
        noteAnswer(result.status);
        if (result.status == SecretStore::Status::ok) {
            m_file.drop(account);
            return;
        }
        if (result.status != SecretStore::Status::noService)
            m_log.error(QStringLiteral("Saving %1 key failed: %2").arg(account).arg(result.code));
        if (!m_file.put(account, key)) {
            m_log.error(
                QStringLiteral("Saving %1 key to the private file failed; it is kept until Vell quits").arg(account));
            return;
        }
        if (result.status != SecretStore::Status::noService)
            m_log.info(QStringLiteral("Kept the %1 key in the private file until the keyring takes it").arg(account));
    }

    Location location() { return m_serviceMissing || m_file.holdsKeys() ? Location::privateFile : Location::keyring; }

private:
    std::optional<QString> load(const QString& account)
    {
        const SecretStore::Result result = m_secrets->load(account);
        noteAnswer(result.status);
        const bool storeIsOpen =
            result.status == SecretStore::Status::ok || result.status == SecretStore::Status::noItem;

        // The file holds what the credential store refused, so it is newer.
        if (const std::optional<QString> pending = m_file.entry(account)) {
            if (storeIsOpen)
                moveToStore(account, *pending);
            return pending->isEmpty() ? std::nullopt : pending;
        }

        switch (result.status) {
        case SecretStore::Status::ok:
            return decode(account, result.secret);
        case SecretStore::Status::noItem:
        case SecretStore::Status::noService:
            return std::nullopt;
        case SecretStore::Status::locked:
            m_log.info(QStringLiteral("The keyring is locked; the %1 key cannot be read").arg(account));
            return std::nullopt;
        case SecretStore::Status::failed:
            m_log.error(QStringLiteral("Reading %1 key failed: %2").arg(account).arg(result.code));
            return std::nullopt;
        }
        return std::nullopt;
    }

    void moveToStore(const QString& account, const QString& pending)
    {
        const SecretStore::Result result =
            pending.isEmpty() ? m_secrets->remove(account) : m_secrets->save(account, pending.toUtf8());
        if (result.status != SecretStore::Status::ok && result.status != SecretStore::Status::noItem)
            return;
        if (m_file.drop(account) && !pending.isEmpty())
            m_log.info(QStringLiteral("Moved the %1 key from the private file to the keyring").arg(account));
    }

    std::optional<QString> decode(const QString& account, const QByteArray& bytes)
    {
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString text = decoder.decode(bytes);
        if (decoder.hasError()) {
            m_log.error(QStringLiteral("The stored %1 key is not valid UTF-8; ignored").arg(account));
            return std::nullopt;
        }
        return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
    }

    void noteAnswer(SecretStore::Status status)
    {
        m_serviceMissing = status == SecretStore::Status::noService;
        if (m_serviceMissing && !m_toldServiceMissing) {
            m_toldServiceMissing = true;
            m_log.info(QStringLiteral("No Secret Service answered; API keys are kept in the private file ") +
                       m_file.path());
        }
    }

    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::unique_ptr<SecretStore> m_secrets;
    KeyFile m_file;
    const VellLog& m_log;
    bool m_serviceMissing = false;
    bool m_toldServiceMissing = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once everything above exists
};

QStringList KeyStore::accounts()
{
    return {QStringLiteral("assemblyAI"), QStringLiteral("soniox"), QStringLiteral("mock"),
            QStringLiteral("anthropic")};
}

QString KeyStore::defaultKeyFilePath()
{
    return PrivateFiles::dataFolder() + QStringLiteral("/api-keys.json");
}

KeyStore::KeyStore(std::unique_ptr<SecretStore> secrets, const QString& keyFilePath, const VellLog& log,
                   QObject* parent)
    : QObject(parent), m_keyFilePath(keyFilePath),
      m_worker(std::make_unique<Worker>(std::move(secrets), keyFilePath, log))
{
    Worker* worker = m_worker.get();
    m_worker->enqueue([this, worker] {
        const QHash<QString, QString> keys = worker->loadAll(accounts());
        const Location location = worker->location();
        QMetaObject::invokeMethod(
            this, [this, keys, location] { onLoaded(keys, location); }, Qt::QueuedConnection);
    });
}

// The worker finishes its queue before this object's posted results are
// discarded with it.
KeyStore::~KeyStore() = default;

std::optional<QString> KeyStore::loadKey(const QString& account) const
{
    const auto found = m_keys.constFind(account);
    if (found == m_keys.cend())
        return std::nullopt;
    return *found;
}

void KeyStore::saveKey(const QString& key, const QString& account)
{
    if (key.isEmpty())
        m_keys.remove(account);
    else
        m_keys.insert(account, key);
    if (!m_loaded)
        m_savedBeforeLoad.insert(account);

    Worker* worker = m_worker.get();
    m_worker->enqueue([this, worker, key, account] {
        worker->persist(account, key);
        const Location location = worker->location();
        QMetaObject::invokeMethod(
            this, [this, account, location] { onWritten(account, location); }, Qt::QueuedConnection);
    });
}

void KeyStore::onLoaded(const QHash<QString, QString>& keys, Location location)
{
    // A key saved while loading is newer than what the load found.
    for (const QString& account : accounts()) {
        if (m_savedBeforeLoad.contains(account))
            continue;
        if (keys.contains(account))
            m_keys.insert(account, keys.value(account));
        else
            m_keys.remove(account);
    }
    m_savedBeforeLoad.clear();
    m_loaded = true;
    setLocation(location);
    Q_EMIT keysLoaded();
}

void KeyStore::onWritten(const QString& account, Location location)
{
    setLocation(location);
    Q_EMIT keyWritten(account);
}

void KeyStore::setLocation(Location location)
{
    if (location == m_location)
        return;
    m_location = location;
    Q_EMIT locationChanged(location);
}
