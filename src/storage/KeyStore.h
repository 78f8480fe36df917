#pragma once

#include "storage/VellLog.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class SecretStore;

// The user's API keys, one per account name ("assemblyAI", "soniox", "mock",
// "anthropic"), kept in the desktop's credential store.
//
// The credential store may block (an unlock prompt), so it is only ever used
// on the key store's own worker thread. The main thread works on an in-memory
// copy: loadKey() and saveKey() return at once; the copy is filled from the
// store after construction (keysLoaded() fires once it is) and every save is
// written through in call order on the worker. A key the credential store
// does not take (no service, locked, an error) goes to a private file instead,
// and back into the credential store once it answers again, so a saved key is
// never lost. A key kept in a locked store reads as none but is known to be
// there (isLocked()); unlocking happens only when the user asks (unlock()).
// Quitting never waits for the credential store: saves it has not finished
// go to the private file. No key ever reaches the log.
class KeyStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(Location location READ location NOTIFY locationChanged)

public:
    enum class Location {
        keyring,     // the desktop's credential store
        privateFile, // a file only the user can read, in the data folder
    };
    Q_ENUM(Location)

    static QStringList accounts();
    // api-keys.json in the data folder.
    static QString defaultKeyFilePath();

    explicit KeyStore(std::unique_ptr<SecretStore> secrets, const QString& keyFilePath = defaultKeyFilePath(),
                      const VellLog& log = VellLog::keyring(), QObject* parent = nullptr);
    // Gives the worker a moment to finish queued saves; whatever it has not
    // finished then (a save waiting for an unlock prompt) is kept in the
    // private file, and the worker is left to end on its own.
    ~KeyStore() override;

    bool isLoaded() const { return m_loaded; }

    // The key saved for the account; none when nothing is stored or the keys
    // have not been loaded yet.
    std::optional<QString> loadKey(const QString& account) const;
    // An empty key removes the account's key.
    void saveKey(const QString& key, const QString& account);

    // Whether the account's key is kept in the credential store but could not
    // be read because the store is locked.
    bool isLocked(const QString& account) const { return m_locked.contains(account); }
    // Asks the credential store to unlock (the desktop may show its prompt),
    // then reads the keys again; unlockFinished() follows either way.
    void unlock();

    // Where keys are kept: the private file once the credential store did not
    // answer, or while the file holds a key it refused.
    Location location() const { return m_location; }
    // The private file, for telling the user where it is.
    const QString& keyFilePath() const { return m_keyFilePath; }

Q_SIGNALS:
    void keysLoaded();
    void locationChanged(KeyStore::Location location);
    // The worker has finished with a save of the account, whatever the outcome.
    void keyWritten(const QString& account);
    // After unlock(), once the keys were read again (isLocked() tells whether
    // the user unlocked). keysLoaded() comes first.
    void unlockFinished();

private:
    class Worker;
    struct Loaded;

    void load(bool unlockFirst);
    void onLoaded(const Loaded& loaded);
    void onWritten(const QString& account, Location location);
    void setLocation(Location location);

    QString m_keyFilePath;
    std::shared_ptr<Worker> m_worker;
    QHash<QString, QString> m_keys;
    QSet<QString> m_locked;
    int m_loadsRunning = 0;
    QSet<QString> m_savedWhileLoading;
    bool m_loaded = false;
    Location m_location = Location::keyring;
};
