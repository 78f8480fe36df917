#include "storage/DebugLogFile.h"
#include "storage/HistoryStore.h"
#include "storage/UsageLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

// Loading and saving a full history (2,000 entries) and a long usage log
// (100,000 records) in a temporary folder, the way the stores do it.
namespace {

constexpr int kEntries = 2000;
constexpr int kRecords = 100'000;
const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);

HistoryEntry sampleEntry(int i)
{
    HistoryEntry entry;
    entry.id = QUuid::createUuid();
    entry.date = kNow.addSecs(-600LL * i);
    entry.text = QStringLiteral("Let's move the review to Thursday afternoon, and please send the draft of the "
                                "quarterly report to Anna before then, so she has time to check the figures. %1")
                     .arg(i);
    entry.rawText = QStringLiteral("let's move the review to thursday afternoon and please send the draft of the "
                                   "quarterly report to anna before then so she has time to check the figures %1")
                        .arg(i);
    entry.appName = QStringLiteral("Text Editor");
    entry.status = HistoryEntry::Status::pasted;
    entry.seconds = 12.75;
    entry.language = QStringLiteral("en");
    entry.provider = QStringLiteral("assemblyAI");
    entry.cleanupModel = QStringLiteral("haiku");
    entry.cleanupSeconds = 0.84;
    entry.inputName = QStringLiteral("Built-in Microphone");
    entry.sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces);
    return entry;
}

class Folder
{
public:
    Folder() : m_log("history", &m_logFile) {}

    QString path() const { return m_dir.filePath(QStringLiteral("Vell")); }
    const VellLog& log() const { return m_log; }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QDir().mkpath(path());
        QFile file(QDir(path()).filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot prepare the benchmark file");
    }

    void writeHistory() const
    {
        QByteArray bytes = "[";
        for (int i = 0; i < kEntries; ++i) {
            if (i > 0)
                bytes += ',';
            sampleEntry(i).appendJson(bytes);
        }
        write(QStringLiteral("history.json"), bytes + ']');
    }

    void writeUsage() const
    {
        QByteArray bytes = "[";
        for (int i = 0; i < kRecords; ++i) {
            if (i > 0)
                bytes += ',';
            // One dictation every 15 minutes: about three years of daily use.
            UsageRecord{kNow.addSecs(-900LL * (kRecords - i)), 20 + i % 50, 7.5}.appendJson(bytes);
        }
        write(QStringLiteral("usage.json"), bytes + ']');
    }

private:
    QTemporaryDir m_dir;
    DebugLogFile m_logFile{m_dir.filePath(QStringLiteral("logs")), QStringLiteral("bench")};
    VellLog m_log;
};

UsageLog::Clock fixedClock()
{
    return {[] { return kNow; }, [] { return QTimeZone("Europe/Berlin"); }, [] { return Qt::Monday; }};
}

void BM_HistoryLoad(benchmark::State& state)
{
    Folder folder;
    folder.writeHistory();
    for (auto _ : state) {
        HistoryStore store(folder.path(), folder.log());
        benchmark::DoNotOptimize(store.entries().size());
    }
    state.counters["bytes"] = double(QFileInfo(QDir(folder.path()).filePath(QStringLiteral("history.json"))).size());
}
BENCHMARK(BM_HistoryLoad)->Unit(benchmark::kMillisecond);

// One status change: the whole file encoded and replaced atomically.
void BM_HistorySaveAfterChange(benchmark::State& state)
{
    Folder folder;
    folder.writeHistory();
    HistoryStore store(folder.path(), folder.log());
    const QUuid id = store.entries().at(kEntries / 2).id;
    bool pasted = false;
    for (auto _ : state) {
        pasted = !pasted;
        store.setStatus(id, pasted ? HistoryEntry::Status::pasted : HistoryEntry::Status::notInserted);
    }
    if (store.hasUnsavedChanges())
        state.SkipWithError("the history was not saved");
}
BENCHMARK(BM_HistorySaveAfterChange)->Unit(benchmark::kMillisecond);

// The same change at the cap: insert at the front, drop the oldest, save.
void BM_HistoryAddAtCap(benchmark::State& state)
{
    Folder folder;
    folder.writeHistory();
    HistoryStore store(folder.path(), folder.log());
    const HistoryEntry entry = sampleEntry(0);
    for (auto _ : state)
        store.add(entry);
    if (store.entries().size() != HistoryStore::kMaximumEntries || store.hasUnsavedChanges())
        state.SkipWithError("the history was not capped and saved");
}
BENCHMARK(BM_HistoryAddAtCap)->Unit(benchmark::kMillisecond);

// Encoding alone, to tell it from the file system's share of a save.
void BM_HistoryEncode(benchmark::State& state)
{
    QList<HistoryEntry> entries;
    for (int i = 0; i < kEntries; ++i)
        entries.append(sampleEntry(i));
    for (auto _ : state) {
        QByteArray bytes;
        for (const HistoryEntry& entry : entries)
            entry.appendJson(bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_HistoryEncode)->Unit(benchmark::kMillisecond);

void BM_UsageLoad(benchmark::State& state)
{
    Folder folder;
    folder.writeUsage();
    for (auto _ : state) {
        UsageLog usage(folder.path(), fixedClock(), folder.log());
        benchmark::DoNotOptimize(usage.records().size());
    }
    state.counters["bytes"] = double(QFileInfo(QDir(folder.path()).filePath(QStringLiteral("usage.json"))).size());
}
BENCHMARK(BM_UsageLoad)->Unit(benchmark::kMillisecond);

// One finished dictation: a record appended and the whole file replaced.
void BM_UsageRecord(benchmark::State& state)
{
    Folder folder;
    folder.writeUsage();
    UsageLog usage(folder.path(), fixedClock(), folder.log());
    const QString text = sampleEntry(0).text;
    for (auto _ : state)
        usage.record(text, 12.5);
    if (usage.hasUnsavedChanges())
        state.SkipWithError("the usage log was not saved");
}
BENCHMARK(BM_UsageRecord)->Unit(benchmark::kMillisecond);

// What the menu and the statistics window compute on opening.
void BM_UsageFigures(benchmark::State& state)
{
    Folder folder;
    folder.writeUsage();
    const UsageLog usage(folder.path(), fixedClock(), folder.log());
    for (auto _ : state) {
        benchmark::DoNotOptimize(usage.today());
        benchmark::DoNotOptimize(usage.thisWeek());
        benchmark::DoNotOptimize(usage.allTime());
        benchmark::DoNotOptimize(usage.streak());
        benchmark::DoNotOptimize(usage.dailyWords());
    }
}
BENCHMARK(BM_UsageFigures)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
