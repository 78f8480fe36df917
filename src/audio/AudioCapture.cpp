#include "audio/AudioCapture.h"

#include "audio/AudioInputList.h"
#include "platform/AudioBackend.h"
#include "storage/VellLog.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <utility>

using namespace std::chrono;

namespace {

const VellLog& logger()
{
    return VellLog::audio();
}

qint64 monotonicNanoseconds()
{
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

// Peak absolute sample ÷ 32767; −32768 counts as 32767.
float peakLevel(const qint16* samples, qsizetype count)
{
    int highest = 0;
    int lowest = 0;
    for (qsizetype i = 0; i < count; ++i) {
        highest = std::max<int>(highest, samples[i]);
        lowest = std::min<int>(lowest, samples[i]);
    }
    const int peak = std::min(std::max(highest, -lowest), 32767);
    return float(peak) / 32767.0f;
}

} // namespace

QString AudioCapture::description(CaptureError error)
{
    switch (error) {
    case CaptureError::noInput:
        return QStringLiteral("No microphone input is available.");
    case CaptureError::noAudio:
        return QStringLiteral("No audio is arriving from the microphone.");
    case CaptureError::keepsStopping:
        return QStringLiteral("The microphone keeps switching and couldn't settle.");
    }
    return {};
}

AudioCapture::AudioCapture(AudioBackend& backend, Timings timings)
    : m_backend(backend), m_timings(timings), m_handlers(std::make_shared<const Handlers>())
{
    m_queue = new QObject;
    m_watchdog = new QTimer(m_queue);
    m_watchdog->setInterval(m_timings.watchdogInterval);
    m_pendingRestart = new QTimer(m_queue);
    m_pendingRestart->setSingleShot(true);
    m_pendingRestart->setInterval(m_timings.restartDelay);
    m_setUpTimer = new QTimer(m_queue);
    m_setUpTimer->setSingleShot(true);
    m_setUpTimer->setInterval(m_timings.setUpLimit);

    QObject::connect(m_watchdog, &QTimer::timeout, m_queue, [this] { onWatchdogTick(); });
    QObject::connect(m_pendingRestart, &QTimer::timeout, m_queue, [this] {
        serially([this] { restart(QStringLiteral("configuration changed"), SetUpPurpose::restart); });
    });
    QObject::connect(m_setUpTimer, &QTimer::timeout, m_queue, [this] {
        if (!m_setUp)
            return;
        logger().error(QStringLiteral("input did not start within %1 ms").arg(m_timings.setUpLimit.count()));
        failSetUp(CaptureError::noInput);
    });
    // Emitted on the main thread; the queue object makes them hop onto the queue.
    QObject::connect(&m_backend, &AudioBackend::inputsChanged, m_queue,
                     [this] { serially([this] { onInputsChanged(); }); });
    QObject::connect(&m_backend, &AudioBackend::defaultInputChanged, m_queue,
                     [this] { serially([this] { onInputsChanged(); }); });

    m_thread.setObjectName(QStringLiteral("org.brightfold.Vell.audio"));
    m_queue->moveToThread(&m_thread);
    m_thread.start();
}

AudioCapture::~AudioCapture()
{
    updateHandlers([](Handlers& handlers) { handlers = {}; });
    QMetaObject::invokeMethod(
        m_queue,
        [this] {
            m_watchdog->stop();
            m_pendingRestart->stop();
            m_setUpTimer->stop();
            m_setUp.reset();
            m_deferred.clear();
            tearDown();
            // Deleted by the thread as it finishes.
            m_queue->deleteLater();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
}

void AudioCapture::start(Completion completion)
{
    enqueue([this, completion = std::move(completion), prefer = m_preferBuiltInMic, uid = m_inputDeviceUid] {
        startProcedure(completion, prefer, uid);
    });
}

void AudioCapture::stop()
{
    updateHandlers([](Handlers& handlers) { handlers.sink = nullptr; });
    enqueue([this] { stopProcedure(); });
}

void AudioCapture::setSink(Sink sink)
{
    updateHandlers([&](Handlers& handlers) { handlers.sink = std::move(sink); });
}

void AudioCapture::setLevel(Level level)
{
    updateHandlers([&](Handlers& handlers) { handlers.level = std::move(level); });
}

void AudioCapture::setFailure(Failure failure)
{
    updateHandlers([&](Handlers& handlers) { handlers.failure = std::move(failure); });
}

void AudioCapture::setNote(Note note)
{
    updateHandlers([&](Handlers& handlers) { handlers.note = std::move(note); });
}

std::shared_ptr<const AudioCapture::Handlers> AudioCapture::handlers() const
{
    std::lock_guard lock(m_handlersMutex);
    return m_handlers;
}

void AudioCapture::updateHandlers(const std::function<void(Handlers&)>& change)
{
    // The handlers hold the caller's objects (the dictation's audio stream,
    // one). A thread that calls them keeps a copy for the call, and might be
    // the last owner once they are replaced: they are then deleted on the
    // main thread, never on the sound server's or the queue's.
    const auto deleteOnMainThread = [](const Handlers* handlers) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() == app->thread())
            delete handlers;
        else
            QMetaObject::invokeMethod(
                app, [handlers] { delete handlers; }, Qt::QueuedConnection);
    };
    std::shared_ptr<const Handlers> replaced;
    std::lock_guard lock(m_handlersMutex);
    std::shared_ptr<Handlers> updated(new Handlers(*m_handlers), deleteOnMainThread);
    change(*updated);
    replaced = std::exchange(m_handlers, std::move(updated));
}

void AudioCapture::enqueue(std::function<void()> operation)
{
    QMetaObject::invokeMethod(
        m_queue, [this, operation = std::move(operation)] { serially(operation); }, Qt::QueuedConnection);
}

// While a recording is being opened the queue is busy, as if the opening
// blocked it: later operations wait their turn.
void AudioCapture::serially(std::function<void()> operation)
{
    if (m_setUp)
        m_deferred.push_back(std::move(operation));
    else
        operation();
}

void AudioCapture::runDeferred()
{
    while (!m_setUp && !m_deferred.empty()) {
        std::function<void()> operation = std::move(m_deferred.front());
        m_deferred.pop_front();
        operation();
    }
}

void AudioCapture::startProcedure(Completion completion, bool preferBuiltIn, const std::optional<QString>& uid)
{
    if (m_running) {
        if (completion)
            completion(std::nullopt);
        return;
    }
    m_wantsRunning = true;
    m_recentRestarts.clear();
    m_wantedPreferBuiltIn = preferBuiltIn;
    m_wantedUid = uid;
    beginSetUp(SetUpPurpose::start, {std::move(completion)});
}

void AudioCapture::stopProcedure()
{
    m_wantsRunning = false;
    m_running = false;
    m_watchdog->stop();
    m_pendingRestart->stop();
    tearDown();
    logger().info(QStringLiteral("engine stopped"));
}

void AudioCapture::beginSetUp(SetUpPurpose purpose, QList<Completion> completions)
{
    tearDown();
    m_setUp = SetUp{purpose, std::nullopt, std::move(completions)};
    m_setUp->device = selectInput();
    m_recordedUid = recordedUid(m_setUp->device);
    if (!m_setUp->device) {
        const auto defaultInput = AudioInputList::defaultInputInfo(m_backend);
        logger().info(QStringLiteral("input: system default (%1)")
                          .arg(defaultInput ? defaultInput->name : QStringLiteral("none")));
    }
    m_setUpTimer->start();
    openStream(m_setUp->device);
}

std::optional<AudioInputDevice> AudioCapture::selectInput()
{
    if (m_wantedUid && !AudioInputList::device(m_backend, *m_wantedUid)) {
        logger().info(QStringLiteral("chosen input %1 not connected; using the default").arg(*m_wantedUid));
        if (const auto current = handlers(); current->note)
            current->note(QStringLiteral("The chosen mic isn't connected, so Vell is using the default one."));
    }
    return chooseInput();
}

std::optional<QString> AudioCapture::recordedUid(const std::optional<AudioInputDevice>& chosen) const
{
    if (chosen)
        return chosen->uid;
    const auto defaultInput = AudioInputList::defaultInputInfo(m_backend);
    return defaultInput ? std::optional<QString>(defaultInput->uid) : std::nullopt;
}

std::optional<AudioInputDevice> AudioCapture::chooseInput() const
{
    std::optional<AudioInputDevice> choice;
    if (m_wantedUid)
        choice = AudioInputList::device(m_backend, *m_wantedUid);
    if (!choice && m_wantedPreferBuiltIn) {
        const auto defaultInput = AudioInputList::defaultInputInfo(m_backend);
        if (defaultInput && !defaultInput->isBuiltIn)
            choice = AudioInputList::firstBuiltIn(m_backend);
    }
    return choice;
}

void AudioCapture::openStream(const std::optional<AudioInputDevice>& device)
{
    const quint64 generation = ++m_generation;
    AudioCaptureStream::Handlers streamHandlers;
    streamHandlers.frames = [this](const qint16* samples, qsizetype frameCount) { onFrames(samples, frameCount); };
    streamHandlers.event = [this, generation](const AudioCaptureStream::Event& event) {
        QMetaObject::invokeMethod(
            m_queue, [this, generation, event] { onStreamEvent(generation, event); }, Qt::QueuedConnection);
    };
    m_stream = m_backend.openCapture(device, std::move(streamHandlers));
}

void AudioCapture::onStreamEvent(quint64 generation, const AudioCaptureStream::Event& event)
{
    using Type = AudioCaptureStream::Event::Type;
    if (generation != m_generation)
        return;
    if (m_setUp) {
        switch (event.type) {
        case Type::started:
            if (m_setUp->device)
                logger().info(QStringLiteral("input: %1").arg(m_setUp->device->name));
            succeedSetUp(event);
            return;
        case Type::failed:
        case Type::killed:
            if (m_setUp->device) {
                logger().error(QStringLiteral("couldn't select input %1: %2; using the default")
                                   .arg(m_setUp->device->name)
                                   .arg(event.errorCode));
                m_setUp->device.reset();
                m_stream.reset();
                openStream(std::nullopt);
                return;
            }
            failSetUp(CaptureError::noInput);
            return;
        case Type::moved:
            return; // the opening's outcome is still to come
        }
    }
    if (event.type == Type::moved || event.type == Type::killed)
        onConfigurationChanged();
}

void AudioCapture::succeedSetUp(const AudioCaptureStream::Event& event)
{
    m_setUpTimer->stop();
    SetUp setUp = std::move(*m_setUp);
    m_setUp.reset();
    m_lastBufferAt = monotonicNanoseconds();
    // A restart for silence gets one chance; any other start resets that.
    m_restartedForSilence = setUp.purpose == SetUpPurpose::silenceRestart;
    m_running = true;
    logger().info(QStringLiteral("engine started: default input %1 Hz %2 ch")
                      .arg(event.deviceSampleRate)
                      .arg(event.deviceChannels));
    if (setUp.purpose == SetUpPurpose::start) {
        m_watchdog->start();
        for (const Completion& completion : std::as_const(setUp.completions))
            if (completion)
                completion(std::nullopt);
    }
    runDeferred();
}

void AudioCapture::failSetUp(CaptureError error)
{
    m_setUpTimer->stop();
    SetUp setUp = std::move(*m_setUp);
    m_setUp.reset();
    if (setUp.purpose == SetUpPurpose::start) {
        logger().error(QStringLiteral("engine start failed: %1").arg(description(error)));
        m_wantsRunning = false;
        tearDown();
        for (const Completion& completion : std::as_const(setUp.completions))
            if (completion)
                completion(error);
    } else {
        logger().error(QStringLiteral("engine restart failed: %1").arg(description(error)));
        fail(error);
    }
    runDeferred();
}

void AudioCapture::onWatchdogTick()
{
    if (m_setUp || !m_wantsRunning || m_pendingRestart->isActive() || !handlers()->sink)
        return;
    const qint64 silence = monotonicNanoseconds() - m_lastBufferAt;
    if (silence < duration_cast<nanoseconds>(m_timings.silenceLimit).count())
        return;
    if (m_restartedForSilence) {
        logger().error(QStringLiteral("still no audio after restarting the engine"));
        fail(CaptureError::noAudio);
        return;
    }
    logger().error(QStringLiteral("no audio for %1 ms while listening").arg(silence / 1000000));
    restart(QStringLiteral("no audio arriving"), SetUpPurpose::silenceRestart);
}

void AudioCapture::onInputsChanged()
{
    // Another microphone coming or going leaves the recording alone; only a
    // change of the input it would use now restarts it.
    if (m_wantsRunning && !m_setUp && recordedUid(chooseInput()) == m_recordedUid) {
        logger().debug(QStringLiteral("inputs changed; the recorded one is unaffected"));
        return;
    }
    onConfigurationChanged();
}

void AudioCapture::onConfigurationChanged()
{
    if (!m_wantsRunning)
        return;
    logger().info(QStringLiteral("configuration changed, now default input"));
    // Restarting the countdown folds a burst of changes into one restart.
    m_pendingRestart->start();
}

void AudioCapture::restart(const QString& reason, SetUpPurpose purpose)
{
    if (!m_wantsRunning)
        return;
    const auto now = steady_clock::now();
    while (!m_recentRestarts.empty() && now - m_recentRestarts.front() >= m_timings.restartWindow)
        m_recentRestarts.pop_front();
    if (m_recentRestarts.size() >= kMaxRestarts) {
        logger().error(QStringLiteral("engine restarted %1 times in %2 s; giving up")
                           .arg(kMaxRestarts)
                           .arg(duration_cast<seconds>(m_timings.restartWindow).count()));
        fail(CaptureError::keepsStopping);
        return;
    }
    m_recentRestarts.push_back(now);
    logger().info(QStringLiteral("restarting engine (%1) with default input").arg(reason));
    beginSetUp(purpose, {});
}

void AudioCapture::fail(CaptureError error)
{
    m_wantsRunning = false;
    m_running = false;
    m_watchdog->stop();
    m_pendingRestart->stop();
    tearDown();
    if (const auto current = handlers(); current->failure)
        current->failure(error);
}

void AudioCapture::tearDown()
{
    m_stream.reset();
    ++m_generation;
    m_running = false;
}

void AudioCapture::onFrames(const qint16* samples, qsizetype frameCount)
{
    m_lastBufferAt.store(monotonicNanoseconds(), std::memory_order_relaxed);
    const auto current = handlers();
    if (!current->sink && !current->level)
        return;
    if (current->level)
        current->level(peakLevel(samples, frameCount));
    if (current->sink)
        current->sink(QByteArray(reinterpret_cast<const char*>(samples), frameCount * qsizetype(sizeof(qint16))));
}
