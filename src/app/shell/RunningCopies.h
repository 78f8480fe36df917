#pragma once

#include "storage/VellLog.h"

#include <QLocalServer>
#include <QObject>

// Keeps one copy of Vell per desktop session: the newest copy asks every
// older one to quit and never waits for them.
//
// Each copy listens on a local socket named after its start time and process
// id in a private folder of the session (the runtime folder, one sub-folder
// per display). start() lists that folder: an older copy is asked to quit
// once it answers, and is logged by its pid; a socket nobody answers any
// more is a leftover of a crashed copy and is removed. A copy that finds a
// newer one, or is asked by one, emits quitRequested(). Main thread only.
class RunningCopies : public QObject
{
    Q_OBJECT

public:
    struct Identity
    {
        qint64 startedAt = 0; // milliseconds since the epoch
        qint64 pid = 0;

        // Started earlier; the pid decides between copies started in the same millisecond.
        bool isOlderThan(const Identity& other) const
        {
            return startedAt != other.startedAt ? startedAt < other.startedAt : pid < other.pid;
        }
        bool operator==(const Identity&) const = default;
    };

    explicit RunningCopies(const QString& folder = defaultFolder(), Identity self = currentProcess(),
                           const VellLog& log = VellLog::app(), QObject* parent = nullptr);
    ~RunningCopies() override;

    // Listens, then asks the older copies to quit. False when this copy
    // cannot be found by later ones (it still asks the older ones).
    bool start();

    const QString& folder() const { return m_folder; }
    QString socketPath() const;

    // <runtime folder>/vell/<display>, so that copies on other displays of
    // the same user are left alone.
    static QString defaultFolder();
    static Identity currentProcess();
    static std::optional<Identity> parseSocketName(const QString& fileName);

Q_SIGNALS:
    void quitRequested();

private:
    void onNewConnection();
    void askToQuit(const Identity& other, const QString& path);

    QString m_folder;
    Identity m_self;
    VellLog m_log;
    QLocalServer m_server;
    bool m_quitting = false;
};
