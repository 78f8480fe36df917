#pragma once

#include "transcription/AudioStream.h"
#include "transcription/StreamingTranscriber.h"

#include <QList>

#include <memory>
#include <optional>
#include <ostream>

// One transcribe() of a transcriber with its own audio stream, recording what
// the session reports: every event in order, every `finished` and its error.
// Destroying the run destroys the session, which cancels it.
class TranscriptionRun
{
public:
    TranscriptionRun(StreamingTranscriber& transcriber, const TranscriberConfig& config);

    void push(const QByteArray& chunk) { audio->push(chunk); }
    void endAudio() { audio->finish(); }
    void cancel() { session.reset(); }

    bool waitForEvents(qsizetype count, int timeoutMs = 5000) const;
    bool waitForEvent(const TranscriptEvent& event, int timeoutMs = 5000) const;
    bool waitForEnd(int timeoutMs = 5000) const;
    bool hasEnded() const { return endings > 0; }

    std::shared_ptr<AudioStream> audio;
    std::unique_ptr<TranscriptionSession> session;
    QList<TranscriptEvent> events;
    int endings = 0;
    std::optional<TranscriptionError> error;
    // Events that arrived after `finished`.
    int lateEvents = 0;
};

// Readable failures.
static inline void PrintTo(const TranscriptEvent& event, std::ostream* out)
{
    static const char* const kKinds[] = {"interim", "final", "language", "connected", "reconnecting"};
    *out << kKinds[int(event.kind)];
    if (!event.text.isNull())
        *out << "(\"" << event.text.toStdString() << "\")";
}

static inline void PrintTo(const TranscriptionError& error, std::ostream* out)
{
    static const char* const kKinds[] = {"provider", "network", "connectionLost"};
    *out << kKinds[int(error.kind)] << "(\"" << error.description().toStdString() << "\")";
}
