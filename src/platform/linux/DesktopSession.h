#pragma once

#include <QString>
#include <QStringList>

// What kind of desktop session Vell runs in, and so which adapters serve it.
// Told from the environment the session gives its programs and, on Wayland,
// from the globals the compositor offers.
struct DesktopSession
{
    enum class Kind {
        x11,          // an X server runs the desktop
        wlroots,      // sway, Hyprland, river and others with the wlroots protocols
        gnome,        // mutter
        kde,          // KWin
        otherWayland, // a compositor without any of the above
        none,         // no display at all
    };

    // What the session tells a program that starts in it.
    struct Facts
    {
        QString waylandDisplay;        // WAYLAND_DISPLAY
        QString x11Display;            // DISPLAY
        QString sessionType;           // XDG_SESSION_TYPE
        QString currentDesktop;        // XDG_CURRENT_DESKTOP
        QString swaySocket;            // SWAYSOCK
        QString hyprlandSignature;     // HYPRLAND_INSTANCE_SIGNATURE
        bool waylandConnected = false; // a compositor answered on WAYLAND_DISPLAY
        QStringList waylandGlobals;    // the interfaces it offers

        // This process's environment; the Wayland part is left to the caller.
        static Facts fromEnvironment();
    };

    Kind kind = Kind::none;
    bool xwayland = false;        // on Wayland: an X server for X11 programs answers
    bool swayIpc = false;         // sway's IPC socket is known
    bool hyprlandIpc = false;     // Hyprland's IPC socket is known
    bool virtualKeyboard = false; // keystrokes can be posted through the virtual-keyboard protocol
    bool dataControl = false;     // the clipboard can be used without a window
    QString reason;               // why this kind, for the log

    // Which adapter serves each port in this session. On Wayland only the
    // compositor sees every key: the shortcut comes from its bindings or the
    // desktop portal, or from reading the keyboards for members of the input
    // group. Where a Wayland way is missing, the X11 adapter works through
    // XWayland for X11 applications and finds no target otherwise.
    struct Adapters
    {
        enum class Keyboard { x11, evdev };
        enum class Keystrokes { xtest, virtualKeyboard, portal };
        enum class FrontWindow { x11, swayIpc, hyprlandIpc, foreignToplevel, accessibility };
        enum class Clipboard { x11Selection, dataControl };

        Keyboard keyboard = Keyboard::x11;
        Keystrokes keystrokes = Keystrokes::xtest;
        FrontWindow frontWindow = FrontWindow::x11;
        Clipboard clipboard = Clipboard::x11Selection;
        bool portalShortcut = false; // the desktop portal's global shortcut drives dictations

        bool operator==(const Adapters&) const = default;
        // "adapters: keyboard …, keystrokes …, front window …, clipboard …", for the log.
        QString logLine() const;
    };

    static DesktopSession detect(const Facts& facts);
    Adapters adapters() const;

    bool isWayland() const { return kind != Kind::x11 && kind != Kind::none; }
    // One line for the debug log: the kind, what is available and why.
    QString logLine() const;
};
