#pragma once

#include <QByteArray>
#include <QString>

// The desktop's credential store, holding one secret per account under this
// application's service name.
//
// Every call is synchronous and may block for a long time (the store may ask
// the user to unlock it): call it from a worker thread, never from the main
// thread, and from one thread at a time.
class SecretStore
{
public:
    enum class Status {
        ok,
        noItem,    // the store answered: nothing is kept for the account
        locked,    // the item or the collection is locked and was not unlocked
        noService, // no credential store answered at all
        failed,    // the store answered with another error
    };

    struct Result
    {
        Status status = Status::failed;
        QByteArray secret; // on a successful load
        int code = 0;      // the platform's error code when failed, for the log
    };

    virtual ~SecretStore() = default;

    virtual Result load(const QString& account) = 0;
    // Replaces whatever is kept for the account.
    virtual Result save(const QString& account, const QByteArray& secret) = 0;
    // noItem when there was nothing to remove.
    virtual Result remove(const QString& account) = 0;
    // Asks the store to unlock where keys are kept; the desktop may show its
    // unlock prompt and this waits until the user answers it. `locked` when
    // the user did not unlock.
    virtual Result unlock() = 0;
};
