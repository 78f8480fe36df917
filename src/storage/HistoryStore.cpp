#include "storage/HistoryStore.h"

#include <QDir>

#include <algorithm>

HistoryStore::HistoryStore(const QString& folder, const VellLog& log, QObject* parent)
    : QObject(parent), m_log(log), m_file(QDir(folder).filePath(QStringLiteral("history.json")),
                                          QStringLiteral("history"), QStringLiteral("entry"), log)
{
    PrivateFiles::ensureFolder(folder);
    load();
}

bool HistoryStore::contains(const QUuid& id) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [&id](const HistoryEntry& entry) { return entry.id == id; });
}

void HistoryStore::add(const HistoryEntry& entry)
{
    m_entries.prepend(entry);
    if (m_entries.size() > kMaximumEntries)
        m_entries.resize(kMaximumEntries);
    Q_EMIT entriesChanged();
    save();
}

void HistoryStore::setStatus(const QUuid& id, HistoryEntry::Status status, const std::optional<QString>& note)
{
    const auto found =
        std::find_if(m_entries.cbegin(), m_entries.cend(), [&id](const HistoryEntry& entry) { return entry.id == id; });
    if (found == m_entries.cend())
        return;
    if (found->status != status || found->note != note) {
        HistoryEntry& entry = m_entries[found - m_entries.cbegin()];
        entry.status = status;
        entry.note = note;
        Q_EMIT entriesChanged();
    }
    save();
}

void HistoryStore::replaceText(const QUuid& id, const QString& text)
{
    const auto found =
        std::find_if(m_entries.cbegin(), m_entries.cend(), [&id](const HistoryEntry& entry) { return entry.id == id; });
    if (found == m_entries.cend())
        return;
    if (found->text != text || !found->rawText) {
        HistoryEntry& entry = m_entries[found - m_entries.cbegin()];
        if (!entry.rawText)
            entry.rawText = entry.text;
        entry.text = text;
        Q_EMIT entriesChanged();
    }
    save();
}

void HistoryStore::remove(const QUuid& id)
{
    if (m_entries.removeIf([&id](const HistoryEntry& entry) { return entry.id == id; }) > 0)
        Q_EMIT entriesChanged();
    save();
}

void HistoryStore::clear()
{
    replaceEntries({});
    save();
}

void HistoryStore::prune(HistoryRetention retention, const QDateTime& now)
{
    QList<HistoryEntry> kept;
    switch (retention) {
    case HistoryRetention::forever:
        return;
    case HistoryRetention::month:
    case HistoryRetention::week: {
        const QDateTime cutOff =
            now.addSecs(retention == HistoryRetention::month ? -kMonthRetentionSeconds : -kWeekRetentionSeconds);
        std::copy_if(m_entries.cbegin(), m_entries.cend(), std::back_inserter(kept),
                     [&cutOff](const HistoryEntry& entry) { return entry.date >= cutOff; });
        break;
    }
    case HistoryRetention::never:
        // Keeps nothing, whatever the dates say.
        break;
    }
    if (kept.size() == m_entries.size())
        return;
    replaceEntries(std::move(kept));
    save();
}

void HistoryStore::load()
{
    m_entries = m_file.load<HistoryEntry>();
}

void HistoryStore::replaceEntries(QList<HistoryEntry> entries)
{
    if (entries == m_entries)
        return;
    m_entries = std::move(entries);
    Q_EMIT entriesChanged();
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
