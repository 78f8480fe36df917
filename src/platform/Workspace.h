#pragma once

#include <QString>

#include <future>
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

// What a paste has to know first: the application in front and, only where
// there is one, a keyboard grab.
struct DesktopState
{
    std::optional<RunningApplication> front;
    std::optional<KeyboardGrab> grab;
};

// What is in front on the desktop. Main thread only; every call answers at
// once from the display server, as the desktop is now.
class Workspace
{
public:
    virtual ~Workspace() = default;

    // The application whose window has the keyboard focus; absent when there
    // is none (the desktop itself, or no display).
    virtual std::optional<RunningApplication> frontmostApplication() = 0;

    // The keyboard grab of another program; absent when the keyboard is free.
    virtual std::optional<KeyboardGrab> keyboardGrab() = 0;

    virtual DesktopState state()
    {
        DesktopState state{frontmostApplication(), std::nullopt};
        if (state.front)
            state.grab = keyboardGrab();
        return state;
    }

    // state(), asked ahead of need: where the platform can, off the calling
    // thread, which goes on meanwhile. The answer is the desktop as it was
    // when asked. Here it answers at once.
    virtual std::future<DesktopState> askState()
    {
        std::promise<DesktopState> answer;
        answer.set_value(state());
        return answer.get_future();
    }
};
