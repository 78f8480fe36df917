#include "shortcut/HotkeyMonitor.h"

#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeSessionEvents.h"
#include "shortcut/KeyCodes.h"
#include "storage/DebugLogFile.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Event = HotkeyMonitor::Event;
constexpr quint16 kLetterA = 0;
constexpr quint16 kRightOptionKey = 61;
constexpr quint16 kLeftShiftKey = 56;
const ModifierKeys kBothCommand(0xC0);

class HotkeyMonitorTest : public ::testing::Test
{
protected:
    HotkeyMonitorTest()
    {
        monitor.setOnEvent([this](Event event) { events.append(event); });
    }

    void startInstalled()
    {
        monitor.start();
        ASSERT_TRUE(monitor.isInstalled());
    }

    void useCommandSpace() { monitor.setShortcut(Shortcut{KeyCodes::space, QStringLiteral("Space"), kBothCommand}); }

    FakeKeyboardTap tap;
    FakeSessionEvents session;
    HotkeyMonitor monitor{tap, session, HotkeyMonitor::Timings{std::chrono::milliseconds(20)}};
    QList<Event> events;
};

TEST_F(HotkeyMonitorTest, RightOptionAloneIsPressedAndReleasedWithoutSwallowing)
{
    startInstalled();
    EXPECT_FALSE(tap.modifiers(ModifierKeys::leftOption, 58));
    EXPECT_TRUE(events.isEmpty());

    EXPECT_FALSE(tap.modifiers(ModifierKeys(), 58));
    EXPECT_FALSE(tap.modifiers(ModifierKeys::rightOption, kRightOptionKey));
    EXPECT_TRUE(monitor.isActive());
    EXPECT_FALSE(tap.modifiers(ModifierKeys(), kRightOptionKey));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::released}));
    EXPECT_FALSE(monitor.isActive());
    EXPECT_TRUE(tap.swallowed.isEmpty()); // nothing is grabbed for a modifier-only shortcut
}

TEST_F(HotkeyMonitorTest, AnotherModifierOrAKeyInterruptsAModifierOnlyShortcut)
{
    startInstalled();
    tap.modifiers(ModifierKeys::rightOption, kRightOptionKey);
    tap.modifiers(ModifierKeys::rightOption | ModifierKeys::leftShift, kLeftShiftKey);
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::interrupted}));

    events.clear();
    tap.modifiers(ModifierKeys(), kRightOptionKey);
    tap.modifiers(ModifierKeys::rightOption, kRightOptionKey);
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::rightOption)); // the letter still reaches the application
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::rightOption, true));
    EXPECT_FALSE(tap.modifiers(ModifierKeys(), kRightOptionKey));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::interrupted}));
}

TEST_F(HotkeyMonitorTest, KeyShortcutSwallowsItsKeyAndItsRepeats)
{
    startInstalled();
    useCommandSpace();
    EXPECT_EQ(tap.swallowed, (QList<SwallowedKey>{{KeyCodes::space, kBothCommand, false}}));

    EXPECT_FALSE(tap.keyUp(KeyCodes::space)); // no press before it
    EXPECT_FALSE(tap.modifiers(ModifierKeys::leftCommand, 55));
    EXPECT_TRUE(tap.keyDown(KeyCodes::space, ModifierKeys::leftCommand));
    EXPECT_TRUE(tap.keyDown(KeyCodes::space, ModifierKeys::leftCommand, true));
    EXPECT_TRUE(tap.keyDown(KeyCodes::space, ModifierKeys::leftCommand, true));
    EXPECT_TRUE(tap.keyUp(KeyCodes::space, ModifierKeys::leftCommand));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::released}));

    events.clear();
    const ModifierKeys commandShift = ModifierKeys::leftCommand | ModifierKeys::leftShift;
    EXPECT_FALSE(tap.keyDown(KeyCodes::space, commandShift));
    EXPECT_FALSE(tap.keyDown(KeyCodes::space, commandShift, true)); // repeats of other chords pass
    EXPECT_FALSE(tap.keyUp(KeyCodes::space, commandShift));
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::leftCommand));
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(HotkeyMonitorTest, CapturedEscapeIsReportedAndSwallowedOnlyWhileWanted)
{
    startInstalled();
    EXPECT_FALSE(tap.keyDown(KeyCodes::escape));
    EXPECT_TRUE(events.isEmpty());

    monitor.setCapturesEscape(true);
    EXPECT_EQ(tap.swallowed, (QList<SwallowedKey>{{KeyCodes::escape, ModifierKeys(), true}}));
    EXPECT_TRUE(tap.keyDown(KeyCodes::escape, ModifierKeys::leftShift));
    EXPECT_FALSE(tap.keyDown(KeyCodes::escape, ModifierKeys(), true));
    EXPECT_FALSE(tap.keyUp(KeyCodes::escape));
    EXPECT_EQ(events, QList<Event>{Event::escape});

    monitor.setCapturesEscape(false);
    EXPECT_TRUE(tap.swallowed.isEmpty());
}

TEST_F(HotkeyMonitorTest, PausedOrPostedEventsAreNeitherReportedNorSwallowed)
{
    startInstalled();
    useCommandSpace();
    monitor.setCapturesEscape(true);

    monitor.setPaused(true);
    EXPECT_TRUE(tap.swallowed.isEmpty());
    EXPECT_FALSE(tap.keyDown(KeyCodes::space, ModifierKeys::rightCommand));
    EXPECT_FALSE(tap.keyDown(KeyCodes::escape));
    monitor.setPaused(false);
    EXPECT_EQ(tap.swallowed.size(), 2);

    EXPECT_FALSE(tap.keyDown(KeyCodes::space, ModifierKeys::rightCommand, false, true));
    EXPECT_FALSE(tap.keyDown(KeyCodes::escape, ModifierKeys(), false, true));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_FALSE(monitor.isActive());
}

TEST_F(HotkeyMonitorTest, RetriesUntilTheTapMayBeInstalledThenStops)
{
    tap.trusted = false;
    QSignalSpy installed(&monitor, &HotkeyMonitor::isInstalledChanged);
    monitor.start();
    EXPECT_FALSE(monitor.isInstalled());

    tap.trusted = true;
    tap.creationFails = true; // trusted, but the platform still refuses for a while
    QTest::qWait(60);
    EXPECT_FALSE(monitor.isInstalled());

    tap.creationFails = false;
    ASSERT_TRUE(installed.wait(1000));
    EXPECT_TRUE(monitor.isInstalled());
    QTest::qWait(80);
    EXPECT_EQ(tap.installCount, 1);
    EXPECT_EQ(installed.count(), 1);
}

TEST_F(HotkeyMonitorTest, WakeUnlockAndALostTapInstallAgainAndEndTheHold)
{
    startInstalled();
    tap.modifiers(ModifierKeys::rightOption, kRightOptionKey);
    ASSERT_TRUE(monitor.isActive());

    session.wake();
    EXPECT_FALSE(monitor.isActive());
    EXPECT_TRUE(monitor.isInstalled());
    EXPECT_EQ(tap.installCount, 2);

    session.unlock();
    EXPECT_EQ(tap.installCount, 3);

    tap.trusted = false; // the display went away with the tap
    tap.loseHook();
    EXPECT_FALSE(monitor.isInstalled());
    tap.trusted = true;
    QSignalSpy installed(&monitor, &HotkeyMonitor::isInstalledChanged);
    ASSERT_TRUE(installed.wait(1000));
    EXPECT_EQ(tap.installCount, 4);

    DebugLogFile::shared().flush();
    QFile log(*DebugLogFile::shared().path());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("hotkey: Reinstalling event tap: test.wake\n"));
    EXPECT_TRUE(text.contains("hotkey: Reinstalling event tap: test.unlock\n"));
    EXPECT_TRUE(text.contains("hotkey: Event tap installed\n"));
}

} // namespace
