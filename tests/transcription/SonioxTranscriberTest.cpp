#include "transcription/SonioxTranscriber.h"

#include "support/RawWebSocketServer.h"
#include "support/TranscriptionRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Raw = RawWebSocketServer;
using E = TranscriptEvent;
using Error = TranscriptionError;

class SonioxTest : public ::testing::Test
{
protected:
    std::unique_ptr<TranscriptionRun> start(const TranscriberConfig& config = {QStringLiteral("key"), {}, {}})
    {
        auto run = std::make_unique<TranscriptionRun>(m_transcriber, config);
        EXPECT_TRUE(run->waitForEvent(E::connected()));
        return run;
    }

    Raw m_server;
    SonioxTranscriber m_transcriber{m_server.url()};
};

TEST_F(SonioxTest, ConfiguresTheSessionWithItsFirstMessageAndReportsConnectedWithoutAGreeting)
{
    QStringList vocabulary;
    for (int i = 0; i < 500; ++i)
        vocabulary.append(QStringLiteral("term %1 \"q\"").arg(i));
    const auto plain = start({QStringLiteral("sk-123"), std::nullopt, {}});
    const auto pinned = start({QStringLiteral("key"), QStringLiteral("fr"), vocabulary});
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.texts().size() == 2; }));

    EXPECT_EQ(m_server.handshakes()[0].target, "/transcribe-websocket");
    EXPECT_EQ(m_server.handshakes()[0].header("Authorization"), "Bearer sk-123");
    QJsonObject expected = QJsonDocument::fromJson(R"({"model":"stt-rt-v5","audio_format":"pcm_s16le",
        "sample_rate":16000,"num_channels":1,"enable_language_identification":true,"enable_endpoint_detection":true})")
                               .object();
    EXPECT_EQ(QJsonDocument::fromJson(m_server.texts()[0]).object(), expected);
    expected.insert(QStringLiteral("language_hints"), QJsonArray{QStringLiteral("fr")});
    expected.insert(QStringLiteral("context"),
                    QJsonObject{{QStringLiteral("terms"), QJsonArray::fromStringList(vocabulary)}});
    EXPECT_EQ(QJsonDocument::fromJson(m_server.texts()[1]).object(), expected);
    EXPECT_EQ(plain->events, QList<E>{E::connected()});
}

struct TokenCase
{
    const char* name;
    QList<QByteArray> messages;
    QList<TranscriptEvent> expected;
};

class SonioxTokens : public SonioxTest, public ::testing::WithParamInterface<TokenCase>
{};

TEST_P(SonioxTokens, AssembleIntoEvents)
{
    const auto run = start();
    for (const QByteArray& message : GetParam().messages)
        m_server.sendText(message);
    // A message of its own marks the end of the case's events.
    m_server.sendText(R"({"tokens":[{"text":"|sentinel"}]})");
    ASSERT_TRUE(QTest::qWaitFor([&] { return run->events.last().text.endsWith(QLatin1String("|sentinel")); }));
    EXPECT_EQ(run->events.mid(1, run->events.size() - 2), GetParam().expected);
    EXPECT_FALSE(run->hasEnded());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SonioxTokens,
    ::testing::Values(
        TokenCase{"AnEndMarkerCommitsTheFinalTextButNotTheEarlierNonFinalText",
                  {R"({"tokens":[{"text":" Hel","is_final":true},{"text":"lo","is_final":true},{"text":" wor"}]})",
                   R"({"tokens":[{"text":" world.","is_final":true},{"text":"<end>"},{"text":" next"}]})"},
                  {E::interim(QStringLiteral("Hello wor")), E::finalText(QStringLiteral("Hello world.")),
                   E::interim(QString())}},
        TokenCase{"MarkersWithNothingPendingOnlyClear",
                  {R"({"tokens":[{"text":"<fin>","is_final":true}]})"},
                  {E::interim(QString())}},
        TokenCase{"ALanguageIsReportedOncePerChangeBeforeTheText",
                  {R"({"tokens":[{"text":"Hi","is_final":true,"language":"en"},{"text":" there","language":"en"}]})",
                   R"({"tokens":[{"text":"<end>"},{"text":"Du","language":"en"}]})",
                   R"({"tokens":[{"text":" hola","language":"es"},{"text":" x","language":5}]})"},
                  {E::language(QStringLiteral("en")), E::interim(QStringLiteral("Hi there")),
                   E::finalText(QStringLiteral("Hi")), E::interim(QString()), E::language(QStringLiteral("es")),
                   E::interim(QStringLiteral("hola x"))}},
        TokenCase{"InterimTrimsSpacesButKeepsLineBreaksACommitTrimsBoth",
                  {R"({"tokens":[{"text":"\t line\n ","is_final":true}]})", R"({"tokens":[{"text":"<end>"}]})"},
                  {E::interim(QStringLiteral("line\n")), E::finalText(QStringLiteral("line")), E::interim(QString())}},
        TokenCase{"OnlyABooleanTrueIsFinalAndMarkersAreExact",
                  {R"({"tokens":[{"text":"a","is_final":"true"},{"is_final":true},{"text":" <END>","is_final":true}]})",
                   R"({"tokens":[{"text":"<end>"}]})"},
                  {E::interim(QStringLiteral("<END>a")), E::finalText(QStringLiteral("<END>")), E::interim(QString())}},
        TokenCase{"AMessageWithoutUsableTokensShowsThePendingFinalText",
                  {R"({"tokens":[{"text":"kept ","is_final":true}]})", R"({"tokens":"none"})",
                   R"({"tokens":[{"text":"x"},2]})"},
                  {E::interim(QStringLiteral("kept")), E::interim(QStringLiteral("kept")),
                   E::interim(QStringLiteral("kept"))}}),
    [](const auto& info) { return std::string(info.param.name); });

struct EndingCase
{
    const char* name;
    bool audioEndedFirst;
    std::function<void(Raw&)> serverDoes;
    std::optional<Error> expected;
    bool liveTextRemains = true; // false when the last message had no words still open
};

class SonioxEndings : public SonioxTest, public ::testing::WithParamInterface<EndingCase>
{};

// Every ending delivers the final text still pending and leaves the words not
// yet final as the live text, so nothing shown is lost.
TEST_P(SonioxEndings, DeliverThePendingTextFirst)
{
    const auto run = start();
    m_server.sendText(R"({"tokens":[{"text":"Pending words.","is_final":true},{"text":" maybe"}]})");
    ASSERT_TRUE(run->waitForEvent(E::interim(QStringLiteral("Pending words. maybe"))));
    if (GetParam().audioEndedFirst) {
        run->endAudio();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.texts().contains(""); }));
        EXPECT_EQ(m_server.texts().mid(1), (QList<QByteArray>{R"({"type":"finalize"})", ""}));
    }
    GetParam().serverDoes(m_server);
    ASSERT_TRUE(run->waitForEnd());
    QList<E> expected{E::finalText(QStringLiteral("Pending words.")), E::interim(QString())};
    if (GetParam().liveTextRemains)
        expected.append(E::interim(QStringLiteral("maybe")));
    EXPECT_EQ(run->events.mid(run->events.size() - expected.size()), expected);
    EXPECT_EQ(run->error, GetParam().expected);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_server.hasOpenConnection(); }));
    EXPECT_EQ(run->endings, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, SonioxEndings,
    ::testing::Values(
        EndingCase{"Finished", true, [](Raw& s) { s.sendText(R"({"tokens":[],"finished":true})"); }, std::nullopt,
                   false},
        EndingCase{"NormalCloseAfterTheAudio", true, [](Raw& s) { s.sendClose(1000); }, std::nullopt},
        // The service ending the session while the user still speaks is no finished dictation.
        EndingCase{"NormalCloseWhileAudioFlows", false, [](Raw& s) { s.sendClose(1000); }, Error::connectionLost()},
        EndingCase{"NumericErrorCode", false, [](Raw& s) { s.sendText(R"({"error_code":503})"); },
                   Error::provider(QStringLiteral("Soniox error 503"))},
        EndingCase{"ErrorMessage", false,
                   [](Raw& s) {
                       s.sendText(R"({"error_code":400,"error_message":"Invalid audio.","tokens":[{"text":"x"}]})");
                   },
                   Error::provider(QStringLiteral("Invalid audio."))},
        EndingCase{"Drop", true, [](Raw& s) { s.dropConnection(); },
                   Error::network(QStringLiteral("The remote host closed the connection."))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SonioxEndpoint, TheEnvironmentReplacesSchemeHostAndPortOnly)
{
    Raw server;
    EXPECT_EQ(SonioxTranscriber::endpointFromEnvironment(), QUrl(QStringLiteral("wss://stt-rt.soniox.com")));
    qputenv("VELL_SONIOX_STREAMING_URL", server.url().toEncoded() + "/other/path");
    SonioxTranscriber transcriber;
    qunsetenv("VELL_SONIOX_STREAMING_URL");
    TranscriptionRun run(transcriber, {QStringLiteral("key"), {}, {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.handshakes().isEmpty(); }));
    EXPECT_EQ(server.handshakes()[0].target, "/transcribe-websocket");
}

} // namespace
