#pragma once

#include "shortcut/ModifierKeys.h"

#include <QList>
#include <QObject>

#include <functional>
#include <optional>

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

// A key as the shortcut model sees it, read from a key event that one of this
// program's own windows received (the shortcut recorder's).
struct WindowKey
{
    std::optional<quint16> keyCode;       // none for a key the model cannot record
    std::optional<ModifierKeys> modifier; // the side-specific modifier it is, if it is one
    bool changesModifiers = false;        // a modifier or a lock key
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
    // Whether keys can be kept from the applications at all. A tap that only
    // reads lets every key through, so a key it reports also reached the app.
    virtual bool canSwallowKeys() const { return true; }
    // The key behind a key event of one of this program's windows, from the
    // toolkit's native scan code, or its Qt::Key for synthetic events that
    // carry none (a US layout is then assumed).
    virtual WindowKey windowKey(quint32 nativeScanCode, int qtKey) const = 0;
    // The side-specific modifiers the keyboard layout types characters with
    // now, as Right Alt is AltGr on most non-US layouts.
    virtual ModifierKeys typingModifiers() const = 0;

Q_SIGNALS:
    void disabled();
    // The keyboard layout changed; typingModifiers() may answer otherwise.
    void layoutChanged();
};
