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

    // The windows' words for the machine and its places.
    QString yourComputer;              // "Your computer": where the voice starts
    QString backToYourComputer;        // "Back to your computer": where the text ends
    QString thisComputer;              // "this computer", inside sentences
    QString keyStoreName;              // "your desktop's keyring", where keys are stored
    QString trayName;                  // "the system tray", where Vell lives
    QString revealInFileManager;       // "Open Containing Folder": opens the file's folder
    QString modifierHint;              // after a plain key without modifiers in the shortcut recorder
    QString fnKeyHint;                 // after recording Fn alone; empty where Fn cannot be recorded
    QString setupFnHint;               // the setup's advice for Fn alone, **bold** marked; empty where not needed
    QString keyboardSettingsAddress;   // the keyboard settings; empty where there is none to open
    QString cancelHint;                // how to cancel while dictating, **bold** marked
    QString bindCommandHint;           // binding a desktop key to Vell's command, **bold** marked; empty where none
    QString microphoneSettingsAddress; // the microphone privacy settings; empty where there is none
    QString keyboardAccessOffHint;     // how to let Vell watch the keyboard
    QString openPrivacySettings;       // the button that asks again or opens the settings

    QString shortcutBlockedWarning; // the keyboard cannot be watched, so the shortcut does nothing
    QString keyboardGrabWarning;    // %1: the program that holds the keyboard for a password
    QString unknownProgram;         // names that program where it cannot be known
    QString passwordFieldNotice;    // a dictation was asked for in a password field
    QString typingModifierHint;     // %1: a recorded modifier that the keyboard layout types with

    const KindWords& words(ModifierKind kind) const { return kinds[static_cast<size_t>(kind)]; }

    // The words of the desktop the design began on; tests check labels and
    // notices against it as well, so that no sentence hard-codes one desktop.
    static const PlatformVocabulary& forMacOS();
    static const PlatformVocabulary& forLinux();
    // Linux in a Wayland session, where only the compositor sees every key.
    static const PlatformVocabulary& forLinuxWayland();
    // The table of the desktop this build runs on.
    static const PlatformVocabulary& native();
};
