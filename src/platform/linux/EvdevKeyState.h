#pragma once

#include "platform/KeyboardTap.h"

#include <QList>

#include <linux/input.h>

#include <bitset>
#include <map>

// Turns the key events of several /dev/input keyboards into the tap's key
// events, as if they were one keyboard: a key or modifier counts as down while
// any keyboard holds it, so Shift on one keyboard and a key on another
// combine, and a modifier down on two keyboards stays held until both let go.
// Only changes of that combined state are reported. Evdev codes are X11 key
// codes minus 8, so the X11 tables translate them. No I/O: the device layer
// feeds it.
class EvdevKeyState
{
public:
    using Keys = std::bitset<KEY_CNT>; // indexed by evdev key code

    // Takes a device's keys as they are now, without reporting them (a device
    // just opened: its held keys were pressed before anyone listened).
    void add(int device, const Keys& down);
    // One input event of `device`; events other than keys report nothing.
    QList<KeyEvent> handle(int device, const input_event& event);
    // The device's keys are really `down` now (events were dropped): reports
    // each key that changed meanwhile.
    QList<KeyEvent> resync(int device, const Keys& down);
    // The device is gone: whatever it held is released.
    QList<KeyEvent> remove(int device);
    void clear() { m_devices.clear(); }

    // Modifiers held across every device.
    ModifierKeys held() const;

private:
    void change(int device, unsigned code, int value, QList<KeyEvent>& out);
    bool isDownAnywhere(unsigned code) const;

    std::map<int, Keys> m_devices;
};
