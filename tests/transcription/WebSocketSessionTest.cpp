#include "transcription/WebSocketSession.h"

#include "support/RawWebSocketServer.h"
#include "support/TranscriptionRun.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace std::chrono_literals;
using Raw = RawWebSocketServer;
using Error = TranscriptionError;

constexpr WebSocketSessionTimings kFastKeepalive{.handshakeLimit = 5000ms, .pingDelay = 60ms, .pongLimit = 60ms};
const Error kKeyRejected = Error::provider(QStringLiteral("The API key was rejected."));
const Error kTooLarge = Error::network(QStringLiteral("The transcription service sent a message larger than 4 MiB."));

// A session against a server, with what it reported.
struct SessionRun
{
    explicit SessionRun(const QUrl& url, WebSocketSessionTimings timings = {})
        : SessionRun(QNetworkRequest(url), timings)
    {}
    SessionRun(const QNetworkRequest& request, WebSocketSessionTimings timings)
        : session(std::make_unique<WebSocketSession>(request, timings))
    {
        QObject::connect(session.get(), &WebSocketSession::opened, session.get(), [this] { ++openings; });
        QObject::connect(session.get(), &WebSocketSession::messageReceived, session.get(),
                         [this](const QJsonObject& message) { messages.append(message); });
        QObject::connect(session.get(), &WebSocketSession::ended, session.get(),
                         [this](const std::optional<Error>& error) {
                             ++endings;
                             outcome = error;
                         });
    }
    bool waitForOpen()
    {
        return QTest::qWaitFor([&] { return openings > 0; });
    }
    bool waitForEnd(int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return endings > 0; }, timeoutMs);
    }

    std::unique_ptr<WebSocketSession> session;
    int openings = 0;
    QList<QJsonObject> messages;
    int endings = 0;
    std::optional<Error> outcome;
};

std::optional<quint16> firstCloseCode(const Raw& server)
{
    if (!QTest::qWaitFor([&] { return !server.framesOf(Raw::close).isEmpty(); }))
        return std::nullopt;
    return server.framesOf(Raw::close)[0].closeCode();
}

TEST(WebSocketSession, QueuesSendsUntilOpenAndReadsEveryMessageAsAnObjectOrEmpty)
{
    Raw server;
    QNetworkRequest request(server.url().resolved(QUrl(QStringLiteral("/v3/ws?a=1"))));
    request.setRawHeader("Authorization", "secret-key");
    SessionRun run(request, {});
    const auto constructedAt = run.session->lastReceivedAt();
    EXPECT_FALSE(run.session->sendJSON({{QStringLiteral("type"), QStringLiteral("Config")}, {QStringLiteral("n"), 1}}));
    EXPECT_FALSE(run.session->sendData(QByteArray("\x00\x01", 2)));
    EXPECT_FALSE(run.session->sendText(QString()));

    ASSERT_TRUE(QTest::qWaitFor([&] { return server.frames().size() == 3; }));
    EXPECT_EQ(server.handshakes()[0].target, "/v3/ws?a=1");
    EXPECT_EQ(server.handshakes()[0].header("Authorization"), "secret-key");
    const QList<Raw::Frame> frames = server.frames();
    EXPECT_EQ(frames[0].payload, R"({"n":1,"type":"Config"})");
    EXPECT_EQ(frames[1].opcode, Raw::binary);
    EXPECT_EQ(frames[1].payload, QByteArray("\x00\x01", 2));
    EXPECT_EQ(frames[2].opcode, Raw::text);
    EXPECT_EQ(frames[2].payload, "");

    server.sendText(R"({"type":"Turn","n":2})");
    server.sendFrame(Raw::binary, R"({"type":"binary"})");
    for (const char* notAnObject : {"[1,2]", "not json", R"({"cut":)"})
        server.sendText(notAnObject);
    server.sendFrame(Raw::text, R"({"parts")", false);
    server.sendFrame(Raw::continuation, R"(:3})", true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.messages.size() == 6; }));
    EXPECT_EQ(run.messages,
              (QList<QJsonObject>{{{QStringLiteral("type"), QStringLiteral("Turn")}, {QStringLiteral("n"), 2}},
                                  {{QStringLiteral("type"), QStringLiteral("binary")}},
                                  {},
                                  {},
                                  {},
                                  {{QStringLiteral("parts"), 3}}}));
    EXPECT_GT(run.session->lastReceivedAt(), constructedAt);
}

struct EndingCase
{
    const char* name;
    std::function<void(Raw&)> serverDoes;
    std::optional<Error> expected;
};

class WebSocketSessionEnding : public ::testing::TestWithParam<EndingCase>
{};

TEST_P(WebSocketSessionEnding, MapsTheWayTheServerWentAway)
{
    Raw server;
    SessionRun run(server.url());
    ASSERT_TRUE(run.waitForOpen());
    GetParam().serverDoes(server);
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.outcome, GetParam().expected);
    EXPECT_EQ(run.endings, 1);
    EXPECT_TRUE(run.session->sendText(QStringLiteral("late")).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, WebSocketSessionEnding,
    ::testing::Values(
        EndingCase{"NormalClose", [](Raw& s) { s.sendClose(1000, "bye"); }, std::nullopt},
        EndingCase{"NormalCloseThenDrop",
                   [](Raw& s) {
                       s.sendClose(1000);
                       s.dropConnection();
                   },
                   std::nullopt},
        EndingCase{"CloseWithReason", [](Raw& s) { s.sendClose(1008, "Invalid key \xe2\x80\x94 check it"); },
                   Error::provider(QString::fromUtf8("Invalid key \xe2\x80\x94 check it"))},
        EndingCase{"CloseWithoutReason", [](Raw& s) { s.sendClose(1011); },
                   Error::network(QStringLiteral("The transcription service closed the connection (code 1011)."))},
        // The socket reads close code 1000 after a plain drop too.
        EndingCase{"DropWithoutCloseFrame", [](Raw& s) { s.dropConnection(); },
                   Error::network(QStringLiteral("The remote host closed the connection."))},
        EndingCase{"OversizedFrame",
                   [](Raw& s) { s.sendText(QByteArray(WebSocketSession::kMaxIncomingMessageBytes + 1, 'a')); },
                   kTooLarge},
        EndingCase{"OversizedFragmentedMessage",
                   [](Raw& s) {
                       s.sendFrame(Raw::text, QByteArray(3 << 20, 'a'), false);
                       s.sendFrame(Raw::continuation, QByteArray(3 << 20, 'a'), true);
                   },
                   kTooLarge}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase
{
    const char* name;
    Raw::Refusal refusal;
    Error expected;
};

class WebSocketSessionRefusal : public ::testing::TestWithParam<RefusalCase>
{};

TEST_P(WebSocketSessionRefusal, EndsWithTheStatusAndLetsGoOfTheConnection)
{
    Raw server;
    server.setRefusal(GetParam().refusal);
    SessionRun run(server.url());
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.outcome, GetParam().expected);
    EXPECT_EQ(run.openings, 0);
    // Also when the server holds its end open.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.openConnections() == 0; }));
}

const Error kRefused500 =
    Error::network(QStringLiteral("The transcription service refused the connection (HTTP status 500)."));

INSTANTIATE_TEST_SUITE_P(
    Refusals, WebSocketSessionRefusal,
    ::testing::Values(RefusalCase{"Status401", {401, "Unauthorized", false}, kKeyRejected},
                      RefusalCase{"Status401HeldOpen", {401, "Unauthorized", true}, kKeyRejected},
                      RefusalCase{"Status403", {403, "Forbidden", false}, kKeyRejected},
                      RefusalCase{"Status403HeldOpen", {403, "Forbidden", true}, kKeyRejected},
                      RefusalCase{"Status500", {500, "Internal Server Error", false}, kRefused500},
                      RefusalCase{"Status500HeldOpen", {500, "Internal Server Error", true}, kRefused500},
                      RefusalCase{
                          "Status500WithAMisleadingPhrase", {500, "Not 401 (Unauthorized)", false}, kRefused500}),
    [](const auto& info) { return std::string(info.param.name); });

// A server that accepts the connection and never answers the upgrade; the
// session must let go of it, after its limit or when destroyed.
struct MuteServer
{
    MuteServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server,
                         [this] { peer = server.nextPendingConnection(); });
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())); }
    bool waitForHangUp() const
    {
        return QTest::qWaitFor([&] { return peer && peer->state() == QAbstractSocket::UnconnectedState; });
    }

    QTcpServer server;
    QPointer<QTcpSocket> peer;
};

TEST(WebSocketSession, AnUpgradeThatNeverCompletesTimesOutOrEndsWithTheSession)
{
    MuteServer mute;
    QElapsedTimer clock;
    clock.start();
    SessionRun run(mute.url(), WebSocketSessionTimings{.handshakeLimit = 200ms, .pingDelay = 50ms, .pongLimit = 50ms});
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(run.outcome, Error::network(QStringLiteral("The request timed out.")));
    EXPECT_TRUE(mute.waitForHangUp());

    MuteServer other;
    auto session = std::make_unique<WebSocketSession>(QNetworkRequest(other.url()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.peer; }));
    session.reset();
    EXPECT_TRUE(other.waitForHangUp());
}

TEST(WebSocketSession, ASilentServerThatIgnoresPingsIsGivenUp)
{
    Raw server;
    SessionRun run(server.url(), kFastKeepalive);
    ASSERT_TRUE(run.waitForOpen());
    server.sendText("{}");
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.messages.size() == 1; }));
    QElapsedTimer silence;
    silence.start();
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.outcome, Error::connectionLost());
    // At least one pong wait, at most a quiet wait and two pong waits (with room for a slow machine).
    EXPECT_GE(silence.elapsed(), 55);
    EXPECT_LE(silence.elapsed(), 180 + 150);
    EXPECT_EQ(firstCloseCode(server), 1001);
}

// A server alive by its pongs only, or by its messages only (ones that are no JSON objects too).
class WebSocketSessionKeepalive : public ::testing::TestWithParam<bool>
{};

TEST_P(WebSocketSessionKeepalive, KeepsALiveServerThroughTenPings)
{
    const bool answersPings = GetParam();
    Raw server;
    server.setAnswersPings(answersPings);
    SessionRun run(server.url(), kFastKeepalive);
    ASSERT_TRUE(run.waitForOpen());
    QTimer streaming;
    QObject::connect(&streaming, &QTimer::timeout, &server, [&] { server.sendText("not json"); });
    if (!answersPings)
        streaming.start(15);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.framesOf(Raw::ping).size() >= 10; }));
    EXPECT_EQ(run.endings, 0);
    EXPECT_TRUE(run.session->isOpen());
}

INSTANTIATE_TEST_SUITE_P(Servers, WebSocketSessionKeepalive, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "AnswersPingsOnly" : "StreamsWithoutPongs"; });

// At the real timings: a ping 5 s after the upgrade, 5 s for its answer.
TEST(WebSocketSession, AtRealTimingADeadServerIsGivenUpBetweenFiveAndFifteenSeconds)
{
    Raw server;
    SessionRun run(server.url());
    ASSERT_TRUE(run.waitForOpen());
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    ASSERT_TRUE(run.waitForEnd(20'000));
    EXPECT_EQ(run.outcome, Error::connectionLost());
    EXPECT_GE(sinceOpen.elapsed(), 5000);
    EXPECT_LE(sinceOpen.elapsed(), 15'000);
    EXPECT_EQ(server.framesOf(Raw::ping).size(), 1);
}

TEST(WebSocketSession, TheFirstAbortReasonWinsAndIsReportedFromTheEventLoop)
{
    Raw server;
    SessionRun run(server.url());
    ASSERT_TRUE(run.waitForOpen());
    const Error sendFailure = Error::network(QStringLiteral("Broken pipe."));
    run.session->abort(sendFailure);
    run.session->abort(Error::connectionLost());
    EXPECT_EQ(run.endings, 0);
    ASSERT_TRUE(run.waitForEnd());
    EXPECT_EQ(run.outcome, sendFailure);
    EXPECT_EQ(firstCloseCode(server), 1001);
}

// A send refused because the server is already closing must not hide the server's reason.
TEST(WebSocketSession, AnAbortAfterTheServersCloseKeepsTheServersReason)
{
    Raw server;
    SessionRun run(server.url());
    ASSERT_TRUE(run.waitForOpen());
    bool abortedBeforeTheEnd = false;
    QObject::connect(run.session.get(), &WebSocketSession::messageReceived, run.session.get(), [&] {
        // Runs once the close frame behind this message has been read, before the end is reported.
        QMetaObject::invokeMethod(
            run.session.get(),
            [&] {
                abortedBeforeTheEnd = run.endings == 0;
                run.session->abort(run.session->sendData("audio").value_or(Error::connectionLost()));
            },
            Qt::QueuedConnection);
    });
    server.sendRaw(Raw::encodeFrame(Raw::text, "{}") +
                   Raw::encodeFrame(Raw::close, QByteArray("\x03\xf0", 2) + "Key expired"));
    ASSERT_TRUE(run.waitForEnd());
    ASSERT_TRUE(abortedBeforeTheEnd);
    EXPECT_EQ(run.outcome, Error::provider(QStringLiteral("Key expired")));
}

TEST(WebSocketSession, CloseAndDestructionSayNormalClosureAndNothingFollows)
{
    Raw server;
    SessionRun closed(server.url());
    ASSERT_TRUE(closed.waitForOpen());
    closed.session->close();
    EXPECT_EQ(firstCloseCode(server), 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.hasOpenConnection(); }));
    EXPECT_EQ(closed.endings, 0);

    Raw other;
    SessionRun destroyed(other.url());
    ASSERT_TRUE(destroyed.waitForOpen());
    destroyed.session.reset();
    EXPECT_EQ(firstCloseCode(other), 1000);
}

} // namespace
