#include "platform/linux/X11KeystrokePoster.h"

#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/XcbConnection.h"
#include "storage/VellLog.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr xcb_keysym_t kKeysymLowerV = 0x0076;
constexpr xcb_keysym_t kKeysymUpperV = 0x0056;
constexpr xcb_keysym_t kKeysymControlL = 0xffe3;
constexpr xcb_keysym_t kKeysymShiftL = 0xffe1;
constexpr xcb_keysym_t kKeysymInsert = 0xff63;
constexpr uint8_t kInsertKeyCode = 118; // where a PC keyboard has Insert
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

} // namespace

X11KeystrokePoster::X11KeystrokePoster(PostedKeystrokes& posted) : m_posted(posted) {}

X11KeystrokePoster::~X11KeystrokePoster() = default;

bool X11KeystrokePoster::connectIfNeeded()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = XcbConnection::open();
    if (m_connection && !m_connection->hasXTest()) {
        VellLog::insert().error(QStringLiteral("The X server has no XTest extension; keystrokes cannot be posted"));
        m_connection.reset();
    }
    return m_connection != nullptr;
}

void X11KeystrokePoster::post(uint8_t x11KeyCode, bool down)
{
    m_posted.add(x11KeyCode, down);
    xcb_test_fake_input(m_connection->get(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, x11KeyCode, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
}

void X11KeystrokePoster::releaseHeldModifiers(const std::vector<uint8_t>& modifierKeys)
{
    // A modifier the user still holds would turn Ctrl+V into Ctrl+Alt+V. The
    // server accepts this release even for a key held on another keyboard
    // than the XTest one; the user's own release later is then dropped.
    const std::bitset<256> down = m_connection->keysDown();
    for (uint8_t key : modifierKeys)
        if (down.test(key))
            post(key, false);
}

bool X11KeystrokePoster::postChord(ModifierKeys modifiers, quint16 keyCode)
{
    const auto key = X11KeyCodes::fromModel(keyCode);
    if (!key || !connectIfNeeded())
        return false;

    releaseHeldModifiers(Keymap::read(m_connection->get()).modifierKeys);
    std::vector<uint8_t> held;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (modifiers.intersects(kind.mask))
            held.push_back(X11KeyCodes::leftKeyOf(kind.kind));
    tap(held, *key);
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}

bool X11KeystrokePoster::paste(PasteKeys keys)
{
    if (!connectIfNeeded())
        return false;
    const Keymap keymap = Keymap::read(m_connection->get());
    const uint8_t control = keymap.keyFor(kKeysymControlL).value_or(X11KeyCodes::leftKeyOf(ModifierKind::control));
    const uint8_t shift = keymap.keyFor(kKeysymShiftL).value_or(X11KeyCodes::leftKeyOf(ModifierKind::shift));
    // AZERTY, Dvorak and friends put V elsewhere; fall back to the ANSI V position.
    const uint8_t v = keymap.keyFor(kKeysymLowerV, kKeysymUpperV).value_or(*X11KeyCodes::fromModel(9));

    releaseHeldModifiers(keymap.modifierKeys);
    switch (keys) {
    case PasteKeys::ctrlV:
        tap({control}, v);
        break;
    case PasteKeys::ctrlShiftV:
        tap({control, shift}, v);
        break;
    case PasteKeys::shiftInsert:
        tap({shift}, keymap.keyFor(kKeysymInsert).value_or(kInsertKeyCode));
        break;
    }
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}

bool X11KeystrokePoster::postBlankKey()
{
    if (!connectIfNeeded())
        return false;
    // Read afresh: a layout switched since the last time may have filled the key.
    const std::optional<uint8_t> blank = Keymap::read(m_connection->get()).highestBlankKey();
    if (!blank)
        return false;
    post(*blank, true);
    post(*blank, false);
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}

void X11KeystrokePoster::tap(const std::vector<uint8_t>& modifierKeys, uint8_t key)
{
    for (uint8_t code : modifierKeys)
        post(code, true);
    post(key, true);
    post(key, false);
    for (auto it = modifierKeys.rbegin(); it != modifierKeys.rend(); ++it)
        post(*it, false);
}
