#pragma once

#include <QByteArray>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class AudioStream;

// Hands a dictation's captured audio and level from the capture's thread to
// the main thread in fewer, larger steps, since each step wakes the main
// thread and the wake-ups are most of what listening costs: the audio in
// frames of at least 100 ms (the services are sent nothing smaller anyway),
// the level as the loudest since the last one, at most every 40 ms (more than
// the eye follows on a meter) and only once it moved by what a meter can show.
//
// add() and addLevel() are called on the capture's thread; flush() on the
// main thread once the capture no longer calls in, so the last part of a
// frame goes out before the stream ends.
class CaptureHandoff
{
public:
    static constexpr qsizetype kFrameBytes = 3200; // 100 ms of 16 kHz 16-bit mono
    static constexpr std::chrono::milliseconds kLevelInterval{40};
    // A fifth of a pixel on the panel's meter, far below a step of the tray's.
    static constexpr float kLevelResolution = 0.005f;

    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> postLevel,
                   Clock clock = &std::chrono::steady_clock::now);

    void add(QByteArray block);
    void addLevel(float level);
    void flush();

private:
    std::shared_ptr<AudioStream> m_audio;
    std::function<void(float)> m_postLevel;
    Clock m_clock;
    std::mutex m_mutex;
    QByteArray m_frame;
    float m_loudest = 0;
    float m_levelPosted = -1; // none yet
    std::chrono::steady_clock::time_point m_levelPostedAt{};
};
