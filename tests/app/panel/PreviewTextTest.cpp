#include "app/panel/PreviewText.h"

#include <gtest/gtest.h>

namespace {

struct PreviewCase
{
    const char* name;
    QString text;
    QString expected;
};

class PreviewTextRule : public ::testing::TestWithParam<PreviewCase>
{};

TEST_P(PreviewTextRule, KeepsTheEndOfLongTextStartingAtAWord)
{
    EXPECT_EQ(PreviewText::preview(GetParam().text), GetParam().expected);
}

QString words(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("w%1").arg(i, 3, 10, QLatin1Char('0')); // four characters each
    return list.join(u' ');
}

// 60 words of four characters, 59 spaces and a full stop: 300 characters.
const QString k300Words = words(60) + QLatin1Char('.');
const QString k300Letters(300, QLatin1Char('a'));

INSTANTIATE_TEST_SUITE_P(
    Cases, PreviewTextRule,
    ::testing::Values(
        PreviewCase{"Short", QStringLiteral("hello there"), QStringLiteral("hello there")},
        PreviewCase{"ExactlyTheLimit", QString(240, QLatin1Char('b')), QString(240, QLatin1Char('b'))},
        // The last 240 characters begin with "w012"; the cut still moves past the first space.
        PreviewCase{"WordsCutAtTheFirstSpace", k300Words,
                    QStringLiteral("…") + k300Words.mid(k300Words.indexOf(u"w013"))},
        // Two more characters and the cut falls inside "w012".
        PreviewCase{"CutInsideAWord", k300Words + QStringLiteral("zz"),
                    QStringLiteral("…") + k300Words.mid(k300Words.indexOf(u"w013")) + QStringLiteral("zz")},
        PreviewCase{"NoWhiteSpace", k300Letters, QStringLiteral("…") + QString(240, QLatin1Char('a'))},
        PreviewCase{"OneOverTheLimit", QStringLiteral("x ") + QString(239, QLatin1Char('c')),
                    QStringLiteral("…") + QString(239, QLatin1Char('c'))},
        PreviewCase{"SpacesRunSkippedWhole",
                    QString(100, QLatin1Char('d')) + QStringLiteral("   ") + QString(200, QLatin1Char('e')),
                    QStringLiteral("…") + QString(200, QLatin1Char('e'))},
        PreviewCase{"LineBreakCounts",
                    QString(100, QLatin1Char('f')) + QStringLiteral("\n") + QString(200, QLatin1Char('g')),
                    QStringLiteral("…") + QString(200, QLatin1Char('g'))}),
    [](const ::testing::TestParamInfo<PreviewCase>& info) { return std::string(info.param.name); });

TEST(PreviewTextTest, NeverStartsInsideACharacterOutsideTheBasicPlane)
{
    // 241 code units with an emoji straddling the cut.
    const QString text = QStringLiteral("😀") + QString(239, QLatin1Char('h'));
    ASSERT_EQ(text.size(), 241);
    const QString shown = PreviewText::preview(text);
    EXPECT_FALSE(shown.at(1).isLowSurrogate());
    EXPECT_EQ(shown, QStringLiteral("…") + QString(239, QLatin1Char('h')));
}

} // namespace
