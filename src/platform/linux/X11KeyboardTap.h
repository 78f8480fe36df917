#pragma once

#include "platform/KeyboardTap.h"

#include <QSocketNotifier>

#include <bitset>
#include <memory>

class PostedKeystrokes;
class XcbConnection;

// The keyboard tap on X11. XInput2 raw key events on the root window report
// every key of every application with its key code, which tells left and
// right modifiers apart. Swallowing is done by XGrabKey on a second
// connection, because a client does not receive its own raw events while it
// holds an active grab. Keystrokes in `posted` are reported as this program's
// own. Losing the display connection disables the tap.
class X11KeyboardTap final : public KeyboardTap
{
    Q_OBJECT

public:
    explicit X11KeyboardTap(PostedKeystrokes& posted, QObject* parent = nullptr);
    ~X11KeyboardTap() override;

    // An X server answers and has XInput 2.2.
    bool hasKeyboardAccess() const override;
    bool install(Handler handler) override;
    void remove() override;
    bool isInstalled() const override { return m_monitor != nullptr; }
    void setSwallowedKeys(const QList<SwallowedKey>& keys) override;
    WindowKey windowKey(quint32 nativeScanCode, int qtKey) const override;
    ModifierKeys typingModifiers() const override;

private:
    void readMonitor();
    void readGrabber();
    void handleRawKey(bool down, uint8_t x11KeyCode);
    void applyGrabs(const QList<SwallowedKey>& keys);
    void ungrab(const QList<SwallowedKey>& keys);
    void lose();

    PostedKeystrokes& m_posted;
    Handler m_handler;
    std::unique_ptr<XcbConnection> m_monitor;
    std::unique_ptr<XcbConnection> m_grabber;
    std::unique_ptr<QSocketNotifier> m_monitorNotifier;
    std::unique_ptr<QSocketNotifier> m_grabberNotifier;
    uint8_t m_xinputOpcode = 0;
    std::bitset<256> m_down;
    QList<SwallowedKey> m_swallowed;
};
