#pragma once

#include "platform/KeystrokePoster.h"

#include <QList>

#include <functional>

// Records the keystrokes posted. `onPaste` runs at the moment of a paste, to
// look at the clipboard as the receiving application would.
class FakeKeystrokePoster final : public KeystrokePoster
{
public:
    struct Chord
    {
        ModifierKeys modifiers;
        quint16 keyCode;
    };

    bool fails = false;
    Access allowed = Access::granted;
    int accessRequests = 0;
    // What the desktop's dialog answers when asked.
    Access answer = Access::granted;

    Access access() const override { return allowed; }
    void requestAccess() override
    {
        ++accessRequests;
        allowed = answer;
    }
    QList<Chord> chords;
    QList<PasteKeys> pastes;
    std::function<void()> onPaste;
    int blankKeys = 0;

    bool postChord(ModifierKeys modifiers, quint16 keyCode) override
    {
        if (fails)
            return false;
        chords.append({modifiers, keyCode});
        return true;
    }
    bool postBlankKey() override
    {
        if (fails)
            return false;
        ++blankKeys;
        return true;
    }
    bool paste(PasteKeys keys) override
    {
        if (fails)
            return false;
        pastes.append(keys);
        if (onPaste)
            onPaste();
        return true;
    }
};
