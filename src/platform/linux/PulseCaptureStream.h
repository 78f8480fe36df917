#pragma once

#include "platform/AudioCaptureStream.h"

#include <QString>

#include <array>

class PulseConnection;
struct pa_operation;
struct pa_stream;

// A PulseAudio record stream of 16 kHz mono s16le, resampled by the server.
// A 20 ms fragment size keeps the server from collecting audio into long
// bursts; the pieces it hands over still vary in size, so they are cut into
// blocks of exactly kBlockFrames here. Holes in the stream are skipped.
class PulseCaptureStream final : public AudioCaptureStream
{
public:
    // An empty `sourceName` records the server's default source.
    PulseCaptureStream(PulseConnection& connection, const QString& sourceName, Handlers handlers);
    ~PulseCaptureStream() override;

private:
    // On libpulse's thread.
    void onStateChanged();
    // `readable` bytes wait; each call into the library costs a system call of its own.
    void onReadable(size_t readable);
    void append(const char* bytes, size_t count);
    void report(Event::Type type, int errorCode = 0, int sampleRate = 0, int channels = 0);
    void release();

    PulseConnection& m_connection;
    Handlers m_handlers;
    pa_stream* m_stream = nullptr;
    pa_operation* m_formatQuery = nullptr;
    bool m_wasReady = false;
    std::array<qint16, kBlockFrames> m_block{};
    size_t m_blockBytes = 0;
};
