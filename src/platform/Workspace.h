#pragma once

#include <QString>

#include <optional>

// An application with a window on the desktop.
struct RunningApplication
{
    qint32 pid = 0; // 0 when the display server cannot tell
    std::optional<QString> name;
    std::optional<QString> windowClass; // what identifies the application (WM_CLASS on X11)

    bool operator==(const RunningApplication&) const = default;
};

// The whole keyboard held by another program, as a password prompt or a
// screen locker does: keystrokes posted now would reach that program.
struct KeyboardGrab
{
    std::optional<RunningApplication> owner; // the likely holder, when it can be told

    bool operator==(const KeyboardGrab&) const = default;
};

// What is in front on the desktop. Main thread only; every call answers at
// once from the display server and keeps nothing between calls.
class Workspace
{
public:
    virtual ~Workspace() = default;

    // The application whose window has the keyboard focus; absent when there
    // is none (the desktop itself, or no display).
    virtual std::optional<RunningApplication> frontmostApplication() = 0;

    // The keyboard grab of another program; absent when the keyboard is free.
    virtual std::optional<KeyboardGrab> keyboardGrab() = 0;
};
