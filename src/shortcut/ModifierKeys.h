#pragma once

#include <QtGlobal>

#include <array>

// Side-specific modifier keys as a set of bits. The eight side bits form four
// kinds (Control, Alt, Shift, Super) of two bits each, the lower bit being the
// left key; Fn belongs to no kind. The bits are the stored form of a shortcut's
// modifiers, so their values never change.
class ModifierKeys
{
public:
    constexpr ModifierKeys() = default;
    constexpr explicit ModifierKeys(quint32 rawValue) : m_raw(rawValue) {}

    static const ModifierKeys leftControl;
    static const ModifierKeys rightControl;
    static const ModifierKeys leftAlt;
    static const ModifierKeys rightAlt;
    static const ModifierKeys leftShift;
    static const ModifierKeys rightShift;
    static const ModifierKeys leftSuper;
    static const ModifierKeys rightSuper;
    static const ModifierKeys fn;

    constexpr quint32 rawValue() const { return m_raw; }
    constexpr bool isEmpty() const { return m_raw == 0; }
    constexpr bool contains(ModifierKeys other) const { return (m_raw & other.m_raw) == other.m_raw; }
    constexpr bool intersects(ModifierKeys other) const { return (m_raw & other.m_raw) != 0; }

    constexpr ModifierKeys operator|(ModifierKeys other) const { return ModifierKeys(m_raw | other.m_raw); }
    constexpr ModifierKeys operator&(ModifierKeys other) const { return ModifierKeys(m_raw & other.m_raw); }
    constexpr ModifierKeys without(ModifierKeys other) const { return ModifierKeys(m_raw & ~other.m_raw); }
    ModifierKeys& operator|=(ModifierKeys other)
    {
        m_raw |= other.m_raw;
        return *this;
    }
    constexpr bool operator==(const ModifierKeys&) const = default;

private:
    quint32 m_raw = 0;
};

inline constexpr ModifierKeys ModifierKeys::leftControl{0x1};
inline constexpr ModifierKeys ModifierKeys::rightControl{0x2};
inline constexpr ModifierKeys ModifierKeys::leftAlt{0x4};
inline constexpr ModifierKeys ModifierKeys::rightAlt{0x8};
inline constexpr ModifierKeys ModifierKeys::leftShift{0x10};
inline constexpr ModifierKeys ModifierKeys::rightShift{0x20};
inline constexpr ModifierKeys ModifierKeys::leftSuper{0x40};
inline constexpr ModifierKeys ModifierKeys::rightSuper{0x80};
inline constexpr ModifierKeys ModifierKeys::fn{0x100};

// The four kinds in display order; each mask holds the left and the right bit.
enum class ModifierKind { control, alt, shift, super };

struct ModifierKindInfo
{
    ModifierKind kind;
    ModifierKeys mask;
    ModifierKeys left;
    ModifierKeys right;
};

inline constexpr std::array<ModifierKindInfo, 4> kModifierKinds{{
    {ModifierKind::control, ModifierKeys(0x3), ModifierKeys::leftControl, ModifierKeys::rightControl},
    {ModifierKind::alt, ModifierKeys(0xC), ModifierKeys::leftAlt, ModifierKeys::rightAlt},
    {ModifierKind::shift, ModifierKeys(0x30), ModifierKeys::leftShift, ModifierKeys::rightShift},
    {ModifierKind::super, ModifierKeys(0xC0), ModifierKeys::leftSuper, ModifierKeys::rightSuper},
}};
