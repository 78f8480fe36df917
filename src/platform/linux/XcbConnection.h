#pragma once

#include <xcb/xcb.h>

#include <bitset>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One connection to the X server named by $DISPLAY. Unlike Xlib, XCB reports
// a lost connection as state instead of ending the process.
class XcbConnection
{
public:
    // A connection, or none when no X server answers.
    static std::unique_ptr<XcbConnection> open();
    ~XcbConnection();

    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    xcb_connection_t* get() const { return m_connection; }
    xcb_window_t root() const { return m_root; }
    int fileDescriptor() const;
    bool hasError() const;

    // The atom named `name`, made if need be; XCB_ATOM_NONE when the server did
    // not answer. Asked once per connection: an atom never changes.
    xcb_atom_t atom(const char* name);
    // atom() for each of `names`, in one round trip for those not asked before.
    std::vector<xcb_atom_t> atoms(std::span<const std::string_view> names);

    // The XInput major opcode when XInput 2.2 is there.
    std::optional<uint8_t> xinputOpcode();
    bool hasXTest();

    // Which X11 key codes are down right now, or when `asked` was.
    std::bitset<256> keysDown();
    std::bitset<256> keysDown(xcb_query_keymap_cookie_t asked);

    // The process of the local client that made `window`, as the server
    // knows it (0 when it cannot tell), asked now and answered later, so
    // that the question shares a round trip with others. An unanswered
    // question is thrown away.
    class PidQuestion
    {
    public:
        PidQuestion(xcb_connection_t* connection, std::optional<unsigned int> sequence)
            : m_connection(connection), m_sequence(sequence)
        {}
        PidQuestion(PidQuestion&& other) noexcept
            : m_connection(other.m_connection), m_sequence(std::exchange(other.m_sequence, std::nullopt))
        {}
        PidQuestion& operator=(PidQuestion&&) = delete;
        ~PidQuestion();

        // The pid; 0 when the server cannot tell. Answers once.
        int32_t answer();

    private:
        xcb_connection_t* m_connection;
        std::optional<unsigned int> m_sequence; // none without the extension, or once answered
    };
    PidQuestion askClientPid(xcb_window_t window);

private:
    explicit XcbConnection(xcb_connection_t* connection, xcb_window_t root);

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    std::map<std::string, xcb_atom_t, std::less<>> m_atoms;
    // XRes answers queries only after its version was asked, once per connection.
    bool m_resVersionAsked = false;
};
