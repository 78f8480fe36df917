#pragma once

#include "shortcut/ModifierKeys.h"

#include <QString>

class QKeyEvent;

// Turns the key events a window receives into the shortcut model: the key's
// model code and the modifiers held, left and right told apart. Qt reports
// only the kinds of modifiers held, so the sides come from the key codes of
// the modifier presses and releases seen (the native scan code is the X11
// key code on X11 and under Wayland); for synthetic events without one a US
// layout is assumed.
class KeyEventTranslator
{
public:
    struct Result
    {
        enum class Kind {
            ignored,          // a key release, or a key the model has no use for
            keyDown,          // a key other than a modifier went down
            modifiersChanged, // a modifier went down or up
        };

        Kind kind = Kind::ignored;
        quint16 keyCode = 0;
        ModifierKeys held;
        QString characters; // what the key types without modifiers
    };

    Result translate(const QKeyEvent& event);
    // Forgets the modifiers seen, as at the start of a recording.
    void reset() { m_held = {}; }

    // The X11 key code of a key event.
    static quint8 x11KeyCode(const QKeyEvent& event);

private:
    void reconcile(Qt::KeyboardModifiers modifiers);

    ModifierKeys m_held;
};
