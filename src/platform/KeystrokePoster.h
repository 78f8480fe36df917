#pragma once

#include "shortcut/ModifierKeys.h"

// The keys that paste in the application in front.
enum class PasteKeys {
    ctrlV,       // most applications
    ctrlShiftV,  // terminals, where Ctrl+V types a control character
    shiftInsert, // xterm and rxvt, which paste the primary selection
};

// Posts synthetic keystrokes to the frontmost application, marked so that this
// program's own keyboard tap recognises and ignores them. Main thread only.
class KeystrokePoster
{
public:
    // Whether the desktop lets this program post keystrokes. Some ask the
    // user first, in a dialog of their own.
    enum class Access {
        granted,
        notAsked, // requestAccess() would ask the user
        asking,   // the desktop's dialog is up
        refused,  // the user said no, or the permission ended
    };

    virtual ~KeystrokePoster() = default;

    virtual Access access() const { return Access::granted; }
    // Asks the desktop for the permission, which may show its dialog; only
    // at a moment the user expects one, never in the middle of a paste.
    virtual void requestAccess() {}

    // Presses the left key of every kind in `modifiers`, taps `keyCode` (a
    // shortcut-model key code) and releases the modifiers. Modifiers the user
    // still holds are released first, so they do not turn the chord into
    // another one. False when nothing could be posted.
    virtual bool postChord(ModifierKeys modifiers, quint16 keyCode) = 0;

    // Posts the paste chord `keys`. The V key is the one that types "v" in
    // the current layout, and held modifiers are let go first, so the chord
    // arrives as exactly that. False when nothing could be posted.
    virtual bool paste(PasteKeys keys) = 0;
    // Asks now what paste() asks first, so that a paste shortly after need
    // not wait for the answer.
    virtual void preparePaste() {}

    // Taps a key that types nothing and that no application binds (one the
    // layout leaves without a symbol). Posted while the user holds a
    // modifier, it keeps the application in front from taking that modifier
    // as pressed alone, which opens the menu bar in Firefox and many others.
    // False when the layout has no such key or nothing could be posted.
    virtual bool postBlankKey() = 0;
};
