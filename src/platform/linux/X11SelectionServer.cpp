#include "platform/linux/X11SelectionServer.h"

#include "storage/VellLog.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Small enough not to hold up the server for long with one request.
constexpr qsizetype kLargestPiece = 256 * 1024;
// Room for the header of the request that carries a piece, and then some.
constexpr qsizetype kRequestMargin = 1024;

qsizetype pieceSize(xcb_connection_t* connection)
{
    const qsizetype largestRequest = qsizetype(xcb_get_maximum_request_length(connection)) * 4;
    return std::clamp(largestRequest - kRequestMargin, kRequestMargin, kLargestPiece);
}

void notify(xcb_connection_t* connection, const xcb_selection_request_event_t& request, xcb_atom_t property)
{
    xcb_selection_notify_event_t notice{};
    notice.response_type = XCB_SELECTION_NOTIFY;
    notice.time = request.time;
    notice.requestor = request.requestor;
    notice.selection = request.selection;
    notice.target = request.target;
    notice.property = property;
    // The server reads 32 bytes, more than this event's fields take.
    std::array<char, 32> bytes{};
    std::memcpy(bytes.data(), &notice, sizeof notice);
    xcb_send_event(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, bytes.data());
}

} // namespace

X11SelectionServer::X11SelectionServer(xcb_connection_t* connection, Atoms atoms,
                                       std::chrono::milliseconds stalledAfter)
    : m_connection(connection), m_atoms(atoms), m_stalledAfter(stalledAfter), m_pieceSize(pieceSize(connection))
{}

void X11SelectionServer::answer(const xcb_selection_request_event_t& request, const X11SelectionTargets* offer,
                                xcb_timestamp_t ownedSince)
{
    // A requestor older than the conventions names no property: the target is the property.
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    const bool written = offer && write(request, property, offer, ownedSince);
    notify(m_connection, request, written ? property : xcb_atom_t(XCB_ATOM_NONE));
    xcb_flush(m_connection);
}

bool X11SelectionServer::write(const xcb_selection_request_event_t& request, xcb_atom_t property,
                               const X11SelectionTargets* offer, xcb_timestamp_t ownedSince)
{
    if (request.target == m_atoms.targets) {
        std::vector<xcb_atom_t> targets{m_atoms.targets, m_atoms.timestamp};
        if (m_atoms.saveTargets != XCB_ATOM_NONE)
            targets.push_back(m_atoms.saveTargets);
        for (const X11SelectionTarget& target : *offer)
            targets.push_back(target.target);
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                            uint32_t(targets.size()), targets.data());
        return true;
    }
    if (request.target == m_atoms.timestamp) {
        const xcb_timestamp_t time = ownedSince != XCB_CURRENT_TIME ? ownedSince : request.time;
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &time);
        return true;
    }
    // MULTIPLE is among those refused: no requestor here needs it.
    const auto found = std::find_if(offer->begin(), offer->end(),
                                    [&](const X11SelectionTarget& target) { return target.target == request.target; });
    if (found == offer->end())
        return false;
    writeData(request.requestor, property, *found);
    return true;
}

void X11SelectionServer::writeData(xcb_window_t requestor, xcb_atom_t property, const X11SelectionTarget& target)
{
    if (target.data.size() <= m_pieceSize) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, requestor, property, target.type, 8,
                            uint32_t(target.data.size()), target.data.constData());
        return;
    }
    // Watched before the announcement, so that the requestor's first deletion is seen.
    watch(requestor, true);
    const uint32_t size = uint32_t(target.data.size());
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, requestor, property, m_atoms.incr, 32, 1, &size);
    m_transfers.insert_or_assign({requestor, property},
                                 Transfer{target.type, target.data, 0, Clock::now() + m_stalledAfter});
}

void X11SelectionServer::onPropertyNotify(const xcb_property_notify_event_t& event)
{
    if (event.state != XCB_PROPERTY_DELETE)
        return;
    if (const auto found = m_transfers.find({event.window, event.atom}); found != m_transfers.end())
        sendNext(found);
}

void X11SelectionServer::sendNext(std::map<Key, Transfer>::iterator found)
{
    const auto& [requestor, property] = found->first;
    Transfer& transfer = found->second;
    const qsizetype size = std::min(m_pieceSize, transfer.data.size() - transfer.sent);
    // The empty piece after the last one ends the transfer.
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, requestor, property, transfer.type, 8, uint32_t(size),
                        transfer.data.constData() + transfer.sent);
    transfer.sent += size;
    transfer.deadline = Clock::now() + m_stalledAfter;
    if (size == 0)
        forget(found);
    xcb_flush(m_connection);
}

void X11SelectionServer::onDestroyNotify(const xcb_destroy_notify_event_t& event)
{
    std::erase_if(m_transfers, [&](const auto& transfer) { return transfer.first.first == event.window; });
}

void X11SelectionServer::dropStalled()
{
    const Clock::time_point now = Clock::now();
    for (auto transfer = m_transfers.begin(); transfer != m_transfers.end();) {
        const auto next = std::next(transfer);
        if (transfer->second.deadline < now) {
            VellLog::insert().info(QStringLiteral("a program stopped taking the clipboard's data; dropped it"));
            forget(transfer);
        }
        transfer = next;
    }
    xcb_flush(m_connection);
}

void X11SelectionServer::watch(xcb_window_t window, bool watched)
{
    const uint32_t mask =
        watched ? XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
}

void X11SelectionServer::forget(std::map<Key, Transfer>::iterator transfer)
{
    const xcb_window_t window = transfer->first.first;
    m_transfers.erase(transfer);
    const bool stillWatched = std::any_of(m_transfers.begin(), m_transfers.end(),
                                          [&](const auto& other) { return other.first.first == window; });
    if (!stillWatched)
        watch(window, false);
}
