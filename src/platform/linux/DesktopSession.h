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

    static DesktopSession detect(const Facts& facts);

    bool isWayland() const { return kind != Kind::x11 && kind != Kind::none; }
    // One line for the debug log: the kind, what is available and why.
    QString logLine() const;
};
