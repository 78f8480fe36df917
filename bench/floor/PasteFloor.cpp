// The least any program can do to paste a dictation on X11, for the desktop
// latency benchmark to hold Vell against: on each release of its shortcut key
// (a key code, seen as a raw key event) it takes the clipboard with the text
// and posts Ctrl+V with XTest, then hands the text to whoever asks for it.
// Given a service, it first tells it that the audio ended and waits for the
// finished turn, as every dictation program must before it has words to
// paste: over one WebSocket kept open, speaking AssemblyAI's protocol with
// nothing checked. Nothing else: no audio, no files.
//
//   vell_paste_floor KEYCODE TEXT [ws://127.0.0.1:PORT]
//
// Prints "ready" once it watches the keyboard; runs until it is ended.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr xcb_keysym_t kKeysymControlL = 0xffe3;
constexpr xcb_keysym_t kKeysymLowerV = 0x0076;

template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&free)>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr),
        &free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The first key code that types `keysym` in the current layout.
std::optional<uint8_t> keyFor(xcb_connection_t* connection, xcb_keysym_t keysym)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const uint8_t first = setup->min_keycode;
    const uint8_t count = uint8_t(setup->max_keycode - first + 1);
    const ReplyPtr<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, first, count), nullptr), &free);
    if (!mapping)
        return std::nullopt;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perKey = mapping->keysyms_per_keycode;
    for (int key = 0; key < count; ++key)
        for (int level = 0; level < perKey; ++level)
            if (keysyms[key * perKey + level] == keysym)
                return uint8_t(first + key);
    return std::nullopt;
}

// One WebSocket to a service on this machine, blocking and unchecked.
class ServiceSocket
{
public:
    ~ServiceSocket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    bool open(int port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return false;
        const int noDelay = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        const std::string upgrade = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        if (!sendAll(upgrade.data(), upgrade.size()))
            return false;
        std::string answer;
        char c = 0;
        while (answer.find("\r\n\r\n") == std::string::npos && read(m_fd, &c, 1) == 1)
            answer += c;
        return answer.rfind("HTTP/1.1 101", 0) == 0;
    }

    // Sends a text message and reads messages until one holds `awaited`.
    bool ask(const std::string& message, const std::string& awaited)
    {
        std::vector<char> frame{char(0x81), char(0x80 | message.size())}; // short, masked with zeros
        frame.insert(frame.end(), 4, 0);
        frame.insert(frame.end(), message.begin(), message.end());
        if (message.size() > 125 || !sendAll(frame.data(), frame.size()))
            return false;
        while (true) {
            unsigned char head[2];
            if (!readAll(head, 2))
                return false;
            uint64_t length = head[1] & 0x7f;
            if (length >= 126) {
                unsigned char extended[8];
                const size_t bytes = length == 126 ? 2 : 8;
                if (!readAll(extended, bytes))
                    return false;
                length = 0;
                for (size_t i = 0; i < bytes; ++i)
                    length = length << 8 | extended[i];
            }
            std::string payload(length, '\0');
            if (!readAll(payload.data(), length))
                return false;
            if (payload.find(awaited) != std::string::npos)
                return true;
        }
    }

private:
    bool sendAll(const char* bytes, size_t count)
    {
        for (size_t sent = 0; sent < count;) {
            const ssize_t n = write(m_fd, bytes + sent, count - sent);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }

    bool readAll(void* into, size_t count)
    {
        for (size_t got = 0; got < count;) {
            const ssize_t n = read(m_fd, static_cast<char*>(into) + got, count - got);
            if (n <= 0)
                return false;
            got += size_t(n);
        }
        return true;
    }

    int m_fd = -1;
};

class Floor
{
public:
    Floor(xcb_connection_t* connection, uint32_t shortcutKey, std::string text, ServiceSocket* service)
        : m_connection(connection), m_shortcutKey(shortcutKey), m_text(std::move(text)), m_service(service)
    {
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        m_root = screen->root;
        m_owner = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, m_owner, m_root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        m_clipboard = atom(connection, "CLIPBOARD");
        m_targets = atom(connection, "TARGETS");
        for (const char* name : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT"})
            m_textTargets.push_back(atom(connection, name));
        m_control = keyFor(connection, kKeysymControlL).value_or(37);
        m_v = keyFor(connection, kKeysymLowerV).value_or(55);
    }

    bool watchKeyboard()
    {
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(m_connection, &xcb_input_id);
        if (!xinput || !xinput->present)
            return false;
        m_xinputOpcode = xinput->major_opcode;
        free(xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr));
        struct
        {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
        xcb_generic_error_t* error = xcb_request_check(
            m_connection, xcb_input_xi_select_events_checked(m_connection, m_root, 1, &selection.head));
        const bool selected = error == nullptr;
        free(error);
        return selected;
    }

    void handle(const xcb_generic_event_t* event)
    {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_GE_GENERIC) {
            const auto* raw = reinterpret_cast<const xcb_input_raw_key_release_event_t*>(event);
            if (raw->extension == m_xinputOpcode && raw->event_type == XCB_INPUT_RAW_KEY_RELEASE &&
                raw->detail == m_shortcutKey)
                paste(raw->time);
        } else if (type == XCB_SELECTION_REQUEST) {
            answer(*reinterpret_cast<const xcb_selection_request_event_t*>(event));
        }
    }

private:
    void paste(xcb_timestamp_t time)
    {
        if (m_service && !m_service->ask(R"({"type":"ForceEndpoint"})", R"("Turn")")) {
            fprintf(stderr, "the service did not answer\n");
            return;
        }
        xcb_set_selection_owner(m_connection, m_owner, m_clipboard, time);
        const std::pair<uint8_t, bool> chord[] = {{m_control, true}, {m_v, true}, {m_v, false}, {m_control, false}};
        for (const auto& [key, down] : chord)
            xcb_test_fake_input(m_connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE,
                                0, 0, 0);
        xcb_flush(m_connection);
    }

    void answer(const xcb_selection_request_event_t& request)
    {
        // Clients from before ICCCM name no property: the target is used instead.
        xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
        if (request.target == m_targets) {
            std::vector<xcb_atom_t> offered{m_targets};
            offered.insert(offered.end(), m_textTargets.begin(), m_textTargets.end());
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                                uint32_t(offered.size()), offered.data());
        } else if (isText(request.target)) {
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target, 8,
                                uint32_t(m_text.size()), m_text.data());
        } else {
            property = XCB_ATOM_NONE; // refused
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(m_connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&notify));
        xcb_flush(m_connection);
    }

    bool isText(xcb_atom_t target) const
    {
        for (xcb_atom_t candidate : m_textTargets)
            if (candidate == target)
                return true;
        return false;
    }

    xcb_connection_t* m_connection;
    uint32_t m_shortcutKey;
    std::string m_text;
    ServiceSocket* m_service;
    xcb_window_t m_root = 0;
    xcb_window_t m_owner = 0;
    xcb_atom_t m_clipboard = XCB_ATOM_NONE;
    xcb_atom_t m_targets = XCB_ATOM_NONE;
    std::vector<xcb_atom_t> m_textTargets;
    uint8_t m_control = 0;
    uint8_t m_v = 0;
    uint8_t m_xinputOpcode = 0;
};

} // namespace

int main(int argc, char** argv)
{
    const int shortcutKey = argc == 3 || argc == 4 ? atoi(argv[1]) : 0;
    if (shortcutKey < 8 || shortcutKey > 255) {
        fprintf(stderr, "usage: %s KEYCODE TEXT [ws://127.0.0.1:PORT]\n", argv[0]);
        return 2;
    }
    ServiceSocket service;
    const std::string prefix = "ws://127.0.0.1:";
    if (argc == 4 && (std::string(argv[3]).rfind(prefix, 0) != 0 || !service.open(atoi(argv[3] + prefix.size())))) {
        fprintf(stderr, "no service at %s\n", argv[3]);
        return 1;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        fprintf(stderr, "no X server\n");
        return 1;
    }
    Floor floor(connection, uint32_t(shortcutKey), argv[2], argc == 4 ? &service : nullptr);
    if (!floor.watchKeyboard()) {
        fprintf(stderr, "no XInput2 raw key events\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        floor.handle(event);
        free(event);
    }
    xcb_disconnect(connection);
    return 0;
}
