#include "app/windows/settings/KeyEventTranslator.h"

#include "platform/linux/X11KeyCodes.h"

#include <QKeyEvent>

#include <array>
#include <utility>

namespace {

// X11 key codes of a US PC keyboard, for events that carry no scan code.
quint8 usLayoutKeyCode(int key)
{
    static constexpr char kLetters[] = "QWERTYUIOP";
    static constexpr char kHome[] = "ASDFGHJKL";
    static constexpr char kBottom[] = "ZXCVBNM";
    for (int i = 0; kLetters[i]; ++i)
        if (key == kLetters[i])
            return quint8(24 + i);
    for (int i = 0; kHome[i]; ++i)
        if (key == kHome[i])
            return quint8(38 + i);
    for (int i = 0; kBottom[i]; ++i)
        if (key == kBottom[i])
            return quint8(52 + i);
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return quint8(10 + key - Qt::Key_1);
    if (key == Qt::Key_0)
        return 19;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10)
        return quint8(67 + key - Qt::Key_F1);
    if (key == Qt::Key_F11 || key == Qt::Key_F12)
        return quint8(95 + key - Qt::Key_F11);
    if (key >= Qt::Key_F13 && key <= Qt::Key_F20)
        return quint8(191 + key - Qt::Key_F13);

    static constexpr std::pair<int, quint8> kNamed[] = {
        {Qt::Key_Escape, 9},    {Qt::Key_Space, 65},     {Qt::Key_Return, 36},    {Qt::Key_Enter, 36},
        {Qt::Key_Tab, 23},      {Qt::Key_Backspace, 22}, {Qt::Key_Delete, 119},   {Qt::Key_Left, 113},
        {Qt::Key_Right, 114},   {Qt::Key_Up, 111},       {Qt::Key_Down, 116},     {Qt::Key_Home, 110},
        {Qt::Key_End, 115},     {Qt::Key_PageUp, 112},   {Qt::Key_PageDown, 117}, {Qt::Key_Shift, 50},
        {Qt::Key_Control, 37},  {Qt::Key_Alt, 64},       {Qt::Key_AltGr, 108},    {Qt::Key_Meta, 133},
        {Qt::Key_Super_L, 133}, {Qt::Key_Super_R, 134},
    };
    for (const auto& [named, code] : kNamed)
        if (key == named)
            return code;
    return 0;
}

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

quint8 KeyEventTranslator::x11KeyCode(const QKeyEvent& event)
{
    const quint32 scanCode = event.nativeScanCode();
    if (scanCode >= 8 && scanCode <= 255)
        return quint8(scanCode);
    return usLayoutKeyCode(event.key());
}

KeyEventTranslator::Result KeyEventTranslator::translate(const QKeyEvent& event)
{
    const quint8 code = x11KeyCode(event);
    const bool press = event.type() == QEvent::KeyPress;

    if (const std::optional<ModifierKeys> modifier = X11KeyCodes::modifierOf(code)) {
        if (press)
            m_held |= *modifier;
        else
            m_held = m_held.without(*modifier);
        return {Result::Kind::modifiersChanged, 0, m_held, {}};
    }
    if (!press || code == 0 || X11KeyCodes::isModifierKey(code))
        return {};

    reconcile(event.modifiers());
    const char32_t key = char32_t(event.key());
    const QString characters = key > 0 && key < char32_t(Qt::Key_Escape) ? QString::fromUcs4(&key, 1) : QString();
    return {Result::Kind::keyDown, X11KeyCodes::toModel(code), m_held, characters};
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
