#include "platform/linux/X11KeyCodes.h"

#include <Qt>

#include <array>
#include <utility>

namespace X11KeyCodes {
namespace {

// X11 code → model code, for the keys of a PC keyboard.
constexpr std::pair<uint8_t, uint16_t> kTable[] = {
    // letters
    {38, 0},
    {56, 11},
    {54, 8},
    {40, 2},
    {26, 14},
    {41, 3},
    {42, 5},
    {43, 4},
    {31, 34},
    {44, 38},
    {45, 40},
    {46, 37},
    {58, 46},
    {57, 45},
    {32, 31},
    {33, 35},
    {24, 12},
    {27, 15},
    {39, 1},
    {28, 17},
    {30, 32},
    {55, 9},
    {25, 13},
    {53, 7},
    {29, 16},
    {52, 6},
    // digits 1–9, 0
    {10, 18},
    {11, 19},
    {12, 20},
    {13, 21},
    {14, 23},
    {15, 22},
    {16, 26},
    {17, 28},
    {18, 25},
    {19, 29},
    // punctuation
    {20, 27},
    {21, 24},
    {34, 33},
    {35, 30},
    {47, 41},
    {48, 39},
    {49, 50},
    {51, 42},
    {59, 43},
    {60, 47},
    {61, 44},
    {94, 10},
    // editing and navigation
    {9, 53},
    {22, 51},
    {23, 48},
    {36, 36},
    {65, 49},
    {119, 117},
    {110, 115},
    {115, 119},
    {112, 116},
    {117, 121},
    {113, 123},
    {114, 124},
    {116, 125},
    {111, 126},
    {146, 114},
    // function keys F1–F12, F13–F20
    {67, 122},
    {68, 120},
    {69, 99},
    {70, 118},
    {71, 96},
    {72, 97},
    {73, 98},
    {74, 100},
    {75, 101},
    {76, 109},
    {95, 103},
    {96, 111},
    {191, 105},
    {192, 107},
    {193, 113},
    {194, 106},
    {195, 64},
    {196, 79},
    {197, 80},
    {198, 90},
    // keypad
    {90, 82},
    {87, 83},
    {88, 84},
    {89, 85},
    {83, 86},
    {84, 87},
    {85, 88},
    {79, 89},
    {80, 91},
    {81, 92},
    {91, 65},
    {63, 67},
    {86, 69},
    {106, 75},
    {104, 76},
    {82, 78},
    {125, 81},
    // modifiers and Caps Lock
    {37, 59},
    {105, 62},
    {64, 58},
    {108, 61},
    {50, 56},
    {62, 60},
    {133, 55},
    {134, 54},
    {66, 57},
    // volume
    {121, 74},
    {122, 73},
    {123, 72},
};

constexpr std::pair<uint8_t, ModifierKeys> kModifiers[] = {
    {37, ModifierKeys::leftControl}, {105, ModifierKeys::rightControl}, {64, ModifierKeys::leftAlt},
    {108, ModifierKeys::rightAlt},   {50, ModifierKeys::leftShift},     {62, ModifierKeys::rightShift},
    {133, ModifierKeys::leftSuper},  {134, ModifierKeys::rightSuper},
};

constexpr uint8_t kCapsLock = 66;
constexpr uint8_t kNumLock = 77;

// X11 key codes of a US PC keyboard, for events that carry no scan code.
uint8_t usLayoutKeyCode(int key)
{
    static constexpr char kLetters[] = "QWERTYUIOP";
    static constexpr char kHome[] = "ASDFGHJKL";
    static constexpr char kBottom[] = "ZXCVBNM";
    for (int i = 0; kLetters[i]; ++i)
        if (key == kLetters[i])
            return uint8_t(24 + i);
    for (int i = 0; kHome[i]; ++i)
        if (key == kHome[i])
            return uint8_t(38 + i);
    for (int i = 0; kBottom[i]; ++i)
        if (key == kBottom[i])
            return uint8_t(52 + i);
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return uint8_t(10 + key - Qt::Key_1);
    if (key == Qt::Key_0)
        return 19;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F10)
        return uint8_t(67 + key - Qt::Key_F1);
    if (key == Qt::Key_F11 || key == Qt::Key_F12)
        return uint8_t(95 + key - Qt::Key_F11);
    if (key >= Qt::Key_F13 && key <= Qt::Key_F20)
        return uint8_t(191 + key - Qt::Key_F13);

    static constexpr std::pair<int, uint8_t> kNamed[] = {
        {Qt::Key_Escape, 9},    {Qt::Key_Space, 65},     {Qt::Key_Return, 36},    {Qt::Key_Enter, 36},
        {Qt::Key_Tab, 23},      {Qt::Key_Backspace, 22}, {Qt::Key_Delete, 119},   {Qt::Key_Left, 113},
        {Qt::Key_Right, 114},   {Qt::Key_Up, 111},       {Qt::Key_Down, 116},     {Qt::Key_Home, 110},
        {Qt::Key_End, 115},     {Qt::Key_PageUp, 112},   {Qt::Key_PageDown, 117}, {Qt::Key_Shift, 50},
        {Qt::Key_Control, 37},  {Qt::Key_Alt, 64},       {Qt::Key_AltGr, 108},    {Qt::Key_Meta, 133},
        {Qt::Key_Super_L, 133}, {Qt::Key_Super_R, 134},
    };
    for (const auto& [named, code] : kNamed)
        if (key == named)
            return code;
    return 0;
}

} // namespace

uint16_t toModel(uint8_t x11KeyCode)
{
    for (const auto& [x11, model] : kTable)
        if (x11 == x11KeyCode)
            return model;
    return kUnmappedBase + x11KeyCode;
}

std::optional<uint8_t> fromModel(uint16_t modelKeyCode)
{
    if (modelKeyCode >= kUnmappedBase && modelKeyCode < kUnmappedBase + 256)
        return uint8_t(modelKeyCode - kUnmappedBase);
    for (const auto& [x11, model] : kTable)
        if (model == modelKeyCode)
            return x11;
    return std::nullopt;
}

std::optional<ModifierKeys> modifierOf(uint8_t x11KeyCode)
{
    for (const auto& [x11, modifier] : kModifiers)
        if (x11 == x11KeyCode)
            return modifier;
    return std::nullopt;
}

bool isModifierKey(uint8_t x11KeyCode)
{
    return modifierOf(x11KeyCode) || x11KeyCode == kCapsLock || x11KeyCode == kNumLock;
}

uint8_t leftKeyOf(ModifierKind kind)
{
    switch (kind) {
    case ModifierKind::control:
        return 37;
    case ModifierKind::alt:
        return 64;
    case ModifierKind::shift:
        return 50;
    case ModifierKind::super:
        return 133;
    }
    return 37;
}

WindowKey windowKey(quint32 nativeScanCode, int qtKey)
{
    const uint8_t code =
        nativeScanCode >= 8 && nativeScanCode <= 255 ? uint8_t(nativeScanCode) : usLayoutKeyCode(qtKey);
    if (code == 0)
        return {};
    return {toModel(code), modifierOf(code), isModifierKey(code)};
}

} // namespace X11KeyCodes
