#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <utility>

CaptureHandoff::CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> postLevel, Clock clock)
    : m_audio(std::move(audio)), m_postLevel(std::move(postLevel)), m_clock(std::move(clock))
{}

void CaptureHandoff::add(QByteArray block)
{
    // Pushed under the lock, so a frame and the rest flush() sends can't cross.
    std::lock_guard lock(m_mutex);
    m_frame += block;
    if (m_frame.size() >= kFrameBytes)
        m_audio->push(std::exchange(m_frame, {}));
}

void CaptureHandoff::addLevel(float level)
{
    float loudest = 0;
    {
        std::lock_guard lock(m_mutex);
        m_loudest = std::max(m_loudest, level);
        const auto now = m_clock();
        if (now - m_levelPostedAt < kLevelInterval)
            return;
        m_levelPostedAt = now;
        loudest = std::exchange(m_loudest, 0.0f);
        // Silence, or a steady hum, would wake the main thread for nothing.
        if (std::abs(loudest - m_levelPosted) < kLevelResolution)
            return;
        m_levelPosted = loudest;
    }
    m_postLevel(loudest);
}

void CaptureHandoff::flush()
{
    std::lock_guard lock(m_mutex);
    if (!m_frame.isEmpty())
        m_audio->push(std::exchange(m_frame, {}));
}
