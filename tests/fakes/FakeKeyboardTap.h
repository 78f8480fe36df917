#pragma once

#include "platform/KeyboardTap.h"

// A keyboard tap driven by the test: press() and friends feed events to the
// installed handler and return its swallow answer.
class FakeKeyboardTap final : public KeyboardTap
{
    Q_OBJECT

public:
    bool keyboardAccess = true;
    bool creationFails = false;
    int installCount = 0;
    int refusedCount = 0; // installs refused because creationFails
    QList<SwallowedKey> swallowed;
    ModifierKeys typing; // the layout's typing modifiers
    // How keys of the program's own windows read; tests that record a
    // shortcut set the desktop's real mapping.
    std::function<WindowKey(quint32, int)> windowKeys = [](quint32, int) { return WindowKey{}; };

    bool swallows = true; // false: a tap that only reads
    bool hasKeyboardAccess() const override { return keyboardAccess; }
    bool canSwallowKeys() const override { return swallows; }
    bool install(Handler handler) override
    {
        if (creationFails) {
            ++refusedCount;
            return false;
        }
        ++installCount;
        m_handler = std::move(handler);
        return true;
    }
    void remove() override { m_handler = nullptr; }
    bool isInstalled() const override { return m_handler != nullptr; }
    void setSwallowedKeys(const QList<SwallowedKey>& keys) override { swallowed = keys; }
    WindowKey windowKey(quint32 nativeScanCode, int qtKey) const override { return windowKeys(nativeScanCode, qtKey); }
    ModifierKeys typingModifiers() const override { return typing; }

    // Switches the layout to one that types with `modifiers`.
    void switchLayout(ModifierKeys modifiers)
    {
        typing = modifiers;
        Q_EMIT layoutChanged();
    }

    // Feeds one event; answers whether the handler swallowed it.
    bool send(const KeyEvent& event) { return m_handler ? m_handler(event) : false; }

    bool keyDown(quint16 keyCode, ModifierKeys held = {}, bool autoRepeat = false, bool posted = false)
    {
        return send({KeyEvent::Type::keyDown, keyCode, held, 0, autoRepeat, posted});
    }
    bool keyUp(quint16 keyCode, ModifierKeys held = {}, bool posted = false)
    {
        return send({KeyEvent::Type::keyUp, keyCode, held, 0, false, posted});
    }
    bool modifiers(ModifierKeys held, quint16 keyCode = 0, bool posted = false)
    {
        return send({KeyEvent::Type::modifiersChanged, keyCode, held, 0, false, posted});
    }

    void loseHook()
    {
        m_handler = nullptr;
        Q_EMIT disabled();
    }

private:
    Handler m_handler;
};
