#pragma once

#include "platform/KeyboardTap.h"
#include "shortcut/ModifierKeys.h"

#include <cstdint>
#include <optional>

// Translation between X11 key codes (evdev + 8, what XInput2 raw events and
// XTest use) and the shortcut model's key codes. Keys without a counterpart in
// the model keep a code of their own, kUnmappedBase + the X11 code, so every
// key can still be recorded and matched.
namespace X11KeyCodes {

inline constexpr uint16_t kUnmappedBase = 0x1000;

uint16_t toModel(uint8_t x11KeyCode);
std::optional<uint8_t> fromModel(uint16_t modelKeyCode);

// The side-specific modifier a key is, if it is one (Fn is invisible to X11).
std::optional<ModifierKeys> modifierOf(uint8_t x11KeyCode);
// Whether the key changes modifier state (the modifiers and the lock keys).
bool isModifierKey(uint8_t x11KeyCode);
// The X11 key pressed for the left key of a modifier kind.
uint8_t leftKeyOf(ModifierKind kind);
// The key of a Qt key event: its native scan code is the X11 key code, on X11
// and under Wayland alike; for events without one, a US layout is assumed.
WindowKey windowKey(quint32 nativeScanCode, int qtKey);

} // namespace X11KeyCodes
