#include "control/SessionCheckpoint.h"

#include "storage/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>
#include <QThreadPool>
#include <QTimer>

#include <utility>

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

void SessionCheckpoint::prepare()
{
    if (!m_next)
        m_next.emplace(m_path);
}

void SessionCheckpoint::save(const HistoryEntry& entry)
{
    const QByteArray bytes = entry.toJson();
    std::optional<PrivateFiles::WriteError> failure;
    // The file made beforehand may have gone with its folder since: then a new one.
    if (!m_next || std::exchange(m_next, std::nullopt)->replaceWith(bytes))
        failure = PrivateFiles::tryReplace(m_path, bytes);
    if (failure) {
        m_log.error(QStringLiteral("Saving the session checkpoint failed: ") + failure->description);
        return;
    }
    // The file already outlives a crash. The disk waits until the paste that
    // may follow is done, rather than take the processor from it.
    QTimer::singleShot(kSyncDelay, [path = m_path, log = m_log] {
        QThreadPool::globalInstance()->start([path, log] {
            if (!PrivateFiles::syncToDisk(path) && QFileInfo::exists(path))
                log.error(QStringLiteral("Writing the session checkpoint to the disk failed"));
        });
    });
}

void SessionCheckpoint::clear()
{
    m_next.reset();
    QFile::remove(m_path);
}

void SessionCheckpoint::recover(HistoryStore& history)
{
    // What a run that ended mid-save left beside the checkpoint.
    const QFileInfo checkpoint(m_path);
    QDir folder = checkpoint.dir();
    for (const QString& name : folder.entryList({checkpoint.fileName() + QStringLiteral(".??????")}, QDir::Files))
        folder.remove(name);

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
