#include "shortcut/CompositorBindings.h"

#include "shortcut/StoredKeyCodes.h"

#include <QHash>

namespace CompositorBindings {

namespace {

struct SideNames
{
    ModifierKeys key;
    const char* keysym; // the key itself, as the compositor names it
    ModifierKind kind;
};

constexpr SideNames kModifierKeys[] = {
    {ModifierKeys::leftControl, "Control_L", ModifierKind::control},
    {ModifierKeys::rightControl, "Control_R", ModifierKind::control},
    {ModifierKeys::leftAlt, "Alt_L", ModifierKind::alt},
    {ModifierKeys::rightAlt, "Alt_R", ModifierKind::alt},
    {ModifierKeys::leftShift, "Shift_L", ModifierKind::shift},
    {ModifierKeys::rightShift, "Shift_R", ModifierKind::shift},
    {ModifierKeys::leftSuper, "Super_L", ModifierKind::super},
    {ModifierKeys::rightSuper, "Super_R", ModifierKind::super},
};

QString kindName(Compositor compositor, ModifierKind kind)
{
    // sway takes Mod4 for Super everywhere; Hyprland writes them in capitals.
    static const char* const kSway[] = {"Ctrl", "Alt", "Shift", "Mod4"};
    static const char* const kHyprland[] = {"CTRL", "ALT", "SHIFT", "SUPER"};
    return QLatin1String((compositor == Compositor::sway ? kSway : kHyprland)[int(kind)]);
}

} // namespace

std::optional<QString> keysymOf(const Shortcut& shortcut)
{
    if (shortcut.keyCode == StoredKeyCodes::space)
        return QStringLiteral("space");
    const QString label = shortcut.keyLabel.value_or(QString());
    if (label.size() == 1 && label.at(0).isLetterOrNumber() && label.at(0).unicode() < 0x80)
        return label.toLower();
    static const QHash<QString, QString> kNamed = {
        {QStringLiteral("Enter"), QStringLiteral("Return")},
        {QStringLiteral("Tab"), QStringLiteral("Tab")},
        {QStringLiteral("Esc"), QStringLiteral("Escape")},
        {QStringLiteral("Backspace"), QStringLiteral("BackSpace")},
        {QStringLiteral("Delete"), QStringLiteral("Delete")},
        {QStringLiteral("Left"), QStringLiteral("Left")},
        {QStringLiteral("Right"), QStringLiteral("Right")},
        {QStringLiteral("Up"), QStringLiteral("Up")},
        {QStringLiteral("Down"), QStringLiteral("Down")},
        {QStringLiteral("Home"), QStringLiteral("Home")},
        {QStringLiteral("End"), QStringLiteral("End")},
        {QStringLiteral("Page Up"), QStringLiteral("Prior")},
        {QStringLiteral("Page Down"), QStringLiteral("Next")},
    };
    if (const auto named = kNamed.constFind(label); named != kNamed.cend())
        return *named;
    if (shortcut.keyCode && StoredKeyCodes::isFunctionKey(*shortcut.keyCode)) {
        const auto index =
            std::find(StoredKeyCodes::functionKeys.begin(), StoredKeyCodes::functionKeys.end(), *shortcut.keyCode) -
            StoredKeyCodes::functionKeys.begin();
        return QStringLiteral("F%1").arg(index + 1);
    }
    return std::nullopt;
}

QString configName(Compositor compositor)
{
    return compositor == Compositor::sway ? QStringLiteral("your sway config (~/.config/sway/config)")
                                          : QStringLiteral("your Hyprland config (~/.config/hypr/hyprland.conf)");
}

std::optional<QStringList> lines(Compositor compositor, const Shortcut& shortcut, const QString& command)
{
    // The key the binding is on, and the modifier kinds held before it goes down.
    QString key;
    QList<ModifierKind> held;
    ModifierKind keyKind = ModifierKind::control;
    bool keyIsModifier = false;
    if (shortcut.isModifierOnly()) {
        // The last modifier (in a fixed order) is the key; the others are held.
        for (const SideNames& side : kModifierKeys) {
            if (!shortcut.modifiers.contains(side.key))
                continue;
            if (!key.isEmpty())
                held << keyKind;
            key = QLatin1String(side.keysym);
            keyKind = side.kind;
            keyIsModifier = true;
        }
        if (key.isEmpty())
            return std::nullopt;
    } else {
        const std::optional<QString> keysym = keysymOf(shortcut);
        if (!keysym)
            return std::nullopt;
        key = *keysym;
        for (const SideNames& side : kModifierKeys)
            if (shortcut.modifiers.contains(side.key) && !held.contains(side.kind))
                held << side.kind;
    }

    QStringList heldNames;
    for (ModifierKind kind : held)
        heldNames << kindName(compositor, kind);
    const QString press = command + QStringLiteral(" press");
    const QString release = command + QStringLiteral(" release");

    if (compositor == Compositor::sway) {
        const QString combo = (heldNames + QStringList{key}).join(QLatin1Char('+'));
        // Without --no-repeat a held key calls again every few dozen milliseconds.
        return QStringList{QStringLiteral("bindsym --no-repeat %1 exec %2").arg(combo, press),
                           QStringLiteral("bindsym --release %1 exec %2").arg(combo, release)};
    }
    // Hyprland matches the modifiers held with the key: a modifier key's own
    // kind counts as held once it is down, so at its release.
    QStringList releaseHeld = heldNames;
    if (keyIsModifier && !held.contains(keyKind))
        releaseHeld << kindName(compositor, keyKind);
    return QStringList{
        QStringLiteral("bind = %1, %2, exec, %3").arg(heldNames.join(QLatin1Char(' ')), key, press),
        QStringLiteral("bindr = %1, %2, exec, %3").arg(releaseHeld.join(QLatin1Char(' ')), key, release)};
}

} // namespace CompositorBindings
