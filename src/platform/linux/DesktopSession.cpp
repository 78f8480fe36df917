#include "platform/linux/DesktopSession.h"

#include <algorithm>

namespace {

QString kindName(DesktopSession::Kind kind)
{
    switch (kind) {
    case DesktopSession::Kind::x11:
        return QStringLiteral("X11");
    case DesktopSession::Kind::wlroots:
        return QStringLiteral("Wayland (wlroots)");
    case DesktopSession::Kind::gnome:
        return QStringLiteral("Wayland (GNOME)");
    case DesktopSession::Kind::kde:
        return QStringLiteral("Wayland (KDE)");
    case DesktopSession::Kind::otherWayland:
        return QStringLiteral("Wayland");
    case DesktopSession::Kind::none:
        return QStringLiteral("no display");
    }
    return {};
}

bool desktopIs(const QString& currentDesktop, QLatin1String name)
{
    // A colon-separated list, such as "ubuntu:GNOME".
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return std::any_of(names.cbegin(), names.cend(),
                       [&](const QString& entry) { return entry.compare(name, Qt::CaseInsensitive) == 0; });
}

} // namespace

DesktopSession::Facts DesktopSession::Facts::fromEnvironment()
{
    Facts facts;
    facts.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    facts.x11Display = qEnvironmentVariable("DISPLAY");
    facts.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE");
    facts.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    facts.swaySocket = qEnvironmentVariable("SWAYSOCK");
    facts.hyprlandSignature = qEnvironmentVariable("HYPRLAND_INSTANCE_SIGNATURE");
    return facts;
}

DesktopSession DesktopSession::detect(const Facts& facts)
{
    DesktopSession session;
    if (!facts.waylandConnected) {
        if (facts.x11Display.isEmpty()) {
            session.kind = Kind::none;
            session.reason = QStringLiteral("neither WAYLAND_DISPLAY nor DISPLAY reaches a display server");
        } else {
            session.kind = Kind::x11;
            session.reason = facts.waylandDisplay.isEmpty()
                                 ? QStringLiteral("DISPLAY is set and WAYLAND_DISPLAY is not")
                                 : QStringLiteral("no compositor answers on WAYLAND_DISPLAY");
        }
        return session;
    }

    const auto offers = [&](const char* global) { return facts.waylandGlobals.contains(QLatin1String(global)); };
    session.xwayland = !facts.x11Display.isEmpty();
    session.swayIpc = !facts.swaySocket.isEmpty();
    session.hyprlandIpc = !facts.hyprlandSignature.isEmpty();
    session.virtualKeyboard = offers("zwp_virtual_keyboard_manager_v1");
    session.dataControl = offers("zwlr_data_control_manager_v1");

    if (session.swayIpc) {
        session.kind = Kind::wlroots;
        session.reason = QStringLiteral("SWAYSOCK is set");
    } else if (session.hyprlandIpc) {
        session.kind = Kind::wlroots;
        session.reason = QStringLiteral("HYPRLAND_INSTANCE_SIGNATURE is set");
    } else if (desktopIs(facts.currentDesktop, QLatin1String("GNOME")) || offers("gtk_shell1")) {
        session.kind = Kind::gnome;
        session.reason = QStringLiteral("XDG_CURRENT_DESKTOP or the compositor's globals name GNOME");
    } else if (desktopIs(facts.currentDesktop, QLatin1String("KDE")) || offers("org_kde_plasma_shell")) {
        session.kind = Kind::kde;
        session.reason = QStringLiteral("XDG_CURRENT_DESKTOP or the compositor's globals name KDE");
    } else if (offers("zwlr_layer_shell_v1") || session.dataControl || session.virtualKeyboard) {
        session.kind = Kind::wlroots;
        session.reason = QStringLiteral("the compositor offers wlroots protocols");
    } else {
        session.kind = Kind::otherWayland;
        session.reason = QStringLiteral("a compositor answers on WAYLAND_DISPLAY");
    }
    return session;
}

QString DesktopSession::logLine() const
{
    QStringList offers;
    if (isWayland()) {
        offers << (xwayland ? QStringLiteral("XWayland") : QStringLiteral("no XWayland"));
        if (swayIpc)
            offers << QStringLiteral("sway IPC");
        if (hyprlandIpc)
            offers << QStringLiteral("Hyprland IPC");
        offers << (virtualKeyboard ? QStringLiteral("virtual keyboard") : QStringLiteral("no virtual keyboard"));
        offers << (dataControl ? QStringLiteral("data control") : QStringLiteral("no data control"));
    }
    QString line = QStringLiteral("session: %1, because %2").arg(kindName(kind), reason);
    if (!offers.isEmpty())
        line += QStringLiteral("; ") + offers.join(QStringLiteral(", "));
    return line;
}

DesktopSession::Adapters DesktopSession::adapters() const
{
    Adapters chosen;
    if (!isWayland())
        return chosen;
    chosen.keyboard = Adapters::Keyboard::evdev;
    if (kind == Kind::wlroots) {
        if (virtualKeyboard)
            chosen.keystrokes = Adapters::Keystrokes::virtualKeyboard;
        chosen.frontWindow = swayIpc       ? Adapters::FrontWindow::swayIpc
                             : hyprlandIpc ? Adapters::FrontWindow::hyprlandIpc
                                           : Adapters::FrontWindow::foreignToplevel;
    } else {
        // GNOME and KDE name no window to other programs; the accessibility
        // bus knows the active application, native or through XWayland.
        chosen.keystrokes = Adapters::Keystrokes::portal;
        chosen.frontWindow = Adapters::FrontWindow::accessibility;
        chosen.portalShortcut = true;
    }
    // GNOME offers no data control; mutter hands an XWayland owner's clipboard on.
    if (dataControl)
        chosen.clipboard = Adapters::Clipboard::dataControl;
    return chosen;
}

QString DesktopSession::Adapters::logLine() const
{
    static const char* const kKeyboards[] = {"X11", "evdev"};
    static const char* const kKeystrokes[] = {"XTest", "virtual keyboard", "RemoteDesktop portal"};
    static const char* const kFrontWindows[] = {"X11", "sway IPC", "Hyprland IPC",
                                                "foreign toplevel (no process: no paste)", "accessibility bus"};
    static const char* const kClipboards[] = {"X11 selection", "data control"};
    return QStringLiteral("adapters: keyboard %1, keystrokes %2, front window %3, clipboard %4%5")
        .arg(QLatin1String(kKeyboards[int(keyboard)]), QLatin1String(kKeystrokes[int(keystrokes)]),
             QLatin1String(kFrontWindows[int(frontWindow)]), QLatin1String(kClipboards[int(clipboard)]),
             portalShortcut ? QStringLiteral(", shortcut from the desktop portal") : QString());
}
