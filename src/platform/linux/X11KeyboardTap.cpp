#include "platform/linux/X11KeyboardTap.h"

#include "platform/linux/PostedKeystrokes.h"
#include "platform/linux/X11KeyCodes.h"
#include "platform/linux/X11Keymap.h"
#include "platform/linux/XcbConnection.h"
#include "storage/VellLog.h"

#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>

namespace {

// Keysyms of the keys that pick another level of the layout: AltGr and its kin.
constexpr xcb_keysym_t kTypingKeysyms[] = {
    0xfe03, // ISO_Level3_Shift
    0xfe11, // ISO_Level5_Shift
    0xff7e, // Mode_switch
};

using EventPtr = std::unique_ptr<xcb_generic_event_t, decltype(&std::free)>;

// X11 core modifier masks of the four kinds.
uint16_t x11Mask(ModifierKind kind)
{
    switch (kind) {
    case ModifierKind::control:
        return XCB_MOD_MASK_CONTROL;
    case ModifierKind::alt:
        return XCB_MOD_MASK_1;
    case ModifierKind::shift:
        return XCB_MOD_MASK_SHIFT;
    case ModifierKind::super:
        return XCB_MOD_MASK_4;
    }
    return 0;
}

uint16_t x11Mask(ModifierKeys keys)
{
    uint16_t mask = 0;
    for (const ModifierKindInfo& kind : kModifierKinds)
        if (keys.intersects(kind.mask))
            mask |= x11Mask(kind.kind);
    return mask;
}

// The notifier may be the sender of the signal being handled right now.
void dropNotifier(std::unique_ptr<QSocketNotifier>& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier.release()->deleteLater();
}

} // namespace

X11KeyboardTap::X11KeyboardTap(PostedKeystrokes& posted, QObject* parent) : KeyboardTap(parent), m_posted(posted) {}

X11KeyboardTap::~X11KeyboardTap()
{
    remove();
}

bool X11KeyboardTap::hasKeyboardAccess() const
{
    auto probe = XcbConnection::open();
    return probe && probe->xinputOpcode().has_value();
}

bool X11KeyboardTap::install(Handler handler)
{
    remove();
    auto monitor = XcbConnection::open();
    auto grabber = XcbConnection::open();
    if (!monitor || !grabber)
        return false;
    const auto opcode = monitor->xinputOpcode();
    if (!opcode)
        return false;

    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    xcb_generic_error_t* error = xcb_request_check(
        monitor->get(), xcb_input_xi_select_events_checked(monitor->get(), monitor->root(), 1, &selection.head));
    if (error) {
        std::free(error);
        return false;
    }

    m_handler = std::move(handler);
    m_xinputOpcode = *opcode;
    m_down = monitor->keysDown();
    m_monitor = std::move(monitor);
    m_grabber = std::move(grabber);
    m_monitorNotifier = std::make_unique<QSocketNotifier>(m_monitor->fileDescriptor(), QSocketNotifier::Read);
    connect(m_monitorNotifier.get(), &QSocketNotifier::activated, this, &X11KeyboardTap::readMonitor);
    m_grabberNotifier = std::make_unique<QSocketNotifier>(m_grabber->fileDescriptor(), QSocketNotifier::Read);
    connect(m_grabberNotifier.get(), &QSocketNotifier::activated, this, &X11KeyboardTap::readGrabber);
    applyGrabs(m_swallowed);
    // Replies above may have queued events that the socket will not announce again.
    readMonitor();
    return m_monitor != nullptr;
}

void X11KeyboardTap::remove()
{
    dropNotifier(m_monitorNotifier);
    dropNotifier(m_grabberNotifier);
    if (m_grabber && !m_grabber->hasError()) {
        ungrab(m_swallowed);
        xcb_flush(m_grabber->get());
    }
    m_grabber.reset();
    m_monitor.reset();
    m_handler = nullptr;
}

void X11KeyboardTap::setSwallowedKeys(const QList<SwallowedKey>& keys)
{
    if (keys == m_swallowed)
        return;
    // Only what changed: a dictation takes Escape and lets go of it again,
    // and each grab the server checks is a round trip on the way to a paste.
    QList<SwallowedKey> released;
    QList<SwallowedKey> taken;
    for (const SwallowedKey& key : std::as_const(m_swallowed))
        if (!keys.contains(key))
            released.append(key);
    for (const SwallowedKey& key : keys)
        if (!m_swallowed.contains(key))
            taken.append(key);
    m_swallowed = keys;
    if (!m_grabber)
        return;
    ungrab(released);
    // Letting go of a key lets go of it under every modifier, also of
    // another grab of the same key that stays.
    for (const SwallowedKey& kept : keys)
        if (!taken.contains(kept) && std::any_of(released.cbegin(), released.cend(),
                                                 [&](const SwallowedKey& key) { return key.keyCode == kept.keyCode; }))
            taken.append(kept);
    applyGrabs(taken);
}

void X11KeyboardTap::ungrab(const QList<SwallowedKey>& keys)
{
    for (const SwallowedKey& key : keys)
        if (const auto code = X11KeyCodes::fromModel(key.keyCode))
            xcb_ungrab_key(m_grabber->get(), *code, m_grabber->root(), XCB_MOD_MASK_ANY);
}

void X11KeyboardTap::applyGrabs(const QList<SwallowedKey>& keys)
{
    if (!m_grabber)
        return;
    // A grab matches the modifier state exactly, so Caps Lock and Num Lock get
    // variants of their own.
    static constexpr uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                 XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    xcb_connection_t* connection = m_grabber->get();
    const auto grab = [&](uint16_t modifiers, uint8_t code) {
        return xcb_grab_key_checked(connection, 0, m_grabber->root(), modifiers, code, XCB_GRAB_MODE_ASYNC,
                                    XCB_GRAB_MODE_ASYNC);
    };
    const auto anyRefused = [&](const QList<xcb_void_cookie_t>& cookies) {
        bool refused = false;
        for (const xcb_void_cookie_t& cookie : cookies) {
            if (xcb_generic_error_t* error = xcb_request_check(connection, cookie)) {
                refused = true;
                std::free(error);
            }
        }
        return refused;
    };
    for (const SwallowedKey& key : keys) {
        const auto code = X11KeyCodes::fromModel(key.keyCode);
        if (!code || X11KeyCodes::isModifierKey(*code)) // grabbing a modifier would break AltGr and friends
            continue;
        QList<xcb_void_cookie_t> plain;
        if (key.anyModifiers) {
            // One combination held by another client (a window manager's
            // Alt+Escape) refuses the whole grab; then each other one is
            // taken alone, and only the key without modifiers must succeed.
            if (!anyRefused({grab(XCB_MOD_MASK_ANY, *code)}))
                continue;
            QList<xcb_void_cookie_t> others;
            for (uint16_t modifiers = 0; modifiers <= 0xFF; ++modifiers)
                (modifiers & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2) ? others : plain).append(grab(modifiers, *code));
            anyRefused(others);
        } else {
            for (uint16_t variant : kLockVariants)
                plain.append(grab(x11Mask(key.kinds) | variant, *code));
        }
        if (anyRefused(plain))
            VellLog::hotkey().error(
                QStringLiteral("Another program holds key %1; it will also reach the focused window").arg(key.keyCode));
    }
    xcb_flush(connection);
}

void X11KeyboardTap::readGrabber()
{
    // Grabbed key events arrive here only so that they reach no one else; the
    // raw events on the monitor connection report them.
    while (m_grabber) {
        EventPtr event(xcb_poll_for_event(m_grabber->get()), &std::free);
        if (!event)
            break;
    }
    if (m_grabber && m_grabber->hasError())
        lose();
}

void X11KeyboardTap::readMonitor()
{
    while (m_monitor) {
        EventPtr event(xcb_poll_for_event(m_monitor->get()), &std::free);
        if (!event)
            break;
        const int type = event->response_type & 0x7f;
        if (type == XCB_MAPPING_NOTIFY) {
            Q_EMIT layoutChanged();
            continue;
        }
        if (type != XCB_GE_GENERIC)
            continue;
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event.get());
        if (generic->extension != m_xinputOpcode)
            continue;
        if (generic->event_type == XCB_INPUT_RAW_KEY_PRESS || generic->event_type == XCB_INPUT_RAW_KEY_RELEASE) {
            const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event.get());
            handleRawKey(generic->event_type == XCB_INPUT_RAW_KEY_PRESS, uint8_t(raw->detail));
        }
    }
    if (m_monitor && m_monitor->hasError())
        lose();
}

void X11KeyboardTap::handleRawKey(bool down, uint8_t x11KeyCode)
{
    const bool wasDown = m_down.test(x11KeyCode);
    m_down.set(x11KeyCode, down);

    KeyEvent event;
    event.keyCode = X11KeyCodes::toModel(x11KeyCode);
    event.isPosted = m_posted.take(x11KeyCode, down);
    event.isAutoRepeat = down && wasDown;
    for (size_t code = 0; code < m_down.size(); ++code)
        if (m_down.test(code))
            if (const auto modifier = X11KeyCodes::modifierOf(uint8_t(code)))
                event.held |= *modifier;
    event.platformFlags = x11Mask(event.held);
    if (X11KeyCodes::isModifierKey(x11KeyCode)) {
        if (event.isAutoRepeat) // a held modifier repeats on X11; nothing changed
            return;
        event.type = KeyEvent::Type::modifiersChanged;
    } else {
        event.type = down ? KeyEvent::Type::keyDown : KeyEvent::Type::keyUp;
    }
    if (m_handler)
        m_handler(event);
}

void X11KeyboardTap::lose()
{
    VellLog::hotkey().error(QStringLiteral("Lost the connection to the X server"));
    dropNotifier(m_monitorNotifier);
    dropNotifier(m_grabberNotifier);
    m_monitor.reset();
    m_grabber.reset();
    m_handler = nullptr;
    Q_EMIT disabled();
}

WindowKey X11KeyboardTap::windowKey(quint32 nativeScanCode, int qtKey) const
{
    return X11KeyCodes::windowKey(nativeScanCode, qtKey);
}

ModifierKeys X11KeyboardTap::typingModifiers() const
{
    // A connection of its own: a reply awaited on the monitor's would leave
    // key events queued where its socket notifier cannot see them.
    const std::unique_ptr<XcbConnection> x = XcbConnection::open();
    if (!x || x->hasError())
        return {};
    const Keymap keymap = Keymap::read(x->get());
    ModifierKeys typing;
    for (int key = keymap.minKeyCode; key <= 255; ++key) {
        const std::optional<ModifierKeys> modifier = X11KeyCodes::modifierOf(uint8_t(key));
        if (modifier && std::any_of(std::begin(kTypingKeysyms), std::end(kTypingKeysyms),
                                    [&](xcb_keysym_t keysym) { return keymap.types(uint8_t(key), keysym); }))
            typing |= *modifier;
    }
    return typing;
}
