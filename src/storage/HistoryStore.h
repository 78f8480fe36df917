#pragma once

#include "storage/HistoryEntry.h"
#include "storage/HistoryRetention.h"
#include "storage/JsonArrayFile.h"
#include "storage/PrivateFiles.h"
#include "storage/VellLog.h"

#include <QList>
#include <QObject>

#include <functional>

// The list of past dictations, newest first, and the single owner of
// history.json in its folder.
//
// Main thread only. Loads the file at construction, or starts loading it on a
// thread of its own: a missing file gives an empty list; a file that cannot
// be read or decoded is logged and renamed to "history-<unix seconds>.json"
// beside it, and is never written over. Every change writes the whole file at
// once, atomically; when that fails the list in memory keeps the change,
// hasUnsavedChanges() turns true and the next change tries again.
// entriesChanged fires whenever the list differs.
//
// While a background load runs, the list holds only the changes made since;
// they are kept and made again on the loaded list when it arrives, and only
// then written (also when the store is destroyed first).
class HistoryStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<HistoryEntry> entries READ entries NOTIFY entriesChanged)

public:
    static constexpr qsizetype kMaximumEntries = 2000;

    explicit HistoryStore(const QString& folder = PrivateFiles::dataFolder(), const VellLog& log = VellLog::history(),
                          QObject* parent = nullptr, StoredFileLoading loading = StoredFileLoading::now);
    ~HistoryStore() override;

    const QList<HistoryEntry>& entries() const { return m_entries; }
    const QString& filePath() const { return m_file.path(); }
    bool contains(const QUuid& id) const;
    // True while the last write failed, so the file lags behind the list in memory.
    bool hasUnsavedChanges() const { return m_file.hasUnsavedChanges(); }
    bool isLoaded() const { return !m_read.isRunning(); }
    // The file holds every change: loaded, and the last write went through.
    bool isSaved() const { return isLoaded() && !hasUnsavedChanges(); }
    // Finishes a background load now, waiting for it if need be.
    void waitUntilLoaded() { finishLoading(); }
    // The name an unreadable history file was moved aside under at load.
    const std::optional<QString>& setAsideAs() const { return m_file.setAsideAs(); }

    // Inserts at the front, then drops the oldest entries beyond kMaximumEntries.
    void add(const HistoryEntry& entry);
    // Sets the status and replaces the note (none clears it) of the first
    // entry with `id`; an unknown id changes and writes nothing.
    void setStatus(const QUuid& id, HistoryEntry::Status status, const std::optional<QString>& note = std::nullopt);
    // Replaces the text of the first entry with `id`, keeping the very first
    // text in rawText; an unknown id changes and writes nothing.
    void replaceText(const QUuid& id, const QString& text);
    // Removes every entry with `id`.
    void remove(const QUuid& id);
    void clear();
    // Drops the entries older than `retention` allows at `now`; writes only
    // when something was dropped.
    void prune(HistoryRetention retention, const QDateTime& now);

Q_SIGNALS:
    void entriesChanged();
    // A background load ended and the changes made meanwhile were written.
    void loadFinished();
    // hasUnsavedChanges() turned true or false.
    void unsavedChangesChanged();

private:
    // Changes `entries`; true when the change asks for a write (also one that
    // left the list as it was, so a failed write is tried again).
    using Edit = std::function<bool(QList<HistoryEntry>& entries)>;

    void change(const Edit& edit);
    void finishLoading();
    void save();

    VellLog m_log;
    JsonArrayFile m_file;
    JsonArrayFileRead<HistoryEntry> m_read;
    // The changes made while the load runs, in order.
    QList<Edit> m_editsWhileLoading;
    QList<HistoryEntry> m_entries;
    qsizetype m_lastFileSize = 0;
};
