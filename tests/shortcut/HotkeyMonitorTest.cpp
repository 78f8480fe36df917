#include "shortcut/HotkeyMonitor.h"

#include "fakes/FakeKeyboardTap.h"
#include "fakes/FakeSessionEvents.h"
#include "shortcut/StoredKeyCodes.h"
#include "storage/DebugLogFile.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using Event = HotkeyMonitor::Event;
constexpr quint16 kLetterA = 0;
constexpr quint16 kRightAltKey = 61;
constexpr quint16 kLeftShiftKey = 56;
const ModifierKeys kBothSuper(0xC0);

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

    void useSuperSpace() { monitor.setShortcut(Shortcut{StoredKeyCodes::space, QStringLiteral("Space"), kBothSuper}); }

    FakeKeyboardTap tap;
    FakeSessionEvents session;
    HotkeyMonitor monitor{tap, session, HotkeyMonitor::Timings{.retryInterval = std::chrono::milliseconds(20)}};
    QList<Event> events;
};

TEST_F(HotkeyMonitorTest, RightAltAloneIsPressedAndReleasedWithoutSwallowing)
{
    startInstalled();
    EXPECT_FALSE(tap.modifiers(ModifierKeys::leftAlt, 58));
    EXPECT_TRUE(events.isEmpty());

    EXPECT_FALSE(tap.modifiers(ModifierKeys(), 58));
    EXPECT_FALSE(tap.modifiers(ModifierKeys::rightAlt, kRightAltKey));
    EXPECT_TRUE(monitor.isActive());
    EXPECT_FALSE(tap.modifiers(ModifierKeys(), kRightAltKey));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::released}));
    EXPECT_FALSE(monitor.isActive());
    EXPECT_TRUE(tap.swallowed.isEmpty()); // nothing is grabbed for a modifier-only shortcut
}

TEST_F(HotkeyMonitorTest, AnotherModifierOrAKeyInterruptsAModifierOnlyShortcut)
{
    startInstalled();
    tap.modifiers(ModifierKeys::rightAlt, kRightAltKey);
    tap.modifiers(ModifierKeys::rightAlt | ModifierKeys::leftShift, kLeftShiftKey);
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::interrupted}));

    events.clear();
    tap.modifiers(ModifierKeys(), kRightAltKey);
    tap.modifiers(ModifierKeys::rightAlt, kRightAltKey);
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::rightAlt)); // the letter still reaches the application
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::rightAlt, true));
    EXPECT_FALSE(tap.modifiers(ModifierKeys(), kRightAltKey));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::interrupted}));
}

TEST_F(HotkeyMonitorTest, KeyShortcutSwallowsItsKeyAndItsRepeats)
{
    startInstalled();
    useSuperSpace();
    EXPECT_EQ(tap.swallowed, (QList<SwallowedKey>{{StoredKeyCodes::space, kBothSuper, false}}));

    EXPECT_FALSE(tap.keyUp(StoredKeyCodes::space)); // no press before it
    EXPECT_FALSE(tap.modifiers(ModifierKeys::leftSuper, 55));
    EXPECT_TRUE(tap.keyDown(StoredKeyCodes::space, ModifierKeys::leftSuper));
    EXPECT_TRUE(tap.keyDown(StoredKeyCodes::space, ModifierKeys::leftSuper, true));
    EXPECT_TRUE(tap.keyDown(StoredKeyCodes::space, ModifierKeys::leftSuper, true));
    EXPECT_TRUE(tap.keyUp(StoredKeyCodes::space, ModifierKeys::leftSuper));
    EXPECT_EQ(events, (QList<Event>{Event::pressed, Event::released}));

    events.clear();
    const ModifierKeys superShift = ModifierKeys::leftSuper | ModifierKeys::leftShift;
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::space, superShift));
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::space, superShift, true)); // repeats of other chords pass
    EXPECT_FALSE(tap.keyUp(StoredKeyCodes::space, superShift));
    EXPECT_FALSE(tap.keyDown(kLetterA, ModifierKeys::leftSuper));
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(HotkeyMonitorTest, CapturedEscapeIsReportedAndSwallowedOnlyWhileWanted)
{
    startInstalled();
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::escape));
    EXPECT_TRUE(events.isEmpty());

    monitor.setCapturesEscape(true);
    EXPECT_EQ(tap.swallowed, (QList<SwallowedKey>{{StoredKeyCodes::escape, ModifierKeys(), true}}));
    EXPECT_TRUE(tap.keyDown(StoredKeyCodes::escape, ModifierKeys::leftShift));
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::escape, ModifierKeys(), true));
    EXPECT_FALSE(tap.keyUp(StoredKeyCodes::escape));
    EXPECT_EQ(events, QList<Event>{Event::escape});

    monitor.setCapturesEscape(false);
    EXPECT_TRUE(tap.swallowed.isEmpty());

    // A tap that only reads lets Escape through to the app: it must not also cancel.
    tap.swallows = false;
    monitor.setCapturesEscape(true);
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::escape));
    EXPECT_EQ(events, QList<Event>{Event::escape});
}

TEST_F(HotkeyMonitorTest, PausedOrPostedEventsAreNeitherReportedNorSwallowed)
{
    startInstalled();
    useSuperSpace();
    monitor.setCapturesEscape(true);

    // Two recorders pause it; the first to finish leaves it paused for the other.
    monitor.setPaused(true);
    monitor.setPaused(true);
    monitor.setPaused(false);
    EXPECT_TRUE(monitor.isPaused());
    EXPECT_TRUE(tap.swallowed.isEmpty());
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::space, ModifierKeys::rightSuper));
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::escape));
    monitor.setPaused(false);
    EXPECT_FALSE(monitor.isPaused());
    EXPECT_EQ(tap.swallowed.size(), 2);

    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::space, ModifierKeys::rightSuper, false, true));
    EXPECT_FALSE(tap.keyDown(StoredKeyCodes::escape, ModifierKeys(), false, true));
    EXPECT_TRUE(events.isEmpty());
    EXPECT_FALSE(monitor.isActive());
}

TEST_F(HotkeyMonitorTest, RetriesUntilTheTapMayBeInstalledThenStops)
{
    tap.keyboardAccess = false;
    QSignalSpy installed(&monitor, &HotkeyMonitor::isInstalledChanged);
    monitor.start();
    EXPECT_FALSE(monitor.isInstalled());

    tap.keyboardAccess = true;
    tap.creationFails = true; // allowed, but the platform still refuses for a while
    ASSERT_TRUE(QTest::qWaitFor([&] { return tap.refusedCount >= 2; }, 1000));
    EXPECT_FALSE(monitor.isInstalled());

    tap.creationFails = false;
    ASSERT_TRUE(installed.wait(1000));
    EXPECT_TRUE(monitor.isInstalled());
    // Only time shows the retries have stopped: four retry intervals pass without one.
    EXPECT_FALSE(QTest::qWaitFor([&] { return tap.installCount > 1; }, 80));
    EXPECT_EQ(installed.count(), 1);
}

TEST_F(HotkeyMonitorTest, WakeUnlockAndALostTapInstallAgainAndEndTheHold)
{
    startInstalled();
    tap.modifiers(ModifierKeys::rightAlt, kRightAltKey);
    ASSERT_TRUE(monitor.isActive());

    session.wake();
    EXPECT_FALSE(monitor.isActive());
    EXPECT_TRUE(monitor.isInstalled());
    EXPECT_EQ(tap.installCount, 2);

    session.unlock();
    EXPECT_EQ(tap.installCount, 3);

    tap.keyboardAccess = false; // the display went away with the tap
    tap.loseHook();
    EXPECT_FALSE(monitor.isInstalled());
    tap.keyboardAccess = true;
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
