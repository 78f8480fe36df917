#include "e2e/EndToEndFixture.h"

#include <unistd.h>
#include <xcb/xcb.h>

// The shortcut held with xdotool, as a user holds it.
namespace {

using namespace e2e;

constexpr int kRightControl = 105;
constexpr int kLetterQ = 24;
// Marks clipboard contents that clipboard managers should not keep.
const QString kConcealedType = QStringLiteral("x-kde-passwordManagerHint");

class KeyWindow
{
public:
    KeyWindow() : m_connection(xcb_connect(nullptr, nullptr))
    {
        xcb_connection_t* c = m_connection;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        const uint32_t events = XCB_EVENT_MASK_KEY_PRESS;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 300, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &events);
        const char wmClass[] = "vell-e2e-keys\0Vell-e2e-keys";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                            wmClass);
        const char pidName[] = "_NET_WM_PID";
        xcb_intern_atom_reply_t* pidAtom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(pidName), pidName), nullptr);
        const uint32_t pid = uint32_t(getpid());
        if (pidAtom)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, pidAtom->atom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        std::free(pidAtom);
        xcb_map_window(c, window);
        xcb_flush(c);
    }
    KeyWindow(const KeyWindow&) = delete;
    KeyWindow& operator=(const KeyWindow&) = delete;
    ~KeyWindow() { xcb_disconnect(m_connection); }

    // X keycodes pressed in this window so far.
    QList<int> pressed()
    {
        // A round trip: every event sent before it has arrived after it.
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_KEY_PRESS)
                m_pressed.append(reinterpret_cast<xcb_key_press_event_t*>(event)->detail);
            std::free(event);
        }
        return m_pressed;
    }

private:
    xcb_connection_t* m_connection;
    QList<int> m_pressed;
};

class DictationEndToEndTest : public EndToEndFixture
{};

TEST_F(DictationEndToEndTest, AHeldShortcutPastesTheWholeDemoIntoTheFocusedField)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    const QString before = QStringLiteral("copied before the dictation");
    field.copy(before);

    ASSERT_NO_FATAL_FAILURE(dictate(kWholeScript, kScriptTime + kHoldMargin));

    EXPECT_TRUE(fieldHolds(field, kWholeScript));
    const QJsonObject entry = onlyEntryWith("pasted");
    EXPECT_EQ(entry.value(QStringLiteral("text")).toString().toStdString(), kWholeScript.toStdString());
    EXPECT_EQ(entry.value(QStringLiteral("appName")).toString().toStdString(), "vell-textfield");

    const QJsonArray records = usage();
    ASSERT_EQ(records.size(), 1) << read(QStringLiteral("data/Vell/usage.json")).toStdString();
    const QJsonObject record = records.first().toObject();
    EXPECT_EQ(record.value(QStringLiteral("words")).toInt(), kScriptWords);
    // Seconds of listening: from the start of the dictation to the release,
    // not to the end of the transcription a second later. Vell may see the
    // release a little after xdotool has sent it.
    const double seconds = record.value(QStringLiteral("seconds")).toDouble();
    EXPECT_GE(seconds, std::chrono::duration<double>(kScriptTime).count());
    EXPECT_LE(seconds, std::chrono::duration<double>(heldFor).count() + 0.5);

    EXPECT_FALSE(QFile::exists(path(QStringLiteral("data/Vell/session-checkpoint.json"))));
    EXPECT_TRUE(eventually([] { return recordStreamsOn(kMicrophone).isEmpty(); }, kSettleLimit))
        << "the microphone stays open";
    // The user's own clipboard comes back after the paste.
    QString clipboard;
    EXPECT_TRUE(eventually(
        [&] {
            clipboard = field.clipboard().value(QStringLiteral("text")).toString();
            return clipboard == before;
        },
        kSettleLimit))
        << "the clipboard holds \"" << clipboard.toStdString() << "\"";

    stopVell();
    EXPECT_EQ(vell.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vell.exitCode(), 0);
    const QByteArray log = debugLog();
    EXPECT_TRUE(log.contains("hotkey: Event tap installed\n"));
    EXPECT_TRUE(log.contains("audio: engine started"));
    EXPECT_TRUE(log.contains("app: session: X11, because DISPLAY is set and WAYLAND_DISPLAY is not\n"));
    EXPECT_TRUE(log.contains("app: adapters: keyboard X11, keystrokes XTest, front window X11, clipboard X11 "
                             "selection\n"));
    // A dictation on an ordinary desktop has nothing to complain about.
    EXPECT_FALSE(log.contains(": ERROR ")) << log.toStdString();
    expectNoDictatedWordInTheLog();
}

TEST_F(DictationEndToEndTest, WithTheFocusedWindowClosedTheTextIsLeftOnTheClipboard)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    qint64 closedPid = 0;
    {
        TextFieldProcess field;
        ASSERT_TRUE(isInFront(field));
        closedPid = field.pid();
    }
    ASSERT_TRUE(eventually([&] { return frontmostPid() != closedPid; }, kSettleLimit));

    ASSERT_NO_FATAL_FAILURE(dictate(kFirstSentence, 0ms));

    // Until the dictation is delivered one way or the other; a window opened
    // earlier would become a paste target of its own.
    ASSERT_TRUE(eventually(
        [&] {
            const QByteArray log = debugLog();
            return history().size() == 1 && (log.contains("insert: pasted") || log.contains("notice: "));
        },
        kSettleLimit))
        << debugLog().toStdString();
    const QJsonObject entry = history().first().toObject();
    const QString text = entry.value(QStringLiteral("text")).toString();
    EXPECT_TRUE(text.startsWith(kFirstSentence)) << text.toStdString();
    EXPECT_EQ(entry.value(QStringLiteral("status")).toString().toStdString(), "notInserted")
        << debugLog().toStdString();
    EXPECT_FALSE(entry.contains(QStringLiteral("appName")));

    // A field opened afterwards finds the dictation on the clipboard, in
    // plain view of clipboard managers, unlike text that is being pasted.
    TextFieldProcess later;
    QJsonObject clipboard;
    EXPECT_TRUE(eventually(
        [&] {
            clipboard = later.clipboard();
            return clipboard.value(QStringLiteral("text")).toString() == text;
        },
        kSettleLimit))
        << QJsonDocument(clipboard).toJson().toStdString();
    EXPECT_FALSE(clipboard.value(QStringLiteral("formats")).toArray().contains(kConcealedType))
        << QJsonDocument(clipboard).toJson().toStdString();
    EXPECT_TRUE(later.text().isEmpty());

    stopVell();
    expectNoDictatedWordInTheLog();
}

TEST_F(DictationEndToEndTest, EscapeCancelsALatchedDictationAndReachesNoWindow)
{
    ASSERT_NO_FATAL_FAILURE(startVell());
    KeyWindow window;
    ASSERT_TRUE(eventually([] { return frontmostPid() == QCoreApplication::applicationPid(); }, kStartLimit));
    ASSERT_NO_FATAL_FAILURE(playSpeech());

    // A tap: the dictation goes on listening with the key up, and Escape
    // comes without a modifier.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                {u"keydown"_qs, QString::number(kRightAlt), u"keyup"_qs, QString::number(kRightAlt)}),
              0);
    ASSERT_TRUE(eventually([&] { return checkpointText() == kFirstSentence; }, kStartLimit))
        << "the checkpoint holds \"" << checkpointText().toStdString() << "\"\n"
        << debugLog().toStdString();
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"key"_qs, u"Escape"_qs}), 0);

    ASSERT_TRUE(eventually([&] { return history().size() == 1; }, kSettleLimit)) << debugLog().toStdString();
    const QJsonObject entry = history().first().toObject();
    EXPECT_TRUE(entry.value(QStringLiteral("text")).toString().startsWith(kFirstSentence));
    EXPECT_EQ(entry.value(QStringLiteral("status")).toString().toStdString(), "cancelled");
    EXPECT_TRUE(usage().isEmpty());
    EXPECT_TRUE(eventually([] { return recordStreamsOn(kMicrophone).isEmpty(); }, kSettleLimit))
        << "the microphone stays open";
    // Only the shortcut's own press and the blank key Vell posts while it is
    // down (248 has no symbol in the server's layout): Escape was kept from
    // the window, and nothing was pasted.
    EXPECT_EQ(window.pressed(), (QList<int>{kRightAlt, 248}));

    stopVell();
    expectNoDictatedWordInTheLog();
}

TEST_F(DictationEndToEndTest, OnAnAltGrLayoutAltGrTypesAndRightCtrlDictates)
{
    const KeyboardLayout german(QStringLiteral("de"));
    ASSERT_NO_FATAL_FAILURE(startVell());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));

    // AltGr+Q types "@"; held at a human pace first, it must start nothing.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keydown"_qs, QString::number(kRightAlt)}), 0);
    QTest::qWait(400); // a real-time hold: longer than any arm delay
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"key"_qs, QString::number(kLetterQ)}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), {u"keyup"_qs, QString::number(kRightAlt)}), 0);
    EXPECT_TRUE(eventually([&] { return field.text() == u"@"; }, kSettleLimit)) << field.text().toStdString();
    EXPECT_TRUE(recordStreamsOn(kMicrophone).isEmpty()) << "the microphone is open";

    // On this layout the shortcut a fresh store gets is Right Ctrl.
    shortcutKey = kRightControl;
    ASSERT_NO_FATAL_FAILURE(dictate(kFirstSentence, 0ms));
    ASSERT_TRUE(eventually([&] { return history().size() == 1; }, kSettleLimit)) << debugLog().toStdString();
    EXPECT_EQ(history().first().toObject().value(QStringLiteral("status")).toString().toStdString(), "pasted")
        << read(QStringLiteral("data/Vell/history.json")).toStdString() << "\n"
        << debugLog().toStdString();
    EXPECT_TRUE(eventually([&] { return field.text() == u"@ "_qs + kFirstSentence; }, kSettleLimit))
        << field.text().toStdString();

    stopVell();
}

} // namespace
