#pragma once

#include "transcription/AudioStream.h"
#include "transcription/StreamingTranscriber.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <memory>

// A session the test speaks for: whatever it says is what the service said.
class FakeTranscriptionSession final : public TranscriptionSession
{
public:
    void say(const TranscriptEvent& event) { Q_EMIT eventReceived(event); }
    void end(const std::optional<TranscriptionError>& error = std::nullopt) { Q_EMIT finished(error); }
};

// A base transcriber whose every call the test can see and script: the audio
// stream it was given, the configuration, and the session (null once the
// caller destroyed it).
class FakeStreamingTranscriber final : public StreamingTranscriber
{
public:
    struct Call
    {
        std::shared_ptr<AudioStream> audio;
        TranscriberConfig config;
        QPointer<FakeTranscriptionSession> session;
    };

    QList<Call> calls;
    // Runs for each new session before it is handed out (it must not emit yet).
    std::function<void(FakeTranscriptionSession&)> onTranscribe;

    std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream> audio,
                                                     const TranscriberConfig& config) override
    {
        auto session = std::make_unique<FakeTranscriptionSession>();
        calls.append({std::move(audio), config, session.get()});
        if (onTranscribe)
            onTranscribe(*session);
        return session;
    }

    FakeTranscriptionSession& last() { return *calls.last().session; }
};
