#include "platform/linux/X11ClipboardReader.h"

#include "platform/linux/XcbConnection.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
using Event = Reply<xcb_generic_event_t>;

// Selection protocol requests that owners list among their targets; they are not data.
constexpr const char* kPseudoTargets[] = {"TARGETS",   "MULTIPLE",         "TIMESTAMP",       "SAVE_TARGETS",
                                          "DELETE",    "INSERT_SELECTION", "INSERT_PROPERTY", "_GTK_SAVE_TARGETS",
                                          "ATOM_PAIR", "TARGET_SIZES"};

QByteArray atomName(xcb_connection_t* c, xcb_atom_t atom)
{
    Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr), &std::free);
    if (!reply)
        return {};
    return QByteArray(xcb_get_atom_name_name(reply.get()), xcb_get_atom_name_name_length(reply.get()));
}

// The next event that `wanted` accepts, dropping others; none by `deadline`.
Event waitFor(xcb_connection_t* c, Clock::time_point deadline, const std::function<bool(xcb_generic_event_t*)>& wanted)
{
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if (wanted(event))
                return Event(event, &std::free);
            std::free(event);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (xcb_connection_has_error(c) || left.count() <= 0)
            return Event(nullptr, &std::free);
        pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&descriptor, 1, int(left.count()));
    }
}

class Reader
{
public:
    Reader(XcbConnection& x, xcb_atom_t selection) : m_c(x.get()), m_selection(selection)
    {
        m_window = xcb_generate_id(m_c);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, x.root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        m_property = x.atom("VELL_CLIPBOARD");
        m_incr = x.atom("INCR");
    }
    ~Reader() { xcb_destroy_window(m_c, m_window); }

    // The owner's answer for `target`, whole, or none by `deadline`.
    std::optional<QByteArray> convert(xcb_atom_t target, Clock::time_point deadline)
    {
        xcb_delete_property(m_c, m_window, m_property);
        xcb_convert_selection(m_c, m_window, m_selection, target, m_property, XCB_CURRENT_TIME);
        xcb_flush(m_c);
        const Event notified = waitFor(m_c, deadline, [this](xcb_generic_event_t* event) {
            if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
            return notify->requestor == m_window && notify->selection == m_selection;
        });
        if (!notified || reinterpret_cast<xcb_selection_notify_event_t*>(notified.get())->property == XCB_NONE)
            return std::nullopt;

        xcb_atom_t type = XCB_ATOM_NONE;
        std::optional<QByteArray> value = take(type);
        if (!value || type != m_incr)
            return value;
        // Large contents come in pieces: each one written after the last was taken, an empty one ends them.
        QByteArray whole;
        for (;;) {
            const Event written = waitFor(m_c, deadline, [this](xcb_generic_event_t* event) {
                if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
                return notify->window == m_window && notify->atom == m_property &&
                       notify->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!written)
                return std::nullopt;
            const std::optional<QByteArray> piece = take(type);
            if (!piece)
                return std::nullopt;
            if (piece->isEmpty())
                return whole;
            whole += *piece;
        }
    }

private:
    // Reads and deletes the property the owner wrote.
    std::optional<QByteArray> take(xcb_atom_t& type)
    {
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 1, m_window, m_property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
                nullptr),
            &std::free);
        if (!reply)
            return std::nullopt;
        type = reply->type;
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }

    xcb_connection_t* m_c;
    xcb_atom_t m_selection;
    xcb_window_t m_window = 0;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    xcb_atom_t m_incr = XCB_ATOM_NONE;
};

} // namespace

bool X11ClipboardReader::isPseudoTarget(QStringView target)
{
    return std::any_of(std::begin(kPseudoTargets), std::end(kPseudoTargets),
                       [&](const char* pseudo) { return target == QLatin1String(pseudo); });
}

ClipboardContents X11ClipboardReader::read(const char* selectionName, Limits limits)
{
    const Clock::time_point end = Clock::now() + limits.whole;
    ClipboardContents contents;
    const std::unique_ptr<XcbConnection> x = XcbConnection::open();
    if (!x)
        return contents;
    xcb_connection_t* c = x->get();
    const xcb_atom_t selection = x->atom(selectionName);
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free);
    if (!owner || owner->owner == XCB_NONE)
        return contents;

    Reader reader(*x, selection);
    const auto deadlineForOne = [&] { return std::min(Clock::now() + limits.perType, end); };
    const std::optional<QByteArray> targets = reader.convert(x->atom("TARGETS"), deadlineForOne());
    if (!targets)
        return contents;
    const auto* atoms = reinterpret_cast<const xcb_atom_t*>(targets->constData());
    for (qsizetype i = 0; i < targets->size() / qsizetype(sizeof(xcb_atom_t)) && Clock::now() < end; ++i) {
        const QByteArray name = atomName(c, atoms[i]);
        if (name.isEmpty() || isPseudoTarget(QString::fromLatin1(name)))
            continue;
        // One that does not answer in time is left out; the rest still get their turn.
        if (const std::optional<QByteArray> data = reader.convert(atoms[i], deadlineForOne()); data && !data->isEmpty())
            contents.append({QString::fromLatin1(name), *data});
    }
    return contents;
}
