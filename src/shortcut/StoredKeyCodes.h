#pragma once

#include <QtGlobal>

#include <algorithm>
#include <array>

// The key codes a shortcut is stored with (the values of the original macOS
// design's virtual key codes, kept so stored shortcuts keep meaning the same
// key); each keyboard adapter translates its own codes into these.
namespace StoredKeyCodes {

inline constexpr quint16 space = 49;
inline constexpr quint16 escape = 53;

// F1 to F20, in order.
inline constexpr std::array<quint16, 20> functionKeys{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                      103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

inline bool isFunctionKey(quint16 keyCode)
{
    return std::find(functionKeys.begin(), functionKeys.end(), keyCode) != functionKeys.end();
}

} // namespace StoredKeyCodes
