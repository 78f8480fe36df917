#include "support/TranscriptionRun.h"

#include <QTest>

TranscriptionRun::TranscriptionRun(StreamingTranscriber& transcriber, const TranscriberConfig& config)
    : audio(std::make_shared<AudioStream>(100'000)), session(transcriber.transcribe(audio, config))
{
    QObject::connect(session.get(), &TranscriptionSession::eventReceived, session.get(),
                     [this](const TranscriptEvent& event) {
                         events.append(event);
                         if (endings > 0)
                             ++lateEvents;
                     });
    QObject::connect(session.get(), &TranscriptionSession::finished, session.get(),
                     [this](const std::optional<TranscriptionError>& ending) {
                         ++endings;
                         error = ending;
                     });
}

bool TranscriptionRun::waitForEvents(qsizetype count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
}

bool TranscriptionRun::waitForEvent(const TranscriptEvent& event, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return events.contains(event); }, timeoutMs);
}

bool TranscriptionRun::waitForEnd(int timeoutMs) const
{
    return QTest::qWaitFor([&] { return endings > 0; }, timeoutMs);
}
