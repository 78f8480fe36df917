#include "transcription/AudioRelay.h"

#include "transcription/AudioStream.h"

#include <utility>

void AudioRelay::push(QByteArray chunk)
{
    if (!m_current) {
        hold({std::move(chunk)});
        return;
    }
    if (!m_confirmed)
        m_unconfirmed.append(chunk);
    m_current->push(std::move(chunk));
}

void AudioRelay::hold(QList<QByteArray> chunks)
{
    for (QByteArray& chunk : chunks) {
        m_heldBytes += chunk.size();
        m_held.append(std::move(chunk));
    }
    while (m_heldBytes > kHeldByteLimit && !m_held.isEmpty())
        m_heldBytes -= m_held.takeFirst().size();
}

std::shared_ptr<AudioStream> AudioRelay::makeStream()
{
    // Room for the whole replay on top of the usual allowance: small chunks
    // must not push replayed audio out of the stream before it is read.
    auto stream = std::make_shared<AudioStream>(kAttemptStreamCapacity + int(m_held.size()));
    for (const QByteArray& chunk : std::as_const(m_held))
        stream->push(chunk);
    m_unconfirmed = std::exchange(m_held, {});
    m_heldBytes = 0;
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
}

void AudioRelay::detach()
{
    if (m_current) {
        m_current->finish();
        m_current.reset();
    }
    QList<QByteArray> chunks = std::exchange(m_unconfirmed, {});
    chunks.append(std::exchange(m_held, {}));
    m_heldBytes = 0;
    hold(std::move(chunks));
}

void AudioRelay::markFinished()
{
    m_finished = true;
    if (m_current) {
        m_current->finish();
        m_current.reset();
    }
}
