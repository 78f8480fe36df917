#include "platform/linux/X11Keymap.h"

#include <cstdlib>
#include <memory>

namespace {

// Pressing or releasing these toggles a lock instead of letting go of a modifier.
constexpr xcb_keysym_t kLockKeysyms[] = {
    0xffe5, // Caps_Lock
    0xffe6, // Shift_Lock
    0xff7f, // Num_Lock
    0xff14, // Scroll_Lock
    0xfe01, // ISO_Lock
    0xfe04, // ISO_Level3_Lock
    0xfe13, // ISO_Level5_Lock
};
constexpr int kLockRow = 1; // of the modifier mapping: Shift, Lock, Control, Mod1 … Mod5

} // namespace

Keymap Keymap::read(xcb_connection_t* connection)
{
    Keymap keymap;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    keymap.minKeyCode = setup->min_keycode;
    const uint8_t count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    auto mappingCookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, count);
    auto modifiersCookie = xcb_get_modifier_mapping(connection);

    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_keyboard_mapping_reply(connection, mappingCookie, nullptr), &std::free);
    if (mapping) {
        keymap.perKey = mapping->keysyms_per_keycode;
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
        keymap.keysyms.assign(keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(mapping.get()));
    }
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> modifiers(
        xcb_get_modifier_mapping_reply(connection, modifiersCookie, nullptr), &std::free);
    if (modifiers) {
        const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(modifiers.get());
        const int perRow = modifiers->keycodes_per_modifier;
        for (int row = 0; row < 8; ++row) {
            for (int i = 0; i < perRow; ++i) {
                const uint8_t key = keys[row * perRow + i];
                const bool isLock =
                    row == kLockRow || std::any_of(std::begin(kLockKeysyms), std::end(kLockKeysyms),
                                                   [&](xcb_keysym_t lock) { return keymap.types(key, lock); });
                if (key != 0 && !isLock)
                    keymap.modifierKeys.push_back(key);
            }
        }
    }
    return keymap;
}
