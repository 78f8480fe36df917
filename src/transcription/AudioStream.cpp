#include "transcription/AudioStream.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>

AudioStream::AudioStream(int capacity, QObject* parent) : QObject(parent), m_capacity(qMax(1, capacity)) {}

void AudioStream::push(QByteArray chunk)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_chunks.push_back(std::move(chunk));
        while (m_chunks.size() > size_t(m_capacity)) {
            m_chunks.pop_front();
            ++m_dropped;
        }
    }
    wakeConsumer();
}

void AudioStream::finish()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = true;
    }
    wakeConsumer();
}

// Pushed on the stream's own thread, the consumer hears of it at once (a
// stop's last audio goes out before anything else happens); from another
// thread, by one queued wake-up at a time, however many chunks arrive before
// it is handled. A consumer that pushes back into the stream while it is being
// told is told again from the event loop rather than from inside itself.
void AudioStream::wakeConsumer()
{
    if (QThread::currentThread() == thread() && !m_telling) {
        const QPointer<AudioStream> alive(this);
        m_telling = true;
        Q_EMIT readyRead();
        if (alive)
            m_telling = false;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_wakePending)
            return;
        m_wakePending = true;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                std::lock_guard lock(m_mutex);
                m_wakePending = false;
            }
            Q_EMIT readyRead();
        },
        Qt::QueuedConnection);
}

std::optional<QByteArray> AudioStream::take()
{
    std::lock_guard lock(m_mutex);
    if (m_chunks.empty())
        return std::nullopt;
    QByteArray chunk = std::move(m_chunks.front());
    m_chunks.pop_front();
    return chunk;
}

QList<QByteArray> AudioStream::takeAll()
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> chunks;
    chunks.reserve(qsizetype(m_chunks.size()));
    for (QByteArray& chunk : m_chunks)
        chunks.append(std::move(chunk));
    m_chunks.clear();
    return chunks;
}

bool AudioStream::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished;
}

bool AudioStream::atEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_finished && m_chunks.empty();
}

qint64 AudioStream::droppedChunks() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}
