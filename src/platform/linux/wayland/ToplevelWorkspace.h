#pragma once

#include "platform/Workspace.h"
#include "platform/linux/wayland/ForeignToplevelWatch.h"

// The window in front on a wlroots compositor without an IPC Vell knows, from
// the foreign-toplevel protocol: its app id names the application, but no
// process is known (pid 0), so nothing is pasted there; the text goes to the
// clipboard instead of possibly into the wrong window. Main thread only.
class ToplevelWorkspace final : public Workspace
{
public:
    explicit ToplevelWorkspace(WaylandConnection& connection) : m_watch(connection) {}

    bool isAvailable() const { return m_watch.isAvailable(); }

    std::optional<RunningApplication> frontmostApplication() override
    {
        const std::optional<ForeignToplevelWatch::Toplevel> front = m_watch.activated();
        if (!front)
            return std::nullopt;
        // A title would name the document and carry its content.
        const std::optional<QString> appId = front->appId.isEmpty() ? std::nullopt : std::optional(front->appId);
        return RunningApplication{0, appId, appId};
    }

    std::optional<KeyboardGrab> keyboardGrab() override { return std::nullopt; }

private:
    ForeignToplevelWatch m_watch;
};
