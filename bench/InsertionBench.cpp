#include "control/DictationController.h"
#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAppearance.h"
#include "fakes/FakeAudioBackend.h"
#include "fakes/FakeClipboard.h"
#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeKeystrokePoster.h"
#include "fakes/FakeMicrophonePermission.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSessionEvents.h"
#include "fakes/FakeSoundPlayer.h"
#include "fakes/FakeWorkspace.h"
#include "storage/AppSettings.h"
#include "storage/DesktopSettings.h"
#include "storage/KeyStore.h"
#include "support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

// What Vell adds between the last word and the text arriving: from the end of
// the transcriber's event stream to the paste chord posted, with the real
// controller, real stores in a temporary folder, no cleanup, and fakes of the
// desktop. The argument is how many entries the history holds already. The
// stores live under TMPDIR: their synchronous writes make the disk part of
// the figure, so TMPDIR=/dev/shm shows the program's own share.
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const QString kText = QStringLiteral("This is a demo transcript coming from the Vell app. Y ahora cambio al español a "
                                     "mitad de la frase. And back to English once the demo is over.");

class ScriptedSession final : public TranscriptionSession
{
public:
    void say(const TranscriptEvent& event) { Q_EMIT eventReceived(event); }
    void end() { Q_EMIT finished(std::nullopt); }
};

class ScriptedTranscriber final : public StreamingTranscriber
{
public:
    explicit ScriptedTranscriber(QPointer<ScriptedSession>& latest) : m_latest(latest) {}

    std::unique_ptr<TranscriptionSession> transcribe(std::shared_ptr<AudioStream>, const TranscriberConfig&) override
    {
        auto session = std::make_unique<ScriptedSession>();
        m_latest = session.get();
        return session;
    }

private:
    QPointer<ScriptedSession>& m_latest;
};

template <typename Predicate> bool spinUntil(Predicate predicate)
{
    QDeadlineTimer deadline(5s);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void writeHistory(const QString& folder, int entries)
{
    QByteArray bytes = "[";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < entries; ++i) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.date = now.addSecs(-600LL * (i + 1));
        entry.text = kText;
        entry.appName = QStringLiteral("Text Editor");
        entry.status = HistoryEntry::Status::pasted;
        if (i > 0)
            bytes += ',';
        entry.appendJson(bytes);
    }
    QFile file(QDir(folder).filePath(QStringLiteral("history.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes + ']') != bytes.size() + 1)
        qFatal("cannot prepare the history");
}

struct Desk
{
    explicit Desk(int historyEntries)
    {
        writeHistory(dir.path(), historyEntries);
        history = std::make_unique<HistoryStore>(dir.path());
        if (!keys.isLoaded() && !QSignalSpy(&keys, &KeyStore::keysLoaded).wait(5000))
            qFatal("the key store did not load");
        settings.setProvider(TranscriptionProvider::mock);
        settings.setCleanupEnabled(false);
        audio.setDevices({{1, QStringLiteral("mic"), QStringLiteral("Built-in Microphone"), true}}, 1);
        workspace.frontmost = RunningApplication{42, QStringLiteral("Editor"), QStringLiteral("editor")};

        DictationControllerOptions options;
        options.dataFolder = dir.path();
        options.makeTranscriber = [this](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
            return std::make_unique<ScriptedTranscriber>(session);
        };
        const DictationPlatform platform{tap,        events, audio,      workspace, clipboard,  accessibility,
                                         keystrokes, sounds, microphone, network,   preferences};
        controller = std::make_unique<DictationController>(settings, desktopSettings, *history, platform, options);
    }

    QTemporaryDir dir;
    QSettings preferences{dir.filePath(QStringLiteral("Vell.conf")), QSettings::IniFormat};
    KeyStore keys{std::make_unique<FakeSecretStore>(), dir.filePath(QStringLiteral("keys.json"))};
    AppSettings settings{preferences, keys};
    FakeAppearance appearance;
    DesktopSettings desktopSettings{preferences, appearance};
    std::unique_ptr<HistoryStore> history;
    FakeKeyboardTap tap;
    FakeSessionEvents events;
    FakeAudioBackend audio;
    FakeWorkspace workspace;
    FakeClipboard clipboard;
    FakeAccessibility accessibility;
    FakeKeystrokePoster keystrokes;
    FakeSoundPlayer sounds;
    FakeMicrophonePermission microphone;
    QNetworkAccessManager network;
    QPointer<ScriptedSession> session;
    std::unique_ptr<DictationController> controller;
};

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto at = size_t(std::ceil(fraction * double(values.size()))) - 1;
    return values[std::min(at, values.size() - 1)];
}

void BM_EndOfTranscriptToPaste(benchmark::State& state)
{
    Desk desk(int(state.range(0)));
    DictationController& controller = *desk.controller;
    Clock::time_point pastedAt;
    desk.keystrokes.onPaste = [&] { pastedAt = Clock::now(); };
    std::vector<double> milliseconds;

    for (auto _ : state) {
        if (!controller.start() || !spinUntil([&] { return controller.state() == DictationState::listening; }))
            return state.SkipWithError("the dictation did not start");
        desk.session->say(TranscriptEvent::finalText(kText));
        desk.session->say(TranscriptEvent::interim(QString()));
        controller.stop();
        const qsizetype pastes = desk.keystrokes.pastes.size();

        const Clock::time_point endedAt = Clock::now();
        desk.session->end();
        if (!spinUntil([&] { return desk.keystrokes.pastes.size() > pastes; }))
            return state.SkipWithError("nothing was pasted");
        const std::chrono::duration<double> taken = pastedAt - endedAt;
        state.SetIterationTime(taken.count());
        milliseconds.push_back(taken.count() * 1000);

        if (!spinUntil([&] { return controller.state() == DictationState::idle; }))
            return state.SkipWithError("the dictation did not end");
    }
    state.counters["median_ms"] = percentile(milliseconds, 0.5);
    state.counters["p95_ms"] = percentile(milliseconds, 0.95);
    state.counters["max_ms"] = percentile(milliseconds, 1.0);
}
BENCHMARK(BM_EndOfTranscriptToPaste)
    ->Arg(0)
    ->Arg(HistoryStore::kMaximumEntries)
    ->Iterations(400)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

// The stores and the debug log write into a temporary home, never the real one.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!useTemporaryHome(home))
        return 1;

    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
