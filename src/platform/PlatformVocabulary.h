#pragma once

#include "shortcut/ModifierKeys.h"

#include <QHash>
#include <QString>

// The user-facing words that differ between desktops: modifier symbols and
// names, how a shortcut's parts are joined, and the names of special keys.
// The macOS table is the reference the label rules are written against; the
// Linux table holds the words a PC desktop uses (Ctrl, Alt, Shift, Super).
struct PlatformVocabulary
{
    struct KindWords
    {
        QString symbol;
        QString leftName;
        QString rightName;
    };

    std::array<KindWords, 4> kinds; // in the order of kModifierKinds
    QString fn;
    QString keyShortcutSeparator;      // between the modifiers and the key of a key shortcut
    QString modifierShortcutSeparator; // between the keys of a modifier-only shortcut
    QHash<quint16, QString> keyNames;  // by key code

    QString pasteChord;          // the keys that paste, as the user presses them
    QString microphoneOffNotice; // shown when the microphone may not be used

    const KindWords& words(ModifierKind kind) const { return kinds[static_cast<size_t>(kind)]; }

    static const PlatformVocabulary& forMacOS();
    static const PlatformVocabulary& forLinux();
    // The table of the desktop this build runs on.
    static const PlatformVocabulary& native();
};
