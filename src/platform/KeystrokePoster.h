#pragma once

#include "shortcut/ModifierKeys.h"

// Posts synthetic keystrokes to the frontmost application, marked so that this
// program's own keyboard tap recognises and ignores them. Main thread only.
class KeystrokePoster
{
public:
    virtual ~KeystrokePoster() = default;

    // Presses the left key of every kind in `modifiers`, taps `keyCode` (a
    // shortcut-model key code) and releases the modifiers. Modifiers the user
    // still holds are released first, so they do not turn the chord into
    // another one. False when nothing could be posted.
    virtual bool postChord(ModifierKeys modifiers, quint16 keyCode) = 0;
};
