#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class AudioStream;

// Hands a dictation's captured audio and level from the capture's thread to
// the main thread in fewer, larger steps, since each step wakes the main
// thread and the wake-ups are most of what listening costs: the audio in
// frames of at least 100 ms (the services are sent nothing smaller anyway),
// the level as the loudest since the last one, paced by the audio: once
// 50 ms of it have come, and with each frame. That is twenty a second, what
// the eye follows on a meter, and a level goes out only once it moved by what
// a meter can show. A level and its frame go in one wake-up: the capture's
// thread asks for one only when nothing waits yet, and the main thread then
// takes all that waits.
//
// addLevel() and add() are called on the capture's thread, a block's level
// before the block; deliver() and flush() on the main thread, flush() once
// the capture no longer calls in, so the last part of a frame goes out,
// after every whole one, before the stream ends.
class CaptureHandoff
{
public:
    static constexpr qsizetype kFrameBytes = 3200; // 100 ms of 16 kHz 16-bit mono
    static constexpr qsizetype kLevelBytes = 1600; // 50 ms
    // A fifth of a pixel on the panel's meter, far below a step of the tray's.
    static constexpr float kLevelResolution = 0.005f;

    // `showLevel` gets each level on the main thread. `wake` is called on the
    // capture's thread when something waits where nothing did; it should have
    // deliver() called on the main thread.
    CaptureHandoff(std::shared_ptr<AudioStream> audio, std::function<void(float)> showLevel,
                   std::function<void()> wake);

    void addLevel(float level);
    void add(const QByteArray& block);

    // The level that waits, then the frames that do.
    void deliver();
    // deliver(), and then the part of a frame gathered so far.
    void flush();

private:
    void takeLevel();

    const std::shared_ptr<AudioStream> m_audio;
    const std::function<void(float)> m_showLevel;
    const std::function<void()> m_wake;
    std::mutex m_mutex;
    QByteArray m_frame;
    // Room for the next frame, made on the main thread, where frames are
    // freed once sent: made on the capture's thread, every frame grew and
    // shrank that thread's heap.
    QByteArray m_spare;
    qsizetype m_sinceLevel = 0; // bytes of audio since the last level
    float m_loudest = 0;
    float m_levelTaken = -1; // none yet
    // What waits for the main thread.
    std::optional<float> m_level;
    QList<QByteArray> m_frames;
};
