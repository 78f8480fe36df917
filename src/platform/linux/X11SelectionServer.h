#pragma once

#include <QByteArray>

#include <xcb/xcb.h>

#include <chrono>
#include <map>
#include <utility>
#include <vector>

// One type this program offers on a selection: the target a requestor names,
// the type its property is written with, and the bytes.
struct X11SelectionTarget
{
    xcb_atom_t target = XCB_ATOM_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    QByteArray data;
};
using X11SelectionTargets = std::vector<X11SelectionTarget>;

// Answers the requests for a selection this program owns: TARGETS, TIMESTAMP
// and every offered target; anything else is refused. TARGETS also lists
// SAVE_TARGETS when given, telling clipboard managers that the contents are
// handed over at exit. Data larger than one piece goes incrementally (INCR),
// a piece each time the requestor has taken the last, several transfers at a
// time. A transfer whose window is gone is dropped; so is one whose requestor
// took nothing for `stalledAfter`, at the next dropStalled(), which the owner
// calls after every event. Used by one thread only, the owner's, on the
// connection that owns the selection; its errors come back as events and are
// no concern here.
class X11SelectionServer
{
public:
    struct Atoms
    {
        xcb_atom_t targets = XCB_ATOM_NONE;
        xcb_atom_t timestamp = XCB_ATOM_NONE;
        xcb_atom_t incr = XCB_ATOM_NONE;
        xcb_atom_t saveTargets = XCB_ATOM_NONE; // none where nothing is handed over
    };

    X11SelectionServer(xcb_connection_t* connection, Atoms atoms, std::chrono::milliseconds stalledAfter);

    // `offer` is what the selection holds, none once given up; `ownedSince`
    // the server time of taking it, 0 when not known yet.
    void answer(const xcb_selection_request_event_t& request, const X11SelectionTargets* offer,
                xcb_timestamp_t ownedSince);
    void onPropertyNotify(const xcb_property_notify_event_t& event);
    void onDestroyNotify(const xcb_destroy_notify_event_t& event);
    // Drops the transfers whose requestor stopped taking pieces.
    void dropStalled();

private:
    using Clock = std::chrono::steady_clock;
    using Key = std::pair<xcb_window_t, xcb_atom_t>; // the requestor's window and property
    struct Transfer
    {
        xcb_atom_t type = XCB_ATOM_NONE;
        QByteArray data;
        qsizetype sent = 0;
        Clock::time_point deadline;
    };

    bool write(const xcb_selection_request_event_t& request, xcb_atom_t property, const X11SelectionTargets* offer,
               xcb_timestamp_t ownedSince);
    void writeData(xcb_window_t requestor, xcb_atom_t property, const X11SelectionTarget& target);
    void sendNext(std::map<Key, Transfer>::iterator transfer);
    void watch(xcb_window_t window, bool watched);
    void forget(std::map<Key, Transfer>::iterator transfer);

    xcb_connection_t* m_connection;
    const Atoms m_atoms;
    const std::chrono::milliseconds m_stalledAfter;
    // Larger data goes in pieces of this size: one request must hold a piece.
    const qsizetype m_pieceSize;
    std::map<Key, Transfer> m_transfers;
};
