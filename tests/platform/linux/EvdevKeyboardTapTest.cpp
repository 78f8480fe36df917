#include "platform/linux/EvdevKeyboardTap.h"

#include "fakes/FakeSessionEvents.h"
#include "platform/linux/EvdevKeyState.h"
#include "platform/linux/X11KeyCodes.h"
#include "shortcut/HotkeyMonitor.h"
#include "shortcut/StoredKeyCodes.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <initializer_list>
#include <map>
#include <memory>

namespace {

using Type = KeyEvent::Type;
using Keys = EvdevKeyState::Keys;

// One recorded input event.
struct Stroke
{
    quint16 type;
    quint16 code;
    qint32 value;
};

using Strokes = std::initializer_list<Stroke>;

constexpr Stroke kSyn{EV_SYN, SYN_REPORT, 0};

input_event toEvent(const Stroke& stroke)
{
    input_event event{};
    event.type = stroke.type;
    event.code = stroke.code;
    event.value = stroke.value;
    return event;
}

quint16 modelCode(unsigned evdevCode)
{
    return X11KeyCodes::toModel(uint8_t(evdevCode + 8));
}

QList<KeyEvent> feed(EvdevKeyState& state, int device, Strokes strokes)
{
    QList<KeyEvent> out;
    for (const Stroke& stroke : strokes)
        out += state.handle(device, toEvent(stroke));
    return out;
}

// --- The decoder alone ---

TEST(EvdevKeyState, keyboardsShareOneStateUntilTheyLetGoOrGo)
{
    EvdevKeyState state;
    state.add(1, {});
    state.add(2, {});
    feed(state, 1, {{EV_KEY, KEY_LEFTSHIFT, 1}});
    const QList<KeyEvent> shifted = feed(state, 2, {{EV_KEY, KEY_A, 1}});
    ASSERT_EQ(shifted.size(), 1);
    EXPECT_EQ(shifted[0].held, ModifierKeys::leftShift);

    // What both hold is let go once neither holds it.
    EXPECT_TRUE(feed(state, 2, {{EV_KEY, KEY_LEFTSHIFT, 1}, {EV_KEY, KEY_LEFTSHIFT, 2}}).isEmpty());
    EXPECT_TRUE(feed(state, 1, {{EV_KEY, KEY_LEFTSHIFT, 0}}).isEmpty());
    const QList<KeyEvent> again = feed(state, 1, {{EV_KEY, KEY_A, 1}});
    ASSERT_EQ(again.size(), 1);
    EXPECT_TRUE(again[0].isAutoRepeat);
    EXPECT_TRUE(feed(state, 2, {{EV_KEY, KEY_A, 0}}).isEmpty());

    const QList<KeyEvent> shiftGone = state.remove(2);
    ASSERT_EQ(shiftGone.size(), 1);
    EXPECT_EQ(shiftGone[0].type, Type::modifiersChanged);
    EXPECT_TRUE(shiftGone[0].held.isEmpty());
    const QList<KeyEvent> letterGone = state.remove(1);
    ASSERT_EQ(letterGone.size(), 1);
    EXPECT_EQ(letterGone[0].type, Type::keyUp);
    EXPECT_EQ(letterGone[0].keyCode, modelCode(KEY_A));
}

TEST(EvdevKeyboardTap, tellsKeyboardsFromOtherDevices)
{
    const auto has = [](std::initializer_list<unsigned> codes) {
        return [codes](unsigned code) { return std::find(codes.begin(), codes.end(), code) != codes.end(); };
    };
    std::initializer_list<unsigned> letters{KEY_Q, KEY_W, KEY_E, KEY_R, KEY_T, KEY_Y, KEY_U, KEY_I, KEY_O,
                                            KEY_P, KEY_A, KEY_S, KEY_D, KEY_F, KEY_G, KEY_H, KEY_J, KEY_K,
                                            KEY_L, KEY_Z, KEY_X, KEY_C, KEY_V, KEY_B, KEY_N, KEY_M};
    EXPECT_TRUE(looksLikeKeyboard(has(letters)));
    EXPECT_TRUE(looksLikeKeyboard(has({KEY_RIGHTALT})));
    EXPECT_FALSE(looksLikeKeyboard(has({KEY_POWER})));
    EXPECT_FALSE(looksLikeKeyboard(has({BTN_LEFT, BTN_RIGHT})));
    EXPECT_FALSE(looksLikeKeyboard(has({KEY_A, KEY_B, KEY_VOLUMEUP})));
}

// --- The tap, on a folder of its own whose nodes are pipes ---

// A keyboard whose events come through a pipe, written by the test. Its key
// state follows the events read, as the kernel's would, unless the test sets
// it (to tell what happened while events were dropped).
class PipeKeyboard final : public EvdevDevice
{
public:
    PipeKeyboard(int fd, std::shared_ptr<Keys> keys) : m_fd(fd), m_keys(std::move(keys)) {}
    ~PipeKeyboard() override { ::close(m_fd); }

    int fileDescriptor() const override { return m_fd; }
    Status next(input_event& event) override
    {
        const ssize_t got = ::read(m_fd, &event, sizeof event);
        if (got < 0 && errno == EAGAIN)
            return Status::idle;
        if (got != ssize_t(sizeof event))
            return Status::gone; // the writer closed: unplugged
        if (event.type == EV_SYN && event.code == SYN_DROPPED)
            return Status::dropped;
        if (event.type == EV_KEY)
            m_keys->set(event.code, event.value != 0);
        return Status::event;
    }
    Keys keysDown() const override { return *m_keys; }

private:
    int m_fd;
    std::shared_ptr<Keys> m_keys;
};

// A device node of the test folder.
struct Node
{
    int writeFd = -1;
    std::shared_ptr<Keys> keys = std::make_shared<Keys>();
    int refusal = 0; // errno of open(), for a node that is not ours to read
    bool keyboard = true;
};

class EvdevTapTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }
    void TearDown() override
    {
        for (auto& [name, node] : m_nodes)
            if (node.writeFd >= 0)
                ::close(node.writeFd);
    }

    QString folder() const { return m_folder.path(); }

    // Plugs in a device node called `name`.
    Node& plug(const QString& name, Node node = {})
    {
        Node& placed = m_nodes[name] = std::move(node);
        QFile file(m_folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return placed;
    }

    void unplugNode(const QString& name) { EXPECT_TRUE(QFile::remove(m_folder.filePath(name))); }

    // The device goes away while still open: its reads fail.
    void unplugDevice(const QString& name)
    {
        Node& node = m_nodes.at(name);
        ::close(node.writeFd);
        node.writeFd = -1;
    }

    void send(const QString& name, Strokes strokes)
    {
        for (const Stroke& stroke : strokes) {
            const input_event event = toEvent(stroke);
            ASSERT_EQ(::write(m_nodes.at(name).writeFd, &event, sizeof event), ssize_t(sizeof event));
        }
    }

    EvdevOpener opener()
    {
        return [this](const QString& path) -> EvdevOpened {
            const auto found = m_nodes.find(QFileInfo(path).fileName());
            if (found == m_nodes.end())
                return {nullptr, ENOENT};
            Node& node = found->second;
            if (node.refusal || !node.keyboard)
                return {nullptr, node.refusal};
            int fds[2];
            if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
                return {nullptr, errno};
            if (node.writeFd >= 0)
                ::close(node.writeFd);
            node.writeFd = fds[1];
            return {std::make_unique<PipeKeyboard>(fds[0], node.keys), 0};
        };
    }

    // A handler that keeps every event in `events`.
    KeyboardTap::Handler keep()
    {
        return [this](const KeyEvent& event) {
            events.append(event);
            return false;
        };
    }
    bool waitForEvents(qsizetype count)
    {
        return QTest::qWaitFor([&] { return events.size() == count; }, 2000);
    }

    QTemporaryDir m_folder;
    std::map<QString, Node> m_nodes;
    QList<KeyEvent> events;
};

// What a tap delivers, and what a hotkey monitor makes of it (Right Alt alone).
struct Listener
{
    explicit Listener(EvdevKeyboardTap& tap) : monitor(tap, session, {std::chrono::milliseconds(50)})
    {
        monitor.setOnEvent([this](HotkeyMonitor::Event event) { reports.append(event); });
    }

    bool waitFor(qsizetype count)
    {
        return QTest::qWaitFor([&] { return reports.size() >= count; }, 2000);
    }

    FakeSessionEvents session;
    HotkeyMonitor monitor;
    QList<HotkeyMonitor::Event> reports;
};

TEST_F(EvdevTapTest, rightAltHeldAloneIsTheShortcutAndLeftAltIsNot)
{
    plug(QStringLiteral("event0"));
    plug(QStringLiteral("event1"), {.keyboard = false}); // a mouse
    EvdevKeyboardTap tap({}, folder(), opener());
    Listener listener(tap);
    listener.monitor.start();
    ASSERT_TRUE(tap.isInstalled());
    EXPECT_EQ(tap.keyboardCount(), 1);

    send(QStringLiteral("event0"), {{EV_KEY, KEY_LEFTALT, 1}, kSyn, {EV_KEY, KEY_LEFTALT, 0}, kSyn});
    send(QStringLiteral("event0"), {{EV_KEY, KEY_RIGHTALT, 1}, kSyn, {EV_KEY, KEY_RIGHTALT, 2}, kSyn});
    ASSERT_TRUE(listener.waitFor(1));
    send(QStringLiteral("event0"), {{EV_KEY, KEY_RIGHTALT, 0}, kSyn});
    ASSERT_TRUE(listener.waitFor(2));
    EXPECT_EQ(listener.reports,
              (QList<HotkeyMonitor::Event>{HotkeyMonitor::Event::pressed, HotkeyMonitor::Event::released}));
}

TEST_F(EvdevTapTest, unpluggedWhileRightAltIsDownReleasesIt)
{
    for (const bool nodeRemoved : {true, false}) {
        SCOPED_TRACE(nodeRemoved ? "node removed" : "read fails");
        const QString name = QStringLiteral("event%1").arg(nodeRemoved);
        plug(name);
        EvdevKeyboardTap tap({}, folder(), opener());
        Listener listener(tap);
        QSignalSpy disabled(&tap, &KeyboardTap::disabled);
        listener.monitor.start();
        ASSERT_TRUE(tap.isInstalled());

        send(name, {{EV_KEY, KEY_RIGHTALT, 1}, kSyn});
        ASSERT_TRUE(listener.waitFor(1));
        if (nodeRemoved)
            unplugNode(name);
        else
            unplugDevice(name);
        ASSERT_TRUE(listener.waitFor(2));
        EXPECT_EQ(listener.reports.last(), HotkeyMonitor::Event::released);
        EXPECT_TRUE(QTest::qWaitFor([&] { return tap.keyboardCount() == 0; }, 2000));
        // With no keyboard left it waits for the next one.
        EXPECT_TRUE(tap.isInstalled());
        EXPECT_TRUE(disabled.isEmpty());
        if (!nodeRemoved)
            unplugNode(name);
    }
}

TEST_F(EvdevTapTest, keyboardPluggedInLaterSharesTheModifiers)
{
    plug(QStringLiteral("event0"));
    EvdevKeyboardTap tap({}, folder(), opener());
    ASSERT_TRUE(tap.install(keep()));

    plug(QStringLiteral("event5"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tap.keyboardCount() == 2; }, 2000));
    // A held modifier repeats nothing.
    send(QStringLiteral("event0"), {{EV_KEY, KEY_LEFTCTRL, 1}, kSyn, {EV_KEY, KEY_LEFTCTRL, 2}, kSyn});
    ASSERT_TRUE(waitForEvents(1));
    send(QStringLiteral("event5"),
         {{EV_KEY, KEY_RIGHTSHIFT, 1}, kSyn, {EV_KEY, KEY_SPACE, 1}, kSyn, {EV_KEY, KEY_SPACE, 2}, kSyn});
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events[2].type, Type::keyDown);
    EXPECT_EQ(events[2].keyCode, StoredKeyCodes::space);
    EXPECT_EQ(events[2].held, ModifierKeys::leftControl | ModifierKeys::rightShift);
    EXPECT_FALSE(events[2].isAutoRepeat);
    EXPECT_TRUE(events[3].isAutoRepeat);
}

TEST_F(EvdevTapTest, droppedEventsAreMadeUpFromTheKeyState)
{
    Node& node = plug(QStringLiteral("event0"));
    EvdevKeyboardTap tap({}, folder(), opener());
    ASSERT_TRUE(tap.install(keep()));
    send(QStringLiteral("event0"), {{EV_KEY, KEY_LEFTSHIFT, 1}, kSyn, {EV_KEY, KEY_B, 1}, kSyn});
    ASSERT_TRUE(waitForEvents(2));

    // B was let go and Right Alt pressed while the buffer overflowed.
    node.keys->reset(KEY_B).set(KEY_RIGHTALT);
    send(QStringLiteral("event0"), {{EV_SYN, SYN_DROPPED, 0}});
    ASSERT_TRUE(waitForEvents(4));
    EXPECT_EQ(events[2].type, Type::keyUp);
    EXPECT_EQ(events[2].keyCode, modelCode(KEY_B));
    EXPECT_EQ(events[2].held, ModifierKeys::leftShift);
    EXPECT_EQ(events[3].type, Type::modifiersChanged);
    EXPECT_EQ(events[3].held, ModifierKeys::leftShift | ModifierKeys::rightAlt);
}

TEST_F(EvdevTapTest, accessAndInstallFollowWhatTheFolderHolds)
{
    EXPECT_EQ(evdevKeyboardAccess(folder(), opener()), EvdevAccess::noKeyboards);
    plug(QStringLiteral("event0"), {.keyboard = false});
    EXPECT_EQ(evdevKeyboardAccess(folder(), opener()), EvdevAccess::noKeyboards);
    plug(QStringLiteral("event1"), {.refusal = EACCES});
    EXPECT_EQ(evdevKeyboardAccess(folder(), opener()), EvdevAccess::notInInputGroup);

    EvdevKeyboardTap tap({}, folder(), opener());
    EXPECT_FALSE(tap.hasKeyboardAccess());
    EXPECT_FALSE(tap.install([](const KeyEvent&) { return false; }));
    EXPECT_FALSE(tap.isInstalled());

    plug(QStringLiteral("event2"));
    EXPECT_EQ(evdevKeyboardAccess(folder(), opener()), EvdevAccess::readable);
    EXPECT_TRUE(tap.hasKeyboardAccess());
    EXPECT_EQ(EvdevKeyboardTap({}, folder() + QStringLiteral("/missing"), opener()).install(nullptr), false);
}

TEST_F(EvdevTapTest, losingTheFolderDisablesTheTap)
{
    QTemporaryDir parent;
    const QString devices = parent.filePath(QStringLiteral("input"));
    ASSERT_TRUE(QDir().mkpath(devices));
    ASSERT_TRUE(QFile(devices + QStringLiteral("/event0")).open(QIODevice::WriteOnly));
    m_nodes[QStringLiteral("event0")] = {};
    EvdevKeyboardTap tap([] { return ModifierKeys::rightAlt; }, devices, opener());
    QSignalSpy disabled(&tap, &KeyboardTap::disabled);
    ASSERT_TRUE(tap.install([](const KeyEvent&) { return false; }));
    EXPECT_EQ(tap.typingModifiers(), ModifierKeys::rightAlt);

    ASSERT_TRUE(QDir(devices).removeRecursively());
    ASSERT_TRUE(disabled.wait(2000));
    EXPECT_FALSE(tap.isInstalled());
}

} // namespace
