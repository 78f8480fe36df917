// The word diff at the largest size it aligns in practice (2,400 × 2,400
// words, just under the 6,000,000-cell limit), and the dictionary suggestions
// over a full history. Reports time, and the most heap memory one diff holds
// at once next to what a table of 32-bit lengths would take.
#include "text/WordDiff.h"

#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// A transcript of `count` words from a small vocabulary, and its "cleaned"
// version with about one word in ten changed.
std::pair<QString, QString> transcripts(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    QStringList raw;
    QStringList cleaned;
    for (int i = 0; i < count; ++i) {
        const QString word = QStringLiteral("word%1").arg(random.bounded(400));
        raw << word;
        switch (random.bounded(20)) {
        case 0:
            cleaned << QStringLiteral("Name%1").arg(random.bounded(50));
            break;
        case 1:
            break; // a filler word dropped
        case 2:
            cleaned << word << QStringLiteral("iThing%1").arg(random.bounded(10));
            break;
        default:
            cleaned << word;
        }
    }
    return {raw.join(u' '), cleaned.join(u' ')};
}

// Every byte the program holds through new and delete, and the most it held
// since the last reset, so the diff's peak is measured exactly.
std::atomic<size_t> g_heldBytes{0};
std::atomic<size_t> g_peakBytes{0};

void resetPeak()
{
    g_peakBytes = g_heldBytes.load();
}

void BM_WordDiff(benchmark::State& state)
{
    const int words = int(state.range(0));
    const auto [raw, cleaned] = transcripts(words, 7);
    const QStringList a = WordDiff::words(raw);
    const QStringList b = WordDiff::words(cleaned);

    resetPeak();
    const size_t before = g_heldBytes;
    {
        const WordDiff once(a, b);
        benchmark::DoNotOptimize(once.runs().size());
    }
    state.counters["peak_added_MiB"] = double(g_peakBytes - before) / (1024.0 * 1024.0);
    // What a table of 32-bit lengths, one per pair of words, would take.
    state.counters["number_table_MiB"] =
        double(qint64(a.size() + 1) * qint64(b.size() + 1) * qint64(sizeof(quint32))) / (1024.0 * 1024.0);
    state.counters["cells_M"] = double(qint64(a.size()) * qint64(b.size())) / 1e6;

    for (auto _ : state) {
        const WordDiff diff(a, b);
        benchmark::DoNotOptimize(diff.runs().size());
    }
}
BENCHMARK(BM_WordDiff)->Arg(2400)->Arg(300)->Unit(benchmark::kMillisecond);

// What the dictionary tab computes when it is shown: the whole history, 2,000
// cleaned dictations of 60 words.
void BM_Suggestions(benchmark::State& state)
{
    QList<WordDiff::Pair> pairs;
    for (int i = 0; i < 2000; ++i) {
        const auto [raw, cleaned] = transcripts(60, quint32(i));
        pairs.append({raw, cleaned});
    }
    for (auto _ : state) {
        const QStringList found = WordDiff::suggestions(pairs, {}, {});
        benchmark::DoNotOptimize(found.size());
    }
}
BENCHMARK(BM_Suggestions)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

void* operator new(size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    const size_t held = g_heldBytes += malloc_usable_size(block);
    size_t peak = g_peakBytes;
    while (held > peak && !g_peakBytes.compare_exchange_weak(peak, held)) {
    }
    return block;
}

void operator delete(void* block) noexcept
{
    if (!block)
        return;
    g_heldBytes -= malloc_usable_size(block);
    std::free(block);
}

void operator delete(void* block, size_t) noexcept
{
    operator delete(block);
}
