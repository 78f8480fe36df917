#include "text/WordDiff.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <ostream>
#include <tuple>
#include <vector>

// Readable failures: "removed[we] added[We]".
void PrintTo(const WordDiff::Run& run, std::ostream* out)
{
    static const char* const kNames[] = {"same", "removed", "added"};
    *out << kNames[int(run.kind)] << '[' << run.words.join(u' ').toStdString() << ']';
}

namespace {

using Kind = WordDiff::Kind;
using DiffRun = WordDiff::Run;

QString repeated(const QString& word, int count)
{
    QStringList words;
    for (int i = 0; i < count; ++i)
        words << word;
    return words.join(u' ');
}

TEST(WordDiffTest, SplitsAtEveryUnicodeSpaceAndKeepsPunctuation)
{
    EXPECT_EQ(WordDiff::words(u"  hello,\tworld\u00A0again\u2028and\r\n more\u3000end. "_qs),
              (QStringList{u"hello,"_qs, u"world"_qs, u"again"_qs, u"and"_qs, u"more"_qs, u"end."_qs}));
    EXPECT_TRUE(WordDiff::words(u" \n\t "_qs).isEmpty());
}

TEST(WordDiffTest, ReplacementsShowTheRemovalFirstAndNeighboursNeverShareAKind)
{
    const WordDiff diff(u"we met with anya today"_qs, u"We met with Anya today."_qs);
    const QList<DiffRun> expected{
        {Kind::removed, {u"we"_qs}},
        {Kind::added, {u"We"_qs}},
        {Kind::same, {u"met"_qs, u"with"_qs}},
        {Kind::removed, {u"anya"_qs, u"today"_qs}},
        {Kind::added, {u"Anya"_qs, u"today."_qs}},
    };
    EXPECT_EQ(diff.runs(), expected);

    EXPECT_EQ(WordDiff(u"a b c"_qs, u"a x b c d"_qs).runs(), (QList<DiffRun>{{Kind::same, {u"a"_qs}},
                                                                             {Kind::added, {u"x"_qs}},
                                                                             {Kind::same, {u"b"_qs, u"c"_qs}},
                                                                             {Kind::added, {u"d"_qs}}}));
    EXPECT_TRUE(WordDiff(QString(), QString()).runs().isEmpty());
    EXPECT_EQ(WordDiff(u"gone"_qs, QString()).runs(), (QList<DiffRun>{{Kind::removed, {u"gone"_qs}}}));
}

// What a plain table of common lengths gives, choice for choice.
QList<DiffRun> alignedByTable(const QStringList& a, const QStringList& b)
{
    const size_t n = size_t(a.size());
    const size_t m = size_t(b.size());
    std::vector<std::vector<int>> common(n + 1, std::vector<int>(m + 1, 0));
    for (size_t i = n; i-- > 0;)
        for (size_t j = m; j-- > 0;)
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
    QList<DiffRun> runs;
    const auto add = [&runs](Kind kind, const QString& word) {
        if (runs.isEmpty() || runs.back().kind != kind)
            runs.append({kind, {}});
        runs.back().words.append(word);
    };
    size_t i = 0;
    size_t j = 0;
    while (i < n && j < m) {
        if (a[i] == b[j]) {
            add(Kind::same, a[i++]);
            ++j;
        } else if (common[i + 1][j] >= common[i][j + 1]) {
            add(Kind::removed, a[i++]);
        } else {
            add(Kind::added, b[j++]);
        }
    }
    for (; i < n; ++i)
        add(Kind::removed, a[i]);
    for (; j < m; ++j)
        add(Kind::added, b[j]);
    return runs;
}

TEST(WordDiffTest, AlignsAsATableOfCommonLengthsWould)
{
    QRandomGenerator random(11);
    const auto randomWords = [&random](int count, int vocabulary) {
        QStringList words;
        for (int k = 0; k < count; ++k)
            words << QStringLiteral("w%1").arg(random.bounded(vocabulary));
        return words;
    };
    // Either side the longer, lengths around the 64-word steps, few and many distinct words.
    for (const auto& [n, m, vocabulary] : std::vector<std::tuple<int, int, int>>{{0, 5, 3},
                                                                                 {1, 1, 1},
                                                                                 {63, 64, 2},
                                                                                 {64, 65, 3},
                                                                                 {130, 70, 4},
                                                                                 {70, 130, 4},
                                                                                 {200, 200, 60},
                                                                                 {500, 20, 3},
                                                                                 {1, 300, 2}}) {
        for (int round = 0; round < 4; ++round) {
            const QStringList a = randomWords(n, vocabulary);
            const QStringList b = randomWords(m, vocabulary);
            EXPECT_EQ(WordDiff(a, b).runs(), alignedByTable(a, b)) << n << " x " << m << ", round " << round;
        }
    }
}

TEST(WordDiffTest, CanonicallyEquivalentWordsAreTheSame)
{
    const QString composed = u"caf\u00E9"_qs;
    const QString decomposed = u"cafe\u0301"_qs;
    EXPECT_EQ(WordDiff(composed, decomposed).runs(), (QList<DiffRun>{{Kind::same, {composed}}}));
    // Two spellings of one name count together.
    const QList<WordDiff::Pair> pairs{{u"we met zoe"_qs, u"we met Zo\u00EB"_qs},
                                      {u"we met zoe"_qs, u"we met Zoe\u0308"_qs}};
    EXPECT_EQ(WordDiff::suggestions(pairs, {}, {}), QStringList{u"Zo\u00EB"_qs});
}

TEST(WordDiffTest, AlignsUpToSixMillionWordPairsAndNoFurther)
{
    // 2,000 × 3,000 is exactly the limit: aligned, so the shared words are found.
    const QString twoThousand = repeated(u"w"_qs, 2000);
    const WordDiff aligned(twoThousand, twoThousand + u' ' + repeated(u"v"_qs, 1000));
    ASSERT_EQ(aligned.runs().size(), 2);
    EXPECT_EQ(aligned.runs()[0].kind, Kind::same);
    EXPECT_EQ(aligned.runs()[0].words.size(), 2000);

    const WordDiff tooLarge(twoThousand, twoThousand + u' ' + repeated(u"v"_qs, 1001));
    ASSERT_EQ(tooLarge.runs().size(), 2);
    EXPECT_EQ(tooLarge.runs()[0].kind, Kind::removed);
    EXPECT_EQ(tooLarge.runs()[0].words.size(), 2000);
    EXPECT_EQ(tooLarge.runs()[1].kind, Kind::added);
    EXPECT_EQ(tooLarge.runs()[1].words.size(), 3001);
}

TEST(WordDiffTest, PastTheLimitEveryCapitalisedWordInsideASentenceIsACandidate)
{
    // 2,500 × 2,500 words: one removal, one addition, a replacement as a whole.
    QStringList raw;
    QStringList cleaned;
    for (int i = 0; i < 2500; ++i) {
        raw << u"word"_qs;
        cleaned << (i % 100 == 0 ? u"Paris"_qs : i % 100 == 50 ? u"end."_qs : u"word"_qs);
    }
    const WordDiff diff(raw.join(u' '), cleaned.join(u' '));
    ASSERT_EQ(diff.runs().size(), 2);
    EXPECT_EQ(diff.runs()[0].kind, Kind::removed);
    EXPECT_EQ(diff.runs()[1].kind, Kind::added);
    // The first "Paris" opens the text, so it is at a sentence start; the rest sit mid-sentence.
    EXPECT_EQ(diff.candidates().size(), 24);
}

struct CaseRow
{
    const char16_t* word;
    bool mixed;
    bool capitalised;
};

class WordShapeTest : public ::testing::TestWithParam<CaseRow>
{};

TEST_P(WordShapeTest, TellsMixedCaseFromCapitalised)
{
    const QString word = QString::fromUtf16(GetParam().word);
    EXPECT_EQ(WordDiff::isMixedCase(word), GetParam().mixed) << word.toStdString();
    EXPECT_EQ(WordDiff::isCapitalised(word), GetParam().capitalised) << word.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Words, WordShapeTest,
                         ::testing::Values(CaseRow{u"iPhone", true, false}, CaseRow{u"GitHub", true, false},
                                           CaseRow{u"McDonald", true, false}, CaseRow{u"NASA", false, false},
                                           CaseRow{u"Anya", false, true}, CaseRow{u"O'Neil", true, false},
                                           CaseRow{u"Jean-luc", false, true}, CaseRow{u"D'arcy", false, true},
                                           CaseRow{u"A", false, false}, CaseRow{u"anya", false, false},
                                           CaseRow{u"X1", false, false}, CaseRow{u"Zoe\u0308", false, true},
                                           CaseRow{u"\u00C9mile", false, true}, CaseRow{u"\u00E9Mile", true, false}));

TEST(WordDiffTest, CapitalisedWordsCountOnlyAsReplacementsInsideASentence)
{
    // Replaced mid-sentence: counted, with its punctuation trimmed.
    EXPECT_EQ(WordDiff(u"i saw anya, then"_qs, u"I saw Anya, then"_qs).candidates(), QStringList{u"Anya"_qs});
    // Replaced right after a full stop, colon, question or exclamation mark: not counted.
    EXPECT_TRUE(WordDiff(u"done. anya came"_qs, u"done. Anya came"_qs).candidates().isEmpty());
    EXPECT_TRUE(WordDiff(u"note: anya came"_qs, u"note: Anya came"_qs).candidates().isEmpty());
    // Inserted without replacing anything: not counted.
    EXPECT_TRUE(WordDiff(u"we met today"_qs, u"we met Anya today"_qs).candidates().isEmpty());
    // The sentence start follows the cleaned text: a removed "end." does not start one.
    EXPECT_EQ(WordDiff(u"we end. anya"_qs, u"we Anya"_qs).candidates(), QStringList{u"Anya"_qs});
}

TEST(WordDiffTest, MixedCaseWordsCountWhereverTheCleanupPutThem)
{
    EXPECT_EQ(WordDiff(u"i phone is great"_qs, u"iPhone is great"_qs).candidates(), QStringList{u"iPhone"_qs});
    EXPECT_EQ(WordDiff(u"done. get it"_qs, u"done. GitHub get it"_qs).candidates(), QStringList{u"GitHub"_qs});
    EXPECT_EQ(WordDiff(u"a b"_qs, u"a “McDonald’s” b"_qs).candidates(), QStringList{u"McDonald’s"_qs});
}

TEST(WordDiffTest, SuggestsWordsFixedInAtLeastTwoDictations)
{
    const WordDiff::Pair anya{u"we met with anya today"_qs, u"We met with Anya today."_qs};
    EXPECT_TRUE(WordDiff::suggestions({anya}, {}, {}).isEmpty());
    EXPECT_EQ(WordDiff::suggestions({anya, anya}, {}, {}), QStringList{u"Anya"_qs});
    // Twice within one dictation still counts once.
    const WordDiff::Pair twice{u"so anya and again anya"_qs, u"so Anya and again Anya"_qs};
    EXPECT_TRUE(WordDiff::suggestions({twice}, {}, {}).isEmpty());
    // Identical texts contribute nothing, even with candidates inside.
    const WordDiff::Pair same{u"we met Anya"_qs, u"we met Anya"_qs};
    EXPECT_TRUE(WordDiff::suggestions({same, same, anya}, {}, {}).isEmpty());
}

TEST(WordDiffTest, DictionaryAndDismissedWordsAreLeftOut)
{
    const WordDiff::Pair anya{u"we met with anya today"_qs, u"We met with Anya today."_qs};
    const WordDiff::Pair phone{u"my i phone"_qs, u"my iPhone"_qs};
    EXPECT_EQ(WordDiff::suggestions({anya, anya, phone, phone}, {u"anya"_qs}, {}), QStringList{u"iPhone"_qs});
    // Dismissing is exact: only the spelling dismissed is hidden.
    EXPECT_TRUE(WordDiff::suggestions({anya, anya}, {}, {u"Anya"_qs}).isEmpty());
    EXPECT_EQ(WordDiff::suggestions({anya, anya}, {}, {u"ANYA"_qs}), QStringList{u"Anya"_qs});
}

TEST(WordDiffTest, OrdersByCountThenByWordAndStopsAtTheLimit)
{
    QList<WordDiff::Pair> pairs;
    const auto fixed = [&](const QString& word, int times) {
        for (int i = 0; i < times; ++i)
            pairs.append({u"hello "_qs + word.toLower(), u"hello "_qs + word});
    };
    fixed(u"Zed"_qs, 3);
    fixed(u"Bob"_qs, 2);
    fixed(u"Amy"_qs, 2);
    fixed(u"Émile"_qs, 2);
    fixed(u"Cy"_qs, 1);
    EXPECT_EQ(WordDiff::suggestions(pairs, {}, {}), (QStringList{u"Zed"_qs, u"Amy"_qs, u"Bob"_qs, u"Émile"_qs}));
    EXPECT_EQ(WordDiff::suggestions(pairs, {}, {}, 2, 2), (QStringList{u"Zed"_qs, u"Amy"_qs}));
    EXPECT_TRUE(WordDiff::suggestions(pairs, {}, {}, 2, 0).isEmpty());
    EXPECT_EQ(WordDiff::suggestions(pairs, {}, {}, 1).size(), 5);
}

TEST(WordDiffTest, HistoryPairsComeFromEntriesWithARawText)
{
    HistoryEntry cleaned;
    cleaned.text = u"We met Anya."_qs;
    cleaned.rawText = u"we met anya"_qs;
    HistoryEntry raw;
    raw.text = u"plain"_qs;
    const QList<WordDiff::Pair> pairs = WordDiff::pairs({cleaned, raw, cleaned});
    ASSERT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs[0].transcript, u"we met anya"_qs);
    EXPECT_EQ(pairs[0].cleaned, u"We met Anya."_qs);
}

} // namespace
