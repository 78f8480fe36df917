#include "NoiseImage.h"
#include "TextFieldProcess.h"
#include "WindowManager.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/X11ClipboardReader.h"
#include "platform/linux/X11KeystrokePoster.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XcbConnection.h"
#include "text/TextInserter.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

constexpr int kRightAlt = 108;
const QString kConcealedType = QStringLiteral("x-kde-passwordManagerHint");

void xdotool(const QStringList& arguments)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0) << arguments.join(u' ').toStdString();
}

QByteArray threePixelPng()
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

bool hasFormat(const QJsonObject& clipboard, const QString& format)
{
    return clipboard.value(QStringLiteral("formats")).toArray().contains(format);
}

// Presses and releases keys on the server's own keyboard device, as a
// physical keyboard would, rather than on the XTest device that xdotool and
// the poster use.
class CoreKeyboard
{
public:
    CoreKeyboard() : m_x(XcbConnection::open())
    {
        xcb_connection_t* c = m_x->get();
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
        m_eventBase = xinput->first_event;
        free(xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        auto* devices = xcb_input_xi_query_device_reply(c, xcb_input_xi_query_device(c, XCB_INPUT_DEVICE_ALL), nullptr);
        for (auto it = xcb_input_xi_query_device_infos_iterator(devices); it.rem; xcb_input_xi_device_info_next(&it)) {
            const QByteArray name(xcb_input_xi_device_info_name(it.data),
                                  xcb_input_xi_device_info_name_length(it.data));
            if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD && !name.contains("XTEST"))
                m_device = uint8_t(it.data->deviceid);
        }
        free(devices);
        // Device events through XTest need the device opened the XInput 1 way.
        free(xcb_input_open_device_reply(c, xcb_input_open_device(c, m_device), nullptr));
    }

    bool isAvailable() const { return m_device != 0; }
    void press(uint8_t key) { send(1, key); }
    void release(uint8_t key) { send(2, key); }

private:
    void send(uint8_t deviceEvent, uint8_t key)
    {
        xcb_test_fake_input(m_x->get(), uint8_t(m_eventBase + deviceEvent), key, XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                            m_device);
        free(xcb_get_input_focus_reply(m_x->get(), xcb_get_input_focus(m_x->get()), nullptr));
    }

    std::unique_ptr<XcbConnection> m_x;
    uint8_t m_eventBase = 0;
    uint8_t m_device = 0;
};

bool modifierHeld(uint16_t mask)
{
    auto x = XcbConnection::open();
    auto* pointer = xcb_query_pointer_reply(x->get(), xcb_query_pointer(x->get(), x->root()), nullptr);
    const bool held = pointer && (pointer->mask & mask);
    free(pointer);
    return held;
}

class TextInserterDesktopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "run under tests/support/with-desktop";
        ASSERT_TRUE(WindowManager::isRunning());
        // As in Vell: the keys follow the clipboard's taking with no answer awaited between.
        poster.sendPasteKeysOn(clipboard.connectionForKeys());
    }

    // Waits until the field's window is the frontmost application.
    ::testing::AssertionResult isInFront(TextFieldProcess& field)
    {
        if (!field.isRunning())
            return ::testing::AssertionFailure() << "the text field did not start";
        if (QTest::qWaitFor(
                [&] {
                    const auto front = workspace.frontmostApplication();
                    return front && front->pid == field.pid() &&
                           field.send({{QStringLiteral("do"), QStringLiteral("state")}})
                               .value(QStringLiteral("active"))
                               .toBool();
                },
                5000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the text field never came to the front";
    }

    ::testing::AssertionResult fieldReads(TextFieldProcess& field, const QString& expected)
    {
        QString seen;
        if (QTest::qWaitFor(
                [&] {
                    seen = field.text();
                    return seen == expected;
                },
                5000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the field reads \"" << seen.toStdString() << "\"";
    }

    // The field's view of the clipboard catches up with ownership changes
    // through its X events, which race with the commands on its input.
    ::testing::AssertionResult clipboardBecomes(TextFieldProcess& field,
                                                const std::function<bool(const QJsonObject&)>& expected)
    {
        QJsonObject seen;
        if (QTest::qWaitFor(
                [&] {
                    seen = field.clipboard();
                    return expected(seen);
                },
                5000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the field sees " << QJsonDocument(seen).toJson().toStdString();
    }

    static bool clipboardIsOwned()
    {
        auto x = XcbConnection::open();
        xcb_connection_t* c = x->get();
        auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr);
        auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        const bool owned = owner && owner->owner != XCB_NONE;
        free(owner);
        free(atom);
        return owned;
    }

    X11Workspace workspace;
    X11Clipboard clipboard;
    X11Clipboard selection{X11Clipboard::Selection::primary};
    AtspiAccessibility accessibility;
    PostedKeystrokes posted;
    X11KeystrokePoster poster{posted};
    TextInserter inserter{workspace, clipboard, accessibility, poster, TextInserter::kRestoreDelay,
                          nullptr,   &selection};
    QSignalSpy checked{&inserter, &TextInserter::restoreChecked};
};

TEST_F(TextInserterDesktopTest, WindowWithoutPidPropertyIsFoundThroughTheServer)
{
    // A bare window of this process, which publishes no _NET_WM_PID.
    auto x = XcbConnection::open();
    xcb_connection_t* c = x->get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x->root(), 0, 0, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const char wmClass[] = "bare\0Bare-window";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                        wmClass);
    xcb_map_window(c, window);
    xcb_flush(c);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto front = workspace.frontmostApplication();
            return front && front->windowClass == QStringLiteral("Bare-window");
        },
        5000));
    EXPECT_EQ(workspace.frontmostApplication()->pid, QCoreApplication::applicationPid());
}

TEST_F(TextInserterDesktopTest, TheAccessibilityBusNamesTheActiveApplicationAndFollowsTheFocus)
{
    TextFieldProcess first({u"--class"_qs, u"first-field"_qs});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return first.send({{u"do"_qs, u"state"_qs}}).value(u"active"_qs).toBool();
        },
        5000));
    AtspiWorkspace atspi(accessibility);
    ASSERT_TRUE(QTest::qWaitFor([&] { return atspi.frontmostApplication().has_value(); }, 5000));
    const RunningApplication front = *atspi.frontmostApplication();
    EXPECT_EQ(front.pid, first.pid());
    EXPECT_TRUE(front.name.has_value() && !front.name->isEmpty());
    EXPECT_EQ(front.windowClass, front.name);

    TextFieldProcess second;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<RunningApplication> now = atspi.frontmostApplication();
            return now && now->pid == second.pid();
        },
        5000));
    first.activate();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<RunningApplication> now = atspi.frontmostApplication();
            return now && now->pid == first.pid();
        },
        5000));
}

TEST_F(TextInserterDesktopTest, TheDesktopItselfIsNoAppToPasteInto)
{
    // A desktop window (what file managers draw the icons on), focused.
    auto x = XcbConnection::open();
    xcb_connection_t* c = x->get();
    const auto atom = [c](const char* name) {
        auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply->atom;
        free(reply);
        return value;
    };
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, x->root(), 0, 0, 300, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const char wmClass[] = "desk\0Desktop-icons";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                        wmClass);
    const xcb_atom_t desktop = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &desktop);
    xcb_map_window(c, window);
    xcb_flush(c);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
            xcb_flush(c);
            // The window manager calls it the active window, as it would an application's.
            auto* active = xcb_get_property_reply(
                c, xcb_get_property(c, 0, x->root(), atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
            const bool isActive = active && xcb_get_property_value_length(active) == 4 &&
                                  *static_cast<xcb_window_t*>(xcb_get_property_value(active)) == window;
            free(active);
            return isActive;
        },
        5000));
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);
}

TEST_F(TextInserterDesktopTest, PastesWithTheSpaceTheCaretNeeds)
{
    TextFieldProcess field;
    field.set(QStringLiteral("Hello"), 5);
    ASSERT_TRUE(isInFront(field));
    // The field registers on the accessibility bus shortly after it starts.
    ASSERT_TRUE(QTest::qWaitFor([&] { return accessibility.characterBeforeCaret(field.pid()) == U'o'; }, 10000));

    EXPECT_EQ(inserter.insert(QStringLiteral("world"), field.pid()), InsertOutcome{});
    EXPECT_TRUE(fieldReads(field, QStringLiteral("Hello world")));

    field.set(QStringLiteral("Hello "), 6);
    inserter.insert(QStringLiteral("there"), field.pid());
    EXPECT_TRUE(fieldReads(field, QStringLiteral("Hello there")));

    // At the very start of the field: no space, and nothing to read.
    field.set(QStringLiteral("end"), 0);
    EXPECT_EQ(accessibility.characterBeforeCaret(field.pid()), std::nullopt);
    inserter.insert(QStringLiteral("The "), field.pid());
    EXPECT_TRUE(fieldReads(field, QStringLiteral("The end")));
}

TEST_F(TextInserterDesktopTest, APasswordFieldIsToldApartAndItsBulletsAreNoText)
{
    TextFieldProcess plain;
    plain.set(QStringLiteral("Hello"), 5);
    ASSERT_TRUE(isInFront(plain));
    ASSERT_TRUE(QTest::qWaitFor([&] { return accessibility.characterBeforeCaret(plain.pid()) == U'o'; }, 10000));
    EXPECT_FALSE(accessibility.isPasswordFieldFocused(plain.pid()));

    TextFieldProcess password({QStringLiteral("--password")});
    password.set(QStringLiteral("hunter2"), 7);
    ASSERT_TRUE(isInFront(password));
    EXPECT_TRUE(QTest::qWaitFor([&] { return accessibility.isPasswordFieldFocused(password.pid()); }, 10000));
    EXPECT_EQ(accessibility.characterBeforeCaret(password.pid()), std::nullopt);

    // A GTK one, as a password prompt shows it.
    QProcess prompt;
    prompt.start(QStringLiteral("zenity"), {QStringLiteral("--password")});
    ASSERT_TRUE(prompt.waitForStarted());
    const auto promptPid = qint32(prompt.processId());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto front = workspace.frontmostApplication();
            return front && front->pid == promptPid;
        },
        10000))
        << "the prompt never came to the front";
    EXPECT_TRUE(QTest::qWaitFor([&] { return accessibility.isPasswordFieldFocused(promptPid); }, 10000));
}

TEST_F(TextInserterDesktopTest, PreviousTextAndImageComeBackAfterTheDelay)
{
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    field.copy(QStringLiteral("earlier copy"), threePixelPng());

    QElapsedTimer sincePaste;
    sincePaste.start();
    ASSERT_EQ(inserter.insert(QStringLiteral("dictated"), field.pid()).kind, InsertOutcome::Kind::pasted);
    EXPECT_TRUE(fieldReads(field, QStringLiteral("dictated")));
    // Meanwhile other applications see plain, concealed text.
    EXPECT_TRUE(clipboardBecomes(field, [](const QJsonObject& seen) {
        return seen.value(QStringLiteral("text")).toString() == u"dictated" && hasFormat(seen, kConcealedType) &&
               !hasFormat(seen, QStringLiteral("image/png"));
    }));

    ASSERT_TRUE(checked.wait(5000));
    EXPECT_TRUE(checked.at(0).at(0).toBool());
    EXPECT_GE(sincePaste.elapsed(), 1400);
    EXPECT_TRUE(clipboardBecomes(field, [](const QJsonObject& seen) {
        return seen.value(QStringLiteral("text")).toString() == u"earlier copy" &&
               seen.value(QStringLiteral("imageWidth")).toInt() == 3 && !hasFormat(seen, kConcealedType);
    }));
}

TEST_F(TextInserterDesktopTest, CopyWithinTheDelaySurvives)
{
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    field.copy(QStringLiteral("earlier copy"));
    inserter.insert(QStringLiteral("dictated"), field.pid());
    ASSERT_TRUE(fieldReads(field, QStringLiteral("dictated")));
    field.copy(QStringLiteral("copied meanwhile"));

    ASSERT_TRUE(checked.wait(5000));
    EXPECT_FALSE(checked.at(0).at(0).toBool());
    EXPECT_TRUE(clipboardBecomes(field, [](const QJsonObject& seen) {
        return seen.value(QStringLiteral("text")).toString() == u"copied meanwhile";
    }));
}

TEST_F(TextInserterDesktopTest, EmptyClipboardIsEmptyAgain)
{
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    ASSERT_FALSE(clipboardIsOwned());

    inserter.insert(QStringLiteral("dictated"), field.pid());
    ASSERT_TRUE(fieldReads(field, QStringLiteral("dictated")));
    ASSERT_TRUE(checked.wait(5000));
    EXPECT_FALSE(clipboardIsOwned());
}

TEST_F(TextInserterDesktopTest, SwitchedWindowIsNotPastedInto)
{
    TextFieldProcess first({QStringLiteral("--class"), QStringLiteral("Field-one")});
    ASSERT_TRUE(isInFront(first));
    const auto target = inserter.captureTarget();
    ASSERT_TRUE(target);
    EXPECT_EQ(target->windowClass, QStringLiteral("Field-one"));
    first.copy(QStringLiteral("earlier copy"));

    TextFieldProcess second({QStringLiteral("--class"), QStringLiteral("Other-app")});
    ASSERT_TRUE(isInFront(second));
    EXPECT_EQ(inserter.insert(QStringLiteral("dictated"), target->pid),
              (InsertOutcome{InsertOutcome::Kind::frontmostChanged, QStringLiteral("Other-app")}));
    EXPECT_EQ(second.clipboard().value(QStringLiteral("text")).toString(), QStringLiteral("earlier copy"));
    EXPECT_EQ(second.text(), QString());
    EXPECT_EQ(first.text(), QString());
}

TEST_F(TextInserterDesktopTest, HeldKeyboardBlocksThePasteAndNamesNobody)
{
    TextFieldProcess field({QStringLiteral("--class"), QStringLiteral("Password-prompt")});
    ASSERT_TRUE(isInFront(field));
    field.copy(QStringLiteral("earlier copy"));
    EXPECT_EQ(workspace.keyboardGrab(), std::nullopt);
    field.grabKeyboard();
    ASSERT_TRUE(QTest::qWaitFor([&] { return workspace.keyboardGrab().has_value(); }, 5000));
    // The focused window is not necessarily the holder, so none is named.
    EXPECT_EQ(workspace.keyboardGrab(), KeyboardGrab{});
    // Asked ahead, on a thread and a connection of its own, it is the same.
    const DesktopState ahead = workspace.askState().get();
    ASSERT_TRUE(ahead.front);
    EXPECT_EQ(ahead.front->pid, field.pid());
    EXPECT_EQ(ahead.grab, KeyboardGrab{});

    inserter.checkAhead();
    EXPECT_EQ(inserter.insert(QStringLiteral("dictated"), field.pid()),
              (InsertOutcome{InsertOutcome::Kind::keyboardGrabbed, std::nullopt}));
    EXPECT_EQ(field.clipboard().value(QStringLiteral("text")).toString(), QStringLiteral("earlier copy"));

    field.releaseKeyboard();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !workspace.keyboardGrab(); }, 5000));
    EXPECT_EQ(workspace.askState().get().grab, std::nullopt);
    // Probing never took the keyboard away from the field.
    EXPECT_TRUE(field.send({{QStringLiteral("do"), QStringLiteral("state")}}).value(QStringLiteral("active")).toBool());
    EXPECT_EQ(field.text(), QString());
}

TEST_F(TextInserterDesktopTest, TerminalIsPastedIntoWithCtrlShiftV)
{
    TextFieldProcess terminal({QStringLiteral("--terminal"), QStringLiteral("--class"), QStringLiteral("kitty")});
    ASSERT_TRUE(isInFront(terminal));
    inserter.insert(QStringLiteral("ls -l"), terminal.pid());
    EXPECT_TRUE(fieldReads(terminal, QStringLiteral("ls -l")));
}

TEST_F(TextInserterDesktopTest, XtermGetsTheTextThroughItsOwnPaste)
{
    // xterm binds neither Ctrl+V nor Ctrl+Shift+V: either would reach the shell as ^V.
    QTemporaryDir dir;
    const QString received = dir.filePath(QStringLiteral("received"));
    const QString text = QStringLiteral("make test");
    QProcess xterm;
    xterm.start(QStringLiteral("xterm"),
                {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                 QStringLiteral("stty raw -echo; head -c %1 > '%2'").arg(text.size()).arg(received)});
    ASSERT_TRUE(xterm.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto front = workspace.frontmostApplication();
            return front && front->pid == xterm.processId();
        },
        10000))
        << "xterm never came to the front";
    // Another owner, one that answers while this thread waits for its answer.
    X11Clipboard earlier{X11Clipboard::Selection::primary};
    ASSERT_TRUE(earlier.setText(QStringLiteral("earlier copy"), Clipboard::Visibility::normal));

    EXPECT_EQ(inserter.insert(text, qint32(xterm.processId())), InsertOutcome{});
    // xterm asks this process for the selection; the shell in it ends once it has read it all.
    EXPECT_TRUE(QTest::qWaitFor([&] { return xterm.state() == QProcess::NotRunning; }, 10000))
        << "xterm never read the whole text";
    QFile file(received);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), text.toUtf8());
    ASSERT_TRUE(checked.wait(5000));
    EXPECT_EQ(QGuiApplication::clipboard()->text(QClipboard::Selection), QStringLiteral("earlier copy"));
}

TEST_F(TextInserterDesktopTest, TheReaderTakesTextAndALargeImageFromAnotherProgram)
{
    TextFieldProcess owner;
    ASSERT_TRUE(isInFront(owner));
    const QByteArray png = noisePng(800);
    const QImage noise = QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32);
    owner.copy(QStringLiteral("copied text"), png);
    ASSERT_TRUE(
        clipboardBecomes(owner, [](const QJsonObject& seen) { return seen.value(u"imageWidth").toInt() == 800; }));

    using namespace std::chrono_literals;
    const ClipboardContents contents = X11ClipboardReader::read("CLIPBOARD", {.perType = 5s, .whole = 10s});
    const auto find = [&](const QString& type) {
        for (const auto& [name, data] : contents)
            if (name == type)
                return data;
        return QByteArray();
    };
    EXPECT_EQ(find(QStringLiteral("UTF8_STRING")), QByteArray("copied text"));
    const QImage image = QImage::fromData(find(QStringLiteral("image/png")), "PNG");
    EXPECT_EQ(image.size(), noise.size());
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32), noise);
}

TEST_F(TextInserterDesktopTest, AClipboardOwnerThatNeverAnswersDelaysThePasteOnlyBriefly)
{
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    // An owner that never answers: a connection that takes the clipboard and then reads nothing.
    auto frozen = XcbConnection::open();
    xcb_connection_t* c = frozen->get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, frozen->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr);
    const quint64 before = clipboard.changeCount();
    xcb_set_selection_owner(c, window, atom->atom, XCB_CURRENT_TIME);
    free(atom);
    xcb_flush(c);
    // As in a running program, the notice of the new owner comes first.
    ASSERT_TRUE(QTest::qWaitFor([&] { return clipboard.changeCount() != before; }, 2000));

    QElapsedTimer took;
    took.start();
    EXPECT_EQ(inserter.insert(QStringLiteral("landed anyway"), field.pid()), InsertOutcome{});
    // The reader gives up within a third of a second; Qt alone would wait five seconds for each type.
    EXPECT_LT(took.elapsed(), 2500);
    EXPECT_TRUE(fieldReads(field, QStringLiteral("landed anyway")));
}

TEST_F(TextInserterDesktopTest, ChordIgnoresRightAltHeldThroughXTest)
{
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    field.copy(QStringLiteral("plain chord"));

    xdotool({QStringLiteral("keydown"), QString::number(kRightAlt)});
    // Without letting go of Alt, Ctrl+V does not paste: the test below means something.
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+v")});
    EXPECT_EQ(field.text(), QString());

    inserter.insert(QStringLiteral("with alt held"), field.pid());
    EXPECT_TRUE(fieldReads(field, QStringLiteral("with alt held")));
    xdotool({QStringLiteral("keyup"), QString::number(kRightAlt)});

    // Held keys asked ahead are asked again once the answer is old: Alt
    // pressed since is let go of too.
    poster.preparePaste();
    QTest::qWait(100);
    xdotool({QStringLiteral("keydown"), QString::number(kRightAlt)});
    ASSERT_TRUE(poster.paste(PasteKeys::ctrlV));
    EXPECT_TRUE(fieldReads(field, QStringLiteral("with alt held") + QStringLiteral("with alt held")));
    xdotool({QStringLiteral("keyup"), QString::number(kRightAlt)});
}

TEST_F(TextInserterDesktopTest, ChordIgnoresRightAltHeldOnTheKeyboardDevice)
{
    CoreKeyboard keyboard;
    ASSERT_TRUE(keyboard.isAvailable());
    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));

    keyboard.press(kRightAlt);
    ASSERT_TRUE(modifierHeld(XCB_MOD_MASK_1));
    inserter.insert(QStringLiteral("from another keyboard"), field.pid());
    EXPECT_TRUE(fieldReads(field, QStringLiteral("from another keyboard")));
    EXPECT_FALSE(modifierHeld(XCB_MOD_MASK_1));
    keyboard.release(kRightAlt);
}

TEST_F(TextInserterDesktopTest, VIsFoundWhereTheLayoutPutsIt)
{
    // Swap the symbols of the V key (55) and the full-stop key (60), as a
    // Dvorak layout moves V.
    auto x = XcbConnection::open();
    xcb_connection_t* c = x->get();
    auto* mapping = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, 55, 6), nullptr);
    ASSERT_TRUE(mapping);
    const int perKey = mapping->keysyms_per_keycode;
    const xcb_keysym_t* original = xcb_get_keyboard_mapping_keysyms(mapping);
    std::vector<xcb_keysym_t> swapped(original, original + 6 * perKey);
    std::swap_ranges(swapped.begin(), swapped.begin() + perKey, swapped.begin() + 5 * perKey);
    auto remap = [&](const xcb_keysym_t* keysyms) {
        xcb_change_keyboard_mapping(c, 6, 55, uint8_t(perKey), keysyms);
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    };

    TextFieldProcess field;
    ASSERT_TRUE(isInFront(field));
    remap(swapped.data());
    inserter.insert(QStringLiteral("moved v"), field.pid());
    const bool pasted = fieldReads(field, QStringLiteral("moved v"));
    remap(original);
    free(mapping);
    EXPECT_TRUE(pasted);
}

// Last: it stops the window manager and starts another.
TEST_F(TextInserterDesktopTest, WithoutWindowManagerTheInputFocusDecides)
{
    TextFieldProcess first({QStringLiteral("--class"), QStringLiteral("Field-one")});
    ASSERT_TRUE(isInFront(first));
    TextFieldProcess second({QStringLiteral("--class"), QStringLiteral("Field-two")});
    ASSERT_TRUE(isInFront(second));

    // The window of the first field, found while it is in front.
    first.activate();
    ASSERT_TRUE(isInFront(first));
    auto x = XcbConnection::open();
    xcb_connection_t* c = x->get();
    auto* focus = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    ASSERT_TRUE(focus);
    const xcb_window_t firstWindow = focus->focus;
    free(focus);
    second.activate();
    ASSERT_TRUE(isInFront(second));

    ASSERT_TRUE(WindowManager::current->stop());
    // The stale _NET_ACTIVE_WINDOW still names the second field.
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, firstWindow, XCB_CURRENT_TIME);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    const auto front = workspace.frontmostApplication();
    const bool restarted = WindowManager::current->start();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->pid, first.pid());
    EXPECT_EQ(front->windowClass, QStringLiteral("Field-one"));
    EXPECT_TRUE(restarted);
}

} // namespace
