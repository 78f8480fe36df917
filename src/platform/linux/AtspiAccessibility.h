#pragma once

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

#include <chrono>
#include <memory>

struct _AtspiAccessible;

// Accessibility through AT-SPI (libatspi). AT-SPI has no call for the focused
// element: the application is found by its pid among those registered on the
// accessibility bus, and its tree is searched for the focused element, which
// must offer the text interface. Every call is bounded by kCallTimeout and the
// whole search by kSearchLimit, so a frozen application cannot hold up the
// main thread for long. Without an accessibility bus nothing is ever answered.
class AtspiAccessibility final : public Accessibility
{
public:
    static constexpr std::chrono::milliseconds kCallTimeout{250};
    static constexpr std::chrono::milliseconds kSearchLimit{600};

    std::optional<char32_t> characterBeforeCaret(qint32 pid) override;
    bool isPasswordFieldFocused(qint32 pid) override;

    // The application whose window is active, by its accessible name and pid;
    // none when no other application's window is (this program's own cannot
    // be asked while it waits for the answer).
    std::optional<RunningApplication> activeApplication();

private:
    // The element of `pid` that has the focus, owned by the caller. The one
    // found last is kept and used again while it keeps the focus: a search
    // takes a dozen round trips on the bus, and a dictation asks at its start
    // and again at its end.
    _AtspiAccessible* focusedElement(qint32 pid);

    qint32 m_focusedPid = 0;
    std::shared_ptr<_AtspiAccessible> m_focused;
};

// The window in front where no display server property names it (GNOME and
// KDE on Wayland): the active application on the accessibility bus. Toolkits
// without accessibility (some games, old X11 programs) go unseen, and the
// text then stays on the clipboard.
class AtspiWorkspace final : public Workspace
{
public:
    explicit AtspiWorkspace(AtspiAccessibility& accessibility) : m_accessibility(accessibility) {}

    std::optional<RunningApplication> frontmostApplication() override { return m_accessibility.activeApplication(); }
    std::optional<KeyboardGrab> keyboardGrab() override { return std::nullopt; }

private:
    AtspiAccessibility& m_accessibility;
};
