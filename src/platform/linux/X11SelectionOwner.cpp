#include "platform/linux/X11SelectionOwner.h"

#include "platform/linux/XcbConnection.h"
#include "storage/VellLog.h"

#include <pthread.h>
#include <xcb/xfixes.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

using Event = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

// XFixes's first event number once it reports every change of the
// selection's owner; 0 when the server lacks it.
uint8_t watchOwners(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t selection)
{
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return 0;
    // The server takes XFixes requests only from a client that has asked for its version.
    std::free(xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 1, 0), nullptr));
    xcb_xfixes_select_selection_input(connection, window, selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    return xfixes->first_event;
}

// "vell-clipboard", "vell-primary": short enough for a thread's name.
std::string threadName(std::string_view selectionName)
{
    std::string name = "vell-";
    for (char c : selectionName)
        name += char(std::tolower(static_cast<unsigned char>(c)));
    return name.substr(0, 15);
}

} // namespace

std::unique_ptr<X11SelectionOwner> X11SelectionOwner::open(const char* selectionName, Timings timings,
                                                           NoticeHandler onNotice)
{
    std::unique_ptr<XcbConnection> x = XcbConnection::open();
    if (!x)
        return nullptr;
    return std::unique_ptr<X11SelectionOwner>(
        new X11SelectionOwner(std::move(x), selectionName, timings, std::move(onNotice)));
}

X11SelectionOwner::X11SelectionOwner(std::shared_ptr<XcbConnection> x, const char* selectionName, Timings timings,
                                     NoticeHandler onNotice)
    : m_x(std::move(x)), m_timings(timings), m_onNotice(std::move(onNotice))
{
    xcb_connection_t* c = m_x->get();
    // Clipboard managers keep CLIPBOARD only; PRIMARY goes with its owner.
    const bool handsOver = std::string_view(selectionName) == "CLIPBOARD";
    const std::string_view names[] = {selectionName, "CLIPBOARD_MANAGER", "VELL_SAVED_TARGETS",
                                      "VELL_STOP",   "TARGETS",           "TIMESTAMP",
                                      "INCR",        "SAVE_TARGETS"};
    const std::vector<xcb_atom_t> atoms = m_x->atoms(names);
    const xcb_atom_t none = XCB_ATOM_NONE;
    m_atoms = {atoms[0], handsOver ? atoms[1] : none, atoms[2], atoms[3],
               X11SelectionServer::Atoms{atoms[4], atoms[5], atoms[6], handsOver ? atoms[7] : none}};

    m_window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, m_x->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    m_xfixesEvent = watchOwners(c, m_window, m_atoms.selection);
    if (m_xfixesEvent == 0)
        VellLog::insert().info(QStringLiteral("the X server lacks XFixes; clipboard changes by other apps go unseen"));
    m_server.emplace(c, m_atoms.served, timings.stalledTransfer);
    xcb_flush(c);
    m_thread = std::thread(&X11SelectionOwner::run, this, threadName(selectionName));
}

X11SelectionOwner::~X11SelectionOwner()
{
    handOver();
    stop();
}

std::vector<xcb_atom_t> X11SelectionOwner::atoms(std::span<const std::string_view> names)
{
    return m_x->atoms(names);
}

bool X11SelectionOwner::take(std::shared_ptr<const X11SelectionTargets> targets)
{
    xcb_connection_t* c = m_x->get();
    uint32_t sequence = 0;
    {
        const std::lock_guard lock(m_mutex);
        // The contents first: requests come as soon as the selection is ours.
        m_offer = std::move(targets);
        sequence = xcb_set_selection_owner(c, m_window, m_atoms.selection, XCB_CURRENT_TIME).sequence;
        m_ownSequence = sequence;
        m_owned = true;
    }
    if (m_keysFollow) {
        xcb_flush(c);
        return !m_x->hasError();
    }
    if (ownerOf(m_atoms.selection) == m_window)
        return true;
    const std::lock_guard lock(m_mutex);
    if (m_ownSequence == sequence)
        m_owned = false;
    return false;
}

void X11SelectionOwner::release()
{
    {
        const std::lock_guard lock(m_mutex);
        m_offer.reset();
        m_ownSequence = xcb_set_selection_owner(m_x->get(), XCB_NONE, m_atoms.selection, XCB_CURRENT_TIME).sequence;
        m_owned = false;
    }
    // A round trip: whoever asks next finds the selection free.
    ownerOf(m_atoms.selection);
}

bool X11SelectionOwner::isOwnOrEarlier(const Notice& notice) const
{
    // Sequence numbers wrap around. The notice of a release carries the release's own number.
    const auto age = int32_t(notice.sequence - m_ownSequence);
    return age < 0 || (age == 0 && notice.owner == XCB_NONE);
}

std::shared_ptr<XcbConnection> X11SelectionOwner::connectionForKeys()
{
    m_keysFollow = true;
    return m_x;
}

xcb_window_t X11SelectionOwner::ownerOf(xcb_atom_t selection) const
{
    xcb_connection_t* c = m_x->get();
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
    return reply ? reply->owner : xcb_window_t(XCB_NONE);
}

std::shared_ptr<const X11SelectionTargets> X11SelectionOwner::offer() const
{
    const std::lock_guard lock(m_mutex);
    return m_offer;
}

void X11SelectionOwner::run(std::string threadName)
{
    pthread_setname_np(pthread_self(), threadName.c_str());
    while (Event event{xcb_wait_for_event(m_x->get()), &std::free}) {
        if (!handle(*event))
            return;
        m_server->dropStalled();
    }
    VellLog::insert().error(QStringLiteral("lost the X server connection that served the clipboard"));
    m_owned = false;
    onHandedOver(); // nobody is left to wait for
}

bool X11SelectionOwner::handle(const xcb_generic_event_t& event)
{
    switch (event.response_type & 0x7f) {
    case 0:
        // Mostly a requestor's window gone while it was being answered.
        VellLog::insert().debug(QStringLiteral("the X server refused a clipboard request (error %1)")
                                    .arg(reinterpret_cast<const xcb_generic_error_t&>(event).error_code));
        return true;
    case XCB_SELECTION_REQUEST: {
        const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
        const std::shared_ptr<const X11SelectionTargets> offered =
            request.selection == m_atoms.selection ? offer() : nullptr;
        m_server->answer(request, offered.get(), m_ownedSince);
        return true;
    }
    case XCB_PROPERTY_NOTIFY:
        m_server->onPropertyNotify(reinterpret_cast<const xcb_property_notify_event_t&>(event));
        return true;
    case XCB_DESTROY_NOTIFY:
        m_server->onDestroyNotify(reinterpret_cast<const xcb_destroy_notify_event_t&>(event));
        return true;
    case XCB_SELECTION_CLEAR:
        if (reinterpret_cast<const xcb_selection_clear_event_t&>(event).selection == m_atoms.selection)
            onCleared(event.full_sequence);
        return true;
    case XCB_SELECTION_NOTIFY:
        // The one conversion this window asks for is the handover.
        if (reinterpret_cast<const xcb_selection_notify_event_t&>(event).selection == m_atoms.manager)
            onHandedOver();
        return true;
    case XCB_CLIENT_MESSAGE:
        return reinterpret_cast<const xcb_client_message_event_t&>(event).type != m_atoms.stop;
    }
    if (m_xfixesEvent != 0 && event.response_type == m_xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY)
        onNotice(event);
    return true;
}

void X11SelectionOwner::onNotice(const xcb_generic_event_t& event)
{
    const auto& notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
    if (notice.selection != m_atoms.selection)
        return;
    if (notice.owner == m_window) {
        // This program's own taking, counted by its caller; the time answers TIMESTAMP.
        m_ownedSince = notice.selection_timestamp;
        return;
    }
    m_onNotice({event.full_sequence, notice.owner});
}

void X11SelectionOwner::onCleared(uint32_t sequence)
{
    const std::lock_guard lock(m_mutex);
    // A loss from before the last take() is over.
    if (int32_t(sequence - m_ownSequence) >= 0)
        m_owned = false;
}

void X11SelectionOwner::onHandedOver()
{
    {
        const std::lock_guard lock(m_mutex);
        m_handedOver = true;
    }
    m_handedOverChanged.notify_all();
}

void X11SelectionOwner::handOver()
{
    if (m_atoms.manager == XCB_ATOM_NONE || !m_owned || ownerOf(m_atoms.manager) == XCB_NONE)
        return;
    xcb_connection_t* c = m_x->get();
    std::unique_lock lock(m_mutex);
    // Without the property the manager takes every target.
    xcb_delete_property(c, m_window, m_atoms.handOverProperty);
    xcb_convert_selection(c, m_window, m_atoms.manager, m_atoms.served.saveTargets, m_atoms.handOverProperty,
                          XCB_CURRENT_TIME);
    xcb_flush(c);
    if (!m_handedOverChanged.wait_for(lock, m_timings.handOver, [this] { return m_handedOver; }))
        VellLog::insert().info(QStringLiteral("the clipboard manager didn't take the clipboard in time"));
}

void X11SelectionOwner::stop()
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = m_window;
    message.type = m_atoms.stop;
    // To this very window: the thread's wait for events ends with it.
    xcb_send_event(m_x->get(), 0, m_window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(m_x->get());
    m_thread.join();
}
