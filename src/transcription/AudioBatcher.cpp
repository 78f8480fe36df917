#include "transcription/AudioBatcher.h"

#include <utility>

std::optional<QByteArray> AudioBatcher::add(const QByteArray& chunk)
{
    m_buffer.append(chunk);
    if (m_buffer.size() < kBatchBytes)
        return std::nullopt;
    return std::exchange(m_buffer, {});
}

std::optional<QByteArray> AudioBatcher::finish()
{
    if (m_buffer.isEmpty())
        return std::nullopt;
    QByteArray last = std::exchange(m_buffer, {});
    if (last.size() < kShortestLastBatchBytes)
        last.append(kShortestLastBatchBytes - last.size(), '\0');
    return last;
}
