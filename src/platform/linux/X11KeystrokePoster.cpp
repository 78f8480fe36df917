#include "platform/linux/X11KeystrokePoster.h"

#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/XcbConnection.h"
#include "storage/VellLog.h"

#include <xcb/xtest.h>

#include <vector>

X11KeystrokePoster::X11KeystrokePoster(PostedKeystrokes& posted) : m_posted(posted) {}

X11KeystrokePoster::~X11KeystrokePoster() = default;

bool X11KeystrokePoster::connectIfNeeded()
{
    if (m_connection && !m_connection->hasError())
        return true;
    m_connection = XcbConnection::open();
    if (m_connection && !m_connection->hasXTest()) {
        VellLog::insert().error(QStringLiteral("The X server has no XTest extension; keystrokes cannot be posted"));
        m_connection.reset();
    }
    return m_connection != nullptr;
}

void X11KeystrokePoster::post(uint8_t x11KeyCode, bool down)
{
    m_posted.add(x11KeyCode, down);
    xcb_test_fake_input(m_connection->get(), down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, x11KeyCode, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
}

bool X11KeystrokePoster::postChord(ModifierKeys modifiers, quint16 keyCode)
{
    const auto key = X11KeyCodes::fromModel(keyCode);
    if (!key || !connectIfNeeded())
        return false;

    // A modifier the user still holds would turn Ctrl+V into Ctrl+Alt+V: let it go first.
    const std::bitset<256> down = m_connection->keysDown();
    for (size_t code = 0; code < down.size(); ++code)
        if (down.test(code) && X11KeyCodes::modifierOf(uint8_t(code)))
            post(uint8_t(code), false);

    std::vector<uint8_t> held;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (modifiers.intersects(kind.mask))
            held.push_back(X11KeyCodes::leftKeyOf(kind.kind));
    for (uint8_t code : held)
        post(code, true);
    post(*key, true);
    post(*key, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        post(*it, false);
    xcb_flush(m_connection->get());
    return !m_connection->hasError();
}
