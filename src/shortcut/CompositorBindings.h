#pragma once

#include "shortcut/Shortcut.h"

#include <QStringList>

#include <optional>

// The lines of a Wayland compositor's configuration that make it call Vell
// for the user's shortcut: `<command> press` when it goes down and
// `<command> release` when it comes up, so holding it is push-to-talk.
namespace CompositorBindings {

enum class Compositor { sway, hyprland };

// The name of the file the lines go into, for the user ("your sway config").
QString configName(Compositor compositor);

// The xkb keysym name of a key shortcut's key ("space", "d", "F5",
// "Return"), from the name it was recorded with; none for a key without one.
std::optional<QString> keysymOf(const Shortcut& shortcut);

// None when the shortcut has a key the compositor has no name for.
std::optional<QStringList> lines(Compositor compositor, const Shortcut& shortcut, const QString& command);

} // namespace CompositorBindings
