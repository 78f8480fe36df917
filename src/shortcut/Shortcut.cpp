#include "shortcut/Shortcut.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

Shortcut Shortcut::defaultShortcut()
{
    return Shortcut{std::nullopt, std::nullopt, ModifierKeys::rightAlt};
}

Shortcut Shortcut::defaultShortcut(ModifierKeys typingModifiers)
{
    if (typingModifiers.intersects(ModifierKeys::rightAlt))
        return Shortcut{std::nullopt, std::nullopt, ModifierKeys::rightControl};
    return defaultShortcut();
}

QString Shortcut::label(const PlatformVocabulary& words) const
{
    QStringList parts;
    if (modifiers.contains(ModifierKeys::fn))
        parts << words.fn;

    if (keyLabel) {
        for (const ModifierKindInfo& kind : kModifierKinds)
            if (modifiers.intersects(kind.mask))
                parts << words.words(kind.kind).symbol;
        parts << *keyLabel;
        return parts.join(words.keyShortcutSeparator);
    }

    for (const ModifierKindInfo& kind : kModifierKinds) {
        const ModifierKeys present = modifiers & kind.mask;
        if (present.isEmpty())
            continue;
        const PlatformVocabulary::KindWords& w = words.words(kind.kind);
        if (present == kind.mask)
            parts << w.symbol;
        else if (present == kind.left)
            parts << w.leftName;
        else
            parts << w.rightName;
    }
    return parts.join(words.modifierShortcutSeparator);
}

QByteArray Shortcut::toJson() const
{
    QJsonObject object;
    if (keyCode)
        object.insert(QStringLiteral("keyCode"), int(*keyCode));
    if (keyLabel)
        object.insert(QStringLiteral("keyLabel"), *keyLabel);
    object.insert(QStringLiteral("modifiers"), qint64(modifiers.rawValue()));
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

namespace {

// A JSON number that is a whole number within [0, max].
std::optional<quint64> wholeNumber(const QJsonValue& value, quint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > double(max) || number != double(quint64(number)))
        return std::nullopt;
    return quint64(number);
}

} // namespace

std::optional<Shortcut> Shortcut::fromJson(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    Shortcut shortcut;
    // Bits no key stands for would make a shortcut that never fires.
    constexpr quint64 kKeyBits = 0x1FF;
    const auto modifiers = wholeNumber(object.value(QStringLiteral("modifiers")), 0xFFFFFFFF);
    if (!modifiers || (*modifiers & ~kKeyBits))
        return std::nullopt;
    shortcut.modifiers = ModifierKeys(quint32(*modifiers));

    if (const QJsonValue code = object.value(QStringLiteral("keyCode")); !code.isUndefined() && !code.isNull()) {
        const auto value = wholeNumber(code, 0xFFFF);
        if (!value)
            return std::nullopt;
        shortcut.keyCode = quint16(*value);
    }
    if (const QJsonValue label = object.value(QStringLiteral("keyLabel")); !label.isUndefined() && !label.isNull()) {
        if (!label.isString())
            return std::nullopt;
        shortcut.keyLabel = label.toString();
    }
    // No key and no modifier would fire on every modifier release.
    if (!shortcut.keyCode && shortcut.modifiers.isEmpty())
        return std::nullopt;
    return shortcut;
}

QString Shortcut::keyName(quint16 keyCode, const QString& characters, const PlatformVocabulary& words)
{
    if (const auto named = words.keyNames.constFind(keyCode); named != words.keyNames.constEnd())
        return *named;
    const QString typed = characters.toUpper().trimmed();
    if (!typed.isEmpty())
        return typed;
    return QStringLiteral("Key %1").arg(keyCode);
}

bool Shortcut::matches(ModifierKeys held, std::optional<quint16> keyCode, ModifierKeys want)
{
    if (!keyCode)
        return held == want;
    if (kindsOf(held) != kindsOf(want))
        return false;
    return !want.contains(ModifierKeys::fn) || held.contains(ModifierKeys::fn);
}

ModifierKeys Shortcut::kindsOf(ModifierKeys modifiers)
{
    ModifierKeys kinds;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (modifiers.intersects(kind.mask))
            kinds |= kind.mask;
    return kinds;
}
