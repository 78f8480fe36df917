#include "platform/linux/X11KeystrokePoster.h"

#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/X11Keymap.h"
#include "platform/linux/XcbConnection.h"
#include "storage/VellLog.h"

#include <sched.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr xcb_keysym_t kKeysymLowerV = 0x0076;
constexpr xcb_keysym_t kKeysymUpperV = 0x0056;
constexpr xcb_keysym_t kKeysymControlL = 0xffe3;
constexpr xcb_keysym_t kKeysymShiftL = 0xffe1;
constexpr xcb_keysym_t kKeysymInsert = 0xff63;
constexpr uint8_t kInsertKeyCode = 118; // where a PC keyboard has Insert
// How long the keys preparePaste() found held stand for those held now: no
// hand presses or lets go of a modifier faster.
constexpr qint64 kKeysAskedForMs = 30;
} // namespace

X11KeystrokePoster::X11KeystrokePoster(PostedKeystrokes& posted) : m_posted(posted) {}

X11KeystrokePoster::~X11KeystrokePoster() = default;

bool X11KeystrokePoster::connectIfNeeded()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = XcbConnection::open();
    m_keymap.reset();
    m_keysAsked.reset();
    if (m_connection && !m_connection->hasXTest()) {
        VellLog::insert().error(QStringLiteral("The X server has no XTest extension; keystrokes cannot be posted"));
        m_connection.reset();
    }
    return m_connection != nullptr;
}

const Keymap& X11KeystrokePoster::keymap()
{
    // The server tells every client when the mapping changes; this connection
    // asks for nothing else, so its events are those notices.
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection->get())) {
        if ((event->response_type & ~0x80) == XCB_MAPPING_NOTIFY)
            m_keymap.reset();
        std::free(event);
    }
    if (!m_keymap)
        m_keymap = Keymap::read(m_connection->get());
    return *m_keymap;
}

void X11KeystrokePoster::post(xcb_connection_t* connection, uint8_t x11KeyCode, bool down)
{
    m_posted.add(x11KeyCode, down);
    xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, x11KeyCode, XCB_CURRENT_TIME, XCB_NONE, 0,
                        0, 0);
}

void X11KeystrokePoster::releaseHeldModifiers(xcb_connection_t* connection, const std::vector<uint8_t>& modifierKeys)
{
    // A modifier the user still holds would turn Ctrl+V into Ctrl+Alt+V. The
    // server accepts this release even for a key held on another keyboard
    // than the XTest one; the user's own release later is then dropped.
    const std::bitset<256> down = keysDown();
    for (uint8_t key : modifierKeys)
        if (down.test(key))
            post(connection, key, false);
}

void X11KeystrokePoster::preparePaste()
{
    if (!connectIfNeeded())
        return;
    // Asked a moment ago (at the end of the audio), the answer is likely in
    // already and stands long enough for the paste that follows: asking again
    // would mean waiting for the server once more.
    if (m_keysAsked && m_keysAsked->since.elapsed() < kKeysAskedForMs / 2)
        return;
    if (m_keysAsked)
        xcb_discard_reply(m_connection->get(), m_keysAsked->cookie.sequence);
    m_keysAsked = KeysAsked{xcb_query_keymap(m_connection->get()), QElapsedTimer()};
    m_keysAsked->since.start();
    xcb_flush(m_connection->get());
}

std::bitset<256> X11KeystrokePoster::keysDown()
{
    const std::optional<KeysAsked> asked = std::exchange(m_keysAsked, std::nullopt);
    if (asked && asked->since.elapsed() < kKeysAskedForMs)
        return m_connection->keysDown(asked->cookie);
    if (asked)
        xcb_discard_reply(m_connection->get(), asked->cookie.sequence);
    return m_connection->keysDown();
}

bool X11KeystrokePoster::postChord(ModifierKeys modifiers, quint16 keyCode)
{
    const auto key = X11KeyCodes::fromModel(keyCode);
    if (!key || !connectIfNeeded())
        return false;

    releaseHeldModifiers(m_connection->get(), keymap().modifierKeys);
    std::vector<uint8_t> held;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (modifiers.intersects(kind.mask))
            held.push_back(X11KeyCodes::leftKeyOf(kind.kind));
    tap(m_connection->get(), held, *key);
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}

bool X11KeystrokePoster::paste(PasteKeys keys)
{
    if (!connectIfNeeded())
        return false;
    const Keymap& keymap = this->keymap();
    const uint8_t control = keymap.keyFor(kKeysymControlL).value_or(X11KeyCodes::leftKeyOf(ModifierKind::control));
    const uint8_t shift = keymap.keyFor(kKeysymShiftL).value_or(X11KeyCodes::leftKeyOf(ModifierKind::shift));
    // AZERTY, Dvorak and friends put V elsewhere; fall back to the ANSI V position.
    const uint8_t v = keymap.keyFor(kKeysymLowerV, kKeysymUpperV).value_or(*X11KeyCodes::fromModel(9));

    XcbConnection& sender = m_pasteConnection && !m_pasteConnection->hasError() ? *m_pasteConnection : *m_connection;
    releaseHeldModifiers(sender.get(), keymap.modifierKeys);
    switch (keys) {
    case PasteKeys::ctrlV:
        tap(sender.get(), {control}, v);
        break;
    case PasteKeys::ctrlShiftV:
        tap(sender.get(), {control, shift}, v);
        break;
    case PasteKeys::shiftInsert:
        tap(sender.get(), {shift}, keymap.keyFor(kKeysymInsert).value_or(kInsertKeyCode));
        break;
    }
    xcb_flush(sender.get());
    // Writing the keys woke the X server, often onto this core, where it
    // would wait for the bookkeeping that follows a paste: it goes first.
    sched_yield();
    return !sender.hasError();
}

void X11KeystrokePoster::sendPasteKeysOn(std::shared_ptr<XcbConnection> connection)
{
    // XTest must be asked for on each connection that uses it.
    if (connection && !connection->hasXTest()) {
        VellLog::insert().error(QStringLiteral("the clipboard's X connection lacks XTest; paste keys go separately"));
        connection.reset();
    }
    m_pasteConnection = std::move(connection);
}

bool X11KeystrokePoster::postBlankKey()
{
    if (!connectIfNeeded())
        return false;
    // Read afresh: a layout switched since the last time may have filled the key.
    const std::optional<uint8_t> blank = Keymap::read(m_connection->get()).highestBlankKey();
    if (!blank)
        return false;
    post(m_connection->get(), *blank, true);
    post(m_connection->get(), *blank, false);
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}

void X11KeystrokePoster::tap(xcb_connection_t* connection, const std::vector<uint8_t>& modifierKeys, uint8_t key)
{
    for (uint8_t code : modifierKeys)
        post(connection, code, true);
    post(connection, key, true);
    post(connection, key, false);
    for (auto it = modifierKeys.rbegin(); it != modifierKeys.rend(); ++it)
        post(connection, *it, false);
}
