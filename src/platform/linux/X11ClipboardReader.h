#pragma once

#include "platform/Clipboard.h"

#include <QStringView>

#include <chrono>

// Reads what another application holds on a selection (CLIPBOARD, PRIMARY) straight
// from the X server, on a connection of its own, with a deadline for each
// type and one for the whole read: an owner that does not answer costs at
// most that, and what was read in time is kept. Large contents arrive in
// pieces (INCR) within the same deadlines. Types are the selection's own
// target names ("UTF8_STRING", "image/png"), pseudo-targets left out. Blocks
// its caller, so it is meant for a thread of its own; it must never read a
// selection served by the calling thread, which could not answer while it
// waits.
class X11ClipboardReader
{
public:
    struct Limits
    {
        std::chrono::milliseconds perType{100};
        std::chrono::milliseconds whole{300};
    };

    static ClipboardContents read(const char* selectionName, Limits limits);

    // Whether a target is a request of the selection protocol (TARGETS,
    // MULTIPLE…) rather than a type of data.
    static bool isPseudoTarget(QStringView target);
};
