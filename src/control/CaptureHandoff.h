#pragma once

#include <QByteArray>

#include <functional>
#include <memory>
#include <mutex>

class AudioStream;

// Hands a dictation's captured audio and level from the capture's thread to
// the main thread in fewer, larger steps, since each step wakes the main
// thread and the wake-ups are most of what listening costs: the audio in
// frames of at least 100 ms (the services are sent nothing smaller anyway),
// the level as the loudest since the last one, paced by the audio: once
// 50 ms of it have come, and with each frame, just before it, so that the two
// wake the main thread once. That is twenty a second, what the eye follows on
// a meter, and a level goes out only once it moved by what a meter can show.
//
// addLevel() and add() are called on the capture's thread, a block's level
// before the block; flush() on the main thread once the capture no longer
// calls in, so the last part of a frame goes out before the stream ends.
class CaptureHandoff
{
public:
    static constexpr qsizetype kFrameBytes = 3200; // 100 ms of 16 kHz 16-bit mono
    static constexpr qsizetype kLevelBytes = 1600; // 50 ms
    // A fifth of a pixel on the panel's meter, far below a step of the tray's.
    static constexpr float kLevelResolution = 0.005f;

    CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> postLevel);

    void addLevel(float level);
    void add(const QByteArray& block);
    void flush();

private:
    void postLevel();

    std::shared_ptr<AudioStream> m_audio;
    std::function<void(float)> m_postLevel;
    std::mutex m_mutex;
    QByteArray m_frame;
    qsizetype m_sinceLevel = 0; // bytes of audio since the last level
    float m_loudest = 0;
    float m_levelPosted = -1; // none yet
};
