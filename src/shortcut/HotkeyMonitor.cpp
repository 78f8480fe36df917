#include "shortcut/HotkeyMonitor.h"

#include "platform/SessionEvents.h"
#include "shortcut/StoredKeyCodes.h"
#include "storage/VellLog.h"

namespace {

const VellLog& logger()
{
    return VellLog::hotkey();
}

} // namespace

HotkeyMonitor::HotkeyMonitor(KeyboardTap& tap, SessionEvents& session, Timings timings, QObject* parent)
    : QObject(parent), m_tap(tap), m_session(session), m_timings(timings)
{
    m_retryTimer.setInterval(m_timings.retryInterval);
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        if (install())
            m_retryTimer.stop();
    });
    // Losing the hook (on X11: the display connection) is repaired like a wake.
    connect(&m_tap, &KeyboardTap::disabled, this, [this] { reinstall(QStringLiteral("keyboard tap lost")); });
}

HotkeyMonitor::~HotkeyMonitor()
{
    m_tap.remove();
}

void HotkeyMonitor::setShortcut(const Shortcut& shortcut)
{
    m_shortcut = shortcut;
    updateSwallowedKeys();
}

void HotkeyMonitor::setPaused(bool paused)
{
    if (paused)
        ++m_pauses;
    else if (m_pauses > 0)
        --m_pauses;
    updateSwallowedKeys();
}

void HotkeyMonitor::setCapturesEscape(bool captures)
{
    m_capturesEscape = captures;
    updateSwallowedKeys();
}

void HotkeyMonitor::start()
{
    if (!m_observing) {
        m_observing = true;
        connect(&m_session, &SessionEvents::wokeUp, this, &HotkeyMonitor::reinstall);
        connect(&m_session, &SessionEvents::screenUnlocked, this, &HotkeyMonitor::reinstall);
    }
    if (m_tap.isInstalled())
        return;
    if (!install()) {
        m_retryTimer.start();
    }
}

bool HotkeyMonitor::install()
{
    if (!m_tap.hasKeyboardAccess())
        return false;
    if (!m_tap.install([this](const KeyEvent& event) { return handle(event); })) {
        logger().error(QStringLiteral("Event tap creation failed"));
        return false;
    }
    updateSwallowedKeys();
    setInstalled(true);
    logger().info(QStringLiteral("Event tap installed"));
    return true;
}

void HotkeyMonitor::reinstall(const QString& reason)
{
    logger().info(QStringLiteral("Reinstalling event tap: ") + reason);
    m_tap.remove();
    m_active = false;
    setInstalled(false);
    start();
}

void HotkeyMonitor::setInstalled(bool installed)
{
    if (m_isInstalled == installed)
        return;
    m_isInstalled = installed;
    Q_EMIT isInstalledChanged(installed);
}

// Backends that grab keys ahead of time swallow exactly these; they must agree
// with the answers handle() gives.
void HotkeyMonitor::updateSwallowedKeys()
{
    QList<SwallowedKey> keys;
    if (!isPaused()) {
        if (m_shortcut.keyCode)
            keys.append({*m_shortcut.keyCode, Shortcut::kindsOf(m_shortcut.modifiers), false});
        if (m_capturesEscape)
            keys.append({StoredKeyCodes::escape, ModifierKeys(), true});
    }
    m_tap.setSwallowedKeys(keys);
}

bool HotkeyMonitor::handle(const KeyEvent& event)
{
    if (isPaused() || event.isPosted)
        return false;
    switch (event.type) {
    case KeyEvent::Type::keyDown:
        return handleKeyDown(event);
    case KeyEvent::Type::keyUp:
        return handleKeyUp(event);
    case KeyEvent::Type::modifiersChanged:
        handleModifiersChanged(event);
        return false;
    }
    return false;
}

bool HotkeyMonitor::handleKeyDown(const KeyEvent& event)
{
    // Escape cancels only where it can be kept from the app, which would
    // otherwise take it too (close a dialog, leave a mode).
    if (event.keyCode == StoredKeyCodes::escape && !event.isAutoRepeat && m_capturesEscape && m_tap.canSwallowKeys()) {
        report(Event::escape);
        return true;
    }
    if (m_shortcut.isModifierOnly()) {
        if (m_active) {
            m_active = false;
            report(Event::interrupted);
        }
        return false;
    }
    if (event.keyCode != *m_shortcut.keyCode)
        return false;
    if (event.isAutoRepeat)
        return m_active;
    if (!Shortcut::matches(event.held, event.keyCode, m_shortcut.modifiers))
        return false;
    m_active = true;
    report(Event::pressed);
    return true;
}

bool HotkeyMonitor::handleKeyUp(const KeyEvent& event)
{
    if (m_shortcut.isModifierOnly() || event.keyCode != *m_shortcut.keyCode || !m_active)
        return false;
    m_active = false;
    report(Event::released);
    return true;
}

void HotkeyMonitor::handleModifiersChanged(const KeyEvent& event)
{
    const ModifierKeys want = m_shortcut.modifiers;
    logger().debug(QStringLiteral("flagsChanged key=%1 flags=0x%2 held=%3 want=%4 active=%5")
                       .arg(event.keyCode)
                       .arg(event.platformFlags, 0, 16)
                       .arg(event.held.rawValue())
                       .arg(want.rawValue())
                       .arg(m_active ? QStringLiteral("true") : QStringLiteral("false")));
    if (!m_shortcut.isModifierOnly())
        return;
    if (!m_active) {
        if (event.held == want) {
            m_active = true;
            report(Event::pressed);
        }
        return;
    }
    if (event.held == want)
        return;
    m_active = false;
    report(event.held.without(want).isEmpty() ? Event::released : Event::interrupted);
}

void HotkeyMonitor::report(Event event)
{
    m_onEvent(event);
}
