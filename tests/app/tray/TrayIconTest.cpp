#include "app/tray/TrayIcon.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>

namespace {

using State = DictationState;

QList<qreal> heights(const QList<QRectF>& bars)
{
    QList<qreal> result;
    for (const QRectF& bar : bars)
        result << bar.height();
    return result;
}

void expectNear(const QList<qreal>& actual, const QList<qreal>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "bar " << i;
}

TEST(TrayIconTest, BarsSitOnTheirColumnsCentredOnTheMiddleLine)
{
    for (State state : {State::idle, State::starting, State::listening, State::finishing}) {
        const QList<QRectF> bars = TrayIcon::bars(state, 2);
        ASSERT_EQ(bars.size(), 5);
        const qreal lefts[] = {1.3, 5.1, 8.9, 12.7, 16.5};
        for (int i = 0; i < 5; ++i) {
            EXPECT_NEAR(bars[i].left(), lefts[i], 1e-9);
            EXPECT_NEAR(bars[i].width(), 2.2, 1e-9);
            EXPECT_NEAR(bars[i].center().y(), 9, 1e-9);
        }
    }
}

TEST(TrayIconTest, ListeningBarsGrowWithTheLevelStepAndRestOtherwise)
{
    expectNear(heights(TrayIcon::bars(State::listening, 0)), {4, 4, 4, 4, 4});
    expectNear(heights(TrayIcon::bars(State::listening, 3)), {8, 11, 14, 11, 8});
    expectNear(heights(TrayIcon::bars(State::listening, 1)),
               {4 + 4.0 / 3, 4 + 7.0 / 3, 4 + 10.0 / 3, 4 + 7.0 / 3, 4 + 4.0 / 3});
    // The level step never exceeds the drawing.
    expectNear(heights(TrayIcon::bars(State::listening, 7)), {8, 11, 14, 11, 8});
    for (State state : {State::idle, State::starting, State::finishing})
        expectNear(heights(TrayIcon::bars(state, 3)), {11.7, 13, 9.75, 12.35, 10.4});
}

TEST(TrayIconTest, AttentionCutsAGapAndDrawsABadge)
{
    constexpr int kSide = 200; // ten pixels per point, so edges blur little
    const auto alphaAt = [](const QImage& image, qreal x, qreal y) {
        const qreal scale = kSide / TrayIcon::kSize.width();
        const qreal top = (kSide - TrayIcon::kSize.height() * scale) / 2;
        return qAlpha(image.pixel(int(x * scale), int(top + y * scale)));
    };
    const QImage plain = TrayIcon::render({State::idle, 0, false}, kSide, 1);
    const QImage badged = TrayIcon::render({State::idle, 0, true}, kSide, 1);
    ASSERT_EQ(plain.size(), QSize(kSide, kSide));

    // The fourth bar, inside the cleared ring around the badge.
    EXPECT_EQ(alphaAt(plain, 13.4, 12.2), 255);
    EXPECT_EQ(alphaAt(badged, 13.4, 12.2), 0);
    // The badge's middle (below the fifth bar), and a place between the bars.
    EXPECT_EQ(alphaAt(plain, 16.5, 15), 0);
    EXPECT_EQ(alphaAt(badged, 16.5, 15), 255);
    EXPECT_EQ(alphaAt(badged, 4.3, 9), 0);
    // Far from the badge nothing changes.
    EXPECT_EQ(plain.copy(0, 0, kSide / 2, kSide), badged.copy(0, 0, kSide / 2, kSide));

    EXPECT_EQ(TrayIcon::accessibleLabel(false), QStringLiteral("Vell"));
    EXPECT_EQ(TrayIcon::accessibleLabel(true), QStringLiteral("Vell, needs attention"));
}

TEST(TrayIconTest, RendersSharplyAtTheTraySizeAndTwiceIt)
{
    const QImage doubled = TrayIcon::render({State::listening, 3, false}, 22, 2);
    EXPECT_EQ(doubled.size(), QSize(44, 44));
    EXPECT_EQ(doubled.devicePixelRatio(), 2);

    const QIcon icon = TrayIcon::icon({}, 26);
    EXPECT_TRUE(icon.availableSizes().contains(QSize(26, 26)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(52, 52)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(22, 22)));
}

// The launcher's PNGs and SVG must show the same drawing: the resting bars
// centred on the tile.
TEST(TrayIconTest, AppIconPngAndSvgDrawTheRestingBarsOnTheTile)
{
    const QList<QRectF> bars = TrayIcon::bars(State::idle, 0);
    const QPointF offset((TrayIcon::kAppIconSide - TrayIcon::kSize.width()) / 2,
                         (TrayIcon::kAppIconSide - TrayIcon::kSize.height()) / 2);

    QXmlStreamReader svg(TrayIcon::appIconSvg());
    QList<QRectF> svgBars;
    bool tile = false;
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = svg.attributes();
        if (svg.name() == u"svg") {
            EXPECT_EQ(a.value(QLatin1String("viewBox")).toString(), u"0 0 24 24"_qs);
            continue;
        }
        if (svg.name() != u"rect")
            continue;
        if (a.value(QLatin1String("fill")) == u"#303030") {
            tile = true;
            continue;
        }
        svgBars << QRectF(a.value(QLatin1String("x")).toDouble(), a.value(QLatin1String("y")).toDouble(),
                          a.value(QLatin1String("width")).toDouble(), a.value(QLatin1String("height")).toDouble());
    }
    ASSERT_FALSE(svg.hasError()) << svg.errorString().toStdString();
    EXPECT_TRUE(tile);
    ASSERT_EQ(svgBars.size(), bars.size());
    for (qsizetype i = 0; i < bars.size(); ++i) {
        EXPECT_NEAR(svgBars[i].x(), bars[i].x(), 1e-4) << "bar " << i;
        EXPECT_NEAR(svgBars[i].y(), bars[i].y(), 1e-4) << "bar " << i;
        EXPECT_NEAR(svgBars[i].height(), bars[i].height(), 1e-4) << "bar " << i;
    }
    EXPECT_TRUE(TrayIcon::appIconSvg().contains("translate(2 3)"));

    for (int side : {16, 256}) {
        const QImage png = TrayIcon::appIcon(side);
        ASSERT_EQ(png.size(), QSize(side, side));
        const qreal scale = side / TrayIcon::kAppIconSide;
        const auto at = [&](QPointF point) { return png.pixelColor((point * scale).toPoint()); };
        EXPECT_LT(png.pixelColor(0, 0).alpha(), 16) << "rounded corner, side " << side;
        EXPECT_GT(at(bars[2].center() + offset).lightness(), TrayIcon::kAppIconTile.lightness()) << "side " << side;
        if (side == 256) {
            EXPECT_EQ(at(bars[2].center() + offset), TrayIcon::kColour);
            const QPointF gap((bars[0].right() + bars[1].left()) / 2, bars[0].center().y());
            EXPECT_EQ(at(gap + offset), TrayIcon::kAppIconTile);
        }
    }
}

} // namespace
