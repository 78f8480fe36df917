#pragma once

#include "platform/Workspace.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

// The application in front, asked from the compositor's own IPC on Wayland,
// where no X11 property names it: sway's (get_tree) or Hyprland's
// (activewindow). Each call is one short round trip on a local socket, with a
// deadline, so a compositor that hangs cannot freeze Vell. Neither tells of
// a keyboard grab. Main thread only.
class CompositorWorkspace final : public Workspace
{
public:
    enum class Ipc { sway, hyprland };

    static constexpr std::chrono::milliseconds kDeadline{500};

    CompositorWorkspace(Ipc ipc, QString socketPath);

    // sway's socket from SWAYSOCK; Hyprland's from its instance signature,
    // in $XDG_RUNTIME_DIR/hypr or, for older versions, /tmp/hypr.
    static std::optional<CompositorWorkspace> forSway();
    static std::optional<CompositorWorkspace> forHyprland();

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<KeyboardGrab> keyboardGrab() override { return std::nullopt; }

    // What the replies mean; none when nothing with a window is focused.
    static std::optional<RunningApplication> focusedInSwayTree(const QByteArray& json);
    static std::optional<RunningApplication> activeHyprlandWindow(const QByteArray& json);

private:
    std::optional<QByteArray> ask() const;

    Ipc m_ipc;
    QString m_socketPath;
};
