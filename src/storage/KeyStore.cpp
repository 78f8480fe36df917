#include "storage/KeyStore.h"

#include "platform/SecretStore.h"
#include "storage/KeyFile.h"
#include "storage/PrivateFiles.h"

#include <QStringDecoder>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

using Status = SecretStore::Status;

// How long quitting lets the worker finish what is queued before keeping the
// rest in the private file.
constexpr std::chrono::milliseconds kQuitGrace{300};

} // namespace

struct KeyStore::Loaded
{
    QHash<QString, QString> keys;
    QSet<QString> locked; // kept in the credential store, which is locked
    Location location = Location::keyring;
    bool afterUnlock = false;
};

// Owns the credential store and the private file; runs jobs one at a time, in
// order, on its own thread. The thread shares ownership, so a call blocked on
// an unlock prompt can outlive the key store: once the key store is gone
// (abandon()), the worker no longer touches the file or posts results.
class KeyStore::Worker
{
public:
    // A save not yet in the credential store, for the file should the worker
    // be abandoned first.
    struct Save
    {
        QString account;
        QString key; // empty: a removal
    };

    Worker(std::unique_ptr<SecretStore> secrets, const QString& keyFilePath, const VellLog& log, KeyStore* owner)
        : m_secrets(std::move(secrets)), m_file(keyFilePath, log), m_log(log), m_owner(owner)
    {}

    static void start(const std::shared_ptr<Worker>& worker)
    {
        worker->m_thread = std::thread([self = worker] { self->run(); });
    }

    void enqueue(std::function<void(Worker&)> job, std::optional<Save> save = std::nullopt)
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back({std::move(job), std::move(save)});
        }
        m_wake.notify_all();
    }

    // Main thread, once: waits briefly for the queue, keeps unfinished saves
    // in the file, and lets the thread go.
    void abandon()
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, kQuitGrace, [this] { return m_jobs.empty() && !m_busy; });
        m_abandoned = true;
        std::vector<Save> unfinished;
        if (m_current)
            unfinished.push_back(*m_current);
        for (const Job& job : m_jobs)
            if (job.save)
                unfinished.push_back(*job.save);
        m_jobs.clear();
        for (const Save& save : unfinished)
            if (!m_file.put(save.account, save.key))
                m_log.error(QStringLiteral("Keeping the unsaved %1 key in the private file failed").arg(save.account));
        if (!unfinished.empty())
            m_log.info(QStringLiteral("Quit before the keyring answered; %1 key change(s) kept in the private file")
                           .arg(unfinished.size()));
        const bool idle = !m_busy;
        lock.unlock();
        m_wake.notify_all();
        if (idle)
            m_thread.join();
        else
            m_thread.detach();
    }

    // Worker thread only, from here on.

    Loaded loadAll(const QStringList& accounts)
    {
        Loaded loaded;
        for (const QString& account : accounts) {
            bool locked = false;
            if (const std::optional<QString> key = load(account, locked))
                loaded.keys.insert(account, *key);
            if (locked)
                loaded.locked.insert(account);
        }
        loaded.location = location();
        return loaded;
    }

    void persist(const QString& account, const QString& key)
    {
        const bool removing = key.isEmpty();
        const SecretStore::Result result =
            removing ? m_secrets->remove(account) : m_secrets->save(account, key.toUtf8());
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        noteAnswer(result.status);
        if (result.status == Status::ok || (removing && result.status == Status::noItem)) {
            m_file.drop(account);
            return;
        }
        if (result.status != Status::noService)
            m_log.error(QStringLiteral("%1 %2 key failed: %3")
                            .arg(removing ? QStringLiteral("Removing") : QStringLiteral("Saving"), account)
                            .arg(result.code));
        // A removal is remembered too, so that a copy the credential store
        // still holds is not used again.
        if (!m_file.put(account, key)) {
            m_log.error(QStringLiteral("Keeping the %1 key change in the private file failed; it lasts until Vell "
                                       "quits")
                            .arg(account));
            return;
        }
        if (!removing && result.status != Status::noService)
            m_log.info(QStringLiteral("Kept the %1 key in the private file until the keyring takes it").arg(account));
    }

    void unlock()
    {
        const SecretStore::Result result = m_secrets->unlock();
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        noteAnswer(result.status);
        if (result.status == Status::failed)
            m_log.error(QStringLiteral("Unlocking the keyring failed: %1").arg(result.code));
        else
            m_log.info(result.status == Status::ok ? QStringLiteral("The keyring was unlocked")
                                                   : QStringLiteral("The keyring stayed locked"));
    }

    Location location()
    {
        std::lock_guard lock(m_mutex);
        return m_serviceMissing || m_file.holdsKeys() ? Location::privateFile : Location::keyring;
    }

    // Delivers a result to the key store on the main thread, unless it is gone.
    void post(std::function<void(KeyStore&)> deliver)
    {
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        KeyStore* owner = m_owner;
        QMetaObject::invokeMethod(
            owner, [owner, deliver = std::move(deliver)] { deliver(*owner); }, Qt::QueuedConnection);
    }

private:
    struct Job
    {
        std::function<void(Worker&)> run;
        std::optional<Save> save;
    };

    std::optional<QString> load(const QString& account, bool& locked)
    {
        const SecretStore::Result result = m_secrets->load(account);
        std::optional<QString> pending;
        {
            std::lock_guard lock(m_mutex);
            if (m_abandoned)
                return std::nullopt;
            noteAnswer(result.status);
            pending = m_file.entry(account);
        }

        // The file holds what the credential store refused, so it is newer.
        if (pending) {
            if (result.status == Status::ok || result.status == Status::noItem)
                moveToStore(account, *pending);
            return pending->isEmpty() ? std::nullopt : pending;
        }

        switch (result.status) {
        case Status::ok:
            return decode(account, result.secret);
        case Status::noItem:
        case Status::noService:
            return std::nullopt;
        case Status::locked:
            m_log.info(QStringLiteral("The keyring is locked; the %1 key cannot be read").arg(account));
            locked = true;
            return std::nullopt;
        case Status::failed:
            m_log.error(QStringLiteral("Reading %1 key failed: %2").arg(account).arg(result.code));
            return std::nullopt;
        }
        return std::nullopt;
    }

    void moveToStore(const QString& account, const QString& pending)
    {
        const SecretStore::Result result =
            pending.isEmpty() ? m_secrets->remove(account) : m_secrets->save(account, pending.toUtf8());
        if (result.status != Status::ok && result.status != Status::noItem)
            return;
        std::lock_guard lock(m_mutex);
        if (m_abandoned)
            return;
        // Only if the file still holds what was moved: abandon() may have put a newer change there.
        if (m_file.entry(account) == pending && m_file.drop(account) && !pending.isEmpty())
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

    // With m_mutex held.
    void noteAnswer(Status status)
    {
        m_serviceMissing = status == Status::noService;
        if (m_serviceMissing && !m_toldServiceMissing) {
            m_toldServiceMissing = true;
            m_log.info(QStringLiteral("No Secret Service answered; API keys are kept in the private file ") +
                       m_file.path());
        }
    }

    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m_mutex);
                m_busy = false;
                m_current.reset();
                m_wake.notify_all();
                m_wake.wait(lock, [this] { return m_abandoned || !m_jobs.empty(); });
                if (m_abandoned)
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
                m_current = job.save;
                m_busy = true;
            }
            job.run(*this);
        }
    }

    // Used by the worker thread only, except m_file under m_mutex.
    std::unique_ptr<SecretStore> m_secrets;
    KeyFile m_file;
    const VellLog& m_log;
    KeyStore* const m_owner;
    bool m_serviceMissing = false;
    bool m_toldServiceMissing = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::optional<Save> m_current;
    bool m_busy = false;
    bool m_abandoned = false;
    std::thread m_thread;
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
      m_worker(std::make_shared<Worker>(std::move(secrets), keyFilePath, log, this))
{
    Worker::start(m_worker);
    load(false);
}

KeyStore::~KeyStore()
{
    m_worker->abandon();
}

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
    m_locked.remove(account); // the new key replaces the one the lock hides
    if (m_loadsRunning > 0)
        m_savedWhileLoading.insert(account);

    m_worker->enqueue(
        [key, account](Worker& worker) {
            worker.persist(account, key);
            const Location location = worker.location();
            worker.post([account, location](KeyStore& keys) { keys.onWritten(account, location); });
        },
        Worker::Save{account, key});
}

void KeyStore::unlock()
{
    load(true);
}

void KeyStore::load(bool unlockFirst)
{
    ++m_loadsRunning;
    m_worker->enqueue([unlockFirst](Worker& worker) {
        if (unlockFirst)
            worker.unlock();
        Loaded loaded = worker.loadAll(accounts());
        loaded.afterUnlock = unlockFirst;
        worker.post([loaded](KeyStore& keys) { keys.onLoaded(loaded); });
    });
}

void KeyStore::onLoaded(const Loaded& loaded)
{
    // A key saved while loading is newer than what the load found.
    for (const QString& account : accounts()) {
        if (m_savedWhileLoading.contains(account))
            continue;
        if (loaded.keys.contains(account))
            m_keys.insert(account, loaded.keys.value(account));
        else
            m_keys.remove(account);
        if (loaded.locked.contains(account))
            m_locked.insert(account);
        else
            m_locked.remove(account);
    }
    if (--m_loadsRunning == 0)
        m_savedWhileLoading.clear();
    m_loaded = true;
    setLocation(loaded.location);
    Q_EMIT keysLoaded();
    if (loaded.afterUnlock)
        Q_EMIT unlockFinished();
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
