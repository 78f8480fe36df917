#include "storage/DebugLogFile.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

// What a log call costs the calling thread (the main thread, mostly): the line
// is stamped and queued; the disk write happens on the writer thread.
static void BM_DebugLogWrite(benchmark::State& state)
{
    QTemporaryDir dir;
    DebugLogFile file(dir.path(), QStringLiteral("vell"));
    const QString text = QStringLiteral("dictation: Transcriber connected after 412 ms");
    for (auto _ : state)
        file.write(text);
    file.flush();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugLogWrite);

// Writes through to the file, rotation included, per line.
static void BM_DebugLogWriteAndFlush(benchmark::State& state)
{
    QTemporaryDir dir;
    DebugLogFile file(dir.path(), QStringLiteral("vell"));
    const QString text = QStringLiteral("dictation: Transcriber connected after 412 ms");
    for (auto _ : state) {
        file.write(text);
        file.flush();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DebugLogWriteAndFlush);

BENCHMARK_MAIN();
