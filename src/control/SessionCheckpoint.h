#pragma once

#include "storage/HistoryEntry.h"
#include "storage/PrivateFiles.h"
#include "storage/VellLog.h"

#include <QLatin1String>
#include <QString>

#include <chrono>
#include <optional>

class HistoryStore;

// The dictation in progress, kept on disk as one history entry in
// session-checkpoint.json so that it survives a quit or a crash.
//
// Main thread only; every file operation is small and synchronous, but for
// waiting on the disk after a save, which happens on a pool thread. A write
// that fails is logged and otherwise ignored: the dictation goes on.
class SessionCheckpoint
{
public:
    // From a save to asking the disk to hold it through a power cut.
    static constexpr std::chrono::milliseconds kSyncDelay{100};
    static constexpr QLatin1String kRecoveryNote{"Recovered: Vell quit before this dictation finished."};

    explicit SessionCheckpoint(const QString& folder = PrivateFiles::dataFolder(),
                               const VellLog& log = VellLog::history());

    const QString& filePath() const { return m_path; }

    // Makes the file the next save fills, so that a save on the way to a
    // paste need not wait for the file system to create one.
    void prepare();
    // Replaces the checkpoint atomically: a crash leaves the old one or the new
    // one, and from the moment this returns, the new one.
    void save(const HistoryEntry& entry);
    // Deletes the checkpoint; a missing file is fine.
    void clear();
    // Turns a leftover checkpoint into a "not inserted" history entry with the
    // recovery note. The file is deleted once the entry is safely in the
    // history file, or at once when it holds nothing to recover; while the
    // history cannot be written it stays, and the entry's id keeps a later
    // recovery from adding it twice.
    void recover(HistoryStore& history);

private:
    QString m_path;
    VellLog m_log;
    std::optional<PrivateFiles::Replacement> m_next;
};
