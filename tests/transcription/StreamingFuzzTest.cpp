#include "support/RawWebSocketServer.h"
#include "support/TranscriptionRun.h"
#include "transcription/AssemblyAITranscriber.h"
#include "transcription/SonioxTranscriber.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

constexpr int kDocuments = 3000;
constexpr int kBurst = 25;

// Service-shaped JSON objects whose fields are as often of the wrong type as
// of the right one, one in five cut short.
class DocumentGenerator
{
public:
    explicit DocumentGenerator(unsigned seed) : m_random(seed) {}

    QByteArray assemblyAI()
    {
        return document(
            {{QStringLiteral("type"),
              {QStringLiteral("Turn"), QStringLiteral("Turn"), QStringLiteral("Begin"), QStringLiteral("Other"),
               rare(QStringLiteral("Termination")), rare(QStringLiteral("Error"))}},
             {QStringLiteral("transcript"), {text()}},
             {QStringLiteral("end_of_turn"), {true, false}},
             {QStringLiteral("language_code"), {QStringLiteral("en"), text()}},
             {QStringLiteral("words"), {list([this] {
                  return object({{QStringLiteral("text"), {text()}}});
              })}},
             {QStringLiteral("error"), {rare(text())}}});
    }

    QByteArray soniox()
    {
        const auto token = [this] {
            return object({{QStringLiteral("text"), {text(), QStringLiteral("<end>"), QStringLiteral("<fin>")}},
                           {QStringLiteral("is_final"), {true, false}},
                           {QStringLiteral("language"), {QStringLiteral("en"), QStringLiteral("es")}}});
        };
        return document({{QStringLiteral("tokens"), {list(token), list(token)}},
                         {QStringLiteral("finished"), {rare(true)}},
                         {QStringLiteral("error_code"), {rare(503)}},
                         {QStringLiteral("error_message"), {text()}}});
    }

private:
    using Fields = QList<QPair<QString, QList<QJsonValue>>>;

    QByteArray document(const Fields& fields)
    {
        QByteArray json = QJsonDocument(object(fields)).toJson(QJsonDocument::Compact);
        if (chance(0.2))
            json.truncate(below(int(json.size())));
        return json;
    }

    // Each field present or not; when present, one of its right values or, as often, anything.
    QJsonObject object(const Fields& fields)
    {
        QJsonObject result;
        for (const auto& [key, values] : fields) {
            const QJsonValue right = values[below(int(values.size()))];
            if (chance(0.7) && !right.isUndefined())
                result.insert(key, chance(0.7) ? right : anything(2));
        }
        return result;
    }

    QJsonArray list(const std::function<QJsonValue()>& element)
    {
        QJsonArray array;
        for (int i = below(8); i > 0; --i)
            array.append(chance(0.9) ? element() : anything(1));
        return array;
    }

    QJsonValue rare(const QJsonValue& value) { return chance(0.05) ? value : QJsonValue(QJsonValue::Undefined); }

    QString text()
    {
        static const char* const pieces[] = {" ",  "hello",        "\t",    "\n",
                                             "ñé", "\xe3\x80\x80", "<end>", "\xf0\x9f\x98\x80"};
        QString result;
        for (int i = below(6); i > 0; --i)
            result += QString::fromUtf8(pieces[below(int(std::size(pieces)))]);
        return result;
    }

    QJsonValue anything(int depth)
    {
        switch (below(depth > 0 ? 7 : 5)) {
        case 0:
            return QJsonValue::Null;
        case 1:
            return chance(0.5);
        case 2:
            return std::uniform_real_distribution<double>(-1e18, 1e18)(m_random);
        case 3:
            return below(1000);
        case 4:
            return text();
        case 5:
            return list([&] { return anything(depth - 1); });
        default:
            return QJsonObject{{text(), anything(depth - 1)}};
        }
    }

    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }
    int below(int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    std::mt19937 m_random;
};

struct Service
{
    const char* name;
    std::function<std::unique_ptr<StreamingTranscriber>(const QUrl&)> make;
    QByteArray (DocumentGenerator::*document)();
    QByteArray sentinel; // a message whose event ends in `marker`
    QString marker;
};

class StreamingFuzz : public ::testing::TestWithParam<Service>
{};

// Bursts of documents, each followed by the sentinel; a session that ends (an
// error, a termination, a frame that is not UTF-8) is replaced by a new one.
TEST_P(StreamingFuzz, SessionsSurviveArbitraryMessagesAndEndOnceAtMost)
{
    const Service& service = GetParam();
    RawWebSocketServer server;
    const auto transcriber = service.make(server.url());
    DocumentGenerator generator(20'240'611);
    std::unique_ptr<TranscriptionRun> run;
    int ended = 0;
    for (int sent = 0; sent < kDocuments;) {
        if (!run || run->hasEnded()) {
            if (run) {
                EXPECT_EQ(run->endings, 1);
                EXPECT_EQ(run->lateEvents, 0);
                ++ended;
            }
            const qsizetype sessions = server.handshakes().size() + 1;
            run = std::make_unique<TranscriptionRun>(*transcriber, TranscriberConfig{QStringLiteral("key"), {}, {}});
            ASSERT_TRUE(QTest::qWaitFor([&] { return server.handshakes().size() == sessions; }));
        }
        for (int i = 0; i < kBurst; ++i, ++sent)
            server.sendText((generator.*service.document)() + (sent % 500 == 499 ? "\xc3\x28" : ""));
        server.sendText(service.sentinel);
        const auto sentinelSeen = [&] {
            return !run->events.isEmpty() && run->events.last().text.endsWith(service.marker);
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return run->hasEnded() || sentinelSeen(); }, 10'000)) << "after " << sent;
        run->events.clear();
    }
    EXPECT_GT(ended, 0); // the generator does reach the endings
}

INSTANTIATE_TEST_SUITE_P(
    Services, StreamingFuzz,
    ::testing::Values(Service{"AssemblyAI",
                              [](const QUrl& url) { return std::make_unique<AssemblyAITranscriber>(url); },
                              &DocumentGenerator::assemblyAI, R"({"type":"Turn","transcript":"|sentinel"})",
                              QStringLiteral("|sentinel")},
                      Service{"Soniox", [](const QUrl& url) { return std::make_unique<SonioxTranscriber>(url); },
                              &DocumentGenerator::soniox, R"({"tokens":[{"text":"|sentinel"}]})",
                              QStringLiteral("|sentinel")}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
