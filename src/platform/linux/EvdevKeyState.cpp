#include "platform/linux/EvdevKeyState.h"

#include "platform/linux/X11KeyCodes.h"

#include <vector>

namespace {

// X11 key codes are one byte: evdev codes above this have no X11 key.
constexpr unsigned kLastCode = 255 - 8;

uint8_t x11Code(unsigned evdevCode)
{
    return uint8_t(evdevCode + 8);
}

// Evdev codes of the side-specific modifiers, from the X11 table.
const std::vector<unsigned>& modifierCodes()
{
    static const std::vector<unsigned> codes = [] {
        std::vector<unsigned> found;
        for (unsigned code = 0; code <= kLastCode; ++code)
            if (X11KeyCodes::modifierOf(x11Code(code)))
                found.push_back(code);
        return found;
    }();
    return codes;
}

} // namespace

void EvdevKeyState::add(int device, const Keys& down)
{
    m_devices[device] = down;
}

QList<KeyEvent> EvdevKeyState::handle(int device, const input_event& event)
{
    QList<KeyEvent> out;
    if (event.type == EV_KEY)
        change(device, event.code, event.value, out);
    return out;
}

QList<KeyEvent> EvdevKeyState::resync(int device, const Keys& down)
{
    QList<KeyEvent> out;
    const Keys was = m_devices[device];
    // Releases first, so a modifier let go meanwhile no longer counts for the presses.
    for (unsigned code = 0; code <= kLastCode; ++code)
        if (was.test(code) && !down.test(code))
            change(device, code, 0, out);
    for (unsigned code = 0; code <= kLastCode; ++code)
        if (!was.test(code) && down.test(code))
            change(device, code, 1, out);
    m_devices[device] = down;
    return out;
}

QList<KeyEvent> EvdevKeyState::remove(int device)
{
    QList<KeyEvent> out;
    const auto found = m_devices.find(device);
    if (found == m_devices.end())
        return out;
    for (unsigned code = 0; code <= kLastCode; ++code)
        if (found->second.test(code))
            change(device, code, 0, out);
    m_devices.erase(device);
    return out;
}

ModifierKeys EvdevKeyState::held() const
{
    ModifierKeys held;
    for (unsigned code : modifierCodes())
        if (isDownAnywhere(code))
            held |= *X11KeyCodes::modifierOf(x11Code(code));
    return held;
}

bool EvdevKeyState::isDownAnywhere(unsigned code) const
{
    for (const auto& [device, keys] : m_devices)
        if (keys.test(code))
            return true;
    return false;
}

void EvdevKeyState::change(int device, unsigned code, int value, QList<KeyEvent>& out)
{
    if (code > kLastCode)
        return;
    const bool wasDown = isDownAnywhere(code);
    m_devices[device].set(code, value != 0);
    const bool isDown = isDownAnywhere(code);

    KeyEvent event;
    event.keyCode = X11KeyCodes::toModel(x11Code(code));
    event.held = held();
    if (X11KeyCodes::isModifierKey(x11Code(code))) {
        // A repeat, or the same modifier on a second keyboard, changes nothing.
        if (wasDown == isDown)
            return;
        event.type = KeyEvent::Type::modifiersChanged;
    } else if (value != 0) {
        // A repeat, or the same key pressed on a second keyboard.
        event.type = KeyEvent::Type::keyDown;
        event.isAutoRepeat = wasDown;
    } else {
        // Still held on another keyboard, or pressed before anyone listened.
        if (!wasDown || isDown)
            return;
        event.type = KeyEvent::Type::keyUp;
    }
    out.append(event);
}
