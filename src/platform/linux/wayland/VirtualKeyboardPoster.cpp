#include "platform/linux/wayland/VirtualKeyboardPoster.h"

#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "storage/PrivateFiles.h"
#include "storage/VellLog.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <virtual-keyboard-unstable-v1-client.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstring>
#include <memory>

namespace {

// X11 key codes are evdev codes + 8.
constexpr uint32_t kX11Offset = 8;

template <typename T, void (*Free)(T*)> struct Deleter
{
    void operator()(T* object) const { Free(object); }
};
using Context = std::unique_ptr<xkb_context, Deleter<xkb_context, xkb_context_unref>>;
using Keymap = std::unique_ptr<xkb_keymap, Deleter<xkb_keymap, xkb_keymap_unref>>;

uint32_t maskOf(xkb_keymap* keymap, const char* name)
{
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
    return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

uint32_t nowMilliseconds()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

VirtualKeyboardPoster::VirtualKeyboardPoster(WaylandConnection& connection) : m_connection(connection)
{
    if (!connection.seat())
        return;
    m_manager =
        static_cast<zwp_virtual_keyboard_manager_v1*>(connection.bind(zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!m_manager)
        return;
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, connection.seat());
    if (!makeKeymap()) {
        VellLog::insert().error(QStringLiteral("No keymap for the virtual keyboard; keystrokes cannot be posted"));
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
        m_keyboard = nullptr;
    }
    m_connection.flush();
}

VirtualKeyboardPoster::~VirtualKeyboardPoster()
{
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        zwp_virtual_keyboard_manager_v1_destroy(m_manager);
    if (m_keymapFd >= 0)
        ::close(m_keymapFd);
    m_connection.flush();
}

bool VirtualKeyboardPoster::makeKeymap()
{
    // The user's XKB_DEFAULT_* settings are left out: the point is a layout that never varies.
    const Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
    if (!context)
        return false;
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    const Keymap keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return false;
    const std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    if (!text)
        return false;
    const size_t size = std::strlen(text.get()) + 1; // the compositor expects the terminating zero
    m_keymapFd = ::memfd_create("vell-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (m_keymapFd < 0)
        return false;
    if (!PrivateFiles::writeAll(m_keymapFd, QByteArray::fromRawData(text.get(), qsizetype(size))))
        return false;
    // The compositor maps it; nobody may change it under it.
    ::fcntl(m_keymapFd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    m_keymapSize = uint32_t(size);

    const auto modifier = [&](ModifierKind kind, const char* name) {
        return Modifier{X11KeyCodes::leftKeyOf(kind) - kX11Offset, maskOf(keymap.get(), name)};
    };
    m_control = modifier(ModifierKind::control, XKB_MOD_NAME_CTRL);
    m_alt = modifier(ModifierKind::alt, XKB_MOD_NAME_ALT);
    m_shift = modifier(ModifierKind::shift, XKB_MOD_NAME_SHIFT);
    m_super = modifier(ModifierKind::super, XKB_MOD_NAME_LOGO);
    return true;
}

bool VirtualKeyboardPoster::postChord(ModifierKeys modifiers, quint16 keyCode)
{
    const std::optional<uint8_t> key = X11KeyCodes::fromModel(keyCode);
    if (!key || *key < kX11Offset)
        return false;
    std::vector<Modifier> held;
    for (const ModifierKindInfo& kind : kModifierKinds) {
        if (!modifiers.intersects(kind.mask))
            continue;
        switch (kind.kind) {
        case ModifierKind::control:
            held.push_back(m_control);
            break;
        case ModifierKind::alt:
            held.push_back(m_alt);
            break;
        case ModifierKind::shift:
            held.push_back(m_shift);
            break;
        case ModifierKind::super:
            held.push_back(m_super);
            break;
        }
    }
    return tap(held, *key - kX11Offset);
}

bool VirtualKeyboardPoster::paste(PasteKeys keys)
{
    switch (keys) {
    case PasteKeys::ctrlV:
        return tap({m_control}, KEY_V);
    case PasteKeys::ctrlShiftV:
        return tap({m_control, m_shift}, KEY_V);
    case PasteKeys::shiftInsert:
        return tap({m_shift}, KEY_INSERT);
    }
    return false;
}

bool VirtualKeyboardPoster::tap(const std::vector<Modifier>& modifiers, uint32_t key)
{
    if (!m_keyboard || !m_connection.isConnected())
        return false;
    // The request carries a copy of the descriptor.
    zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, m_keymapFd, m_keymapSize);
    // Applications take the modifier state from the modifiers request, not from the keys.
    for (const Modifier& modifier : modifiers) {
        sendKey(modifier.key, true);
        m_modifiersDown |= modifier.mask;
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, m_modifiersDown, 0, 0, 0);
    }
    sendKey(key, true);
    sendKey(key, false);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        sendKey(it->key, false);
        m_modifiersDown &= ~it->mask;
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, m_modifiersDown, 0, 0, 0);
    }
    m_connection.flush();
    return m_connection.isConnected();
}

void VirtualKeyboardPoster::sendKey(uint32_t key, bool down)
{
    zwp_virtual_keyboard_v1_key(m_keyboard, nowMilliseconds(), key,
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}
