#pragma once

#include "shortcut/ModifierKeys.h"

#include <QString>

class KeyboardTap;
class QKeyEvent;

// Turns the key events a window receives into the shortcut model: the key's
// model code and the modifiers held, left and right told apart. Qt reports
// only the kinds of modifiers held, so the sides come from the modifier
// presses and releases seen, read through the keyboard tap, which knows the
// desktop's key codes.
class KeyEventTranslator
{
public:
    explicit KeyEventTranslator(const KeyboardTap& tap) : m_tap(tap) {}

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

private:
    void reconcile(Qt::KeyboardModifiers modifiers);

    const KeyboardTap& m_tap;
    ModifierKeys m_held;
};
