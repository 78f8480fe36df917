#pragma once

#include "platform/linux/X11SelectionServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

class XcbConnection;

// Holds one selection (CLIPBOARD, PRIMARY) for this program from a thread of
// its own, with a connection and a window of its own, so that other programs
// get their answers at once whatever the main thread is doing. The other
// calls come from one thread, the main thread; the notice handler runs on the
// owner's thread. Destroying the owner while it holds CLIPBOARD first asks a
// running clipboard manager to keep the contents and serves it for up to
// `handOver`; then the thread stops.
class X11SelectionOwner
{
public:
    struct Timings
    {
        std::chrono::milliseconds handOver{1500};
        std::chrono::milliseconds stalledTransfer{5000};
    };
    // Another client changed the selection: the notice's sequence number on
    // this connection, and the new owner (none when the selection was given
    // up or its owner went away).
    struct Notice
    {
        uint32_t sequence = 0;
        xcb_window_t owner = XCB_NONE;
    };
    using NoticeHandler = std::function<void(const Notice&)>;

    // None when no X server answers.
    static std::unique_ptr<X11SelectionOwner> open(const char* selectionName, Timings timings, NoticeHandler onNotice);
    ~X11SelectionOwner();

    X11SelectionOwner(const X11SelectionOwner&) = delete;
    X11SelectionOwner& operator=(const X11SelectionOwner&) = delete;

    // The atoms of `names`, in one round trip for those not asked before.
    std::vector<xcb_atom_t> atoms(std::span<const std::string_view> names);

    // Offers `targets` and takes the selection; true when the server says it
    // is ours now, or, once the keys follow, as soon as the request is out.
    bool take(std::shared_ptr<const X11SelectionTargets> targets);
    // Leaves the selection to nobody.
    void release();
    // False as soon as another client has taken the selection.
    bool owns() const { return m_owned; }
    // Whether `notice` reports this program's last take() or release(), or a change before it.
    bool isOwnOrEarlier(const Notice& notice) const;

    // The connection for the keys that paste what was taken. The server
    // handles one client's requests in order, so from then on take() waits
    // for no answer: the keys, sent later, find the selection taken. With
    // XCB_CURRENT_TIME the server never refuses the taking itself.
    std::shared_ptr<XcbConnection> connectionForKeys();

private:
    struct Atoms
    {
        xcb_atom_t selection = XCB_ATOM_NONE;
        xcb_atom_t manager = XCB_ATOM_NONE; // none for selections that are not handed over
        xcb_atom_t handOverProperty = XCB_ATOM_NONE;
        xcb_atom_t stop = XCB_ATOM_NONE;
        X11SelectionServer::Atoms served;
    };

    X11SelectionOwner(std::shared_ptr<XcbConnection> x, const char* selectionName, Timings timings,
                      NoticeHandler onNotice);

    void run(std::string threadName);
    // False when the thread is to stop.
    bool handle(const xcb_generic_event_t& event);
    void onNotice(const xcb_generic_event_t& event);
    void onCleared(uint32_t sequence);
    void onHandedOver();
    std::shared_ptr<const X11SelectionTargets> offer() const;
    xcb_window_t ownerOf(xcb_atom_t selection) const;
    void handOver();
    void stop();

    std::shared_ptr<XcbConnection> m_x;
    bool m_keysFollow = false; // main thread only
    xcb_window_t m_window = XCB_NONE;
    Atoms m_atoms;
    uint8_t m_xfixesEvent = 0; // 0 without XFixes: then changes by others go unnoticed
    const Timings m_timings;
    const NoticeHandler m_onNotice;
    std::optional<X11SelectionServer> m_server; // the thread's, like m_ownedSince
    xcb_timestamp_t m_ownedSince = XCB_CURRENT_TIME;

    mutable std::mutex m_mutex;
    std::shared_ptr<const X11SelectionTargets> m_offer; // under m_mutex
    uint32_t m_ownSequence = 0;                         // written under m_mutex, by the main thread only
    std::atomic<bool> m_owned{false};
    bool m_handedOver = false; // under m_mutex
    std::condition_variable m_handedOverChanged;
    std::thread m_thread;
};
