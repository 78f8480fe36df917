#pragma once

#include "transcription/StreamingTranscriber.h"

#include <chrono>

struct MockTranscriberTimings
{
    std::chrono::milliseconds wordInterval{220};  // before each word appears
    std::chrono::milliseconds closingDelay{1000}; // between the end of the audio and the end of the session
};

// The demo transcriber: plays a fixed three-sentence script, word by word,
// whatever the audio says, and needs no network and no key. It ignores the
// audio but waits for it to end, then ends one second later.
class MockTranscriber final : public StreamingTranscriber
{
public:
    using Timings = MockTranscriberTimings;

    struct Line
    {
        const char* language;
        const char* sentence;
    };
    static const Line kDemoScript[3];

    explicit MockTranscriber(Timings timings = {}) : m_timings(timings) {}

    std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream> audio,
                                                     const TranscriberConfig& config) override;

private:
    Timings m_timings;
};
