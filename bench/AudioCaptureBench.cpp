#include "audio/AudioCapture.h"
#include "audio/AudioInputList.h"
#include "platform/AudioBackend.h"
#include "platform/linux/PulseAudioBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <ctime>
#include <mutex>

using namespace std::chrono;

namespace {

constexpr int kBlocksPerMinute = 60 * AudioCaptureStream::kSampleRate / AudioCaptureStream::kBlockFrames;

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// utime + stime of another process, in ms; negative when unknown.
double otherProcessCpuMs(const QByteArray& pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    if (pid.isEmpty() || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble(); // utime, stime
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void runEventLoopFor(milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Hands the capture's frame handler out, so the bench can play the capture thread.
class DirectBackend final : public AudioBackend
{
public:
    QList<quint32> deviceIds() const override { return {1}; }
    std::optional<AudioInputDevice> deviceInfo(quint32) const override
    {
        return AudioInputDevice{1, QStringLiteral("bench"), QStringLiteral("Bench"), true};
    }
    std::optional<quint32> defaultInputId() const override { return 1; }
    std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>&,
                                                    AudioCaptureStream::Handlers handlers) override
    {
        frames = handlers.frames;
        handlers.event({AudioCaptureStream::Event::Type::started, 48000, 1, 0});
        return std::make_unique<AudioCaptureStream>();
    }

    std::function<void(const qint16*, qsizetype)> frames;
};

// Passes through to the real backend, timing each block from the moment the
// backend hands it over until the sink has it.
class TimingBackend final : public AudioBackend
{
public:
    explicit TimingBackend(AudioBackend& backend) : m_backend(backend) {}

    QList<quint32> deviceIds() const override { return m_backend.deviceIds(); }
    std::optional<AudioInputDevice> deviceInfo(quint32 id) const override { return m_backend.deviceInfo(id); }
    std::optional<quint32> defaultInputId() const override { return m_backend.defaultInputId(); }
    std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>& device,
                                                    AudioCaptureStream::Handlers handlers) override
    {
        auto frames = handlers.frames;
        handlers.frames = [this, frames](const qint16* samples, qsizetype count) {
            handedOver = steady_clock::now();
            frames(samples, count);
        };
        return m_backend.openCapture(device, std::move(handlers));
    }

    steady_clock::time_point handedOver; // the backend's capture thread only

private:
    AudioBackend& m_backend;
};

// The capture's own work per block, on the capture thread: level, copy, sink.
void BM_CaptureBlock(benchmark::State& state)
{
    DirectBackend backend;
    AudioCapture capture(backend);
    std::atomic<qsizetype> bytes = 0;
    capture.setSink([&](QByteArray chunk) { bytes += chunk.size(); });
    capture.setLevel([](float level) { benchmark::DoNotOptimize(level); });
    std::atomic<bool> started = false;
    capture.start([&](std::optional<AudioCapture::CaptureError>) { started = true; });
    while (!started)
        runEventLoopFor(1ms);

    QList<qint16> block(AudioCaptureStream::kBlockFrames);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = qint16((i * 7919) % 20000 - 10000);
    const double cpuBefore = processCpuMs();
    for (auto _ : state)
        backend.frames(block.constData(), block.size());
    const double cpuMs = processCpuMs() - cpuBefore;
    capture.stop();
    state.counters["cpu_ms_per_audio_min"] = cpuMs / double(state.iterations()) * kBlocksPerMinute;
    state.SetBytesProcessed(qint64(bytes));
}
BENCHMARK(BM_CaptureBlock);

// A real recording from the default source of the running sound server: this
// process's CPU time (libpulse's thread reading and cutting, the capture's
// work, the queue's watchdog) and the server's extra time for resampling our
// stream, both per minute of audio; the delay from the backend handing a
// block over to the sink having it; the gaps between blocks.
void BM_PulseCapture(benchmark::State& state)
{
    const milliseconds duration(qEnvironmentVariableIntValue("VELL_BENCH_SECONDS") > 0
                                    ? qEnvironmentVariableIntValue("VELL_BENCH_SECONDS") * 1000
                                    : 10000);
    const QByteArray serverPid = qgetenv("VELL_PULSE_PID");
    PulseAudioBackend pulse;
    QElapsedTimer waiting;
    waiting.start();
    while (!AudioInputList::defaultInputInfo(pulse) && waiting.elapsed() < 5000)
        runEventLoopFor(10ms);
    if (!AudioInputList::defaultInputInfo(pulse)) {
        state.SkipWithError("no sound server with an input (run under tests/support/with-pulseaudio)");
        return;
    }
    TimingBackend backend(pulse);
    AudioCapture capture(backend);

    std::mutex mutex;
    qint64 blocks = 0;
    double delaySumUs = 0, delayMaxUs = 0, gapSumMs = 0, gapMaxMs = 0;
    steady_clock::time_point lastBlock;
    capture.setLevel([](float level) { benchmark::DoNotOptimize(level); });
    capture.setSink([&](QByteArray) {
        const auto now = steady_clock::now();
        std::lock_guard lock(mutex);
        const double delayUs = double(duration_cast<nanoseconds>(now - backend.handedOver).count()) / 1e3;
        delaySumUs += delayUs;
        delayMaxUs = std::max(delayMaxUs, delayUs);
        if (blocks > 0) {
            const double gapMs = double(duration_cast<microseconds>(now - lastBlock).count()) / 1e3;
            gapSumMs += gapMs;
            gapMaxMs = std::max(gapMaxMs, gapMs);
        }
        lastBlock = now;
        ++blocks;
    });

    for (auto _ : state) {
        // The server's baseline over the same time, without our recording.
        const double serverIdleBefore = otherProcessCpuMs(serverPid);
        runEventLoopFor(duration);
        const double serverIdleMs = otherProcessCpuMs(serverPid) - serverIdleBefore;

        std::atomic<bool> started = false;
        capture.start([&](std::optional<AudioCapture::CaptureError> error) { started = !error; });
        while (!started)
            runEventLoopFor(1ms);
        const double cpuBefore = processCpuMs();
        const double serverBefore = otherProcessCpuMs(serverPid);
        runEventLoopFor(duration);
        const double cpuMs = processCpuMs() - cpuBefore;
        const double serverMs = otherProcessCpuMs(serverPid) - serverBefore;
        capture.stop();

        std::lock_guard lock(mutex);
        const double audioMinutes = double(blocks) / kBlocksPerMinute;
        state.counters["audio_s"] = audioMinutes * 60;
        state.counters["cpu_ms_per_audio_min"] = cpuMs / audioMinutes;
        state.counters["core_pct"] = 100.0 * cpuMs / double(duration.count());
        if (serverIdleBefore >= 0)
            state.counters["server_extra_ms_per_audio_min"] = (serverMs - serverIdleMs) / audioMinutes;
        state.counters["delay_us_mean"] = delaySumUs / double(blocks);
        state.counters["delay_us_max"] = delayMaxUs;
        state.counters["gap_ms_mean"] = gapSumMs / double(blocks - 1);
        state.counters["gap_ms_max"] = gapMaxMs;
    }
}
BENCHMARK(BM_PulseCapture)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
