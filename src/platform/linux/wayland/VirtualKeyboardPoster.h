#pragma once

#include "platform/KeystrokePoster.h"

#include <cstdint>
#include <vector>

class WaylandConnection;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

// Posts keystrokes through a virtual keyboard of the compositor (wlroots
// compositors offer one). The keyboard carries a plain US keymap of its own,
// so the paste chord is the same keys whatever layout the user has; the
// compositor hands that keymap to the application with the keys. sway
// applies its input settings to virtual keyboards too whenever they change,
// so the keymap goes again before every chord. One
// keyboard serves the whole lifetime: a keyboard that comes and goes makes
// the compositor switch keymaps and focus on every chord. Keys the user holds
// are on another keyboard and do not mix into the chord. The connection must
// outlive this object.
class VirtualKeyboardPoster final : public KeystrokePoster
{
public:
    explicit VirtualKeyboardPoster(WaylandConnection& connection);
    ~VirtualKeyboardPoster() override;

    // Whether the compositor gave a keyboard and it has its keymap.
    bool isAvailable() const { return m_keyboard != nullptr; }

    bool postChord(ModifierKeys modifiers, quint16 keyCode) override;
    bool paste(PasteKeys keys) override;
    // Without an X server there is no menu bar to open by a lone modifier
    // tap reaching an application: nothing to post, and false.
    bool postBlankKey() override { return false; }

private:
    struct Modifier
    {
        uint32_t key = 0;  // evdev code
        uint32_t mask = 0; // in the keyboard's own keymap
    };

    bool makeKeymap();
    // Presses `modifiers` in order, taps `key`, releases them in reverse.
    bool tap(const std::vector<Modifier>& modifiers, uint32_t key);
    void sendKey(uint32_t key, bool down);

    WaylandConnection& m_connection;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    Modifier m_control, m_alt, m_shift, m_super;
    uint32_t m_modifiersDown = 0;
    int m_keymapFd = -1;
    uint32_t m_keymapSize = 0;
};
