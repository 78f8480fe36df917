#pragma once

#include "platform/Workspace.h"

#include <cstdint>
#include <memory>
#include <optional>

class XcbConnection;

// The workspace on X11. The frontmost application is the window manager's
// active window (EWMH), or, when no window manager runs, the window with the
// input focus; its pid comes from _NET_WM_PID or else from the X-Resource
// extension. A keyboard grab is found by trying to grab the keyboard for a
// window that is never shown: the server reports another client's grab
// before it finds the window unviewable, so the probe itself never holds the
// keyboard. X11 does not say who holds it, so no holder is named. The
// desktop, panels and the window manager's own windows count as no
// application. Opens its display connection on first use and again after
// losing it. askState() asks on a thread and a connection of its own, so
// the main thread reads the service's answer meanwhile.
class X11Workspace final : public Workspace
{
public:
    X11Workspace();
    ~X11Workspace() override;

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<KeyboardGrab> keyboardGrab() override;
    // The grab probe goes out with the first questions about the front.
    DesktopState state() override;
    std::future<DesktopState> askState() override;

private:
    struct Atoms;
    struct WindowQuestions;
    struct FrontQuestions;
    struct OffThread;
    class GrabProbe;

    bool connectIfNeeded();
    // With the connection open.
    std::optional<RunningApplication> applicationInFront();
    // When no window manager says which window is active.
    std::optional<RunningApplication> applicationWithFocus(qint32 managerPid);
    std::optional<uint32_t> focusedClientWindow();
    // None for the desktop, a panel, or a window of the window manager itself.
    std::optional<RunningApplication> applicationOf(WindowQuestions& about, qint32 managerPid);

    std::unique_ptr<XcbConnection> m_connection;
    std::unique_ptr<Atoms> m_atoms;
    uint32_t m_probeWindow = 0;
    // The window manager's check window and its active window, as last asked.
    struct Front
    {
        uint32_t check = 0;
        uint32_t active = 0;
    };
    std::optional<Front> m_lastFront;
    std::unique_ptr<OffThread> m_offThread;
};
