#pragma once

#include "platform/SecretStore.h"

#include <QHash>

#include <condition_variable>
#include <mutex>

// A credential store in memory. While `status` is ok it keeps items like the
// real one; any other status is what every call answers (with code 42),
// except that a locked store reads an account it holds nothing for as noItem.
// hold() makes calls wait until release(), like an unlock prompt nobody has
// answered. Thread-safe: the key store calls it on its worker thread.
class FakeSecretStore : public SecretStore
{
public:
    static constexpr int kFailureCode = 42;

    Result load(const QString& account) override
    {
        std::unique_lock lock(m_mutex);
        waitWhileHeld(lock);
        ++m_calls;
        const auto found = m_items.constFind(account);
        // A locked store still tells that it holds nothing for an account.
        if (found == m_items.cend() && m_status == Status::locked)
            return {Status::noItem, {}, 0};
        if (m_status != Status::ok)
            return answer();
        if (found == m_items.cend())
            return {Status::noItem, {}, 0};
        return {Status::ok, *found, 0};
    }

    Result save(const QString& account, const QByteArray& secret) override
    {
        std::unique_lock lock(m_mutex);
        waitWhileHeld(lock);
        ++m_calls;
        if (m_status != Status::ok)
            return answer();
        m_items.insert(account, secret);
        return {Status::ok, {}, 0};
    }

    Result remove(const QString& account) override
    {
        std::unique_lock lock(m_mutex);
        waitWhileHeld(lock);
        ++m_calls;
        if (m_status != Status::ok)
            return answer();
        return {m_items.remove(account) ? Status::ok : Status::noItem, {}, 0};
    }

    // A locked store opens when the user accepts the prompt
    // (acceptUnlock(true)), and stays locked otherwise.
    Result unlock() override
    {
        std::unique_lock lock(m_mutex);
        waitWhileHeld(lock);
        ++m_calls;
        ++m_unlocks;
        if (m_status == Status::locked && m_unlockAccepted)
            m_status = Status::ok;
        return m_status == Status::ok ? Result{Status::ok, {}, 0} : answer();
    }

    void acceptUnlock(bool accepted)
    {
        std::lock_guard lock(m_mutex);
        m_unlockAccepted = accepted;
    }

    int unlocks()
    {
        std::lock_guard lock(m_mutex);
        return m_unlocks;
    }

    void setStatus(Status status)
    {
        std::lock_guard lock(m_mutex);
        m_status = status;
    }

    void putItem(const QString& account, const QByteArray& secret)
    {
        std::lock_guard lock(m_mutex);
        m_items.insert(account, secret);
    }

    QHash<QString, QByteArray> items()
    {
        std::lock_guard lock(m_mutex);
        return m_items;
    }

    int calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_held = true;
    }

    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_wake.notify_all();
    }

private:
    void waitWhileHeld(std::unique_lock<std::mutex>& lock)
    {
        m_wake.wait(lock, [this] { return !m_held; });
    }

    Result answer() const { return {m_status, {}, kFailureCode}; }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QHash<QString, QByteArray> m_items;
    Status m_status = Status::ok;
    bool m_held = false;
    bool m_unlockAccepted = false;
    int m_calls = 0;
    int m_unlocks = 0;
};
