#include "fakes/FakeDesktop.h"
#include "platform/linux/PortalGlobalShortcuts.h"
#include "shortcut/StoredKeyCodes.h"
#include "transcription/MockTranscriber.h"
#include "transcription/NetworkStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

// Run under tests/support/with-portal: the real portal frontend with a
// scripted backend, or (--without-global-shortcuts) one that offers none.
namespace {

using namespace std::chrono_literals;
using State = PortalShortcut::State;

const Shortcut kChord{StoredKeyCodes::space, u"Space"_qs, ModifierKeys::leftControl | ModifierKeys::rightAlt};
const Shortcut kLetter{2, u"D"_qs, ModifierKeys::rightSuper};

TEST(PreferredTriggerTest, AKeyFollowsTheKindsOfModifierHeld)
{
    EXPECT_EQ(preferredTrigger(kChord), u"CTRL+ALT+space"_qs);
    EXPECT_EQ(preferredTrigger(kLetter), u"LOGO+d"_qs);
    // Both sides of one kind are one modifier there.
    EXPECT_EQ(preferredTrigger(Shortcut{StoredKeyCodes::functionKeys[4], u"F5"_qs,
                                        ModifierKeys::leftShift | ModifierKeys::rightShift}),
              u"SHIFT+F5"_qs);
    EXPECT_EQ(preferredTrigger(Shortcut{StoredKeyCodes::functionKeys[11], u"F12"_qs, {}}), u"F12"_qs);
}

TEST(PreferredTriggerTest, NoneWithoutAKeyTheDesktopCanName)
{
    EXPECT_EQ(preferredTrigger(Shortcut::defaultShortcut()), std::nullopt);
    EXPECT_EQ(preferredTrigger(Shortcut{{}, {}, ModifierKeys::leftControl | ModifierKeys::leftAlt}), std::nullopt);
    EXPECT_EQ(preferredTrigger(Shortcut{10, u"§"_qs, ModifierKeys::leftControl}), std::nullopt);
}

// Drives the scripted backend.
QDBusMessage backend(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage call = QDBusMessage::createMethodCall(qEnvironmentVariable("VELL_PORTAL_BACKEND"),
                                                       PortalShortcut::kPortalPath, u"org.vell.Test"_qs, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

void hold(bool down)
{
    backend(u"Press"_qs, {PortalShortcut::kShortcutId, down});
}

// What the backend was last asked to bind, as "id=preferred_trigger".
QString lastAsked()
{
    const QStringList asked = backend(u"Asked"_qs).arguments().value(0).toStringList();
    return asked.isEmpty() ? QString() : asked.last();
}

bool waitForState(const PortalShortcut& shortcut, State state)
{
    return QTest::qWaitFor([&] { return shortcut.state() == state; }, 5000);
}

// The shortcut's signals in the order they came.
struct Events
{
    explicit Events(PortalShortcut& shortcut)
    {
        QObject::connect(&shortcut, &PortalShortcut::pressed, [this] { seen << u"pressed"_qs; });
        QObject::connect(&shortcut, &PortalShortcut::released, [this] { seen << u"released"_qs; });
    }
    bool waitFor(const QStringList& expected)
    {
        return QTest::qWaitFor([&] { return seen == expected; }, 5000);
    }
    QStringList seen;
};

class PortalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (qgetenv("VELL_PORTAL_GLOBAL_SHORTCUTS") != "1")
            GTEST_SKIP() << "needs with-portal with GlobalShortcuts";
        backend(u"SetAnswer"_qs, {0u});
    }
};

TEST_F(PortalTest, BindsThePreferredTriggerAndPassesAHoldOn)
{
    PortalShortcut shortcut(kChord);
    ASSERT_TRUE(waitForState(shortcut, State::bound)) << shortcut.description().toStdString();
    EXPECT_EQ(lastAsked(), u"dictate=CTRL+ALT+space"_qs);
    EXPECT_EQ(shortcut.triggerDescription(), u"Press CTRL+ALT+space"_qs);

    Events events(shortcut);
    hold(true);
    hold(false);
    EXPECT_TRUE(events.waitFor({u"pressed"_qs, u"released"_qs})) << events.seen.join(u' ').toStdString();
}

TEST_F(PortalTest, RebindingReplacesTheSessionAndLetsGoOfAHeldShortcut)
{
    PortalShortcut shortcut(kChord);
    ASSERT_TRUE(waitForState(shortcut, State::bound));
    Events events(shortcut);

    shortcut.rebind(kLetter);
    ASSERT_TRUE(waitForState(shortcut, State::bound));
    EXPECT_EQ(lastAsked(), u"dictate=LOGO+d"_qs);
    hold(true);
    ASSERT_TRUE(events.waitFor({u"pressed"_qs}));

    // Held while the user records a lone modifier: the hold ends, nothing is bound.
    shortcut.rebind(Shortcut::defaultShortcut());
    EXPECT_EQ(events.seen, (QStringList{u"pressed"_qs, u"released"_qs}));
    ASSERT_TRUE(waitForState(shortcut, State::modifierOnly));
    EXPECT_TRUE(shortcut.description().startsWith(u"A lone modifier can't be a desktop shortcut"_qs));
    hold(false);
    hold(true); // the old session is gone
    QTest::qWait(200);
    EXPECT_EQ(events.seen.size(), 2);
    EXPECT_EQ(lastAsked(), u"dictate=LOGO+d"_qs);
}

TEST_F(PortalTest, ARefusalAndASessionTheDesktopEndsAreReported)
{
    backend(u"SetAnswer"_qs, {1u});
    PortalShortcut shortcut(kChord);
    ASSERT_TRUE(waitForState(shortcut, State::refused));

    // The same shortcut asks again while it is not bound.
    backend(u"SetAnswer"_qs, {0u});
    shortcut.rebind(kChord);
    ASSERT_TRUE(waitForState(shortcut, State::bound));

    Events events(shortcut);
    hold(true);
    ASSERT_TRUE(events.waitFor({u"pressed"_qs}));
    backend(u"CloseSessions"_qs);
    ASSERT_TRUE(waitForState(shortcut, State::closed));
    EXPECT_EQ(events.seen, (QStringList{u"pressed"_qs, u"released"_qs}));
}

class PortalDictationTest : public PortalTest, protected FakeDesktop
{};

TEST_F(PortalDictationTest, AHoldThroughThePortalPastesOneDictation)
{
    ASSERT_TRUE(QSignalSpy(&keys, &KeyStore::keysLoaded).wait(2000) || keys.isLoaded());
    audio.setDevices({{1, u"mic"_qs, u"Built-in Microphone"_qs, true}}, 1);
    workspace.frontmost = RunningApplication{42, u"Editor"_qs, u"editor"_qs};
    settings.setProvider(TranscriptionProvider::mock);
    settings.setCleanupEnabled(false);
    desktopSettings.setShortcut(kChord);
    NetworkStatus::shared().update(std::nullopt);
    DictationControllerOptions options;
    options.timings.holdThreshold = 100ms;
    options.timings.flushLimit = 300ms;
    options.clipboardRestoreDelay = 50ms;
    options.dataFolder = dir.path();
    options.makeTranscriber = [](TranscriptionProvider) -> std::unique_ptr<StreamingTranscriber> {
        return std::make_unique<MockTranscriber>(MockTranscriber::Timings{.wordInterval = 3ms, .closingDelay = 20ms});
    };
    DictationController controller(settings, desktopSettings, history, platform(), options);

    PortalShortcut shortcut(kChord);
    QObject::connect(&shortcut, &PortalShortcut::pressed, &controller, [&controller] {
        controller.handle(HotkeyMonitor::Event::pressed, DictationController::EventSource::command);
    });
    QObject::connect(&shortcut, &PortalShortcut::released, &controller, [&controller] {
        controller.handle(HotkeyMonitor::Event::released, DictationController::EventSource::command);
    });
    ASSERT_TRUE(waitForState(shortcut, State::bound));

    hold(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.state() == DictationState::listening; }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.committed().isEmpty(); }, 3000));
    QTest::qWait(150); // a hold, past the tap limit
    hold(false);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller.state() == DictationState::idle && !controller.hasUnwrittenDictation(); }, 3000));

    EXPECT_EQ(keystrokes.pastes.size(), 1);
    ASSERT_EQ(history.entries().size(), 1);
    EXPECT_EQ(history.entries().first().status, HistoryEntry::Status::pasted);
    EXPECT_EQ(history.entries().first().appName, u"Editor"_qs);
}

TEST(PortalMissingTest, APortalWithoutGlobalShortcutsIsReportedWhateverTheShortcut)
{
    if (qgetenv("VELL_PORTAL_GLOBAL_SHORTCUTS") != "0")
        GTEST_SKIP() << "needs with-portal --without-global-shortcuts";
    PortalShortcut shortcut(kChord);
    ASSERT_TRUE(waitForState(shortcut, State::unavailable));
    EXPECT_EQ(shortcut.description(), u"Your desktop has no global shortcuts service, so bind a key to vell "
                                      u"toggle in its keyboard settings."_qs);
    shortcut.rebind(Shortcut::defaultShortcut());
    EXPECT_TRUE(waitForState(shortcut, State::unavailable));
}

} // namespace
