#pragma once

#include "platform/KeystrokePoster.h"
#include "platform/linux/X11Keymap.h"

#include <QElapsedTimer>

#include <xcb/xcb.h>

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class PostedKeystrokes;
class XcbConnection;

// Posts keystrokes through XTest and records them in `posted`, which the
// keyboard tap consults to recognise them. The paste chord's keys are found
// by the symbols they type in the layout the server has now: the layout is
// read once and again only after the server says it changed. Every modifier
// held at the moment of a chord is released first.
class X11KeystrokePoster final : public KeystrokePoster
{
public:
    explicit X11KeystrokePoster(PostedKeystrokes& posted);
    ~X11KeystrokePoster() override;

    bool postChord(ModifierKeys modifiers, quint16 keyCode) override;
    bool paste(PasteKeys keys) override;
    void preparePaste() override;
    bool postBlankKey() override;

    // Sends the paste keys on `connection`, the one that took the clipboard
    // for them, so that the server sees the two in order.
    void sendPasteKeysOn(std::shared_ptr<XcbConnection> connection);

private:
    bool connectIfNeeded();
    const Keymap& keymap();
    void post(xcb_connection_t* connection, uint8_t x11KeyCode, bool down);
    void releaseHeldModifiers(xcb_connection_t* connection, const std::vector<uint8_t>& modifierKeys);
    // The keys down now, or as preparePaste() asked them a moment ago.
    std::bitset<256> keysDown();
    // Presses `modifierKeys` in order, taps `key`, releases them in reverse.
    void tap(xcb_connection_t* connection, const std::vector<uint8_t>& modifierKeys, uint8_t key);

    PostedKeystrokes& m_posted;
    std::unique_ptr<XcbConnection> m_connection;
    std::shared_ptr<XcbConnection> m_pasteConnection; // none: m_connection
    std::optional<Keymap> m_keymap;
    struct KeysAsked
    {
        xcb_query_keymap_cookie_t cookie;
        QElapsedTimer since;
    };
    std::optional<KeysAsked> m_keysAsked;
};
