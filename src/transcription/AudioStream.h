#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include <deque>
#include <mutex>
#include <optional>

// The audio of one dictation on its way from the capture thread to the
// transcriber: 16 kHz mono 16-bit chunks, of which it keeps the newest
// `capacity` when the consumer falls behind.
//
// push() and finish() may be called from any thread; everything else belongs
// to the thread the stream lives on (the main thread), where `readyRead` is
// delivered whenever chunks have arrived or the stream was finished: at once
// when that happened on this thread, from the event loop when on another.
class AudioStream : public QObject
{
    Q_OBJECT

public:
    static constexpr int kDefaultCapacity = 500;

    explicit AudioStream(int capacity = kDefaultCapacity, QObject* parent = nullptr);

    void push(QByteArray chunk);
    // No more chunks will come; later pushes are ignored.
    void finish();

    // The oldest chunk not yet taken.
    std::optional<QByteArray> take();
    QList<QByteArray> takeAll();

    bool isFinished() const;
    // Finished and every chunk taken.
    bool atEnd() const;
    // Chunks thrown away because the consumer fell behind.
    qint64 droppedChunks() const;

Q_SIGNALS:
    void readyRead();

private:
    void wakeConsumer();

    const int m_capacity;
    mutable std::mutex m_mutex;
    std::deque<QByteArray> m_chunks;
    bool m_finished = false;
    bool m_wakePending = false;
    bool m_telling = false; // own thread only
    qint64 m_dropped = 0;
};
