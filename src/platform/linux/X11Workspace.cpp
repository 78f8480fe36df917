#include "platform/linux/X11Workspace.h"

#include "platform/linux/XcbConnection.h"

#include <QByteArray>
#include <QList>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// Deeper than any real window tree; stops a walk up a broken one.
constexpr int kMaxTreeDepth = 64;

// A property's bytes; absent when the window is gone or has no such property.
std::optional<QByteArray> property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    ReplyPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, name, type, 0, 4096), nullptr),
        &std::free);
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

std::optional<uint32_t> cardinal(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    const std::optional<QByteArray> bytes = property(connection, window, name, type);
    if (!bytes || bytes->size() < 4)
        return std::nullopt;
    uint32_t value = 0;
    memcpy(&value, bytes->constData(), sizeof value);
    return value;
}

} // namespace

struct X11Workspace::Atoms
{
    xcb_atom_t supportingWmCheck;
    xcb_atom_t activeWindow;
    xcb_atom_t wmPid;
    xcb_atom_t wmName;
    xcb_atom_t utf8String;
    xcb_atom_t windowType;
    xcb_atom_t desktopType;
    xcb_atom_t dockType;
};

X11Workspace::X11Workspace() = default;

X11Workspace::~X11Workspace() = default;

bool X11Workspace::connectIfNeeded()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = XcbConnection::open();
    if (!m_connection)
        return false;
    xcb_connection_t* c = m_connection->get();
    m_atoms = std::make_unique<Atoms>(
        Atoms{m_connection->atom("_NET_SUPPORTING_WM_CHECK"), m_connection->atom("_NET_ACTIVE_WINDOW"),
              m_connection->atom("_NET_WM_PID"), m_connection->atom("_NET_WM_NAME"), m_connection->atom("UTF8_STRING"),
              m_connection->atom("_NET_WM_WINDOW_TYPE"), m_connection->atom("_NET_WM_WINDOW_TYPE_DESKTOP"),
              m_connection->atom("_NET_WM_WINDOW_TYPE_DOCK")});
    m_probeWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_probeWindow, m_connection->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    return !m_connection->hasError();
}

bool X11Workspace::windowManagerRuns()
{
    // The check window is the manager's own: it points to itself while the
    // manager lives and is gone once it has exited, leaving the root's
    // properties stale.
    xcb_connection_t* c = m_connection->get();
    const auto check = cardinal(c, m_connection->root(), m_atoms->supportingWmCheck, XCB_ATOM_WINDOW);
    return check && *check != XCB_NONE && cardinal(c, *check, m_atoms->supportingWmCheck, XCB_ATOM_WINDOW) == check;
}

std::optional<uint32_t> X11Workspace::activeWindow()
{
    if (windowManagerRuns()) {
        if (const auto active =
                cardinal(m_connection->get(), m_connection->root(), m_atoms->activeWindow, XCB_ATOM_WINDOW)) {
            if (*active == XCB_NONE)
                return std::nullopt;
            // The manager may leave the property naming a window that is gone;
            // its input focus is then on a window of its own.
            xcb_connection_t* c = m_connection->get();
            ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, *active), nullptr), &std::free);
            if (!attributes)
                return std::nullopt;
            return *active;
        }
    }
    return focusedClientWindow();
}

std::optional<uint32_t> X11Workspace::focusedClientWindow()
{
    xcb_connection_t* c = m_connection->get();
    ReplyPtr<xcb_get_input_focus_reply_t> focus(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr),
                                                &std::free);
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == m_connection->root())
        return std::nullopt;
    // Toolkits may focus an inner window; the application's properties sit on its top-level window.
    xcb_window_t window = focus->focus;
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        if (property(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING))
            return window;
        ReplyPtr<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr), &std::free);
        if (!tree || tree->parent == XCB_NONE || tree->parent == tree->root)
            break;
        window = tree->parent;
    }
    return focus->focus;
}

qint32 X11Workspace::pidOf(uint32_t window)
{
    xcb_connection_t* c = m_connection->get();
    if (const auto pid = cardinal(c, window, m_atoms->wmPid, XCB_ATOM_CARDINAL); pid && *pid > 0)
        return qint32(*pid);
    // The server knows the pid of every local client, also of those that do not publish it.
    return m_connection->clientPidOf(window);
}

std::optional<RunningApplication> X11Workspace::applicationOf(uint32_t window)
{
    xcb_connection_t* c = m_connection->get();
    RunningApplication application;
    application.pid = pidOf(window);
    // WM_CLASS holds the instance name and then the class name, each ending in a NUL.
    if (const auto wmClass = property(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING)) {
        const QList<QByteArray> parts = wmClass->split('\0');
        if (parts.size() >= 2 && !parts[1].isEmpty())
            application.windowClass = QString::fromLatin1(parts[1]);
    }
    // The class names the application; a title would name the document and carry its content.
    application.name = application.windowClass;
    if (!application.name) {
        if (const auto title = property(c, window, m_atoms->wmName, m_atoms->utf8String); title && !title->isEmpty())
            application.name = QString::fromUtf8(*title);
        else if (const auto legacy = property(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
                 legacy && !legacy->isEmpty())
            application.name = QString::fromLatin1(*legacy);
    }
    return application;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication()
{
    if (!connectIfNeeded())
        return std::nullopt;
    const std::optional<uint32_t> window = activeWindow();
    if (!window || isDesktopShell(*window))
        return std::nullopt;
    return applicationOf(*window);
}

bool X11Workspace::isDesktopShell(uint32_t window)
{
    // The desktop and the panels take no paste.
    xcb_connection_t* c = m_connection->get();
    if (const std::optional<QByteArray> types = property(c, window, m_atoms->windowType, XCB_ATOM_ATOM)) {
        const auto* atoms = reinterpret_cast<const xcb_atom_t*>(types->constData());
        for (qsizetype i = 0; i < types->size() / qsizetype(sizeof(xcb_atom_t)); ++i)
            if (atoms[i] == m_atoms->desktopType || atoms[i] == m_atoms->dockType)
                return true;
    }
    // Nor do the window manager's own windows, which have the focus while no application has.
    const auto check = cardinal(c, m_connection->root(), m_atoms->supportingWmCheck, XCB_ATOM_WINDOW);
    const qint32 managerPid = check ? m_connection->clientPidOf(*check) : 0;
    return managerPid != 0 && m_connection->clientPidOf(window) == managerPid;
}

std::optional<KeyboardGrab> X11Workspace::keyboardGrab()
{
    if (!connectIfNeeded())
        return std::nullopt;
    xcb_connection_t* c = m_connection->get();
    ReplyPtr<xcb_grab_keyboard_reply_t> reply(
        xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 0, m_probeWindow, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr),
        &std::free);
    if (!reply)
        return std::nullopt;
    switch (reply->status) {
    case XCB_GRAB_STATUS_SUCCESS:
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
        return std::nullopt;
    case XCB_GRAB_STATUS_ALREADY_GRABBED:
    case XCB_GRAB_STATUS_FROZEN:
        break;
    default: // not viewable: nobody else holds the keyboard
        return std::nullopt;
    }
    // X11 does not tell who holds a grab, and the focused window is often
    // not the holder (a menu, a locker): name nobody rather than the wrong one.
    return KeyboardGrab{};
}
