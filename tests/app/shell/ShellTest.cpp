#include "app/ShellFixture.h"
#include "app/shell/AboutDialog.h"
#include "app/shell/PlaceholderWindows.h"
#include "app/tray/TrayItem.h"
#include "app/tray/UnpastedCard.h"
#include "storage/AppSettings.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

namespace {

using State = DictationState;

// ---- The launch check -------------------------------------------------------

struct LaunchCase
{
    const char* name;
    const char* provider; // "" when never written
    bool keyStored;
    bool keyboardAccess;
    bool microphone;
    std::optional<bool> setupDone; // absent: never written
    const char* opens;             // "" when nothing opens
    std::optional<bool> setupDoneAfter;
};

class LaunchCheckTest : public ShellFixture, public ::testing::WithParamInterface<LaunchCase>
{};

TEST_P(LaunchCheckTest, OpensTheRightWindowAndRecordsSetup)
{
    const LaunchCase& c = GetParam();
    if (*c.provider)
        preferences.setValue(QStringLiteral("provider"), QString::fromLatin1(c.provider));
    if (c.setupDone)
        preferences.setValue(QStringLiteral("macSetupDone"), *c.setupDone);
    if (c.keyStored)
        storedKeys.insert(QString::fromLatin1(c.provider), "a-key");
    tap.keyboardAccess = c.keyboardAccess;
    microphone.current = c.microphone ? MicrophonePermission::Status::granted : MicrophonePermission::Status::denied;

    make();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->launchCheck().hasRun(); }, 3000));
    EXPECT_EQ(windows->opened.join(u','), QString::fromLatin1(c.opens));
    const QVariant after = preferences.value(QStringLiteral("macSetupDone"));
    if (c.setupDoneAfter)
        EXPECT_EQ(after.toBool(), *c.setupDoneAfter);
    else
        EXPECT_FALSE(after.isValid());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LaunchCheckTest,
    ::testing::Values(LaunchCase{"FreshStoreOpensSetup", "", false, true, true, {}, "setup", {}},
                      LaunchCase{"DemoFirstLaunchComplete", "mock", false, true, true, {}, "", true},
                      LaunchCase{"SonioxWithoutKeyFirstLaunch", "soniox", false, true, true, {}, "setup", {}},
                      LaunchCase{"SonioxWithoutKeyLaterLaunch", "soniox", false, true, true, true, "settings", true},
                      LaunchCase{"SonioxKeyLoadedAfterStart", "soniox", true, true, true, {}, "", true},
                      LaunchCase{"NoKeyboardAccessFirstLaunch", "mock", false, false, true, false, "setup", false},
                      LaunchCase{"SilentMicrophoneLaterLaunch", "mock", false, true, false, true, "settings", true},
                      LaunchCase{"CompleteLaterLaunch", "assemblyAI", true, true, true, true, "", true}),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return std::string(info.param.name); });

TEST_F(ShellFixture, WithoutATrayTheSettingsWindowIsTheWayIn)
{
    using namespace std::chrono_literals;
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    preferences.setValue(QStringLiteral("macSetupDone"), true); // the launch check opens nothing
    bool trayShown = false;
    VellAppOptions chosen = options();
    chosen.showTrayIcon = true;
    chosen.trayGrace = 50ms;
    chosen.trayAvailable = [&] { return trayShown; };
    make(std::move(chosen));
    // Not in the middle of a dictation, whose text needs the focus where it is.
    ASSERT_TRUE(app->controller().start());
    EXPECT_FALSE(QTest::qWaitFor([&] { return !windows->opened.isEmpty(); }, 200));
    QStringList openedAtPaste{u"no paste"_qs};
    keystrokes.onPaste = [&] { openedAtPaste = windows->opened; };
    app->controller().stop();
    ASSERT_TRUE(waitForState(DictationState::idle));
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows->opened.contains(u"settings"); }, 3000));
    EXPECT_EQ(windows->opened, QStringList{u"settings"_qs});
    EXPECT_EQ(openedAtPaste, QStringList()) << "the window opened before the paste, and took its focus";

    // Where the tray comes up in time, nothing opens.
    app.reset();
    trayShown = true;
    windows = nullptr;
    chosen = options();
    chosen.showTrayIcon = true;
    chosen.trayGrace = 50ms;
    chosen.trayAvailable = [&] { return trayShown; };
    make(std::move(chosen));
    EXPECT_FALSE(QTest::qWaitFor([&] { return !windows->opened.isEmpty(); }, 300));
}

TEST_F(ShellFixture, LaunchCheckWaitsForTheKeysBeforeJudgingThem)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("soniox"));
    storedKeys.insert(QStringLiteral("soniox"), "a-key");
    holdKeys = true; // the keyring answers late, as when it asks to be unlocked
    make();
    // Only time shows the check waiting: well past its 20 ms delay, within its patience.
    EXPECT_FALSE(QTest::qWaitFor([&] { return app->launchCheck().hasRun(); }, 100));
    secrets->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->launchCheck().hasRun(); }, 3000));
    EXPECT_TRUE(windows->opened.isEmpty()) << windows->opened.join(u',').toStdString();
}

// ---- The menu's actions -------------------------------------------------------

QPushButton* buttonNamed(QWidget& root, const QString& name)
{
    for (QPushButton* button : root.findChildren<QPushButton*>())
        if (button->accessibleName() == name && button->isVisibleTo(&root))
            return button;
    return nullptr;
}

TEST_F(ShellFixture, RecentRowsCopyTheirEntryAndShowWhichWasCopied)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    for (const QString& text : {QStringLiteral("first words"), QStringLiteral("second words")}) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.date = QDateTime::currentDateTimeUtc();
        entry.text = text;
        app->history().add(entry);
    }
    TrayItem& item = app->trayItem();
    ASSERT_TRUE(QTest::qWaitFor([&] { return buttonNamed(item.content(), QStringLiteral("first words")); }, 2000));

    buttonNamed(item.content(), QStringLiteral("first words"))->click();
    EXPECT_EQ(clipboard.text(), QStringLiteral("first words"));
    EXPECT_EQ(clipboard.visibility, Clipboard::Visibility::normal);
    const auto copiedRows = [&] {
        QStringList copied;
        for (const TrayMenuModel::Row& row : item.content().rows())
            if (row.copied)
                copied << row.text;
        return copied;
    };
    EXPECT_EQ(copiedRows(), QStringList{QStringLiteral("first words")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return buttonNamed(item.content(), QStringLiteral("second words")); }, 2000));
    EXPECT_TRUE(buttonNamed(item.content(), QStringLiteral("first words"))->text().endsWith(QStringLiteral("Copied")));

    buttonNamed(item.content(), QStringLiteral("second words"))->click();
    EXPECT_EQ(clipboard.text(), QStringLiteral("second words"));
    EXPECT_EQ(copiedRows(), QStringList{QStringLiteral("second words")});

    clipboard.refusesWrites = true;
    buttonNamed(item.content(), QStringLiteral("first words"))->click();
    EXPECT_EQ(app->controller().notice().text(), QStringLiteral("Couldn't copy the dictation to the clipboard."));
}

TEST_F(ShellFixture, TheUnpastedCardCopiesAndDismisses)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    dictateWithNoTarget();
    const QString text = app->controller().unseenFailure()->text;
    TrayItem& item = app->trayItem();
    ASSERT_TRUE(QTest::qWaitFor([&] { return item.content().card() != nullptr; }, 2000));
    EXPECT_TRUE(item.content().card()->title().startsWith(QStringLiteral("Not pasted · ")));
    EXPECT_FALSE(item.content().card()->title().contains(QStringLiteral(" in "))); // no application was in front
    EXPECT_EQ(item.accessibleLabel(), QStringLiteral("Vell, needs attention"));

    clipboard.copy({{QStringLiteral("text/plain"), "something else"}});
    item.content().card()->copyButton().click();
    EXPECT_EQ(clipboard.text(), text);
    ASSERT_TRUE(QTest::qWaitFor([&] { return item.content().card(); }, 2000));
    EXPECT_EQ(item.content().card()->copyButton().text(), QStringLiteral("Copied"));

    item.content().card()->dismissButton().click();
    EXPECT_FALSE(app->controller().unseenFailure().has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return item.content().card() == nullptr; }, 2000));
    EXPECT_EQ(item.accessibleLabel(), QStringLiteral("Vell"));
}

TEST_F(ShellFixture, CommandsOpenWindowsTheReleasePageAndQuit)
{
    make();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->launchCheck().hasRun(); }, 3000));
    windows->opened.clear();
    TrayMenu& content = app->trayItem().content();

    auto* more = content.findChild<QToolButton*>(QStringLiteral("more"));
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->accessibleName(), QStringLiteral("More"));
    QStringList moreItems;
    for (QAction* action : more->menu()->actions()) {
        moreItems << action->text();
        action->trigger();
    }
    EXPECT_EQ(moreItems, (QStringList{u"History…"_qs, u"Stats…"_qs, u"Settings…"_qs}));
    buttonNamed(content, QStringLiteral("Set Up Vell…"))->click();
    EXPECT_EQ(windows->opened, (QStringList{u"history"_qs, u"stats"_qs, u"settings"_qs, u"setup"_qs}));

    buttonNamed(content, QStringLiteral("Check for Updates…"))->click();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first(), app->updater().releasePage());
    EXPECT_FALSE(app->controller().notice().text().has_value());

    openSucceeds = false; // no browser on this desktop
    buttonNamed(content, QStringLiteral("Check for Updates…"))->click();
    EXPECT_EQ(app->controller().notice().text(), QStringLiteral("Couldn't open a web browser for the release page."));
    EXPECT_EQ(app->controller().notice().detail(), app->updater().releasePage().toString());

    buttonNamed(content, QStringLiteral("About Vell"))->click();
    ASSERT_NE(app->trayItem().aboutDialog(), nullptr);
    auto* credits = app->trayItem().aboutDialog()->findChild<QLabel*>(QStringLiteral("credits"));
    ASSERT_NE(credits, nullptr);
    EXPECT_TRUE(credits->text().contains(QStringLiteral(">Privacy</a>&nbsp;&nbsp;&nbsp;<a ")));
    EXPECT_EQ(credits->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    app->trayItem().aboutDialog()->close();

    QSignalSpy quit(app.get(), &VellApp::quitRequested);
    buttonNamed(content, QStringLiteral("Quit Vell"))->click();
    EXPECT_TRUE(quit.wait(1000));
}

TEST_F(ShellFixture, PlainMenuOffersTheSameCommands)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    make();
    dictateWithNoTarget();
    QMenu& menu = app->trayItem().plainMenu();
    Q_EMIT menu.aboutToShow();
    QStringList texts;
    for (QAction* action : menu.actions())
        if (!action->isSeparator() || !action->text().isEmpty()) // sections are separators with a title
            texts << (action->menu() ? action->menu()->title() : action->text());
    EXPECT_TRUE(texts.contains(QStringLiteral("Copy")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Dismiss")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Recent")));
    const QStringList tail = texts.mid(texts.indexOf(QStringLiteral("More")));
    EXPECT_EQ(tail, (QStringList{u"More"_qs, u"About Vell"_qs, u"Check for Updates…"_qs, u"Set Up Vell…"_qs,
                                 u"Quit Vell"_qs}));
    for (QAction* action : menu.actions())
        if (action->text() == QStringLiteral("Dismiss"))
            action->trigger();
    EXPECT_FALSE(app->controller().unseenFailure().has_value());
}

TEST_F(ShellFixture, ARefusedDictationForWantOfConsentAsksForIt)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("soniox"));
    storedKeys.insert(QStringLiteral("soniox"), "a-key");
    make();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->keys().isLoaded(); }, 2000));
    EXPECT_FALSE(app->controller().start());
    EXPECT_TRUE(windows->opened.contains(QStringLiteral("consent")));
}

TEST_F(ShellFixture, TheIconFollowsTheDictationAndTheKeyboardHook)
{
    preferences.setValue(QStringLiteral("provider"), QStringLiteral("mock"));
    tap.creationFails = true; // the hook cannot be installed
    make();
    TrayItem& item = app->trayItem();
    EXPECT_TRUE(item.look().needsAttention);
    EXPECT_EQ(item.accessibleLabel(), QStringLiteral("Vell, needs attention"));

    const auto shows = [&item](State state) {
        return QTest::qWaitFor([&] { return item.shownLook() && item.shownLook()->state == state; }, 1000);
    };
    QSignalSpy redrawn(&item, &TrayItem::iconChanged);
    ASSERT_TRUE(app->controller().start());
    ASSERT_TRUE(waitForState(State::listening));
    EXPECT_TRUE(shows(State::listening));
    EXPECT_TRUE(item.shownLook()->needsAttention);
    const qsizetype listeningRedraws = redrawn.size();
    EXPECT_GE(listeningRedraws, 1);
    app->controller().cancel();
    ASSERT_TRUE(waitForState(State::idle));
    EXPECT_TRUE(shows(State::idle));
    EXPECT_GT(redrawn.size(), listeningRedraws);
}

TEST(PlaceholderWindowsTest, OneTitledWindowPerKind)
{
    PlaceholderWindows windows;
    const std::pair<WindowPresenter::Window, QString> kinds[] = {
        {WindowPresenter::Window::setup, u"Set Up Vell"_qs},
        {WindowPresenter::Window::history, u"Vell History"_qs},
        {WindowPresenter::Window::stats, u"Vell Stats"_qs},
        {WindowPresenter::Window::settings, u"Vell Settings"_qs}};
    for (const auto& [kind, title] : kinds) {
        windows.show(kind);
        QWidget* first = windows.window(title);
        ASSERT_NE(first, nullptr) << title.toStdString();
        EXPECT_TRUE(first->isVisible());
        windows.show(kind); // raised again, not opened twice
        EXPECT_EQ(windows.window(title), first);
    }
    windows.window(u"Vell Stats"_qs)->close(); // closed windows go
    ASSERT_TRUE(QTest::qWaitFor([&] { return windows.window(u"Vell Stats"_qs) == nullptr; }, 1000));
    windows.show(WindowPresenter::Window::stats);
    EXPECT_NE(windows.window(u"Vell Stats"_qs), nullptr);
}

} // namespace
