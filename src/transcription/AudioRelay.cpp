#include "transcription/AudioRelay.h"

#include "transcription/AudioStream.h"

#include <utility>

void AudioRelay::keep(QList<QByteArray>& chunks, qsizetype& bytes, QList<QByteArray> more)
{
    for (QByteArray& chunk : more) {
        bytes += chunk.size();
        chunks.append(std::move(chunk));
    }
    while (bytes > kHeldByteLimit && !chunks.isEmpty())
        bytes -= chunks.takeFirst().size();
}

void AudioRelay::push(QByteArray chunk)
{
    if (!m_current) {
        keep(m_held, m_heldBytes, {std::move(chunk)});
        return;
    }
    if (!m_confirmed)
        keep(m_unconfirmed, m_unconfirmedBytes, {chunk});
    m_current->push(std::move(chunk));
}

std::shared_ptr<AudioStream> AudioRelay::makeStream()
{
    // Room for the whole replay on top of the usual allowance: small chunks
    // must not push replayed audio out of the stream before it is read.
    auto stream = std::make_shared<AudioStream>(kAttemptStreamCapacity + int(m_held.size()));
    for (const QByteArray& chunk : std::as_const(m_held))
        stream->push(chunk);
    m_unconfirmed = std::exchange(m_held, {});
    m_unconfirmedBytes = std::exchange(m_heldBytes, 0);
    m_confirmed = false;
    if (m_finished)
        stream->finish();
    else
        m_current = stream;
    return stream;
}

void AudioRelay::confirm()
{
    m_confirmed = true;
    m_unconfirmed.clear();
    m_unconfirmedBytes = 0;
}

void AudioRelay::detach()
{
    if (m_current) {
        m_current->finish();
        m_current.reset();
    }
    QList<QByteArray> chunks = std::exchange(m_unconfirmed, {});
    m_unconfirmedBytes = 0;
    chunks.append(std::exchange(m_held, {}));
    m_heldBytes = 0;
    keep(m_held, m_heldBytes, std::move(chunks));
}

void AudioRelay::markFinished()
{
    m_finished = true;
    if (m_current) {
        m_current->finish();
        m_current.reset();
    }
}
