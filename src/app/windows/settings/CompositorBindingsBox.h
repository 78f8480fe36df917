#pragma once

#include "shortcut/CompositorBindings.h"

#include <QWidget>

class Clipboard;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// On sway or Hyprland, where only the compositor sees the keyboard: the lines
// that make it call Vell when the user's shortcut goes down and up, ready to
// copy into its config, kept in step with the shortcut.
class CompositorBindingsBox : public QWidget
{
    Q_OBJECT

public:
    CompositorBindingsBox(CompositorBindings::Compositor compositor, QString command, Clipboard& clipboard,
                          QWidget* parent = nullptr);

    void setShortcut(const Shortcut& shortcut);

    QPlainTextEdit* lines() const { return m_lines; }
    QPushButton* copyButton() const { return m_copy; }

private:
    CompositorBindings::Compositor m_compositor;
    QString m_command;
    Clipboard& m_clipboard;
    QLabel* m_intro;
    QPlainTextEdit* m_lines;
    QPushButton* m_copy;
};
