#include "PulsePlayback.h"
#include "PulseServer.h"
#include "audio/AudioCapture.h"
#include "audio/AudioInputList.h"
#include "platform/linux/PulseAudioBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>

using namespace std::chrono_literals;

namespace {

using CaptureError = AudioCapture::CaptureError;

constexpr int kWait = 15000;
constexpr float kSpeaking = 0.05f; // espeak-ng peaks far above this; silence is 0

// Passes everything through to the real backend, counting the recordings opened.
class CountingBackend final : public AudioBackend
{
public:
    explicit CountingBackend(AudioBackend& backend) : m_backend(backend)
    {
        connect(&m_backend, &AudioBackend::inputsChanged, this, &AudioBackend::inputsChanged);
        connect(&m_backend, &AudioBackend::defaultInputChanged, this, &AudioBackend::defaultInputChanged);
    }

    QList<quint32> deviceIds() const override { return m_backend.deviceIds(); }
    std::optional<AudioInputDevice> deviceInfo(quint32 id) const override { return m_backend.deviceInfo(id); }
    std::optional<quint32> defaultInputId() const override { return m_backend.defaultInputId(); }
    std::unique_ptr<AudioCaptureStream> openCapture(const std::optional<AudioInputDevice>& device,
                                                    AudioCaptureStream::Handlers handlers) override
    {
        ++opens;
        return m_backend.openCapture(device, std::move(handlers));
    }

    std::atomic<int> opens = 0;

private:
    AudioBackend& m_backend;
};

// What the capture delivered, with the level of each chunk.
class Recording
{
public:
    struct Chunk
    {
        qsizetype bytes = 0;
        float level = 0;
    };

    void onLevel(float level) { m_pendingLevel = level; } // the capture thread calls level, then sink
    void onChunk(const QByteArray& chunk)
    {
        std::lock_guard lock(m_mutex);
        m_chunks.append({chunk.size(), m_pendingLevel});
    }
    void add(const QString& event)
    {
        std::lock_guard lock(m_mutex);
        m_events.append(event);
    }

    QList<Chunk> chunks() const
    {
        std::lock_guard lock(m_mutex);
        return m_chunks;
    }
    qsizetype chunkCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_chunks.size();
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    bool heardSpeechSince(qsizetype chunk) const
    {
        std::lock_guard lock(m_mutex);
        for (qsizetype i = chunk; i < m_chunks.size(); ++i)
            if (m_chunks[i].level > kSpeaking)
                return true;
        return false;
    }

private:
    mutable std::mutex m_mutex;
    float m_pendingLevel = 0;
    QList<Chunk> m_chunks;
    QStringList m_events;
};

// The recording streams this process has open on the server.
QJsonArray ourRecordings()
{
    QJsonArray ours;
    for (const QJsonValue& output : PulseServer::list(QStringLiteral("source-outputs")))
        if (output[QStringLiteral("properties")][QStringLiteral("application.process.id")].toString().toLongLong() ==
            QCoreApplication::applicationPid())
            ours.append(output);
    return ours;
}

class PulseCaptureTest : public ::testing::Test
{
protected:
    explicit PulseCaptureTest(AudioCaptureTimings timings = {}) : counting(backend), capture(counting, timings)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return inputs.defaultInput().has_value(); }, kWait));
        capture.setSink([this](QByteArray chunk) { recording.onChunk(chunk); });
        capture.setLevel([this](float level) { recording.onLevel(level); });
        capture.setFailure([this](CaptureError error) {
            recording.add(QStringLiteral("failure: ") + AudioCapture::description(error));
        });
        capture.setNote([this](const QString& note) { recording.add(QStringLiteral("note: ") + note); });
    }

    bool start()
    {
        capture.start([this](std::optional<CaptureError> error) {
            recording.add(error ? QStringLiteral("failed: ") + AudioCapture::description(*error)
                                : QStringLiteral("started"));
        });
        return QTest::qWaitFor([&] { return !recording.events().isEmpty(); }, kWait) &&
               recording.events().constFirst() == QStringLiteral("started");
    }

    // Seen on the main thread, so the capture has been told too.
    bool waitForInput(const QString& uid)
    {
        return QTest::qWaitFor(
            [&] {
                return std::any_of(inputs.inputs().cbegin(), inputs.inputs().cend(),
                                   [&](const AudioInputDevice& input) { return input.uid == uid; });
            },
            kWait);
    }

    bool waitForEvent(const QString& event)
    {
        return QTest::qWaitFor([&] { return recording.events().contains(event); }, kWait);
    }

    PulseServer server;
    PulseAudioBackend backend;
    AudioInputList inputs{backend};
    CountingBackend counting;
    Recording recording;
    AudioCapture capture;
};

TEST_F(PulseCaptureTest, CapturesSpeechAsSixteenKilohertzMonoChunksWithALevel)
{
    capture.setInputDeviceUid(QStringLiteral("vell_mic"));
    ASSERT_TRUE(start()) << qPrintable(recording.events().join(QLatin1Char('\n')));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.chunkCount() >= 10; }, kWait));
    EXPECT_FALSE(recording.heardSpeechSince(0)) << "nothing is played yet";

    PulsePlayback speech(QStringLiteral("vell_mic_uplink"), server.speechFile());
    ASSERT_TRUE(speech.waitUntilFinished());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.chunkCount() * 20 >= clock.elapsed() - 100; }, kWait));
    capture.stop();
    const qint64 elapsedMs = clock.elapsed();

    const QList<Recording::Chunk> chunks = recording.chunks();
    qsizetype speaking = 0;
    float loudest = 0;
    for (const Recording::Chunk& chunk : chunks) {
        EXPECT_EQ(chunk.bytes, 640) << "20 ms of 16 kHz mono 16-bit";
        speaking += chunk.level > kSpeaking ? 1 : 0;
        loudest = std::max(loudest, chunk.level);
    }
    // The chunks cover the time spent listening, so each is 20 ms of audio.
    EXPECT_NEAR(double(chunks.size()) * 20, double(elapsedMs), 0.15 * double(elapsedMs));
    // The sentence lasts about three seconds with its pauses.
    EXPECT_GT(speaking * 20, 1000);
    EXPECT_LT(speaking * 20, 5000);
    EXPECT_GT(loudest, 0.2f);
    EXPECT_LE(loudest, 1.0f);
    EXPECT_EQ(counting.opens, 1);
}

TEST_F(PulseCaptureTest, RemovingTheChosenSourceNotesItAndCarriesOnFromTheDefault)
{
    server.addMicrophone(QStringLiteral("vell_removable_mic"), QStringLiteral("Removable Microphone"));
    ASSERT_TRUE(waitForInput(QStringLiteral("vell_removable_mic")));
    capture.setInputDeviceUid(QStringLiteral("vell_removable_mic"));
    ASSERT_TRUE(start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.chunkCount() >= 5; }, kWait));

    server.removeMicrophone(QStringLiteral("vell_removable_mic"));
    ASSERT_TRUE(
        waitForEvent(QStringLiteral("note: The chosen mic isn't connected, so Vell is using the default one.")));
    // The note comes while the default input is being opened.
    EXPECT_TRUE(QTest::qWaitFor([&] { return capture.isRunning(); }, kWait));

    const qsizetype afterRemoval = recording.chunkCount();
    PulsePlayback speech(QStringLiteral("vell_mic_uplink"), server.speechFile());
    EXPECT_TRUE(QTest::qWaitFor([&] { return recording.heardSpeechSince(afterRemoval); }, kWait));
    EXPECT_EQ(recording.events().filter(QStringLiteral("failure")), QStringList());
}

class PulseCaptureSilenceTest : public PulseCaptureTest
{
protected:
    static AudioCaptureTimings timings()
    {
        AudioCaptureTimings timings;
        timings.watchdogInterval = 50ms;
        timings.silenceLimit = 400ms;
        return timings;
    }

    PulseCaptureSilenceTest() : PulseCaptureTest(timings()) {}
};

TEST_F(PulseCaptureSilenceTest, ASourceThatDeliversNothingIsRestartedOnceThenReportedAsNoAudio)
{
    server.addMicrophone(QStringLiteral("vell_dead_mic"), QStringLiteral("Dead Microphone"));
    ASSERT_TRUE(waitForInput(QStringLiteral("vell_dead_mic")));
    // A suspended source keeps its recordings open but delivers nothing.
    PulseServer::pactl({QStringLiteral("suspend-source"), QStringLiteral("vell_dead_mic"), QStringLiteral("1")});
    capture.setInputDeviceUid(QStringLiteral("vell_dead_mic"));
    ASSERT_TRUE(start());

    ASSERT_TRUE(waitForEvent(QStringLiteral("failure: No audio is arriving from the microphone.")));
    EXPECT_EQ(counting.opens, 2);
    EXPECT_EQ(recording.chunkCount(), 0);
    EXPECT_FALSE(capture.isRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ourRecordings().isEmpty(); }, kWait));
}

class PulseCaptureBurstTest : public PulseCaptureTest
{
protected:
    static AudioCaptureTimings timings()
    {
        AudioCaptureTimings timings;
        timings.restartDelay = 1500ms; // longer than the burst takes
        return timings;
    }

    PulseCaptureBurstTest() : PulseCaptureTest(timings()) {}
};

TEST_F(PulseCaptureBurstTest, ABurstOfDeviceChangesRestartsOnce)
{
    ASSERT_TRUE(start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.chunkCount() >= 5; }, kWait));

    QElapsedTimer burst;
    burst.start();
    server.addMicrophone(QStringLiteral("vell_burst_one"), QStringLiteral("Burst One"));
    server.addMicrophone(QStringLiteral("vell_burst_two"), QStringLiteral("Burst Two"));
    PulseServer::pactl({QStringLiteral("set-default-source"), QStringLiteral("vell_usb_mic")});
    server.removeMicrophone(QStringLiteral("vell_burst_one"));
    PulseServer::pactl({QStringLiteral("set-default-source"), QStringLiteral("vell_mic")});
    ASSERT_LT(burst.elapsed(), 1000) << "the burst must fit in the restart delay";

    ASSERT_TRUE(QTest::qWaitFor([&] { return counting.opens == 2; }, kWait));
    const qsizetype afterRestart = recording.chunkCount();
    // A second restart would follow within one restart delay; nothing marks its absence but time.
    EXPECT_FALSE(QTest::qWaitFor([&] { return counting.opens > 2; }, int(timings().restartDelay.count()) + 500));
    EXPECT_TRUE(QTest::qWaitFor([&] { return recording.chunkCount() > afterRestart; }, kWait))
        << "capture goes on after the restart";
    EXPECT_TRUE(capture.isRunning());
}

} // namespace
