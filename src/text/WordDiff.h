#pragma once

#include "storage/HistoryEntry.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The word-by-word difference between a raw transcript and its cleaned text,
// and the spellings the cleanup had to fix again and again, offered as
// dictionary entries. Pure computation on the caller's thread.
//
// Words are the whitespace-separated pieces of a text, punctuation attached.
// They compare as exact strings, except that canonically equivalent Unicode
// sequences are equal.
class WordDiff
{
public:
    enum class Kind { same, removed, added };

    struct Run
    {
        Kind kind = Kind::same;
        QStringList words;

        bool operator==(const Run&) const = default;
    };

    // One dictation as the suggestions see it.
    struct Pair
    {
        QString transcript;
        QString cleaned;
    };

    // Past this product of the two word counts no alignment is attempted.
    static constexpr qint64 kMaximumCells = 6'000'000;
    static constexpr int kMinimumDictations = 2;
    static constexpr int kMaximumSuggestions = 6;

    WordDiff(const QString& oldText, const QString& newText);
    WordDiff(const QStringList& oldWords, const QStringList& newWords);

    // In text order; two neighbours never share a kind.
    const QList<Run>& runs() const { return m_runs; }

    // The words of `text`, split at every Unicode white space, empty pieces dropped.
    static QStringList words(QStringView text);

    // Words the cleanup wrote that look like a fixed spelling: mixed-case
    // words wherever it inserted them, capitalised words only where they
    // replaced something inside a sentence. Trimmed of punctuation; in
    // cleaned-text order, repeats kept.
    QStringList candidates() const;

    // Words fixed in at least `minimumCount` different dictations, neither in
    // the dictionary (ignoring case) nor dismissed (exactly), most frequent
    // first, then in ascending order; at most `limit` of them.
    static QStringList suggestions(const QList<Pair>& pairs, const QStringList& vocabulary,
                                   const QStringList& dismissed, int minimumCount = kMinimumDictations,
                                   int limit = kMaximumSuggestions);
    // The same in two steps: the costly count over the history (fine on any
    // thread), and the cheap choice from it.
    static QHash<QString, int> fixedWordCounts(const QList<Pair>& pairs);
    static QStringList suggestions(const QHash<QString, int>& counts, const QStringList& vocabulary,
                                   const QStringList& dismissed, int minimumCount = kMinimumDictations,
                                   int limit = kMaximumSuggestions);

    // (rawText, text) of every entry that has a raw text, in history order.
    static QList<Pair> pairs(const QList<HistoryEntry>& history);

    static bool isMixedCase(QStringView word);
    static bool isCapitalised(QStringView word);

private:
    void append(Kind kind, const QString& word);

    QList<Run> m_runs;
};
