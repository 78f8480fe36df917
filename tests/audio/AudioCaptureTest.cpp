#include "audio/AudioCapture.h"

#include "fakes/FakeAudioBackend.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

using CaptureError = AudioCapture::CaptureError;
using EventType = FakeAudioBackend::EventType;

constexpr int kWait = 5000; // ms; an upper bound, never waited for in a passing run

AudioCaptureTimings shortTimings()
{
    AudioCaptureTimings timings;
    timings.watchdogInterval = 20ms;
    timings.silenceLimit = 150ms;
    timings.restartDelay = 60ms;
    timings.restartWindow = 10s;
    timings.setUpLimit = 300ms;
    return timings;
}

// What the capture handed on, from whichever thread it called.
class Received
{
public:
    void add(const QString& what)
    {
        std::lock_guard lock(m_mutex);
        m_log.append(what);
    }
    void addChunk(const QByteArray& chunk)
    {
        std::lock_guard lock(m_mutex);
        m_chunks.append(chunk);
        m_log.append(QStringLiteral("sink"));
    }
    void addLevel(float level)
    {
        std::lock_guard lock(m_mutex);
        m_levels.append(level);
        m_log.append(QStringLiteral("level"));
    }
    QStringList log() const
    {
        std::lock_guard lock(m_mutex);
        return m_log;
    }
    QList<QByteArray> chunks() const
    {
        std::lock_guard lock(m_mutex);
        return m_chunks;
    }
    QList<float> levels() const
    {
        std::lock_guard lock(m_mutex);
        return m_levels;
    }
    qsizetype count(const QString& what) const { return log().count(what); }

private:
    mutable std::mutex m_mutex;
    QStringList m_log;
    QList<QByteArray> m_chunks;
    QList<float> m_levels;
};

QString describe(std::optional<CaptureError> error)
{
    return error ? QStringLiteral("failed: ") + AudioCapture::description(*error) : QStringLiteral("started");
}

QByteArray bytesOf(const QList<qint16>& samples)
{
    return QByteArray(reinterpret_cast<const char*>(samples.constData()), samples.size() * 2);
}

QList<qint16> block(qint16 peak, qint16 fill = 0)
{
    QList<qint16> samples(AudioCaptureStream::kBlockFrames, fill);
    samples[7] = peak;
    return samples;
}

const FakeAudioBackend::Device kBuiltIn{1, QStringLiteral("builtin"), QStringLiteral("Built-in Microphone"), true};
const FakeAudioBackend::Device kUsb{2, QStringLiteral("usb"), QStringLiteral("USB Microphone"), false};
const FakeAudioBackend::Device kMonitor{3, QStringLiteral("speaker.monitor"), QStringLiteral("Monitor of Speaker"),
                                        false, false};

class AudioCaptureTest : public ::testing::Test
{
protected:
    explicit AudioCaptureTest(AudioCaptureTimings timings = shortTimings()) : capture(backend, timings)
    {
        backend.setDevices({kBuiltIn, kUsb, kMonitor});
        backend.setDefaultId(kUsb.id);
        capture.setFailure([this](CaptureError error) { received.add(QStringLiteral("failure: ") + describe(error)); });
        capture.setNote([this](const QString& note) { received.add(QStringLiteral("note: ") + note); });
    }

    void listen()
    {
        capture.setSink([this](QByteArray chunk) { received.addChunk(chunk); });
        capture.setLevel([this](float level) { received.addLevel(level); });
    }

    void start()
    {
        capture.start([this](std::optional<CaptureError> error) { received.add(describe(error)); });
    }

    bool waitFor(const QString& what, qsizetype count = 1)
    {
        return QTest::qWaitFor([&] { return received.count(what) >= count; }, kWait);
    }
    bool waitForOpens(int count, int timeoutMs = kWait)
    {
        return QTest::qWaitFor([&] { return backend.openCount() >= count; }, timeoutMs);
    }

    FakeAudioBackend backend;
    Received received;
    AudioCapture capture;
};

TEST_F(AudioCaptureTest, HandsOnEachBlockWithItsLevelFirstAndStopsTheSinkAtOnce)
{
    listen();
    // The completion holds the queue, so the recording is still open when stop() returns.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto releaseOnExit = qScopeGuard([&] { release.set_value(); });
    capture.start([&, released](std::optional<CaptureError> error) {
        received.add(describe(error));
        released.wait();
    });
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    EXPECT_TRUE(capture.isRunning());

    const QList<qint16> fullScaleNegative = block(-32768, 12);
    ASSERT_TRUE(backend.deliver(fullScaleNegative));
    ASSERT_TRUE(backend.deliver(block(16384, -3)));
    EXPECT_EQ(received.chunks(), (QList<QByteArray>{bytesOf(fullScaleNegative), bytesOf(block(16384, -3))}));
    ASSERT_EQ(received.levels().size(), 2);
    EXPECT_EQ(received.levels()[0], 1.0f);
    EXPECT_FLOAT_EQ(received.levels()[1], 16384.0f / 32767.0f);
    EXPECT_EQ(received.log().mid(1), (QStringList{QStringLiteral("level"), QStringLiteral("sink"),
                                                  QStringLiteral("level"), QStringLiteral("sink")}));

    capture.stop();
    ASSERT_TRUE(backend.deliver(block(1000))) << "the recording closes only on the queue";
    EXPECT_EQ(received.chunks().size(), 2);
    EXPECT_EQ(received.levels().size(), 3) << "the level handler stays until it is replaced";

    releaseOnExit.dismiss();
    release.set_value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return backend.liveCount() == 0; }, kWait));
    EXPECT_FALSE(capture.isRunning());
}

TEST_F(AudioCaptureTest, StartingWhileStartingOrRunningSucceedsWithOneRecording)
{
    listen();
    backend.setStartsAtOnce(false);
    start();
    start();
    ASSERT_TRUE(waitForOpens(1));
    ASSERT_TRUE(backend.sendEvent(EventType::started));
    ASSERT_TRUE(waitFor(QStringLiteral("started"), 2));
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started"), 3));
    EXPECT_EQ(backend.openCount(), 1);
    EXPECT_EQ(backend.liveCount(), 1);
}

TEST_F(AudioCaptureTest, StopWhileOpeningTakesEffectOnceTheOpeningIsDecided)
{
    listen();
    backend.setStartsAtOnce(false);
    start();
    capture.stop();
    ASSERT_TRUE(waitForOpens(1));
    ASSERT_TRUE(backend.sendEvent(EventType::started));
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return backend.liveCount() == 0; }, kWait));
    EXPECT_FALSE(capture.isRunning());
}

TEST_F(AudioCaptureTest, WithoutSinkAndLevelNothingIsHandedOnAndTheWatchdogWaits)
{
    // A second capture with a sink shows when silence would have been acted on.
    FakeAudioBackend otherBackend;
    Received other;
    AudioCapture control(otherBackend, shortTimings());
    control.setSink([](QByteArray) {});
    control.setFailure([&](CaptureError error) { other.add(describe(error)); });

    start();
    control.start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    ASSERT_TRUE(backend.deliver(block(500)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.count(describe(CaptureError::noAudio)) == 1; }, kWait));

    EXPECT_EQ(received.log(), QStringList{QStringLiteral("started")});
    EXPECT_EQ(backend.openCount(), 1);
    EXPECT_TRUE(capture.isRunning());
}

struct Selection
{
    const char* name;
    std::optional<QString> chosenUid;
    bool preferBuiltIn;
    std::optional<quint32> defaultId;
    bool builtInPresent;
    QString expectedUid; // empty: the default
    int expectedNotes;
};

void PrintTo(const Selection& selection, std::ostream* os)
{
    *os << selection.name;
}

class AudioCaptureSelectionTest : public AudioCaptureTest, public ::testing::WithParamInterface<Selection>
{};

TEST_P(AudioCaptureSelectionTest, ChoosesTheInput)
{
    const Selection& selection = GetParam();
    if (!selection.builtInPresent)
        backend.setDevices({kUsb, kMonitor});
    backend.setDefaultId(selection.defaultId);
    capture.setInputDeviceUid(selection.chosenUid);
    capture.setPreferBuiltInMic(selection.preferBuiltIn);
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    EXPECT_EQ(backend.openedUids(), QStringList{selection.expectedUid});
    EXPECT_EQ(received.count(QStringLiteral("note: The chosen mic isn't connected, so Vell is using the default one.")),
              selection.expectedNotes);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AudioCaptureSelectionTest,
    ::testing::Values(
        Selection{"ChosenAndConnected", QStringLiteral("usb"), true, kUsb.id, true, QStringLiteral("usb"), 0},
        Selection{"ChosenUidInOtherLetterCaseIsNotConnected", QStringLiteral("USB"), false, kUsb.id, true, {}, 1},
        Selection{"ChosenMissingUsesTheDefault", QStringLiteral("gone"), false, kUsb.id, true, {}, 1},
        Selection{"ChosenMissingWithPreferenceTakesTheBuiltIn", QStringLiteral("gone"), true, kUsb.id, true,
                  QStringLiteral("builtin"), 1},
        Selection{
            "PreferenceWithExternalDefaultTakesTheBuiltIn", {}, true, kUsb.id, true, QStringLiteral("builtin"), 0},
        Selection{"PreferenceWithBuiltInDefaultKeepsTheDefault", {}, true, kBuiltIn.id, true, {}, 0},
        Selection{"PreferenceWithoutBuiltInKeepsTheDefault", {}, true, kUsb.id, false, {}, 0},
        Selection{"PreferenceWithUnreadableDefaultKeepsTheDefault", {}, true, kMonitor.id, true, {}, 0}),
    [](const ::testing::TestParamInfo<Selection>& info) { return std::string(info.param.name); });

TEST_F(AudioCaptureTest, AChosenInputThatRefusesFallsBackToTheDefault)
{
    backend.setFailingUids({QStringLiteral("usb")});
    capture.setInputDeviceUid(QStringLiteral("usb"));
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    EXPECT_EQ(backend.openedUids(), (QStringList{QStringLiteral("usb"), QString()}));
    EXPECT_EQ(backend.liveCount(), 1);
}

TEST_F(AudioCaptureTest, ABurstOfConfigurationChangesRestartsOnceAfterItEnds)
{
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    QElapsedTimer sinceLastChange;
    backend.setDevices({kBuiltIn, kUsb});
    backend.setDevices({kBuiltIn, kUsb}, kBuiltIn.id);
    backend.setDevices({kBuiltIn, kUsb, kMonitor});
    backend.setDefaultId(kBuiltIn.id);
    sinceLastChange.start();
    ASSERT_TRUE(waitForOpens(2));
    EXPECT_GE(sinceLastChange.elapsed(), shortTimings().restartDelay.count() - 5);

    // One more change later makes exactly one more recording: the burst left nothing behind.
    ASSERT_TRUE(QTest::qWaitFor([&] { return backend.liveCount() == 1; }, kWait));
    ASSERT_TRUE(backend.sendEvent(EventType::moved));
    ASSERT_TRUE(waitForOpens(3));
    ASSERT_TRUE(backend.sendEvent(EventType::killed));
    ASSERT_TRUE(waitForOpens(4));
    // A stray restart would come within a restart delay; only time can show there is none.
    EXPECT_FALSE(waitForOpens(5, 3 * int(shortTimings().restartDelay.count())));
    EXPECT_EQ(backend.liveCount(), 1);
    EXPECT_EQ(received.count(QStringLiteral("started")), 1);
    EXPECT_TRUE(capture.isRunning());
}

TEST_F(AudioCaptureTest, AnotherMicrophoneComingAndGoingLeavesTheRecordingAlone)
{
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    for (int i = 0; i < 3; ++i) {
        backend.setDevices({kBuiltIn, kUsb});
        backend.setDevices({kBuiltIn, kUsb, kMonitor});
    }
    // A restart would come within a restart delay; only time can show there is none.
    EXPECT_FALSE(waitForOpens(2, 3 * int(shortTimings().restartDelay.count())));
    EXPECT_EQ(received.count(QStringLiteral("failure: ") + describe(CaptureError::keepsStopping)), 0);

    // The default changing is a change of what is recorded.
    backend.setDefaultId(kBuiltIn.id);
    ASSERT_TRUE(waitForOpens(2));
    EXPECT_EQ(backend.liveCount(), 1);
}

TEST_F(AudioCaptureTest, ASinkReplacedMidBlockIsDestroyedOnTheMainThread)
{
    // What a sink holds, like a dictation's audio stream: it must die where it was made.
    struct Held
    {
        explicit Held(std::promise<std::thread::id>& diedOn) : diedOn(diedOn) {}
        Held(const Held&) = delete;
        ~Held() { diedOn.set_value(std::this_thread::get_id()); }
        std::promise<std::thread::id>& diedOn;
    };
    std::promise<std::thread::id> diedOn;
    std::promise<void> inSink;
    std::promise<void> replaced;
    auto held = std::make_shared<Held>(diedOn);
    capture.setSink([held, &inSink, replaced = replaced.get_future().share()](QByteArray) {
        inSink.set_value();
        replaced.wait();
    });
    held.reset();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));

    // The sound server's thread is inside the old sink while a new dictation replaces it.
    std::thread soundServer([&] { backend.deliver(block(100)); });
    inSink.get_future().wait();
    capture.setSink([](QByteArray) {});
    replaced.set_value();
    soundServer.join();

    std::future<std::thread::id> died = diedOn.get_future();
    ASSERT_TRUE(QTest::qWaitFor([&] { return died.wait_for(0s) == std::future_status::ready; }, kWait));
    EXPECT_EQ(died.get(), std::this_thread::get_id());
}

TEST_F(AudioCaptureTest, ConfigurationChangesWhileIdleAreIgnored)
{
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    capture.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return backend.liveCount() == 0; }, kWait));
    backend.setDefaultId(kBuiltIn.id);
    // A restart would come within a restart delay; only time can show there is none.
    EXPECT_FALSE(waitForOpens(2, 3 * int(shortTimings().restartDelay.count())));
}

class AudioCaptureRestartLimitTest : public AudioCaptureTest
{
protected:
    static AudioCaptureTimings timings(std::chrono::milliseconds window)
    {
        AudioCaptureTimings timings = shortTimings();
        timings.restartDelay = 5ms;
        timings.restartWindow = window;
        timings.silenceLimit = 1min;
        return timings;
    }

    // Long enough for six restarts in a row on a busy machine.
    explicit AudioCaptureRestartLimitTest(std::chrono::milliseconds window = 1500ms) : AudioCaptureTest(timings(window))
    {}

    void changeAndWaitForRestart()
    {
        const int opens = backend.openCount();
        backend.setDefaultId(backend.defaultInputId() == kUsb.id ? kBuiltIn.id : kUsb.id);
        ASSERT_TRUE(waitForOpens(opens + 1));
    }
};

TEST_F(AudioCaptureRestartLimitTest, TheSixthRestartWithinTheWindowGivesUp)
{
    listen();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    for (int i = 0; i < AudioCapture::kMaxRestarts; ++i)
        changeAndWaitForRestart();
    backend.setDefaultId(kMonitor.id);
    ASSERT_TRUE(waitFor(QStringLiteral("failure: ") + describe(CaptureError::keepsStopping)));
    EXPECT_EQ(backend.openCount(), 1 + AudioCapture::kMaxRestarts);
    EXPECT_EQ(backend.liveCount(), 0);
    EXPECT_FALSE(capture.isRunning());

    // The next start begins afresh.
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started"), 2));
    changeAndWaitForRestart();
    EXPECT_EQ(received.count(QStringLiteral("failure: ") + describe(CaptureError::keepsStopping)), 1);
}

// A short window, since the test waits it out.
class AudioCaptureRestartWindowTest : public AudioCaptureRestartLimitTest
{
protected:
    static constexpr std::chrono::milliseconds kWindow{150};

    AudioCaptureRestartWindowTest() : AudioCaptureRestartLimitTest(kWindow) {}
};

TEST_F(AudioCaptureRestartWindowTest, RestartsOlderThanTheWindowNoLongerCount)
{
    listen();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    for (int i = 0; i < AudioCapture::kMaxRestarts - 1; ++i)
        changeAndWaitForRestart();
    QTest::qWait(int(kWindow.count())); // the window is the behaviour here
    for (int i = 0; i < 2; ++i)
        changeAndWaitForRestart();
    EXPECT_EQ(received.count(QStringLiteral("failure: ") + describe(CaptureError::keepsStopping)), 0);
    EXPECT_TRUE(capture.isRunning());
}

TEST_F(AudioCaptureTest, SilenceRestartsOnceAndThenFailsWithNoAudio)
{
    listen();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("failure: ") + describe(CaptureError::noAudio)));
    EXPECT_EQ(backend.openCount(), 2);
    EXPECT_EQ(backend.liveCount(), 0);
    EXPECT_FALSE(capture.isRunning());
}

TEST_F(AudioCaptureTest, AudioArrivingKeepsTheWatchdogQuiet)
{
    listen();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    QTimer feeder;
    QObject::connect(&feeder, &QTimer::timeout, &feeder, [&] { backend.deliver(block(300)); });
    feeder.start(20);
    // Audio arrives for several silence limits; a watchdog that ignored it would restart within one.
    EXPECT_FALSE(waitForOpens(2, 3 * int(shortTimings().silenceLimit.count())));
    feeder.stop();
    EXPECT_EQ(received.count(QStringLiteral("failure: ") + describe(CaptureError::noAudio)), 0);

    // The silence after that is acted on as usual.
    ASSERT_TRUE(waitFor(QStringLiteral("failure: ") + describe(CaptureError::noAudio)));
    EXPECT_EQ(backend.openCount(), 2);
}

TEST_F(AudioCaptureTest, AStartThatCannotOpenFailsWithNoInputAndCallsNoFailure)
{
    listen();
    backend.setFailsAll(true);
    start();
    ASSERT_TRUE(waitFor(describe(CaptureError::noInput)));
    EXPECT_EQ(received.count(QStringLiteral("failure: ") + describe(CaptureError::noInput)), 0);
    EXPECT_FALSE(capture.isRunning());

    // A recording that never answers counts as one that cannot open.
    backend.setFailsAll(false);
    backend.setStartsAtOnce(false);
    start();
    ASSERT_TRUE(waitFor(describe(CaptureError::noInput), 2));
    EXPECT_EQ(backend.liveCount(), 0);
}

TEST_F(AudioCaptureTest, ARestartThatCannotOpenReportsAFailure)
{
    listen();
    start();
    ASSERT_TRUE(waitFor(QStringLiteral("started")));
    backend.setFailsAll(true);
    backend.setDefaultId(kBuiltIn.id);
    ASSERT_TRUE(waitFor(QStringLiteral("failure: ") + describe(CaptureError::noInput)));
    EXPECT_FALSE(capture.isRunning());
    EXPECT_EQ(backend.liveCount(), 0);
}

} // namespace
