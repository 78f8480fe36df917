#include "control/CaptureHandoff.h"

#include "transcription/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <utility>

CaptureHandoff::CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> postLevel)
    : m_audio(std::move(audio)), m_postLevel(std::move(postLevel))
{}

void CaptureHandoff::addLevel(float level)
{
    std::lock_guard lock(m_mutex);
    m_loudest = std::max(m_loudest, level);
}

void CaptureHandoff::add(const QByteArray& block)
{
    // Pushed under the lock, so a frame and the rest flush() sends can't cross.
    std::lock_guard lock(m_mutex);
    if (m_frame.isEmpty())
        m_frame.reserve(kFrameBytes);
    m_frame += block;
    m_sinceLevel += block.size();
    const bool frameDone = m_frame.size() >= kFrameBytes;
    if (frameDone || m_sinceLevel >= kLevelBytes)
        postLevel();
    if (frameDone)
        m_audio->push(std::exchange(m_frame, {}));
}

void CaptureHandoff::postLevel()
{
    m_sinceLevel = 0;
    const float loudest = std::exchange(m_loudest, 0.0f);
    // Silence, or a steady hum, would wake the main thread for nothing.
    if (std::abs(loudest - m_levelPosted) < kLevelResolution)
        return;
    m_levelPosted = loudest;
    m_postLevel(loudest);
}

void CaptureHandoff::flush()
{
    std::lock_guard lock(m_mutex);
    if (!m_frame.isEmpty())
        m_audio->push(std::exchange(m_frame, {}));
}
