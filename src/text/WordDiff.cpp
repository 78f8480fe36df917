#include "text/WordDiff.h"

#include <QHash>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

// Canonically equivalent spellings become one string.
QString canonical(const QString& word)
{
    return word.normalized(QString::NormalizationForm_C);
}

// Each distinct word (up to canonical equivalence) as a small number, so the
// alignment compares integers.
class WordIds
{
public:
    std::vector<int> idsOf(const QStringList& words)
    {
        std::vector<int> ids;
        ids.reserve(size_t(words.size()));
        for (const QString& word : words) {
            const QString key = canonical(word);
            auto found = m_ids.constFind(key);
            if (found == m_ids.cend())
                found = m_ids.insert(key, int(m_ids.size()));
            ids.push_back(*found);
        }
        return ids;
    }

private:
    QHash<QString, int> m_ids;
};

char32_t codePointAt(QStringView text, qsizetype index)
{
    const QChar unit = text[index];
    if (unit.isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(unit, text[index + 1]);
    return unit.unicode();
}

QStringView trimPunctuation(QStringView word)
{
    qsizetype begin = 0;
    qsizetype end = word.size();
    while (begin < end) {
        const char32_t c = codePointAt(word, begin);
        if (!QChar::isPunct(c))
            break;
        begin += QChar::requiresSurrogates(c) ? 2 : 1;
    }
    while (end > begin) {
        qsizetype start = end - 1;
        if (word[start].isLowSurrogate() && start > begin && word[start - 1].isHighSurrogate())
            --start;
        if (!QChar::isPunct(codePointAt(word, start)))
            break;
        end = start;
    }
    return word.sliced(begin, end - begin);
}

// The first code point of every user-perceived character, so a letter with a
// combining accent counts once, as that letter.
std::vector<char32_t> characterBases(QStringView word)
{
    std::vector<char32_t> bases;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, word.data(), word.size());
    qsizetype start = 0;
    while (start < word.size()) {
        bases.push_back(codePointAt(word, start));
        const qsizetype next = finder.toNextBoundary();
        if (next <= start)
            break;
        start = next;
    }
    return bases;
}

bool endsSentence(const QString& word)
{
    if (word.isEmpty())
        return false;
    const QChar last = word.back();
    return last == u'.' || last == u'!' || last == u'?' || last == u':';
}

// Ascending by Unicode scalar values: UTF-16 order, with the surrogates moved
// above the rest of the Basic Multilingual Plane.
bool scalarLess(const QString& a, const QString& b)
{
    const auto fixup = [](char16_t unit) -> char16_t {
        if (unit >= 0xE000)
            return char16_t(unit - 0x800);
        if (unit >= 0xD800)
            return char16_t(unit + 0x2000);
        return unit;
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](QChar x, QChar y) { return fixup(x.unicode()) < fixup(y.unicode()); });
}

// The length of the longest common subsequence of every pair of prefixes
// x[0…i), y[0…j), computed 64 cells at a time (Hyyrö's bit-parallel rows):
// one row per element of the shorter sequence, a bit per element of the
// longer, where the zero bits below a position count the common length up to
// there. About a 32nd of the memory of a table of numbers, and a few steps
// per 64 cells instead of a dependent step per cell.
class CommonLengths
{
public:
    CommonLengths(const std::vector<int>& x, const std::vector<int>& y)
        : m_rowsAlongX(x.size() <= y.size()), m_words((std::max(x.size(), y.size()) + 63) / 64)
    {
        const std::vector<int>& rows = m_rowsAlongX ? x : y;
        const std::vector<int>& bits = m_rowsAlongX ? y : x;
        // Where each word of the rows' sequence appears along the bits; a word
        // that appears only along the bits never matches and needs no mask.
        QHash<int, size_t> maskOf;
        for (const int id : rows)
            if (!maskOf.contains(id))
                maskOf.insert(id, size_t(maskOf.size()));
        std::vector<std::uint64_t> masks(size_t(maskOf.size()) * m_words, 0);
        for (size_t k = 0; k < bits.size(); ++k)
            if (const auto found = maskOf.constFind(bits[k]); found != maskOf.cend())
                masks[*found * m_words + k / 64] |= std::uint64_t(1) << (k % 64);

        m_rows.assign((rows.size() + 1) * m_words, ~std::uint64_t(0));
        for (size_t r = 0; r < rows.size(); ++r) {
            const std::uint64_t* v = &m_rows[r * m_words];
            std::uint64_t* next = &m_rows[(r + 1) * m_words];
            const std::uint64_t* match = &masks[maskOf.value(rows[r]) * m_words];
            // next = (v + u) | (v - u), u = v & match, carried across the words.
            std::uint64_t carry = 0;
            std::uint64_t borrow = 0;
            for (size_t w = 0; w < m_words; ++w) {
                const std::uint64_t u = v[w] & match[w];
                const std::uint64_t partialSum = v[w] + u;
                const std::uint64_t sum = partialSum + carry;
                carry = std::uint64_t(partialSum < v[w]) | std::uint64_t(sum < partialSum);
                const std::uint64_t partialDifference = v[w] - u;
                const std::uint64_t difference = partialDifference - borrow;
                borrow = std::uint64_t(v[w] < u) | std::uint64_t(partialDifference < borrow);
                next[w] = sum | difference;
            }
        }
    }

    // The common length of x[0…i) and y[0…j).
    int length(size_t i, size_t j) const
    {
        const size_t row = m_rowsAlongX ? i : j;
        const size_t upTo = m_rowsAlongX ? j : i;
        const std::uint64_t* bits = &m_rows[row * m_words];
        int ones = 0;
        size_t w = 0;
        for (; w < upTo / 64; ++w)
            ones += std::popcount(bits[w]);
        if (upTo % 64 != 0)
            ones += std::popcount(bits[w] & ((std::uint64_t(1) << (upTo % 64)) - 1));
        return int(upTo) - ones;
    }

private:
    bool m_rowsAlongX;
    size_t m_words;
    std::vector<std::uint64_t> m_rows;
};

} // namespace

WordDiff::WordDiff(const QString& oldText, const QString& newText) : WordDiff(words(oldText), words(newText)) {}

WordDiff::WordDiff(const QStringList& a, const QStringList& b)
{
    const qsizetype n = a.size();
    const qsizetype m = b.size();
    if (qint64(n) * qint64(m) > kMaximumCells) {
        for (const QString& word : a)
            append(Kind::removed, word);
        for (const QString& word : b)
            append(Kind::added, word);
        return;
    }

    // Reversed, so the prefix lengths it computes are the suffix lengths the
    // walk below asks for.
    WordIds ids;
    std::vector<int> x = ids.idsOf(a);
    std::vector<int> y = ids.idsOf(b);
    std::reverse(x.begin(), x.end());
    std::reverse(y.begin(), y.end());
    const CommonLengths common(x, y);
    // The longest common subsequence of a[i…] and b[j…].
    const auto tail = [&](qsizetype i, qsizetype j) { return common.length(size_t(n - i), size_t(m - j)); };

    qsizetype i = 0;
    qsizetype j = 0;
    while (i < n && j < m) {
        if (x[size_t(n - 1 - i)] == y[size_t(m - 1 - j)]) {
            append(Kind::same, a[i]);
            ++i;
            ++j;
        } else if (tail(i + 1, j) >= tail(i, j + 1)) {
            append(Kind::removed, a[i++]);
        } else {
            append(Kind::added, b[j++]);
        }
    }
    for (; i < n; ++i)
        append(Kind::removed, a[i]);
    for (; j < m; ++j)
        append(Kind::added, b[j]);
}

void WordDiff::append(Kind kind, const QString& word)
{
    if (m_runs.isEmpty() || m_runs.back().kind != kind)
        m_runs.append(Run{kind, {}});
    m_runs.back().words.append(word);
}

QStringList WordDiff::words(QStringView text)
{
    QStringList result;
    qsizetype start = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isSpace()) {
            if (start >= 0)
                result.append(text.sliced(start, i - start).toString());
            start = -1;
        } else if (start < 0) {
            start = i;
        }
    }
    if (start >= 0)
        result.append(text.sliced(start).toString());
    return result;
}

bool WordDiff::isMixedCase(QStringView word)
{
    const std::vector<char32_t> bases = characterBases(word);
    if (bases.size() < 2)
        return false;
    const bool upperAfterFirst =
        std::any_of(bases.begin() + 1, bases.end(), [](char32_t c) { return QChar::isUpper(c); });
    const bool anyLower = std::any_of(bases.begin(), bases.end(), [](char32_t c) { return QChar::isLower(c); });
    return upperAfterFirst && anyLower;
}

bool WordDiff::isCapitalised(QStringView word)
{
    const std::vector<char32_t> bases = characterBases(word);
    if (bases.size() < 2 || !QChar::isUpper(bases.front()))
        return false;
    return std::all_of(bases.begin() + 1, bases.end(),
                       [](char32_t c) { return QChar::isLower(c) || c == U'\'' || c == U'-'; });
}

QStringList WordDiff::candidates() const
{
    QStringList found;
    std::optional<QString> previous;

    const auto process = [&](const Run& run, bool replacement) {
        for (const QString& word : run.words) {
            const QStringView trimmed = trimPunctuation(word);
            const bool sentenceStart = !previous || endsSentence(*previous);
            if (isMixedCase(trimmed) || (replacement && !sentenceStart && !trimmed.isEmpty() && isCapitalised(trimmed)))
                found.append(trimmed.toString());
            previous = word;
        }
    };

    qsizetype index = 0;
    while (index < m_runs.size()) {
        const Run& run = m_runs[index];
        switch (run.kind) {
        case Kind::same:
            previous = run.words.back();
            ++index;
            break;
        case Kind::removed:
            while (index < m_runs.size() && m_runs[index].kind == Kind::removed)
                ++index;
            if (index < m_runs.size() && m_runs[index].kind == Kind::added)
                process(m_runs[index++], true);
            break;
        case Kind::added:
            process(run, false);
            ++index;
            break;
        }
    }
    return found;
}

QStringList WordDiff::suggestions(const QList<Pair>& pairs, const QStringList& vocabulary, const QStringList& dismissed,
                                  int minimumCount, int limit)
{
    return suggestions(fixedWordCounts(pairs), vocabulary, dismissed, minimumCount, limit);
}

QHash<QString, int> WordDiff::fixedWordCounts(const QList<Pair>& pairs)
{
    QHash<QString, int> counts;
    for (const Pair& pair : pairs) {
        if (canonical(pair.transcript) == canonical(pair.cleaned))
            continue;
        QSet<QString> once;
        for (const QString& word : WordDiff(pair.transcript, pair.cleaned).candidates())
            once.insert(canonical(word));
        for (const QString& word : once)
            ++counts[word];
    }
    return counts;
}

QStringList WordDiff::suggestions(const QHash<QString, int>& counts, const QStringList& vocabulary,
                                  const QStringList& dismissed, int minimumCount, int limit)
{
    if (limit <= 0)
        return {};

    QSet<QString> known;
    for (const QString& entry : vocabulary)
        known.insert(canonical(entry).toLower());
    QSet<QString> dismissedWords;
    for (const QString& word : dismissed)
        dismissedWords.insert(canonical(word));

    QList<QPair<QString, int>> eligible;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() >= minimumCount && !known.contains(it.key().toLower()) && !dismissedWords.contains(it.key()))
            eligible.append({it.key(), it.value()});
    std::sort(eligible.begin(), eligible.end(), [](const auto& x, const auto& y) {
        if (x.second != y.second)
            return x.second > y.second;
        return scalarLess(x.first, y.first);
    });

    QStringList result;
    for (qsizetype k = 0; k < eligible.size() && k < limit; ++k)
        result.append(eligible[k].first);
    return result;
}

QList<WordDiff::Pair> WordDiff::pairs(const QList<HistoryEntry>& history)
{
    QList<Pair> result;
    for (const HistoryEntry& entry : history)
        if (entry.rawText)
            result.append({*entry.rawText, entry.text});
    return result;
}
