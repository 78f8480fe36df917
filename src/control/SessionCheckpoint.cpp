#include "control/SessionCheckpoint.h"

#include "storage/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>
#include <QThreadPool>

namespace {

// Characters as the user sees them, so "é" written with a combining accent is one.
qsizetype visibleCharacters(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

} // namespace

SessionCheckpoint::SessionCheckpoint(const QString& folder, const VellLog& log)
    : m_path(QDir(folder).filePath(QStringLiteral("session-checkpoint.json"))), m_log(log)
{
    PrivateFiles::ensureFolder(folder);
}

void SessionCheckpoint::save(const HistoryEntry& entry)
{
    if (const std::optional<PrivateFiles::WriteError> failure = PrivateFiles::tryReplace(m_path, entry.toJson())) {
        m_log.error(QStringLiteral("Saving the session checkpoint failed: ") + failure->description);
        return;
    }
    // The file already outlives a crash; the paste doesn't wait for the disk.
    QThreadPool::globalInstance()->start([path = m_path, log = m_log] {
        if (!PrivateFiles::syncToDisk(path) && QFileInfo::exists(path))
            log.error(QStringLiteral("Writing the session checkpoint to the disk failed"));
    });
}

void SessionCheckpoint::clear()
{
    QFile::remove(m_path);
}

void SessionCheckpoint::recover(HistoryStore& history)
{
    const std::optional<QByteArray> bytes = PrivateFiles::read(m_path);
    if (!bytes)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    std::optional<HistoryEntry> entry = document.isObject() ? HistoryEntry::fromJson(document.object()) : std::nullopt;
    if (!entry || entry->text.trimmed().isEmpty()) {
        clear();
        return;
    }
    // Only the whole history tells whether this dictation was recovered before.
    history.waitUntilLoaded();
    if (history.contains(entry->id)) {
        // Recovered before, but the checkpoint outlived it.
        if (history.isSaved())
            clear();
        return;
    }
    m_log.info(
        QStringLiteral("recovered %1 chars from a session that didn't finish").arg(visibleCharacters(entry->text)));
    entry->status = HistoryEntry::Status::notInserted;
    entry->note = QString(kRecoveryNote);
    history.add(*entry);
    if (history.isSaved())
        clear();
}
