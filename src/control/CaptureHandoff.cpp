#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <utility>

CaptureHandoff::CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> showLevel,
                               std::function<void()> wake)
    : m_audio(std::move(audio)), m_showLevel(std::move(showLevel)), m_wake(std::move(wake))
{}

void CaptureHandoff::addLevel(float level)
{
    std::lock_guard lock(m_mutex);
    m_loudest = std::max(m_loudest, level);
}

void CaptureHandoff::add(const QByteArray& block)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        const bool waiting = m_level || !m_frames.isEmpty();
        if (m_frame.isEmpty()) {
            m_frame = std::exchange(m_spare, {});
            m_frame.reserve(kFrameBytes);
        }
        m_frame += block;
        m_sinceLevel += block.size();
        const bool frameDone = m_frame.size() >= kFrameBytes;
        if (frameDone || m_sinceLevel >= kLevelBytes)
            takeLevel();
        if (frameDone)
            m_frames.append(std::exchange(m_frame, {}));
        wake = !waiting && (m_level || !m_frames.isEmpty());
    }
    if (wake)
        m_wake();
}

void CaptureHandoff::takeLevel()
{
    m_sinceLevel = 0;
    const float loudest = std::exchange(m_loudest, 0.0f);
    // Silence, or a steady hum, would wake the main thread for nothing.
    if (std::abs(loudest - m_levelTaken) < kLevelResolution)
        return;
    m_levelTaken = loudest;
    m_level = loudest;
}

void CaptureHandoff::deliver()
{
    std::optional<float> level;
    QList<QByteArray> frames;
    bool needsSpare = false;
    {
        std::lock_guard lock(m_mutex);
        level = std::exchange(m_level, std::nullopt);
        frames = std::exchange(m_frames, {});
        needsSpare = m_spare.isNull();
    }
    if (needsSpare) {
        QByteArray spare;
        spare.reserve(kFrameBytes);
        std::lock_guard lock(m_mutex);
        m_spare = std::move(spare);
    }
    if (level)
        m_showLevel(*level);
    for (QByteArray& frame : frames)
        m_audio->push(std::move(frame));
}

void CaptureHandoff::flush()
{
    deliver();
    std::lock_guard lock(m_mutex);
    if (!m_frame.isEmpty())
        m_audio->push(std::exchange(m_frame, {}));
}
