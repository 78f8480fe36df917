#pragma once

#include "platform/Accessibility.h"

#include <chrono>

// Accessibility through AT-SPI (libatspi). AT-SPI has no call for the focused
// element: the application is found by its pid among those registered on the
// accessibility bus, and its tree is searched for the focused element, which
// must offer the text interface. Every call is bounded by kCallTimeout and the
// whole search by kSearchLimit, so a frozen application cannot hold up the
// main thread for long. Without an accessibility bus nothing is ever answered.
class AtspiAccessibility final : public Accessibility
{
public:
    static constexpr std::chrono::milliseconds kCallTimeout{250};
    static constexpr std::chrono::milliseconds kSearchLimit{600};

    std::optional<char32_t> characterBeforeCaret(qint32 pid) override;
    bool isPasswordFieldFocused(qint32 pid) override;
};
