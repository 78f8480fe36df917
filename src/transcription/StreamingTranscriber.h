#pragma once

#include "transcription/TranscriberConfig.h"
#include "transcription/TranscriptEvent.h"
#include "transcription/TranscriptionError.h"
#include "transcription/TranscriptionProvider.h"

#include <QObject>

#include <memory>
#include <optional>

class AudioStream;

// One dictation's transcription. It reads its audio stream, reports events
// and ends exactly once with `finished`: without an error after the audio has
// ended and the service has delivered its last text, or with one when the
// session failed; nothing is emitted after that. Its first signal comes from
// the event loop, never from inside transcribe(), so the caller can connect
// first. Destroying the session cancels it: its sockets and timers go with it.
// Main thread only.
class TranscriptionSession : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    void eventReceived(const TranscriptEvent& event);
    void finished(const std::optional<TranscriptionError>& error);
};

// A speech service.
class StreamingTranscriber
{
public:
    virtual ~StreamingTranscriber() = default;

    virtual std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream> audio,
                                                             const TranscriberConfig& config) = 0;
};

// The transcriber for a provider: the network services wrapped so that a
// dropped connection is made again, the demo bare.
std::unique_ptr<StreamingTranscriber> makeTranscriber(TranscriptionProvider provider);
