#include "storage/HistoryStore.h"

#include <QDir>

#include <algorithm>
#include <utility>

namespace {

using Entries = QList<HistoryEntry>;

Entries::iterator findEntry(Entries& entries, const QUuid& id)
{
    return std::find_if(entries.begin(), entries.end(), [&id](const HistoryEntry& entry) { return entry.id == id; });
}

} // namespace

HistoryStore::HistoryStore(const QString& folder, const VellLog& log, QObject* parent, StoredFileLoading loading)
    : QObject(parent), m_log(log), m_file(QDir(folder).filePath(QStringLiteral("history.json")),
                                          QStringLiteral("history"), QStringLiteral("entry"), log)
{
    PrivateFiles::ensureFolder(folder);
    if (loading == StoredFileLoading::inBackground)
        m_read.start(m_file, this, [this] { finishLoading(); });
    else
        m_entries = m_file.load<HistoryEntry>();
}

HistoryStore::~HistoryStore()
{
    // What was changed during the load must still reach the file; nobody listens any more.
    blockSignals(true);
    if (m_editsWhileLoading.isEmpty())
        m_read.abandon();
    else
        finishLoading();
}

bool HistoryStore::contains(const QUuid& id) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [&id](const HistoryEntry& entry) { return entry.id == id; });
}

void HistoryStore::add(const HistoryEntry& entry)
{
    change([entry](Entries& entries) {
        entries.prepend(entry);
        if (entries.size() > kMaximumEntries)
            entries.resize(kMaximumEntries);
        return true;
    });
}

void HistoryStore::setStatus(const QUuid& id, HistoryEntry::Status status, const std::optional<QString>& note)
{
    change([id, status, note](Entries& entries) {
        const auto found = findEntry(entries, id);
        if (found == entries.end())
            return false;
        found->status = status;
        found->note = note;
        return true;
    });
}

void HistoryStore::replaceText(const QUuid& id, const QString& text)
{
    change([id, text](Entries& entries) {
        const auto found = findEntry(entries, id);
        if (found == entries.end())
            return false;
        if (!found->rawText)
            found->rawText = found->text;
        found->text = text;
        return true;
    });
}

void HistoryStore::remove(const QUuid& id)
{
    change([id](Entries& entries) {
        entries.removeIf([&id](const HistoryEntry& entry) { return entry.id == id; });
        return true;
    });
}

void HistoryStore::clear()
{
    change([](Entries& entries) {
        entries.clear();
        return true;
    });
}

void HistoryStore::prune(HistoryRetention retention, const QDateTime& now)
{
    if (retention == HistoryRetention::forever)
        return;
    change([retention, now](Entries& entries) {
        const qsizetype before = entries.size();
        if (retention == HistoryRetention::never) {
            // Keeps nothing, whatever the dates say.
            entries.clear();
        } else {
            const QDateTime cutOff =
                now.addSecs(retention == HistoryRetention::month ? -kMonthRetentionSeconds : -kWeekRetentionSeconds);
            entries.removeIf([&cutOff](const HistoryEntry& entry) { return entry.date < cutOff; });
        }
        return entries.size() != before;
    });
}

void HistoryStore::change(const Edit& edit)
{
    Entries entries = m_entries;
    const bool write = edit(entries);
    if (entries != m_entries) {
        m_entries = std::move(entries);
        Q_EMIT entriesChanged();
    }
    // Writing now would put the changes where the whole list belongs.
    if (!isLoaded()) {
        m_editsWhileLoading.append(edit);
        return;
    }
    if (write)
        save();
}

void HistoryStore::finishLoading()
{
    std::optional<JsonArrayFileRead<HistoryEntry>::Result> read = m_read.take();
    if (!read)
        return;
    m_file = std::move(read->file);
    Entries entries = std::move(read->items);
    bool write = false;
    for (const Edit& edit : std::exchange(m_editsWhileLoading, {}))
        write = edit(entries) || write;
    if (entries != m_entries) {
        m_entries = std::move(entries);
        Q_EMIT entriesChanged();
    }
    if (write)
        save();
    Q_EMIT loadFinished();
}

void HistoryStore::save()
{
    QByteArray bytes;
    bytes.reserve(m_lastFileSize + m_lastFileSize / 8 + 1024);
    bytes += '[';
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (i > 0)
            bytes += ',';
        m_entries.at(i).appendJson(bytes);
    }
    bytes += ']';
    m_lastFileSize = bytes.size();
    const bool wasUnsaved = m_file.hasUnsavedChanges();
    m_file.write(bytes);
    if (m_file.hasUnsavedChanges() != wasUnsaved)
        Q_EMIT unsavedChangesChanged();
}
