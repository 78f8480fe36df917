#include "shortcut/ModifierKeys.h"

ModifierKeys ModifierKeys::fromEventFlags(quint64 eventFlags)
{
    struct Bit
    {
        quint64 flag;
        ModifierKeys key;
    };
    static constexpr std::array<Bit, 9> bits{{
        {0x1, leftControl},
        {0x2000, rightControl},
        {0x20, leftAlt},
        {0x40, rightAlt},
        {0x2, leftShift},
        {0x4, rightShift},
        {0x8, leftSuper},
        {0x10, rightSuper},
        {0x800000, fn},
    }};
    ModifierKeys keys;
    for (const Bit& bit : bits)
        if (eventFlags & bit.flag)
            keys |= bit.key;
    return keys;
}
