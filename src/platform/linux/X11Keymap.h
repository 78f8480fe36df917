#pragma once

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

// The keyboard layout as the core protocol reports it: keysyms per key code,
// and which keys are modifiers.
struct Keymap
{
    uint8_t minKeyCode = 8;
    int perKey = 0;
    std::vector<xcb_keysym_t> keysyms;
    std::vector<uint8_t> modifierKeys; // without the lock keys

    static Keymap read(xcb_connection_t* connection);

    bool types(uint8_t key, xcb_keysym_t keysym) const
    {
        const size_t first = size_t(key - minKeyCode) * size_t(perKey);
        for (int column = 0; column < perKey; ++column)
            if (first + column < keysyms.size() && keysyms[first + column] == keysym)
                return true;
        return false;
    }

    // The key that types `keysym`, preferring one where it is the first symbol
    // of the first group, as a letter is on its own key.
    std::optional<uint8_t> keyFor(xcb_keysym_t keysym, xcb_keysym_t alternative = 0) const
    {
        if (perKey == 0)
            return std::nullopt;
        const size_t keys = keysyms.size() / size_t(perKey);
        for (size_t i = 0; i < keys; ++i)
            if (keysyms[i * perKey] == keysym)
                return uint8_t(minKeyCode + i);
        for (size_t i = 0; i < keys; ++i)
            if (types(uint8_t(minKeyCode + i), keysym) || (alternative && types(uint8_t(minKeyCode + i), alternative)))
                return uint8_t(minKeyCode + i);
        return std::nullopt;
    }

    // The highest key the layout gives no symbol at all and that is no
    // modifier: pressing it types nothing, and no application binds it.
    std::optional<uint8_t> highestBlankKey() const
    {
        if (perKey == 0)
            return std::nullopt;
        for (size_t i = keysyms.size() / size_t(perKey); i-- > 0;) {
            const auto first = keysyms.begin() + std::ptrdiff_t(i * perKey);
            const uint8_t key = uint8_t(minKeyCode + i);
            if (std::all_of(first, first + perKey, [](xcb_keysym_t keysym) { return keysym == 0; }) &&
                std::find(modifierKeys.begin(), modifierKeys.end(), key) == modifierKeys.end())
                return key;
        }
        return std::nullopt;
    }
};
