#pragma once

#include <QtGlobal>

#include <algorithm>
#include <array>

// Key codes of the shortcut model. They are the macOS virtual key codes, so a
// stored shortcut means the same key everywhere; platform adapters translate
// their own codes into these.
namespace KeyCodes {

inline constexpr quint16 space = 49;
inline constexpr quint16 escape = 53;

// F1 to F20, in order.
inline constexpr std::array<quint16, 20> functionKeys{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                      103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

inline bool isFunctionKey(quint16 keyCode)
{
    return std::find(functionKeys.begin(), functionKeys.end(), keyCode) != functionKeys.end();
}

} // namespace KeyCodes
