#include "platform/linux/X11KeyboardTap.h"

#include "fakes/FakeSessionEvents.h"
#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11KeystrokePoster.h"
#include "platform/linux/XcbConnection.h"
#include "shortcut/HotkeyMonitor.h"
#include "shortcut/StoredKeyCodes.h"
#include "support/KeyboardLayout.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

using Event = HotkeyMonitor::Event;

// X11 key codes as xdotool presses them.
constexpr int kLeftAlt = 64;
constexpr int kRightAlt = 108;
constexpr int kSuperLeft = 133;
constexpr int kSpace = 65;
constexpr int kEscape = 9;
constexpr int kLetterV = 55;

void xdotool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0) << arguments.join(u' ').toStdString();
}

// By key code, so Right Alt is not confused with Left Alt; xdotool reads a
// single digit as a key name, so Escape (9) goes by name.
QString keyArgument(int code)
{
    return code == kEscape ? QStringLiteral("Escape") : QString::number(code);
}

void keyDown(int code)
{
    xdotool({QStringLiteral("keydown"), keyArgument(code)});
}

void keyUp(int code)
{
    xdotool({QStringLiteral("keyup"), keyArgument(code)});
}

// A focused window of our own that counts the key presses it receives.
class FocusedWindow
{
public:
    FocusedWindow() : m_connection(XcbConnection::open())
    {
        xcb_connection_t* c = m_connection->get();
        m_window = xcb_generate_id(c);
        const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, m_connection->root(), 0, 0, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        xcb_map_window(c, m_window);
        xcb_flush(c);
        // Focus can only go to a viewable window.
        m_mapped = QTest::qWaitFor([this] {
            drain();
            return m_mapped;
        });
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        xcb_flush(c);
    }

    bool isMapped() const { return m_mapped; }

    // The server holds `keyCode` down.
    bool isDown(int keyCode)
    {
        xcb_connection_t* c = m_connection->get();
        xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
        const bool down = keymap && (keymap->keys[keyCode / 8] & (1 << (keyCode % 8)));
        free(keymap);
        return down;
    }

    // Key presses received for `keyCode` so far.
    int pressesOf(int keyCode) { return presses().count(keyCode); }

    // Every key press received so far, in order.
    QList<int> presses()
    {
        // A round trip makes sure everything sent before now has arrived.
        free(xcb_get_input_focus_reply(m_connection->get(), xcb_get_input_focus(m_connection->get()), nullptr));
        drain();
        return m_presses;
    }

    // Whether the layout gives `keyCode` any symbol.
    bool hasSymbol(int keyCode)
    {
        xcb_connection_t* c = m_connection->get();
        auto* mapping = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, uint8_t(keyCode), 1), nullptr);
        const xcb_keysym_t* keysyms = mapping ? xcb_get_keyboard_mapping_keysyms(mapping) : nullptr;
        const int count = mapping ? xcb_get_keyboard_mapping_keysyms_length(mapping) : 0;
        const bool any = std::any_of(keysyms, keysyms + count, [](xcb_keysym_t keysym) { return keysym != 0; });
        free(mapping);
        return any;
    }

private:
    void drain()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection->get())) {
            const int type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY)
                m_mapped = true;
            else if (type == XCB_KEY_PRESS)
                m_presses.append(reinterpret_cast<xcb_key_press_event_t*>(event)->detail);
            free(event);
        }
    }

    std::unique_ptr<XcbConnection> m_connection;
    xcb_window_t m_window = 0;
    bool m_mapped = false;
    QList<int> m_presses;
};

class X11KeyboardTapTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-x11";
        ASSERT_TRUE(window.isMapped());
        monitor.setOnEvent([this](Event event) { events.append(event); });
    }

    void TearDown() override
    {
        // Leave no key down for the next test.
        const QList<int> used{kLeftAlt, kRightAlt, kSuperLeft, kSpace, kEscape};
        for (int code : used)
            keyUp(code);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return std::none_of(used.cbegin(), used.cend(), [&](int code) { return window.isDown(code); }); },
            3000));
    }

    // Types the shortcut once more, then waits for its press and release after
    // `expected`: the tap reads key events in order, so by then everything
    // typed before has been reported. Clears the events.
    ::testing::AssertionResult eventsBecome(const QList<Event>& expected)
    {
        for (int code : shortcutKeys)
            keyDown(code);
        for (auto code = shortcutKeys.crbegin(); code != shortcutKeys.crend(); ++code)
            keyUp(*code);
        const QList<Event> wanted = expected + QList<Event>{Event::pressed, Event::released};
        (void)QTest::qWaitFor([&] { return events.size() >= wanted.size(); }, 3000);
        const QList<Event> got = std::exchange(events, {});
        if (got == wanted)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "got " << got.size() << " events, wanted " << expected.size() << " and the shortcut's two";
    }

    // Installs the tap bare, recording what it reports into `seen`.
    ::testing::AssertionResult installRecording()
    {
        tap.remove();
        if (!tap.install([this](const KeyEvent& event) {
                seen.append(event);
                return false;
            }))
            return ::testing::AssertionFailure() << "the tap did not install";
        return ::testing::AssertionSuccess();
    }

    FocusedWindow window;
    QList<KeyEvent> seen;
    PostedKeystrokes posted;
    X11KeyboardTap tap{posted};
    FakeSessionEvents session;
    HotkeyMonitor monitor{tap, session};
    QList<Event> events;
    QList<int> shortcutKeys{kRightAlt}; // the monitor's shortcut, as xdotool types it
};

TEST_F(X11KeyboardTapTest, RightAltIsAModifierChangeWithTheRightAltBit)
{
    ASSERT_TRUE(tap.hasKeyboardAccess());
    ASSERT_TRUE(installRecording());

    keyDown(kRightAlt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 1; }, 3000));
    EXPECT_EQ(seen[0].type, KeyEvent::Type::modifiersChanged);
    EXPECT_EQ(seen[0].held, ModifierKeys::rightAlt);
    EXPECT_EQ(seen[0].keyCode, 61);
    EXPECT_FALSE(seen[0].isPosted);

    keyUp(kRightAlt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 3000));
    EXPECT_EQ(seen[1].type, KeyEvent::Type::modifiersChanged);
    EXPECT_EQ(seen[1].held, ModifierKeys());
}

TEST_F(X11KeyboardTapTest, DefaultShortcutIsReportedThroughTheMonitor)
{
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());
    keyDown(kRightAlt);
    keyUp(kRightAlt);
    EXPECT_TRUE(eventsBecome({Event::pressed, Event::released}));
}

TEST_F(X11KeyboardTapTest, KeyShortcutIsSwallowedAndReported)
{
    monitor.setShortcut(Shortcut{StoredKeyCodes::space, QStringLiteral("Space"), ModifierKeys(0xC0)});
    shortcutKeys = {kSuperLeft, kSpace};
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());

    keyDown(kSuperLeft);
    keyDown(kSpace);
    keyUp(kSpace);
    keyUp(kSuperLeft);
    EXPECT_TRUE(eventsBecome({Event::pressed, Event::released}));
    EXPECT_EQ(window.pressesOf(kSpace), 0);
    EXPECT_EQ(window.pressesOf(kSuperLeft), 2); // modifiers pass, here and in eventsBecome()

    // Space on its own is not the shortcut and reaches the window.
    keyDown(kSpace);
    keyUp(kSpace);
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(window.pressesOf(kSpace), 1);
}

TEST_F(X11KeyboardTapTest, EscapeIsSwallowedOnlyWhileCaptured)
{
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());

    keyDown(kEscape);
    keyUp(kEscape);
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(window.pressesOf(kEscape), 1);

    monitor.setCapturesEscape(true);
    keyDown(kEscape);
    keyUp(kEscape);
    EXPECT_TRUE(eventsBecome({Event::escape}));
    EXPECT_EQ(window.pressesOf(kEscape), 1);

    monitor.setCapturesEscape(false);
    keyDown(kEscape);
    keyUp(kEscape);
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(window.pressesOf(kEscape), 2);
}

TEST_F(X11KeyboardTapTest, LettingGoOfEscapeKeepsAShortcutOnTheSameKey)
{
    monitor.setShortcut(Shortcut{StoredKeyCodes::escape, QStringLiteral("Escape"), ModifierKeys(0xC0)});
    shortcutKeys = {kSuperLeft, kEscape};
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());

    monitor.setCapturesEscape(true);
    monitor.setCapturesEscape(false);
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(window.pressesOf(kEscape), 0) << "the shortcut's Escape reached the window";

    keyDown(kEscape);
    keyUp(kEscape);
    EXPECT_TRUE(eventsBecome({}));
    EXPECT_EQ(window.pressesOf(kEscape), 1);
}

TEST_F(X11KeyboardTapTest, OwnKeystrokesAreRecognisedAndNotReported)
{
    ASSERT_TRUE(installRecording());

    X11KeystrokePoster poster(posted);
    ASSERT_TRUE(poster.postChord(ModifierKeys::leftControl, 9));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 4; }, 3000));
    for (const KeyEvent& event : seen)
        EXPECT_TRUE(event.isPosted);
    EXPECT_EQ(window.pressesOf(kLetterV), 1); // the paste reached the focused window

    // The same keys from another XTest client are not ours.
    seen.clear();
    keyDown(kLetterV);
    keyUp(kLetterV);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 3000));
    EXPECT_FALSE(seen[0].isPosted);
    EXPECT_FALSE(seen[1].isPosted);
}

TEST_F(X11KeyboardTapTest, PostedChordThroughTheMonitorReportsNothing)
{
    // The poster holds the left key of a kind: Left Alt alone would be this shortcut.
    monitor.setShortcut(Shortcut{std::nullopt, std::nullopt, ModifierKeys::leftAlt});
    shortcutKeys = {kLeftAlt};
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());
    X11KeystrokePoster poster(posted);
    ASSERT_TRUE(poster.postChord(ModifierKeys::leftAlt, StoredKeyCodes::space));
    EXPECT_TRUE(eventsBecome({}));
}

TEST_F(X11KeyboardTapTest, ABlankKeyMakesAHeldAltNoLoneTapAndIsNotReported)
{
    monitor.start();
    ASSERT_TRUE(monitor.isInstalled());
    X11KeystrokePoster poster(posted);
    const qsizetype before = window.presses().size();

    keyDown(kRightAlt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.pressesOf(kRightAlt) == 1; }, 3000));
    ASSERT_TRUE(poster.postBlankKey());
    keyUp(kRightAlt);
    // The shortcut is still the Alt key pressed alone: the blank key is ours.
    EXPECT_TRUE(eventsBecome({Event::pressed, Event::released}));

    // The application saw a second key while Alt was down, one that types nothing.
    const QList<int> presses = window.presses().mid(before);
    ASSERT_GE(presses.size(), 2);
    EXPECT_EQ(presses[0], kRightAlt);
    EXPECT_NE(presses[1], kRightAlt);
    EXPECT_FALSE(window.hasSymbol(presses[1])) << "key code " << presses[1];
}

TEST_F(X11KeyboardTapTest, AltGrLayoutsAreToldApartAndTheirChangesNoticed)
{
    ASSERT_TRUE(installRecording());
    EXPECT_EQ(tap.typingModifiers(), ModifierKeys()); // US: Right Alt is Alt

    QSignalSpy changes(&tap, &KeyboardTap::layoutChanged);
    {
        const KeyboardLayout german(QStringLiteral("de"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !changes.isEmpty(); }, 5000));
        EXPECT_EQ(tap.typingModifiers(), ModifierKeys::rightAlt); // AltGr types "@" and friends
        changes.clear();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !changes.isEmpty(); }, 5000));
    EXPECT_EQ(tap.typingModifiers(), ModifierKeys());
}

} // namespace
