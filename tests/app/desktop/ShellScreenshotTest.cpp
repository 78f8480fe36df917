#include "Screenshots.h"
#include "app/ShellFixture.h"
#include "app/panel/HUDPanel.h"
#include "app/panel/LevelBars.h"
#include "app/tray/TrayItem.h"

#include <QScreen>

namespace {

using namespace std::chrono_literals;
using State = DictationState;

const QRgb kCard = qRgb(28, 28, 30);

class ShellScreenshotTest : public ShellFixture
{
protected:
    VellApp& makeSlow()
    {
        VellAppOptions chosen = options();
        chosen.controller.timings.flushLimit = 5000ms;
        chosen.controller.timings.noticeTime = 5000ms;
        chosen.controller.timings.clipboardNoticeTime = 5000ms;
        chosen.controller.words = &PlatformVocabulary::forLinux();
        chosen.controller.makeTranscriber = [](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
            // Words at a readable pace, and a long wait after the audio ends.
            return std::make_unique<MockTranscriber>(
                MockTranscriber::Timings{.wordInterval = 20ms, .closingDelay = 1500ms});
        };
        preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
        return make(std::move(chosen));
    }

    // Waits until the screen shows the panel's card with text on it and, when
    // asked, an indicator bar at least `barHeight` pixels tall; then keeps
    // that picture as an artefact.
    // With `before`, the indicator must also look different from it.
    QImage shootPanel(const QString& name, int barHeight = 0, const QImage& before = {})
    {
        HUDView& view = app->hud().view();
        QImage shot;
        const bool drawn = QTest::qWaitFor(
            [&] {
                shot = Screenshots::grab(QRect(view.pos(), view.size()));
                const QImage card = shot.copy(view.cardRect());
                return Screenshots::shareLike(card, kCard) > 0.5 && Screenshots::shareLight(card) > 0.01 &&
                       Screenshots::tallestLightRun(shot.copy(view.levelBars().geometry())) >= barHeight &&
                       (before.isNull() ||
                        before.copy(view.levelBars().geometry()) != shot.copy(view.levelBars().geometry()));
            },
            3000);
        Screenshots::save(shot, name);
        EXPECT_TRUE(drawn) << name.toStdString();
        return shot;
    }
};

TEST_F(ShellScreenshotTest, PanelAndDropDownAsTheUserSeesThem)
{
    makeSlow();
    HUDView& view = app->hud().view();
    const QRect free = QGuiApplication::primaryScreen()->availableGeometry();

    ASSERT_TRUE(app->controller().start());
    ASSERT_TRUE(waitForState(State::listening));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->controller().committed().size() > 60; }, 5000));
    for (int i = 0; i < 5; ++i) // a loud voice moves the meter
        audio.deliver(QList<qint16>(1600, qint16(i % 2 ? 9000 : -9000)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->controller().level() > 0.2f; }, 3000));
    QImage shot = shootPanel(QStringLiteral("panel-listening.png"), 12);
    EXPECT_EQ(shot.size(), QSize(520, 120));
    EXPECT_EQ(view.pos(), HUDPanel::placement(free, view.size()));
    EXPECT_GT(Screenshots::colourCount(shot.copy(view.cardRect())), 8);

    workspace.frontmost.reset(); // the user leaves the editor before the text is ready
    app->controller().stop();
    ASSERT_EQ(app->controller().state(), State::finishing);
    // The sweep moves, so the indicator soon differs from the meter.
    shot = shootPanel(QStringLiteral("panel-finishing.png"), 10, shot);
    EXPECT_EQ(shot.size(), QSize(520, 120));

    ASSERT_TRUE(waitForState(State::idle, 5000));
    ASSERT_TRUE(app->controller().notice().isAboutClipboard());
    shot = shootPanel(QStringLiteral("panel-clipboard-notice.png"));
    EXPECT_GT(view.cardRect().height(), 50); // the notice and its reason, on two lines

    for (const QString& text : {QStringLiteral("Send the draft to Maria before lunch."),
                                QStringLiteral("Remind me to water the plants on Thursday, and to call the plumber "
                                               "about the kitchen tap that keeps dripping.")}) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.date = QDateTime::currentDateTimeUtc();
        entry.text = text;
        app->history().add(entry);
    }
    const QRect icon(free.right() - 30, free.top(), 24, 24);
    app->trayItem().open(icon);
    TrayMenu& content = app->trayItem().content();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&content));
    ASSERT_TRUE(content.geometry().top() > icon.bottom());
    ASSERT_LE(content.geometry().right(), free.right());
    QImage menu;
    const QRgb window = content.palette().color(QPalette::Window).rgb();
    const bool drawn = QTest::qWaitFor(
        [&] {
            menu = Screenshots::grab(content.geometry());
            return Screenshots::shareLike(menu, window) > 0.5 && Screenshots::shareUnlike(menu, window) > 0.03;
        },
        3000);
    Screenshots::save(menu, QStringLiteral("drop-down.png"));
    EXPECT_TRUE(drawn);
    EXPECT_EQ(menu.width(), TrayMenu::kWidth);
    EXPECT_GT(menu.height(), 300);
    content.hide();
}

} // namespace
