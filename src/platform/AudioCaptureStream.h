#pragma once

#include <QtGlobal>

#include <functional>

// One recording of an input device, converted by the backend to 16 kHz mono
// signed 16-bit samples.
//
// `frames` is called on the backend's own capture thread with blocks of
// exactly kBlockFrames samples. `event` may be called on any thread, also
// from inside the call that opened the stream: first `started` or `failed`,
// then at most one of `moved` (the platform switched the recording to another
// device) or `killed` (the recording ended by itself). Destroying the stream
// stops it; no handler is called once the destructor has returned. Create and
// destroy it on one thread.
class AudioCaptureStream
{
public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kBlockFrames = 320; // 20 ms

    struct Event
    {
        enum class Type { started, failed, moved, killed };

        Type type = Type::started;
        int deviceSampleRate = 0; // started: the device's own format
        int deviceChannels = 0;
        int errorCode = 0; // failed, killed: the platform's status
    };

    struct Handlers
    {
        std::function<void(const qint16* samples, qsizetype frameCount)> frames;
        std::function<void(const Event& event)> event;
    };

    AudioCaptureStream() = default;
    AudioCaptureStream(const AudioCaptureStream&) = delete;
    AudioCaptureStream& operator=(const AudioCaptureStream&) = delete;
    virtual ~AudioCaptureStream() = default;
};
