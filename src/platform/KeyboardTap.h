#pragma once

#include "shortcut/ModifierKeys.h"

#include <QList>
#include <QObject>

#include <functional>

// One key event seen by the keyboard tap.
struct KeyEvent
{
    enum class Type { keyDown, keyUp, modifiersChanged };

    Type type = Type::keyDown;
    quint16 keyCode = 0;       // in the shortcut model's key codes (see StoredKeyCodes.h)
    ModifierKeys held;         // modifiers down once this event has happened
    quint64 platformFlags = 0; // the platform's own modifier word, for the log
    bool isAutoRepeat = false;
    bool isPosted = false; // posted by this program (a paste keystroke)
};

// A key the tap keeps from the frontmost application: `keyCode` pressed with
// exactly the kinds in `kinds` (either side), or with any modifiers at all.
struct SwallowedKey
{
    quint16 keyCode = 0;
    ModifierKeys kinds;
    bool anyModifiers = false;

    bool operator==(const SwallowedKey&) const = default;
};

// The system-wide keyboard hook for the logged-in user.
//
// Everything happens on the main thread: install() hands over a handler that
// is called synchronously for every key down, key up and modifier change of
// any application. A backend that can decide per event swallows the event
// when the handler answers true; one that cannot (X11 grabs keys ahead of
// time) swallows exactly the keys declared with setSwallowedKeys() and
// ignores the answer. The owner keeps both in agreement. `disabled` fires when
// the backend has lost the hook by itself; it is then no longer installed.
class KeyboardTap : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<bool(const KeyEvent&)>;

    using QObject::QObject;

    // Whether this program may watch the keyboard at all.
    virtual bool hasKeyboardAccess() const = 0;
    // One attempt to install the hook; false when the platform refused.
    virtual bool install(Handler handler) = 0;
    virtual void remove() = 0;
    virtual bool isInstalled() const = 0;
    virtual void setSwallowedKeys(const QList<SwallowedKey>& keys) = 0;

Q_SIGNALS:
    void disabled();
};
