#include "transcription/AssemblyAITranscriber.h"
#include "transcription/AudioStream.h"
#include "transcription/SonioxTranscriber.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kChunkBytes = 640; // 20 ms of 16 kHz mono 16-bit audio, as the capture delivers it
constexpr int kChunksPerMinute = 60 * 1000 / 20;

qint64 nanosecondsNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A stand-in for both services on its own thread, as a remote server would
// be: greets, swallows audio, answers the end of audio, and on request sends
// a message stamped with the time it was written.
class BenchServer : public QObject
{
public:
    BenchServer() : m_server(QStringLiteral("bench"), QWebSocketServer::NonSecureMode, this)
    {
        connect(&m_server, &QWebSocketServer::newConnection, this, &BenchServer::onNewConnection);
    }

    quint16 listen()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        return m_server.serverPort();
    }

    // Called on the server's thread.
    void sendStamped(bool soniox)
    {
        if (!m_peer)
            return;
        const QByteArray stamp = QByteArray::number(nanosecondsNow());
        m_peer->sendTextMessage(
            soniox ? QString::fromLatin1(R"({"tokens":[{"text":")" + stamp + R"(","is_final":false}]})")
                   : QString::fromLatin1(R"({"type":"Turn","transcript":")" + stamp + R"("})"));
        m_peer->flush();
    }

    std::atomic<qint64> audioBytes{0};

private:
    void onNewConnection()
    {
        QWebSocket* peer = m_server.nextPendingConnection();
        peer->setParent(this);
        m_peer = peer;
        connect(peer, &QWebSocket::binaryMessageReceived, this,
                [this](const QByteArray& bytes) { audioBytes += bytes.size(); });
        connect(peer, &QWebSocket::textMessageReceived, this, [peer](const QString& text) {
            if (text == QLatin1String(R"({"type":"Terminate"})"))
                peer->sendTextMessage(QStringLiteral(R"({"type":"Termination"})"));
            else if (text.isEmpty())
                peer->sendTextMessage(QStringLiteral(R"({"tokens":[],"finished":true})"));
        });
        connect(peer, &QWebSocket::disconnected, peer, &QObject::deleteLater);
        peer->sendTextMessage(QStringLiteral(R"({"type":"Begin"})"));
    }

    QWebSocketServer m_server;
    QWebSocket* m_peer = nullptr;
};

class ServerThread
{
public:
    ServerThread()
    {
        m_server = new BenchServer;
        m_port = m_server->listen();
        m_server->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_server, &QObject::deleteLater);
        m_thread.start();
    }
    ~ServerThread()
    {
        m_thread.quit();
        m_thread.wait();
    }

    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_port)); }
    BenchServer& server() { return *m_server; }
    void sendStamped(bool soniox)
    {
        QMetaObject::invokeMethod(m_server, [this, soniox] { m_server->sendStamped(soniox); });
    }

private:
    QThread m_thread;
    BenchServer* m_server;
    quint16 m_port = 0;
};

bool spinUntil(const std::function<bool()>& done, int timeoutMs = 10'000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

std::unique_ptr<StreamingTranscriber> makeTranscriber(bool soniox, const QUrl& url)
{
    if (soniox)
        return std::make_unique<SonioxTranscriber>(url);
    return std::make_unique<AssemblyAITranscriber>(url);
}

// The main thread's CPU for one minute of capture-sized chunks, each woken
// and handled on its own as the capture would deliver it: reading, batching,
// framing, masking and writing to a local server.
void BM_StreamOneMinute(benchmark::State& state)
{
    const bool soniox = state.range(0) == 1;
    ServerThread thread;
    const auto transcriber = makeTranscriber(soniox, thread.url());
    const QByteArray chunk(kChunkBytes, '\x11');
    double cpuTotal = 0;
    for (auto _ : state) {
        auto audio = std::make_shared<AudioStream>();
        auto session = transcriber->transcribe(audio, {QStringLiteral("key"), {}, {}});
        const qint64 bytesBefore = thread.server().audioBytes;
        bool connected = false;
        bool finished = false;
        QObject::connect(session.get(), &TranscriptionSession::eventReceived, session.get(),
                         [&](const TranscriptEvent& event) {
                             connected = connected || event.kind == TranscriptEvent::Kind::connected;
                         });
        QObject::connect(session.get(), &TranscriptionSession::finished, session.get(), [&] { finished = true; });
        if (!spinUntil([&] { return connected; })) {
            state.SkipWithError("no connection");
            return;
        }
        const double cpuStart = threadCpuSeconds();
        for (int i = 0; i < kChunksPerMinute; ++i) {
            audio->push(chunk);
            QCoreApplication::processEvents();
        }
        audio->finish();
        const bool done = spinUntil([&] { return finished; });
        const double cpu = threadCpuSeconds() - cpuStart;
        if (!done || thread.server().audioBytes - bytesBefore < kChunksPerMinute * kChunkBytes) {
            state.SkipWithError("the audio did not all arrive");
            return;
        }
        cpuTotal += cpu;
        state.SetIterationTime(cpu);
    }
    state.counters["cpu_ms_per_audio_minute"] = cpuTotal * 1000 / double(state.iterations());
    state.SetLabel(soniox ? "Soniox" : "AssemblyAI");
}
BENCHMARK(BM_StreamOneMinute)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// From the moment the server writes a message to the moment the session
// reports its event: the loopback socket, the frame reader, the JSON parse and
// the client's handling.
void BM_MessageToEvent(benchmark::State& state)
{
    const bool soniox = state.range(0) == 1;
    ServerThread thread;
    const auto transcriber = makeTranscriber(soniox, thread.url());
    auto audio = std::make_shared<AudioStream>();
    auto session = transcriber->transcribe(audio, {QStringLiteral("key"), {}, {}});
    bool connected = false;
    qint64 latency = -1;
    QObject::connect(session.get(), &TranscriptionSession::eventReceived, session.get(),
                     [&](const TranscriptEvent& event) {
                         if (event.kind == TranscriptEvent::Kind::connected)
                             connected = true;
                         bool isStamp = false;
                         const qint64 stamp = event.text.toLongLong(&isStamp);
                         if (event.kind == TranscriptEvent::Kind::interim && isStamp)
                             latency = nanosecondsNow() - stamp;
                     });
    if (!spinUntil([&] { return connected; })) {
        state.SkipWithError("no connection");
        return;
    }
    std::vector<qint64> latencies;
    for (auto _ : state) {
        latency = -1;
        thread.sendStamped(soniox);
        if (!spinUntil([&] { return latency >= 0; })) {
            state.SkipWithError("no event");
            return;
        }
        latencies.push_back(latency);
        state.SetIterationTime(double(latency) / 1e9);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) { return double(latencies[size_t(q * double(latencies.size() - 1))]) / 1000; };
    state.counters["p50_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = at(1.0);
    state.SetLabel(soniox ? "Soniox" : "AssemblyAI");
}
BENCHMARK(BM_MessageToEvent)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
