#include "platform/linux/XcbConnection.h"

#include <xcb/res.h>
#include <xcb/xinput.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>

std::unique_ptr<XcbConnection> XcbConnection::open()
{
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(connection, screens.data->root));
}

XcbConnection::XcbConnection(xcb_connection_t* connection, xcb_window_t root) : m_connection(connection), m_root(root)
{}

XcbConnection::~XcbConnection()
{
    xcb_disconnect(m_connection);
}

int XcbConnection::fileDescriptor() const
{
    return xcb_get_file_descriptor(m_connection);
}

bool XcbConnection::hasError() const
{
    return xcb_connection_has_error(m_connection) != 0;
}

std::optional<uint8_t> XcbConnection::xinputOpcode()
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(m_connection, &xcb_input_id);
    if (!extension || !extension->present)
        return std::nullopt;
    auto cookie = xcb_input_xi_query_version(m_connection, 2, 2);
    std::unique_ptr<xcb_input_xi_query_version_reply_t, decltype(&std::free)> version(
        xcb_input_xi_query_version_reply(m_connection, cookie, nullptr), &std::free);
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 2))
        return std::nullopt;
    return extension->major_opcode;
}

bool XcbConnection::hasXTest()
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(m_connection, &xcb_test_id);
    return extension && extension->present;
}

std::bitset<256> XcbConnection::keysDown()
{
    return keysDown(xcb_query_keymap(m_connection));
}

std::bitset<256> XcbConnection::keysDown(xcb_query_keymap_cookie_t asked)
{
    std::bitset<256> down;
    std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> keymap(
        xcb_query_keymap_reply(m_connection, asked, nullptr), &std::free);
    if (!keymap)
        return down;
    for (int byte = 0; byte < 32; ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (keymap->keys[byte] & (1 << bit))
                down.set(byte * 8 + bit);
    return down;
}

XcbConnection::PidQuestion XcbConnection::askClientPid(xcb_window_t window)
{
    const xcb_query_extension_reply_t* res = xcb_get_extension_data(m_connection, &xcb_res_id);
    if (!res || !res->present)
        return {m_connection, std::nullopt};
    if (!m_resVersionAsked) {
        std::free(xcb_res_query_version_reply(m_connection, xcb_res_query_version(m_connection, 1, 2), nullptr));
        m_resVersionAsked = true;
    }
    const xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    return {m_connection, xcb_res_query_client_ids(m_connection, 1, &query).sequence};
}

XcbConnection::PidQuestion::~PidQuestion()
{
    if (m_sequence)
        xcb_discard_reply(m_connection, *m_sequence);
}

int32_t XcbConnection::PidQuestion::answer()
{
    const std::optional<unsigned int> sequence = std::exchange(m_sequence, std::nullopt);
    if (!sequence)
        return 0;
    std::unique_ptr<xcb_res_query_client_ids_reply_t, decltype(&std::free)> reply(
        xcb_res_query_client_ids_reply(m_connection, xcb_res_query_client_ids_cookie_t{*sequence}, nullptr),
        &std::free);
    if (!reply)
        return 0;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it))
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
            xcb_res_client_id_value_value_length(it.data) >= 1)
            return int32_t(*xcb_res_client_id_value_value(it.data));
    return 0;
}

xcb_atom_t XcbConnection::atom(const char* name)
{
    if (const auto known = m_atoms.find(std::string_view(name)); known != m_atoms.end())
        return known->second;
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    if (!reply)
        return XCB_ATOM_NONE;
    m_atoms.emplace(name, reply->atom);
    return reply->atom;
}

std::vector<xcb_atom_t> XcbConnection::atoms(std::span<const std::string_view> names)
{
    std::vector<std::optional<xcb_intern_atom_cookie_t>> asked;
    for (std::string_view name : names)
        asked.push_back(m_atoms.contains(name)
                            ? std::nullopt
                            : std::optional(xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.data())));
    std::vector<xcb_atom_t> atoms;
    for (size_t i = 0; i < names.size(); ++i) {
        if (asked[i]) {
            std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
                xcb_intern_atom_reply(m_connection, *asked[i], nullptr), &std::free);
            if (reply)
                m_atoms.emplace(names[i], reply->atom);
        }
        const auto known = m_atoms.find(names[i]);
        atoms.push_back(known != m_atoms.end() ? known->second : xcb_atom_t(XCB_ATOM_NONE));
    }
    return atoms;
}
