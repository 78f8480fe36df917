#pragma once

#include <QStringView>

#include <algorithm>

// Whether a key can travel in a request header as it is: a line break would
// end the header early and turn the rest of the key into headers of its own.
inline bool isSendableKey(QStringView key)
{
    return std::none_of(key.begin(), key.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}
