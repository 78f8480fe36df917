#include "transcription/AssemblyAITranscriber.h"

#include "support/RawWebSocketServer.h"
#include "support/TranscriptionRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Raw = RawWebSocketServer;
using E = TranscriptEvent;
using Error = TranscriptionError;

const QByteArray kFixedQuery =
    "speech_model=universal-3-6-pro&encoding=pcm_s16le&sample_rate=16000&language_detection=true";
const QByteArray kEndOfAudio[] = {R"({"type":"ForceEndpoint"})", R"({"type":"Terminate"})"};

class AssemblyAITest : public ::testing::Test
{
protected:
    std::unique_ptr<TranscriptionRun> start(const TranscriberConfig& config = {QStringLiteral("key"), {}, {}})
    {
        auto run = std::make_unique<TranscriptionRun>(m_transcriber, config);
        const qsizetype sessions = m_server.handshakes().size() + 1;
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_server.handshakes().size() == sessions; }));
        return run;
    }

    Raw m_server;
    AssemblyAITranscriber m_transcriber{m_server.url()};
};

TEST_F(AssemblyAITest, OpensTheStreamingPathWithTheQueryAndTheBareKey)
{
    QStringList vocabulary{QStringLiteral("C++"), QStringLiteral("a&b=c"), QStringLiteral("#tag ?x"),
                           QString::fromUtf8("Zoë \"q\" 100%")};
    for (int i = vocabulary.size(); i < 150; ++i)
        vocabulary.append(QStringLiteral("term%1").arg(i));
    const auto bare = start({QStringLiteral("abc 123/+="), std::nullopt, {}});
    const auto boosted = start({QStringLiteral("key"), QStringLiteral("de"), vocabulary});

    EXPECT_EQ(m_server.handshakes()[0].target, "/v3/ws?" + kFixedQuery);
    EXPECT_EQ(m_server.handshakes()[0].header("Authorization"), "abc 123/+=");
    // Decoded as a server does, '+' as a space included.
    const QByteArray target = m_server.handshakes()[1].target;
    const QByteArray prefix = "/v3/ws?" + kFixedQuery + "&keyterms_prompt=";
    ASSERT_TRUE(target.startsWith(prefix));
    const QByteArray terms = QUrl::fromPercentEncoding(target.mid(prefix.size()).replace('+', ' ')).toUtf8();
    EXPECT_EQ(terms, QJsonDocument(QJsonArray::fromStringList(vocabulary.mid(0, 100))).toJson(QJsonDocument::Compact));
}

TEST_F(AssemblyAITest, BeginReportsConnectedAndThenPinsTheLanguageOnce)
{
    const auto pinned = start({QStringLiteral("key"), QStringLiteral("es"), {}});
    pinned->push(QByteArray(3200, '\x01'));
    // Audio flows before the greeting; the language waits for it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.framesOf(Raw::binary).isEmpty(); }));
    EXPECT_TRUE(m_server.texts().isEmpty());
    m_server.sendText(R"({"type":"Begin","id":"x"})");
    ASSERT_TRUE(pinned->waitForEvent(E::connected()));
    pinned->endAudio();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.texts().size() == 3; }));
    EXPECT_EQ(m_server.texts(), (QList<QByteArray>{R"({"language_codes":["es"],"type":"UpdateConfiguration"})",
                                                   kEndOfAudio[0], kEndOfAudio[1]}));

    const auto detected = start();
    m_server.sendText(R"({"type":"Begin"})");
    ASSERT_TRUE(detected->waitForEvent(E::connected()));
    detected->endAudio();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.texts().size() == 5; }));
    EXPECT_EQ(m_server.texts().mid(3), (QList<QByteArray>{kEndOfAudio[0], kEndOfAudio[1]}));
    EXPECT_EQ(detected->events, QList<E>{E::connected()});
}

struct TurnCase
{
    const char* name;
    QByteArray message;
    QList<TranscriptEvent> expected;
};

class AssemblyAIMessages : public AssemblyAITest, public ::testing::WithParamInterface<TurnCase>
{};

TEST_P(AssemblyAIMessages, YieldTheirEventsInOrder)
{
    const auto run = start();
    m_server.sendText(GetParam().message);
    // A turn in progress of its own marks the end of the case's events.
    m_server.sendText(R"({"type":"Turn","transcript":"sentinel"})");
    ASSERT_TRUE(run->waitForEvent(E::interim(QStringLiteral("sentinel"))));
    EXPECT_EQ(run->events.mid(0, run->events.size() - 1), GetParam().expected);
    EXPECT_FALSE(run->hasEnded());
}

INSTANTIATE_TEST_SUITE_P(
    Turns, AssemblyAIMessages,
    ::testing::Values(
        TurnCase{"InProgressShowsItsWords",
                 R"({"type":"Turn","transcript":"x","words":[{"text":"hello"},{"start":1},{"text":"wor"}]})",
                 {E::interim(QStringLiteral("hello wor"))}},
        TurnCase{"WordsWithoutTextFallBackToTheTranscript",
                 R"({"type":"Turn","transcript":"hello there","words":[{"start":1},{"text":7}]})",
                 {E::interim(QStringLiteral("hello there"))}},
        TurnCase{"WordsNotAllObjectsFallBackToTheTranscript",
                 R"({"type":"Turn","transcript":"hi","words":[{"text":"a"},"b"]})",
                 {E::interim(QStringLiteral("hi"))}},
        TurnCase{
            "EndOfTurnReportsLanguageThenFinalThenClears",
            R"({"type":"Turn","transcript":"Hola.","end_of_turn":true,"language_code":"es","words":[{"text":"x"}]})",
            {E::language(QStringLiteral("es")), E::finalText(QStringLiteral("Hola.")), E::interim(QString())}},
        TurnCase{"EndOfTurnWithAnEmptyTranscriptAndNoLanguage",
                 R"({"type":"Turn","transcript":"","end_of_turn":true,"language_code":7})",
                 {E::finalText(QString()), E::interim(QString())}},
        TurnCase{"EndOfTurnMustBeABoolean",
                 R"({"type":"Turn","transcript":"not yet","end_of_turn":"true"})",
                 {E::interim(QStringLiteral("not yet"))}},
        TurnCase{"UnknownTypesWithoutErrorAreIgnored", R"({"type":"SpeechStarted","timestamp":3})", {}},
        TurnCase{"NonObjectsAreIgnored", "[1,2]", {}},
        TurnCase{"KnownTypesIgnoreAnErrorKey", R"({"type":"Begin","error":"not for Begin"})", {E::connected()}}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndingCase
{
    const char* name;
    bool audioEndedFirst;
    std::function<void(Raw&)> serverDoes;
    std::optional<Error> expected;
};

class AssemblyAIEndings : public AssemblyAITest, public ::testing::WithParamInterface<EndingCase>
{};

TEST_P(AssemblyAIEndings, FinishOnceAndCloseNormally)
{
    const auto run = start();
    m_server.sendText(R"({"type":"Begin"})");
    ASSERT_TRUE(run->waitForEvent(E::connected()));
    if (GetParam().audioEndedFirst) {
        run->endAudio();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.texts().contains(kEndOfAudio[1]); }));
    }
    GetParam().serverDoes(m_server);
    ASSERT_TRUE(run->waitForEnd());
    EXPECT_EQ(run->error, GetParam().expected);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_server.hasOpenConnection(); }));
    EXPECT_EQ(run->endings, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, AssemblyAIEndings,
    ::testing::Values(
        EndingCase{"TerminationAfterTheAudio", true, [](Raw& s) { s.sendText(R"({"type":"Termination"})"); },
                   std::nullopt},
        EndingCase{"NormalCloseAfterTheAudio", true, [](Raw& s) { s.sendClose(1000); }, std::nullopt},
        // The service ending the session while the user still speaks is no finished dictation.
        EndingCase{"TerminationWhileAudioFlows", false, [](Raw& s) { s.sendText(R"({"type":"Termination"})"); },
                   Error::connectionLost()},
        EndingCase{"ErrorWithText", false, [](Raw& s) { s.sendText(R"({"type":"Error","error":"Audio too fast"})"); },
                   Error::provider(QStringLiteral("Audio too fast"))},
        EndingCase{"ErrorWithoutText", true, [](Raw& s) { s.sendText(R"({"type":"Error","error":{"code":1}})"); },
                   Error::provider(QStringLiteral("AssemblyAI error"))},
        EndingCase{"OtherMessageWithAnError", false, [](Raw& s) { s.sendText(R"({"error":"Insufficient balance"})"); },
                   Error::provider(QStringLiteral("Insufficient balance"))},
        EndingCase{"CloseWithAReason", false, [](Raw& s) { s.sendClose(3005, "Session expired"); },
                   Error::provider(QStringLiteral("Session expired"))}),
    [](const auto& info) { return std::string(info.param.name); });

// A consumer may drop the session from inside its signals, even while the
// socket still has frames of the same read to go through.
TEST_F(AssemblyAITest, TheSessionMayBeDestroyedFromInsideItsSignals)
{
    QByteArray turns;
    for (int i = 0; i < 50; ++i)
        turns += Raw::encodeFrame(Raw::text, R"({"type":"Turn","transcript":"x"})");

    auto onEvent = start();
    QObject::connect(onEvent->session.get(), &TranscriptionSession::eventReceived, onEvent->session.get(),
                     [&] { onEvent->session.reset(); });
    m_server.sendRaw(turns);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !onEvent->session; }));

    auto onFinish = start();
    QObject::connect(onFinish->session.get(), &TranscriptionSession::finished, onFinish->session.get(),
                     [&] { onFinish->session.reset(); });
    m_server.sendRaw(Raw::encodeFrame(Raw::text, R"({"type":"Error"})") + turns);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !onFinish->session; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_server.hasOpenConnection(); }));
}

TEST_F(AssemblyAITest, CancellingClosesTheSocketNormallyAndSilently)
{
    auto run = start();
    run->push(QByteArray(3200, '\x02'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.framesOf(Raw::binary).isEmpty(); }));
    run->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_server.framesOf(Raw::close).isEmpty(); }));
    EXPECT_EQ(m_server.framesOf(Raw::close)[0].closeCode(), 1000);
    EXPECT_EQ(run->endings, 0);
}

struct EndpointCase
{
    const char* name;
    QString endpoint;
    QString key;
    QString expected;
};

class AssemblyAIEndpoints : public ::testing::TestWithParam<EndpointCase>
{};

// Nothing leaves the machine, and the refusal still comes from the event loop.
TEST_P(AssemblyAIEndpoints, RefuseToSendTheKeyUnsafely)
{
    AssemblyAITranscriber transcriber{QUrl(GetParam().endpoint)};
    TranscriptionRun run(transcriber, {GetParam().key, {}, {}});
    EXPECT_EQ(run.endings, 0);
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.error, Error::network(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, AssemblyAIEndpoints,
    ::testing::Values(
        EndpointCase{"PlainToARemoteHost", QStringLiteral("ws://192.0.2.1:80"), QStringLiteral("key"),
                     QStringLiteral("Refusing to send the API key unencrypted to 192.0.2.1; the address must start "
                                    "with wss://.")},
        EndpointCase{"NotAWebSocketScheme", QStringLiteral("https://streaming.assemblyai.com"), QStringLiteral("key"),
                     QStringLiteral("The address of the transcription service is not a ws:// or wss:// address.")},
        EndpointCase{"KeyWithALineBreak", QStringLiteral("ws://127.0.0.1:9"), QStringLiteral("key\r\nX-Injected: 1"),
                     QStringLiteral("The API key contains a line break or another control character.")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AssemblyAIEndpoint, TheEnvironmentReplacesSchemeHostAndPortOnly)
{
    Raw server;
    EXPECT_EQ(AssemblyAITranscriber::endpointFromEnvironment(), QUrl(QStringLiteral("wss://streaming.assemblyai.com")));
    qputenv("VELL_ASSEMBLYAI_STREAMING_URL", server.url().toEncoded() + "/elsewhere?x=1");
    AssemblyAITranscriber transcriber;
    qunsetenv("VELL_ASSEMBLYAI_STREAMING_URL");
    TranscriptionRun run(transcriber, {QStringLiteral("key"), {}, {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.handshakes().isEmpty(); }));
    EXPECT_EQ(server.handshakes()[0].target, "/v3/ws?" + kFixedQuery);
}

} // namespace
