#include "app/windows/settings/KeyEventTranslator.h"

#include "platform/KeyboardTap.h"

#include <QKeyEvent>

namespace {

Qt::KeyboardModifiers qtModifiersOf(ModifierKind kind)
{
    switch (kind) {
    case ModifierKind::control:
        return Qt::ControlModifier;
    case ModifierKind::alt:
        // Right Alt acting as AltGr reports the group switch instead of Alt.
        return Qt::AltModifier | Qt::GroupSwitchModifier;
    case ModifierKind::shift:
        return Qt::ShiftModifier;
    case ModifierKind::super:
        return Qt::MetaModifier;
    }
    return {};
}

} // namespace

KeyEventTranslator::Result KeyEventTranslator::translate(const QKeyEvent& event)
{
    const WindowKey key = m_tap.windowKey(event.nativeScanCode(), event.key());
    const bool press = event.type() == QEvent::KeyPress;

    if (key.modifier) {
        if (press)
            m_held |= *key.modifier;
        else
            m_held = m_held.without(*key.modifier);
        return {Result::Kind::modifiersChanged, 0, m_held, {}};
    }
    if (!press || !key.keyCode || key.changesModifiers)
        return {};

    reconcile(event.modifiers());
    const char32_t qtKey = char32_t(event.key());
    const QString characters = qtKey > 0 && qtKey < char32_t(Qt::Key_Escape) ? QString::fromUcs4(&qtKey, 1) : QString();
    return {Result::Kind::keyDown, *key.keyCode, m_held, characters};
}

void KeyEventTranslator::reconcile(Qt::KeyboardModifiers modifiers)
{
    // A modifier pressed or released while another window had the keyboard
    // never reached us: trust Qt for which kinds are held, and the presses
    // seen for the side.
    for (const ModifierKindInfo& kind : kModifierKinds) {
        const bool held = modifiers & qtModifiersOf(kind.kind);
        if (!held)
            m_held = m_held.without(kind.mask);
        else if (!m_held.intersects(kind.mask))
            m_held |= kind.left;
    }
}
