#pragma once

#include "app/windows/settings/KeyEventTranslator.h"
#include "shortcut/ShortcutRecorder.h"

#include <QWidget>

class QLabel;
class QPushButton;

// The control that records the dictation shortcut: a button showing the
// shortcut; pressed, it listens to the keyboard and keeps every key from the
// rest of the application until a shortcut is recorded, Escape is pressed or
// the button is pressed again. A hint appears under it when there is advice.
// Recording stops when the control is hidden. Main thread only.
class ShortcutRecorderButton : public QWidget
{
    Q_OBJECT

public:
    ShortcutRecorderButton(HotkeyMonitor& hotkey, const KeyboardTap& tap, const Shortcut& shortcut,
                           const PlatformVocabulary& words = PlatformVocabulary::native(), QWidget* parent = nullptr);
    ~ShortcutRecorderButton() override;

    ShortcutRecorder& recorder() { return m_recorder; }
    void setShortcut(const Shortcut& shortcut) { m_recorder.setShortcut(shortcut); }

    QPushButton* button() const { return m_button; }
    QLabel* caption() const { return m_caption; }
    QLabel* hint() const { return m_hint; }

Q_SIGNALS:
    void shortcutRecorded(const Shortcut& shortcut);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void onRecorderChanged();

    ShortcutRecorder m_recorder;
    KeyEventTranslator m_keys;
    QPushButton* m_button;
    QLabel* m_caption;
    QLabel* m_hint;
    bool m_listening = false;
};
