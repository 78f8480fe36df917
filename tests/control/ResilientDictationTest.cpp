#include "control/DictationController.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAppearance.h"
#include "fakes/FakeAudioBackend.h"
#include "fakes/FakeClipboard.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeKeystrokePoster.h"
#include "fakes/FakeMicrophonePermission.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSessionEvents.h"
#include "fakes/FakeSoundPlayer.h"
#include "fakes/FakeWorkspace.h"
#include "shortcut/StoredKeyCodes.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/KeyStore.h"
#include "support/CuttingTcpProxy.h"
#include "support/LocalHttpServer.h"
#include "transcription/AssemblyAITranscriber.h"
#include "transcription/NetworkStatus.h"
#include "transcription/ResilientTranscriber.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>

namespace {

using namespace std::chrono_literals;
using State = DictationState;
using Event = HotkeyMonitor::Event;

constexpr qsizetype kWordSamples = 320; // one word per 20 ms chunk
constexpr qsizetype kWordBytes = kWordSamples * 2;
constexpr int kWordsPerTurn = 4;

const QString kLost = u"Lost the connection to AssemblyAI. What you said after it dropped wasn't transcribed."_qs;
const QString kUnreachable =
    u"Couldn't reach AssemblyAI. Check that this network has a working internet connection."_qs;
const QString kCouldNotConnect = u"Couldn't connect to AssemblyAI: "_qs;

// A speech service that speaks AssemblyAI's streaming protocol and hears
// numbers: every 640 bytes of audio whose samples hold n > 0 is the word "wn"
// (silence is no word). It greets each connection, reports the turn in
// progress after every word, ends a turn every fourth word or when asked to,
// and terminates when told to.
class FakeSpeechService : public QObject
{
public:
    FakeSpeechService() : m_server(u"fake speech service"_qs, QWebSocketServer::NonSecureMode)
    {
        connect(&m_server, &QWebSocketServer::newConnection, this, &FakeSpeechService::onNewConnection);
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }

private:
    struct Connection
    {
        QByteArray audio;
        QStringList turn;
    };

    static void send(QWebSocket* socket, const QJsonObject& message)
    {
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }

    static void sendTurn(QWebSocket* socket, const QStringList& words, bool endOfTurn)
    {
        QJsonArray list;
        for (const QString& word : words)
            list.append(QJsonObject{{u"text"_qs, word}});
        QJsonObject turn{{u"type"_qs, u"Turn"_qs},
                         {u"end_of_turn"_qs, endOfTurn},
                         {u"transcript"_qs, endOfTurn ? words.join(QLatin1Char(' ')) : QString()},
                         {u"words"_qs, list}};
        if (endOfTurn)
            turn.insert(u"language_code"_qs, u"en"_qs);
        send(socket, turn);
    }

    void onNewConnection()
    {
        while (QWebSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            auto connection = std::make_shared<Connection>();
            connect(socket, &QWebSocket::binaryMessageReceived, socket, [socket, connection](const QByteArray& bytes) {
                connection->audio.append(bytes);
                qsizetype used = 0;
                for (; connection->audio.size() - used >= kWordBytes; used += kWordBytes) {
                    const auto* samples = reinterpret_cast<const qint16*>(connection->audio.constData() + used);
                    if (samples[0] <= 0)
                        continue;
                    connection->turn.append(u"w"_qs + QString::number(samples[0]));
                    const bool endOfTurn = connection->turn.size() == kWordsPerTurn;
                    sendTurn(socket, connection->turn, endOfTurn);
                    if (endOfTurn)
                        connection->turn.clear();
                }
                connection->audio.remove(0, used);
            });
            connect(socket, &QWebSocket::textMessageReceived, socket, [socket, connection](const QString& text) {
                const QString type = QJsonDocument::fromJson(text.toUtf8()).object().value(u"type"_qs).toString();
                if (type == u"ForceEndpoint"_qs && !connection->turn.isEmpty()) {
                    sendTurn(socket, connection->turn, true);
                    connection->turn.clear();
                } else if (type == u"Terminate"_qs) {
                    send(socket, {{u"type"_qs, u"Termination"_qs}});
                    socket->close();
                }
            });
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            send(socket, {{u"type"_qs, u"Begin"_qs}, {u"id"_qs, u"fake"_qs}});
        }
    }

    QWebSocketServer m_server;
};

QList<int> wordNumbers(const QString& text)
{
    static const QRegularExpression word(u"\\bw(\\d+)\\b"_qs);
    QList<int> numbers;
    for (const QRegularExpressionMatch& match : word.globalMatch(text))
        numbers.append(match.captured(1).toInt());
    return numbers;
}

// How a dictation over a breaking connection should be cut, drawn from a seed.
struct CutPlan
{
    QList<int> cutAllAtMs;                // every open connection cut at these times after the start
    QList<QPair<int, qint64>> byteLimits; // connection number, bytes it carries before it is cut
    std::optional<int> stalledConnection; // a connection that never forwards anything

    static CutPlan draw(unsigned seed)
    {
        std::mt19937 random(seed);
        auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        CutPlan plan;
        for (int n = between(0, 3); n > 0; --n)
            plan.cutAllAtMs.append(between(20, 450));
        // The first connection rarely breaks early: most runs should get going.
        for (int index = between(0, 9) == 0 ? 0 : 1; index < 4; ++index)
            if (between(0, 2) == 0)
                plan.byteLimits.append({index, between(0, 9000)});
        if (between(0, 3) == 0)
            plan.stalledConnection = between(1, 3);
        return plan;
    }
};

struct Outcome
{
    QList<int> words;               // of the dictation's final text, in order
    QSet<int> shown;                // every word the user saw, live or committed
    std::optional<QString> problem; // what the user was told went wrong
    int cuts = 0;
    int connections = 0;
    bool reconnected = false;
};

// A controller wired like the real one: its transcriber is the resilient
// wrapper over the AssemblyAI client, talking to the fake service through the
// cutting proxy.
class Rig : private FakeDesktop
{
public:
    bool setUp()
    {
        if (!(keys.isLoaded() || QSignalSpy(&keys, &KeyStore::keysLoaded).wait(2000)) || !service.listen())
            return false;
        proxy = std::make_unique<CuttingTcpProxy>(service.port());
        if (!proxy->listen())
            return false;
        audio.setDevices({{1, u"mic"_qs, u"Built-in Microphone"_qs, true}}, 1);
        workspace.frontmost = RunningApplication{42, u"Editor"_qs, u"editor"_qs};
        settings.setProvider(TranscriptionProvider::assemblyAI);
        settings.setAPIKey(u"key"_qs, TranscriptionProvider::assemblyAI);
        settings.setAiSharingAllowed(true);
        settings.setCleanupEnabled(false);
        desktopSettings.setTriggerMode(TriggerMode::hold);
        desktopSettings.setShortcut(Shortcut{StoredKeyCodes::space, u"Space"_qs, ModifierKeys(0xC0)});
        NetworkStatus::shared().update(std::nullopt);

        DictationControllerOptions options;
        options.timings = {.armDelay = 30ms,
                           .holdThreshold = 100ms,
                           .flushLimit = 3000ms,
                           .noticeTime = 10000ms,
                           .clipboardNoticeTime = 10000ms,
                           .keyboardGrabPoll = 1000ms,
                           .recordDelay = 10ms};
        options.clipboardRestoreDelay = 50ms;
        options.dataFolder = dir.path();
        options.words = &PlatformVocabulary::forMacOS();
        options.cleanupEndpoint = cleanupServer.url();
        const QUrl endpoint(u"ws://127.0.0.1:%1"_qs.arg(proxy->port()));
        options.makeTranscriber = [endpoint](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
            ResilientTranscriberTimings timings;
            timings.connectTimeout = 300ms;
            timings.backoff = {10ms, 30ms, 60ms};
            return std::make_unique<ResilientTranscriber>(std::make_shared<AssemblyAITranscriber>(endpoint),
                                                          u"AssemblyAI"_qs, timings);
        };
        controller = std::make_unique<DictationController>(settings, desktopSettings, history, platform(), options);
        return true;
    }

    // One held dictation of `words` words, one every 8 ms, cut as planned.
    Outcome dictate(int words, const CutPlan& plan)
    {
        Outcome outcome;
        auto see = [&] {
            for (const QString& text : {controller->interim(), controller->committed()})
                for (int n : wordNumbers(text))
                    outcome.shown.insert(n);
        };
        QObject::connect(controller.get(), &DictationController::interimChanged, controller.get(), see);
        QObject::connect(controller.get(), &DictationController::committedChanged, controller.get(), see);
        QObject::connect(controller.get(), &DictationController::isReconnectingChanged, controller.get(),
                         [&] { outcome.reconnected |= controller->isReconnecting(); });

        for (const auto& [index, bytes] : plan.byteLimits)
            proxy->cutConnectionAfter(index, bytes);
        if (plan.stalledConnection)
            proxy->stallConnection(*plan.stalledConnection);

        controller->handle(Event::pressed);
        if (!QTest::qWaitFor([&] { return controller->state() == State::listening; }, 3000))
            return outcome;
        for (int ms : plan.cutAllAtMs)
            QTimer::singleShot(ms, proxy.get(), [this] { proxy->cutAll(); });
        int spoken = 0;
        QTimer speech;
        QObject::connect(&speech, &QTimer::timeout, &speech, [&] {
            if (controller->state() == State::listening)
                audio.deliver(QList<qint16>(kWordSamples, qint16(++spoken)));
            if (spoken == words || controller->state() != State::listening) {
                speech.stop();
                controller->handle(Event::released);
            }
        });
        speech.start(8);
        if (!QTest::qWaitFor(
                [&] {
                    return !speech.isActive() && controller->state() == State::idle &&
                           !controller->hasUnwrittenDictation();
                },
                15000))
            return outcome;

        if (!history.entries().isEmpty()) {
            outcome.words = wordNumbers(history.entries().first().text);
            outcome.problem = history.entries().first().note;
        } else {
            outcome.problem = controller->notice().text();
        }
        outcome.cuts = proxy->cutCount();
        outcome.connections = proxy->connectionCount();
        return outcome;
    }

    State state() const { return controller->state(); }

private:
    LocalHttpServer cleanupServer;
    FakeSpeechService service;
    std::unique_ptr<CuttingTcpProxy> proxy;
    std::unique_ptr<DictationController> controller;
};

bool isAllowed(const std::optional<QString>& problem)
{
    return !problem || *problem == kLost || *problem == kUnreachable ||
           (problem->startsWith(kCouldNotConnect) && problem->size() > kCouldNotConnect.size());
}

TEST(ResilientDictation, ConnectionsCutAtRandomNeitherLoseNorRepeatWhatWasShown)
{
    constexpr int kRuns = 50;
    constexpr int kWords = 40;
    int cuts = 0;
    int reconnected = 0;
    int complete = 0;
    int unseenMissing = 0;
    std::map<QString, int> outcomes;

    for (unsigned seed = 1; seed <= kRuns; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        Rig rig;
        ASSERT_TRUE(rig.setUp());
        const Outcome outcome = rig.dictate(kWords, CutPlan::draw(seed));
        ASSERT_EQ(rig.state(), State::idle);

        EXPECT_TRUE(isAllowed(outcome.problem)) << outcome.problem->toStdString();
        for (qsizetype i = 1; i < outcome.words.size(); ++i)
            EXPECT_LT(outcome.words[i - 1], outcome.words[i]) << "repeated or out of order";
        for (int n : outcome.shown)
            EXPECT_TRUE(outcome.words.contains(n)) << "w" << n << " was shown, then lost";
        for (int n : outcome.words)
            EXPECT_TRUE(n >= 1 && n <= kWords) << n;
        if (outcome.cuts == 0) {
            EXPECT_EQ(outcome.words.size(), kWords) << "nothing was cut, yet words are missing";
        }

        cuts += outcome.cuts;
        reconnected += outcome.reconnected ? 1 : 0;
        complete += outcome.words.size() == kWords ? 1 : 0;
        for (int n = 1; n <= kWords; ++n)
            unseenMissing += !outcome.words.contains(n) ? 1 : 0;
        ++outcomes[outcome.problem.value_or(u"(no problem)"_qs).section(QLatin1Char(':'), 0, 0)];
    }

    // The harness must really have broken connections and seen reconnections.
    EXPECT_GT(cuts, kRuns);
    EXPECT_GT(reconnected, kRuns / 4);
    std::cout << kRuns << " dictations, " << cuts << " cuts, " << reconnected << " reconnected, " << complete
              << " complete, " << unseenMissing << " words never shown and missing\n";
    for (const auto& [outcome, count] : outcomes)
        std::cout << "  " << count << " x " << outcome.toStdString() << '\n';
}

} // namespace
