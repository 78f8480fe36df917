// Dictation as a user meets it, measured on a private desktop with the real
// program next to the least any program could do:
//
//   release→text  from releasing the shortcut until the text is in a Qt text
//                 field of another process;
//   paste→text    from the paste keystroke (Ctrl+V as the X server hands it
//                 out) until the text is in the field;
//   listening     processor time and context switches per second of audio
//                 while listening to speech and to silence;
//   start→tray    from starting the program until its icon is in the tray.
//
// Vell streams to a loopback stand-in for AssemblyAI's service that speaks the
// real protocol and answers at once, so release→text is Vell's own time. Its
// microphone is PulseAudio's virtual vell_mic, fed espeak-ng speech, and its
// key is in the desktop's keyring. Latencies and starts are measured with an
// empty data folder and with a full one: 2,000 history entries and 100,000
// usage records, as a long-time user has. The floor
// (bench/floor/PasteFloor.cpp) only takes the clipboard and posts Ctrl+V when
// the shortcut is released; run a second time, it first asks the stand-in for
// the finished turn, the one step between a release and words to paste that
// no program can skip. Both floors run beside Vell, each on a shortcut key of
// its own, and the three take turns: a Vell dictation, then one of each floor,
// kDictations times, each with the same speech playing while its key is held
// and released. So all three are timed on a desktop as busy, and a machine
// that slows down meanwhile slows them alike. `parec`, recording vell_mic
// beside Vell over the same seconds, is the floor for listening. Latencies are
// medians of kDictations runs, starts of kStarts; the summary at the end puts
// the figures side by side.
//
// Run it as
//   tests/support/with-pulseaudio tests/support/with-desktop --tray --keyring build/bin/bench_DesktopLatencyBench
// It ends everything it starts by pid and keeps its files in a temporary folder.
// Targets (shown, not asserted): release→text at most 1.5× the floor,
// listening to speech at most 3× parec's processor time, start with a full
// data folder at most 1.2× an empty one.

#include "DesktopHarness.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>
#include <QWebSocket>
#include <QWebSocketServer>

#include <benchmark/benchmark.h>

#include <poll.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace desktop;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kDictations = 20;
constexpr int kStarts = 5;
constexpr auto kHold = 1s;           // the shortcut held after the dictation started
constexpr auto kSettle = 2s;         // after a paste: its history written, the clipboard given back
constexpr auto kFloorSettle = 200ms; // nothing to write
constexpr auto kListening = 10s;     // of audio, for the processor time
constexpr int kFullHistory = 2000;
constexpr int kFullUsage = 100000;
// On the private desktop's US layout.
constexpr uint32_t kLeftControl = 37;
constexpr uint32_t kRightControl = 105;
constexpr uint32_t kV = 55;
// The floors' shortcut keys, the two Super keys: they type nothing in the
// field and, as modifiers, never repeat while held, which would paste early.
constexpr uint8_t kFloorKey = 133;
constexpr uint8_t kAskingFloorKey = 134;

const QString kMicrophone = QStringLiteral("vell_mic");
const QString kMicrophoneUplink = QStringLiteral("vell_mic_uplink");
const QString kTranscript = QStringLiteral("This is a demo transcript coming from the Vell app.");
const QString kSpeech = QStringLiteral("This is a demo transcript coming from the Vell app. And back to English once "
                                       "the demo is over. Then a little more, so that the microphone hears speech "
                                       "for as long as it listens.");

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

// A loopback stand-in for AssemblyAI's streaming service that answers at once:
// "Begin" on connecting, the whole transcript as a finished turn as soon as
// the client asks to close the turn (the end of the audio), and
// "Termination" when it asks to end.
class StandInService : public QObject
{
public:
    StandInService()
    {
        connect(&m_server, &QWebSocketServer::newConnection, this, &StandInService::onNewConnection);
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    QString url() const { return QStringLiteral("ws://127.0.0.1:%1").arg(m_server.serverPort()); }

    qint64 audioBytes() const { return m_audioBytes; }

    // When the first end of audio after `since` came, and was answered.
    std::optional<Clock::time_point> endOfAudioAfter(Clock::time_point since) const
    {
        for (Clock::time_point end : m_endsOfAudio)
            if (end > since)
                return end;
        return std::nullopt;
    }

private:
    void onNewConnection()
    {
        while (QWebSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QWebSocket::textMessageReceived, socket,
                    [this, socket](const QString& message) { answer(*socket, message); });
            connect(socket, &QWebSocket::binaryMessageReceived, this,
                    [this](const QByteArray& audio) { m_audioBytes += audio.size(); });
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            socket->sendTextMessage(QStringLiteral(R"({"type":"Begin","id":"stand-in"})"));
        }
    }

    void answer(QWebSocket& socket, const QString& message)
    {
        const QString type =
            QJsonDocument::fromJson(message.toUtf8()).object().value(QStringLiteral("type")).toString();
        if (type == u"ForceEndpoint") {
            m_endsOfAudio.push_back(Clock::now());
            const QJsonObject turn{{QStringLiteral("type"), QStringLiteral("Turn")},
                                   {QStringLiteral("transcript"), kTranscript},
                                   {QStringLiteral("end_of_turn"), true},
                                   {QStringLiteral("language_code"), QStringLiteral("en")}};
            socket.sendTextMessage(QString::fromUtf8(QJsonDocument(turn).toJson(QJsonDocument::Compact)));
            socket.flush(); // at once, as a service on its own machine would
        } else if (type == u"Terminate") {
            socket.sendTextMessage(QStringLiteral(R"({"type":"Termination"})"));
            socket.flush();
            socket.close();
        }
    }

    QWebSocketServer m_server{QStringLiteral("stand-in"), QWebSocketServer::NonSecureMode};
    std::vector<Clock::time_point> m_endsOfAudio;
    qint64 m_audioBytes = 0;
};

// Notes when the X server hands out each paste chord (V pressed while Ctrl
// is down), watching raw key events on a connection and a thread of its own.
class PasteChordWatch
{
public:
    PasteChordWatch()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(m_connection, &xcb_input_id);
        if (!xinput || !xinput->present)
            return;
        m_xinputOpcode = xinput->major_opcode;
        free(xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
        struct
        {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                    XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        xcb_generic_error_t* error =
            xcb_request_check(m_connection, xcb_input_xi_select_events_checked(m_connection, root, 1, &selection.head));
        const bool selected = error == nullptr;
        free(error);
        if (selected)
            m_thread = std::jthread([this](std::stop_token stop) { watch(stop); });
    }
    ~PasteChordWatch()
    {
        if (m_thread.joinable()) {
            m_thread.request_stop();
            m_thread.join();
        }
        xcb_disconnect(m_connection);
    }

    bool isWatching() const { return m_thread.joinable(); }

    // When the first paste chord after `since` came.
    std::optional<Clock::time_point> chordAfter(Clock::time_point since) const
    {
        std::lock_guard lock(m_mutex);
        for (Clock::time_point chord : m_chords)
            if (chord > since)
                return chord;
        return std::nullopt;
    }

private:
    void watch(const std::stop_token& stop)
    {
        pollfd socket{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        while (!stop.stop_requested()) {
            poll(&socket, 1, 50);
            const Clock::time_point now = Clock::now();
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                note(*reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event), now);
                free(event);
            }
        }
    }

    void note(const xcb_input_raw_key_press_event_t& event, Clock::time_point at)
    {
        if ((event.response_type & 0x7f) != XCB_GE_GENERIC || event.extension != m_xinputOpcode)
            return;
        const bool down = event.event_type == XCB_INPUT_RAW_KEY_PRESS;
        if (event.detail == kLeftControl || event.detail == kRightControl)
            m_controlDown = down;
        if (down && event.detail == kV && m_controlDown) {
            std::lock_guard lock(m_mutex);
            m_chords.push_back(at);
        }
    }

    xcb_connection_t* m_connection = nullptr;
    uint8_t m_xinputOpcode = 0;
    bool m_controlDown = false; // watcher thread only
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_chords;
    std::jthread m_thread;
};

// The tests' text field in a process of its own, which reports each change
// of its text with the moment it happened.
class Field
{
public:
    Field()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(VELL_TEXTFIELD), {QStringLiteral("--report-changes")});
    }
    ~Field() { stop(m_process); }

    bool isActive() { return state().value(QStringLiteral("active")).toBool(); }
    QString text() { return state().value(QStringLiteral("text")).toString(); }

    void clear()
    {
        send({{QStringLiteral("do"), QStringLiteral("set")}, {QStringLiteral("text"), QString()}});
        m_changes.clear();
    }

    // When the field came to read `text`, waiting up to `limit` for it.
    std::optional<Clock::time_point> whenItReads(const QString& text, std::chrono::milliseconds limit)
    {
        std::optional<Clock::time_point> at;
        spinUntil(
            [&] {
                readLines();
                for (const auto& [changed, when] : m_changes)
                    if (changed == text)
                        return (at = when).has_value();
                return false;
            },
            limit);
        return at;
    }

private:
    QJsonObject state() { return send({{QStringLiteral("do"), QStringLiteral("state")}}); }

    // Sends a command and returns its answer; changes that come first are kept.
    QJsonObject send(const QJsonObject& command)
    {
        m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        spinUntil(
            [&] {
                readLines();
                return !m_answers.isEmpty();
            },
            5s);
        return m_answers.isEmpty() ? QJsonObject() : m_answers.takeFirst();
    }

    void readLines()
    {
        while (m_process.canReadLine()) {
            const QJsonObject line = QJsonDocument::fromJson(m_process.readLine()).object();
            if (!line.contains(u"changed")) {
                m_answers.append(line);
                continue;
            }
            const auto at = std::chrono::nanoseconds(qint64(line[u"at"].toDouble()));
            m_changes.append({line[u"changed"].toString(), Clock::time_point(at)});
        }
    }

    QProcess m_process;
    QList<QJsonObject> m_answers;
    QList<std::pair<QString, Clock::time_point>> m_changes;
};

// What every measurement shares: the desktop with its tray, the field in
// front, the chord watch, the stand-in service, and a recording of speech.
struct Rig
{
    Rig()
    {
        const QString wave = scratch.filePath(QStringLiteral("speech.wav"));
        if (QProcess::execute(QStringLiteral("espeak-ng"), {u"-s"_qs, u"110"_qs, u"-w"_qs, wave, kSpeech}) == 0)
            speech = wave;
    }

    // Why nothing can be measured, if so.
    std::optional<QString> problem()
    {
        if (!desktop.hasTray())
            return QStringLiteral("no tray host; run under tests/support/with-desktop --tray --keyring");
        if (!chords.isWatching())
            return QStringLiteral("no raw key events from the X server");
        if (speech.isEmpty())
            return QStringLiteral("espeak-ng made no speech");
        if (!spinUntil([&] { return field.isActive(); }, 10s))
            return QStringLiteral("the text field never came to the front");
        return std::nullopt;
    }

    QTemporaryDir scratch;
    Desktop desktop;
    PasteChordWatch chords;
    StandInService service;
    Field field;
    QString speech; // a wave file
};

QByteArray output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
}

// Whether a Secret Service would be started on demand, locked: it would then
// prompt for a new keyring's password, in a window that grabs the keyboard.
bool keyringWouldPrompt()
{
    const auto busNames = [](const QString& method) {
        return output(QStringLiteral("gdbus"),
                      {u"call"_qs, u"--session"_qs, u"--dest"_qs, u"org.freedesktop.DBus"_qs, u"--object-path"_qs,
                       u"/org/freedesktop/DBus"_qs, u"--method"_qs, u"org.freedesktop.DBus."_qs + method});
    };
    const QByteArray name = "'org.freedesktop.secrets'";
    return busNames(u"ListActivatableNames"_qs).contains(name) && !busNames(u"ListNames"_qs).contains(name);
}

// What the desktop must offer before a rig is worth building.
std::optional<QString> missingPart()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("no X display; run under tests/support/with-desktop --tray --keyring");
    for (const char* tool : {"espeak-ng", "paplay", "parec", "pactl", "gdbus"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is missing; scripts/setup installs it").arg(QString::fromLatin1(tool));
    if (!output(QStringLiteral("pactl"), {u"list"_qs, u"short"_qs, u"sources"_qs}).contains("\tvell_mic\t"))
        return QStringLiteral("no sound server with vell_mic; run under tests/support/with-pulseaudio");
    if (keyringWouldPrompt())
        return QStringLiteral("the keyring is not running; run under tests/support/with-desktop --tray --keyring");
    return std::nullopt;
}

std::unique_ptr<Rig> g_rig;

Rig* rigFor(benchmark::State& state)
{
    static std::optional<QString> problem = missingPart();
    if (!problem && !g_rig) {
        g_rig = std::make_unique<Rig>();
        problem = g_rig->problem();
    }
    if (problem) {
        state.SkipWithError(problem->toUtf8().constData());
        return nullptr;
    }
    return g_rig.get();
}

// The figures the summary puts side by side.
struct Latency
{
    double releaseToTextMs = 0;
    double pasteToTextMs = 0;
    // Through the service only: until it heard the audio end, and from its answer to the paste keystroke.
    double releaseToEndOfAudioMs = 0;
    double answerToPasteMs = 0;
};
struct Listening
{
    double speechCpuMsPerS = 0;
    double silenceCpuMsPerS = 0;
    double speechSwitchesPerS = 0;
    double silenceSwitchesPerS = 0;
};
struct Figures
{
    // Each beside Vell with an empty and with a full data folder.
    std::optional<Latency> vell[2];
    std::optional<Latency> floor[2];       // paste only
    std::optional<Latency> floorAsking[2]; // the service's answer, then the paste
    std::optional<Listening> parec;
    std::optional<Listening> vellListening;
    std::optional<double> startMs[2]; // empty, full data folder
} g_figures;

void writePrivateFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(contents);
}

// A long-time user's files, as Vell writes them: newest history entry first,
// usage records oldest first, dates in seconds since 2001-01-01 UTC.
void fillDataFolder(const QString& folder)
{
    const double now = double(QDateTime::currentSecsSinceEpoch() - 978307200);
    QByteArray history = "[";
    for (int i = 0; i < kFullHistory; ++i) {
        const QJsonObject entry{
            {QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {QStringLiteral("date"), now - i * 3600.0},
            {QStringLiteral("text"), QStringLiteral("Entry %1. %2").arg(i).arg(kSpeech)},
            {QStringLiteral("appName"), QStringLiteral("Text Editor")},
            {QStringLiteral("status"), QStringLiteral("pasted")},
            {QStringLiteral("seconds"), 6.5},
            {QStringLiteral("language"), QStringLiteral("en")},
            {QStringLiteral("provider"), QStringLiteral("assemblyAI")},
            {QStringLiteral("inputName"), QStringLiteral("Built-in Microphone")},
        };
        history += (i ? "," : "") + QJsonDocument(entry).toJson(QJsonDocument::Compact);
    }
    writePrivateFile(folder + QStringLiteral("/history.json"), history + ']');

    QByteArray usage = "[";
    for (int i = 0; i < kFullUsage; ++i)
        usage += QStringLiteral(R"(%1{"date":%2,"words":%3,"seconds":%4})")
                     .arg(i ? QStringLiteral(",") : QString())
                     .arg(qint64(now) - qint64(kFullUsage - i) * 300)
                     .arg(20 + i % 30)
                     .arg(4.5 + i % 7)
                     .toUtf8();
    writePrivateFile(folder + QStringLiteral("/usage.json"), usage + ']');
}

// Whether Vell read both files rather than setting them aside as unreadable.
bool keptFullDataFolder(const Vell& vell)
{
    const QDir folder(vell.dataFolder());
    return folder.entryList({QStringLiteral("history-*"), QStringLiteral("usage-*")}, QDir::Files).isEmpty() &&
           !vell.logContains("unreadable");
}

// Vell on the stand-in service, its key left in the private key file (from
// where it moves the key into the keyring); the full data folder when `full`.
void prepare(Vell& vell, const Rig& rig, bool full)
{
    vell.setPreference(QStringLiteral("provider"), QStringLiteral("assemblyAI"));
    vell.setPreference(QStringLiteral("aiSharingAllowed"), true);
    vell.setPreference(QStringLiteral("cleanupEnabled"), false);
    vell.setEnvironment(QStringLiteral("VELL_ASSEMBLYAI_STREAMING_URL"), rig.service.url());
    writePrivateFile(vell.dataFolder() + QStringLiteral("/api-keys.json"), R"({"assemblyAI":"stand-in-key"})");
    if (full)
        fillDataFolder(vell.dataFolder());
}

// Once Vell watches the keyboard and has its sound server; false if it ended first.
bool isReady(const Vell& vell)
{
    return spinUntil(
               [&] {
                   const QByteArray log = vell.log();
                   return !vell.isRunning() || (log.contains("hotkey: Event tap installed") &&
                                                log.contains("audio: sound server connected"));
               },
               60s) &&
           vell.isRunning();
}

std::optional<Latency> timePaste(Rig& rig, Clock::time_point released)
{
    const std::optional<Clock::time_point> arrived = rig.field.whenItReads(kTranscript, 10s);
    const std::optional<Clock::time_point> chord = rig.chords.chordAfter(released);
    if (!arrived || !chord) {
        fprintf(stderr, "after the release %s, and %s\n", arrived ? "the text arrived" : "no text arrived",
                chord ? "a paste chord was seen" : "no paste chord was seen");
        return std::nullopt;
    }
    Latency latency{milliseconds(*arrived - released), milliseconds(*arrived - *chord)};
    if (const std::optional<Clock::time_point> end = rig.service.endOfAudioAfter(released)) {
        latency.releaseToEndOfAudioMs = milliseconds(*end - released);
        latency.answerToPasteMs = milliseconds(*chord - *end);
    }
    return latency;
}

// The medians of `samples`, also as counters named after `who`.
Latency report(benchmark::State& state, const std::vector<Latency>& samples, const std::string& who)
{
    const auto medianOf = [&samples](double Latency::*member) {
        std::vector<double> values;
        for (const Latency& sample : samples)
            values.push_back(sample.*member);
        return median(values);
    };
    const Latency medians{medianOf(&Latency::releaseToTextMs), medianOf(&Latency::pasteToTextMs),
                          medianOf(&Latency::releaseToEndOfAudioMs), medianOf(&Latency::answerToPasteMs)};
    state.counters[who + "_release_to_text_ms"] = medians.releaseToTextMs;
    state.counters[who + "_paste_to_text_ms"] = medians.pasteToTextMs;
    if (medians.releaseToEndOfAudioMs > 0) {
        state.counters[who + "_release_to_end_of_audio_ms"] = medians.releaseToEndOfAudioMs;
        state.counters[who + "_answer_to_paste_ms"] = medians.answerToPasteMs;
    }
    return medians;
}

// One dictation, for Vell and the floors alike: the program's shortcut `key`
// held while the microphone hears speech, kHold after `started` says the
// program listens, then released; the speech goes on until the text has
// arrived.
std::optional<Latency> dictate(Rig& rig, uint8_t key, const std::function<bool()>& started,
                               std::chrono::milliseconds settle)
{
    rig.field.clear();
    QProcess speech;
    speech.start(QStringLiteral("paplay"), {u"-d"_qs, kMicrophoneUplink, rig.speech});
    rig.desktop.key(key, true);
    const bool listening = spinUntil(started, 10s);
    if (listening)
        runEventLoopFor(kHold);
    const Clock::time_point released = Clock::now();
    rig.desktop.key(key, false);
    const std::optional<Latency> sample = listening ? timePaste(rig, released) : std::nullopt;
    stop(speech);
    runEventLoopFor(settle);
    return sample;
}

// The floor program on its own shortcut key; it asks the stand-in service for
// the finished turn before it pastes when given the service's address.
class Floor
{
public:
    Floor(uint8_t key, const std::optional<QString>& service) : m_key(key)
    {
        QStringList arguments{QString::number(key), kTranscript};
        if (service)
            arguments << *service;
        m_process.start(QStringLiteral(VELL_PASTE_FLOOR), arguments);
    }
    ~Floor() { stop(m_process); }

    bool isReady()
    {
        return spinUntil([&] { return m_process.canReadLine(); }, 10s) && m_process.readLine() == "ready\n";
    }
    std::optional<Latency> dictate(Rig& rig)
    {
        return ::dictate(
            rig, m_key, [] { return true; }, kFloorSettle);
    }

private:
    uint8_t m_key;
    QProcess m_process;
};

// Starts Vell with the rig's service and files; false, with the benchmark
// skipped, when it doesn't come up.
bool startVell(benchmark::State& state, Vell& vell, Rig& rig, bool full)
{
    prepare(vell, rig, full);
    vell.start();
    if (isReady(vell))
        return true;
    state.SkipWithError(("Vell did not start; its log:\n" + vell.log()).constData());
    return false;
}

// Vell and both floors dictating in turn; the time shown is Vell's.
void BM_ReleaseToText(benchmark::State& state)
{
    const bool full = state.range(0) != 0;
    Rig* rig = rigFor(state);
    if (!rig)
        return;
    Floor floor(kFloorKey, std::nullopt);
    Floor askingFloor(kAskingFloorKey, rig->service.url());
    if (!floor.isReady() || !askingFloor.isReady()) {
        state.SkipWithError("the floor program did not start");
        return;
    }
    Vell vell;
    if (!startVell(state, vell, *rig, full))
        return;
    for (auto _ : state) {
        std::vector<Latency> vellSamples, floorSamples, askingFloorSamples;
        for (int i = 0; i < kDictations; ++i) {
            const std::optional<Latency> sample = dictate(
                *rig, kRightAlt, [&vell, i] { return vell.log().count("dictation started") > i; }, kSettle);
            if (!sample) {
                const QString reads = rig->field.text();
                state.SkipWithError(QStringLiteral("no dictation reached the field, which reads \"%1\"; the log:\n%2")
                                        .arg(reads, QString::fromUtf8(vell.log()))
                                        .toUtf8()
                                        .constData());
                return;
            }
            vellSamples.push_back(*sample);
            const std::optional<Latency> asked = askingFloor.dictate(*rig);
            const std::optional<Latency> pasted = asked ? floor.dictate(*rig) : std::nullopt;
            if (!asked || !pasted) {
                state.SkipWithError(
                    QStringLiteral("the paste of the floor %1 never reached the field, which reads \"%2\"")
                        .arg(asked ? u"that only pastes"_qs : u"that asks"_qs, rig->field.text())
                        .toUtf8()
                        .constData());
                return;
            }
            askingFloorSamples.push_back(*asked);
            floorSamples.push_back(*pasted);
        }
        const Latency& medians = *(g_figures.vell[full] = report(state, vellSamples, "vell"));
        const Latency& floorMedians = *(g_figures.floor[full] = report(state, floorSamples, "floor"));
        const Latency& askingMedians = *(g_figures.floorAsking[full] = report(state, askingFloorSamples, "asking"));
        state.SetIterationTime(medians.releaseToTextMs / 1000);
        state.counters["release_vs_floor"] = medians.releaseToTextMs / floorMedians.releaseToTextMs;
        state.counters["release_vs_asking_floor"] = medians.releaseToTextMs / askingMedians.releaseToTextMs;
    }
    if (full && !keptFullDataFolder(vell))
        state.SkipWithError("Vell set the full data folder aside");
}
BENCHMARK(BM_ReleaseToText)
    ->ArgName("full")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Processor time and context switches per second of audio of each of `pids`,
// measured over the same seconds while they record kListening of speech and
// then of silence.
std::vector<Listening> listen(Rig& rig, const std::vector<qint64>& pids)
{
    std::vector<Listening> listening(pids.size());
    const auto perSecond = [&pids, &listening](double Listening::*cpu, double Listening::*switches) {
        std::vector<ProcessLoad> before;
        for (qint64 pid : pids)
            before.push_back(ProcessLoad::of(pid));
        const Clock::time_point start = Clock::now();
        runEventLoopFor(kListening);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        for (size_t i = 0; i < pids.size(); ++i) {
            const ProcessLoad used = ProcessLoad::of(pids[i]) - before[i];
            listening[i].*cpu = double(used.cpuNs) / 1e6 / seconds;
            listening[i].*switches = double(used.contextSwitches) / seconds;
        }
    };
    QProcess speech;
    speech.start(QStringLiteral("paplay"), {u"-d"_qs, kMicrophoneUplink, rig.speech});
    runEventLoopFor(500ms); // until the speech reaches the microphone
    perSecond(&Listening::speechCpuMsPerS, &Listening::speechSwitchesPerS);
    stop(speech);
    runEventLoopFor(500ms);
    perSecond(&Listening::silenceCpuMsPerS, &Listening::silenceSwitchesPerS);
    return listening;
}

void report(benchmark::State& state, const Listening& listening, const char* who)
{
    const std::string prefix(who);
    state.counters[prefix + "_speech_cpu_ms_per_s"] = listening.speechCpuMsPerS;
    state.counters[prefix + "_silence_cpu_ms_per_s"] = listening.silenceCpuMsPerS;
    state.counters[prefix + "_speech_switches_per_s"] = listening.speechSwitchesPerS;
    state.counters[prefix + "_silence_switches_per_s"] = listening.silenceSwitchesPerS;
}

// Vell dictating, and parec recording the same microphone beside it, so that
// both hear the same audio on a desktop as busy.
void BM_Listening(benchmark::State& state)
{
    Rig* rig = rigFor(state);
    if (!rig)
        return;
    Vell vell;
    if (!startVell(state, vell, *rig, false))
        return;
    for (auto _ : state) {
        rig->desktop.shortcutKey(true);
        if (!spinUntil([&] { return vell.logContains("dictation started"); }, 10s)) {
            rig->desktop.shortcutKey(false);
            state.SkipWithError("the shortcut started no dictation");
            return;
        }
        QProcess parec;
        parec.setStandardOutputFile(QProcess::nullDevice());
        parec.start(QStringLiteral("parec"),
                    {u"--rate=16000"_qs, u"--channels=1"_qs, u"--format=s16le"_qs, u"-d"_qs, kMicrophone});
        runEventLoopFor(1s); // the microphone open, the service connected, parec recording
        const qint64 streamedBefore = rig->service.audioBytes();
        const std::vector<Listening> listening = listen(*rig, {vell.pid(), parec.processId()});
        stop(parec);
        rig->desktop.shortcutKey(false);
        // 16 kHz, 16 bits: what was heard went to the service, give or take a batch.
        const double streamedSeconds = double(rig->service.audioBytes() - streamedBefore) / 32000;
        if (streamedSeconds < 2 * std::chrono::duration<double>(kListening).count()) {
            state.SkipWithError(QStringLiteral("Vell streamed only %1 s of audio").arg(streamedSeconds).toUtf8());
            return;
        }
        g_figures.vellListening = listening[0];
        g_figures.parec = listening[1];
        report(state, listening[0], "vell");
        report(state, listening[1], "parec");
        state.counters["speech_cpu_vs_parec"] = listening[0].speechCpuMsPerS / listening[1].speechCpuMsPerS;
        state.counters["silence_cpu_vs_parec"] = listening[0].silenceCpuMsPerS / listening[1].silenceCpuMsPerS;
    }
    runEventLoopFor(kSettle);
}
BENCHMARK(BM_Listening)->Iterations(1)->Unit(benchmark::kSecond);

void BM_StartToTrayIcon(benchmark::State& state)
{
    const bool full = state.range(0) != 0;
    Rig* rig = rigFor(state);
    if (!rig)
        return;
    for (auto _ : state) {
        std::vector<double> starts;
        for (int i = 0; i < kStarts; ++i) {
            Vell vell;
            prepare(vell, *rig, full);
            const Clock::time_point start = Clock::now();
            vell.start();
            if (!spinUntil([&] { return rig->desktop.trayShowsVell(); }, 10s)) {
                state.SkipWithError("the icon never showed");
                return;
            }
            starts.push_back(milliseconds(Clock::now() - start));
            if (!isReady(vell) || (full && !keptFullDataFolder(vell))) {
                state.SkipWithError("Vell did not start with its data folder");
                return;
            }
            // The next copy would ask this one to quit; it goes first.
        }
        g_figures.startMs[full] = median(starts);
        state.SetIterationTime(*g_figures.startMs[full] / 1000);
        state.counters["start_to_tray_ms"] = *g_figures.startMs[full];
        if (full && g_figures.startMs[0])
            state.counters["full_vs_empty"] = *g_figures.startMs[1] / *g_figures.startMs[0];
    }
}
BENCHMARK(BM_StartToTrayIcon)
    ->ArgName("full")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One row of the summary: Vell's figure, the floor's, their ratio and the target.
void row(const char* what, std::optional<double> vell, std::optional<double> floor, const char* target = "")
{
    const auto cell = [](std::optional<double> value) {
        return value ? QString::number(*value, 'f', 1) : QStringLiteral("-");
    };
    const QString ratio = vell && floor && *floor > 0 ? QString::number(*vell / *floor, 'f', 2) : QStringLiteral("-");
    printf("%-40s %10s %10s %8s  %s\n", what, qPrintable(cell(vell)), qPrintable(cell(floor)), qPrintable(ratio),
           target);
}

void printSummary()
{
    const Figures& f = g_figures;
    const auto latency = [](const std::optional<Latency>& figures, double Latency::*member) {
        return figures ? std::optional((*figures).*member) : std::nullopt;
    };
    const auto listening = [](const std::optional<Listening>& figures, double Listening::*member) {
        return figures ? std::optional((*figures).*member) : std::nullopt;
    };
    printf("\n%-40s %10s %10s %8s  %s\n", "median", "Vell", "floor", "ratio", "target");
    const char* folders[] = {"empty", "full"};
    for (int full : {0, 1}) {
        const auto line = [&](const char* what, double Latency::*member, const std::optional<Latency>& floor,
                              const char* target = "") {
            const std::string label = std::string(what) + ", " + folders[full] + " (ms)";
            row(label.c_str(), latency(f.vell[full], member), latency(floor, member), target);
        };
        line("release to text", &Latency::releaseToTextMs, f.floor[full], "<= 1.5");
        line("  against the floor asking", &Latency::releaseToTextMs, f.floorAsking[full], "<= 1.5");
        line("paste to text", &Latency::pasteToTextMs, f.floor[full]);
        line("release to end of audio", &Latency::releaseToEndOfAudioMs, f.floorAsking[full]);
        line("service answer to paste", &Latency::answerToPasteMs, f.floorAsking[full]);
    }
    printf("%-40s %10s %10s\n", "", "Vell", "parec");
    row("listening to speech (CPU ms/s)", listening(f.vellListening, &Listening::speechCpuMsPerS),
        listening(f.parec, &Listening::speechCpuMsPerS), "<= 3");
    row("listening to silence (CPU ms/s)", listening(f.vellListening, &Listening::silenceCpuMsPerS),
        listening(f.parec, &Listening::silenceCpuMsPerS));
    row("speech (context switches/s)", listening(f.vellListening, &Listening::speechSwitchesPerS),
        listening(f.parec, &Listening::speechSwitchesPerS));
    row("silence (context switches/s)", listening(f.vellListening, &Listening::silenceSwitchesPerS),
        listening(f.parec, &Listening::silenceSwitchesPerS));
    printf("%-40s %10s %10s\n", "", "full", "empty");
    row("start to tray icon (ms)", f.startMs[1], f.startMs[0], "<= 1.2");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_rig.reset();
    printSummary();
    return 0;
}
