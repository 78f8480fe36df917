#include "storage/KeyChecks.h"

#include "support/ScriptedHttpServer.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

void PrintTo(const KeyChecks::State& state, std::ostream* out)
{
    static const char* const kKinds[] = {"failed", "unknown", "checking", "works"};
    *out << kKinds[int(state.kind())];
    if (!state.message().isEmpty())
        *out << "(\"" << state.message().toStdString() << "\")";
}

namespace {

using Kind = KeyChecks::State::Kind;

class KeyChecksTest : public ::testing::Test
{
protected:
    KeyChecksTest() { m_checks = make(); }

    std::unique_ptr<KeyChecks> make(std::chrono::milliseconds limit = KeyChecks::kTimeLimit)
    {
        const QUrl url = m_server.url();
        return std::make_unique<KeyChecks>(m_network, m_store, KeyChecks::Endpoints{url, url, url}, limit);
    }

    // Runs a check and waits for its verdict.
    KeyChecks::State checkAndWait(KeyService service, const QString& key, KeyChecks* checks = nullptr)
    {
        checks = checks ? checks : m_checks.get();
        checks->check(service, key);
        EXPECT_TRUE(QTest::qWaitFor([&] { return checks->states().value(service).kind() != Kind::checking; }));
        return checks->states().value(service);
    }

    void remember(KeyService service, const QString& key)
    {
        m_store.setValue(KeyChecks::kVerifiedKeysKey,
                         QVariantMap{{KeyServices::rawValue(service), KeyChecks::fingerprint(key)}});
    }

    QString remembered(KeyService service) const
    {
        return m_store.value(KeyChecks::kVerifiedKeysKey).toMap().value(KeyServices::rawValue(service)).toString();
    }

    QTemporaryDir m_dir;
    QSettings m_store{m_dir.filePath(QStringLiteral("Vell.conf")), QSettings::IniFormat};
    QNetworkAccessManager m_network;
    ScriptedHttpServer m_server;
    std::unique_ptr<KeyChecks> m_checks;
};

struct ServiceRequest
{
    KeyService service;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers; // names spelled exactly so

    friend void PrintTo(const ServiceRequest& request, std::ostream* out) { *out << request.target.toStdString(); }
};

class RequestTest : public KeyChecksTest, public ::testing::WithParamInterface<ServiceRequest>
{};

TEST_P(RequestTest, EachServiceGetsItsOwnRequest)
{
    m_server.answerWith(200);
    checkAndWait(GetParam().service, QStringLiteral("key-123456"));
    ASSERT_EQ(m_server.requests().size(), 1);
    const auto& request = m_server.requests().first();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, GetParam().target);
    for (const auto& [name, value] : GetParam().headers) {
        EXPECT_TRUE(request.hasHeaderSpelled(name)) << name.toStdString();
        EXPECT_EQ(request.header(name), value) << name.toStdString();
    }
    EXPECT_EQ(request.header("content-length").value_or("0"), "0");
}

INSTANTIATE_TEST_SUITE_P(KeyChecks, RequestTest,
                         ::testing::Values(
                             ServiceRequest{
                                 KeyService::assemblyAI, "/v2/transcript?limit=1", {{"authorization", "key-123456"}}},
                             ServiceRequest{KeyService::soniox, "/v1/models", {{"Authorization", "Bearer key-123456"}}},
                             ServiceRequest{KeyService::anthropic,
                                            "/v1/models?limit=1",
                                            {{"x-api-key", "key-123456"}, {"anthropic-version", "2023-06-01"}}}),
                         [](const auto& info) { return KeyServices::rawValue(info.param.service).toStdString(); });

struct Answer
{
    const char* name;
    KeyService service;
    int status;
    KeyChecks::State verdict;
    enum class Record { setToKey, removed, unchanged } record;

    friend void PrintTo(const Answer& answer, std::ostream* out) { *out << answer.name; }
};

class AnswerTest : public KeyChecksTest, public ::testing::WithParamInterface<Answer>
{};

TEST_P(AnswerTest, TheAnswerDecidesTheVerdictAndTheRecord)
{
    const KeyService service = GetParam().service;
    remember(service, QStringLiteral("old-key-aaaa"));
    m_server.answerWith(GetParam().status);
    const QString key = QStringLiteral("new-key-bbbbbb");

    EXPECT_EQ(checkAndWait(service, key), GetParam().verdict);
    EXPECT_EQ(m_checks->state(service, key), GetParam().verdict);
    EXPECT_EQ(m_server.requests().size(), 1); // never a second request, not even after a redirect
    switch (GetParam().record) {
    case Answer::Record::setToKey:
        EXPECT_EQ(remembered(service), QStringLiteral("14:bbbb"));
        break;
    case Answer::Record::removed:
        EXPECT_FALSE(m_store.value(KeyChecks::kVerifiedKeysKey).toMap().contains(KeyServices::rawValue(service)));
        break;
    case Answer::Record::unchanged:
        EXPECT_EQ(remembered(service), QStringLiteral("12:aaaa"));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    KeyChecks, AnswerTest,
    ::testing::Values(
        Answer{"Ok", KeyService::assemblyAI, 200, KeyChecks::State::works(), Answer::Record::setToKey},
        Answer{"NoContent", KeyService::anthropic, 204, KeyChecks::State::works(), Answer::Record::setToKey},
        Answer{"Unauthorized", KeyService::soniox, 401,
               KeyChecks::State::failed(QStringLiteral("This key was rejected.")), Answer::Record::removed},
        Answer{"Forbidden", KeyService::anthropic, 403,
               KeyChecks::State::failed(QStringLiteral("This key was rejected.")), Answer::Record::removed},
        Answer{"ServerError", KeyService::soniox, 500, KeyChecks::State::failed(QStringLiteral("Soniox answered 500.")),
               Answer::Record::unchanged},
        Answer{"Redirect", KeyService::assemblyAI, 302,
               KeyChecks::State::failed(QStringLiteral("AssemblyAI answered 302.")), Answer::Record::unchanged},
        Answer{"TooManyRequests", KeyService::anthropic, 429,
               KeyChecks::State::failed(QStringLiteral("Anthropic answered 429.")), Answer::Record::unchanged}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeyChecksTest, ARedirectIsNotFollowed)
{
    ScriptedHttpServer elsewhere;
    m_server.script({302, "Location: " + elsewhere.url().toEncoded() + "/steal\r\n"});
    EXPECT_EQ(checkAndWait(KeyService::soniox, QStringLiteral("sk-secret")).kind(), Kind::failed);
    EXPECT_TRUE(elsewhere.requests().isEmpty());
}

TEST_F(KeyChecksTest, NetworkFailuresKeepARememberedKey)
{
    const QString key = QStringLiteral("sk-verified-1234");
    remember(KeyService::assemblyAI, key);

    // Silent server, limit shortened.
    auto checks = make(std::chrono::milliseconds(200));
    m_server.staySilent();
    EXPECT_EQ(checkAndWait(KeyService::assemblyAI, key, checks.get()),
              KeyChecks::State::failed(QStringLiteral("The request timed out.")));
    EXPECT_EQ(remembered(KeyService::assemblyAI), KeyChecks::fingerprint(key));

    // Nobody listening.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QUrl nowhere(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
    closed.close();
    KeyChecks refused(m_network, m_store, {nowhere, nowhere, nowhere});
    const KeyChecks::State verdict = checkAndWait(KeyService::assemblyAI, key, &refused);
    EXPECT_EQ(verdict.kind(), Kind::failed);
    EXPECT_FALSE(verdict.message().isEmpty());
    EXPECT_FALSE(verdict.message().contains(key));
    EXPECT_EQ(remembered(KeyService::assemblyAI), KeyChecks::fingerprint(key));
}

TEST_F(KeyChecksTest, AnAcceptedKeyShowsAsWorkingAfterARestartWithoutARequest)
{
    const QString key = QStringLiteral("sk-ant-api03-abcdefgh");
    m_server.answerWith(200);
    checkAndWait(KeyService::anthropic, key);
    m_store.sync();

    QSettings nextStore(m_dir.filePath(QStringLiteral("Vell.conf")), QSettings::IniFormat);
    KeyChecks next(m_network, nextStore, {m_server.url(), m_server.url(), m_server.url()});
    EXPECT_EQ(next.state(KeyService::anthropic, key), KeyChecks::State::works());
    // Same length and ending: the fingerprint cannot tell.
    EXPECT_EQ(next.state(KeyService::anthropic, QStringLiteral("sk-ant-api03-abcXefgh")), KeyChecks::State::works());
    EXPECT_EQ(next.state(KeyService::anthropic, QStringLiteral("sk-ant-api03-abcdefgX")), KeyChecks::State::unknown());
    EXPECT_EQ(next.state(KeyService::anthropic, QString()), KeyChecks::State::unknown());
    EXPECT_EQ(next.state(KeyService::soniox, key), KeyChecks::State::unknown());
    EXPECT_EQ(m_server.requests().size(), 1);

    // The record holds the fingerprint only, never the key.
    QFile file(m_dir.filePath(QStringLiteral("Vell.conf")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("verifiedKeys"));
    EXPECT_FALSE(text.contains("api03"));
}

TEST_F(KeyChecksTest, ForgetFallsBackToTheRecord)
{
    const QString key = QStringLiteral("sk-soniox-0001");
    remember(KeyService::soniox, key);
    m_server.answerWith(500);
    checkAndWait(KeyService::soniox, key);
    EXPECT_EQ(m_checks->state(KeyService::soniox, key).kind(), Kind::failed);

    QSignalSpy changes(m_checks.get(), &KeyChecks::statesChanged);
    m_checks->forget(KeyService::soniox);
    EXPECT_EQ(changes.size(), 1);
    EXPECT_FALSE(m_checks->states().contains(KeyService::soniox));
    EXPECT_EQ(m_checks->state(KeyService::soniox, key), KeyChecks::State::works());
}

TEST_F(KeyChecksTest, AnEmptyKeySendsNothing)
{
    m_checks->check(KeyService::assemblyAI, QString());
    EXPECT_EQ(m_checks->states().value(KeyService::assemblyAI), KeyChecks::State::unknown());

    // It also ends a check still running, whose late answer must not count.
    m_server.staySilent();
    QSignalSpy received(&m_server, &ScriptedHttpServer::requestReceived);
    m_checks->check(KeyService::soniox, QStringLiteral("sk-1"));
    ASSERT_TRUE(received.wait());
    m_checks->check(KeyService::soniox, QString());
    m_server.answerHeld(200);
    QSignalSpy changes(m_checks.get(), &KeyChecks::statesChanged);
    EXPECT_FALSE(changes.wait(300));
    EXPECT_EQ(m_checks->states().value(KeyService::soniox), KeyChecks::State::unknown());
    EXPECT_EQ(m_server.requests().size(), 1);
    EXPECT_TRUE(remembered(KeyService::soniox).isEmpty());
}

TEST_F(KeyChecksTest, AKeyWithALineBreakIsNeverSent)
{
    // Sent as typed, the second line would arrive as a header of its own.
    m_server.answerWith(200);
    for (KeyService service : KeyServices::all()) {
        m_checks->check(service, QStringLiteral("sk-1\r\nX-Injected: yes"));
        const KeyChecks::State state = m_checks->states().value(service);
        EXPECT_EQ(state.kind(), KeyChecks::State::Kind::failed);
        EXPECT_TRUE(state.message().contains(u"line break")) << state.message().toStdString();
    }
    QSignalSpy received(&m_server, &ScriptedHttpServer::requestReceived);
    EXPECT_FALSE(received.wait(200));
    EXPECT_TRUE(m_server.requests().isEmpty());
}

TEST_F(KeyChecksTest, TheNewestOfTwoOverlappingChecksWins)
{
    const QString older = QStringLiteral("sk-older-key");
    const QString newer = QStringLiteral("sk-newer-key-2");
    QSignalSpy received(&m_server, &ScriptedHttpServer::requestReceived);
    m_server.staySilent();
    m_checks->check(KeyService::assemblyAI, older);
    ASSERT_TRUE(received.wait());
    m_server.answerWith(200);
    EXPECT_EQ(checkAndWait(KeyService::assemblyAI, newer), KeyChecks::State::works());

    // The older check's rejection arrives last and must change nothing.
    m_server.answerHeld(401);
    QSignalSpy changes(m_checks.get(), &KeyChecks::statesChanged);
    EXPECT_FALSE(changes.wait(300));
    EXPECT_EQ(m_checks->states().value(KeyService::assemblyAI), KeyChecks::State::works());
    EXPECT_EQ(remembered(KeyService::assemblyAI), KeyChecks::fingerprint(newer));
}

TEST_F(KeyChecksTest, AKeyTravelsInPlainTextOnlyToThisComputer)
{
    const QUrl plain(QStringLiteral("http://api.example.com:8080"));
    KeyChecks checks(m_network, m_store, {plain, plain, QUrl(QStringLiteral("no scheme"))});
    checks.check(KeyService::soniox, QStringLiteral("sk-secret"));
    EXPECT_EQ(checks.states().value(KeyService::soniox),
              KeyChecks::State::failed(
                  QStringLiteral("The key was not sent: http://api.example.com:8080 is not an HTTPS address.")));
    checks.check(KeyService::anthropic, QStringLiteral("sk-secret"));
    EXPECT_EQ(
        checks.states().value(KeyService::anthropic),
        KeyChecks::State::failed(QStringLiteral("The key was not sent: the Anthropic address is not a valid URL.")));

    const KeyChecks::Endpoints defaults = KeyChecks::Endpoints::defaults();
    for (KeyService service : KeyServices::all())
        EXPECT_EQ(defaults.base(service).scheme(), QStringLiteral("https"));
}

TEST_F(KeyChecksTest, TheEnvironmentOverridesAServiceHost)
{
    qputenv("VELL_SONIOX_API_URL", m_server.url().toEncoded());
    const KeyChecks::Endpoints endpoints = KeyChecks::Endpoints::fromEnvironment();
    qunsetenv("VELL_SONIOX_API_URL");
    EXPECT_EQ(endpoints.assemblyAI, KeyChecks::Endpoints::defaults().assemblyAI);

    KeyChecks checks(m_network, m_store, endpoints);
    m_server.answerWith(401);
    EXPECT_EQ(checkAndWait(KeyService::soniox, QStringLiteral("sk-x"), &checks).kind(), Kind::failed);
    ASSERT_EQ(m_server.requests().size(), 1);
    EXPECT_EQ(m_server.requests().first().target, "/v1/models");
}

} // namespace
