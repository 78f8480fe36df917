#pragma once

#include "platform/KeystrokePoster.h"

#include <memory>

class PostedKeystrokes;
class XcbConnection;

// Posts keystrokes through XTest and records them in `posted`, which the
// keyboard tap consults to recognise them.
class X11KeystrokePoster final : public KeystrokePoster
{
public:
    explicit X11KeystrokePoster(PostedKeystrokes& posted);
    ~X11KeystrokePoster() override;

    bool postChord(ModifierKeys modifiers, quint16 keyCode) override;

private:
    bool connectIfNeeded();
    void post(uint8_t x11KeyCode, bool down);

    PostedKeystrokes& m_posted;
    std::unique_ptr<XcbConnection> m_connection;
};
