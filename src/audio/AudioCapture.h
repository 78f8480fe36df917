#pragma once

#include "audio/AudioInputDevice.h"
#include "platform/AudioCaptureStream.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class AudioBackend;
class QTimer;

struct AudioCaptureTimings
{
    std::chrono::milliseconds watchdogInterval{1000}; // between silence checks
    std::chrono::milliseconds silenceLimit{2000};     // without audio before the watchdog acts
    std::chrono::milliseconds restartDelay{300};      // after the last configuration change of a burst
    std::chrono::milliseconds restartWindow{10000};   // restarts within it count towards the limit
    std::chrono::milliseconds setUpLimit{5000};       // for the platform to start a recording
};

// Turns the microphone into 16 kHz mono signed 16-bit chunks for the speech
// clients and a loudness value per chunk for the level meter, picking the
// input by the user's preferences and keeping the recording alive: it
// restarts after configuration changes (debounced), restarts once when no
// audio arrives, and gives up with a CaptureError when restarts pile up or
// silence persists.
//
// Threads: start(), stop() and the preference setters are called on the main
// thread; the setters take effect at the next start(). Every state change
// runs on the capture's own serial queue, a worker thread, where `failure`,
// `note` and start()'s completion are called. `level` and then `sink` are
// called for each chunk on the backend's capture thread and must hand the
// data on quickly. The handler setters may be called from any thread.
// Destroying the capture stops it without calling anything.
class AudioCapture
{
public:
    enum class CaptureError { noInput, noAudio, keepsStopping };

    using Timings = AudioCaptureTimings;
    using Sink = std::function<void(QByteArray chunk)>;
    using Level = std::function<void(float level)>;
    using Failure = std::function<void(CaptureError error)>;
    using Note = std::function<void(const QString& note)>;
    using Completion = std::function<void(std::optional<CaptureError> error)>;

    static constexpr int kMaxRestarts = 5;

    // The sentence shown to the user.
    static QString description(CaptureError error);

    explicit AudioCapture(AudioBackend& backend, Timings timings = {});
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;
    ~AudioCapture();

    // Starts capturing unless a recording runs already. `completion` tells how
    // it went, once, even when stop() follows at once (the stop then comes
    // after it); destroying the capture drops it.
    void start(Completion completion = {});
    // No chunk reaches the sink once this returns; the recording ends shortly
    // after, on the queue.
    void stop();

    void setSink(Sink sink);
    void setLevel(Level level);
    void setFailure(Failure failure);
    void setNote(Note note);

    bool preferBuiltInMic() const { return m_preferBuiltInMic; }
    void setPreferBuiltInMic(bool prefer) { m_preferBuiltInMic = prefer; }
    const std::optional<QString>& inputDeviceUid() const { return m_inputDeviceUid; }
    void setInputDeviceUid(std::optional<QString> uid) { m_inputDeviceUid = std::move(uid); }

    // A recording started by this capture is running; any thread.
    bool isRunning() const { return m_running.load(); }

private:
    struct Handlers
    {
        Sink sink;
        Level level;
        Failure failure;
        Note note;
    };

    enum class SetUpPurpose { start, restart, silenceRestart };

    // A recording being opened; the queue defers other operations meanwhile.
    struct SetUp
    {
        SetUpPurpose purpose = SetUpPurpose::start;
        std::optional<AudioInputDevice> device;
        QList<Completion> completions;
    };

    std::shared_ptr<const Handlers> handlers() const;
    void updateHandlers(const std::function<void(Handlers&)>& change);

    // On the queue.
    void enqueue(std::function<void()> operation);
    void serially(std::function<void()> operation);
    void runDeferred();
    void startProcedure(Completion completion, bool preferBuiltIn, const std::optional<QString>& uid);
    void stopProcedure();
    void beginSetUp(SetUpPurpose purpose, QList<Completion> completions);
    // The input to record now: the chosen one, a built-in one where preferred,
    // or none for the system default. selectInput() also tells the user when
    // the chosen one is missing.
    std::optional<AudioInputDevice> selectInput();
    std::optional<AudioInputDevice> chooseInput() const;
    // What recording `chosen` records: its uid, or the default's.
    std::optional<QString> recordedUid(const std::optional<AudioInputDevice>& chosen) const;
    void openStream(const std::optional<AudioInputDevice>& device);
    void onStreamEvent(quint64 generation, const AudioCaptureStream::Event& event);
    void succeedSetUp(const AudioCaptureStream::Event& event);
    void failSetUp(CaptureError error);
    void onWatchdogTick();
    void onInputsChanged();
    void onConfigurationChanged();
    void restart(const QString& reason, SetUpPurpose purpose);
    void fail(CaptureError error);
    void tearDown();

    // On the backend's capture thread.
    void onFrames(const qint16* samples, qsizetype frameCount);

    AudioBackend& m_backend;
    const Timings m_timings;

    // Main thread.
    bool m_preferBuiltInMic = false;
    std::optional<QString> m_inputDeviceUid;

    // Shared across threads.
    mutable std::mutex m_handlersMutex;
    std::shared_ptr<const Handlers> m_handlers;
    std::atomic<bool> m_running = false;
    std::atomic<qint64> m_lastBufferAt = 0; // monotonic nanoseconds

    // The queue's thread only.
    QThread m_thread;
    QObject* m_queue = nullptr;
    QTimer* m_watchdog = nullptr;
    QTimer* m_pendingRestart = nullptr;
    QTimer* m_setUpTimer = nullptr;
    std::unique_ptr<AudioCaptureStream> m_stream;
    quint64 m_generation = 0;
    std::optional<SetUp> m_setUp;
    std::deque<std::function<void()>> m_deferred;
    bool m_wantsRunning = false;
    bool m_restartedForSilence = false;
    std::deque<std::chrono::steady_clock::time_point> m_recentRestarts;
    bool m_wantedPreferBuiltIn = false;
    std::optional<QString> m_wantedUid;
    std::optional<QString> m_recordedUid; // the input being recorded, or set up
};
