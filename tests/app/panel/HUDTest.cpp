#include "app/ShellFixture.h"
#include "app/panel/HUDPanel.h"
#include "app/panel/LevelBars.h"
#include "app/panel/ScanningBars.h"

#include <QElapsedTimer>
#include <QScreen>

namespace {

using State = DictationState;
using Content = HUDView::Content;
using Indicator = HUDView::Indicator;

struct StatusCase
{
    const char* name;
    Content content;
    QString status;
    Indicator indicator;
    std::optional<QString> detail;
};

Content with(State state, auto&& change)
{
    Content content;
    content.state = state;
    change(content);
    return content;
}

const auto same = [](Content&) {};

class HUDStatusTest : public ::testing::TestWithParam<StatusCase>
{};

TEST_P(HUDStatusTest, ShowsTheRightLineAndIndicator)
{
    const StatusCase& c = GetParam();
    EXPECT_EQ(HUDView::statusLine(c.content), c.status);
    EXPECT_EQ(HUDView::indicator(c.content), c.indicator);
    EXPECT_EQ(HUDView::detailLine(c.content), c.detail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HUDStatusTest,
    ::testing::Values(
        StatusCase{"IdleNotice", with(State::idle, [](Content& c) { c.notice = u"No internet connection."_qs; }),
                   u"No internet connection."_qs, Indicator::noticeSymbol, std::nullopt},
        StatusCase{"IdleClipboardNotice",
                   with(State::idle,
                        [](Content& c) {
                            c.notice = u"On the clipboard. Press ⌘V to paste."_qs;
                            c.noticeDetail = u"There was no app to paste into."_qs;
                            c.noticeOnClipboard = true;
                        }),
                   u"On the clipboard. Press ⌘V to paste."_qs, Indicator::clipboardSymbol,
                   u"There was no app to paste into."_qs},
        StatusCase{"Starting", with(State::starting, same), u"Starting…"_qs, Indicator::none, std::nullopt},
        StatusCase{"ListeningEmpty", with(State::listening, same), u"Listening…  (Esc to cancel)"_qs,
                   Indicator::levelBars, std::nullopt},
        // Where Escape would reach the app too (a Wayland tap that only reads), it isn't offered.
        StatusCase{"ListeningEscapeNotOffered", with(State::listening, [](Content& c) { c.escapeCancels = false; }),
                   u"Listening…"_qs, Indicator::levelBars, std::nullopt},
        StatusCase{
            "ListeningWhileTheDesktopAsksToPaste", with(State::listening, [](Content& c) { c.askingToPaste = true; }),
            u"Allow Vell to paste in your desktop's dialog, and keep talking"_qs, Indicator::levelBars, std::nullopt},
        StatusCase{"ListeningMicNote",
                   with(State::listening, [](Content& c) { c.micNote = u"Using the built-in microphone."_qs; }),
                   u"Using the built-in microphone."_qs, Indicator::levelBars, std::nullopt},
        StatusCase{"ListeningLiveText",
                   with(State::listening,
                        [](Content& c) {
                            c.committed = u"Hello there."_qs;
                            c.interim = u"how are"_qs;
                            c.micNote = u"ignored while there is text"_qs;
                        }),
                   u"Hello there. how are"_qs, Indicator::levelBars, std::nullopt},
        StatusCase{"ListeningReconnecting",
                   with(State::listening,
                        [](Content& c) {
                            c.committed = u"Hello"_qs;
                            c.isReconnecting = true;
                        }),
                   u"Reconnecting… keep talking"_qs, Indicator::levelBars, std::nullopt},
        StatusCase{"FinishingWithText", with(State::finishing, [](Content& c) { c.committed = u"Done."_qs; }),
                   u"Done."_qs, Indicator::scanningBars, std::nullopt},
        StatusCase{"FinishingEmpty", with(State::finishing, same), u"Polishing…"_qs, Indicator::scanningBars,
                   std::nullopt},
        StatusCase{"FinishingPolishing",
                   with(State::finishing,
                        [](Content& c) {
                            c.committed = u"Done."_qs;
                            c.isPolishing = true;
                        }),
                   u"Polishing…"_qs, Indicator::scanningBars, std::nullopt}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST(HUDMeterTest, LevelBarsReachFullScaleAtAThirdOfTheLevel)
{
    const std::array<qreal, 5> full{4 + 14 * 0.4, 4 + 14 * 0.7, 18, 4 + 14 * 0.7, 4 + 14 * 0.4};
    EXPECT_EQ(LevelBars::heights(0.5f), full);
    EXPECT_EQ(LevelBars::heights(1.0f / 3), full);
    EXPECT_EQ(LevelBars::heights(0), (std::array<qreal, 5>{4, 4, 4, 4, 4}));
    EXPECT_NEAR(LevelBars::heights(0.1f)[2], 4 + 14 * 0.3, 1e-6);
}

TEST(HUDMeterTest, ShownBarsEaseToANewLevel)
{
    LevelBars bars;
    bars.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bars));
    QElapsedTimer clock;
    clock.start();
    bars.setLevel(0.5f);
    EXPECT_LT(bars.shownHeights()[2], 18); // not at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return bars.shownHeights() == LevelBars::heights(0.5f); }, 1000));
    EXPECT_GE(clock.elapsed(), 90);
    bars.setLevel(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bars.shownHeights() == LevelBars::heights(0); }, 1000));
}

// Rows of the middle of bar `index` in `image` drawn mostly in `colour`: a
// bar's height but for the antialiased pixel at each rounded end.
int barRows(const QImage& image, int index, QColor colour)
{
    const qreal left = (image.width() - LevelBars(nullptr).sizeHint().width()) / 2.0;
    const int x = int(left + index * (LevelBars::kBarWidth + LevelBars::kGap) + LevelBars::kBarWidth / 2.0);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QColor pixel = image.pixelColor(x, y);
        rows += qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green()) +
                    qAbs(pixel.blue() - colour.blue()) <
                60;
    }
    return rows;
}

TEST(HUDMeterTest, BarsAreDrawnAtTheirHeightsInThePalettesColours)
{
    LevelBars bars;
    bars.resize(bars.sizeHint() + QSize(7, 0)); // centred half way into a pixel
    bars.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bars));
    bars.setLevel(0.5f);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bars.shownHeights() == LevelBars::heights(0.5f); }, 1000));
    const QColor ink = bars.palette().color(QPalette::WindowText);
    QImage image = bars.grab().toImage();
    image.setDevicePixelRatio(1);
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(barRows(image, i, ink), LevelBars::heights(0.5f)[size_t(i)] - 2, 1) << "bar " << i;

    // Drawn once and kept, but not past a change of colour.
    QPalette red = bars.palette();
    red.setColor(QPalette::WindowText, Qt::red);
    bars.setPalette(red);
    image = bars.grab().toImage();
    EXPECT_EQ(barRows(image, 2, ink), 0);
    EXPECT_NEAR(barRows(image, 2, Qt::red), 18 - 2, 1);
    EXPECT_NEAR(barRows(image, 0, Qt::red), LevelBars::heights(0.5f)[0] - 2, 1);
}

// ---- The panel window ---------------------------------------------------------

TEST(HUDPlacementTest, CentredAboveTheBottomOfTheFreeArea)
{
    EXPECT_EQ(HUDPanel::placement(QRect(0, 0, 1280, 800), QSize(520, 120)), QPoint(380, 656));
    // A second screen to the right, with a panel at its top.
    EXPECT_EQ(HUDPanel::placement(QRect(1280, 30, 1920, 1050), QSize(520, 120)), QPoint(1280 + 700, 30 + 1050 - 144));
}

TEST_F(ShellFixture, PanelShowsForDictationsAndNoticesWithoutTakingFocus)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    HUDPanel& hud = app->hud();
    HUDView& view = hud.view();
    EXPECT_FALSE(hud.isVisible());
    EXPECT_EQ(view.size(), QSize(520, 120));
    const Qt::WindowFlags flags = view.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTransparentForInput));
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(view.testAttribute(Qt::WA_ShowWithoutActivating));

    app->controller().notice().show(NoticeMessage::startRefused(StartRefusal::offline, TranscriptionProvider::soniox));
    // The panel follows the controller a frame later.
    EXPECT_FALSE(hud.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return hud.isVisible(); }, 1000));
    EXPECT_EQ(view.shownText(), QStringLiteral("No internet connection."));
    EXPECT_EQ(view.shownIndicator(), Indicator::noticeSymbol);
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(view.pos(), HUDPanel::placement(free, view.size()));
    EXPECT_TRUE(view.mask().boundingRect() == view.cardRect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !hud.isVisible(); }, 2000)); // the notice runs out

    ASSERT_TRUE(app->controller().start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return hud.isVisible(); }, 1000));
    ASSERT_TRUE(waitForState(State::listening));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app->controller().committed().isEmpty(); }, 3000));
    EXPECT_EQ(view.shownIndicator(), Indicator::levelBars);
    EXPECT_TRUE(view.shownText().startsWith(QStringLiteral("This is a demo")));

    workspace.frontmost.reset(); // the user leaves the editor

    // Once shown the panel stays where it is, even if the user moved it.
    view.move(view.pos() + QPoint(10, -10));
    const QPoint moved = view.pos();
    app->controller().stop();
    ASSERT_EQ(app->controller().state(), State::finishing);
    // The card catches up once the event loop is free.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.shownIndicator() == Indicator::scanningBars; }, 1000));
    EXPECT_EQ(view.pos(), moved);
    EXPECT_TRUE(view.scanningBars().isAnimating());

    // The editor is gone, so the text goes to the clipboard, with a notice.
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.shownIndicator() == Indicator::clipboardSymbol; }, 1000));
    EXPECT_TRUE(hud.isVisible());
    EXPECT_FALSE(view.scanningBars().isAnimating());
    EXPECT_EQ(view.shownDetail(), QStringLiteral("You switched to another app, so it wasn't pasted."));
}

TEST_F(ShellFixture, ScanningStopsWhenThePanelHides)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    ASSERT_TRUE(app->controller().start());
    ASSERT_TRUE(waitForState(State::listening));
    app->controller().stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->hud().view().scanningBars().isAnimating(); }, 1000));
    app->controller().cancel();
    ASSERT_TRUE(waitForState(State::idle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !app->hud().isVisible(); }, 3000));
    EXPECT_FALSE(app->hud().view().scanningBars().isAnimating());
}

TEST_F(ShellFixture, LongLiveTextKeepsItsEndInAPanelOfFixedSize)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    HUDView& view = app->hud().view();
    ASSERT_TRUE(app->controller().start());
    ASSERT_TRUE(waitForState(State::listening));
    // The demo script runs to more than 140 characters; wait for all of it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->controller().committed().size() > 140; }, 5000));
    EXPECT_EQ(view.size(), QSize(520, 120));
    EXPECT_LE(view.cardRect().height(), 120);
    EXPECT_LE(view.cardRect().width(), 520);
    EXPECT_GT(view.cardRect().height(), 44); // the text wraps
    app->controller().cancel();
    ASSERT_TRUE(waitForState(State::idle));
}

} // namespace
