#include "app/windows/WindowsFixture.h"
#include "app/windows/settings/GeneralTab.h"
#include "app/windows/settings/SettingsWindow.h"
#include "app/windows/settings/ShortcutRecorderButton.h"
#include "shortcut/StoredKeyCodes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace {

// X11 key codes, which is what a key event's native scan code holds on X11.
constexpr quint32 kControlLeft = 37;
constexpr quint32 kControlRight = 105;
constexpr quint32 kShiftRight = 62;
constexpr quint32 kAltRight = 108;
constexpr quint32 kSuperLeft = 133;
constexpr quint32 kEscape = 9;
constexpr quint32 kA = 38;
constexpr quint32 kK = 45;
constexpr quint32 kF5 = 71;

class ShortcutRecorderTest : public WindowsFixture
{
protected:
    void SetUp() override
    {
        WindowsFixture::SetUp();
        window = std::make_unique<SettingsWindow>(services(), std::function<void()>{});
        // A text field to type into, to see that recording keeps every key.
        field = new QLineEdit(window->general());
        showActive(*window);
        recorder = window->general()->recorder();
        field->setFocus();
    }

    void TearDown() override
    {
        window.reset();
        WindowsFixture::TearDown();
    }

    // A key as the X server reports it, sent to the focused field.
    void key(QEvent::Type type, int qtKey, quint32 scanCode, Qt::KeyboardModifiers held = {}, const QString& text = {})
    {
        QKeyEvent event(type, qtKey, held, scanCode, 0, 0, text);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : window.get(), &event);
    }
    void down(int qtKey, quint32 scanCode, Qt::KeyboardModifiers held = {}, const QString& text = {})
    {
        key(QEvent::KeyPress, qtKey, scanCode, held, text);
    }
    void up(int qtKey, quint32 scanCode, Qt::KeyboardModifiers held = {})
    {
        key(QEvent::KeyRelease, qtKey, scanCode, held);
    }

    void startRecording()
    {
        QTest::mouseClick(recorder->button(), Qt::LeftButton);
        ASSERT_TRUE(recorder->recorder().isRecording());
        field->setFocus();
    }

    std::unique_ptr<SettingsWindow> window;
    ShortcutRecorderButton* recorder = nullptr;
    QLineEdit* field = nullptr;
};

TEST_F(ShortcutRecorderTest, AModifierGestureRecordsEveryModifierHeldOnceAllAreUp)
{
    controller->hotkey().setActive(true); // a press of the old shortcut in progress
    startRecording();
    EXPECT_EQ(recorder->button()->text(), u"Press your shortcut…"_qs);
    EXPECT_TRUE(recorder->caption()->isVisible());
    EXPECT_EQ(recorder->caption()->text(), u"Esc to cancel"_qs);
    EXPECT_TRUE(controller->hotkey().isPaused());

    down(Qt::Key_Super_L, kSuperLeft);
    EXPECT_EQ(recorder->button()->text(), u"Left Super"_qs);
    down(Qt::Key_AltGr, kAltRight, Qt::MetaModifier);
    EXPECT_EQ(recorder->button()->text(), u"Right Alt + Left Super"_qs);
    up(Qt::Key_Super_L, kSuperLeft, Qt::GroupSwitchModifier);
    EXPECT_TRUE(recorder->recorder().isRecording()); // one is still down
    up(Qt::Key_AltGr, kAltRight);

    const Shortcut expected{std::nullopt, std::nullopt, ModifierKeys::leftSuper | ModifierKeys::rightAlt};
    EXPECT_FALSE(recorder->recorder().isRecording());
    EXPECT_EQ(desktopSettings.shortcut(), expected);
    EXPECT_EQ(controller->hotkey().shortcut(), expected);
    EXPECT_FALSE(controller->hotkey().isActive());
    EXPECT_FALSE(controller->hotkey().isPaused());
    EXPECT_EQ(recorder->button()->text(), u"Right Alt + Left Super"_qs);
    EXPECT_FALSE(recorder->caption()->isVisible());
    EXPECT_FALSE(recorder->hint()->isVisible());
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(ShortcutRecorderTest, AModifierTheLayoutTypesWithIsRecordedWithAWarning)
{
    tap.typing = ModifierKeys::rightAlt; // AltGr, as on a German layout
    startRecording();
    down(Qt::Key_AltGr, kAltRight);
    up(Qt::Key_AltGr, kAltRight);
    EXPECT_EQ(desktopSettings.shortcut(), (Shortcut{std::nullopt, std::nullopt, ModifierKeys::rightAlt}));
    EXPECT_TRUE(recorder->hint()->isVisible());
    EXPECT_EQ(recorder->hint()->text(), u"Right Alt types characters in your keyboard layout, so typing with it would "
                                        u"start a dictation. Pick another key."_qs);

    // Left Alt is no AltGr there: no warning.
    startRecording();
    down(Qt::Key_Alt, 64);
    up(Qt::Key_Alt, 64);
    EXPECT_EQ(desktopSettings.shortcut().modifiers, ModifierKeys::leftAlt);
    EXPECT_FALSE(recorder->hint()->isVisible());
}

TEST_F(ShortcutRecorderTest, AKeyWithModifiersIsRecordedOnThePress)
{
    startRecording();
    down(Qt::Key_Control, kControlRight);
    down(Qt::Key_Shift, kShiftRight, Qt::ControlModifier);
    down(Qt::Key_K, kK, Qt::ControlModifier | Qt::ShiftModifier, u"\x0b"_qs);

    // Both side bits of each kind held, whichever side was pressed.
    const Shortcut expected{quint16(40), u"K"_qs, ModifierKeys(0x33)};
    EXPECT_FALSE(recorder->recorder().isRecording());
    EXPECT_EQ(desktopSettings.shortcut(), expected);
    EXPECT_EQ(recorder->button()->text(), u"Ctrl+Shift+K"_qs);
    // The releases that follow are the application's again.
    up(Qt::Key_K, kK, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(desktopSettings.shortcut(), expected);

    startRecording();
    down(Qt::Key_F5, kF5);
    EXPECT_EQ(desktopSettings.shortcut(), (Shortcut{quint16(96), u"F5"_qs, ModifierKeys()}));
    EXPECT_EQ(recorder->button()->text(), u"F5"_qs);

    startRecording();
    down(Qt::Key_Control, kControlLeft);
    down(Qt::Key_Escape, kEscape, Qt::ControlModifier);
    EXPECT_EQ(desktopSettings.shortcut(), (Shortcut{StoredKeyCodes::escape, u"Esc"_qs, ModifierKeys(0x3)}));
    EXPECT_EQ(recorder->button()->text(), u"Ctrl+Esc"_qs);
}

TEST_F(ShortcutRecorderTest, APlainKeyAsksForAModifierAndEscapeCancels)
{
    const Shortcut before = desktopSettings.shortcut();
    startRecording();
    down(Qt::Key_A, kA, {}, u"a"_qs);
    EXPECT_TRUE(recorder->recorder().isRecording());
    EXPECT_TRUE(recorder->hint()->isVisible());
    EXPECT_EQ(recorder->hint()->text(),
              u"Add a modifier (Ctrl, Alt, Shift or Super), use an F-key, or use modifiers alone."_qs);
    EXPECT_EQ(recorder->button()->text(), u"Press your shortcut…"_qs);

    down(Qt::Key_Escape, kEscape);
    EXPECT_FALSE(recorder->recorder().isRecording());
    EXPECT_FALSE(controller->hotkey().isPaused());
    EXPECT_EQ(desktopSettings.shortcut(), before);
    EXPECT_EQ(recorder->button()->text(), u"Right Alt"_qs);
    EXPECT_TRUE(recorder->hint()->isVisible()); // the advice stays after a cancel
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(ShortcutRecorderTest, WhileRecordingTheShortcutStartsNothingAndKeysReachNoField)
{
    startRecording();
    tap.modifiers(ModifierKeys::rightAlt); // the current shortcut, seen system-wide
    EXPECT_FALSE(controller->hotkey().isActive());
    tap.modifiers({});

    down(Qt::Key_X, 53, {}, u"x"_qs);
    EXPECT_TRUE(field->text().isEmpty());

    // Pressing the button again cancels; typing reaches the field once more.
    QTest::mouseClick(recorder->button(), Qt::LeftButton);
    EXPECT_FALSE(recorder->recorder().isRecording());
    field->setFocus();
    QTest::keyClicks(field, u"x"_qs);
    EXPECT_EQ(field->text(), u"x"_qs);
    EXPECT_FALSE(controller->hotkey().isPaused());
}

TEST_F(ShortcutRecorderTest, LeavingTheTabStopsRecording)
{
    startRecording();
    window->tabs()->setCurrentIndex(1);
    EXPECT_FALSE(recorder->recorder().isRecording());
    EXPECT_FALSE(controller->hotkey().isPaused());
}

} // namespace
