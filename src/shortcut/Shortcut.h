#pragma once

#include "platform/PlatformVocabulary.h"
#include "shortcut/ModifierKeys.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The dictation shortcut: either a key with zero or more modifier kinds held
// (a key shortcut), or modifier keys pressed and released on their own (a
// modifier-only shortcut, such as Right Alt alone).
struct Shortcut
{
    std::optional<quint16> keyCode;  // absent for a modifier-only shortcut
    std::optional<QString> keyLabel; // the key's text, set when recorded
    ModifierKeys modifiers;

    bool operator==(const Shortcut&) const = default;

    // Right Option, which on a PC keyboard is Right Alt.
    static Shortcut defaultShortcut();
    // The default where the layout types characters with `typingModifiers`:
    // Right Ctrl where Right Alt is AltGr, so typing "@" starts nothing.
    static Shortcut defaultShortcut(ModifierKeys typingModifiers);

    bool isModifierOnly() const { return !keyCode.has_value(); }

    // The text shown for the shortcut in menus, windows and the recorder.
    QString label(const PlatformVocabulary& words = PlatformVocabulary::native()) const;

    // The stored form: {"keyCode":49,"keyLabel":"Space","modifiers":192},
    // optional keys left out. Decoding fails without "modifiers".
    QByteArray toJson() const;
    static std::optional<Shortcut> fromJson(const QByteArray& json);

    // The label a key gets when it is recorded. `characters` are what the key
    // types without modifiers.
    static QString keyName(quint16 keyCode, const QString& characters,
                           const PlatformVocabulary& words = PlatformVocabulary::native());

    // Whether the modifiers held as a key goes down satisfy `want`. A key
    // shortcut needs the same kinds held, each on either side, and Fn only
    // when `want` has it; a modifier-only shortcut needs exactly `want`.
    static bool matches(ModifierKeys held, std::optional<quint16> keyCode, ModifierKeys want);

    // Both side bits of every kind that has either bit set; Fn dropped.
    static ModifierKeys kindsOf(ModifierKeys modifiers);
};
