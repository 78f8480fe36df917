#include "platform/linux/X11Workspace.h"

#include "platform/linux/XcbConnection.h"

#include <QByteArray>
#include <QList>
#include <QThreadPool>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// Deeper than any real window tree; stops a walk up a broken one.
constexpr int kMaxTreeDepth = 64;

// A property asked now and read later, so that questions that don't depend
// on each other share one round trip. An unread answer is thrown away.
class PropertyQuery
{
public:
    PropertyQuery(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
        : m_connection(connection), m_cookie(xcb_get_property(connection, 0, window, name, type, 0, 4096))
    {}
    ~PropertyQuery()
    {
        if (!m_answer)
            xcb_discard_reply(m_connection, m_cookie.sequence);
    }
    PropertyQuery(const PropertyQuery&) = delete;
    PropertyQuery& operator=(const PropertyQuery&) = delete;

    // The property's bytes; absent when the window is gone or has no such property.
    const std::optional<QByteArray>& bytes()
    {
        if (m_answer)
            return *m_answer;
        ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection, m_cookie, nullptr), &std::free);
        if (!reply || reply->type == XCB_ATOM_NONE)
            return m_answer.emplace(std::nullopt);
        return m_answer.emplace(QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                                           xcb_get_property_value_length(reply.get())));
    }

    // The first 32-bit value, as a window or a number.
    std::optional<uint32_t> cardinal()
    {
        const std::optional<QByteArray>& value = bytes();
        if (!value || value->size() < 4)
            return std::nullopt;
        uint32_t first = 0;
        memcpy(&first, value->constData(), sizeof first);
        return first;
    }

private:
    xcb_connection_t* m_connection;
    xcb_get_property_cookie_t m_cookie;
    std::optional<std::optional<QByteArray>> m_answer;
};

std::optional<QByteArray> property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    return PropertyQuery(connection, window, name, type).bytes();
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

// A workspace of its own for askState(), used by one thread at a time: the
// pool runs one question after another.
struct X11Workspace::OffThread
{
    OffThread()
    {
        pool.setMaxThreadCount(1);
        pool.setExpiryTimeout(-1); // a thread started for every question would cost what it saves
    }

    X11Workspace workspace;
    QThreadPool pool; // after the workspace, so that it is gone first, once its questions are answered
};

X11Workspace::X11Workspace() = default;

X11Workspace::~X11Workspace() = default;

std::future<DesktopState> X11Workspace::askState()
{
    if (!m_offThread)
        m_offThread = std::make_unique<OffThread>();
    auto answer = std::make_shared<std::promise<DesktopState>>();
    // The window in front when the dictation began is the best guess of the window in front now.
    m_offThread->pool.start([answer, &workspace = m_offThread->workspace, lastFront = m_lastFront] {
        if (lastFront)
            workspace.m_lastFront = lastFront;
        answer->set_value(workspace.state());
    });
    return answer->get_future();
}

bool X11Workspace::connectIfNeeded()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = XcbConnection::open();
    if (!m_connection)
        return false;
    xcb_connection_t* c = m_connection->get();
    // In one round trip: the workspace asking ahead connects on the way to the first paste.
    const std::string_view names[] = {"_NET_SUPPORTING_WM_CHECK",
                                      "_NET_ACTIVE_WINDOW",
                                      "_NET_WM_PID",
                                      "_NET_WM_NAME",
                                      "UTF8_STRING",
                                      "_NET_WM_WINDOW_TYPE",
                                      "_NET_WM_WINDOW_TYPE_DESKTOP",
                                      "_NET_WM_WINDOW_TYPE_DOCK"};
    const std::vector<xcb_atom_t> atoms = m_connection->atoms(names);
    m_atoms =
        std::make_unique<Atoms>(Atoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]});
    m_probeWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_probeWindow, m_connection->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    return !m_connection->hasError();
}

// What tells whether a window is an application's, and which, asked all at once.
struct X11Workspace::WindowQuestions
{
    WindowQuestions(XcbConnection& x, const Atoms& atoms, xcb_window_t window)
        : window(window), type(x.get(), window, atoms.windowType, XCB_ATOM_ATOM),
          pid(x.get(), window, atoms.wmPid, XCB_ATOM_CARDINAL),
          wmClass(x.get(), window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING), clientPid(x.askClientPid(window))
    {}

    xcb_window_t window;
    PropertyQuery type;
    PropertyQuery pid;
    PropertyQuery wmClass;
    XcbConnection::PidQuestion clientPid;
};

// Whether the window manager still runs, and what its active window is.
struct X11Workspace::FrontQuestions
{
    FrontQuestions(XcbConnection& x, const Atoms& atoms, xcb_window_t check, xcb_window_t active)
        : check(check), active(active), checkOnCheck(x.get(), check, atoms.supportingWmCheck, XCB_ATOM_WINDOW),
          managerPid(x.askClientPid(check)), connection(x.get())
    {
        if (active == XCB_NONE)
            return;
        attributes = xcb_get_window_attributes(connection, active);
        window.emplace(x, atoms, active);
    }
    FrontQuestions(const FrontQuestions&) = delete;
    FrontQuestions& operator=(const FrontQuestions&) = delete;
    ~FrontQuestions()
    {
        if (attributes)
            xcb_discard_reply(connection, attributes->sequence);
    }

    // Whether the active window is still there.
    bool exists()
    {
        if (!attributes)
            return false;
        const ReplyPtr<xcb_get_window_attributes_reply_t> reply(
            xcb_get_window_attributes_reply(connection, *std::exchange(attributes, std::nullopt), nullptr), &std::free);
        return reply != nullptr;
    }

    xcb_window_t check;
    xcb_window_t active;
    PropertyQuery checkOnCheck;
    XcbConnection::PidQuestion managerPid;
    std::optional<WindowQuestions> window; // none without an active window

private:
    xcb_connection_t* connection;
    std::optional<xcb_get_window_attributes_cookie_t> attributes;
};

// Questions that don't depend on each other go out together: two round trips
// on the way to every paste, where asking one at a time took ten.
std::optional<RunningApplication> X11Workspace::frontmostApplication()
{
    if (!connectIfNeeded())
        return std::nullopt;
    return applicationInFront();
}

std::optional<RunningApplication> X11Workspace::applicationInFront()
{
    XcbConnection& x = *m_connection;
    xcb_connection_t* c = x.get();
    PropertyQuery checkOnRoot(c, x.root(), m_atoms->supportingWmCheck, XCB_ATOM_WINDOW);
    PropertyQuery activeOnRoot(c, x.root(), m_atoms->activeWindow, XCB_ATOM_WINDOW);
    // Most often the manager and the window in front are still those of the
    // last question: what tells about them goes out now, in the same round
    // trip, and is thrown away if they changed.
    std::optional<FrontQuestions> about;
    if (m_lastFront)
        about.emplace(x, *m_atoms, m_lastFront->check, m_lastFront->active);
    const std::optional<uint32_t> check = checkOnRoot.cardinal();
    const std::optional<uint32_t> active = activeOnRoot.cardinal();
    if (!check || *check == XCB_NONE) {
        m_lastFront.reset();
        return applicationWithFocus(0);
    }
    m_lastFront = Front{*check, active.value_or(XCB_NONE)};
    // A wrong guess throws its answers away before the new questions go out.
    if (!about || about->check != m_lastFront->check || about->active != m_lastFront->active)
        about.emplace(x, *m_atoms, m_lastFront->check, m_lastFront->active);

    // The check window is the manager's own: it points to itself while the
    // manager lives and is gone once it has exited, leaving the root's
    // properties stale.
    const bool managerRuns = about->checkOnCheck.cardinal() == check;
    const qint32 manager = about->managerPid.answer();
    if (!active || *active == XCB_NONE) {
        if (managerRuns && active)
            return std::nullopt;
        return applicationWithFocus(manager);
    }
    if (!managerRuns)
        return applicationWithFocus(manager);
    // The manager may leave the property naming a window that is gone; its
    // input focus is then on a window of its own.
    if (!about->exists())
        return std::nullopt;
    return applicationOf(*about->window, manager);
}

std::optional<RunningApplication> X11Workspace::applicationWithFocus(qint32 managerPid)
{
    const std::optional<uint32_t> window = focusedClientWindow();
    if (!window)
        return std::nullopt;
    WindowQuestions about(*m_connection, *m_atoms, *window);
    return applicationOf(about, managerPid);
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

std::optional<RunningApplication> X11Workspace::applicationOf(WindowQuestions& about, qint32 managerPid)
{
    // The desktop and the panels take no paste.
    if (const std::optional<QByteArray>& types = about.type.bytes()) {
        const auto* atoms = reinterpret_cast<const xcb_atom_t*>(types->constData());
        for (qsizetype i = 0; i < types->size() / qsizetype(sizeof(xcb_atom_t)); ++i)
            if (atoms[i] == m_atoms->desktopType || atoms[i] == m_atoms->dockType)
                return std::nullopt;
    }
    // Nor do the window manager's own windows, which have the focus while no application has.
    const qint32 serverPid = about.clientPid.answer();
    if (managerPid != 0 && serverPid == managerPid)
        return std::nullopt;

    RunningApplication application;
    // The server knows the pid of every local client, also of those that do not publish it.
    const std::optional<uint32_t> published = about.pid.cardinal();
    application.pid = published && *published > 0 ? qint32(*published) : serverPid;
    // WM_CLASS holds the instance name and then the class name, each ending in a NUL.
    if (const std::optional<QByteArray>& wmClass = about.wmClass.bytes()) {
        const QList<QByteArray> parts = wmClass->split('\0');
        if (parts.size() >= 2 && !parts[1].isEmpty())
            application.windowClass = QString::fromLatin1(parts[1]);
    }
    // The class names the application; a title would name the document and carry its content.
    application.name = application.windowClass;
    if (!application.name) {
        xcb_connection_t* c = m_connection->get();
        if (const auto title = property(c, about.window, m_atoms->wmName, m_atoms->utf8String);
            title && !title->isEmpty())
            application.name = QString::fromUtf8(*title);
        else if (const auto legacy = property(c, about.window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
                 legacy && !legacy->isEmpty())
            application.name = QString::fromLatin1(*legacy);
    }
    return application;
}

// Asks now and is answered on demand, so that the question shares a round
// trip with others. A probe that took the keyboard gives it back at once.
class X11Workspace::GrabProbe
{
public:
    explicit GrabProbe(X11Workspace& workspace)
        : m_connection(workspace.m_connection->get()),
          m_cookie(xcb_grab_keyboard(m_connection, 0, workspace.m_probeWindow, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                     XCB_GRAB_MODE_ASYNC))
    {}
    GrabProbe(const GrabProbe&) = delete;
    GrabProbe& operator=(const GrabProbe&) = delete;
    ~GrabProbe() { answer(); }

    std::optional<KeyboardGrab> answer()
    {
        if (m_answer)
            return *m_answer;
        m_answer.emplace();
        ReplyPtr<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(m_connection, m_cookie, nullptr), &std::free);
        if (!reply)
            return std::nullopt;
        switch (reply->status) {
        case XCB_GRAB_STATUS_SUCCESS:
            xcb_ungrab_keyboard(m_connection, XCB_CURRENT_TIME);
            xcb_flush(m_connection);
            break;
        case XCB_GRAB_STATUS_ALREADY_GRABBED:
        case XCB_GRAB_STATUS_FROZEN:
            // X11 does not tell who holds a grab, and the focused window is
            // often not the holder (a menu, a locker): name nobody rather
            // than the wrong one.
            m_answer->emplace();
            break;
        default: // not viewable: nobody else holds the keyboard
            break;
        }
        return *m_answer;
    }

private:
    xcb_connection_t* m_connection;
    xcb_grab_keyboard_cookie_t m_cookie;
    std::optional<std::optional<KeyboardGrab>> m_answer;
};

std::optional<KeyboardGrab> X11Workspace::keyboardGrab()
{
    if (!connectIfNeeded())
        return std::nullopt;
    return GrabProbe(*this).answer();
}

DesktopState X11Workspace::state()
{
    if (!connectIfNeeded())
        return {};
    GrabProbe grab(*this);
    DesktopState state{applicationInFront(), std::nullopt};
    // Asked regardless, where nothing is in front the answer goes unused.
    if (state.front)
        state.grab = grab.answer();
    return state;
}
