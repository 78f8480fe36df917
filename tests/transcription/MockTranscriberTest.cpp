#include "transcription/MockTranscriber.h"

#include "transcription/AudioStream.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Kind = TranscriptEvent::Kind;
using namespace std::chrono_literals;

const QString kFirst = QStringLiteral("This is a demo transcript coming from the Vell app.");
const QString kSecond = QString::fromUtf8("Y ahora cambio al español a mitad de la frase.");
const QString kThird = QStringLiteral("And back to English once the demo is over.");

// Runs one demo session and records what it says and when it ends.
class DemoRun
{
public:
    explicit DemoRun(MockTranscriber::Timings timings)
        : audio(std::make_shared<AudioStream>()), session(MockTranscriber(timings).transcribe(audio, {}))
    {
        QObject::connect(session.get(), &TranscriptionSession::eventReceived, session.get(),
                         [this](const TranscriptEvent& event) { events.append(event); });
        QObject::connect(session.get(), &TranscriptionSession::finished, session.get(),
                         [this](const std::optional<TranscriptionError>& error) {
                             ++endings;
                             endError = error;
                         });
    }

    bool waitForEvents(qsizetype count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
    }

    QList<TranscriptEvent> ofKind(Kind kind) const
    {
        QList<TranscriptEvent> found;
        for (const TranscriptEvent& event : events)
            if (event.kind == kind)
                found.append(event);
        return found;
    }

    std::shared_ptr<AudioStream> audio;
    std::unique_ptr<TranscriptionSession> session;
    QList<TranscriptEvent> events;
    int endings = 0;
    std::optional<TranscriptionError> endError;
};

constexpr MockTranscriber::Timings kFast{.wordInterval = 5ms, .closingDelay = 50ms};

TEST(MockTranscriber, StoppedBeforeTheFirstWordSaysOnlyHelloAndTheLanguage)
{
    DemoRun run(MockTranscriber::Timings{.wordInterval = 200ms, .closingDelay = 50ms});
    run.audio->push(QByteArray(640, '\0'));
    run.audio->finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.endings == 1; }, 3000));
    EXPECT_EQ(run.events, (QList<TranscriptEvent>{TranscriptEvent::connected(), TranscriptEvent::language(u"en"_qs)}));
    EXPECT_FALSE(run.endError);
}

TEST(MockTranscriber, StoppedMidSentenceKeepsTheWordsSoFarAsInterimOnly)
{
    DemoRun run(kFast);
    // The first sentence has 10 words: connected, language, 10 interims, final, empty interim,
    // then the Spanish language and three of its words.
    ASSERT_TRUE(run.waitForEvents(2 + 10 + 2 + 1 + 3));
    run.audio->finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.endings == 1; }, 3000));

    EXPECT_EQ(run.ofKind(Kind::final), QList<TranscriptEvent>{TranscriptEvent::finalText(kFirst)});
    EXPECT_EQ(run.ofKind(Kind::language),
              (QList<TranscriptEvent>{TranscriptEvent::language(u"en"_qs), TranscriptEvent::language(u"es"_qs)}));
    const TranscriptEvent last = run.events.last();
    EXPECT_EQ(last.kind, Kind::interim);
    EXPECT_TRUE(kSecond.startsWith(last.text + QLatin1Char(' '))) << last.text.toStdString();
    EXPECT_FALSE(last.text.isEmpty());
}

TEST(MockTranscriber, PlaysTheWholeScriptThenWaitsForTheAudioToEnd)
{
    DemoRun run(kFast);
    const qsizetype all = 1 + 3 * 1 + 29 + 3 * 2;
    ASSERT_TRUE(run.waitForEvents(all));
    // Still open, as the user has not stopped; only time shows it, twice the closing delay.
    EXPECT_FALSE(QTest::qWaitFor([&] { return run.endings > 0 || run.events.size() > all; }, 100))
        << run.events.size() << " events, " << run.endings << " endings";

    EXPECT_EQ(run.ofKind(Kind::final),
              (QList<TranscriptEvent>{TranscriptEvent::finalText(kFirst), TranscriptEvent::finalText(kSecond),
                                      TranscriptEvent::finalText(kThird)}));
    for (qsizetype i = 0; i < run.events.size(); ++i) {
        if (run.events[i].kind == Kind::final) {
            EXPECT_EQ(run.events[i + 1], TranscriptEvent::interim(QString()));
        }
    }
    EXPECT_EQ(run.events[2], TranscriptEvent::interim(u"This"_qs));
    EXPECT_EQ(run.events[11], TranscriptEvent::interim(QString(kFirst)));

    run.audio->finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.endings == 1; }, 3000));
    EXPECT_EQ(run.events.size(), all);
}

TEST(MockTranscriber, DestroyingTheSessionSilencesIt)
{
    DemoRun run(kFast);
    ASSERT_TRUE(run.waitForEvents(3));
    QSignalSpy destroyed(run.session.get(), &QObject::destroyed);
    run.session.reset();
    const qsizetype seen = run.events.size();
    run.audio->finish();
    QTest::qWait(100); // twice the closing delay: a timer left behind would fire within it
    EXPECT_EQ(run.events.size(), seen);
    EXPECT_EQ(run.endings, 0);
    EXPECT_EQ(destroyed.count(), 1);
}

TEST(MockTranscriber, RealTimingEndsOneSecondAfterTheAudio)
{
    DemoRun run{MockTranscriber::Timings{}};
    ASSERT_TRUE(run.waitForEvents(3, 2000)); // connected, language, first word after 0.22 s
    QElapsedTimer sinceStop;
    run.audio->finish();
    sinceStop.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.endings == 1; }, 5000));
    EXPECT_GE(sinceStop.elapsed(), 1000);
    EXPECT_EQ(run.events.size(), 3);
}

TEST(TranscriptionError, DescriptionsAreTheMessageOrTheFixedSentence)
{
    EXPECT_EQ(TranscriptionError::provider(u"Quota exceeded"_qs).description(), u"Quota exceeded"_qs);
    EXPECT_EQ(TranscriptionError::network(u"Host not found"_qs).description(), u"Host not found"_qs);
    EXPECT_EQ(TranscriptionError::connectionLost().description(),
              u"The connection to the transcription service was lost."_qs);
}

TEST(TranscriptionProvider, OnlyExactRawValuesNameAProvider)
{
    EXPECT_EQ(TranscriptionProviders::fromRawValue(u"mock"_qs), TranscriptionProvider::mock);
    EXPECT_EQ(TranscriptionProviders::fromRawValue(u"Mock"_qs), std::nullopt);
    EXPECT_EQ(TranscriptionProviders::fromRawValue(u"assemblyai"_qs), std::nullopt);
    EXPECT_NE(makeTranscriber(TranscriptionProvider::mock), nullptr);
}

} // namespace
