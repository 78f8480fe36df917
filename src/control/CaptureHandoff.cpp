#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <algorithm>
#include <utility>

CaptureHandoff::CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> postLevel, Clock clock)
    : m_audio(std::move(audio)), m_postLevel(std::move(postLevel)), m_clock(std::move(clock))
{}

void CaptureHandoff::add(QByteArray block)
{
    QByteArray frame;
    {
        std::lock_guard lock(m_mutex);
        m_frame += block;
        if (m_frame.size() < kFrameBytes)
            return;
        frame = std::exchange(m_frame, {});
    }
    m_audio->push(std::move(frame));
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
    }
    m_postLevel(loudest);
}

void CaptureHandoff::flush()
{
    QByteArray frame;
    {
        std::lock_guard lock(m_mutex);
        frame = std::exchange(m_frame, {});
    }
    if (!frame.isEmpty())
        m_audio->push(std::move(frame));
}
