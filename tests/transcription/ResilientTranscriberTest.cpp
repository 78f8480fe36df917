#include "transcription/ResilientTranscriber.h"

#include "fakes/FakeStreamingTranscriber.h"
#include "storage/DebugLogFile.h"
#include "storage/VellLog.h"
#include "transcription/AssemblyAITranscriber.h"
#include "transcription/AudioRelay.h"
#include "transcription/MockTranscriber.h"
#include "transcription/SonioxTranscriber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Event = TranscriptEvent;

const QString kLost = u"Lost the connection to AssemblyAI. What you said after it dropped wasn't transcribed."_qs;
const QString kUnreachable =
    u"Couldn't reach AssemblyAI. Check that this network has a working internet connection."_qs;

const ResilientTranscriberTimings kFast{.connectTimeout = 2000ms, .backoff = {5ms, 10ms, 15ms}};

// A chunk that can be told apart from every other one.
QByteArray chunk(int id, qsizetype size = 640)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((id * 31 + i) & 0xff);
    return bytes;
}

// One dictation through the wrapper over a scripted base.
class Dictation
{
public:
    explicit Dictation(const ResilientTranscriberTimings& t = kFast, const VellLog* log = nullptr)
        : base(std::make_shared<FakeStreamingTranscriber>()), microphone(std::make_shared<AudioStream>(100'000)),
          session(ResilientTranscriber(base, u"AssemblyAI"_qs, t, log).transcribe(microphone, {}))
    {
        QObject::connect(session.get(), &TranscriptionSession::eventReceived, session.get(),
                         [this](const TranscriptEvent& event) { events.append(event); });
        QObject::connect(session.get(), &TranscriptionSession::finished, session.get(),
                         [this](const std::optional<TranscriptionError>& e) {
                             ++endings;
                             error = e;
                         });
    }

    FakeTranscriptionSession& attempt() { return base->last(); }
    std::shared_ptr<AudioStream> attemptAudio() { return base->calls.last().audio; }

    bool waitForAttempts(qsizetype count, int timeoutMs = 2000)
    {
        return QTest::qWaitFor([&] { return base->calls.size() >= count; }, timeoutMs);
    }
    bool waitForEnd(int timeoutMs = 2000)
    {
        return QTest::qWaitFor([&] { return endings > 0; }, timeoutMs);
    }

    // Microphone audio, handed on by the wrapper before this returns.
    void speak(const QList<QByteArray>& chunks)
    {
        for (const QByteArray& c : chunks)
            microphone->push(c);
        QCoreApplication::processEvents();
    }

    void drop() { attempt().end(TranscriptionError::connectionLost()); }

    QList<TranscriptEvent> ofKind(Event::Kind kind) const
    {
        QList<TranscriptEvent> found;
        for (const TranscriptEvent& event : events)
            if (event.kind == kind)
                found.append(event);
        return found;
    }

    std::shared_ptr<FakeStreamingTranscriber> base;
    std::shared_ptr<AudioStream> microphone;
    std::unique_ptr<TranscriptionSession> session;
    QList<TranscriptEvent> events;
    int endings = 0;
    std::optional<TranscriptionError> error;
};

TEST(ResilientTranscriber, AConnectedSessionIsPassedThroughAndEndsAfterTheMicrophone)
{
    Dictation run;
    const QList<TranscriptEvent> said{Event::connected(), Event::language(u"en"_qs), Event::interim(u"hel"_qs),
                                      Event::finalText(u"Hello."_qs), Event::interim(QString())};
    for (const TranscriptEvent& event : said)
        run.attempt().say(event);
    run.speak({chunk(1)});
    run.microphone->finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.attemptAudio()->isFinished(); }, 2000));
    EXPECT_EQ(run.attemptAudio()->takeAll(), QList<QByteArray>{chunk(1)});
    run.attempt().end();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.events, said);
    EXPECT_FALSE(run.error);
    EXPECT_EQ(run.base->calls.size(), 1);
}

TEST(ResilientTranscriber, ADroppedAttemptsLiveTextBecomesFinalExactlyOnce)
{
    Dictation run;
    run.attempt().say(Event::connected());
    run.attempt().say(Event::interim(u"hello wor"_qs));
    run.drop();
    EXPECT_EQ(run.events, (QList<TranscriptEvent>{Event::connected(), Event::interim(u"hello wor"_qs),
                                                  Event::finalText(u"hello wor"_qs), Event::interim(QString()),
                                                  Event::reconnecting()}));
    ASSERT_TRUE(run.waitForAttempts(2));
    run.attempt().say(Event::connected());
    EXPECT_EQ(run.events.last(), Event::connected());

    // Blank live text is not worth a segment; a service that ends normally
    // while the microphone runs has dropped as well.
    run.attempt().say(Event::interim(u" \n"_qs));
    run.attempt().end();
    ASSERT_TRUE(run.waitForAttempts(3));
    run.attempt().say(Event::connected());
    run.microphone->finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.attemptAudio()->isFinished(); }, 2000));
    run.attempt().end();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_FALSE(run.error);
    EXPECT_EQ(run.ofKind(Event::Kind::final), QList<TranscriptEvent>{Event::finalText(u"hello wor"_qs)});
    EXPECT_EQ(run.ofKind(Event::Kind::reconnecting).size(), 2);
}

// The waits themselves are the behaviour here, so the real timings run.
TEST(ResilientTranscriber, FourDropsInARowWaitAQuarterOneAndTwoSecondsThenGiveUp)
{
    QTemporaryDir dir;
    DebugLogFile file(dir.path(), u"test"_qs);
    const VellLog log("network", &file);
    Dictation run(ResilientTranscriberTimings{}, &log);

    const std::chrono::milliseconds expected[] = {250ms, 1000ms, 2000ms};
    QElapsedTimer clock;
    for (int n = 0; n < 3; ++n) {
        run.attempt().say(Event::connected());
        run.drop();
        clock.start();
        ASSERT_TRUE(run.waitForAttempts(n + 2, 4000));
        EXPECT_GE(clock.elapsed(), expected[n].count() - 5);
        EXPECT_LT(clock.elapsed(), expected[n].count() + 500);
    }
    run.attempt().say(Event::connected());
    run.drop();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.error, TranscriptionError::network(kLost));
    EXPECT_EQ(run.ofKind(Event::Kind::reconnecting).size(), 3);
    EXPECT_EQ(run.base->calls.size(), 4);

    file.flush();
    QFile written(*file.path());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(written.readAll());
    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(text.contains(u"network: AssemblyAI connection lost (connection lost); reconnecting, attempt "_qs +
                                  QString::number(n) + QLatin1Char('\n')))
            << text.toStdString();
    EXPECT_FALSE(text.contains(u"attempt 4"_qs));
}

TEST(ResilientTranscriber, FinalTextRestoresTheAllowanceButBlankFinalsDoNot)
{
    {
        // Were the allowance not restored, the second wait would outlast the test.
        Dictation run(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {5ms, 60s, 60s}});
        for (int n = 0; n < 6; ++n) {
            run.attempt().say(Event::connected());
            run.attempt().say(Event::finalText(u"Segment %1."_qs.arg(n)));
            run.drop();
            ASSERT_TRUE(run.waitForAttempts(n + 2, 1000)) << n;
        }
        EXPECT_EQ(run.endings, 0);
    }
    {
        Dictation run;
        for (int n = 0; n < 4; ++n) {
            ASSERT_TRUE(run.waitForAttempts(n + 1));
            run.attempt().say(Event::connected());
            run.attempt().say(Event::finalText(u"  "_qs));
            run.drop();
        }
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.error, TranscriptionError::network(kLost));
    }
}

TEST(ResilientTranscriber, FortySecondsKeepOnlyTheNewestThirtyInWholeChunks)
{
    // Mostly small chunks, so that the replay alone is more than an attempt's usual buffer.
    const qsizetype sizes[] = {320, 2, 640, 96, 1001};
    QList<QByteArray> spoken;
    qsizetype total = 0;
    for (int id = 0; total < 40 * 32'000; ++id) {
        spoken.append(chunk(id, sizes[id % 5]));
        total += spoken.last().size();
    }
    qsizetype kept = 0;
    qsizetype first = spoken.size();
    while (first > 0 && kept + spoken[first - 1].size() <= AudioRelay::kHeldByteLimit)
        kept += spoken[--first].size();
    const QList<QByteArray> newest = spoken.mid(first);
    ASSERT_GT(newest.size(), AudioRelay::kAttemptStreamCapacity);

    {
        // Captured while no attempt listens.
        Dictation run(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {300ms}});
        run.attempt().say(Event::connected());
        run.drop();
        run.speak(spoken);
        ASSERT_TRUE(run.waitForAttempts(2));
        EXPECT_EQ(run.attemptAudio()->takeAll(), newest);
        EXPECT_EQ(run.attemptAudio()->droppedChunks(), 0);
    }
    {
        // Given to a connection that showed nothing before it dropped.
        Dictation run(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {5ms}});
        run.attempt().say(Event::connected());
        run.speak(spoken);
        run.drop();
        ASSERT_TRUE(run.waitForAttempts(2));
        EXPECT_EQ(run.attemptAudio()->takeAll(), newest);
    }
}

TEST(ResilientTranscriber, AudioIsReplayedByteForByteUntilAnAttemptShowsText)
{
    Dictation run(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {100ms, 100ms, 100ms}});
    run.attempt().say(Event::connected());
    run.speak({chunk(1)});
    run.attempt().say(Event::interim(u"one"_qs)); // shown: what it was given never goes out again
    run.speak({chunk(2)});
    run.drop();
    run.speak({chunk(3), chunk(4, 17)});
    ASSERT_TRUE(run.waitForAttempts(2));
    run.speak({chunk(5), chunk(6, 3)});
    const QList<QByteArray> unshown{chunk(3), chunk(4, 17), chunk(5), chunk(6, 3)};
    EXPECT_EQ(run.attemptAudio()->takeAll(), unshown);

    // Connected but showing nothing, then not connecting at all: everything comes round again.
    run.attempt().say(Event::connected());
    run.attempt().say(Event::interim(u" "_qs));
    run.drop();
    EXPECT_TRUE(run.attemptAudio()->isFinished());
    run.speak({chunk(7)});
    ASSERT_TRUE(run.waitForAttempts(3));
    EXPECT_EQ(run.attemptAudio()->takeAll(), unshown + QList<QByteArray>{chunk(7)});
    run.attempt().end(TranscriptionError::network(u"Connection refused"_qs));
    run.speak({chunk(8)});
    ASSERT_TRUE(run.waitForAttempts(4));
    EXPECT_EQ(run.attemptAudio()->takeAll(), (unshown + QList<QByteArray>{chunk(7), chunk(8)}));

    run.attempt().say(Event::connected());
    run.attempt().say(Event::finalText(u"Three to eight."_qs));
    run.speak({chunk(9)});
    run.drop();
    run.speak({chunk(10)});
    ASSERT_TRUE(run.waitForAttempts(5));
    EXPECT_EQ(run.attemptAudio()->takeAll(), QList<QByteArray>{chunk(10)});
}

TEST(ResilientTranscriber, TheMicrophoneEndingDuringAWaitEndsTheNextAttemptsAudio)
{
    Dictation run(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {150ms}});
    run.attempt().say(Event::connected());
    run.drop();
    run.speak({chunk(1), chunk(2)});
    run.microphone->finish();
    ASSERT_TRUE(run.waitForAttempts(2));
    EXPECT_EQ(run.attemptAudio()->takeAll(), (QList<QByteArray>{chunk(1), chunk(2)}));
    EXPECT_TRUE(run.attemptAudio()->atEnd());

    run.attempt().say(Event::connected());
    run.attempt().say(Event::finalText(u"Said while it was down."_qs));
    run.attempt().end();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_FALSE(run.error);
    EXPECT_EQ(run.base->calls.size(), 2);
}

TEST(ResilientTranscriber, TheConnectWatchdogFailsOnlyAttemptsThatNeverConnect)
{
    {
        Dictation run(ResilientTranscriberTimings{.connectTimeout = 100ms, .backoff = {5ms, 5ms, 5ms}});
        QPointer<FakeTranscriptionSession> hung = &run.attempt();
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.error, TranscriptionError::network(kUnreachable));
        EXPECT_FALSE(hung); // cancelled
        EXPECT_EQ(run.base->calls.size(), 1);
    }
    {
        Dictation run(ResilientTranscriberTimings{.connectTimeout = 100ms, .backoff = {5ms, 5ms, 5ms}});
        run.attempt().say(Event::connected());
        EXPECT_FALSE(QTest::qWaitFor([&] { return run.endings > 0 || !run.base->calls.last().session; }, 300));

        // Once reconnecting, a hang counts as one more failure, and the last one names it.
        run.drop();
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.base->calls.size(), 4);
        EXPECT_EQ(run.ofKind(Event::Kind::reconnecting).size(), 3);
        EXPECT_EQ(run.error, TranscriptionError::network(kUnreachable));
    }
}

TEST(ResilientTranscriber, AFirstAttemptThatFailsIsNotRetried)
{
    struct Case
    {
        std::optional<TranscriptionError> ending;
        bool microphoneEnded;
        TranscriptionError expected;
    };
    const TranscriptionError lost = TranscriptionError::network(
        u"Couldn't connect to AssemblyAI: The connection to the transcription service was lost."_qs);
    const Case cases[] = {
        {TranscriptionError::network(u"Host not found"_qs), false,
         TranscriptionError::network(u"Couldn't connect to AssemblyAI: Host not found"_qs)},
        {TranscriptionError::provider(u"The API key was rejected."_qs), false,
         TranscriptionError::provider(u"The API key was rejected."_qs)},
        // Ending "normally" without a greeting transcribed nothing, whether or not the audio had ended.
        {std::nullopt, false, lost},
        {std::nullopt, true, lost},
    };
    for (const Case& c : cases) {
        Dictation run;
        if (c.microphoneEnded) {
            run.speak({chunk(1)});
            run.microphone->finish();
            ASSERT_TRUE(QTest::qWaitFor([&] { return run.attemptAudio()->isFinished(); }, 2000));
        }
        run.attempt().end(c.ending);
        ASSERT_TRUE(run.waitForEnd());
        EXPECT_EQ(run.error, c.expected);
        EXPECT_EQ(run.base->calls.size(), 1);
        EXPECT_TRUE(run.events.isEmpty());
    }
}

TEST(ResilientTranscriber, AServiceErrorEndsAtOnceEvenAfterReconnections)
{
    Dictation run;
    for (int n = 0; n < 2; ++n) {
        run.attempt().say(Event::connected());
        run.drop();
        ASSERT_TRUE(run.waitForAttempts(n + 2));
    }
    run.attempt().say(Event::connected());
    run.attempt().say(Event::interim(u"almost"_qs));
    run.attempt().end(TranscriptionError::provider(u"Too many concurrent sessions"_qs));
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.error, TranscriptionError::provider(u"Too many concurrent sessions"_qs));
    EXPECT_EQ(run.ofKind(Event::Kind::final), QList<TranscriptEvent>{Event::finalText(u"almost"_qs)});
    EXPECT_EQ(run.events.last(), Event::interim(QString()));
    EXPECT_FALSE(QTest::qWaitFor([&] { return run.base->calls.size() > 3; }, 100));
}

TEST(ResilientTranscriber, DestroyingTheSessionCancelsTheAttemptAndTheWait)
{
    Dictation live;
    QPointer<FakeTranscriptionSession> attempt = &live.attempt();
    live.session.reset();
    EXPECT_FALSE(attempt);

    Dictation waiting(ResilientTranscriberTimings{.connectTimeout = 2000ms, .backoff = {50ms}});
    waiting.attempt().say(Event::connected());
    waiting.drop();
    waiting.session.reset();
    EXPECT_FALSE(QTest::qWaitFor([&] { return waiting.base->calls.size() > 1; }, 200));
}

TEST(ResilientTranscriber, TheNetworkServicesComeWrappedAndTheDemoBare)
{
    const auto check = [](TranscriptionProvider provider, const QString& name, auto* baseType) {
        const std::unique_ptr<StreamingTranscriber> transcriber = makeTranscriber(provider);
        const auto* resilient = dynamic_cast<const ResilientTranscriber*>(transcriber.get());
        ASSERT_NE(resilient, nullptr) << name.toStdString();
        EXPECT_EQ(resilient->providerName(), name);
        EXPECT_NE(dynamic_cast<decltype(baseType)>(&resilient->base()), nullptr);
        EXPECT_EQ(resilient->timings().connectTimeout, 6s);
        EXPECT_EQ(resilient->timings().backoff, (std::vector<std::chrono::milliseconds>{250ms, 1s, 2s}));
    };
    check(TranscriptionProvider::assemblyAI, u"AssemblyAI"_qs, static_cast<const AssemblyAITranscriber*>(nullptr));
    check(TranscriptionProvider::soniox, u"Soniox"_qs, static_cast<const SonioxTranscriber*>(nullptr));
    EXPECT_NE(dynamic_cast<MockTranscriber*>(makeTranscriber(TranscriptionProvider::mock).get()), nullptr);
}

} // namespace
