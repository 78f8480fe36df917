#pragma once

#include "storage/PrivateFiles.h"
#include "storage/VellLog.h"

#include <QByteArray>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>
#include <optional>

// Decodes a stored file that holds one JSON array of items, all or nothing:
// one bad item makes the whole file unreadable, so it is moved aside whole
// rather than saved back without that item. `problem` says what was wrong
// (a position or a key, never a value).
template <typename Item>
std::optional<QList<Item>> decodeJsonArray(const QByteArray& bytes, const QString& itemName, QString& problem)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = error.errorString() + QStringLiteral(" at offset ") + QString::number(error.offset);
        return std::nullopt;
    }
    if (!document.isArray()) {
        problem = QStringLiteral("not a JSON array");
        return std::nullopt;
    }
    const QJsonArray array = document.array();
    QList<Item> items;
    items.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        QString why;
        std::optional<Item> item = Item::fromJson(array.at(i), &why);
        if (!item) {
            problem = QStringLiteral("%1 %2: %3").arg(itemName).arg(i).arg(why);
            return std::nullopt;
        }
        items.append(std::move(*item));
    }
    return items;
}

// A private file that holds one JSON array (the history, the usage log). An
// unreadable file is moved aside and never written over: while it cannot be
// moved, writes are refused and the caller keeps its data in memory; every
// later write tries again.
class JsonArrayFile
{
public:
    // `subject` names the contents in log lines ("history"), `itemName` one item ("entry").
    JsonArrayFile(QString path, QString subject, QString itemName, const VellLog& log)
        : m_path(std::move(path)), m_subject(std::move(subject)), m_itemName(std::move(itemName)), m_log(log)
    {}

    const QString& path() const { return m_path; }
    // The last write failed, so the file lags behind the caller's data.
    bool hasUnsavedChanges() const { return m_unsaved; }
    // The name an unreadable file was moved aside under, this run.
    const std::optional<QString>& setAsideAs() const { return m_setAsideAs; }

    // The items, or none when the file is missing or unreadable (then set aside).
    template <typename Item> QList<Item> load()
    {
        const std::optional<QByteArray> bytes = PrivateFiles::read(m_path);
        if (!bytes) {
            // Missing is the normal first start; present but unreadable must not be written over.
            if (QFileInfo::exists(m_path))
                setAside(QStringLiteral("the file cannot be read"));
            return {};
        }
        QString problem;
        if (std::optional<QList<Item>> items = decodeJsonArray<Item>(*bytes, m_itemName, problem))
            return std::move(*items);
        setAside(problem);
        return {};
    }

    // Replaces the file with `bytes` atomically; false when it could not.
    bool write(const QByteArray& bytes)
    {
        if (m_unreadableInPlace) {
            if (QFileInfo::exists(m_path) && !PrivateFiles::moveAside(m_path)) {
                m_log.error(
                    QStringLiteral("Saving %1 failed: an unreadable %1 file cannot be moved aside").arg(m_subject));
                m_unsaved = true;
                return false;
            }
            m_unreadableInPlace = false;
        }
        if (const std::optional<PrivateFiles::WriteError> failure = PrivateFiles::tryWriteAtomically(m_path, bytes)) {
            m_log.error(QStringLiteral("Saving %1 failed: ").arg(m_subject) + failure->description);
            m_unsaved = true;
            return false;
        }
        m_unsaved = false;
        return true;
    }

private:
    void setAside(const QString& problem)
    {
        QString subject = m_subject;
        subject[0] = subject[0].toUpper();
        m_log.error(subject + QStringLiteral(" unreadable, moving aside: ") + problem);
        const std::optional<QString> aside = PrivateFiles::moveAside(m_path);
        m_unreadableInPlace = !aside;
        if (aside)
            m_setAsideAs = QFileInfo(*aside).fileName();
    }

    QString m_path;
    QString m_subject;
    QString m_itemName;
    VellLog m_log;
    bool m_unreadableInPlace = false;
    bool m_unsaved = false;
    std::optional<QString> m_setAsideAs;
};

// When a store reads its file: in its constructor, or shortly after start-up
// on a thread of its own, so that the tray icon and the shortcut don't wait
// for a long history nor share the processor with it.
enum class StoredFileLoading { now, inBackground };

// Reads a JsonArrayFile on a thread of its own, some time after it is asked
// to. The file object goes to that thread and comes back with the items, so
// one thread at a time uses it.
template <typename Item> class JsonArrayFileRead
{
public:
    static constexpr std::chrono::milliseconds kDelay{500};

    struct Result
    {
        JsonArrayFile file;
        QList<Item> items;
    };

    // Starts reading after kDelay; `ready` runs on `receiver`'s thread once the
    // items are read, and take() then returns without waiting.
    void start(JsonArrayFile file, QObject* receiver, std::function<void()> ready)
    {
        m_waiting.emplace(Waiting{std::move(file), receiver, std::move(ready)});
        QTimer::singleShot(kDelay, receiver, [this] { launch(); });
    }

    bool isRunning() const { return m_waiting.has_value() || m_result.valid(); }

    // The result, reading or waiting for it now if need be; none when no read
    // was asked for or its result was taken.
    std::optional<Result> take()
    {
        if (m_waiting) {
            Result result{std::move(m_waiting->file), {}};
            m_waiting.reset();
            result.items = result.file.template load<Item>();
            return result;
        }
        if (!m_result.valid())
            return std::nullopt;
        return m_result.get();
    }

    // Drops a read not started yet and waits for one running: nobody needs the items.
    void abandon()
    {
        m_waiting.reset();
        if (m_result.valid())
            m_result.wait();
    }

private:
    struct Waiting
    {
        JsonArrayFile file;
        QObject* receiver;
        std::function<void()> ready;
    };

    void launch()
    {
        if (!m_waiting)
            return;
        Waiting waiting = std::move(*m_waiting);
        m_waiting.reset();
        m_result = std::async(std::launch::async, [waiting = std::move(waiting)] {
            Result result{waiting.file, {}};
            result.items = result.file.template load<Item>();
            QMetaObject::invokeMethod(waiting.receiver, waiting.ready, Qt::QueuedConnection);
            return result;
        });
    }

    std::optional<Waiting> m_waiting;
    std::future<Result> m_result;
};
